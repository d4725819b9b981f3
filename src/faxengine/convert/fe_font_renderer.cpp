#include "fe_font_renderer.h"

#include <algorithm>
#include <cstring>

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

}  // namespace fe
