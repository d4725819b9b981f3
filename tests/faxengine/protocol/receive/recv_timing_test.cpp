// The receiver when its owner is slow or cancels: events are never lost, the
// modem is never kept waiting for the owner, Cancel returns at once and progress
// is reported while a page arrives. These run on the clock.
#include <atomic>

#include "fe_errors.h"
#include "fe_eventsink.h"
#include "recv_fixture.h"
#include "t30.h"

namespace recvtest {
namespace {

using Clock = std::chrono::steady_clock;

struct RecvTiming : RecvFixture {
  // Events run on this (the test's) thread, drained by RunUntil, as a user
  // interface's event loop would.
  fe::TFeQueueSink sink;
  void TearDown() override {
    rx.SetEventSink(nullptr);
    RecvFixture::TearDown();
  }
  void Class2Prep() {
    rx.FaxClass = fe::TFaxClass::fcClass2;
    modem.Answer("ATE0Q0V1X4S0=0S2=43")
        .Answer("AT+FCLASS=2")
        .Answer("AT+FCR=1")
        .Answer("AT+FLID=\"QUILLON RX\"")
        .Answer("AT+FAA=0")
        .Answer("AT+FCLASS=2")
        .Answer("AT+FDCC=1,3,0,2,0,0,0,0");
  }
  void Class2Call() {
    modem.Ring(1)
        .Expect("ATA")
        .Reply("+FCON")
        .Reply("+FTSI:\"SLOW OWNER\"")
        .Reply("+FDCS:1,3,0,2,0,0,0,0")
        .Reply("OK")
        .Expect("AT+FDR")
        .Reply("CONNECT")
        .ExpectByte('\x12');
  }
};

// The owner's thread is busy for 1.5 s (as an interface thread stuck in other
// work) right after it showed the caller's hang-up report: the call fails
// meanwhile, and every log, error and finish still runs, once each and in order.
TEST_F(RecvTiming, SlowOwnerLosesNoLogErrorOrFinish) {
  rx.ExitOnError = true;
  rx.SetEventSink(&sink);
  std::vector<std::string> seq;  // only touched on this thread
  bool hungUp = false;
  rx.OnFaxStatus = [&](fe::TFeAbstractFax& f, bool, bool) { hungUp |= f.Status() == fe::fsGotFHNG; };
  rx.OnFaxLog = [&](fe::TFeAbstractFax&, int code) { seq.push_back("log " + std::to_string(code)); };
  rx.OnFaxError = [&](fe::TFeAbstractFax&, int code) { seq.push_back("error " + std::to_string(code)); };
  rx.OnFaxFinish = [&](fe::TFeAbstractFax&, int code) { seq.push_back("finish " + std::to_string(code)); };
  Class2Prep();
  Class2Call();
  modem.Send(Stuffed(CodedPage(20, 61))).Reply("+FPTS:1").Reply("+FET:0").Reply("OK");
  modem.Expect("AT+FDR").Reply("+FHNG:50").Reply("ERROR");
  modem.ExpectPrefix("+++").Reply("OK");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(sink.RunUntil([&] { return hungUp; }, 30s));
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(sink.RunUntil([&] { return !seq.empty() && seq.back().rfind("finish", 0) == 0; }, 30s));
  sink.RunFor(300ms);  // nothing may follow the finish
  EXPECT_EQ(seq, (std::vector<std::string>{"log 4", "error 8069", "log 7", "finish 8069"}));
  EXPECT_TRUE(modem.WaitDone(5s)) << modem.Report();
}

// A page that takes over 3 s to arrive: the byte count is reported as it grows.
TEST_F(RecvTiming, ProgressWhileThePageArrives) {
  std::vector<long> bytes;
  rx.OnFaxStatus = [&](fe::TFeAbstractFax& f, bool, bool) {
    const fe::TFaxSessionValues v = f.Session();
    std::lock_guard<std::mutex> lk(ev.mu);
    if (v.status == fe::fsGettingPage) bytes.push_back(v.bytesTransferred);
  };
  const std::string page = Stuffed(CodedPage(400, 62));
  const std::size_t quarter = page.size() / 4;
  Class2Prep();
  Class2Call();
  for (int i = 0; i < 3; ++i) modem.Send(page.substr(i * quarter, quarter)).Pause(1100ms);
  modem.Send(page.substr(3 * quarter)).Reply("+FPTS:1").Reply("+FET:2").Reply("OK");
  modem.Expect("AT+FDR").Reply("+FHNG:0").Reply("OK");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_EQ(rx.FinalCode(), 0);
  std::lock_guard<std::mutex> lk(ev.mu);
  std::vector<long> during;
  for (long b : bytes)
    if (b > 0) during.push_back(b);
  ASSERT_GE(during.size(), 2u) << "reports during the page";
  for (std::size_t i = 1; i < during.size(); ++i) EXPECT_GT(during[i], during[i - 1]);
}

// Class 1: the owner takes 800 ms to name the file. The page carrier is asked
// for right after CFR all the same, and the page is stored.
TEST_F(RecvTiming, SlowFileNameDoesNotDelayThePageCarrier) {
  rx.SetEventSink(&sink);
  const std::string name = (dir / "CHOSEN.APF").string();
  rx.OnFaxName = [&](fe::TFeAbstractFax&, std::string& n) {
    std::this_thread::sleep_for(800ms);
    n = name;
  };
  std::atomic<long long> cfrOk{0}, frm{0};
  auto now = [] { return Clock::now().time_since_epoch().count(); };
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string page = CodedPage(30, 63, &sent);
  Class1Prep();
  Class1Answer(1);
  Class1CallerFrames("+1 555 0101");
  modem.Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(std::string(1728, '\0') + "\x10\x03")
      .Reply("NO CARRIER")
      .Answer("AT+FTH=3", "CONNECT")
      .ExpectData()  // CFR
      .Reply("OK")
      .Call([&](qnsim::ScriptedModem&) { cfrOk = now(); })
      .Expect("AT+FRM=96")
      .Call([&](qnsim::ScriptedModem&) { frm = now(); })
      .Reply("CONNECT")
      .Send(Stuffed(page))
      .Reply("NO CARRIER")
      .Answer("AT+FRH=3", "CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfEOP | 1))
      .Reply("OK")
      .Answer("AT+FTH=3", "CONNECT")
      .ExpectData()  // MCF
      .Reply("OK")
      .Answer("AT+FRH=3", "CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfDCN | 1))
      .Reply("OK")
      .Answer("ATH");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  EXPECT_TRUE(sink.RunUntil([&] { return !rx.Running(); }, 30s));
  sink.RunFor(100ms);
  EXPECT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(rx.FinalCode(), 0);
  ASSERT_NE(frm.load(), 0);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(frm - cfrOk)).count(), 400);
  EXPECT_EQ(DecodePage(name, 1), sent);
}

// Cancel while page data flows returns at once; the dispatch thread hangs up
// and reports status 42 and the finish, and the port still works.
TEST_F(RecvTiming, CancelDuringPageDataReturnsAtOnce) {
  const std::string page = Stuffed(CodedPage(800, 64));
  Class2Prep();
  Class2Call();
  modem.Send(page.substr(0, page.size() / 2)).Pause(300ms);
  modem.ExpectPrefix("+++").Reply("OK").Answer("AT");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  for (int i = 0; i < 200 && rx.Session().bytesTransferred == 0; ++i) std::this_thread::sleep_for(20ms);
  ASSERT_GT(rx.Session().bytesTransferred, 0);
  const auto t0 = Clock::now();
  rx.Cancel();
  EXPECT_LT(Clock::now() - t0, 100ms);
  ASSERT_TRUE(rx.WaitDone(10000));
  EXPECT_EQ(rx.FinalCode(), fe::ecCancelRequested);
  EXPECT_TRUE(Contains(ev.Statuses(), fe::fsUserAbort));
  {
    std::lock_guard<std::mutex> lk(ev.mu);
    EXPECT_EQ(ev.finish, fe::ecCancelRequested);
  }
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 7}));
  ASSERT_EQ(port.SendText("AT\r"), 0);
  EXPECT_EQ(port.AwaitText("OK", 36), 1);
  EXPECT_TRUE(modem.WaitDone(5s)) << modem.Report();
}

}  // namespace
}  // namespace recvtest
