// Long inputs from short ones. A decoder's worst inputs are long (a run of
// make-up codes over megabytes, a page that never ends), and libFuzzer's inputs
// are short. An input that starts with "RPT" therefore describes a long one:
//
//   "RPT" P L C0 C1  prefix[P]  piece[1 + L % 32]  tail...
//
// becomes prefix, then the piece (C0 + 256 * C1) * 40 + 1 times, then the tail;
// the fuzzer mutates the piece and the repeat count like any other bytes. The
// result is capped at 8 MB.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qnfuzz {

inline bool ExpandRepeated(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  constexpr std::size_t kHeader = 7, kMaxBytes = std::size_t{8} << 20;
  if (size < kHeader || std::memcmp(data, "RPT", 3) != 0) return false;
  const std::size_t prefix = std::min<std::size_t>(data[3], size - kHeader);
  const std::size_t piece = std::min<std::size_t>(1 + data[4] % 32, size - kHeader - prefix);
  std::size_t count = (std::size_t{data[5]} | std::size_t{data[6]} << 8) * 40 + 1;
  const std::uint8_t* body = data + kHeader;
  const std::size_t tail = size - kHeader - prefix - piece;
  if (piece) count = std::min(count, (kMaxBytes - prefix - tail) / piece);
  out.clear();
  out.reserve(prefix + piece * count + tail);
  out.insert(out.end(), body, body + prefix);
  for (std::size_t i = 0; piece && i < count; ++i) out.insert(out.end(), body + prefix, body + prefix + piece);
  out.insert(out.end(), body + prefix + piece, data + size);
  return true;
}

}  // namespace qnfuzz
