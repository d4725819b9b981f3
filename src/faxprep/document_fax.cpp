#include "document_fax.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "common/dialogs.h"
#include "common/folders.h"

namespace faxprep {

namespace {

constexpr qint64 kMaxDocumentBytes = qint64(512) << 20;
constexpr int kHeadBytes = 4096;
constexpr unsigned kMaxFaxPages = 200;
// The progress window comes up only for a conversion that takes a while.
constexpr int kProgressDelayMs = 400;

const char kCaption[] = "Fax a Document";

QString Refusal(const QString& file, const QString& why) {
  return QStringLiteral("\"%1\" was not made into a fax: %2.").arg(QFileInfo(file).fileName(), why);
}

// Text: no bytes below the space but tab, line ends, form feed, escape and
// the old end-of-file mark.
bool LooksLikeText(const QByteArray& head) {
  for (const char c : head) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != 0x1a && b != 0x1b) return false;
  }
  return true;
}

struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

// Opens the document for the converter: a plain file of a size a fax can come
// from. Never blocks: a named pipe or a device is refused, not read.
bool OpenDocument(const QString& path, OpenFile& file, QByteArray& head, QString& why) {
  file.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (file.fd < 0) {
    why = QStringLiteral("it cannot be opened (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = QStringLiteral("it is not a plain file");
    return false;
  }
  if (st.st_size == 0) {
    why = QStringLiteral("the file is empty");
    return false;
  }
  if (st.st_size > kMaxDocumentBytes) {
    why = QStringLiteral("it is larger than 512 MB");
    return false;
  }
  head.resize(int(std::min<qint64>(st.st_size, kHeadBytes)));
  const ssize_t n = ::pread(file.fd, head.data(), std::size_t(head.size()), 0);
  if (n < 0) {
    why = QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  head.resize(int(n));
  return true;
}

// One conversion on a worker thread, the progress window and its Cancel here.
bool ConvertOne(QWidget* parent, const QString& path, int index, int count, SendJob& job, QString& why,
                bool& cancelled) {
  OpenFile file;
  QByteArray head;
  DocumentInput input;
  if (!OpenDocument(path, file, head, why) || !DocumentKindOf(path, head, input.kind, why)) return false;
  input.fd = file.fd;
  input.limits.maxPages = kMaxFaxPages;
  volatile std::sig_atomic_t stop = 0;
  input.stop = &stop;
  std::atomic<unsigned> pagesDone{0}, pagesTotal{0};
  std::atomic<bool> finished{false};
  input.pageDone = [&](unsigned done, unsigned total) {
    pagesDone = done;
    pagesTotal = total;
  };

  const QString name = QFontMetrics(QApplication::font()).elidedText(QFileInfo(path).fileName(), Qt::ElideMiddle, 360);
  const QString what = count > 1 ? QStringLiteral("Converting \"%1\" (%2 of %3)").arg(name).arg(index + 1).arg(count)
                                 : QStringLiteral("Converting \"%1\"").arg(name);
  QProgressDialog progress(what, QString(), 0, 0, parent);
  progress.setObjectName(QStringLiteral("DocumentProgress"));
  progress.setWindowTitle(QString::fromLatin1(kCaption));
  progress.setWindowModality(Qt::WindowModal);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setMinimumDuration(kProgressDelayMs);
  auto* cancelButton = new QPushButton(QStringLiteral("&Cancel"), &progress);
  cancelButton->setObjectName(QStringLiteral("CancelButton"));
  progress.setCancelButton(cancelButton);
  progress.setMinimumWidth(progress.fontMetrics().horizontalAdvance(what) + 80);
  progress.setValue(0);

  bool ok = false;
  std::thread worker([&] {
    ok = job.Convert(input, std::string(), std::string(), QFileInfo(path).fileName().toStdString());
    finished = true;
  });
  QElapsedTimer shown;
  shown.start();
  QEventLoop loop;
  QTimer tick;
  tick.setInterval(50);
  // Cancel, Escape and the window's close button all stop the converter.
  auto cancel = [&] { stop = 1; };
  QObject::connect(&progress, &QProgressDialog::canceled, &loop, cancel);
  QObject::connect(&progress, &QDialog::rejected, &loop, cancel);
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    if (finished) {
      loop.quit();
      return;
    }
    if (!stop && !progress.isVisible() && shown.elapsed() >= kProgressDelayMs) progress.show();
    const unsigned done = pagesDone, total = pagesTotal;
    if (total > 0 && !stop) {
      progress.setMaximum(int(total));
      progress.setValue(int(std::min(done, total)));
      progress.setLabelText(what + QStringLiteral("\npage %1 of %2").arg(std::min(done + 1, total)).arg(total));
    }
  });
  tick.start();
  loop.exec();
  worker.join();
  if (ok) return true;
  cancelled = job.cancelled();
  why = QString::fromStdString(job.message());
  return false;
}

}  // namespace

