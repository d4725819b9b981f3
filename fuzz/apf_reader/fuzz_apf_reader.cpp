// Fuzz target: any bytes as an APF file (header, page walk, page data, decoding
// of every page) and as bare page data in both forms. An input that starts with
// "RPT" is the long bare page it describes (repeated_input.h).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "apf_reader.h"
#include "mh_codec.h"
#include "repeated_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t line[fe::kMaxLineWidth / 8];
  std::vector<std::uint8_t> expanded;
  if (qnfuzz::ExpandRepeated(data, size, expanded)) {
    expanded.shrink_to_fit();
    for (bool records : {false, true}) {
      fe::TMhPageDecoder dec(expanded.data(), expanded.size(), records, size % 2 ? 2048 : 1728);
      while (dec.NextLine(line)) {
      }
    }
    return 0;
  }
  fe::TApfReader reader;
  if (reader.OpenMemory(data, size) == 0) {
    std::vector<fe::TApfPageInfo> pages;
    reader.ScanPages(&pages);
    std::vector<std::uint8_t> page;
    for (const auto& p : pages) {
      if (reader.ReadPageData(p, &page) != 0) continue;
      fe::TMhPageDecoder dec(page.data(), page.size(), p.lineRecords(), p.widthPixels());
      while (dec.NextLine(line)) {
      }
    }
    fe::TApfPageInfo p;
    reader.LocatePage(reader.PageCount(), &p);
  }
  for (bool records : {false, true}) {
    fe::TMhPageDecoder dec(data, size, records, size % 2 ? 2048 : 1728);
    while (dec.NextLine(line)) {
    }
  }
  return 0;
}
