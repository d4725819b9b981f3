// The virtual modem's link and the media clock, without a network: two T.31
// modems joined audio to audio in the test's own loop (faster than real time),
// the link's events as an engine sees them, and the clock's timing.
#include "virtual_modem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_session.h"

namespace fe::voip {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Collects what a modem says and waits for words in it.
struct Dte {
  TVirtualModem& modem;
  std::string said;

  explicit Dte(TVirtualModem& m) : modem(m) {}
  void Collect() {
    char buf[4096];
    for (size_t n; (n = modem.Read(buf, sizeof buf)) > 0;) said.append(buf, n);
  }
  void Send(const std::string& command) { ASSERT_EQ(modem.Write(command.data(), command.size()), 0); }
};

// Two modems on one line: the audio of each goes to the other's receiver.
struct Line {
  TVirtualModem a, b;
  Dte dteA{a}, dteB{b};
  int16_t fromA[kTickSamples] = {}, fromB[kTickSamples] = {};

  void Tick() {
    int16_t toA[kTickSamples], toB[kTickSamples];
    std::copy(fromB, fromB + kTickSamples, toA);
    std::copy(fromA, fromA + kTickSamples, toB);
    a.Audio(toA, kTickSamples, fromA, kTickSamples);
    b.Audio(toB, kTickSamples, fromB, kTickSamples);
    dteA.Collect();
    dteB.Collect();
  }
  // Runs ticks until `word` appears in what dte has said since `from`.
  bool RunUntil(Dte& dte, const std::string& word, int maxTicks, size_t from = 0) {
    for (int i = 0; i < maxTicks; ++i) {
      if (dte.said.find(word, from) != std::string::npos) return true;
      Tick();
    }
    return dte.said.find(word, from) != std::string::npos;
  }
};

// Page data as the send engine writes it: a sender that refills the link on
// each OutFree event, on the link's dispatch thread.
struct PageWriter : TFaxLinkHandler {
  TVirtualModem& link;
  std::vector<uint8_t> data;
  std::mutex mu;
  size_t written = 0;
  int outFreeEvents = 0;
  bool full = false;  // a Write was refused for want of room

