// The port against a scripted modem on a pseudo-terminal: triggers, waits,
// reopening, settings on an open port, tracing and a vanishing device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fe_errors.h"
#include "port_test_util.h"
#include "scripted_modem.h"

namespace {

using namespace porttest;
using qnsim::ScriptedModem;

void OpenOn(fe::TFeComPort& port, const ScriptedModem& modem) {
  port.SetDevicePath(modem.DevicePath());
  ASSERT_EQ(port.SetOpen(true), 0);
}

TEST(PortPty, DataTriggerFiresOnceWhenBytesArriveOneByOne) {
  ScriptedModem modem;
  modem.Expect("AT").Trickle("\r\nOK\r\n", 30ms).Pause(100ms).Reply("OK");
  modem.Start();
  fe::TFeComPort port;
  Recorder rec(port);
  OpenOn(port, modem);
  const int ok = port.AddDataTrigger("OK");
  const int avail = port.AddAvailTrigger(1);
  ASSERT_GT(ok, 0);
  ASSERT_GT(avail, 0);
  ASSERT_EQ(port.SendText("AT\r"), 0);
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  ASSERT_TRUE(rec.WaitFor(fe::kTriggerData, ok, 2s));
  std::this_thread::sleep_for(200ms);
  // Two OK replies, two data events: one per reply even though the first came in pieces.
  EXPECT_EQ(rec.Of(fe::kTriggerData, ok).size(), 2u);
  // Each data event is preceded by an available event covering the bytes up to it.
  const auto events = rec.Events();
  unsigned availBytes = 0;
  std::vector<unsigned> beforeData;
  for (const auto& e : events) {
    if (e.msg == fe::kTriggerAvail) availBytes += e.wParam;
    if (e.msg == fe::kTriggerData) {
      beforeData.push_back(availBytes);
      availBytes = 0;
    }
    EXPECT_EQ(e.thread, events.front().thread);  // all on the dispatch thread
  }
  // "\r\nOK", then the first reply's CR LF and the second "\r\nOK".
  EXPECT_EQ(beforeData, (std::vector<unsigned>{4, 6}));
  EXPECT_NE(events.front().thread, std::this_thread::get_id());
  EXPECT_EQ(port.CharReady(), 12);
  char buf[12];
  EXPECT_EQ(port.GetBlock(buf, 12), 12);
  EXPECT_EQ(std::string(buf, 12), "\r\nOK\r\n\r\nOK\r\n");
  EXPECT_EQ(port.GetChar(), -fe::ecBufferIsEmpty);
  EXPECT_EQ(port.GetBlock(buf, 1), -fe::ecGetBlockFail);
}

TEST(PortPty, TimerTriggersAreNeverEarly) {
  ScriptedModem modem;
  fe::TFeComPort port;
  Recorder rec(port);
  OpenOn(port, modem);
  const int t18 = port.AddTimerTrigger(), t1 = port.AddTimerTrigger();
  const auto start = Clock::now();
  ASSERT_EQ(port.SetTimerTrigger(t18, 18), 0);
  ASSERT_EQ(port.SetTimerTrigger(t1, 1), 0);
  ASSERT_TRUE(rec.WaitFor(fe::kTriggerTimer, t18, 3s));
  const auto e18 = rec.Of(fe::kTriggerTimer, t18), e1 = rec.Of(fe::kTriggerTimer, t1);
  ASSERT_EQ(e1.size(), 1u);
  ASSERT_EQ(e18.size(), 1u);
  EXPECT_GE(e1[0].at - start, fe::TicksToDuration(1));
  EXPECT_GE(e18[0].at - start, fe::TicksToDuration(18));
  EXPECT_LT(e18[0].at - start, 1500ms);  // about one second, with room for a loaded machine
  // A timer set and then disarmed stays silent; removing it twice is an error.
  ASSERT_EQ(port.SetTimerTrigger(t1, 1, false), 0);
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(rec.Of(fe::kTriggerTimer, t1).size(), 1u);
  EXPECT_EQ(port.RemoveTrigger(t1), 0);
  EXPECT_EQ(port.RemoveTrigger(t1), -fe::ecBadTriggerHandle);
}

TEST(PortPty, AwaitTextAcrossFragmentsAndTimeOut) {
  ScriptedModem modem;
  modem.Expect("ATI").Trickle("\r\nQuillon\r\n", 15ms).Trickle("\r\nok\r\n", 15ms).Expect("AT+X");
  modem.Start();
  fe::TFeComPort port;
  std::string seen;
  port.OnWaitChar = [&](fe::TFeComPort&, char c) { seen += c; };
  OpenOn(port, modem);
  ASSERT_EQ(port.SendText("ATI\r"), 0);
  EXPECT_EQ(port.AwaitText("OK", fe::SecondsToTicks(3), true), 1);
  EXPECT_EQ(seen, "\r\nQuillon\r\n\r\nok");
  // Nothing more comes: a wait of 4 ticks (about 220 ms) runs out, not before.
  const auto start = Clock::now();
  EXPECT_EQ(port.AwaitText("OK", 4, false, true), 0);
  EXPECT_GE(Clock::now() - start, fe::TicksToDuration(4));
  ASSERT_EQ(port.SendText("AT+X\r"), 0);
  EXPECT_TRUE(modem.WaitDone(3s)) << modem.Report();
}

TEST(PortPty, ChangingComNumberReopensAndKeepsTriggersAndTracing) {
  ScriptedModem first, second;
  second.Pause(300ms).Reply("RING");
  ASSERT_EQ(setenv("QN_COM5", first.DevicePath().c_str(), 1), 0);
  ASSERT_EQ(setenv("QN_COM6", second.DevicePath().c_str(), 1), 0);
  fe::TFeComPort port;
  Recorder rec(port);
  port.SetComNumber(5);
  ASSERT_EQ(port.SetOpen(true), 0);
  EXPECT_EQ(port.ResolvedDevice(), first.DevicePath());
  ASSERT_EQ(port.SetTracing(fe::tlOn), 0);
  const int ring = port.AddDataTrigger("RING");
  ASSERT_EQ(port.SetComNumber(6), 0);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.ResolvedDevice(), second.DevicePath());
  EXPECT_EQ(port.Tracing(), fe::tlOn);
  second.Start();
  EXPECT_TRUE(rec.WaitFor(fe::kTriggerData, ring, 3s));
  // The first device was let go: it opens again elsewhere.
  fe::TFeComPort other;
  other.SetComNumber(5);
  EXPECT_EQ(other.SetOpen(true), 0);
  unsetenv("QN_COM5");
  unsetenv("QN_COM6");
}

