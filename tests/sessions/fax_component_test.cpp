// A fax component on a session port over its whole life: attached again after
// the port was closed and reopened it still gets its events; the port is never
// closed under a running component; a cancel during the modem preparation ends
// the session that follows it; status handlers see the status of their event.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "abstract_fax.h"
#include "apf_writer.h"
#include "fe_errors.h"
#include "scripted_modem.h"
#include "send_fax.h"
#include "sessions/fax_port.h"

namespace qn {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The least engine there is: a run that counts its timer events and ends on a
// cancel, at once or (slowCancel, as a hang-up does) about half a second later.
class ProbeFax : public fe::TFeAbstractFax {
 public:
  void Run() {
    std::lock_guard<std::recursive_mutex> lk(engineMu_);
    BeginRun();
    if (link_) link_->SetTimer(1);
  }
  void Stop() {
    std::lock_guard<std::recursive_mutex> lk(engineMu_);
    EndRun(0);
  }
  void Say(int status, bool first, bool last) { SetStatus(status, first, last); }

  std::atomic<int> timers{0}, cancels{0};
  bool slowCancel = false;
  bool stuck = false;  // a faulty engine: ends on nothing at all

 protected:
  void OnLinkEvent(fe::TLinkEvent ev) override {
    if (ev == fe::TLinkEvent::Timer) ++timers;
    if (ev == fe::TLinkEvent::Closing && !stuck) EndRun(fe::ecNotOpen);
  }
  void OnCancel() override {
    if (stuck) return;
    if (++cancels == 1) firstCancel_ = Clock::now();
    if (slowCancel && Clock::now() - firstCancel_ < 500ms) {
      link_->SetTimer(2);  // still hanging up: look again shortly
      return;
    }
    EndRun(fe::ecCancelRequested);
  }

 private:
  Clock::time_point firstCancel_;
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto until = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(FaxComponent, AttachedAgainAfterTheCloseItGetsEvents) {
  qnsim::ScriptedModem modem;
  ProbeFax fax;
  TFaxSessionPort port;
  ASSERT_EQ(port.Open(fax, modem.DevicePath(), ""), 0);
  fax.Run();
  ASSERT_TRUE(WaitFor([&] { return fax.timers >= 1; }, 2s));
  fax.Stop();
  port.Close();
  EXPECT_EQ(fax.ComPort(), nullptr);

  ASSERT_EQ(port.Open(fax, modem.DevicePath(), ""), 0);
  fax.Run();
  EXPECT_TRUE(WaitFor([&] { return fax.timers >= 2; }, 2s)) << "no event after the port was opened again";
  fax.Stop();
  port.Close();
}

// A cancelled component that takes its time to stop keeps its port until it
// has: the close waits for it, a bounded stop says it is not done yet.
TEST(FaxComponent, ThePortIsNeverClosedUnderARunningComponent) {
  qnsim::ScriptedModem modem;
  ProbeFax fax;
  fax.slowCancel = true;
  TFaxSessionPort port;
  ASSERT_EQ(port.Open(fax, modem.DevicePath(), ""), 0);
  fax.Run();
  ASSERT_TRUE(WaitFor([&] { return fax.timers >= 1; }, 2s));
  const auto start = Clock::now();
  EXPECT_FALSE(port.StopComponent(100));
  EXPECT_TRUE(fax.Running());
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(fax.ComPort() != nullptr, true);
  port.Close();
  EXPECT_GE(Clock::now() - start, 450ms);
  EXPECT_FALSE(fax.Running());
  EXPECT_EQ(fax.FinalCode(), fe::ecCancelRequested);
  EXPECT_FALSE(port.IsOpen());
}

// Even a component that never stops does not hold the session forever once
// its device has gone: nothing can reach it any more, and the port is let go.
TEST(FaxComponent, AGoneDeviceEndsTheWaitForAComponentThatNeverStops) {
  qnsim::ScriptedModem modem;
  modem.Pause(300ms).HangUp();
  modem.Start();
  ProbeFax fax;
  fax.stuck = true;
  TFaxSessionPort port;
  ASSERT_EQ(port.Open(fax, modem.DevicePath(), ""), 0);
  fax.Run();
  const auto start = Clock::now();
  port.Close();
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_EQ(fax.ComPort(), nullptr);
  EXPECT_FALSE(port.IsOpen());
}

// A cancel while the modem is being prepared is not forgotten: the session
// ends as cancelled before it dials.
TEST(FaxComponent, CancelDuringModemPreparationEndsTheSession) {
  const std::string file =
      (std::filesystem::temp_directory_path() / ("qn-prep-cancel-" + std::to_string(::getpid()) + ".apf")).string();
  {
    fe::TApfWriter w;
    ASSERT_EQ(w.Create(file), 0);
    ASSERT_EQ(w.BeginPage(fe::pfLineRecords), 0);
    const std::vector<uint8_t> line(216, 0);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(w.AppendRasterLine(line.data(), 1728), 0);
    ASSERT_EQ(w.EndPage(), 0);
    ASSERT_EQ(w.Close(), 0);
  }
  qnsim::ScriptedModem modem;
  fe::TFeSendFax fax;
  modem.Expect("ATE0Q0V1X4S0=0S2=43").Call([&fax](qnsim::ScriptedModem&) { fax.Cancel(); }).Reply("OK");
  modem.Answer("AT+FCLASS=1").Expect("AT+FTM=?").Reply("24,48,72,96").Reply("OK");
  modem.Start();
  TFaxSessionPort port;
  ASSERT_EQ(port.Open(fax, modem.DevicePath(), ""), 0);
  std::vector<int> finishes;
  fax.OnFaxFinish = [&finishes](fe::TFeAbstractFax&, int code) { finishes.push_back(code); };
  fax.FaxClass = fe::TFaxClass::fcClass1;
  fax.FaxFile = file;
  fax.PhoneNumber = "5551234";
  fax.DialAttempts = 1;
  ASSERT_EQ(fax.StartSend(), 0);
  EXPECT_TRUE(port.sink.RunUntil([&] { return !fax.Running() && !finishes.empty(); }, 15000ms));
  EXPECT_TRUE(modem.WaitDone(1s)) << modem.Report();
  EXPECT_EQ(fax.FinalCode(), fe::ecCancelRequested);
  EXPECT_EQ(finishes, std::vector<int>{fe::ecCancelRequested});
  EXPECT_EQ(modem.Received().find("ATD"), std::string::npos) << modem.Received();
  port.Close();
  std::filesystem::remove(file);
}

// Status events that run late (the first and the last are queued) show the
// status they were made for, also through Session(); outside them the current.
TEST(FaxComponent, StatusHandlersSeeTheStatusOfTheirEvent) {
  fe::TFeQueueSink sink;  // outlives the component, which runs what is left at its end
  ProbeFax fax;
  fax.SetEventSink(&sink);
  std::vector<int> seen, seenSession;
  fax.OnFaxStatus = [&](fe::TFeAbstractFax& cp, bool, bool) {
    seen.push_back(cp.Status());
    seenSession.push_back(cp.Session().status);
  };
  std::thread engine([&fax] {  // as the dispatch thread reports them
    fax.Say(3, true, false);
    fax.Say(42, false, true);
  });
  engine.join();
  EXPECT_TRUE(seen.empty());
  sink.ProcessPending();
  EXPECT_EQ(seen, (std::vector<int>{3, 42}));
  EXPECT_EQ(seenSession, (std::vector<int>{3, 42}));
  EXPECT_EQ(fax.Status(), 42);
}

}  // namespace
}  // namespace qn