  PageWriter(TVirtualModem& l, std::vector<uint8_t> d) : link(l), data(std::move(d)) {}
  void Fill() {
    std::lock_guard<std::mutex> lk(mu);
    while (written < data.size()) {
      const size_t n = std::min(link.OutFree(), data.size() - written);
      if (n == 0) break;
      if (link.Write(data.data() + written, n) != 0) {
        full = true;
        break;
      }
      written += n;
    }
    if (written < data.size()) link.WatchOutFree(1024);
  }
  void LinkEvent(TLinkEvent ev) override {
    if (ev != TLinkEvent::OutFree) return;
    {
      std::lock_guard<std::mutex> lk(mu);
      ++outFreeEvents;
    }
    Fill();
  }
  size_t Written() {
    std::lock_guard<std::mutex> lk(mu);
    return written;
  }
};

// Removes DLE doubling and stops at DLE ETX, as the engine reads page data.
std::vector<uint8_t> Undle(const std::string& s, size_t from) {
  std::vector<uint8_t> out;
  for (size_t i = from; i < s.size(); ++i) {
    const auto c = static_cast<uint8_t>(s[i]);
    if (c != 0x10) {
      out.push_back(c);
      continue;
    }
    if (++i >= s.size() || static_cast<uint8_t>(s[i]) == 0x03) break;
    if (static_cast<uint8_t>(s[i]) == 0x10) out.push_back(0x10);
  }
  return out;
}

TEST(VirtualModem, EngineWritingFasterThanTheModemSendsLosesNothing) {
  Line line;
  line.dteA.Send("ATE0\r");
  line.dteB.Send("ATE0\r");
  ASSERT_TRUE(line.RunUntil(line.dteA, "OK", 10));
  ASSERT_TRUE(line.RunUntil(line.dteB, "OK", 10));
  line.dteB.Send("AT+FCLASS=1\r");
  line.dteA.Send("AT+FCLASS=1\r");
  line.Tick();
  // A call as T.30 begins it: A dials, B rings and answers, sends its answer
  // tone and a V.21 frame, which A receives; then both are back in command mode.
  line.dteA.Send("ATD1\r");
  line.a.Connected();
  line.b.Ring("1");
  line.dteB.Send("ATA\r");
  line.b.Answered();
  ASSERT_TRUE(line.RunUntil(line.dteB, "CONNECT", 400)) << line.dteB.said;
  const size_t frameAt = line.dteB.said.size();
  line.dteB.Send(std::string("\xff\x13\x80\x00\x10\x03", 6));
  ASSERT_TRUE(line.RunUntil(line.dteB, "OK", 200, frameAt)) << line.dteB.said;
  ASSERT_TRUE(line.RunUntil(line.dteA, "OK", 200)) << line.dteA.said;
  line.dteB.Send("AT+FRM=96\r");
  line.dteA.Send("AT+FTM=96\r");
  const size_t startA = line.dteA.said.size();
  ASSERT_TRUE(line.RunUntil(line.dteA, "CONNECT", 50, startA)) << line.dteA.said;

  // 12 kB at 9600 bit/s: about ten seconds of line, three times what the
  // modem's own buffer holds. No DLE in it, so the bytes come back as they went.
  std::vector<uint8_t> page(12000);
  for (size_t i = 0; i < page.size(); ++i) {
    page[i] = static_cast<uint8_t>((i * 131 + i / 7) & 0xFF);
    if (page[i] == 0x10) page[i] = 0x11;
  }
  PageWriter writer(line.a, page);
  ASSERT_EQ(line.a.Attach(&writer), 0);
  writer.Fill();
  const size_t startB = line.dteB.said.size();
  bool ctsWentOff = false;
  size_t mostQueued = 0;
  for (int tick = 0; tick < 1500 && writer.Written() < page.size(); ++tick) {
    // The engine keeps the link supplied; wait for it like the line would not,
    // so a slow test machine cannot starve the modem.
    for (int w = 0; w < 500 && line.a.OutUsed() == 0 && writer.Written() < page.size(); ++w)
      std::this_thread::sleep_for(1ms);
    mostQueued = std::max(mostQueued, line.a.OutUsed());
    line.Tick();
    ctsWentOff = ctsWentOff || !line.a.Cts();
  }
  ASSERT_EQ(writer.Written(), page.size());
  EXPECT_FALSE(writer.full);
  EXPECT_TRUE(ctsWentOff) << "the modem never held the link back";
  EXPECT_GT(writer.outFreeEvents, 0);
  EXPECT_GT(mostQueued, 4096u) << "the link never had to hold data for the modem";
  const uint8_t end[2] = {0x10, 0x03};
  ASSERT_EQ(line.a.Write(end, 2), 0);
  ASSERT_TRUE(line.RunUntil(line.dteA, "OK", 1000, startA + 7)) << line.dteA.said.substr(startA);
  ASSERT_TRUE(line.RunUntil(line.dteB, "NO CARRIER", 200, startB));
  line.a.Detach();

  // Everything arrived once and in order: the data follows the receiver's
  // CONNECT (training may leave a few bytes of fill in front of it).
  const size_t connect = line.dteB.said.find("CONNECT\r\n", startB);
  ASSERT_NE(connect, std::string::npos) << line.dteB.said;
  const std::vector<uint8_t> got = Undle(line.dteB.said, connect + 9);
  const auto at = std::search(got.begin(), got.end(), page.begin(), page.end());
  ASSERT_NE(at, got.end()) << "received " << got.size() << " bytes, the page is " << page.size();
  EXPECT_EQ(line.a.BytesToModem(), std::string("ATE0\rAT+FCLASS=1\rATD1\rAT+FTM=96\r").size() + page.size() + 2);
}

// A handler that records every event with its time.
struct EventLog : TFaxLinkHandler {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::pair<TLinkEvent, Clock::time_point>> events;
  void LinkEvent(TLinkEvent ev) override {
    std::lock_guard<std::mutex> lk(mu);
    events.emplace_back(ev, Clock::now());
    cv.notify_all();
  }
  bool WaitFor(TLinkEvent ev, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lk(mu);
    return cv.wait_for(lk, limit, [&] {
      return std::any_of(events.begin(), events.end(), [&](const auto& e) { return e.first == ev; });
    });
  }
  size_t Count(TLinkEvent ev) {
    std::lock_guard<std::mutex> lk(mu);
    return static_cast<size_t>(
        std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.first == ev; }));
  }
};

