// The Fax Viewer window and the "&View/Print Fax" command, driven as a user would:
// zoom steps and their beeps, the page buttons, the status line, exports read
// back by ImageMagick, damaged files, the printing seam, and viewing an outgoing
// fax whose cover and body are joined into a temporary file.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <fstream>
#include <set>

#include "apf_format.h"
#include "common/fax_files.h"
#include "common/folders.h"
#include "common/print_options.h"
#include "fax_printer.h"
#include "fax_samples.h"
#include "print_test_support.h"
#include "viewing/fax_printing.h"
#include "viewing/pre_print_form.h"
#include "viewing/viewer_printing.h"
#include "fe_fax_unpacker.h"
#include "fe_fax_viewer.h"
#include "modal_script.h"
#include "records/record_tables.h"
#include "viewing/fax_viewer_window.h"
#include "viewing/view_command.h"
#include "viewing/viewer_seam.h"

using namespace qn;

namespace {

// A P4 image as ImageMagick writes it.
QImage ReadPbm(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray all = f.readAll();
  int pos = 0, fields[3] = {0, 0, 0}, got = 0;
  auto skip = [&] {
    while (pos < all.size()) {
      if (all[pos] == '#')
        while (pos < all.size() && all[pos] != '\n') ++pos;
      else if (QChar(all[pos]).isSpace())
        ++pos;
      else
        break;
    }
  };
  skip();
  if (all.mid(pos, 2) != "P4") return {};
  pos += 2;
  while (got < 2) {
    skip();
    int v = 0;
    while (pos < all.size() && QChar(all[pos]).isDigit()) v = v * 10 + (all[pos++] - '0');
    fields[got++] = v;
  }
  ++pos;  // the one white-space character before the bits
  QImage image(fields[0], fields[1], QImage::Format_Mono);
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  const int stride = (fields[0] + 7) / 8;
  if (all.size() - pos < qsizetype(stride) * fields[1]) return {};
  for (int y = 0; y < fields[1]; ++y) std::memcpy(image.scanLine(y), all.constData() + pos + y * stride, stride);
  return image;
}

bool SamePixels(const QImage& a, const QImage& b) {
  if (a.isNull() || a.size() != b.size()) return false;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  for (int r = 0; r < x.height(); ++r)
    if (std::memcmp(x.constScanLine(r), y.constScanLine(r), std::size_t(x.width()) * 4) != 0) return false;
  return true;
}

}  // namespace

class ViewerWindowTest : public QObject {
  Q_OBJECT
  QString home_;
  std::string File(const char* name) const { return (home_ + QLatin1String(name)).toStdString(); }

  // Shows the window and waits until the file is loaded (first activation).
  std::unique_ptr<TFaxViewer> Open(const std::string& file, const QString& prefix = QStringLiteral("Fax printout"),
                                   QSize size = QSize(820, 640)) {
    auto w = std::make_unique<TFaxViewer>();
    w->resize(size);
    w->SetFile(QString::fromStdString(file), prefix, QStringLiteral("To: Someone"));
    w->show();
    QTest::qWait(30);
    return w;
  }

 private slots:
  void initTestCase() {
    home_ = qntest::FreshHome(QStringLiteral("viewer-window"));
    ResetProgramFolder();
    QVERIFY(QDir().mkpath(home_ + "SEND") && QDir().mkpath(home_ + "Receive"));
    std::vector<qntest::SamplePage> five;
    for (unsigned n = 1; n <= 5; ++n) five.push_back(qntest::TextLikePage(1728, 1000 + 200 * n, n));
    QCOMPARE(qntest::WriteFax(File("fine5.apf"), five, fe::pfHighRes), 0);
    QCOMPARE(qntest::WriteFax(File("fine1.apf"), {qntest::TextLikePage(1728, 2200, 11)}, fe::pfHighRes), 0);
    std::ofstream(File("bad.apf"), std::ios::binary) << "APF11\x1a" << std::string(100, '\0');
    QCOMPARE(qntest::WriteFax(File("std1.apf"), {qntest::TextLikePage(1728, 1100, 12)}, 0), 0);
    QCOMPARE(qntest::WriteFax(File("std2.apf"),
                              {qntest::TextLikePage(1728, 1100, 13), qntest::TextLikePage(1728, 900, 14)}, 0),
             0);
  }

