#include "cover_render.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <QDate>
#include <QFontMetrics>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QPainter>
#include <QStringDecoder>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "common/folders.h"
#include "fe_exceptions.h"
#include "fe_fax_converter.h"
#include "fe_lsan_fontconfig.h"
#include "fe_texts.h"

namespace covers {

namespace {

// Bounds that keep absurd template values drawable: far enough off the page to
// be harmless, small enough for the painter's arithmetic.
constexpr std::int64_t kCoordLimit = 100000;
constexpr int kMaxPenWidth = 2000;
constexpr int kMaxFontPixels = 4 * kCoverPageHeight;
constexpr int kMaxDrawnChars = 4096;
constexpr int kDefaultFontPixels = 27;  // the canvas font: 20 points at 96 per inch

int Clamp(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, -kCoordLimit, kCoordLimit));
}

struct Box {
  int x1, y1, x2, y2;
  int w() const { return x2 - x1; }
  int h() const { return y2 - y1; }
};

Box ObjectBox(const TemplateRecord& r, int divisor) {
  const std::int64_t x1 = std::int64_t{r.left} / divisor + kPageMargin;
  const std::int64_t y1 = std::int64_t{r.top} / divisor + kPageMargin;
  const std::int64_t w = std::int64_t{r.width} / divisor, h = std::int64_t{r.height} / divisor;
  return {Clamp(x1), Clamp(y1), Clamp(x1 + w), Clamp(y1 + h)};
}

QString OneLine(QString s) {
  if (s.size() > kMaxDrawnChars) s.truncate(kMaxDrawnChars);
  for (QChar& c : s)
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) c = QLatin1Char(' ');
  return s;
}

void DrawOneLine(QPainter& p, const QFont& font, int x, int y, const QString& text) {
  p.setFont(font);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::black));
  const QFontMetrics fm(font);
  p.drawText(QPoint(x, y + fm.ascent()), OneLine(text));
}

QPen ShapePen(const TemplateRecord& r, int divisor) {
  int width = std::clamp(r.penWidth / divisor, 0, kMaxPenWidth);
  QPen pen(Qt::black);
  pen.setWidth(std::max(width, 1));
  pen.setJoinStyle(Qt::MiterJoin);
  pen.setCapStyle(Qt::SquareCap);
  return pen;
}

void DrawShape(QPainter& p, const TemplateRecord& r, const Box& b, int divisor) {
  p.setPen(ShapePen(r, divisor));
  if (r.fillType == sftTransparent)
    p.setBrush(Qt::NoBrush);
  else if (r.fillType == sftFilledWhite)
    p.setBrush(Qt::white);
  else if (r.fillType == sftFilledBlack)
    p.setBrush(Qt::black);
  // Right and bottom edges lie outside the figure, as on the design panel; an
  // outlined rectangle of width w covers w + 1 pixels in the painter, hence - 2.
  const QRect rect(QPoint(b.x1, b.y1), QPoint(b.x2 - 2, b.y2 - 2));
  switch (r.shapeType) {
    case stRectangle:
    case stSquare:
      p.drawRect(rect);
      break;
    case stRoundRect:
    case stRoundSquare: {
      const double perc = std::clamp(r.roundPerc, -1000, 1000);
      const double d = std::round(std::max(std::abs(b.w()), std::abs(b.h())) * perc * 0.01);
      p.drawRoundedRect(rect, d / 2, d / 2, Qt::AbsoluteSize);
      break;
    }
    case stEllipse:
    case stCircle:
      p.drawEllipse(rect);
      break;
    default:
      break;
  }
}

void DrawLine(QPainter& p, const TemplateRecord& r, const Box& b, int divisor) {
  p.setPen(ShapePen(r, divisor));
  switch (r.lineStyle) {
    case stHorizontal:
      p.drawLine(b.x1, b.y1, b.x2, b.y1);
      break;
    case stVertical:
      p.drawLine(b.x1, b.y1, b.x1, b.y2);
      break;
    case stAngleSlopingUp:
      p.drawLine(b.x1, b.y2, b.x2, b.y1);
      break;
    case stAngleSlopingDown:
      p.drawLine(b.x1, b.y1, b.x2, b.y2);
      break;
    default:
      break;
  }
}