TEST(VirtualModem, LinkEventsArriveAsAnEngineExpects) {
  TVirtualModem modem;
  EventLog log;
  ASSERT_EQ(modem.Attach(&log), 0);

  // A command is answered at once, without a media tick.
  const std::string at = "AT\r";
  ASSERT_EQ(modem.Write(at.data(), at.size()), 0);
  ASSERT_TRUE(log.WaitFor(TLinkEvent::Data, 1s));
  char buf[64];
  std::string said(buf, modem.Read(buf, sizeof buf));
  EXPECT_NE(said.find("OK"), std::string::npos) << said;

  // The timer fires once, not before its ticks have passed (ticks of 92/1675 s).
  const auto set = Clock::now();
  modem.SetTimer(4);
  ASSERT_TRUE(log.WaitFor(TLinkEvent::Timer, 2s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(log.Count(TLinkEvent::Timer), 1u);
  {
    std::lock_guard<std::mutex> lk(log.mu);
    const auto fired =
        std::find_if(log.events.begin(), log.events.end(), [](const auto& e) { return e.first == TLinkEvent::Timer; });
    EXPECT_GE(fired->second - set, std::chrono::microseconds(219701));
  }
  // A stopped timer stays quiet.
  modem.SetTimer(2);
  modem.SetTimer(0);
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(log.Count(TLinkEvent::Timer), 1u);

  // Watches already met fire at once, each once.
  modem.WatchOutFree(100);
  modem.WatchOutEmpty(true);
  ASSERT_TRUE(log.WaitFor(TLinkEvent::OutFree, 1s));
  ASSERT_TRUE(log.WaitFor(TLinkEvent::OutEmpty, 1s));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(log.Count(TLinkEvent::OutFree), 1u);
  EXPECT_EQ(log.Count(TLinkEvent::OutEmpty), 1u);

  // A full output buffer refuses a write whole.
  TVirtualModem small(nullptr, 16);
  const std::string big(17, 'x');
  EXPECT_LT(small.Write(big.data(), big.size()), 0);
  EXPECT_EQ(small.OutUsed(), 0u);

  // Closing tells the engine and refuses further writes.
  modem.Close();
  ASSERT_TRUE(log.WaitFor(TLinkEvent::Closing, 1s));
  EXPECT_FALSE(modem.IsOpen());
  EXPECT_LT(modem.Write(at.data(), at.size()), 0);
  modem.Detach();
}

// Call control as the session sees it.
struct Calls : TModemCallControl {
  std::atomic<int> dials{0}, answers{0}, hangups{0};
  std::string number;
  void ModemDial(const std::string& n) override {
    number = n;
    ++dials;
  }
  void ModemAnswer() override { ++answers; }
  void ModemHangUp() override { ++hangups; }
};

TEST(VirtualModem, CallControlReachesTheSessionAndCallEventsTheEngine) {
  Calls calls;
  TVirtualModem modem(&calls);
  Dte dte(modem);
  int16_t rx[kTickSamples] = {}, tx[kTickSamples];
  auto run = [&](int ticks) {
    for (int i = 0; i < ticks; ++i) {
      modem.Audio(rx, kTickSamples, tx, kTickSamples);
      dte.Collect();
    }
  };
  dte.Send("ATE0V1+VCID=1\r");
  run(2);
  // A ring shows the caller's number.
  modem.Ring("192.0.2.7:5004");
  run(2);
  EXPECT_NE(dte.said.find("RING"), std::string::npos) << dte.said;
  EXPECT_NE(dte.said.find("192.0.2.7:5004"), std::string::npos) << dte.said;
  dte.Send("ATA\r");
  run(1);
  EXPECT_EQ(calls.answers, 1);
  modem.Answered();
  run(5);
  // The far end goes: the engine reads NO CARRIER, and no hang-up comes back.
  const size_t before = dte.said.size();
  modem.CallEnded();
  run(2);
  EXPECT_NE(dte.said.find("NO CARRIER", before), std::string::npos) << dte.said;
  EXPECT_EQ(calls.hangups, 0);

  // Dialling, and DTR dropped in the call hangs up once.
  dte.Send("ATD5551234\r");
  run(1);
  EXPECT_EQ(calls.dials, 1);
  EXPECT_EQ(calls.number.find("5551234") != std::string::npos, true) << calls.number;
  modem.Connected();
  run(5);
  modem.SetDTR(false);
  modem.SetDTR(true);
  modem.SetDTR(false);
  EXPECT_EQ(calls.hangups, 1);
}

// ------------------------------------------------------------- the clock --

TEST(MediaClock, TicksKeepToTheirDeadlinesWithoutDrift) {
  TMediaClock clock(std::chrono::milliseconds(20));
  std::vector<Clock::time_point> at;
  std::mutex mu;
  clock.Start([&](uint64_t n) {
    {
      std::lock_guard<std::mutex> lk(mu);
      if (n == at.size()) at.push_back(Clock::now());
    }
    // Each tick's work takes time, as the modem's does: a clock that waited a
    // period after the work would fall 5 ms behind at every tick.
    const auto busy = Clock::now() + 5ms;
    while (Clock::now() < busy) {
    }
  });
  std::this_thread::sleep_for(3s);
  clock.Stop();
  const auto start = clock.StartTime();
  ASSERT_GE(at.size(), 140u);
  ASSERT_LE(at.size(), 152u);
  // Each tick at or after its deadline. Had each wait been measured from the
  // last wake, every tick's overshoot would add to the next: after 150 ticks
  // none would be near its deadline. With absolute deadlines some of the last
  // ticks are on time (a loaded machine may make any single one late).
  auto late = [&](size_t n) { return at[n] - (start + std::chrono::milliseconds(20 * n)); };
  for (size_t n = 0; n < at.size(); ++n) EXPECT_GE(late(n), 0ms) << n;
  auto best = late(at.size() - 1);
  for (size_t n = at.size() - 30; n < at.size(); ++n) best = std::min(best, late(n));
  EXPECT_LT(best, 10ms);
  EXPECT_EQ(clock.Skipped(), 0u);
}

TEST(MediaClock, ALateTickIsCaughtUpNotSkipped) {
  TMediaClock clock(std::chrono::milliseconds(20));
  std::vector<uint64_t> seen;
  std::mutex mu;
  clock.Start([&](uint64_t n) {
    {
      std::lock_guard<std::mutex> lk(mu);
      seen.push_back(n);
    }
    if (n == 10) std::this_thread::sleep_for(130ms);  // a slow tick
  });
  std::this_thread::sleep_for(1200ms);
  clock.Stop();
  std::lock_guard<std::mutex> lk(mu);
  ASSERT_GE(seen.size(), 50u);
  for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], i);  // none missing
  // By the end the clock is back on time: the count matches the time passed.
  const auto expected = static_cast<size_t>((Clock::now() - clock.StartTime()) / 20ms);
  EXPECT_GE(seen.size() + 3, expected);
  EXPECT_EQ(clock.Skipped(), 0u);
}

TEST(MediaClock, AWaitLongerThanTheLimitGivesUpTheMissedTicks) {
  TMediaClock clock(std::chrono::milliseconds(20), std::chrono::milliseconds(60));
  std::vector<uint64_t> seen;
  std::mutex mu;
  clock.Start([&](uint64_t n) {
    {
      std::lock_guard<std::mutex> lk(mu);
      seen.push_back(n);
    }
    if (n == 5) std::this_thread::sleep_for(300ms);  // as if suspended
  });
  std::this_thread::sleep_for(700ms);
  clock.Stop();
  EXPECT_GE(clock.Skipped(), 10u);
  std::lock_guard<std::mutex> lk(mu);
  ASSERT_GE(seen.size(), 8u);
  EXPECT_GT(seen[6], 6u);  // the tick after the wait jumped ahead
}

}  // namespace
}  // namespace fe::voip
