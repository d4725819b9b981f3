// PCX input (one monochrome page) and DCX input (up to 1023 PCX pages, one fax
// page each).
#pragma once

#include <vector>

#include "fe_raster_reader.h"

namespace fe {

class PcxReader : public RasterReader {
 public:
  // maxWidth: the fax line width; wider images are refused.
  PcxReader(std::span<const std::uint8_t> file, unsigned maxWidth, bool dcx)
      : file_(file), maxWidth_(maxWidth), dcx_(dcx) {}
  int open() override;
  unsigned imageWidth() const override { return width_; }
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;
  std::uint64_t bytesRead() const override { return pos_; }
  std::uint64_t bytesTotal() const override { return file_.size(); }

 private:
  int openPage(std::size_t page);

  ByteView file_;
  unsigned maxWidth_;
  bool dcx_;
  std::vector<std::uint32_t> pages_;  // offsets of the PCX images
  std::size_t page_ = 0;
  // current page
  std::size_t pos_ = 0, end_ = 0;  // run-length data
  unsigned width_ = 0, height_ = 0, bytesPerLine_ = 0, row_ = 0;
  bool invert_ = false;
  unsigned repeat_ = 0;  // a run that continues into the next line
  std::uint8_t repeatByte_ = 0;
  std::vector<std::uint8_t> line_;
};

}  // namespace fe
