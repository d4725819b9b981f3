// Timer ticks of the fax engine. Waits on the modem are counted in ticks of the
// 18.2-per-second system timer; one tick is exactly 92/1675 of a second.
#pragma once

#include <chrono>

namespace fe {

inline constexpr long kTickNumerator = 92;  // seconds per tick = 92 / 1675
inline constexpr long kTickDenominator = 1675;

// Whole seconds to ticks, rounded down: 10 s -> 182 ticks, 60 s -> 1092 ticks.
constexpr long SecondsToTicks(long seconds) {
  return seconds * kTickDenominator / kTickNumerator;
}

// Milliseconds to ticks, rounded down.
constexpr long MillisecondsToTicks(long ms) {
  return ms * kTickDenominator / (kTickNumerator * 1000);
}

// The duration of a number of ticks, rounded up to the next microsecond so that a
// wait of N ticks never ends before N ticks have passed.
constexpr std::chrono::microseconds TicksToDuration(long ticks) {
  if (ticks <= 0) return std::chrono::microseconds(0);
  const long long num = static_cast<long long>(ticks) * kTickNumerator * 1000000LL;
  return std::chrono::microseconds((num + kTickDenominator - 1) / kTickDenominator);
}

}  // namespace fe
