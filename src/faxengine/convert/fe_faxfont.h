// The built-in fax font: 256 glyphs in two sizes, standard (20x16 cells) and
// small (12x8 cells), embedded in the library from data/fonts/faxfont.bin.
#pragma once

#include <cstdint>
#include <vector>

namespace fe {

enum TFaxFont { ffStandard, ffSmall };

class TFaxFontData {
 public:
  // Loads one size; at high resolution every glyph row is doubled, so a text
  // line is twice as many raster lines high. Returns 0 or -8052.
  int Load(TFaxFont font, bool highRes);

  unsigned CellWidth() const { return cellWidth_; }
  unsigned Rows() const { return rows_; }
  // 2 at high resolution, where each glyph row appears twice in a row, else 1.
  unsigned RowRepeat() const { return repeat_; }
  // Row r (0 = top) of a glyph, its cellWidth bits right-aligned, leftmost pixel highest.
  std::uint32_t GlyphRow(std::uint8_t code, unsigned r) const { return rowBits_[code * rows_ + r]; }
  // Bit r set when row r of the glyph has ink (rows before doubling).
  std::uint32_t InkRows(std::uint8_t code) const { return inkRows_[code]; }

 private:
  unsigned cellWidth_ = 0, rows_ = 0, repeat_ = 1;
  std::vector<std::uint32_t> rowBits_;
  std::uint32_t inkRows_[256] = {};
};

}  // namespace fe