void DrawImportance(QPainter& p, const TemplateRecord& r, const Box& b, const CoverData& data, int divisor) {
  if (!data.AnyFlag()) return;
  const QFont font = TemplateFont(r, divisor);
  const QString row = QString::fromLatin1(kImportanceText);
  DrawOneLine(p, font, b.x1, b.y1, row);
  const QFontMetrics fm(font);
  int from = 0;
  for (int i = 0; i < kImportanceCount; ++i) {
    const int bracket = static_cast<int>(row.indexOf(QLatin1Char('['), from));
    from = bracket + 1;
    if (!data.flags[static_cast<std::size_t>(i)]) continue;
    const int w = fm.horizontalAdvance(row.left(bracket + 1));
    DrawOneLine(p, font, b.x1 + w, b.y1, QStringLiteral("X"));
  }
}

void DrawMessage(QPainter& p, const TemplateRecord& r, const Box& b, const QStringList& message, int divisor) {
  if (b.w() <= 0 || b.h() <= 0) return;
  p.save();
  p.setFont(TemplateFont(r, divisor));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::black));
  const QRect rect(b.x1, b.y1, b.w(), b.h());
  p.setClipRect(rect);
  QString text = message.join(QLatin1Char('\n'));
  if (text.size() > 64 * kMaxDrawnChars) text.truncate(64 * kMaxDrawnChars);
  p.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
  p.restore();
}

QString TodayText(const QString& format) {
  return QLocale().toString(QDate::currentDate(), format);
}

}  // namespace

QString ResolveFontFamily(const QString& name) {
  static QMutex mutex;
  static QHash<QString, QString> cache;
  QMutexLocker lock(&mutex);
  if (auto it = cache.constFind(name); it != cache.constEnd()) return *it;
  QString family = name;
  if (FcInit()) {
    FcPattern* pattern = FcPatternCreate();
    const QByteArray utf8 = name.toUtf8();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.constData()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
      FcChar8* found = nullptr;
      if (FcPatternGetString(match, FC_FAMILY, 0, &found) == FcResultMatch && found)
        family = QString::fromUtf8(reinterpret_cast<const char*>(found));
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
  }
  if (cache.size() >= 256) cache.clear();  // a handful in real templates; damaged ones may have many
  cache.insert(name, family);
  return family;
}

QString DecodeText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString s = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return s;
  QStringDecoder cp1252("windows-1252");
  if (cp1252.isValid()) return cp1252.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QFont TemplateFont(const TemplateRecord& r, int divisor) {
  divisor = std::max(divisor, 1);
  QString name = DecodeText(r.fontName.substr(0, 255));
  if (name.trimmed().isEmpty()) name = QStringLiteral("Arial");
  QFont font(ResolveFontFamily(name));
  const std::int64_t stored = r.fontSize / divisor;
  // Points to pixels at 96 per inch, rounded as the design screen does.
  int pixels = stored > 0 ? static_cast<int>(std::min<std::int64_t>((stored * 96 + 36) / 72, kMaxFontPixels))
                          : kDefaultFontPixels;
  font.setPixelSize(std::max(pixels, 1));
  font.setBold(r.bold);
  font.setItalic(r.italic);
  font.setUnderline(r.underline);
  font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::PreferMatch));
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

void DrawTemplateRecords(QPainter& p, const std::vector<TemplateRecord>& records, const CoverData& data,
                         const QStringList& message, int divisor) {
  divisor = std::max(divisor, 1);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
  for (const TemplateRecord& r : records) {
    const Box b = ObjectBox(r, divisor);
    switch (r.kind) {
      case okText:
      case okSymbol:
        DrawOneLine(p, TemplateFont(r, divisor), b.x1, b.y1, DecodeText(r.caption));
        break;
      case okShape:
        DrawShape(p, r, b, divisor);
        break;
      case okLine:
        DrawLine(p, r, b, divisor);
        break;
      case okImportance:
        DrawImportance(p, r, b, data, divisor);
        break;
      case okField: {
        const bool known = r.fieldKind >= 0 && r.fieldKind < kCoverFieldCount;
        const std::string& text = known ? data.texts[static_cast<std::size_t>(r.fieldKind)] : r.caption;
        DrawOneLine(p, TemplateFont(r, divisor), b.x1, b.y1, DecodeText(text));
        break;
      }
      case okMessage:
        DrawMessage(p, r, b, message, divisor);
        break;
      default:
        break;  // unknown kinds are read and skipped
    }
  }
}

