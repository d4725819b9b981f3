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
//  - PostScriptToPdfPages calls are serialised: the interpreter runs one job at a time
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
  // The current page whole (imageWidth()/8 bytes per row, 1 = black), and the
  // step to the next one, for a caller that takes pages rather than lines.
  std::span<const std::uint8_t> pageBits() const { return bits_; }
  bool hasNextPage() const { return page_ < pages_; }
  int nextPage();

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

// Runs the PostScript program at psPath (made absolute here, so that no name is
// ever read as one of the interpreter's special "%...%" devices) through the
// interpreter in safe mode (it may not read or write other files) and writes one
// PDF per page into folder: page-1.pdf, page-2.pdf, ... Meant for the converter
// process, whose temporary folder ($TMPDIR) is private to it; its parent stops
// it as soon as the file of page maxPages + 1 appears, and a program that made
// more pages is refused here too (maxPages 0: no cap). Returns 0 with the page
// count in `pages`, or a negative error code with a sentence in `why`:
// -8002 when the interpreter refuses the program, makes no pages or the page
// cap is reached, -8 when the program needs more memory than the process may use.
int PostScriptToPdfPages(const std::string& psPath, const std::string& folder, unsigned maxPages, unsigned& pages,
                         std::string& why);
// The file of one page made by PostScriptToPdfPages (page counts from 1).
std::string PostScriptPageFile(const std::string& folder, unsigned page);

// The PostScript program inside a print job: the job as it is, or, for a job
// wrapped in printer job language (a "\x1b%-12345X@PJL ..." header), the part
// from its "%!" line up to the closing "\x1b%-12345X". Empty when a wrapped
// job holds no PostScript.
std::span<const std::uint8_t> PostScriptBody(std::span<const std::uint8_t> bytes);

// True when the bytes start like a PDF ("%PDF") or PostScript ("%!") file; a
// PostScript program wrapped in printer job language counts as PostScript.
bool LooksLikePdf(std::span<const std::uint8_t> bytes);
bool LooksLikePostScript(std::span<const std::uint8_t> bytes);

}  // namespace fe
