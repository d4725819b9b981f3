#include "fe_raster_ops.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace fe {

namespace {

std::size_t RowBytes(unsigned width) {
  return (std::size_t(width) + 7) / 8;
}

// Clears the bits beyond `width` in the last byte and the padding after it.
void ClearTail(std::uint8_t* row, unsigned width, std::size_t stride) {
  const std::size_t bytes = RowBytes(width);
  if (width % 8) row[bytes - 1] &= std::uint8_t(0xFF00 >> (width % 8));
  if (stride > bytes) std::memset(row + bytes, 0, stride - bytes);
}

const std::array<std::uint8_t, 256>& BitReverse() {
  static const std::array<std::uint8_t, 256> table = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
      unsigned r = 0;
      for (unsigned b = 0; b < 8; ++b)
        if (v & (1u << b)) r |= 0x80u >> b;
      t[v] = std::uint8_t(r);
    }
    return t;
  }();
  return table;
}

// Horizontal resampling of one row by num/den (reduced). Output pixel x covers the
// input pixels [x*den/num, max(that + 1, (x+1)*den/num)); the result is their OR.
class HorizontalPlan {
 public:
  HorizontalPlan(unsigned inWidth, unsigned outWidth, unsigned num, unsigned den)
      : in_(inWidth), out_(outWidth), num_(num), den_(den) {
    if (num == den) {
      kind_ = Kind::Copy;
    } else if (8 % den == 0 && 8 * num / den <= 56) {
      // Groups of `den` pixels never straddle a byte: one table lookup per input byte.
      kind_ = Kind::ByteTable;
      bitsPerByte_ = 8 * num / den;
      for (unsigned v = 0; v < 256; ++v) {
        std::uint64_t outBits = 0;
        for (unsigned g = 0; g < 8 / den; ++g)
          for (unsigned k = 0; k < num; ++k) {
            const unsigned lo = k * den / num;
            const unsigned hi = std::max(lo + 1, (k + 1) * den / num);
            bool black = false;
            for (unsigned s = lo; s < hi; ++s) black |= (v >> (7 - (g * den + s))) & 1;
            outBits = (outBits << 1) | (black ? 1 : 0);
          }
        table_[v] = outBits;
      }
    } else {
      kind_ = Kind::Generic;
      lo_.resize(out_);
      hi_.resize(out_);
      for (unsigned x = 0; x < out_; ++x) {
        lo_[x] = unsigned(std::uint64_t(x) * den / num);
        hi_[x] = std::min(in_, std::max(lo_[x] + 1, unsigned(std::uint64_t(x + 1) * den / num)));
      }
    }
  }

  void Scale(const std::uint8_t* in, std::uint8_t* out) const {
    const std::size_t outBytes = RowBytes(out_);
    switch (kind_) {
      case Kind::Copy:
        std::memcpy(out, in, outBytes);
        return;
      case Kind::ByteTable: {
        const std::size_t inBytes = RowBytes(in_);
        std::uint64_t acc = 0;
        unsigned have = 0;
        std::size_t o = 0;
        for (std::size_t i = 0; i < inBytes && o < outBytes; ++i) {
          acc = (acc << bitsPerByte_) | table_[in[i]];
          have += bitsPerByte_;
          while (have >= 8 && o < outBytes) {
            have -= 8;
            out[o++] = std::uint8_t(acc >> have);
          }
        }
        if (o < outBytes && have) out[o++] = std::uint8_t(acc << (8 - have));
        if (o < outBytes) std::memset(out + o, 0, outBytes - o);
        return;
      }
      case Kind::Generic:
        std::memset(out, 0, outBytes);
        for (unsigned x = 0; x < out_; ++x)
          for (unsigned s = lo_[x]; s < hi_[x]; ++s)
            if (in[s / 8] & (0x80 >> (s % 8))) {
              out[x / 8] |= std::uint8_t(0x80 >> (x % 8));
              break;
            }
        return;
    }
  }

 private:
  enum class Kind { Copy, ByteTable, Generic };
  unsigned in_, out_, num_, den_;
  Kind kind_ = Kind::Copy;
  unsigned bitsPerByte_ = 8;
  std::array<std::uint64_t, 256> table_{};
  std::vector<unsigned> lo_, hi_;
};

// dst(x', y') = S(y', x'), where S is the source with its rows read bottom-up when
// flipSource is set; the row for x' goes to dst row W-1-x' when flipDest is set.
// Works on 8x8 blocks, skipping all-white ones (the destination is cleared first).
void Transpose(const TConstRasterView& src, const TRasterView& dst, bool flipSource, bool flipDest) {
  for (unsigned y = 0; y < dst.height; ++y) std::memset(dst.row(y), 0, dst.stride);
  const std::size_t srcBytes = RowBytes(src.width);
  for (unsigned by = 0; by < src.height; by += 8) {
    const std::uint8_t* rows[8];
    for (unsigned i = 0; i < 8; ++i) {
      const unsigned y = by + i;
      rows[i] = y < src.height ? src.row(flipSource ? src.height - 1 - y : y) : nullptr;
    }
    const std::size_t dstByte = by / 8;
    for (std::size_t bx = 0; bx < srcBytes; ++bx) {
      std::uint64_t x = 0;
      for (unsigned i = 0; i < 8; ++i) x = (x << 8) | (rows[i] ? rows[i][bx] : 0);
      if (!x) continue;
      std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
      x = x ^ t ^ (t << 7);
      t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
      x = x ^ t ^ (t << 14);
      t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
      x = x ^ t ^ (t << 28);
      for (unsigned i = 0; i < 8; ++i) {
        const unsigned col = unsigned(bx * 8 + i);
        if (col >= src.width) break;
        const unsigned drow = flipDest ? src.width - 1 - col : col;
        dst.row(drow)[dstByte] = std::uint8_t(x >> (56 - 8 * i));
      }
    }
  }
}

