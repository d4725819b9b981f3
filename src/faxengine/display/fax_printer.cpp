// The print run: pages decoded one at a time, drawn into a temporary PDF with
// Qt's PDF output, handed on only when the run reached its end.
#include "fax_printer.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>
#include <QThread>
#include <QTime>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <fstream>

#include "apf_format.h"
#include "fe_errors.h"
#include "fe_exceptions.h"
#include "fe_fax_unpacker.h"
#include "fe_faxlog.h"
#include "print_submit.h"

namespace fe {

namespace {
// Pages longer than this print their first lines only (a page of any length
// stretched onto one sheet is unreadable beyond it anyway).
constexpr unsigned kMaxPrintLines = 65536;
constexpr unsigned kFaxLineWidth = 1728;
constexpr int kFaxDpi = 200;
std::atomic<bool> g_printPause{false};
}  // namespace

void SetPrintPause(bool on) {
  g_printPause = on;
}
bool PrintPauseEnabled() {
  return g_printPause;
}

void PausePrinting() {
  // Two timer ticks, with pending events handled meanwhile.
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 110) {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

QString PrintProgressText(int progress) {
  switch (progress) {
    case ppComposing:
      return QStringLiteral("Composing");
    case ppRendering:
      return QStringLiteral("Rendering");
    case ppSubmitting:
      return QStringLiteral("Submitting");
    case ppConverting:
      return QStringLiteral("Converting");
    default:
      return QStringLiteral("Idle");
  }
}

unsigned FaxPagesPerSheet(bool multiPage, bool landscape) {
  if (!multiPage) return 1;
  return landscape ? 2 : 4;
}

QRect FaxPageCell(const QRect& area, bool multiPage, bool landscape, unsigned indexOnSheet) {
  if (!multiPage) return area;
  const int halfW = area.width() / 2, halfH = area.height() / 2;
  QRect cell;
  if (landscape) {
    cell = QRect(area.left() + (indexOnSheet % 2) * halfW, area.top(), halfW, area.height());
  } else {
    const unsigned i = indexOnSheet % 4;
    cell = QRect(area.left() + int(i % 2) * halfW, area.top() + int(i / 2) * halfH, halfW, halfH);
  }
  return cell.adjusted(2, 2, -2, -2);
}

// ---- print log ------------------------------------------------------------------------

TFeFaxPrinterLog::TFeFaxPrinterLog(QObject* owner) : QObject(owner) {}

void TFeFaxPrinterLog::UpdateLog(int code, const std::string& faxFile) {
  if (LogFileName.empty()) return;
  static const char* const kWhat[] = {" started at ", " finished at ", " aborted at ", " failed at "};
  if (code < lcStart || code > lcFail) return;
  std::ofstream out(LogFileName, std::ios::app);
  if (!out) return;  // a log that cannot be written never stops the printout
  out << "Printing " << faxFile << kWhat[code] << FormatDateTime(std::time(nullptr)) << "\n";
  if (code != lcStart) out << "\n";
}

// ---- the printer ------------------------------------------------------------------------

TFeFaxPrinter::TFeFaxPrinter(QObject* owner) : QObject(owner), unpacker_(std::make_unique<TFeFaxUnpacker>()) {
  if (owner) {
    // Only the owner's own children: a window inside it has its own printer.
    FaxPrinterLog = owner->findChild<TFeFaxPrinterLog*>(QString(), Qt::FindDirectChildrenOnly);
    for (QObject* child : owner->children())
      if (auto* status = dynamic_cast<TFeAbstractFaxPrinterStatus*>(child)) {
        StatusDisplay = status;
        break;
      }
  }
}

TFeFaxPrinter::~TFeFaxPrinter() = default;

void TFeFaxPrinter::SetFileName(const std::string& name) {
  fileName_ = name;
  pageCount_ = firstPage_ = lastPage_ = 0;
  highRes_ = wide_ = false;
  if (name.empty()) return;
  unpacker_->InFileName = name;
  unsigned pages = 0;
  std::uint16_t flags = 0;
  if (unpacker_->DoNumPages(pages) < 0) return;
  if (pages > 0 && unpacker_->DoPageFlags(flags) == 0) {
    highRes_ = flags & pfHighRes;
    wide_ = flags & pfWide;
  }
  pageCount_ = pages;
  firstPage_ = pages ? 1 : 0;
  lastPage_ = pages;
}

void TFeFaxPrinter::SetPageRange(unsigned first, unsigned last) {
  firstPage_ = std::clamp(first, pageCount_ ? 1u : 0u, pageCount_);
  lastPage_ = std::min(last, pageCount_);
}

void TFeFaxPrinter::SetPrinter(QPrinter* printer) {
  external_ = printer;
}

QPrinter& TFeFaxPrinter::Printer() {
  if (external_) return *external_;
  if (!own_) own_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *own_;
}

bool TFeFaxPrinter::PrinterSetup(QWidget* parent) {
  QPrinter& printer = Printer();
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("Print"));
  dialog.setOptions(QAbstractPrintDialog::PrintPageRange | QAbstractPrintDialog::PrintToFile |
                    QAbstractPrintDialog::PrintShowPageSize);
  if (pageCount_ > 0) {
    dialog.setMinMax(1, int(pageCount_));
    printer.setFromTo(int(std::max(firstPage_, 1u)), int(std::max(lastPage_, 1u)));
    printer.setPrintRange(QPrinter::PageRange);
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0)
    SetPageRange(unsigned(printer.fromPage()), unsigned(printer.toPage()));
  else
    SetPageRange(1, pageCount_);
  // The range is ours: the sheets of a job never go through Qt's own page selection.
  printer.setPrintRange(QPrinter::AllPages);
  printer.setFromTo(0, 0);
  return true;
}

void TFeFaxPrinter::Print(QWidget* parent) {
  CheckFe(DoPrint(parent));
}

int TFeFaxPrinter::DoPrint(QWidget* parent) {
  if (printing_) return -ecBadArgument;
  QPrinter& printer = Printer();
  if (printer.outputFileName().isEmpty() && printer.printerName().isEmpty()) {
    // Nowhere chosen yet: the system's default queue, or else the print dialog,
    // whose file output gives a PDF on a machine without queues.
    const QPrinterInfo def = QPrinterInfo::defaultPrinter();
    if (!def.isNull()) {
      printer.setPrinterName(def.printerName());
    } else {
      QPrintDialog dialog(&printer, parent);
      dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
      if (dialog.exec() != QDialog::Accepted) return -ecCancelRequested;
      printer.setPrintRange(QPrinter::AllPages);
    }
  }
  return RunJob(printer);
}

int TFeFaxPrinter::PrintTo(const QString& queue, const QString& pdfPath) {
  if (printing_) return -ecBadArgument;
  QPrinter printer(QPrinter::HighResolution);
  if (!pdfPath.isEmpty()) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
  } else {
    const QPrinterInfo info = queue.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(queue);
    if (info.isNull()) return -ecDeviceWriteError;
    printer.setPrinterName(info.printerName());
  }
  return RunJob(printer);
}

