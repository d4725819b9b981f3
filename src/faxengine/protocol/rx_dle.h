// Receive-side helpers for the modem's page data stream: removing the DLE
// transparency coding and judging the Class 1 training check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fe {

inline constexpr std::uint8_t kDLE = 0x10;
inline constexpr std::uint8_t kETX = 0x03;

// Removes the modem's transparency coding from page data that arrives in pieces
// of any size: DLE DLE stores one DLE, DLE ETX ends the data, DLE followed by any
// other character stores that character. A DLE at the end of one piece is kept
// until the next piece arrives.
class DleDecoder {
 public:
  // Appends the decoded bytes of in[0..n) to out and returns how many input bytes
  // were used: all of them, or fewer when DLE ETX ended the data (the bytes after
  // it belong to the modem's next reply).
  std::size_t Feed(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out);
  bool Ended() const { return ended_; }
  void Reset() { pendingDle_ = ended_ = false; }

 private:
  bool pendingDle_ = false;
  bool ended_ = false;
};

// The Class 1 training check: the caller sends zeros for 1.5 seconds; the check
// passes when fewer than 10 % of the bytes received are non-zero.
class TrainingCheck {
 public:
  void Add(const std::uint8_t* data, std::size_t n);
  void Reset() { bytes_ = nonZero_ = 0; }
  std::size_t Bytes() const { return bytes_; }
  std::size_t NonZero() const { return nonZero_; }
  // No bytes at all is a failed check, not a division by zero.
  bool Good() const { return bytes_ > 0 && nonZero_ * 100 / bytes_ < 10; }

 private:
  std::size_t bytes_ = 0;
  std::size_t nonZero_ = 0;
};

}  // namespace fe
