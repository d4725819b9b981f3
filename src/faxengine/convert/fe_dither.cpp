// The ordered-dither matrix used to threshold colour and grey images.
#include <array>

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

}  // namespace fe
