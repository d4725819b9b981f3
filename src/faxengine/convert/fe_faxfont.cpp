// Unpacks the embedded font resource into one 32-bit word per glyph row.
#include "fe_faxfont.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "fe_errors.h"

extern const std::uint8_t qn_faxfont[];
extern const std::size_t qn_faxfont_size;

namespace fe {

namespace {
// The resource: 256 small glyphs, then 256 standard glyphs.
struct FontDescription {
  unsigned bytesPerGlyph, cellWidth, bytesPerRow, rows;
};
constexpr FontDescription kStandard{48, 20, 3, 16};
constexpr FontDescription kSmall{16, 12, 2, 8};
constexpr std::size_t kResourceSize = 256 * (kStandard.bytesPerGlyph + kSmall.bytesPerGlyph);
}  // namespace

int TFaxFontData::Load(TFaxFont font, bool highRes) {
  if (qn_faxfont_size != kResourceSize) return -ecFontFileNotFound;
  const FontDescription& d = font == ffSmall ? kSmall : kStandard;
  const std::uint8_t* base = qn_faxfont + (font == ffSmall ? 0 : 256 * kSmall.bytesPerGlyph);
  const unsigned repeat = highRes ? 2 : 1;
  cellWidth_ = d.cellWidth;
  repeat_ = repeat;
  rows_ = d.rows * repeat;
  rowBits_.assign(256 * rows_, 0);
  std::fill(std::begin(inkRows_), std::end(inkRows_), 0u);
  for (unsigned code = 0; code < 256; ++code) {
    for (unsigned r = 0; r < d.rows; ++r) {
      const std::uint8_t* row = base + code * d.bytesPerGlyph + r * d.bytesPerRow;
      std::uint32_t bits = 0;
      for (unsigned b = 0; b < d.bytesPerRow; ++b) bits = bits << 8 | row[b];
      bits >>= d.bytesPerRow * 8 - d.cellWidth;
      for (unsigned k = 0; k < repeat; ++k) rowBits_[code * rows_ + r * repeat + k] = bits;
      if (bits) inkRows_[code] |= 1u << r;
    }
  }
  return 0;
}

}  // namespace fe
