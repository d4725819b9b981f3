// Trigger matching, rings, flow-control thresholds and tick arithmetic, without a device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fe_errors.h"
#include "fe_portsettings.h"
#include "fe_ring.h"
#include "fe_ticks.h"
#include "fe_triggers.h"

namespace {

std::vector<int> FeedAll(fe::TTriggerSet& set, const std::string& input, std::vector<std::size_t>* at = nullptr) {
  std::vector<int> all;
  for (std::size_t i = 0; i < input.size(); ++i) {
    std::vector<int> m;
    set.Feed(static_cast<std::uint8_t>(input[i]), m);
    for (int h : m) {
      all.push_back(h);
      if (at) at->push_back(i);
    }
  }
  return all;
}

TEST(PortTriggers, DataTriggersFireWhereTheInputEndsWithTheirText) {
  fe::TTriggerSet set;
  const int ok = set.AddData("OK", false);
  const int aab = set.AddData("AAB", false);
  const int ring = set.AddData("ring", true);
  std::vector<std::size_t> at;
  // An overlapping partial match must not hide the real one ("AAAB"), and OK
  // followed by CR LF fires once.
  const auto fired = FeedAll(set, "\r\nOK\r\nAAAB xRiNg OOK", &at);
  ASSERT_EQ(fired, (std::vector<int>{ok, aab, ring, ok}));
  EXPECT_EQ(at, (std::vector<std::size_t>{3, 9, 15, 19}));
  // Case matters unless asked otherwise.
  EXPECT_TRUE(FeedAll(set, "ok").empty());
}

TEST(PortTriggers, SimultaneousMatchesAreReportedLastAddedFirst) {
  fe::TTriggerSet set;
  const int first = set.AddData("CONNECT", false);
  const int second = set.AddData("T", false);
  EXPECT_EQ(FeedAll(set, "CONNECT"), (std::vector<int>{second, first}));
}

TEST(PortTriggers, HandlesLimitsAndTimers) {
  fe::TTriggerSet set;
  EXPECT_EQ(set.AddData(std::string(256, 'x'), false), -fe::ecTriggerTooLong);
  EXPECT_EQ(set.AddData("", false), -fe::ecBadArgument);
  EXPECT_EQ(set.AddStatus(6), -fe::ecBadArgument);
  EXPECT_EQ(set.Remove(999), -fe::ecBadTriggerHandle);
  EXPECT_EQ(set.SetTimer(999, {}, true), -fe::ecBadTriggerHandle);

  const int t1 = set.AddTimer(), t2 = set.AddTimer();
  const auto now = fe::TTriggerSet::Clock::now();
  set.SetTimer(t1, now + std::chrono::seconds(2), true);
  set.SetTimer(t2, now + std::chrono::seconds(1), true);
  EXPECT_EQ(set.NextExpiry(), now + std::chrono::seconds(1));
  std::vector<int> fired;
  set.Expired(now + std::chrono::milliseconds(999), fired);
  EXPECT_TRUE(fired.empty());
  set.Expired(now + std::chrono::seconds(1), fired);
  set.Expired(now + std::chrono::seconds(1), fired);  // fires once
  EXPECT_EQ(fired, std::vector<int>{t2});
  EXPECT_EQ(set.Remove(t1), 0);
  EXPECT_FALSE(set.NextExpiry().has_value());

  fe::TTriggerSet full;
  for (std::size_t i = 0; i < fe::TTriggerSet::kMaxTriggers; ++i) ASSERT_GT(full.AddTimer(), 0);
  EXPECT_EQ(full.AddTimer(), -fe::ecNoMoreTriggers);
}

TEST(PortRing, WrapsAndKeepsOrder) {
  fe::TByteRing ring(8);
  const std::uint8_t a[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(ring.Write(a, 6), 6u);
  std::uint8_t out[8] = {};
  EXPECT_EQ(ring.Read(out, 4), 4u);
  EXPECT_EQ(ring.Write(a, 6), 6u);  // wraps
  EXPECT_EQ(ring.Write(a, 1), 0u);  // full
  EXPECT_TRUE(ring.Full());
  EXPECT_EQ(ring.At(2), 1);
  EXPECT_EQ(ring.Peek(out, 8, 1), 7u);
  EXPECT_EQ(std::vector<int>(out, out + 7), (std::vector<int>{6, 1, 2, 3, 4, 5, 6}));
  std::size_t span = 0;
  ring.ReadSpan(span);
  EXPECT_EQ(span, 4u);  // up to the end of storage
}

TEST(PortSettings, FlowControlThresholds) {
  fe::TPortSettings s;
  s.inSize = 8192;
  s.hwFlow = fe::hwfUseRTS | fe::hwfRequireCTS;
  s.rs485 = true;
  fe::NormaliseFlowThresholds(s);
  EXPECT_EQ(s.bufferFull, 7372u);
  EXPECT_EQ(s.bufferResume, 819u);
  EXPECT_FALSE(s.rs485);

  s.bufferFull = 9000;  // above InSize
  s.bufferResume = 8000;
  fe::NormaliseFlowThresholds(s);
  EXPECT_EQ(s.bufferFull, 7372u);
  EXPECT_EQ(s.bufferResume, 8000u > 7372u ? 819u : 8000u);

  fe::TPortSettings none;  // without flow control the marks are left alone
  fe::NormaliseFlowThresholds(none);
  EXPECT_EQ(none.bufferFull, 0u);
}

TEST(PortTicks, ConversionsNeverShortenAWait) {
  EXPECT_EQ(fe::SecondsToTicks(10), 182);
  EXPECT_EQ(fe::SecondsToTicks(60), 1092);
  EXPECT_EQ(fe::SecondsToTicks(30), 546);
  EXPECT_EQ(fe::SecondsToTicks(3), 54);
  // 18 ticks = 0.98865... s, rounded up to the microsecond.
  EXPECT_EQ(fe::TicksToDuration(18).count(), 988657);
  for (long t : {1L, 7L, 182L, 1092L}) EXPECT_GE(fe::TicksToDuration(t).count() * 1675, t * 92 * 1000000LL) << t;
}

}  // namespace
