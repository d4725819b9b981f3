// One-bit image files written from raster lines (most significant bit leftmost,
// 1 = black): PCX pages (alone or inside a DCX file) and BMP files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fe {

// Writes one PCX image at the current position of an open file. Lines are
// run-length coded as they come; End rewrites the header with the height.
class PcxPageWriter {
 public:
  // widthPixels: line width; dpiX/dpiY go into the header.
  int Begin(std::FILE* f, unsigned widthPixels, unsigned dpiX, unsigned dpiY);
  int AddLine(const std::uint8_t* raster);
  int End();  // -8054 for more than 65535 lines

 private:
  std::FILE* f_ = nullptr;
  long start_ = 0;
  unsigned width_ = 0, bytesPerLine_ = 0, lines_ = 0, dpiX_ = 0, dpiY_ = 0;
  std::vector<std::uint8_t> coded_, plain_, last_;
  std::size_t codedLen_ = 0;  // of the last line, kept in coded_
};

// A DCX file: a page table of up to 1023 offsets, then one PCX image per page.
class DcxWriter {
 public:
  ~DcxWriter();
  int Create(const std::string& path);
  int BeginPage(unsigned widthPixels, unsigned dpiX, unsigned dpiY);  // -1002 beyond 1023 pages
  int AddLine(const std::uint8_t* raster) { return page_.AddLine(raster); }
  int EndPage();
  int Close();  // writes the page table

 private:
  std::FILE* f_ = nullptr;
  std::vector<std::uint32_t> offsets_;
  PcxPageWriter page_;
};

// Writes a one-bit BMP (bottom-up, palette black then white) of the given lines.
int WriteBmp(const std::string& path, unsigned widthPixels, const std::vector<std::uint8_t>& rows, unsigned height,
             unsigned dpiX, unsigned dpiY);
// Writes a single-page PCX file.
int WritePcx(const std::string& path, unsigned widthPixels, const std::vector<std::uint8_t>& rows, unsigned height,
             unsigned dpiX, unsigned dpiY);

}  // namespace fe
