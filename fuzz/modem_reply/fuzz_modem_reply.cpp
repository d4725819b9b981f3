// Fuzz target: any bytes as what a fax modem sends. The first byte picks how the
// reader is driven (lines, HDLC frames, page data); every line goes through the
// reply classifier and the Class 2 / 2.0 report parsers, every block through the
// T.30 frame, identifier, DIS and DCS parsers, and page data through the checks
// the receive engine makes on a page's first bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "class2.h"
#include "modem_reader.h"
#include "rx_t30.h"
#include "t30.h"

namespace {

void ParseLine(const std::string& line) {
  (void)fe::ClassifyReply(line);
  for (fe::TFaxClass c : {fe::TFaxClass::fcClass2, fe::TFaxClass::fcClass2_0}) {
    const fe::TClass2Commands& t = fe::Class2Commands(c);
    for (const char* prefix : {t.connected, t.sessionParams, t.remoteTsi, t.remoteCsi, t.pageStatus, t.hangup}) {
      if (auto v = fe::ReportValue(line, prefix)) {
        (void)fe::ReportFields(*v);
        (void)fe::ParseClass2Params(*v);
        (void)fe::ParseClass2Id(*v);
      }
    }
    if (auto v = fe::ReportValue(line, t.RemoteCaps())) (void)fe::ParseClass2Params(*v);
  }
  (void)fe::ParseClassSupport(line);
  const auto codes = fe::t30::ParseModulationList(line);
  (void)fe::t30::HighestModemSpeed(codes, 14400);
}

void ParseBlock(const std::vector<std::uint8_t>& block) {
  for (bool fcs : {true, false}) {
    auto f = fe::t30::ParseFrame(block, fcs);
    if (!f) continue;
    (void)fe::t30::FcfName(f->fcf);
    (void)fe::t30::DecodeId(f->fif);
    const fe::t30::DisCaps dis = fe::t30::ParseDis(f->fif);
    (void)fe::t30::ChooseSpeed(dis, 14400, {24, 48, 72, 96, 121, 145});
    if (auto dcs = fe::t30::ParseDcs(f->fif)) (void)fe::RxModulationCode(f->fif, dcs->bps, true);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  fe::TModemReader reader;
  // Fed in two parts, so that a line or block split across reads is covered.
  const std::size_t split = size ? (mode >> 2) % (size + 1) : 0;
  reader.Feed(data, split);
  std::string line;
  std::vector<std::uint8_t> block;
  auto drain = [&] {
    for (int guard = 0; guard < 4096; ++guard) {
      switch ((mode + guard) & 3) {
        case 0:
        case 1:
          if (!reader.TakeLine(line)) return;
          ParseLine(line);
          break;
        case 2: {
          block.clear();
          const bool ended = reader.TakeBlock(block, 512);
          ParseBlock(block);
          if (!ended) return;
          break;
        }
        default: {
          block.clear();
          const bool ended = reader.TakeBlock(block);
          std::vector<std::uint8_t> page = block;
          (void)fe::PageDataLooksReversed(page.data(), page.size());
          (void)fe::TrimToFirstEol(page);
          fe::ReverseBits(page.data(), page.size());
          if (!ended) return;
          break;
        }
      }
    }
  };
  drain();
  reader.Feed(data + split, size - split);
  drain();
  std::uint8_t b;
  while (reader.TakeByte(b)) {
  }
  return 0;
}