void TFeFaxPrinter::Abort() {
  if (!printing_ || aborted_) return;
  aborted_ = true;
  unpacker_->Abort();
}

void TFeFaxPrinter::SetProgress(int progress) {
  progress_ = progress;
  if (OnFaxPrintStatus) OnFaxPrintStatus(*this, progress);
  if (StatusDisplay) StatusDisplay->PrintUpdate(*this);
}

void TFeFaxPrinter::Log(int code) {
  if (FaxPrinterLog) FaxPrinterLog->UpdateLog(code, fileName_);
  if (OnFaxPrintLog) OnFaxPrintLog(*this, code);
}

void TFeFaxPrinter::Yield() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

QString TFeFaxPrinter::ExpandTokens(const QString& caption, unsigned page) const {
  QString out;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] != u'$') {
      out += caption[i];
      continue;
    }
    // "$" and every character up to the next space form the token; its first
    // letter chooses what replaces it.
    qsizetype end = i + 1;
    while (end < caption.size() && caption[end] != u' ') ++end;
    const QChar key = i + 1 < caption.size() ? caption[i + 1].toUpper() : QChar();
    if (key == u'D')
      out += QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
    else if (key == u'T')
      out += QLocale().toString(QTime::currentTime(), QLocale::ShortFormat);
    else if (key == u'F')
      out += QString::fromStdString(fileName_);
    else if (key == u'N')
      out += QString::number(pageCount_);
    else if (key == u'P')
      out += QString::number(page);
    i = end - 1;
  }
  return out;
}

