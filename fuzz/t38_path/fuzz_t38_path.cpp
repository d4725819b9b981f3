// Fuzz target: any bytes as what arrives on a T.38 call's port while the media
// clock runs. The first byte picks the T.38 version, ECM and the play-out
// cushion; the rest is a list of datagrams, each a length octet and that many
// bytes, a length of 0 standing for one 20 ms tick instead. Each datagram goes to
// the T.38 media path (UDPTL session, IFP reader, normalising, cushion, spandsp's
// gateway); every tick the modem side sends silence and takes the gateway's
// audio. Nothing from the network may crash it or make it read out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "t38_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  fe::voip::TT38Settings settings;
  settings.version = mode & 0x03;
  settings.ecm = (mode & 0x04) != 0;
  settings.cushionMs = (mode & 0x08) != 0 ? 0 : 200;
  settings.pinholePackets = 1;
  std::size_t sent = 0;
  fe::voip::TT38Path path(settings, [&](const std::uint8_t*, std::size_t n) { sent += n; },
                          [](const std::string& line) {
                            if (line.empty()) std::abort();
                          });
  std::int16_t silence[fe::voip::kTickSamples] = {};
  std::int16_t audio[fe::voip::kTickSamples];
  auto tick = [&] {
    path.Transmit(silence, fe::voip::kTickSamples);
    const int n = path.Receive(audio, fe::voip::kTickSamples);
    if (n < 0 || n > fe::voip::kTickSamples) std::abort();
  };
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t length = data[pos++];
    const std::size_t n = std::min(length, size - pos);
    if (n == 0) {
      tick();
      continue;
    }
    // An exact-size copy, so reading past the datagram is caught.
    std::vector<std::uint8_t> datagram(data + pos, data + pos + n);
    pos += n;
    path.Deliver(datagram.data(), datagram.size());
  }
  for (int i = 0; i < 20; ++i) tick();
  return 0;
}