void DrawTemplate(QPainter& canvas, const std::string& fctPath, const CoverData& data, const QStringList& message,
                  int divisor) {
  std::vector<TemplateRecord> records;
  if (!ReadTemplateFile(fctPath, records)) return;
  DrawTemplateRecords(canvas, records, data, message, divisor);
}

QImage BlankCanvas(int width, int height) {
  QImage img(width, height, QImage::Format_Grayscale8);
  img.fill(Qt::white);
  return img;
}

QImage ToOneBit(const QImage& canvas) {
  QImage mono(canvas.size(), QImage::Format_Mono);
  mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  mono.fill(0);
  const QImage grey =
      canvas.format() == QImage::Format_Grayscale8 ? canvas : canvas.convertToFormat(QImage::Format_Grayscale8);
  for (int y = 0; y < grey.height(); ++y) {
    const uchar* in = grey.constScanLine(y);
    uchar* out = mono.scanLine(y);
    for (int x = 0; x < grey.width(); ++x)
      if (in[x] < 128) out[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
  }
  return mono;
}

QImage RenderCoverPage(const std::string& fctPath, const CoverData& data, const QStringList& message) {
  QImage canvas = BlankCanvas(kCoverPageWidth, kCoverPageHeight);
  {
    QPainter p(&canvas);
    p.setFont(TemplateFont(TemplateRecord{}, 1));
    DrawTemplate(p, fctPath, data, message, 1);
  }
  QImage page = ToOneBit(canvas);
  page.setPixel(kCoverPageWidth - 1, kCoverPageHeight - 1, 1);
  return page;
}

std::string RenderCover(const std::string& targetApf, const std::string& fctPath, const CoverData& data,
                        const QStringList& message) {
  const QImage page = RenderCoverPage(fctPath, data, message);
  if (targetApf.empty()) qn::ForceFolder(qn::SendFolder());
  std::string target = targetApf.empty() ? qn::NewSendFileName("COV") : targetApf;
  fe::TFeFaxConverter conv;
  conv.Options = fe::coYield;
  conv.Resolution = fe::frHigh;
  // The page bitmap is already the whole page with its margins: the converter's
  // default left margin would push it 50 pixels right and cut off its right edge.
  conv.LeftMargin = 0;
  conv.TopMargin = 0;
  conv.OutFileName = target;
  target = conv.OutputFileName();
  // The page is written beside the target and renamed over it once complete.
  const std::size_t slash = target.rfind('/') + 1;  // 0 when there is no folder
  conv.OutFileName = target.substr(0, slash) + "~" + target.substr(slash);
  try {
    const fe::TFaxInputDocumentType before = conv.InputDocumentType;
    conv.ConvertBitmapToFile(page);
    conv.InputDocumentType = before;
  } catch (...) {
    ::unlink(conv.OutputFileName().c_str());
    throw;
  }
  const std::string written = conv.OutputFileName();
  if (std::rename(written.c_str(), target.c_str()) != 0) {
    const int code = fe::IoErrorCode(errno);
    ::unlink(written.c_str());
    fe::RaiseFeError(-code);
  }
  return target;
}

std::string LongDateText() {
  return TodayText(QStringLiteral("MMMM d, yyyy")).toStdString();
}

std::string LongTimeText() {
  QString format = QLocale().timeFormat(QLocale::LongFormat);
  format.remove(QLatin1Char('t'));
  return QLocale().toString(QTime::currentTime(), format.trimmed()).toStdString();
}

CoverData SampleCoverData() {
  CoverData d;
  d.texts = {LongDateText(), LongTimeText(), "Regarding",  "Recipient Name", "Recipient Fax #",
             "Your Name",    "Your Company", "Your Fax #", "Your voice #"};
  d.flags = {true, false, false, false, false};
  return d;
}

bool MakePreview(const std::string& fctPath) {
  QImage canvas = BlankCanvas(kPreviewWidth, kPreviewHeight);
  {
    QPainter p(&canvas);
    p.setFont(TemplateFont(TemplateRecord{}, 1));
    DrawTemplate(p, fctPath, SampleCoverData(), QStringList(), 1);
  }
  const QString bmp = QString::fromStdString(qn::ChangeFileExt(fctPath, ".bmp"));
  return ToOneBit(canvas).save(bmp, "BMP");
}

}  // namespace covers
