// Fuzz target: any bytes as a run of datagrams arriving on a T.38 port. The
// first byte picks the receiver's settings and the T.38 version; the rest is a
// list of datagrams, each a length octet and that many bytes (a length past the
// end takes what is left), with a length of 0 letting 40 ms pass instead. Every
// datagram goes through the packet reader and a UDPTL session; every IFP the
// session hands on goes through the IFP reader, normalising and writer. Checks:
// a packet read well must write back and read the same; IFPs come out in
// sequence order; a normalised IFP must read back as what was written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ifp.h"
#include "udptl.h"

namespace {

using fe::voip::udptl::TBytes;

void CheckPacket(const std::uint8_t* data, std::size_t size) {
  fe::voip::udptl::TPacket packet;
  if (fe::voip::udptl::Decode(data, size, packet) != fe::voip::udptl::TDecodeError::None) return;
  TBytes bytes;
  if (!fe::voip::udptl::Encode(packet, bytes)) std::abort();
  fe::voip::udptl::TPacket again;
  if (fe::voip::udptl::Decode(bytes.data(), bytes.size(), again) != fe::voip::udptl::TDecodeError::None) std::abort();
  if (again.seq != packet.seq || again.primary != packet.primary || again.fec != packet.fec ||
      again.secondaries != packet.secondaries || again.fecSpan != packet.fecSpan || again.fecData != packet.fecData)
    std::abort();
}

void CheckIfp(const std::uint8_t* data, std::size_t size, int version) {
  fe::voip::ifp::TIfp packet;
  const std::size_t used = fe::voip::ifp::Parse(data, size, version, packet);
  (void)fe::voip::ifp::Describe(data, size, version);
  if (used == 0) return;
  if (used > size) std::abort();
  fe::voip::ifp::Normalise(packet);
  const TBytes bytes = fe::voip::ifp::Encode(packet, version);
  if (bytes.empty()) return;  // extension values read in a version 0 packet are not written
  fe::voip::ifp::TIfp back;
  if (fe::voip::ifp::Parse(bytes.data(), bytes.size(), version, back) != bytes.size()) std::abort();
  if (fe::voip::ifp::Describe(back) != fe::voip::ifp::Describe(packet)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  fe::voip::udptl::TSession::TSettings settings;
  settings.holdMs = 20 + 20 * (mode & 0x07);
  const int version = (mode >> 3) & 0x03;
  fe::voip::udptl::TSession session(settings);
  bool started = false;
  std::uint16_t last = 0;
  std::uint64_t resyncs = 0;
  session.SetIfpSink([&](std::uint16_t seq, const std::uint8_t* ifp, std::size_t n, fe::voip::udptl::TOrigin) {
    // In order: within a run each IFP comes after the one before; a resync
    // (the far end numbering afresh) may start anywhere.
    const std::uint64_t now = session.Stats().resyncs;
    if (started && now == resyncs && static_cast<std::int16_t>(static_cast<std::uint16_t>(seq - last)) <= 0)
      std::abort();
    started = true;
    last = seq;
    resyncs = now;
    // An exact-size copy, so reading past the IFP is caught.
    std::vector<std::uint8_t> copy(ifp, ifp + n);
    CheckIfp(copy.data(), copy.size(), version);
  });
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t length = data[pos++];
    const std::size_t n = std::min(length, size - pos);
    if (n == 0) {
      session.Advance(40);
      continue;
    }
    std::vector<std::uint8_t> datagram(data + pos, data + pos + n);
    pos += n;
    CheckPacket(datagram.data(), datagram.size());
    session.Receive(datagram.data(), datagram.size());
  }
  session.Flush();
  return 0;
}
