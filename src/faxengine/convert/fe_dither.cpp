// The ordered-dither matrix used to threshold colour and grey images.
#include <algorithm>
#include <array>
#include <cstring>

#include "fe_raster_reader.h"

namespace fe {

namespace {
struct DitherMatrix {
  std::array<std::array<unsigned short, 32>, 32> t{};
  DitherMatrix() {
    for (unsigned x = 0; x < 32; ++x)
      for (unsigned y = 0; y < 32; ++y) {
        unsigned a = x, b = y, d = 0;
        for (int i = 0; i < 4; ++i) {
          d = (((a & 1) ^ (b & 1)) * 2) | (2 * d) | (b & 1);
          a >>= 1;
          b >>= 1;
        }
        t[x][y] = static_cast<unsigned short>(10 * d);
      }
  }
};
}  // namespace

unsigned DitherThreshold(unsigned x, unsigned y) {
  static const DitherMatrix matrix;
  return matrix.t[x % 32][y % 32];
}

void GreyRowToBits(const std::uint8_t* grey, unsigned width, unsigned row, std::uint8_t* out) {
  constexpr unsigned kBlackBelow = 40, kWhiteAbove = 215;
  static const DitherMatrix matrix;
  const unsigned y = row % 32;
  const unsigned bytes = (width + 7) / 8;
  std::memset(out, 0, bytes);
  for (unsigned b = 0; b < bytes; ++b) {
    const unsigned x0 = b * 8, x1 = std::min(width, x0 + 8);
    std::uint8_t bits = 0;
    for (unsigned x = x0; x < x1; ++x) {
      const unsigned g = grey[x];
      if (g > kWhiteAbove) continue;
      // thresholds 0-310 spread over the grey scale between the two limits
      if (g < kBlackBelow || g * 310 < matrix.t[x % 32][y] * 255u + 155u) bits |= std::uint8_t(0x80u >> (x - x0));
    }
    out[b] = bits;
  }
}

}  // namespace fe