  // Zoom: "Zoom in" and "Zoom out" step through 25, 50, 75, 100 and beep at the
  // ends; the level shown always matches the ticked item, also for a
  // standard-resolution fax.
  void zoomStepsAndBeeps() {
    auto w = Open(File("fine1.apf"));
    int beeps = 0;
    w->OnBeep = [&] { ++beeps; };
    w->ZoomItems[1]->trigger();  // "100%"
    QCOMPARE(w->ZoomLevel(), 50);
    QVERIFY(w->ZoomItems[1]->isChecked());
    QCOMPARE(w->FaxViewer->DisplayWidth(), 864);
    w->ZoomInButton->click();
    QCOMPARE(w->ZoomLevel(), 75);
    QCOMPARE(w->FaxViewer->DisplayWidth(), 1296);
    w->ZoomInButton->click();
    QCOMPARE(w->FaxViewer->DisplayWidth(), 1728);
    QVERIFY(!w->FaxViewer->Scaling());
    QVERIFY(w->ZoomItems[3]->isChecked());
    w->ZoomInButton->click();
    QCOMPARE(beeps, 1);
    QCOMPARE(w->ZoomLevel(), 100);
    for (int i = 0; i < 3; ++i) w->ZoomOutButton->click();
    QCOMPARE(w->ZoomLevel(), 25);
    QCOMPARE(w->FaxViewer->DisplayWidth(), 432);
    QCOMPARE(beeps, 1);
    w->ZoomOutButton->click();
    QCOMPARE(beeps, 2);
    w->ZoomItems[2]->trigger();  // "150%"
    QCOMPARE(w->ZoomLevel(), 75);
    QVERIFY(w->ZoomItems[2]->isChecked() && !w->ZoomItems[0]->isChecked());

    // Standard resolution: "100%" is half the lines doubled, and zooming in enlarges.
    auto s = Open(File("std1.apf"));
    s->ZoomItems[1]->trigger();
    QCOMPARE(s->ZoomLevel(), 50);
    QCOMPARE(s->FaxViewer->DisplayWidth(), 864);
    QCOMPARE(s->FaxViewer->DisplayHeight(), 1100);
    s->ZoomIn();
    QCOMPARE(s->FaxViewer->DisplayWidth(), 1296);
  }

  // A fax opens fitted to the window's width with the page focused, so Page Down
  // turns the page at once; "+", "-" and Ctrl+0 zoom from the keyboard; a window
  // made wider fits the page again.
  void opensFittedWithKeysAtOnce() {
    auto w = Open(File("fine5.apf"));
    QTRY_VERIFY(w->FaxViewer->PageCount() == 5);
    const int area = w->FaxViewer->viewport()->width();
    QCOMPARE(w->ZoomLevel(), TFaxViewer::kFitWidth);
    QVERIFY(w->FitWidthItem->isChecked());
    QVERIFY2(w->FaxViewer->DisplayWidth() <= area && w->FaxViewer->DisplayWidth() > area - 40,
             qPrintable(QStringLiteral("%1 in %2").arg(w->FaxViewer->DisplayWidth()).arg(area)));
    QCOMPARE(w->FaxViewer->horizontalScrollBar()->maximum(), 0);  // nothing to scroll sideways
    QVERIFY(w->FaxViewer->hasFocus());
    QTest::keyClick(w->windowHandle(), Qt::Key_PageDown);
    QCOMPARE(w->FaxViewer->CurrentPage(), 2u);
    QTest::keyClick(w->windowHandle(), Qt::Key_PageUp);
    QCOMPARE(w->FaxViewer->CurrentPage(), 1u);

    QTest::keyClick(w->windowHandle(), Qt::Key_Plus);
    QCOMPARE(w->ZoomLevel(), 50);  // the next level above the fitted scale
    QCOMPARE(w->FaxViewer->DisplayWidth(), 864);
    QTest::keyClick(w->windowHandle(), Qt::Key_Plus);
    QCOMPARE(w->ZoomLevel(), 75);
    QTest::keyClick(w->windowHandle(), Qt::Key_Minus);
    QTest::keyClick(w->windowHandle(), Qt::Key_Minus);
    QCOMPARE(w->ZoomLevel(), 25);
    QVERIFY(w->ZoomItems[0]->isChecked() && !w->FitWidthItem->isChecked());
    QTest::keyClick(w->windowHandle(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(w->ZoomLevel(), TFaxViewer::kFitWidth);
    QTest::keyClick(w->windowHandle(), Qt::Key_Minus);
    QCOMPARE(w->ZoomLevel(), 25);  // the next level below

    QTest::keyClick(w->windowHandle(), Qt::Key_0, Qt::ControlModifier);
    const int before = w->FaxViewer->DisplayWidth();
    w->resize(1100, 640);
    QTRY_VERIFY(w->FaxViewer->DisplayWidth() > before + 200);
    QVERIFY(w->FaxViewer->DisplayWidth() <= w->FaxViewer->viewport()->width());
  }

  // Below the fax's own size the page is painted in grey levels averaged over
  // the pixels each screen pixel covers (thin strokes stay visible as grey
  // instead of turning into solid blocks); at full size it stays black and white.
  void reducedPagesArePaintedInGrey() {
    auto w = Open(File("fine1.apf"));
    QTRY_VERIFY(w->FaxViewer->PageCount() == 1);
    auto shades = [&w] {
      QCoreApplication::processEvents();
      const QImage shot = w->FaxViewer->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
      std::set<int> levels;
      for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
          const QRgb p = shot.pixel(x, y);
          if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) levels.insert(qRed(p));
        }
      return levels;
    };
    w->ZoomItems[0]->trigger();  // "50%": a quarter of the fax's pixels each way
    const std::set<int> reduced = shades();
    QVERIFY2(reduced.size() > 8, qPrintable(QString::number(reduced.size())));
    w->ZoomItems[3]->trigger();  // "200%": the fax's own pixels
    const std::set<int> full = shades();
    QVERIFY2(full.size() <= 3, qPrintable(QString::number(full.size())));  // ink, paper, the window around
    // The one-bit page (marks, copies) is unchanged by the grey painting.
    w->ZoomItems[0]->trigger();
    QCOMPARE(w->FaxViewer->DisplayImage().format(), QImage::Format_Mono);
  }

