// Document input: PDF pages (and PostScript, turned into PDF first) rendered at
// the fax resolution, one fax page per document page.
//
// Conventions callers rely on:
//  - Pages come out at their true size on the fax grid: 204 pixels per inch
//    across and 196 (fine) or 98 (normal) lines per inch down. A page wider than
//    the fax line is scaled down as a whole to fit it; a landscape page is turned
//    to portrait first.
//  - Text and line art are rendered without anti-aliasing, so they stay crisp
//    one-bit shapes; pictures and tints are screened (ordered dither).
//  - Page lines are a multiple of 32 pixels wide (white beyond the page's edge).
//  - The bytes handed to DocumentReader must stay alive while it reads.
//  - PostScriptToPdf calls are serialised: the interpreter runs one job at a time
//    per process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fe_raster_reader.h"

namespace poppler {
class document;
}

namespace fe {

class DocumentReader : public RasterReader {
 public:
  // lineWidth: the fax line in pixels (1728 or 2048); highRes: 196 lines per inch.
  DocumentReader(std::span<const std::uint8_t> pdf, unsigned lineWidth, bool highRes);
  ~DocumentReader() override;
  // -8002 for bytes that are no readable PDF or have no pages. Opening again
  // starts again at the first page (pageCount() is known after the first open).
  int open() override;
  unsigned imageWidth() const override { return width_; }
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;
  std::uint64_t bytesRead() const override;
  std::uint64_t bytesTotal() const override { return pdf_.size(); }
  unsigned pageCount() const { return pages_; }

 private:
  int renderPage();

  std::span<const std::uint8_t> pdf_;
  unsigned lineWidth_;
  double linesPerInch_;
  std::unique_ptr<poppler::document> doc_;
  unsigned pages_ = 0, page_ = 0;  // page_: the next page to render (0-based)
  unsigned width_ = 0, height_ = 0, row_ = 0;
  std::vector<std::uint8_t> bits_;  // the rendered page, width_ / 8 bytes per row, 1 = black
};

// Runs the PostScript program at psPath through the interpreter (safe mode: it may
// not read or write other files) and returns the PDF it makes in `pdf`. Returns
// 0, or -8002 when the interpreter refuses the program or makes no pages.
int PostScriptToPdf(const std::string& psPath, std::vector<std::uint8_t>& pdf);

// True when the bytes start like a PDF ("%PDF") or PostScript ("%!") file.
bool LooksLikePdf(std::span<const std::uint8_t> bytes);
bool LooksLikePostScript(std::span<const std::uint8_t> bytes);

}  // namespace fe
