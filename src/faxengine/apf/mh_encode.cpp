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

// First pixel at or after `pos` (below `end`) that is not of colour `black`.
inline unsigned NextChange(const std::uint8_t* buf, unsigned pos, unsigned end, bool black) {
  const std::uint64_t flip = black ? ~std::uint64_t{0} : 0;
  while (pos < end) {
    unsigned shift = pos & 7;
    std::uint64_t w = (LoadBigEndian64(buf + (pos >> 3)) ^ flip) << shift;
    unsigned valid = 64 - shift;
    if (w) {
      unsigned lz = static_cast<unsigned>(std::countl_zero(w));
      if (lz < valid) return std::min(pos + lz, end);
    }
    pos += valid;
  }
  return end;
}

class BitWriter {
 public:
  explicit BitWriter(std::uint8_t* out) : out_(out) {}
  void Put(std::uint32_t bits, unsigned length) {
    acc_ |= std::uint64_t{bits} << count_;
    count_ += length;
    if (count_ >= 32) {
      std::uint32_t word = static_cast<std::uint32_t>(acc_);
      std::memcpy(out_ + bytes_, &word, 4);
      bytes_ += 4;
      acc_ >>= 32;
      count_ -= 32;
    }
  }
  void PutRun(const mh::TRunCode* codes, unsigned run) {
    while (run > mh::kMaxRun) {  // only for widths beyond any fax line
      Put(codes[mh::kMaxRun].bits & ((1u << 12) - 1), 12);
      run -= mh::kMaxRun;
    }
    Put(codes[run].bits, codes[run].length);
  }
  // Stores the rest (zero bytes behind it) and returns whole bytes filled + 2.
  std::size_t Finish() {
    std::memcpy(out_ + bytes_, &acc_, 8);
    return bytes_ + count_ / 8 + 2;
  }

 private:
  std::uint8_t* out_;
  std::uint64_t acc_ = 0;
  unsigned count_ = 0;
  std::size_t bytes_ = 0;
};

}  // namespace

std::size_t MhEncodeLine(const std::uint8_t* raster, unsigned pixels, unsigned width, bool doubling,
                         std::uint8_t* out) {
  width = std::min(width, kMaxLineWidth);
  unsigned span = doubling ? std::min(pixels, (width + 1) / 2) : std::min(pixels, width);
  // A private copy, white beyond `span`, so the run search needs no bounds checks.
  std::uint8_t buf[kMaxLineWidth / 8 + kSlack] = {};
  std::memcpy(buf, raster, (span + 7) / 8);
  if (span & 7) buf[span / 8] &= static_cast<std::uint8_t>(0xFF00u >> (span & 7));
  unsigned scanEnd = doubling ? span : width;

  const mh::TRunCode* white = mh::RunCodes(0);
  const mh::TRunCode* black = mh::RunCodes(1);
  BitWriter w(out);
  w.Put(0x8000, 16);  // end of line, value 1 in 16 bits
  unsigned pos = 0, emitted = 0;
  bool isBlack = false;
  do {
    unsigned next = NextChange(buf, pos, scanEnd, isBlack);
    unsigned run = next - pos;
    if (doubling) run = next >= scanEnd ? width - emitted : std::min(run * 2, width - emitted);
    w.PutRun(isBlack ? black : white, run);
    emitted += run;
    pos = next;
    isBlack = !isBlack;
  } while (pos < scanEnd);
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
