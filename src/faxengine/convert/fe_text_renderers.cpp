#include "fe_text_renderers.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "fe_errors.h"

namespace fe {

int FontLineRenderer::Init(TFaxFont font, bool highRes, unsigned width, unsigned leftMargin) {
  if (int rc = font_.Load(font, highRes)) return rc;
  const unsigned cell = font_.CellWidth();
  maxChars_ = width / cell > leftMargin / cell ? width / cell - leftMargin / cell : 0;
  maxChars_ = std::min(maxChars_, kTextRowBytes * 8 / cell);
  return 0;
}

int FontLineRenderer::Render(const std::u32string& text, std::uint8_t* rows, unsigned* lens) {
  const unsigned cell = font_.CellWidth();
  const std::size_t n = std::min<std::size_t>(text.size(), maxChars_);
  const unsigned bytes = unsigned((n * cell + 7) / 8);
  codes_.resize(n);
  std::uint32_t ink = 0;
  for (std::size_t i = 0; i < n; ++i) {
    codes_[i] = FontCodeOf(text[i]);
    ink |= font_.InkRows(codes_[i]);
  }
  for (unsigned r = 0; r < font_.Rows(); ++r) {
    std::uint8_t* row = rows + std::size_t(r) * kTextRowBytes;
    lens[r] = bytes;
    if (r % font_.RowRepeat() != 0) {  // a doubled row at high resolution
      std::memcpy(row, row - kTextRowBytes, bytes);
      continue;
    }
    if (!(ink >> (r / font_.RowRepeat()) & 1)) {  // no glyph has ink in this row
      std::memset(row, 0, bytes);
      continue;
    }
    // Two cells are a whole number of bytes (40 or 24 bits): glyphs go in pairs,
    // leftmost pixel first.
    const unsigned pairBytes = 2 * cell / 8;
    std::uint8_t* out = row;
    std::size_t i = 0;
    for (; i + 1 < n; i += 2) {
      const std::uint64_t pair = std::uint64_t(font_.GlyphRow(codes_[i], r)) << cell | font_.GlyphRow(codes_[i + 1], r);
      for (unsigned b = 0; b < pairBytes; ++b) out[b] = std::uint8_t(pair >> (8 * (pairBytes - 1 - b)));
      out += pairBytes;
    }
    if (i < n) {  // an odd last glyph: its cell, padded to whole bytes
      const std::uint32_t g = font_.GlyphRow(codes_[i], r) << ((8 - cell % 8) % 8);
      for (unsigned b = 0; b < (cell + 7) / 8; ++b) out[b] = std::uint8_t(g >> (8 * ((cell + 7) / 8 - 1 - b)));
    }
  }
  return 0;
}

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
