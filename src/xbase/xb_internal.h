// Helpers shared by the engine's source files (not part of the interface).
#pragma once

#include <cstdint>
#include <string>

namespace xb {

// Little-endian fields of the DBF and CDX headers.
inline uint32_t le16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
inline uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void putLe16(uint8_t* p, uint32_t v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
}
inline void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}

// Thrown inside the engine and turned into a negated code plus text at the
// boundary of every public call.
struct Failure {
  int code;
  std::string message;
};

[[noreturn]] inline void failWith(int code, std::string message) {
  throw Failure{code, std::move(message)};
}

}  // namespace xb
