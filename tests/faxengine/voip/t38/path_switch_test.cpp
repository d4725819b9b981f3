// A call that starts on G.711 and moves to T.38 while it runs, as a re-INVITE
// will move it: our sender and receiver engines, each on a media session of its
// own in this process, fax three pages; a few seconds in, both sessions get a
// T.38 path through SetPath. The pages must arrive intact, and each call trace
// must show the switch and the T.38 path's first packets right after it.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "apf_pages.h"
#include "line_pages.h"
#include "media_session.h"
#include "path_factory.h"
#include "qnfax_calls.h"
#include "receive_fax.h"
#include "send_fax.h"

namespace fe::voip {
namespace {

using namespace std::chrono_literals;
using namespace fe::voip::test;

// A call trace collected in memory.
struct Trace {
  std::mutex mu;
  std::string text;
  std::function<void(const std::string&)> Fn() {
    return [this](const std::string& line) {
      std::lock_guard<std::mutex> lk(mu);
      text += line + "\n";
    };
  }
  std::string Get() {
    std::lock_guard<std::mutex> lk(mu);
    return text;
  }
};

TMediaConfig Config(bool calling, const TUdpAddress& remote) {
  TMediaConfig c;
  c.calling = calling;
  c.local.host = "127.0.0.1";
  c.remote = remote;
  c.makePath = MakePathFactory({"rtp", "pcmu"});
  return c;
}

// How the path of a running call changes, the way a re-INVITE's answer does it.
void SwitchToT38(TMediaSession& session) {
  std::string error;
  const TPathFactory t38 = MakePathFactory({"t38", ""}, &error);
  ASSERT_TRUE(t38) << error;
  session.SetPath(t38(session.Sender()));
}

void SwitchInTheCall(bool ecm, std::chrono::milliseconds after) {
  const std::string dir = TempDir(ecm ? "switch-ecm" : "switch");
  const auto pages = fe::test::FineTextPages(3, 200);
  ASSERT_TRUE(fe::test::WriteApfPages(dir + "/X.APF", pages));

  TMediaSession answering, calling;
  Trace rxTrace, txTrace;
  answering.SetTrace(rxTrace.Fn());
  calling.SetTrace(txTrace.Fn());
  // The engines' notes go into the traces too, with the time since the start.
  const auto start = std::chrono::steady_clock::now();
  const auto note = [start](Trace& trace) {
    return [&trace, start](const std::string& text) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      trace.Fn()(std::to_string(ms.count() / 1000) + "." + std::to_string(1000 + ms.count() % 1000).substr(1) +
                 " engine: " + text);
    };
  };
  answering.Modem().SetTrace(note(rxTrace));
  calling.Modem().SetTrace(note(txTrace));
  ASSERT_EQ(answering.Open(Config(false, TUdpAddress())), 0) << answering.Error();
  ASSERT_EQ(calling.Open(Config(true, answering.LocalAddress())), 0) << calling.Error();
  answering.Start();
  calling.Start();

  TFeReceiveFax rx;
  rx.SetComPort(&answering.Modem());
  rx.FaxClass = TFaxClass::fcClass1;
  rx.DesiredBPS = 14400;
  rx.DesiredECM = ecm;
  rx.DestinationDir = dir + "/in";
  rx.OneFax = true;
  ASSERT_EQ(rx.StartReceive(), 0);
  TFeSendFax tx;
  tx.SetComPort(&calling.Modem());
  tx.FaxClass = TFaxClass::fcClass1;
  tx.DesiredBPS = 14400;
  tx.DesiredECM = ecm;
  tx.PhoneNumber = "1";
  tx.FaxFile = dir + "/X.APF";
  ASSERT_EQ(tx.StartSend(), 0);

  // Both ends move once the call is up and the engines have begun talking.
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (!(calling.InCall() && answering.InCall()) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(calling.InCall() && answering.InCall());
  std::this_thread::sleep_for(after);
  SwitchToT38(calling);
  SwitchToT38(answering);

  EXPECT_TRUE(tx.WaitDone(50000));
  EXPECT_TRUE(rx.WaitDone(10000));
  EXPECT_EQ(tx.FinalCode(), 0);
  rx.Cancel();
  rx.WaitDone(5000);
  calling.Stop();
  answering.Stop();
  tx.SetComPort(nullptr);
  rx.SetComPort(nullptr);

  EXPECT_EQ(PageDifferences(qntest::ReadApfPages(dir + "/in/FAX0001.APF"), pages), "");
  {
    std::ofstream(dir + "/tx.trace") << txTrace.Get();
    std::ofstream(dir + "/rx.trace") << rxTrace.Get();
  }
  for (const std::string& trace : {txTrace.Get(), rxTrace.Get()}) {
    // The switch, with the G.711 counts until then; the T.38 path's no-signal
    // packets at once; the call's end counted on the T.38 path.
    const size_t at = trace.find("call: path switched from rtp pcmu: sent ");
    ASSERT_NE(at, std::string::npos) << trace.substr(0, 3000);
    const size_t first = trace.find("path: tx 0 ind no-signal", at);
    ASSERT_NE(first, std::string::npos) << trace.substr(at, 2000);
    // Both lines carry the time of their tick: the same one.
    const auto timeOf = [&](size_t pos) {
      const size_t start = trace.rfind('\n', pos) + 1;
      return trace.substr(start, trace.find(' ', start) - start);
    };
    EXPECT_EQ(timeOf(first), timeOf(at));
    EXPECT_NE(trace.find("call: ended", at), std::string::npos);
    EXPECT_NE(trace.find("t38: ifp sent ", at), std::string::npos);
  }
}

TEST(PathSwitch, RtpCallMovesToT38AfterTheFirstSeconds) {
  SwitchInTheCall(false, 3s);
}

TEST(PathSwitch, RtpCallWithErrorCorrectionMovesToT38DuringTheNegotiation) {
  SwitchInTheCall(true, 6s);
}

}  // namespace
}  // namespace fe::voip
