// Modified Huffman line encoder: finds the runs of a raster line 64 pixels at a
// time and appends each run's precomputed code through a 64-bit bit buffer.
#include <algorithm>
#include <bit>
#include <cstring>

#include "apf_format.h"
#include "mh_codec.h"
#include "mh_tables.h"

namespace fe {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit buffer stores little-endian words");

// Bytes of slack behind a raster copy so that 64-bit loads never leave it.
constexpr unsigned kSlack = 8;

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return __builtin_bswap64(w);
}

// First pixel at or after `pos` (below `end`) that is not of colour Black.
template <bool Black>
inline unsigned NextChange(const std::uint8_t* buf, unsigned pos, unsigned end) {
  while (pos < end) {
    unsigned shift = pos & 7;
    std::uint64_t w = LoadBigEndian64(buf + (pos >> 3));
    if (Black) w = ~w;
    w <<= shift;
    unsigned valid = 64 - shift;
    if (w) {
      unsigned lz = static_cast<unsigned>(std::countl_zero(w));
      if (lz < valid) return std::min(pos + lz, end);
    }
    pos += valid;
  }
  return end;
}

using mh::BitWriter;

// Input of half width: each run doubled, the last one ending exactly at `width`.
void EncodeDoubled(const std::uint8_t* buf, unsigned span, unsigned width, BitWriter& w) {
  const mh::TRunCode* codes = mh::RunCodes();
  unsigned pos = 0, emitted = 0, colour = 0;
  do {
    unsigned next = colour ? NextChange<true>(buf, pos, span) : NextChange<false>(buf, pos, span);
    unsigned run = next >= span ? width - emitted : std::min((next - pos) * 2, width - emitted);
    w.PutRun(codes, run, colour);
    emitted += run;
    pos = next;
    colour ^= 1;
  } while (pos < span);
}

}  // namespace

std::size_t MhEncodeLine(const std::uint8_t* raster, unsigned pixels, unsigned width, bool doubling,
                         std::uint8_t* out) {
  width = std::min(width, kMaxLineWidth);  // so that no run exceeds the longest make-up code
  unsigned span = doubling ? std::min(pixels, (width + 1) / 2) : std::min(pixels, width);
  // A private copy, white beyond `span`, so the run search needs no bounds checks.
  std::uint8_t buf[kMaxLineWidth / 8 + kSlack] = {};
  std::memcpy(buf, raster, (span + 7) / 8);
  if (span & 7) buf[span / 8] &= static_cast<std::uint8_t>(0xFF00u >> (span & 7));

  BitWriter w(out);
  w.Put(0x8000, 16);  // end of line, value 1 in 16 bits
  if (doubling) {
    EncodeDoubled(buf, span, width, w);
    return w.Finish();
  }
  // Colour changes are the set bits of x ^ (x >> 1) over 64 pixels at a time; each
  // one ends a run (a black first pixel ends a white run of 0).
  const mh::TRunCode* codes = mh::RunCodes();
  unsigned last = 0, colour = 0;
  std::uint64_t before = 0;  // the pixel left of the current word
  for (unsigned base = 0; base < width; base += 64) {
    std::uint64_t x = LoadBigEndian64(buf + base / 8);
    std::uint64_t changes = x ^ ((x >> 1) | (before << 63));
    before = x & 1;
    while (changes) {
      unsigned lz = static_cast<unsigned>(std::countl_zero(changes));
      unsigned at = base + lz;
      if (at >= width) break;
      w.PutRun(codes, at - last, colour);
      colour ^= 1;
      last = at;
      changes ^= (std::uint64_t{1} << 63) >> lz;
    }
  }
  w.PutRun(codes, width - last, colour);
  return w.Finish();
}

std::size_t MhEncodeRtc(std::uint8_t* out) {
  // 16-bit end of line, then 12-bit ones: 00 80, three times 00 08 80, then 00.
  static constexpr std::uint8_t kRtc[kRtcRecordLength] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                                          0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
  std::memcpy(out, kRtc, sizeof kRtc);
  return sizeof kRtc;
}

}  // namespace fe
