// The Modified Huffman code tables (terminating codes 0-63 and make-up codes of
// both colours, extended make-up codes 1792-2560) as printed, and the same codes
// bit-reversed for a stream filled from the least significant bit.
#pragma once

#include <cstdint>

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

}  // namespace fe::mh
