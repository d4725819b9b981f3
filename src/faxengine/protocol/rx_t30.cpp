#include "rx_t30.h"

#include "t30.h"

namespace fe {

std::string RxModulationCode(const std::vector<std::uint8_t>& dcsFif, int bps, bool training) {
  constexpr std::uint8_t kBit14V17 = 0x20;
  const bool v17 = dcsFif.size() > 1 && (dcsFif[1] & kBit14V17) != 0;
  if (v17) {
    switch (bps) {
      case 7200: return training ? "73" : "74";
      case 9600: return training ? "97" : "98";
      case 12000: return training ? "121" : "122";
      default: return training ? "145" : "146";
    }
  }
  return t30::SpeedFor(bps).longCode;
}

}  // namespace fe
