// A bit stream's trip through a Class 1 modem's data commands: DLE doubled and
// DLE ETX appended as the DTE writes it, then read back with the engines' reader.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "modem_reader.h"
#include "t30.h"

namespace fe::test {

// The block the reader hands back; nothing when it does not end where it should.
inline std::optional<std::vector<uint8_t>> ThroughModem(const std::vector<uint8_t>& bits) {
  std::vector<uint8_t> wire;
  t30::AppendStuffed(wire, bits.data(), bits.size());
  wire.push_back(t30::kDLE);
  wire.push_back(t30::kETX);
  TModemReader reader;
  reader.Feed(wire.data(), wire.size());
  std::vector<uint8_t> block;
  if (!reader.TakeBlock(block, 1 << 20) || reader.Pending() != 0) return std::nullopt;
  return block;
}

}  // namespace fe::test
