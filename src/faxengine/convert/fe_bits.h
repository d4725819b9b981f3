// Small bit helpers shared by the raster readers and writers.
#pragma once

#include <cstdint>

namespace fe {

inline std::uint8_t ReverseBits(std::uint8_t b) {
  b = std::uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = std::uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return std::uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Clears the bits beyond `pixels` in the last byte of a raster line (they are white).
inline void ClearPadBits(std::uint8_t* line, unsigned pixels) {
  if (pixels % 8) line[pixels / 8] &= std::uint8_t(0xFF << (8 - pixels % 8));
}

}  // namespace fe
