// TIFF input: bilevel images, uncompressed or PackBits, in one or many strips,
// either byte order. Every directory of the file is one fax page.
#pragma once

#include <vector>

#include "fe_raster_reader.h"

namespace fe {

class TiffReader : public RasterReader {
 public:
  explicit TiffReader(std::span<const std::uint8_t> file) : file_(file) {}
  int open() override;
  unsigned imageWidth() const override { return width_; }
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;
  std::uint64_t bytesRead() const override { return consumed_; }
  std::uint64_t bytesTotal() const override { return file_.size(); }

 private:
  struct Strip {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
  };
  int readDirectory(std::uint32_t at);
  bool fieldValues(std::size_t entry, std::vector<std::uint32_t>& out, std::size_t maxCount) const;
  std::uint16_t u16(std::size_t at) const { return bigEndian_ ? file_.u16be(at) : file_.u16le(at); }
  std::uint32_t u32(std::size_t at) const { return bigEndian_ ? file_.u32be(at) : file_.u32le(at); }
  int decodeRow(std::uint8_t* buf);

  ByteView file_;
  bool bigEndian_ = false;
  std::vector<std::uint32_t> visited_;  // directory offsets seen, against loops
  // current directory
  std::uint32_t width_ = 0, length_ = 0, rowsPerStrip_ = 0, nextDirectory_ = 0;
  unsigned rowBytes_ = 0;
  bool packBits_ = false, invert_ = false, reversedBits_ = false;
  std::vector<Strip> strips_;
  // decoding position
  std::uint32_t row_ = 0;
  std::size_t strip_ = 0, stripPos_ = 0;
  std::uint64_t consumed_ = 0;
};

}  // namespace fe
