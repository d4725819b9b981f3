// Fuzz target: the PBM reader behind "qnfax encode". Every image it accepts
// must survive being written out and read back unchanged.
#include <cstdlib>
#include <string>
#include <vector>

#include "raster_pbm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<fe::TRasterImage> images;
  if (fe::ParsePbm(data, size, &images) != 0) return 0;
  for (const fe::TRasterImage& img : images) {
    if (img.bits.size() != img.stride() * img.height) std::abort();
    const std::string again = fe::EncodePbm(img);
    std::vector<fe::TRasterImage> back;
    if (fe::ParsePbm(reinterpret_cast<const std::uint8_t*>(again.data()), again.size(), &back) != 0 || back.size() != 1)
      std::abort();
    // Bits past the width in a row's last byte are padding and need not match.
    if (back[0].width != img.width || back[0].height != img.height) std::abort();
    const unsigned tail = img.width % 8;
    const std::uint8_t mask = tail ? static_cast<std::uint8_t>(0xFF00u >> tail) : 0xFF;
    for (unsigned y = 0; y < img.height; ++y)
      for (std::size_t x = 0; x < img.stride(); ++x) {
        const std::uint8_t m = x + 1 == img.stride() ? mask : 0xFF;
        if ((img.row(y)[x] & m) != (back[0].row(y)[x] & m)) std::abort();
      }
  }
  return 0;
}
