// Whole faxes as the files people pass on: a PDF with one page per fax page at
// its true size, and a multi-page TIFF with Group 4 compression.
//
// Conventions callers rely on:
//  - Pages are handed over whole: rows of (widthPixels + 7) / 8 bytes, most
//    significant bit leftmost, 1 = black, with the page's dots per inch.
//  - The raster is stored exactly, one bit per pixel at the page's resolution
//    (a PDF viewer rendering at that resolution gives back the same pixels).
//  - The file is written beside its final name and renamed into place by
//    Close(); a writer dropped or failing before then leaves nothing behind.
//  - No Qt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fe {

struct FaxPageRaster {
  unsigned widthPixels = 0, height = 0, dpiX = 204, dpiY = 196;
  const std::uint8_t* rows = nullptr;
};

class FaxExportWriter {
 public:
  enum class Kind { Pdf, Tiff };
  FaxExportWriter(Kind kind, std::string path) : kind_(kind), path_(std::move(path)) {}
  FaxExportWriter(const FaxExportWriter&) = delete;
  FaxExportWriter& operator=(const FaxExportWriter&) = delete;
  ~FaxExportWriter();
  // Returns 0 or a negative error code (file errors by their code).
  int Create(unsigned pageCount);
  int AddPage(const FaxPageRaster& page);
  int Close();

 private:
  int AddPdfPage(const FaxPageRaster& page);
  int ClosePdf();
  void Discard();
  std::uint64_t Offset() const;

  Kind kind_;
  std::string path_, temp_;
  unsigned pageCount_ = 0, pagesAdded_ = 0;
  void* tif_ = nullptr;       // TIFF*
  std::FILE* pdf_ = nullptr;  // the PDF as it is written
  std::vector<std::uint64_t> objectOffsets_;
  std::vector<unsigned> pageObjects_;
  bool failed_ = false;
};

}  // namespace fe
