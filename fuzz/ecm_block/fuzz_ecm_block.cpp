// Fuzz target: any bytes as an error-correction burst the receiver reads after
// "AT+FRM=", followed by the PPS that closes it. The first byte picks the frame
// size, the coding and the PPS fields' place; the frames found go into the
// block collector, the PPS through its parser and the lost-MCF check, and the
// block's data (whole, or up to its first gap) through the 2-D decoder into MH
// line records, as the receive engine stores a page.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ecm.h"
#include "hdlc.h"
#include "mr_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint8_t mode = data[0];
  const std::vector<std::uint8_t> ppsFif(data + 1, data + 5);
  data += 5;
  size -= 5;
  fe::ecm::TBlockCollector block(mode & 1 ? 64 : 256);
  fe::hdlc::TDeframer deframer(270);
  deframer.Put(data, size);
  std::vector<std::uint8_t> frame;
  while (deframer.Take(frame)) (void)block.Add(frame);
  if (auto pps = fe::ecm::ParsePpsFif(ppsFif)) {
    (void)fe::ecm::MatchPps(*pps, 0, 0, 0, 0, (mode & 2) != 0);
    block.SetCount(pps->frames);
  } else {
    block.SetCount(mode);
  }
  (void)block.MissingMap();
  (void)block.Complete();
  const fe::TFaxCoding coding = mode & 4 ? fe::TFaxCoding::MMR : fe::TFaxCoding::MR;
  const std::vector<std::uint8_t> page = mode & 8 ? block.DataUntilGap() : block.Data();
  std::vector<std::uint8_t> records;
  (void)fe::DecodePage2dToMhRecords(page.data(), page.size(), coding, mode & 16 ? 2048 : 1728, records);
  block.Clear();
  return 0;
}
