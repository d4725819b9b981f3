// Whole-raster operations on one-bit pages for the viewer: scaling by a rational
// factor per axis and rotation by quarter turns.
//
// Conventions: a raster is rows of `stride` bytes, most significant bit = leftmost
// pixel, 1 = black (the fax raster convention). Bits beyond `width` in a row are
// zero on output. Reductions OR the pixels and lines they merge, so thin strokes
// survive; enlargements repeat pixels and lines. Rotation is exact: four quarter
// turns give back the input. No operation allocates beyond the sizes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fe {

struct TRasterView {
  std::uint8_t* bits = nullptr;
  unsigned width = 0, height = 0;
  std::size_t stride = 0;
  std::uint8_t* row(unsigned y) const { return bits + std::size_t(y) * stride; }
};

struct TConstRasterView {
  const std::uint8_t* bits = nullptr;
  unsigned width = 0, height = 0;
  std::size_t stride = 0;
  TConstRasterView() = default;
  TConstRasterView(const std::uint8_t* b, unsigned w, unsigned h, std::size_t s)
      : bits(b), width(w), height(h), stride(s) {}
  TConstRasterView(const TRasterView& v) : bits(v.bits), width(v.width), height(v.height), stride(v.stride) {}
  const std::uint8_t* row(unsigned y) const { return bits + std::size_t(y) * stride; }
};

// An owned raster with rows padded to whole 64-bit words.
struct TRaster {
  unsigned width = 0, height = 0;
  std::size_t stride = 0;
  std::vector<std::uint8_t> bits;
  void Reset(unsigned w, unsigned h);  // all white
  TRasterView view() { return {bits.data(), width, height, stride}; }
  TConstRasterView cview() const { return {bits.data(), width, height, stride}; }
};

// Size of `n` pixels or lines scaled by num/den (at least 1 for a non-empty input).
unsigned ScaledSize(unsigned n, unsigned num, unsigned den);

// Scales `src` into `dst`, whose width and height must be ScaledSize of the source's
// by (hNum/hDen, vNum/vDen).
void ScaleRaster(const TConstRasterView& src, const TRasterView& dst, unsigned hNum, unsigned hDen, unsigned vNum,
                 unsigned vDen);

// Size after `quarterTurns` clockwise quarter turns (0..3).
inline void RotatedSize(unsigned w, unsigned h, int quarterTurns, unsigned* rw, unsigned* rh) {
  const bool swap = quarterTurns & 1;
  *rw = swap ? h : w;
  *rh = swap ? w : h;
}

// Turns `src` clockwise by quarterTurns (0..3) into `dst` (sized by RotatedSize).
void RotateRaster(const TConstRasterView& src, const TRasterView& dst, int quarterTurns);

}  // namespace fe
