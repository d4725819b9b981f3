// Text lines drawn with the built-in fax font: glyphs packed cell by cell from
// the left edge. No Qt: the send engine draws its header lines with it too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fe_faxfont.h"
#include "fe_text_reader.h"

namespace fe {

class FontLineRenderer : public TextLineRenderer {
 public:
  // Loads the font; lines are cut to (width / cell) - (leftMargin / cell) characters.
  int Init(TFaxFont font, bool highRes, unsigned width, unsigned leftMargin);
  unsigned Rows() const override { return font_.Rows(); }
  unsigned MaxChars() const override { return maxChars_; }
  int Render(const std::u32string& text, std::uint8_t* rows, unsigned* lens) override;

 private:
  TFaxFontData font_;
  unsigned maxChars_ = 0;
  std::vector<std::uint8_t> codes_;  // font codes of the line being drawn
};

}  // namespace fe
