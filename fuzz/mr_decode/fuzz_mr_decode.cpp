// Fuzz target: any bytes as an MR and as an MMR page (received over the line),
// decoded to raster lines and to the MH line records an APF page stores. The
// first byte picks the line width; the rest is the page, or, when it starts with
// "RPT", the long page it describes (repeated_input.h).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mr_codec.h"
#include "repeated_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const unsigned kWidths[] = {1728, 2048, 2432, 4864, 8, 64};
  if (size == 0) return 0;
  unsigned width = kWidths[data[0] % 6];
  // An exact-size copy, so that a read past the end is caught.
  std::vector<std::uint8_t> page;
  if (!qnfuzz::ExpandRepeated(data + 1, size - 1, page)) page.assign(data + 1, data + size);
  page.shrink_to_fit();
  std::vector<std::uint8_t> line(width / 8);
  for (fe::TFaxCoding coding : {fe::TFaxCoding::MR, fe::TFaxCoding::MMR}) {
    fe::T2dPageDecoder dec(page.data(), page.size(), coding, width);
    unsigned lines = 0;
    while (dec.NextLine(line.data()) && ++lines < 10000) {
    }
    if (dec.Consumed() > page.size()) __builtin_trap();
    if (width <= 2048) {
      std::vector<std::uint8_t> records;
      fe::DecodePage2dToMhRecords(page.data(), page.size(), coding, width, records);
    }
  }
  return 0;
}
