// BMP input: uncompressed 1-, 4-, 8-, 24- and 32-bit images (and 32-bit ones with
// bit-field masks). One-bit images keep their pixels; all others are thresholded
// with the ordered-dither matrix.
#pragma once

#include <array>

#include "fe_raster_reader.h"

namespace fe {

class BmpReader : public RasterReader {
 public:
  explicit BmpReader(std::span<const std::uint8_t> file) : file_(file) {}
  int open() override;
  unsigned imageWidth() const override { return width_; }
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;
  std::uint64_t bytesRead() const override { return consumed_; }
  std::uint64_t bytesTotal() const override { return file_.size(); }

 private:
  ByteView file_;
  unsigned width_ = 0, height_ = 0, bits_ = 0, row_ = 0;
  bool topDown_ = false;
  std::size_t pixels_ = 0, stride_ = 0;
  std::uint64_t consumed_ = 0;
  std::array<std::uint16_t, 256> paletteSum_{};  // red + green + blue of each colour
  std::array<std::uint32_t, 3> masks_{};         // 32-bit pixels: red, green, blue
  std::array<unsigned, 3> shifts_{}, maxes_{};
};

}  // namespace fe
