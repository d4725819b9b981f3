// Bilevel raster images in the netpbm PBM format (P4 binary or P1 plain), with the
// fax raster convention: rows of (width + 7) / 8 bytes, most significant bit the
// leftmost pixel, 1 = black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fe {

struct TRasterImage {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<std::uint8_t> bits;

  std::size_t stride() const { return (width + 7) / 8; }
  const std::uint8_t* row(unsigned y) const { return bits.data() + y * stride(); }
  std::uint8_t* row(unsigned y) { return bits.data() + y * stride(); }
  void resize(unsigned w, unsigned h) {
    width = w;
    height = h;
    bits.assign(stride() * h, 0);
  }
};

// Parses every image of a PBM stream (several images in a row are allowed).
// Returns 0, or -8002 for data that is not PBM or is cut short.
int ParsePbm(const std::uint8_t* data, std::size_t size, std::vector<TRasterImage>* images);
int ReadPbmFile(const std::string& path, std::vector<TRasterImage>* images);
// One image as P4.
std::string EncodePbm(const TRasterImage& image);

}  // namespace fe
