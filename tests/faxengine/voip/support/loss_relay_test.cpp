// The lossy relay: datagrams reach the far side and answers come back to the
// sender, the share it loses is near the one asked for, and a seed loses the
// same datagrams every time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "loss_relay.h"

namespace fe::voip::test {
namespace {

using namespace std::chrono_literals;

// Sends count numbered datagrams through a relay with the given loss and
// returns which of them arrived; the far side echoes each one back and the
// echoes are counted in echoed.
std::vector<bool> Through(double loss, uint32_t seed, int count, int* echoed, TLossRelayStats* stats) {
  TUdpSocket caller, answerer;
  EXPECT_EQ(caller.Open("127.0.0.1", 0), 0);
  EXPECT_EQ(answerer.Open("127.0.0.1", 0), 0);
  TLossRelay relay;
  EXPECT_EQ(relay.Start("127.0.0.1", answerer.Local(), {loss, 0.0, seed, 0}), 0) << relay.Error();
  caller.SetRemote(relay.Front());
  std::vector<bool> arrived(static_cast<size_t>(count), false);
  *echoed = 0;
  auto drain = [&] {
    uint8_t buf[16];
    for (int n; (n = answerer.Receive(buf, sizeof buf)) > 0;) {
      const int i = buf[0] << 8 | buf[1];
      if (n == 2 && i < count) arrived[static_cast<size_t>(i)] = true;
      answerer.Send(buf, static_cast<size_t>(n));  // back to the relay it came from
    }
    for (int n; (n = caller.Receive(buf, sizeof buf)) > 0;) ++*echoed;
  };
  for (int i = 0; i < count; ++i) {
    const uint8_t packet[2] = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    caller.Send(packet, sizeof packet);
    // Paced, so that the relay sees them in order and one at a time.
    if (i % 20 == 19) {
      std::this_thread::sleep_for(3ms);
      drain();
    }
  }
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(5ms);
    drain();
  }
  *stats = relay.Stats();
  return arrived;
}

TEST(LossRelay, PassesBothWaysAndLosesTheShareAskedFor) {
  int echoed = 0;
  TLossRelayStats stats;
  const auto clean = Through(0.0, 7, 400, &echoed, &stats);
  EXPECT_EQ(std::count(clean.begin(), clean.end(), true), 400);
  EXPECT_EQ(echoed, 400);
  EXPECT_EQ(stats.forwarded, 400u);
  EXPECT_EQ(stats.backwarded, 400u);
  EXPECT_EQ(stats.LossRate(), 0.0);

  const auto lossy = Through(0.1, 7, 2000, &echoed, &stats);
  const auto got = std::count(lossy.begin(), lossy.end(), true);
  EXPECT_EQ(stats.forwardDropped + stats.forwarded, 2000u);
  EXPECT_EQ(static_cast<uint64_t>(got), stats.forwarded);
  // 10 % of 2000 is 200 with a standard deviation near 13.
  EXPECT_GT(stats.forwardDropped, 140u);
  EXPECT_LT(stats.forwardDropped, 260u);
  // No loss was asked for on the way back.
  EXPECT_EQ(stats.backwardDropped, 0u);
  EXPECT_EQ(static_cast<uint64_t>(echoed), stats.forwarded);
}

TEST(LossRelay, SameSeedLosesTheSameDatagrams) {
  int echoed = 0;
  TLossRelayStats stats;
  const auto a = Through(0.05, 1234, 600, &echoed, &stats);
  const auto b = Through(0.05, 1234, 600, &echoed, &stats);
  const auto c = Through(0.05, 99, 600, &echoed, &stats);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

}  // namespace
}  // namespace fe::voip::test
