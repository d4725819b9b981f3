#include "fe_text_renderers.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "fe_errors.h"

namespace fe {

int ScreenFontLineRenderer::Init(const QFont& font, bool highRes, unsigned width) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return -ecBadArgument;
  font_ = font;
  if (highRes) {
    if (font_.pixelSize() > 0) {
      font_.setPixelSize(font_.pixelSize() * 2);
    } else {
      font_.setPointSizeF(font_.pointSizeF() * 2);
    }
  }
  font_.setStyleStrategy(QFont::NoAntialias);
  const QFontMetrics metrics(font_);
  const QRect wy = metrics.boundingRect(QStringLiteral("Wy"));
  const int height = wy.height();
  width_ = std::min(width, kTextRowBytes * 8);
  const std::uint64_t bytes = std::uint64_t((width_ + 31) / 32 * 4) * unsigned(std::max(height, 1));
  if (height <= 0 || bytes > 65536) return -ecFontTooLarge;
  rows_ = unsigned(height);
  ascent_ = -wy.top();  // baseline: the top of "Wy" is the bitmap's first row
  canvas_ = QImage(int(width_), height, QImage::Format_Grayscale8);
  if (canvas_.isNull()) return -ecOutOfMemory;
  return 0;
}

int ScreenFontLineRenderer::Render(const std::u32string& text, std::uint8_t* rows, unsigned* lens) {
  canvas_.fill(Qt::white);
  if (!text.empty()) {
    QPainter painter(&canvas_);
    painter.setFont(font_);
    painter.setPen(Qt::black);
    painter.drawText(0, ascent_, QString::fromUcs4(text.data(), qsizetype(text.size())));
  }
  const unsigned bytes = (width_ + 7) / 8;
  for (unsigned r = 0; r < rows_; ++r) {
    std::uint8_t* row = rows + std::size_t(r) * kTextRowBytes;
    std::memset(row, 0, bytes);
    const uchar* src = canvas_.constScanLine(int(r));
    for (unsigned x = 0; x < width_; ++x)
      if (src[x] < 128) row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
    lens[r] = bytes;
  }
  return 0;
}

}  // namespace fe
