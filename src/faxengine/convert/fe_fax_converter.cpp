#include "fe_fax_converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <cerrno>
#include <memory>

#include "apf_format.h"
#include "fe_bitmap_reader.h"
#include "fe_bmp_reader.h"
#include "fe_document_reader.h"
#include "fe_errors.h"
#include "fe_exceptions.h"
#include "fe_mapped_file.h"
#include "fe_pcx_reader.h"
#include "fe_text_renderers.h"
#include "fe_texts.h"
#include "fe_tiff_reader.h"

namespace fe {

namespace {
// Notices a quit request posted to the application while a conversion runs.
class QuitWatcher : public QObject {
 public:
  QuitWatcher() {
    if (auto* app = QCoreApplication::instance()) app->installEventFilter(this);
  }
  bool quit = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Quit) quit = true;
    return QObject::eventFilter(watched, event);
  }
};

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}
}  // namespace

std::string ForceExtension(const std::string& name, const std::string& ext) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t dot = name.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
                      dot + 1 < name.size() && dot != (slash == std::string::npos ? 0 : slash + 1);
  if (hasExt && SameLetters(name.substr(dot + 1), ext)) return name;
  return (hasExt ? name.substr(0, dot) : name) + "." + ext;
}

std::string TFeFaxConverter::OutputFileName() const {
  return ForceExtension(OutFileName.empty() ? DocumentFile : OutFileName, "APF");
}

TFaxConverterCore::Settings TFeFaxConverter::Settings() const {
  TFaxConverterCore::Settings s;
  s.width = Width == fwWide ? kWideWidth : kStandardWidth;
  s.highRes = Resolution == frHigh;
  s.leftMargin = LeftMargin;
  s.topMargin = TopMargin;
  s.options = Options;
  s.stationId = StationID;
  return s;
}

int TFeFaxConverter::Convert(const QImage* bitmap) {
  ErrorText.clear();
  auto s = Settings();
  const TFaxInputDocumentType kind = bitmap ? idBitmap : InputDocumentType;
  if (kind == idPdf || kind == idPostScript) {
    // A document page carries its own margins and is already at the fax
    // resolution: it starts at the line's left edge, as the page's own left edge.
    s.leftMargin = 0;
    s.options &= ~unsigned(coDoubleWidth | coHalfHeight | coCenterImage);
  }
  TFaxConverterCore core(s);
  if (OnStatus)
    core.SetStatus([this](const TConvertProgress& p) {
      bool abort = false;
      OnStatus(*this, p.starting, p.ending, p.pagesConverted, p.linesConverted, p.bytesConverted, p.bytesToConvert,
               abort);
      return abort;
    });
  if (OnOutputLine)
    core.SetOutput([this](const std::uint8_t* data, unsigned len, bool eop, bool more) {
      OnOutputLine(*this, data, len, eop, more);
    });
  QuitWatcher watcher;
  if (QCoreApplication::instance())
    core.SetYield([&watcher] {
      QCoreApplication::processEvents();
      return watcher.quit;
    });

  if (!OnOutputLine && OutFileName.empty() && DocumentFile.empty()) return -ecFileNotFound;  // no output name
  MappedFile file;
  auto openFile = [&]() { return file.Open(DocumentFile); };
  std::unique_ptr<RasterReader> reader;
  FontLineRenderer fontRenderer;
  ScreenFontLineRenderer screenRenderer;
  // A document is opened here and handed over as an open file, so that no
  // interpreter ever reads its name.
  struct Descriptor {
    int fd = -1;
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
  } document;
  ChildDocumentReader* child = nullptr;
  switch (kind) {
    case idText:
      if (int rc = fontRenderer.Init(FontType, s.highRes, s.width, s.leftMargin)) return rc;
      if (int rc = openFile()) return rc;
      reader = std::make_unique<TextReader>(file.Bytes(), fontRenderer, LinesPerPage, TabStop);
      break;
    case idTextEx:
      if (int rc = screenRenderer.Init(EnhFont, s.highRes, s.width > s.leftMargin ? s.width - s.leftMargin : 0))
        return rc;
      if (int rc = openFile()) return rc;
      reader = std::make_unique<TextReader>(file.Bytes(), screenRenderer, LinesPerPage, TabStop);
      break;
    case idTiff:
      if (int rc = openFile()) return rc;
      reader = std::make_unique<TiffReader>(file.Bytes(), s.highRes, s.width);
      break;
    case idPcx:
    case idDcx:
      if (int rc = openFile()) return rc;
      reader = std::make_unique<PcxReader>(file.Bytes(), s.width, InputDocumentType == idDcx);
      break;
    case idBmp:
      if (int rc = openFile()) return rc;
      reader = std::make_unique<BmpReader>(file.Bytes());
      break;
    case idPdf:
    case idPostScript: {
      if (DocumentFile.empty()) return -ecFileNotFound;
      document.fd = ::open(DocumentFile.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st {};
      if (document.fd < 0 || ::fstat(document.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -IoErrorCode(document.fd < 0 ? errno : EISDIR);
      auto r = std::make_unique<ChildDocumentReader>(document.fd, kind == idPostScript, s.width, s.highRes, DocLimits);
      child = r.get();
      reader = std::move(r);
      break;
    }
    case idBitmap:
      if (!bitmap) return -ecBadArgument;
      reader = std::make_unique<BitmapReader>(*bitmap);
      break;
    case idUser: {
      std::string name = DocumentFile;
      if (!DefUserExtension.empty() && ForceExtension(name, "x") == name + ".x") name += "." + DefUserExtension;
      UserReader::OpenFn open;
      UserReader::CloseFn close;
      UserReader::ReadFn read;
      if (OnOpenUserFile) open = [this](const std::string& n) { OnOpenUserFile(*this, n); };
      if (OnCloseUserFile) close = [this] { OnCloseUserFile(*this); };
      if (OnReadUserLine)
        read = [this](std::uint8_t* d, unsigned& l, bool& e, bool& m) { OnReadUserLine(*this, d, l, e, m); };
      reader = std::make_unique<UserReader>(name, open, close, read);
      break;
    }
    case idNone:
    default:
      return -ecBadArgument;
  }
  const int rc = core.Convert(*reader, OutputFileName());
  if (rc && child) ErrorText = child->errorText();
  return rc;
}

void TFeFaxConverter::ConvertToFile() {
  const int rc = Convert();
  if (rc && !ErrorText.empty()) throw EFeException(rc, ErrorText);
  CheckFe(rc);
}

void TFeFaxConverter::ConvertBitmapToFile(const QImage& bitmap) {
  const TFaxInputDocumentType saved = InputDocumentType;
  InputDocumentType = idBitmap;
  const int rc = Convert(&bitmap);
  InputDocumentType = saved;
  CheckFe(rc);
}

}  // namespace fe
