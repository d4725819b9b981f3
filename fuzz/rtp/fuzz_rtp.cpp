// Fuzz target: any bytes as a run of datagrams arriving on a G.711 RTP path.
// Each datagram is one length byte and that many bytes (the rest when fewer
// remain); after each, the modem's side takes a tick of audio, which must
// report a count of real samples within the tick.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "rtp_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fe::voip;
  if (size == 0) return 0;
  TRtpPath path(data[0] & 1 ? TG711Law::Alaw : TG711Law::Ulaw, [](const std::uint8_t*, std::size_t) {});
  std::size_t at = 1;
  while (at < size) {
    std::size_t n = data[at++];
    if (n > size - at) n = size - at;
    // An exact copy, so that a read beyond the datagram is caught.
    auto copy = std::make_unique<std::uint8_t[]>(n ? n : 1);
    if (n) std::memcpy(copy.get(), data + at, n);
    at += n;
    TRtpPacket p;
    if (ParseRtp(copy.get(), n, p) && (p.payload < copy.get() || p.payload + p.payloadSize > copy.get() + n))
      std::abort();
    path.Deliver(copy.get(), n);
    std::int16_t out[kTickSamples];
    const int real = path.Receive(out, kTickSamples);
    if (real < 0 || real > kTickSamples) std::abort();
  }
  return 0;
}
