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

bool TrimToFirstEol(std::vector<std::uint8_t>& data) {
  int zeros = 0;
  std::size_t runByte = 0;
  int runBit = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      if ((data[i] >> bit & 1) == 0) {
        if (zeros++ == 0) runByte = i, runBit = bit;
        continue;
      }
      if (zeros >= 11) {
        data.erase(data.begin(), data.begin() + static_cast<long>(runByte));
        data[0] &= static_cast<std::uint8_t>(0xFF << runBit);
        return true;
      }
      zeros = 0;
    }
  }
  data.erase(data.begin(), data.begin() + static_cast<long>(zeros > 0 ? runByte : data.size()));
  return false;
}

bool PageDataLooksReversed(const std::uint8_t* data, std::size_t n) {
  std::vector<std::uint8_t> reversed(data, data + n);
  ReverseBits(reversed.data(), n);
  return LineScore(reversed.data(), n) > LineScore(data, n) + 2;
}

}  // namespace fe
