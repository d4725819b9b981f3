// What the converter process (quillon-convert) writes to its standard output,
// read by ChildDocumentReader. Every record starts with a 32-bit tag; numbers are
// 32-bit in the machine's own byte order (both ends are the same build).
//   kTagPage  width height more pagesTotal, then height rows of width/8 bytes
//             (1 = black), width a multiple of 32
//   kTagDone  pages
//   kTagFail  code (negative error code) textLength, then the text
#pragma once

#include <cstdint>

namespace fe::protocol {

inline constexpr std::uint32_t kTagPage = 0x45474150;  // "PAGE"
inline constexpr std::uint32_t kTagDone = 0x454E4F44;  // "DONE"
inline constexpr std::uint32_t kTagFail = 0x4C494146;  // "FAIL"
inline constexpr std::uint32_t kMaxText = 4096;
// A page longer than 200 inches at 196 lines per inch is refused by the renderer.
inline constexpr std::uint32_t kMaxPageRows = 200 * 196;

struct PageHeader {
  std::uint32_t width, height, more, pagesTotal;
};

}  // namespace fe::protocol