TEST(PortPty, SettingsApplyToTheOpenPort) {
  ScriptedModem modem;
  fe::TFeComPort port;
  EXPECT_EQ(port.SetInSize(8192), 0);
  EXPECT_EQ(port.SetHWFlowOptions(fe::hwfUseRTS | fe::hwfRequireCTS), 0);
  EXPECT_EQ(port.BufferFull(), 7372u);
  EXPECT_EQ(port.BufferResume(), 819u);
  EXPECT_EQ(port.SetBufferFull(10000), 0);  // above InSize: 90% of it, then bounded by InSize
  EXPECT_EQ(port.BufferFull(), 7372u);
  OpenOn(port, modem);
  const int fd = ::open(modem.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  auto termiosNow = [fd] {
    termios t{};
    ::tcgetattr(fd, &t);
    return t;
  };
  const termios before = termiosNow();
  EXPECT_EQ(cfgetospeed(&before), B19200);
  EXPECT_TRUE(before.c_cflag & CRTSCTS);
  EXPECT_EQ(port.SetBaud(9600), 0);
  EXPECT_EQ(port.SetHWFlowOptions(0), 0);
  const termios t = termiosNow();
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  // A pseudo-terminal refuses parity: the setting is refused and the old one kept.
  EXPECT_EQ(port.SetParity(fe::pEven), -fe::ecDefault);
  EXPECT_EQ(port.Parity(), fe::pNone);
  EXPECT_EQ(port.SetBaud(12345), -fe::ecBaudRate);
  EXPECT_EQ(port.SetDataBits(9), -fe::ecByteSize);
  EXPECT_EQ(port.Baud(), 9600);
  ::close(fd);
}

TEST(PortPty, InputHeldBackAtTheFullMarkLosesNothing) {
  // 20000 bytes arrive while nobody reads: the port stops reading at BufferFull,
  // the terminal's own buffer holds the rest, and every byte arrives in order.
  std::string block(20000, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 251);
  ScriptedModem modem;
  modem.Send(block);
  fe::TFeComPort port;
  port.SetInSize(8192);
  port.SetHWFlowOptions(fe::hwfUseRTS | fe::hwfRequireCTS);
  OpenOn(port, modem);
  modem.Start();
  const auto filled = Clock::now() + 5s;
  while (port.CharReady() < 7372 && Clock::now() < filled) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(port.CharReady(), 7372);  // stopped exactly at the full mark
  std::string got;
  const auto until = Clock::now() + 5s;
  while (got.size() < block.size() && Clock::now() < until) {
    const int n = port.CharReady();
    if (n <= 0) {
      std::this_thread::sleep_for(5ms);
      continue;
    }
    std::string part(static_cast<std::size_t>(n), '\0');
    ASSERT_EQ(port.GetBlock(part.data(), part.size()), n);
    got += part;
  }
  EXPECT_TRUE(got == block) << got.size();
}

TEST(PortPty, OutputStatusTriggersAndBufferLimits) {
  ScriptedModem modem;
  modem.ExpectBytes(3000);
  modem.Start();
  fe::TFeComPort port;
  Recorder rec(port);
  port.SetOutSize(4096);
  OpenOn(port, modem);
  const int sent = port.AddStatusTrigger(fe::stOutSent);
  const int freeSpace = port.AddStatusTrigger(fe::stOutBuffFree);
  ASSERT_GT(sent, 0);
  EXPECT_EQ(port.PutBlock(std::string(5000, 'x').data(), 5000), -fe::ecOutputBufferTooSmall);
  ASSERT_EQ(port.PutBlock(std::string(3000, 'y').data(), 3000), 0);
  ASSERT_EQ(port.SetStatusTrigger(sent, 0), 0);
  ASSERT_EQ(port.SetStatusTrigger(freeSpace, 4096), 0);
  EXPECT_TRUE(rec.WaitFor(fe::kTriggerStatus, sent, 3s));
  EXPECT_TRUE(rec.WaitFor(fe::kTriggerStatus, freeSpace, 3s));
  EXPECT_EQ(port.OutBuffUsed(), 0);
  EXPECT_TRUE(modem.WaitDone(3s)) << modem.Report();
  EXPECT_EQ(modem.DataBlocks().at(0), std::string(3000, 'y'));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(rec.Of(fe::kTriggerStatus, sent).size(), 1u);  // fires once until armed again
}

TEST(PortPty, BytesWrittenRightAfterAFlushAreSent) {
  // A flush drops what was waiting; what the caller writes next (the end of a
  // cancelled page, say) must go out even when the output thread has not yet
  // seen the flush.
  ScriptedModem modem;
  modem.ExpectBytes(10 * 100);
  modem.Start();
  fe::TFeComPort port;
  OpenOn(port, modem);
  std::string all;
  for (int i = 0; i < 10; ++i) {
    const std::string block(100, static_cast<char>('a' + i));
    ASSERT_EQ(port.FlushOutBuffer(), 0);
    ASSERT_EQ(port.PutBlock(block.data(), block.size()), 0);
    all += block;
    std::this_thread::sleep_for(50ms);  // each block out before the next flush
  }
  EXPECT_TRUE(modem.WaitDone(3s)) << modem.Report();
  std::string got;
  for (const std::string& b : modem.DataBlocks()) got += b;
  EXPECT_EQ(got, all);
}

TEST(PortPty, EventsReachTheSinkThread) {
  ScriptedModem modem;
  modem.Reply("RING");
  fe::TFeQueueSink sink;
  fe::TFeComPort port;
  port.SetEventSink(&sink);
  std::vector<std::thread::id> threads;
  std::vector<unsigned> order;
  port.OnTrigger = [&](fe::TFeComPort&, unsigned msg, unsigned, long) {
    threads.push_back(std::this_thread::get_id());
    order.push_back(msg);
  };
  port.OnTriggerData = [&](fe::TFeComPort&, unsigned) { order.push_back(1); };
  OpenOn(port, modem);
  const int ring = port.AddDataTrigger("RING");
  ASSERT_GT(ring, 0);
  modem.Start();
  EXPECT_TRUE(sink.RunUntil([&] { return order.size() >= 2; }, 3000ms));
  EXPECT_EQ(order, (std::vector<unsigned>{fe::kTriggerData, 1}));
  EXPECT_EQ(threads.at(0), std::this_thread::get_id());
  // Closing delivers the closing notice through the sink without waiting out its time-out.
  const auto start = Clock::now();
  ASSERT_EQ(port.SetOpen(false), 0);
  EXPECT_LT(Clock::now() - start, 2s);  // far below the sink's 3 s time-out
  EXPECT_EQ(order.back(), fe::kPortClosing);
}

TEST(PortPty, TraceAndLogFiles) {
  const auto dir = std::filesystem::temp_directory_path() / ("qn-port-trace-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ScriptedModem modem;
  modem.Expect("AT").Reply("OK");
  modem.Start();
  fe::TFeComPort port;
  port.SetTraceName((dir / "t.trc").string());
  port.SetLogName((dir / "l.log").string());
  EXPECT_EQ(port.SetTracing(fe::tlDump), -fe::ecTracingNotEnabled);
  EXPECT_EQ(port.AddLogText("before"), -fe::ecLoggingNotEnabled);
  ASSERT_EQ(port.SetTracing(fe::tlOn), 0);
  ASSERT_EQ(port.SetLogging(fe::tlOn), 0);
  OpenOn(port, modem);
  port.AddDataTrigger("OK");
  ASSERT_EQ(port.SendText("AT\r"), 0);
  ASSERT_EQ(port.AwaitText("OK", 36), 1);
  ASSERT_EQ(port.AddLogText("Dialing"), 0);
  port.AddLogEntry("State", "tfDial", 3, 0);
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(port.SetTracing(fe::tlDump), 0);
  ASSERT_EQ(port.SetLogging(fe::tlDump), 0);
  EXPECT_EQ(port.Tracing(), fe::tlOff);

  std::ifstream trc(dir / "t.trc"), log(dir / "l.log");
  std::stringstream t, l;
  t << trc.rdbuf();
  l << log.rdbuf();
  EXPECT_NE(t.str().find("Out  41 54 0D "), std::string::npos) << t.str();
  EXPECT_NE(t.str().find("|AT.|"), std::string::npos) << t.str();
  EXPECT_NE(t.str().find("In   0D 0A 4F 4B 0D 0A "), std::string::npos) << t.str();
  EXPECT_EQ(l.str().rfind("Time      Type      SubType       Data      OtherData\r\n", 0), 0u) << l.str();
  EXPECT_NE(l.str().find("Trigger   Data"), std::string::npos) << l.str();
  EXPECT_NE(l.str().find("User      Dialing"), std::string::npos) << l.str();
  EXPECT_NE(l.str().find("State     tfDial"), std::string::npos) << l.str();

  // Paused recording keeps what it had; append adds to the file.
  ASSERT_EQ(port.SetTracing(fe::tlOn), 0);
  port.SendText("ATZ\r");
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(port.SetTracing(fe::tlPause), 0);
  port.SendText("ATH\r");
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(port.SetTracing(fe::tlAppend), 0);
  std::ifstream again(dir / "t.trc");
  std::stringstream a;
  a << again.rdbuf();
  EXPECT_EQ(a.str().rfind(t.str(), 0), 0u);
  EXPECT_NE(a.str().find("|ATZ.|"), std::string::npos);
  EXPECT_EQ(a.str().find("|ATH.|"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST(PortPty, VanishingDeviceEndsThePortCleanly) {
  ScriptedModem modem;
  modem.Expect("ATD123").Reply("CONNECT").ExpectBytes(100).Reply("NO CARRIER").Pause(200ms).HangUp();
  modem.Start();
  fe::TFeComPort port;
  Recorder rec(port);
  OpenOn(port, modem);
  ASSERT_EQ(port.SendText("ATD123\r"), 0);
  ASSERT_EQ(port.AwaitText("CONNECT", 36), 1);
  ASSERT_EQ(port.SendText(std::string(100, 'p')), 0);
  ASSERT_TRUE(rec.WaitFor(fe::kPortClosing, 0, 3s));
  const auto closing = rec.Of(fe::kPortClosing, 0);
  ASSERT_EQ(closing.size(), 1u);
  EXPECT_LT(closing[0].lParam, 0);
  EXPECT_EQ(port.LastError(), closing[0].lParam);
  EXPECT_FALSE(port.Open());
  EXPECT_LT(port.SendText("AT\r"), 0);
  // What came before the hang-up can still be read.
  EXPECT_EQ(port.AwaitText("NO CARRIER\r\n", 18), 1);
  EXPECT_LT(port.AwaitText("OK", 18), 0);
  const auto start = Clock::now();
  EXPECT_EQ(port.SetOpen(false), 0);  // threads already ended: no wait
  EXPECT_LT(Clock::now() - start, 1s);
  // The device is gone for good: opening again says so.
  EXPECT_EQ(port.SetOpen(true), -fe::ecBadId);
}

}  // namespace

namespace {

TEST(PortPty, HandlerMayCloseItsOwnPort) {
  // An engine that ends its run on "NO CARRIER" closes the port from its trigger
  // handler, on the dispatch thread: no deadlock, the closing notice still comes,
  // and the port opens again afterwards.
  qnsim::ScriptedModem modem;
  modem.Reply("NO CARRIER");
  fe::TFeComPort port;
  porttest::Recorder rec(port);
  port.SetDevicePath(modem.DevicePath());
  ASSERT_EQ(port.SetOpen(true), 0);
  const int carrier = port.AddDataTrigger("NO CARRIER");
  std::atomic<int> closeResult{1};
  const int id = port.RegisterTriggerHandler([&](unsigned msg, unsigned wParam, long) {
    if (msg == fe::kTriggerData && static_cast<int>(wParam) == carrier) closeResult = port.SetOpen(false);
  });
  modem.Start();
  ASSERT_TRUE(rec.WaitFor(fe::kPortClosing, 0, 3s));
  EXPECT_EQ(closeResult.load(), 0);
  EXPECT_EQ(rec.Of(fe::kPortClosing, 0).at(0).lParam, 0);  // closed on request, no error
  EXPECT_FALSE(port.Open());
  port.DeregisterTriggerHandler(id);
  EXPECT_EQ(port.SetOpen(true), 0);
  EXPECT_EQ(port.SendText("AT\r"), 0);
}

}  // namespace
