// The Modified Huffman code tables (terminating codes 0-63 and make-up codes of
// both colours, extended make-up codes 1792-2560) as printed, the same codes
// bit-reversed for a stream filled from the least significant bit, the mode codes
// of two-dimensional coding, and the bit writer the encoders share.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fe::mh {

struct TCode {
  std::uint16_t bits;  // printed order: first bit is the most significant of `length`
  std::uint8_t length;
};

extern const TCode kWhiteTerm[64];
extern const TCode kBlackTerm[64];
extern const TCode kWhiteMakeup[27];  // 64, 128, ... 1728
extern const TCode kBlackMakeup[27];
extern const TCode kExtMakeup[13];  // 1792, 1856, ... 2560, both colours

constexpr unsigned kMaxRun = 2560;  // longest single make-up code

// A run's complete code (make-up code if any, then the terminating code) in
// stream order: bit 0 is the first bit sent. At most 25 bits.
struct TRunCode {
  std::uint32_t bits;
  std::uint32_t length;
};
// The codes of runs 0..kMaxRun of both colours, interleaved: entry run * 2 + colour
// (colour 0 = white, 1 = black).
const TRunCode* RunCodes();

constexpr std::uint32_t Reverse(std::uint32_t bits, unsigned length) {
  std::uint32_t r = 0;
  for (unsigned i = 0; i < length; ++i) r |= ((bits >> i) & 1u) << (length - 1 - i);
  return r;
}

// Two-dimensional mode codes as printed: pass, horizontal, and vertical with
// a1 - b1 = -3 .. 3 (entry d + 3).
constexpr TCode kPassCode{0b0001, 4};
constexpr TCode kHorizontalCode{0b001, 3};
constexpr TCode kVerticalCodes[7] = {{0b0000010, 7}, {0b000010, 6}, {0b010, 3},    {0b1, 1},
                                     {0b011, 3},     {0b000011, 6}, {0b0000011, 7}};
// The end-of-line code 000000000001 in stream order, and the extended make-up
// code for 2560 (both colours) that runs longer than kMaxRun repeat.
constexpr std::uint32_t kEolBits = 1u << 11;
constexpr unsigned kEolLength = 12;
constexpr TCode kMakeup2560{0b000000011111, 12};

// Appends codes in stream order through a 64-bit buffer: every code is ORed in
// and the whole bytes are stored at once, so the output needs room for a word
// behind the last byte. It may start with pending bits (fewer than 8) left by
// an earlier writer; they become the first bits of the output.
class BitWriter {
 public:
  static_assert(std::endian::native == std::endian::little, "the bit buffer stores little-endian words");
  explicit BitWriter(std::uint8_t* out, std::uint64_t pending = 0, unsigned pendingCount = 0)
      : out_(out), acc_(pending), count_(pendingCount) {}
  void Put(std::uint32_t bits, unsigned length) {  // length <= 32
    acc_ |= std::uint64_t{bits} << count_;
    count_ += length;
    std::memcpy(out_ + bytes_, &acc_, 8);
    bytes_ += count_ >> 3;
    acc_ >>= count_ & ~7u;
    count_ &= 7;
  }
  void PutRun(const TRunCode* codes, unsigned run, unsigned colour) {
    const TRunCode& c = codes[run * 2 + colour];
    Put(c.bits, c.length);
  }
  void PutZeros(unsigned n) {
    for (; n > 32; n -= 32) Put(0, 32);
    Put(0, n);
  }
  // Stores the rest (zero bytes behind it) and returns whole bytes filled + 2.
  std::size_t Finish() {
    std::memcpy(out_ + bytes_, &acc_, 8);
    return bytes_ + 2;
  }
  std::size_t Bytes() const { return bytes_; }  // whole bytes written
  std::size_t Bits() const { return bytes_ * 8 + count_; }
  std::uint64_t Pending() const { return acc_; }  // bits not yet in a whole byte
  unsigned PendingCount() const { return count_; }

 private:
  std::uint8_t* out_;
  std::uint64_t acc_;
  unsigned count_;
  std::size_t bytes_ = 0;
};

}  // namespace fe::mh