  // "Print current page" prints the page turned as the viewer shows it: a page
  // whose top tenth is black prints, turned a quarter clockwise, with that band
  // down the right side, tall and narrow, on an upright sheet.
  void printingFollowsTheRotation() {
    const std::string fax = File("tenths.apf");
    QVERIFY(qntest::MakeFax(fax, 1, qntest::kTenthsLines, qntest::TopTenths));
    InstallViewerPrinting();
    auto w = Open(fax);
    QTRY_VERIFY(w->FaxViewer->PageCount() == 1);
    fe::TFeFaxPrinter* printer = MakeViewerFaxPrinter(w.get());
    SharedPrintOptions() = PrintOptions{false, false, false, true};  // one per sheet, no header or footer, stretched
    SavePrintOptions();
    QPrinter out(QPrinter::HighResolution);
    const QString pdf = home_ + QStringLiteral("turned.pdf");
    out.setOutputFormat(QPrinter::PdfFormat);
    out.setOutputFileName(pdf);
    out.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                                  QPageLayout::Millimeter));
    printer->SetPrinter(&out);
    auto band = [&](int quarterTurns) {
      w->SetRotation(quarterTurns);
      qntest::ModalScript script;
      script.Then([](QWidget* d) {
        if (auto* form = qobject_cast<TPrePrintForm*>(d)) form->OkButton->click();
        else d->close();
      });
      QFile::remove(pdf);
      ViewerPrinting().PrintCurrentPage(*w);
      const auto sheets = qntest::RasterisePdf(pdf);
      return sheets.size() == 1 ? qntest::BlackBox(sheets[0]) : QRect();
    };
    const QRect upright = band(0);
    QVERIFY2(upright.width() > 3 * upright.height(), qPrintable(QStringLiteral("%1x%2").arg(upright.width()).arg(upright.height())));
    const QRect turned = band(1);
    QVERIFY2(turned.height() > 3 * turned.width(), qPrintable(QStringLiteral("%1x%2").arg(turned.width()).arg(turned.height())));
    QVERIFY(turned.left() > upright.center().x());  // the page's top is now at its right
    ViewerPrinting() = {};
  }

  // Page buttons only for a fax of several pages; the status line follows every
  // page change, with and without a prefix; rotation items tick one at a time.
  void pageButtonsStatusAndRotation() {
    auto one = Open(File("fine1.apf"), QString());
    QCOMPARE(one->StatusPanel->text(), QStringLiteral("Page 1 of 1"));
    for (QPushButton* b : {one->FirstPageButton, one->PrevPageButton, one->NextPageButton, one->LastPageButton})
      QVERIFY(!b->isVisible());

    auto w = Open(File("fine5.apf"));
    for (QPushButton* b : {w->FirstPageButton, w->PrevPageButton, w->NextPageButton, w->LastPageButton})
      QVERIFY(b->isVisible());
    QCOMPARE(w->StatusPanel->text(), QStringLiteral("Fax printout: Page 1 of 5"));
    w->NextPageButton->click();
    QCOMPARE(w->StatusPanel->text(), QStringLiteral("Fax printout: Page 2 of 5"));
    w->LastPageButton->click();
    QCOMPARE(w->StatusPanel->text(), QStringLiteral("Fax printout: Page 5 of 5"));
    w->NextPageButton->click();
    QCOMPARE(w->CurrentPage(), 5u);
    w->PrevPageButton->click();
    w->FirstPageButton->click();
    QCOMPARE(w->StatusPanel->text(), QStringLiteral("Fax printout: Page 1 of 5"));
    QTest::keyClick(w->FaxViewer, Qt::Key_PageDown);
    QCOMPARE(w->StatusPanel->text(), QStringLiteral("Fax printout: Page 2 of 5"));

    QVERIFY(w->RotationItems[0]->isChecked());
    const int width = w->FaxViewer->DisplayWidth(), height = w->FaxViewer->DisplayHeight();
    w->RotationItems[1]->trigger();
    QCOMPARE(w->FaxViewer->Rotation(), 1);
    QCOMPARE(w->FaxViewer->DisplayWidth(), height);
    QCOMPARE(w->FaxViewer->DisplayHeight(), width);
    QVERIFY(w->RotationItems[1]->isChecked() && !w->RotationItems[0]->isChecked());
    w->RotationItems[0]->trigger();
    QCOMPARE(w->FaxViewer->DisplayWidth(), width);

    // Ctrl+C copies the marked part as a picture, in page pixels (the page is shown at half size).
    w->ZoomItems[1]->trigger();
    QApplication::clipboard()->clear();
    w->FaxViewer->SelectRect(QRect(40, 30, 120, 80));
    QTest::keyClick(w->FaxViewer, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->image().size(), QSize(240, 160));
  }

  // Export writes the current page; ImageMagick reads each format back to the
  // raster the viewer shows unscaled. ImageMagick 6 reads one-bit PCX (and so DCX)
  // with 1 as black whatever the palette, where the format's own convention (and
  // netpbm, which follows the palette) has 1 as white: its PCX raster is compared
  // inverted, and netpbm's the right way round.
  void exportReadBackByImageMagick() {
    for (const char* file : {"fine5.apf", "std2.apf"}) {
      auto w = Open(File(file));
      w->NextPageButton->click();
      const QImage page = w->FaxViewer->PageBitmap(2);
      QImage inverted = page.copy();
      inverted.invertPixels();
      for (const char* format : {"BMP", "PCX", "DCX"}) {
        const QString out = home_ + QStringLiteral("export.") + QLatin1String(format);
        QFile::remove(out);
        QVERIFY(w->ExportPageTo(QLatin1String(format), out));
        const QString pbm = home_ + QStringLiteral("back.pbm");
        QFile::remove(pbm);
        QCOMPARE(std::system(qPrintable(QStringLiteral("convert '%1' -depth 1 pbm:'%2' 2>/dev/null").arg(out, pbm))),
                 0);
        const bool bmp = QLatin1String(format) == QLatin1String("BMP");
        QVERIFY2(SamePixels(ReadPbm(pbm), bmp ? page : inverted),
                 qPrintable(QStringLiteral("%1 %2").arg(file, format)));
        if (QLatin1String(format) == QLatin1String("PCX")) {
          QFile::remove(pbm);
          QCOMPARE(std::system(qPrintable(QStringLiteral("pcxtoppm '%1' | ppmtopgm | pgmtopbm -threshold "
                                                         "> '%2' 2>/dev/null")
                                              .arg(out, pbm))),
                   0);
          QVERIFY2(SamePixels(ReadPbm(pbm), page), qPrintable(QStringLiteral("%1 PCX via netpbm").arg(file)));
        }
      }
    }

    // The whole fax as PDF and as TIFF: every page, read back by poppler and
    // libtiff's tools at the page's resolution, is the raster of the page.
    for (const char* file : {"fine5.apf", "std2.apf"}) {
      auto w = Open(File(file));
      const unsigned pages = w->PageCount();
      fe::TFeFaxUnpacker u;
      u.InFileName = File(file);
      u.AutoScaleMode = fe::asNone;
      const QString pdf = home_ + QStringLiteral("all.PDF"), tif = home_ + QStringLiteral("all.TIF");
      QVERIFY(w->ExportPageTo(QStringLiteral("PDF"), pdf));
      QVERIFY(w->ExportPageTo(QStringLiteral("TIF"), tif));
      for (unsigned n = 1; n <= pages; ++n) {
        const QImage page = *u.UnpackPageToBitmap(n);
        const int dpiY = u.PageResolution() == fe::frHigh ? 196 : 98;
        const QString pbm = home_ + QStringLiteral("p");
        QFile::remove(pbm + QStringLiteral(".pbm"));
        QCOMPARE(std::system(qPrintable(QStringLiteral("pdftoppm -mono -aa no -aaVector no -rx 204 -ry %1 -f %2 -l %2 "
                                                       "-singlefile '%3' '%4' 2>/dev/null")
                                            .arg(dpiY)
                                            .arg(n)
                                            .arg(pdf, pbm))),
                 0);
        QVERIFY2(SamePixels(ReadPbm(pbm + QStringLiteral(".pbm")), page),
                 qPrintable(QStringLiteral("%1 pdf").arg(file)));
        QFile::remove(pbm + QStringLiteral(".pbm"));
        QCOMPARE(std::system(qPrintable(QStringLiteral("tiffcp -c none '%1,%2' '%3.tif' && tifftopnm '%3.tif' > "
                                                       "'%3.pbm' 2>/dev/null")
                                            .arg(tif)
                                            .arg(n - 1)
                                            .arg(pbm))),
                 0);
        QVERIFY2(SamePixels(ReadPbm(pbm + QStringLiteral(".pbm")), page),
                 qPrintable(QStringLiteral("%1 tif").arg(file)));
        QFile::remove(pbm + QStringLiteral(".tif"));
      }
    }

    // Through the menu: the save dialog offers "*.PCX" and the page is written.
    auto w = Open(File("fine5.apf"));
    const QString out = home_ + QStringLiteral("menu.PCX");
    QFile::remove(out);
    qntest::ModalScript script;
    QString offered;
    script.Then([&](QWidget* d) {
      auto* dialog = qobject_cast<QFileDialog*>(d);
      QVERIFY(dialog);
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      offered = name->text();
      name->setText(out);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    w->ExportItems[1]->trigger();
    QVERIFY(script.Done());
    QCOMPARE(offered, QStringLiteral("*.PCX"));
    QVERIFY(QFile::exists(out));
  }

  // Bad files: the window reports them and stays usable.
  void badFiles() {
    {
      qntest::ModalScript script;
      script.Answer(QMessageBox::Ok);
      auto w = Open(File("nothere.apf"));
      QTRY_VERIFY(script.Done());
      QCOMPARE(script.seen().at(0).text, QStringLiteral("Error opening fax file"));
      QCOMPARE(w->StatusPanel->text(), QStringLiteral("No file loaded"));
      QVERIFY(!w->NextPageButton->isVisible());
      w->ZoomIn();  // nothing loaded: no failure
      w->SetRotation(2);
      w->ExportPage(QStringLiteral("BMP"));  // nothing to export: no dialog
    }
    // A truncated fax: page 1 shows, the viewer's error code is reported once.
    std::ifstream in(File("fine5.apf"), std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    bytes.resize(bytes.size() / 3);
    std::ofstream(File("cut.apf"), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    qntest::ModalScript script;
    script.Answer(QMessageBox::Ok);
    auto w = Open(File("cut.apf"));
    QTRY_VERIFY(script.Done());
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Viewer error 100"));
    QVERIFY(w->PageCount() >= 1 && w->PageCount() < 5);
    QVERIFY(w->StatusPanel->text().startsWith(QStringLiteral("Fax printout: Page 1 of ")));
  }

  // A fax dropped on the page replaces the one shown (status, page buttons and the
  // file printing uses follow); a dropped file that is no fax leaves it alone.
  void droppedFiles() {
    auto w = Open(File("fine5.apf"));
    auto drop = [&](const std::string& file) {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
      QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(w->FaxViewer->viewport(), &enter);
      QDropEvent event(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(w->FaxViewer->viewport(), &event);
    };
    drop(File("std1.apf"));
    QCOMPARE(w->FileName(), QString::fromStdString(File("std1.apf")));
    QCOMPARE(w->StatusPanel->text(), QStringLiteral("Fax printout: Page 1 of 1"));
    QVERIFY(!w->NextPageButton->isVisible());
    qntest::ModalScript script;
    script.Answer(QMessageBox::Ok);
    drop(File("bad.apf"));
    QTRY_VERIFY(script.Done());
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Viewer error 8001"));
    QCOMPARE(w->FileName(), QString::fromStdString(File("std1.apf")));
  }

  // The printing buttons are disabled until the printing side fills the seam, and
  // then hand it the window with its file and pages.
  void printingSeam() {
    ViewerPrinting() = {};
    {
      auto w = Open(File("fine5.apf"));
      QVERIFY(!w->PrintButton->isEnabled() && !w->PrintPageButton->isEnabled() && !w->PrinterSetupButton->isEnabled());
    }
    std::vector<std::pair<QString, unsigned>> calls;
    ViewerPrinting().Print = [&](TFaxViewer& v) { calls.push_back({v.FileName(), v.PageCount()}); };
    ViewerPrinting().PrintCurrentPage = [&](TFaxViewer& v) { calls.push_back({v.HeadingText(), v.CurrentPage()}); };
    ViewerPrinting().PrinterSetup = [&](TFaxViewer& v) { calls.push_back({v.StatusPrefix(), 0}); };
    auto w = Open(File("fine5.apf"));
    QVERIFY(w->PrintButton->isEnabled() && w->PrintPageButton->isEnabled() && w->PrinterSetupButton->isEnabled());
    w->NextPageButton->click();
    w->PrintButton->click();
    w->PrintPageButton->click();
    w->PrinterSetupButton->click();
    QCOMPARE(calls.size(), 3u);
    QCOMPARE(calls[0], std::make_pair(QString::fromStdString(File("fine5.apf")), 5u));
    QCOMPARE(calls[1], std::make_pair(QStringLiteral("To: Someone"), 2u));
    QCOMPARE(calls[2], std::make_pair(QStringLiteral("Fax printout"), 0u));
    ViewerPrinting() = {};
  }

  // Joining: either input with a wrong signature fails; the page count is the sum;
  // pages of different resolution keep their own.
  void appendFaxFile() {
    const std::string joined = File("joined.apf");
    QVERIFY(AppendFaxFile(joined, File("fine5.apf"), File("std2.apf")));
    auto w = Open(joined);
    QCOMPARE(w->PageCount(), 7u);
    w->FaxViewer->GotoPage(6);
    QVERIFY(!(w->FaxViewer->PageFlags() & fe::pfHighRes));
    {
      fe::TFeFaxViewer other;
      other.SetFileName(File("std2.apf"));
      QVERIFY(SamePixels(w->FaxViewer->PageBitmap(7), other.PageBitmap(2)));
      other.SetFileName(File("fine5.apf"));
      QVERIFY(SamePixels(w->FaxViewer->PageBitmap(5), other.PageBitmap(5)));
    }
    QVERIFY(IsFineFaxFile(joined));
    QVERIFY(!SameFaxResolution(File("fine5.apf"), File("std2.apf")));

    QFile::remove(QString::fromStdString(joined));
    QVERIFY(!AppendFaxFile(joined, File("bad.apf"), File("fine1.apf")));
    QVERIFY(!AppendFaxFile(joined, File("fine1.apf"), File("bad.apf")));
    QVERIFY(!AppendFaxFile(joined, File("fine1.apf"), File("absent.apf")));
    QVERIFY(!QFile::exists(QString::fromStdString(joined)));
  }

  // "&View/Print Fax" on an outgoing fax with cover and body: one document of the
  // summed pages in a temporary file that is gone after the viewer closes; a
  // received fax opens its own file; a record without files is refused.
  void viewCommand() {
    QVERIFY(records::MakeFaxDBF(home_.toStdString()) && records::MakeRecFaxDBF(home_.toStdString()));
    xb::Table fax, rec;
    QVERIFY(records::OpenFaxDBF(fax, home_.toStdString(), ""));
    QVERIFY(records::OpenRecFaxDBF(rec, home_.toStdString()));
    QVERIFY(QFile::copy(QString::fromStdString(File("fine1.apf")), home_ + "SEND/COV00000.APF"));
    QVERIFY(QFile::copy(QString::fromStdString(File("std2.apf")), home_ + "SEND/FAX00000.APF"));
    QVERIFY(QFile::copy(QString::fromStdString(File("fine5.apf")), home_ + "Receive/REC00000.APF"));
    fax.appendBlank();
    fax.setString("RECIPIENT", "Harbour Supplies");
    fax.setString("FAXCOVER", "COV00000.APF");
    fax.setString("FAXDOC", "fax00000.apf");  // any letter case
    QCOMPARE(fax.post(), 0);
    rec.appendBlank();
    rec.setString("FROM", "  +1 555 0100  ");
    rec.setString("FAXFILE", "REC00000.APF");
    QCOMPARE(rec.post(), 0);

    QMainWindow main;
    main.show();
    struct Seen {
      QString file, status, heading, mainStatus, title;
      unsigned pages = 0;
      bool fileExists = false;
    } seen;
    auto look = [&](QWidget* wnd) {
      auto* v = qobject_cast<TFaxViewer*>(wnd);
      QVERIFY(v);
      QTRY_VERIFY(v->PageCount() > 0);
      seen = {v->FileName(),    v->StatusPanel->text(), v->HeadingText(), main.statusBar()->currentMessage(),
              v->windowTitle(), v->PageCount(),       QFile::exists(v->FileName())};
      v->CloseButton->click();
    };
    {
      qntest::ModalScript script;
      script.Then(look);
      ViewFaxCommand(&main, fax, true);
      QVERIFY(script.Done());
    }
    QCOMPARE(seen.pages, 3u);
    QVERIFY(seen.fileExists);
    QVERIFY(QFileInfo(seen.file).fileName().startsWith(QStringLiteral("Temp")));
    QVERIFY(!QFile::exists(seen.file));
    QCOMPARE(seen.status, QStringLiteral("Fax printout: Page 1 of 3"));
    // "Loading viewer..." is gone once the viewer is up; the title names the fax.
    QVERIFY2(seen.mainStatus.isEmpty(), qPrintable(seen.mainStatus));
    QVERIFY2(seen.title.startsWith(QStringLiteral("Fax Viewer - To: Harbour Supplies \u2014 Sent: ")), qPrintable(seen.title));
    QVERIFY(seen.heading.startsWith(QStringLiteral("To: Harbour Supplies             Sent: ")));
    QVERIFY(main.statusBar()->currentMessage().isEmpty());
    QVERIFY(QFile::exists(home_ + "SEND/COV00000.APF") && QFile::exists(home_ + "SEND/FAX00000.APF"));

    {
      qntest::ModalScript script;
      script.Then(look);
      ViewFaxCommand(&main, rec, false);
      QVERIFY(script.Done());
    }
    QCOMPARE(seen.pages, 5u);
    QVERIFY(QFile::exists(seen.file));  // the received fax itself stays
    QVERIFY(seen.heading.startsWith(QStringLiteral("From: +1 555 0100             Received: ")));
    QVERIFY2(seen.title.startsWith(QStringLiteral("Fax Viewer - From: +1 555 0100 \u2014 Received: ")), qPrintable(seen.title));

    // Body only, then nothing at all.
    fax.setString("FAXCOVER", "");
    QCOMPARE(fax.post(), 0);
    QCOMPARE(QString::fromStdString(ChooseFaxFile(fax, true).path()), home_ + "SEND/FAX00000.APF");
    fax.setString("FAXDOC", "GONE0000.APF");
    QCOMPARE(fax.post(), 0);
    qntest::ModalScript script;
    script.Answer(QMessageBox::Ok);
    ViewFaxCommand(&main, fax, true);
    QVERIFY(script.Done());
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Error - fax file missing"));
  }
};

QTEST_MAIN(ViewerWindowTest)
#include "viewer_window_test.moc"
