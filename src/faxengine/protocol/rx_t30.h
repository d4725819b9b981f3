// T.30 details only the receiving side needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fe {

// The "AT+FRM=" modulation code for the caller's DCS: V.17 when its bit 14 is
// set (at 7200, 9600, 12000 or 14400), else V.29 or V.27ter. V.17 uses long
// training for the training check and short training for the pages after it.
std::string RxModulationCode(const std::vector<std::uint8_t>& dcsFif, int bps, bool training);

}  // namespace fe
