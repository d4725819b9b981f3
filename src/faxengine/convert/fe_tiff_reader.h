// TIFF input through libtiff: any compression libtiff decodes (none, PackBits,
// Group 3 1-D and 2-D, Group 4, LZW, Deflate, JPEG), either byte order and fill
// order, strips or tiles, bilevel, grey or colour. Every directory of the file
// is one fax page.
//
// Conventions callers rely on:
//  - An image that states its resolution is scaled to the fax grid: 204 pixels
//    per inch across, 196 (fine) or 98 (normal) lines per inch down, and shrunk
//    as a whole when it would then be wider than the fax line. An image without
//    a resolution (or within 3% of the grid) keeps its pixels one for one.
//  - Bilevel pixels stay exactly as they are; greys (colour, scaled pixels) are
//    ordered-dithered (GreyRowToBits).
//  - Nothing is printed: libtiff's messages are dropped and every failure is 8002.
//  - Memory is bounded: a page of more than kMaxTiffPixels pixels is refused.
#pragma once

#include <memory>
#include <vector>

#include "fe_raster_reader.h"

namespace fe {

inline constexpr std::uint64_t kMaxTiffPixels = 64ull << 20;

class TiffReader : public RasterReader {
 public:
  explicit TiffReader(std::span<const std::uint8_t> file, bool highRes = true, unsigned lineWidth = 1728);
  ~TiffReader() override;
  int open() override;
  unsigned imageWidth() const override { return width_; }
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;
  std::uint64_t bytesRead() const override;
  std::uint64_t bytesTotal() const override { return file_.size(); }

  struct Memory {  // libtiff's view of the file
    ByteView bytes;
    std::uint64_t pos = 0;
  };

 private:
  int readPage();

  Memory mem_;
  ByteView file_;
  bool highRes_;
  unsigned lineWidth_;
  struct TiffCloser {
    void operator()(void* tif) const;
  };
  std::unique_ptr<void, TiffCloser> tif_;
  unsigned pages_ = 0, page_ = 0;    // directories in the file; the one being read (1-based)
  unsigned width_ = 0, height_ = 0;  // of the page as it goes out
  std::uint32_t row_ = 0;
  std::vector<std::uint8_t> grey_;  // the page as it goes out, width_ bytes a row, 0 = black
};

}  // namespace fe
