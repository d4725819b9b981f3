#include "document_pages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "fe_font_renderer.h"
#include "fe_raster_reader.h"
#include "fe_text_reader.h"

namespace fe::testing {

namespace {

constexpr unsigned kLeftMargin = 64;

// Draws one line of text with its top at row y, starting at pixel x (a multiple of 8).
unsigned DrawText(TRasterImage& img, FontLineRenderer& font, const std::string& line, unsigned x, unsigned y) {
  std::u32string text = DecodeTextBytes(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
  std::vector<std::uint8_t> rows(std::size_t{font.Rows()} * kTextRowBytes);
  std::vector<unsigned> lens(font.Rows());
  if (font.Render(text, rows.data(), lens.data()) != 0) return font.Rows();
  for (unsigned r = 0; r < font.Rows() && y + r < img.height; ++r) {
    unsigned room = static_cast<unsigned>(img.stride()) - x / 8;
    std::memcpy(img.row(y + r) + x / 8, rows.data() + std::size_t{r} * kTextRowBytes, std::min(lens[r], room));
  }
  return font.Rows();
}

void FillRect(TRasterImage& img, unsigned x0, unsigned y0, unsigned x1, unsigned y1) {
  for (unsigned y = y0; y < std::min(y1, img.height); ++y)
    for (unsigned x = x0; x < std::min(x1, img.width); ++x)
      img.row(y)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
}

}  // namespace

std::string SampleText() {
  std::ifstream in(std::string(QN_SOURCE_DIR) + "/docs/ARCHITECTURE.md");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TRasterImage TextPage(const std::string& text, unsigned width, unsigned height, bool fine) {
  TRasterImage img;
  img.resize(width, height);
  FontLineRenderer font;
  if (font.Init(ffStandard, fine, width - kLeftMargin, 0) != 0) return img;
  std::istringstream lines(text);
  std::string line;
  unsigned y = fine ? 120 : 60;
  while (y + font.Rows() < height && std::getline(lines, line)) y += DrawText(img, font, line, kLeftMargin, y);
  return img;
}

TRasterImage FormPage(unsigned width, unsigned height, bool fine) {
  TRasterImage img;
  img.resize(width, height);
  FontLineRenderer font;
  if (font.Init(ffStandard, fine, width - 96, 0) != 0) return img;
  const unsigned rowHeight = fine ? 120 : 60, left = 96, right = width - 96;
  const unsigned cols[] = {left, left + (right - left) / 3, left + 2 * (right - left) / 3, right};
  unsigned field = 0;
  DrawText(img, font, "ORDER FORM - please fill in every field in block letters", left, rowHeight / 2);
  for (unsigned top = 2 * rowHeight; top + 2 * rowHeight < height; top += rowHeight) {
    FillRect(img, left, top, right + 3, top + 3);  // rule above the row
    for (unsigned c : cols) FillRect(img, c, top, c + 3, top + rowHeight);
    for (unsigned c = 0; c < 3; ++c) {
      std::string label = "Field " + std::to_string(++field) + (c == 0 ? " name:" : c == 1 ? " date:" : " qty:");
      DrawText(img, font, label, (cols[c] + 16) & ~7u, top + 12);
    }
    if (field % 9 == 0) FillRect(img, cols[1] + 24, top + rowHeight - 20, cols[1] + 200, top + rowHeight - 16);
  }
  if (height > 3 * rowHeight) FillRect(img, left, height - rowHeight, right + 3, height - rowHeight + 3);
  return img;
}

TRasterImage HalftonePage(unsigned width, unsigned height, bool fine) {
  TRasterImage img;
  img.resize(width, height);
  // A smooth grey picture (0 = black, 255 = white) thresholded as the converter
  // does photos, with a caption under it.
  const unsigned pictureRows = height * 4 / 5;
  for (unsigned y = 0; y < pictureRows; ++y)
    for (unsigned x = 0; x < width; ++x) {
      double fx = double(x) / width, fy = double(y) / pictureRows;
      double v = 0.5 + 0.35 * std::sin(fx * 9 + std::cos(fy * 7)) * std::cos(fy * 5 - fx * 3) +
                 0.15 * std::cos((fx - 0.5) * (fy - 0.4) * 40);
      unsigned grey = static_cast<unsigned>(std::clamp(v, 0.0, 1.0) * 255);
      if (grey * 3 < DitherThreshold(x, y))  // the converter compares r + g + b
        img.row(y)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    }
  FontLineRenderer font;
  if (font.Init(ffStandard, fine, width - kLeftMargin, 0) == 0)
    DrawText(img, font, "Figure 1: site plan, scanned at 200 dpi and halftoned for fax", kLeftMargin,
             pictureRows + (fine ? 40 : 20));
  return img;
}

}  // namespace fe::testing