bool DocumentKindOf(const QString& path, const QByteArray& head, fe::DocumentKind& kind, QString& why) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(head.constData());
  if (fe::SniffDocumentKind({bytes, std::size_t(head.size())}, kind)) return true;
  const QString ext = QFileInfo(path).suffix().toLower();
  static const struct {
    const char* ext;
    fe::DocumentKind kind;
  } kByName[] = {{"pdf", fe::DocumentKind::Pdf},   {"ps", fe::DocumentKind::PostScript},
                 {"eps", fe::DocumentKind::PostScript}, {"tif", fe::DocumentKind::Tiff},
                 {"tiff", fe::DocumentKind::Tiff}, {"pcx", fe::DocumentKind::Pcx},
                 {"dcx", fe::DocumentKind::Dcx},   {"bmp", fe::DocumentKind::Bmp}};
  for (const auto& k : kByName)
    if (ext == QLatin1String(k.ext)) {
      kind = k.kind;
      return true;
    }
  if (LooksLikeText(head)) {
    kind = fe::DocumentKind::Text;
    return true;
  }
  why = QStringLiteral(
      "Quillon cannot fax this kind of file (it faxes PDF and PostScript documents, TIFF, PCX, DCX and BMP images "
      "and plain text)");
  return false;
}

QString DocumentFileFilter() {
  return QStringLiteral(
      "Documents (*.pdf *.PDF *.ps *.PS *.eps *.EPS *.tif *.TIF *.tiff *.TIFF *.pcx *.PCX *.dcx *.DCX *.bmp *.BMP "
      "*.txt *.TXT);;All files (*)");
}

DocumentFaxes ConvertDocuments(QWidget* parent, const QStringList& files) {
  DocumentFaxes out;
  for (int i = 0; i < files.size() && !out.cancelled; ++i) {
    auto job = std::make_unique<SendJob>(qn::ResolvePath(qn::SendFolder()));
    QString why;
    bool cancelled = false;
    if (ConvertOne(parent, files[i], i, int(files.size()), *job, why, cancelled))
      out.made.push_back({files[i], std::move(job), QString()});
    else if (cancelled)
      out.cancelled = true;
    else
      out.refused << Refusal(files[i], why);
  }
  if (!out.refused.isEmpty())
    qn::MessageBoxText(out.refused.join(QLatin1Char('\r')), QString::fromLatin1(kCaption), qn::mbOk | qn::mbIconError);
  return out;
}

void PlaceDocumentFaxes(DocumentFaxes& faxes) {
  QStringList failed;
  for (auto it = faxes.made.begin(); it != faxes.made.end();) {
    if (it->job->Place()) {
      it->faxFile = QString::fromStdString(qn::FileNameOnly(it->job->apfPath()));
      ++it;
    } else {
      failed << Refusal(it->file, QString::fromStdString(it->job->message()));
      it = faxes.made.erase(it);
    }
  }
  if (!failed.isEmpty())
    qn::MessageBoxText(failed.join(QLatin1Char('\r')), QString::fromLatin1(kCaption), qn::mbOk | qn::mbIconError);
  faxes.refused << failed;
}

}  // namespace faxprep
