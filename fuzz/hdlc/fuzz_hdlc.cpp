// Fuzz target: any bytes as the bit stream a modem hands over after "AT+FRM=".
// The first byte picks the largest frame and where the stream is split, so
// frames cut across reads are covered. Every frame the deframer accepts must
// survive being framed again and deframed unchanged, and goes through the T.30
// frame parser the engines use next.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hdlc.h"
#include "t30.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  fe::hdlc::TDeframer d(mode & 1 ? 300 : 40);
  const std::size_t split = size ? (mode >> 1) % (size + 1) : 0;
  d.Put(data, split);
  d.Put(data + split, size - split);
  std::vector<std::uint8_t> frame;
  while (d.Take(frame)) {
    (void)fe::t30::ParseFrame(frame, false);
    fe::hdlc::TFramer f;
    f.Flags(1);
    f.Frame(frame);
    f.Flags(1);
    fe::hdlc::TDeframer again;
    again.Put(f.Take());
    std::vector<std::uint8_t> back;
    if (!again.Take(back) || back != frame) std::abort();
  }
  return 0;
}