void Rotate180(const TConstRasterView& src, const TRasterView& dst) {
  const auto& rev = BitReverse();
  const std::size_t bytes = RowBytes(src.width);
  const unsigned pad = unsigned(bytes * 8 - src.width);
  for (unsigned y = 0; y < src.height; ++y) {
    const std::uint8_t* in = src.row(src.height - 1 - y);
    std::uint8_t* out = dst.row(y);
    for (std::size_t i = 0; i < bytes; ++i) out[i] = rev[in[bytes - 1 - i]];
    if (pad) {
      for (std::size_t i = 0; i + 1 < bytes; ++i) out[i] = std::uint8_t((out[i] << pad) | (out[i + 1] >> (8 - pad)));
      out[bytes - 1] = std::uint8_t(out[bytes - 1] << pad);
    }
    ClearTail(out, dst.width, dst.stride);
  }
}

}  // namespace

void TRaster::Reset(unsigned w, unsigned h) {
  width = w;
  height = h;
  stride = (RowBytes(w) + 7) / 8 * 8;
  bits.assign(stride * h, 0);
}

unsigned ScaledSize(unsigned n, unsigned num, unsigned den) {
  if (n == 0) return 0;
  const std::uint64_t s = std::uint64_t(n) * std::max(1u, num) / std::max(1u, den);
  return unsigned(std::max<std::uint64_t>(1, s));
}

void ScaleRaster(const TConstRasterView& src, const TRasterView& dst, unsigned hNum, unsigned hDen, unsigned vNum,
                 unsigned vDen) {
  hNum = std::max(1u, hNum), hDen = std::max(1u, hDen), vNum = std::max(1u, vNum), vDen = std::max(1u, vDen);
  const unsigned hg = std::gcd(hNum, hDen), vg = std::gcd(vNum, vDen);
  hNum /= hg, hDen /= hg, vNum /= vg, vDen /= vg;
  if (!src.height || !src.width || !dst.height) return;
  const HorizontalPlan plan(src.width, dst.width, hNum, hDen);
  const std::size_t words = (RowBytes(src.width) + 7) / 8;
  std::vector<std::uint64_t> acc(words);
  long lastLo = -1, lastHi = -1;
  for (unsigned y = 0; y < dst.height; ++y) {
    unsigned lo = unsigned(std::uint64_t(y) * vDen / vNum);
    unsigned hi = std::max(lo + 1, unsigned(std::uint64_t(y + 1) * vDen / vNum));
    lo = std::min(lo, src.height - 1);
    hi = std::min(hi, src.height);
    std::uint8_t* out = dst.row(y);
    if (long(lo) == lastLo && long(hi) == lastHi) {  // enlargement: the same line again
      std::memcpy(out, dst.row(y - 1), dst.stride);
      continue;
    }
    lastLo = lo, lastHi = hi;
    const std::uint8_t* line = src.row(lo);
    if (hi - lo > 1) {  // merge the lines with whole-word ORs
      std::fill(acc.begin(), acc.end(), 0);
      const std::size_t bytes = RowBytes(src.width);
      for (unsigned s = lo; s < hi; ++s) {
        const std::uint8_t* r = src.row(s);
        std::size_t w = 0;
        for (; (w + 1) * 8 <= bytes; ++w) {
          std::uint64_t v;
          std::memcpy(&v, r + w * 8, 8);
          acc[w] |= v;
        }
        if (w * 8 < bytes) {
          std::uint64_t v = 0;
          std::memcpy(&v, r + w * 8, bytes - w * 8);
          acc[w] |= v;
        }
      }
      line = reinterpret_cast<const std::uint8_t*>(acc.data());
    }
    plan.Scale(line, out);
    ClearTail(out, dst.width, dst.stride);
  }
}

void RotateRaster(const TConstRasterView& src, const TRasterView& dst, int quarterTurns) {
  switch (quarterTurns & 3) {
    case 0:
      for (unsigned y = 0; y < src.height; ++y) {
        std::memcpy(dst.row(y), src.row(y), RowBytes(src.width));
        ClearTail(dst.row(y), dst.width, dst.stride);
      }
      return;
    case 1:
      Transpose(src, dst, true, false);
      return;
    case 2:
      Rotate180(src, dst);
      return;
    case 3:
      Transpose(src, dst, false, true);
      return;
  }
}

}  // namespace fe