int TFeFaxPrinter::DecodePage(unsigned page, QImage& image) {
  std::vector<std::uint8_t> rows;
  unsigned bytes = 0, lines = 0;
  unpacker_->InFileName = fileName_;
  unpacker_->Options = uoYield | uoAbort;
  unpacker_->AutoScaleMode = asDoubleHeight;
  unpacker_->Scaling = false;
  unpacker_->WhitespaceCompression = false;
  unpacker_->OnOutputLine = [&](TFeFaxUnpacker&, bool starting, bool ending, const std::uint8_t* data, unsigned len,
                                unsigned) {
    if (starting || ending || lines >= kMaxPrintLines) return;
    if (bytes == 0) bytes = len;
    rows.insert(rows.end(), data, data + std::min(len, bytes));
    rows.resize(std::size_t(lines + 1) * bytes, 0);
    ++lines;
  };
  const int rc = unpacker_->DoUnpack(page, page);
  unpacker_->OnOutputLine = nullptr;
  if (rc < 0) return rc;
  if (bytes == 0) {  // a page without lines prints as a blank page of its width
    bytes = (wide_ ? 2048 : kFaxLineWidth) / 8;
    lines = 1;
    rows.assign(bytes, 0);
  }
  image = QImage(int(bytes * 8), int(lines), QImage::Format_Mono);
  if (image.isNull()) return -ecCantMakeBitmap;
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  for (unsigned y = 0; y < lines; ++y) std::memcpy(image.scanLine(int(y)), rows.data() + std::size_t(y) * bytes, bytes);
  return 0;
}

void TFeFaxPrinter::PrintPage(QPainter& painter, const QRect& cell, unsigned page, const QImage& image, int dpiX,
                              int dpiY) {
  SetProgress(ppComposing);

  painter.save();
  painter.setClipRect(cell);
  QRect area = cell;
  QPen pen(Qt::black);
  pen.setWidth(std::max(1, dpiY / 150));
  painter.setPen(pen);
  const qreal fontScale = MultiPage ? 0.5 : 1.0;
  auto marginFont = [&](const TFeFaxPrinterMargin& m) {
    QFont f(m.Font, painter.device());
    if (f.pointSizeF() > 0) f.setPointSizeF(f.pointSizeF() * fontScale);
    return f;
  };
  // The margins take their room first; their texts and rules are drawn after
  // the page image, so the image never hides a rule.
  struct MarginLine {
    QFont font;
    int baseline = 0, rule = 0;
    QString text;
  };
  std::vector<MarginLine> margins;
  if (FaxHeader.Enabled) {
    MarginLine m;
    m.font = marginFont(FaxHeader);
    const QFontMetrics fm(m.font, painter.device());
    m.baseline = area.top() + fm.ascent();
    m.rule = area.top() + fm.height() + 2;
    m.text = ExpandTokens(FaxHeader.Caption, page);
    area.setTop(m.rule + pen.width() + 1);
    margins.push_back(m);
  }
  if (FaxFooter.Enabled) {
    MarginLine m;
    m.font = marginFont(FaxFooter);
    const QFontMetrics fm(m.font, painter.device());
    m.baseline = area.bottom() - fm.descent();
    m.rule = area.bottom() - fm.height() - 2;
    m.text = ExpandTokens(FaxFooter.Caption, page);
    area.setBottom(m.rule - pen.width() - 1);
    margins.push_back(m);
  }

  const int bw = image.width(), bh = image.height();
  QRect target, source(0, 0, bw, bh);
  if (PrintScale == psFitToPage && (Rotation & 1)) {
    QSize size(bw, bh);
    size.scale(area.width() * 93 / 100, area.height(), Qt::KeepAspectRatio);
    target = QRect(area.topLeft(), size);
  } else if (PrintScale == psFitToPage) {
    // The width is 93% of the area's; a standard 1728-pixel page fills the
    // area's height, a wider page keeps the same scale and so less of the height.
    const int w = area.width() * 93 / 100;
    const qint64 h = bw <= int(kFaxLineWidth) ? qint64(area.height()) * bw / kFaxLineWidth
                                              : qint64(area.height()) * kFaxLineWidth / bw;
    target = QRect(area.topLeft(), QSize(w, int(h)));
  } else {
    // The fax's own resolution: 200 fax pixels per inch, cut to the area.
    qint64 w = qint64(bw) * dpiX / kFaxDpi, h = qint64(bh) * dpiY / kFaxDpi;
    if (w > area.width()) {
      source.setWidth(int(qint64(bw) * area.width() / w));
      w = area.width();
    }
    if (h > area.height()) {
      source.setHeight(int(qint64(bh) * area.height() / h));
      h = area.height();
    }
    target = QRect(area.topLeft(), QSize(int(w), int(h)));
  }
  SetProgress(ppRendering);
  const bool pause = PrintPauseEnabled();
  if (pause) PausePrinting();
  if (target.width() > 0 && target.height() > 0 && source.height() > 0) painter.drawImage(target, image, source);
  if (pause) PausePrinting();
  for (const MarginLine& m : margins) {
    painter.setFont(m.font);
    painter.drawText(cell.left(), m.baseline, m.text);
    painter.drawLine(cell.left(), m.rule, cell.right(), m.rule);
  }
  SetProgress(ppSubmitting);
  painter.restore();
}

