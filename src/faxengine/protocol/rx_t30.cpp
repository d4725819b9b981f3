#include "rx_t30.h"

#include "mh_codec.h"
#include "t30.h"

namespace fe {

std::string RxModulationCode(const std::vector<std::uint8_t>& dcsFif, int bps, bool training) {
  constexpr std::uint8_t kBit14V17 = 0x20;
  const bool v17 = dcsFif.size() > 1 && (dcsFif[1] & kBit14V17) != 0;
  if (v17) {
    switch (bps) {
      case 7200:
        return training ? "73" : "74";
      case 9600:
        return training ? "97" : "98";
      case 12000:
        return training ? "121" : "122";
      default:
        return training ? "145" : "146";
    }
  }
  return t30::SpeedFor(bps).longCode;
}

}  // namespace fe

namespace fe {

namespace {

std::uint8_t Reverse8(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Lines decoded without a bad code, minus the bad ones.
int LineScore(const std::uint8_t* data, std::size_t n) {
  const TMhDecodeStats st = MhDecodePage(data, n, false, 1728, [](const std::uint8_t*, unsigned) { return true; });
  return static_cast<int>(st.lines) - 2 * static_cast<int>(st.badLines + st.longLines);
}

}  // namespace

void ReverseBits(std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) data[i] = Reverse8(data[i]);
}

std::size_t FindFirstEol(const std::uint8_t* data, std::size_t n, int& zeroRun) {
  for (std::size_t i = 0; i < n; ++i) {
    if (data[i] == 0) {
      zeroRun += 8;
      continue;
    }
    for (int bit = 0; bit < 8; ++bit) {
      if ((data[i] >> bit & 1) == 0) {
        ++zeroRun;
      } else if (zeroRun >= 11) {
        return i;
      } else {
        zeroRun = 0;
      }
    }
  }
  return n;
}

bool PageDataLooksReversed(const std::uint8_t* data, std::size_t n) {
  std::vector<std::uint8_t> reversed(data, data + n);
  ReverseBits(reversed.data(), n);
  return LineScore(reversed.data(), n) > LineScore(data, n) + 2;
}

}  // namespace fe
