// The two ways a text line becomes raster rows: glyphs of the built-in fax font
// packed cell by cell, or a screen font drawn by Qt.
#pragma once

#include <QFont>
#include <QImage>

#include "fe_font_renderer.h"
#include "fe_text_reader.h"

namespace fe {

class ScreenFontLineRenderer : public TextLineRenderer {
 public:
  // Sizes the line bitmap: `width` pixels wide, as high as "Wy" in the font (its
  // size doubled at high resolution). -8055 when the bitmap would exceed 65536
  // bytes; needs a QGuiApplication (-1002 without one).
  int Init(const QFont& font, bool highRes, unsigned width);
  unsigned Rows() const override { return rows_; }
  unsigned MaxChars() const override { return 0; }
  int Render(const std::u32string& text, std::uint8_t* rows, unsigned* lens) override;

 private:
  QFont font_;
  unsigned width_ = 0, rows_ = 0;
  int ascent_ = 0;
  QImage canvas_;
};

}  // namespace fe