int TFeFaxPrinter::RunJob(QPrinter& target) {
  if (fileName_.empty()) return -ecFileNotFound;
  if (pageCount_ == 0 || firstPage_ == 0 || firstPage_ > lastPage_) return -ecBadArgument;

  // Where the finished job goes: a file, or a CUPS queue through a temporary file.
  const QString outFile = target.outputFileName();
  const QString queue = target.printerName();
  if (outFile.isEmpty() && queue.isEmpty()) return -ecDeviceWriteError;
  QTemporaryFile temp(outFile.isEmpty() ? QDir::temp().filePath(QStringLiteral("qnprint-XXXXXX.pdf"))
                                        : outFile + QStringLiteral(".XXXXXX"));
  if (!temp.open()) return -ecDeviceWriteError;
  temp.close();

  QPrinter job(QPrinter::HighResolution);
  job.setOutputFormat(QPrinter::PdfFormat);
  job.setOutputFileName(temp.fileName());
  job.setResolution(target.resolution());
  job.setPageLayout(target.pageLayout());
  job.setFullPage(target.fullPage());
  job.setDocName(Caption);
  job.setCreator(QStringLiteral("Quillon"));

  printing_ = true;
  aborted_ = false;
  currentPage_ = 0;
  Log(lcStart);
  if (StatusDisplay) StatusDisplay->PrintStart(*this);
  SetProgress(ppIdle);

  int rc = 0;
  unsigned printed = 0;
  QPainter painter;
  if (!painter.begin(&job)) {
    rc = -ecDeviceWriteError;
  } else {
    const bool landscape = job.pageLayout().orientation() == QPageLayout::Landscape;
    const unsigned perSheet = FaxPagesPerSheet(MultiPage, landscape);
    const QRectF printable = job.pageRect(QPrinter::DevicePixel);
    const QRect area(0, 0, int(printable.width()), int(printable.height()));
    for (unsigned page = firstPage_; page <= lastPage_; ++page) {
      Yield();
      if (aborted_) break;
      currentPage_ = page;
      if (StatusDisplay) StatusDisplay->PrintUpdate(*this);
      if (OnNextPage) OnNextPage(*this, page, pageCount_);
      if (aborted_) break;
      SetProgress(ppConverting);
      QImage image;
      rc = DecodePage(page, image);
      if (aborted_ || rc < 0) break;
      if (Rotation & 3) {
        image = image.transformed(QTransform().rotate(90.0 * (Rotation & 3)));
        if (image.format() != QImage::Format_Mono) image = image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
      }
      // A new sheet only for a page that decoded: a failing page leaves no blank sheet.
      const unsigned index = (page - firstPage_) % perSheet;
      if (page != firstPage_ && index == 0) job.newPage();
      PrintPage(painter, FaxPageCell(area, MultiPage, landscape, index), page, image, job.logicalDpiX(),
                job.logicalDpiY());
      ++printed;
    }
    painter.end();
  }

  if (aborted_) {
    rc = -ecCancelRequested;
  } else if (printed > 0) {
    SetProgress(ppSubmitting);
    int handed = 0;
    if (!outFile.isEmpty()) {
      QFile::remove(outFile);
      handed = temp.rename(outFile) ? 0 : -ecDeviceWriteError;
      if (handed == 0) temp.setAutoRemove(false);  // the file now has the output's name
    } else {
      handed = SubmitToQueue(queue, temp.fileName(), Caption, target);
    }
    if (rc == 0) rc = handed;
  }
  Log(aborted_ ? lcAbort : rc < 0 ? lcFail : lcFinish);
  printing_ = false;
  progress_ = ppIdle;
  if (StatusDisplay) StatusDisplay->PrintEnd(*this);
  return rc;
}

}  // namespace fe
