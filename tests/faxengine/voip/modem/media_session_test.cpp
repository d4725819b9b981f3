// The media session on its clock: how calls come and go without signalling
// (ring at the first packet, ATD through at once, the far end falling silent),
// and a path switched in the middle of a call.
#include "media_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "path_factory.h"
#include "rtp_path.h"

namespace fe::voip {
namespace {

using namespace std::chrono_literals;

// The far end of the stream: a socket that sends 20 ms PCMU packets of silence
// from a thread of its own while `sending` is on, and counts what arrives.
struct FarEnd {
  TUdpSocket socket;
  std::atomic<bool> sending{false}, stop{false};
  std::atomic<int> received{0};
  std::mutex mu;
  std::vector<std::vector<uint8_t>> got;
  std::thread thread;

  FarEnd() {
    EXPECT_EQ(socket.Open("127.0.0.1", 0), 0);
    socket.SetLatching(false);  // the test sets the remote, before sending starts
    thread = std::thread([this] {
      uint16_t seq = 1;
      uint32_t ts = 0;
      while (!stop) {
        if (sending && socket.Remote().Valid()) {
          uint8_t packet[kRtpHeaderBytes + kTickSamples];
          WriteRtpHeader(packet, kPayloadPcmu, seq == 1, seq, ts, 0xFA4);
          std::fill(packet + kRtpHeaderBytes, packet + sizeof packet, uint8_t{0xFF});
          socket.Send(packet, sizeof packet);
          ++seq;
          ts += kTickSamples;
        }
        uint8_t buf[2048];
        for (int n; (n = socket.Receive(buf, sizeof buf)) > 0;) {
          ++received;
          std::lock_guard<std::mutex> lk(mu);
          got.emplace_back(buf, buf + n);
        }
        std::this_thread::sleep_for(20ms);
      }
    });
  }
  ~FarEnd() {
    stop = true;
    thread.join();
  }
};

// What the modem says, read as an engine would.
struct Dte {
  TVirtualModem& modem;
  std::string said;
  explicit Dte(TVirtualModem& m) : modem(m) {}
  void Send(const std::string& s) { ASSERT_EQ(modem.Write(s.data(), s.size()), 0); }
  bool WaitFor(const std::string& word, std::chrono::milliseconds limit, size_t from = 0) {
    const auto end = std::chrono::steady_clock::now() + limit;
    char buf[512];
    do {
      for (size_t n; (n = modem.Read(buf, sizeof buf)) > 0;) said.append(buf, n);
      if (said.find(word, from) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }
};

// Stops the session's clock when a test ends early, before the things its
// thread writes to (the trace) go.
struct StopAtEnd {
  TMediaSession& session;
  ~StopAtEnd() { session.Stop(); }
};

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

TMediaConfig Config(bool calling, const TUdpAddress& remote = {}) {
  TMediaConfig c;
  c.calling = calling;
  c.local.host = "127.0.0.1";
  c.remote = remote;
  c.makePath = MakePathFactory({});
  c.silenceEndMs = 400;
  c.ringPeriodMs = 300;
  c.quietAfterCallMs = 200;
  return c;
}

TEST(MediaSession, TheAnsweringSideRingsAtTheFirstPacketAndHearsTheCallerGo) {
  FarEnd far;
  TMediaSession session;
  Trace trace;
  session.SetTrace(trace.Fn());
  ASSERT_EQ(session.Open(Config(false)), 0) << session.Error();
  session.Start();
  const StopAtEnd stopAtEnd{session};
  Dte dte(session.Modem());
  dte.Send("ATE0+FCLASS=1\r");
  ASSERT_TRUE(dte.WaitFor("OK", 1s));
  dte.Send("AT+VCID=1\r");
  ASSERT_TRUE(dte.WaitFor("OK", 1s, dte.said.find("OK") + 2)) << dte.said;
  // No packet, no ring.
  EXPECT_FALSE(dte.WaitFor("RING", 300ms));
  far.socket.SetRemote(session.LocalAddress());
  far.sending = true;
  ASSERT_TRUE(dte.WaitFor("RING", 1s)) << dte.said;
  EXPECT_NE(dte.said.find(far.socket.Local().Text()), std::string::npos) << "caller id: " << dte.said;
  // Rings again while the caller waits.
  const size_t first = dte.said.find("RING");
  ASSERT_TRUE(dte.WaitFor("RING", 1s, first + 4)) << dte.said;
  const size_t answerAt = dte.said.size();
  dte.Send("ATA\r");
  ASSERT_TRUE(dte.WaitFor("CONNECT", 5s, answerAt)) << dte.said;  // after the answer tone
  EXPECT_TRUE(session.InCall());
  // Our answer goes back to where the caller's packets come from.
  const int before = far.received;
  std::this_thread::sleep_for(200ms);
  EXPECT_GT(far.received, before + 5);
  // The caller stops: after the silence limit the engine hears NO CARRIER.
  const size_t goneAt = dte.said.size();
  far.sending = false;
  ASSERT_TRUE(dte.WaitFor("NO CARRIER", 2s, goneAt)) << dte.said;
  EXPECT_FALSE(session.InCall());
  const std::string text = trace.Get();
  EXPECT_NE(text.find("call: incoming from " + far.socket.Local().Text()), std::string::npos) << text;
  EXPECT_NE(text.find("call: answered"), std::string::npos) << text;
  EXPECT_NE(text.find("call: ended (nothing heard"), std::string::npos) << text;
  session.Stop();
}

TEST(MediaSession, PacketsOfACallWeEndedAreNoNewCallButAnotherCallerRingsAtOnce) {
  FarEnd far;
  TMediaSession session;
  TMediaConfig config = Config(false);
  config.quietAfterCallMs = 1000;
  ASSERT_EQ(session.Open(config), 0) << session.Error();
  session.Start();
  const StopAtEnd stopAtEnd{session};
  Dte dte(session.Modem());
  dte.Send("ATE0+FCLASS=1\r");
  ASSERT_TRUE(dte.WaitFor("OK", 1s));
  dte.Send("AT+VCID=1\r");
  ASSERT_TRUE(dte.WaitFor("OK", 1s, dte.said.find("OK") + 2)) << dte.said;
  far.socket.SetRemote(session.LocalAddress());
  far.sending = true;
  ASSERT_TRUE(dte.WaitFor("RING", 1s)) << dte.said;
  dte.Send("ATA\r");
  ASSERT_TRUE(dte.WaitFor("CONNECT", 5s)) << dte.said;
  // No frame to send: an empty one ends the answer; then we hang up while
  // the far end goes on sending for a while.
  size_t at = dte.said.size();
  dte.Send(std::string("\x10\x03", 2));
  ASSERT_TRUE(dte.WaitFor("OK", 3s, at)) << dte.said;
  at = dte.said.size();
  dte.Send("ATH\r");
  ASSERT_TRUE(dte.WaitFor("OK", 3s, at)) << dte.said;
  at = dte.said.size();
  EXPECT_FALSE(dte.WaitFor("RING", 600ms, at)) << dte.said;
  EXPECT_FALSE(session.InCall());
  // Later, a new call from the same place.
  far.sending = false;
  std::this_thread::sleep_for(500ms);
  far.sending = true;
  EXPECT_TRUE(dte.WaitFor("RING", 1s, at)) << dte.said;
  EXPECT_EQ(session.Calls(), 1u);
  // Answered and hung up again; while the caller goes on, another one calls:
  // it rings at once.
  dte.Send("ATA\r");
  ASSERT_TRUE(dte.WaitFor("CONNECT", 5s, at)) << dte.said;
  at = dte.said.size();
  dte.Send(std::string("\x10\x03", 2));
  ASSERT_TRUE(dte.WaitFor("OK", 3s, at)) << dte.said;
  at = dte.said.size();
  dte.Send("ATH\r");
  ASSERT_TRUE(dte.WaitFor("OK", 3s, at)) << dte.said;
  at = dte.said.size();
  FarEnd other;
  other.socket.SetRemote(session.LocalAddress());
  other.sending = true;
  EXPECT_TRUE(dte.WaitFor("RING", 500ms, at)) << dte.said;
  EXPECT_NE(dte.said.find(other.socket.Local().Text(), at), std::string::npos) << dte.said;
  session.Stop();
}

TEST(MediaSession, TheCallingSideIsThroughAtOnceAndStopsSendingAtTheHangUp) {
  FarEnd far;
  TMediaSession session;
  Trace trace;
  session.SetTrace(trace.Fn());
  ASSERT_EQ(session.Open(Config(true, far.socket.Local())), 0) << session.Error();
  session.Start();
  const StopAtEnd stopAtEnd{session};
  Dte dte(session.Modem());
  dte.Send("ATE0+FCLASS=1\r");
  ASSERT_TRUE(dte.WaitFor("OK", 1s));
  EXPECT_EQ(far.received, 0);
  dte.Send("ATDT5551234\r");
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(session.InCall());
  EXPECT_GT(far.received, 5);
  far.socket.SetRemote(session.LocalAddress());
  far.sending = true;
  // A character ends the modem's listening for the answerer's frames (back to
  // command mode); then on-hook.
  size_t at = dte.said.size();
  dte.Send("\r");
  ASSERT_TRUE(dte.WaitFor("OK", 3s, at)) << dte.said;
  at = dte.said.size();
  dte.Send("ATH\r");
  ASSERT_TRUE(dte.WaitFor("OK", 3s, at)) << dte.said;
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(session.InCall());
  const int after = far.received;
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(far.received, after);
  EXPECT_NE(trace.Get().find("call: ended (hung up here)"), std::string::npos) << trace.Get();
  session.Stop();
}

// A path that only records how it is used, and sends one marked datagram a tick.
struct RecordingPath : TMediaPath {
  TDatagramSend send;
  std::atomic<int> transmits{0}, receives{0}, delivered{0};
  explicit RecordingPath(TDatagramSend s) : send(std::move(s)) {}
  void Transmit(const int16_t*, int count) override {
    ++transmits;
    EXPECT_EQ(count, kTickSamples);
    const uint8_t mark[4] = {'T', 'E', 'S', 'T'};
    send(mark, sizeof mark);
  }
  int Receive(int16_t* samples, int count) override {
    ++receives;
    std::fill(samples, samples + count, int16_t{0});
    return 0;  // all gap: the modem fills in
  }
  void Deliver(const uint8_t*, size_t) override { ++delivered; }
  std::string Summary() const override { return "recording: nothing to say"; }
};

TEST(MediaSession, APathSwitchedInACallTakesOverBetweenTicks) {
  FarEnd far;
  TMediaSession session;
  Trace trace;
  session.SetTrace(trace.Fn());
  ASSERT_EQ(session.Open(Config(true, far.socket.Local())), 0) << session.Error();
  session.Start();
  const StopAtEnd stopAtEnd{session};
  Dte dte(session.Modem());
  dte.Send("ATDT1\r");
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(session.InCall());
  far.socket.SetRemote(session.LocalAddress());
  far.sending = true;
  auto owned = std::make_unique<RecordingPath>(session.Sender());
  RecordingPath* path = owned.get();
  session.SetPath(std::move(owned));
  std::this_thread::sleep_for(300ms);
  // One Receive and one Transmit per tick, and the far end's packets go to it.
  EXPECT_GE(path->transmits, 10);
  EXPECT_LE(std::abs(path->transmits - path->receives), 1);
  EXPECT_GT(path->delivered, 3);
  {
    std::lock_guard<std::mutex> lk(far.mu);
    ASSERT_FALSE(far.got.empty());
    EXPECT_EQ(far.got.back(), std::vector<uint8_t>({'T', 'E', 'S', 'T'}));
    EXPECT_EQ(far.got.front().size(), static_cast<size_t>(kRtpHeaderBytes + kTickSamples));
  }
  const std::string text = trace.Get();
  EXPECT_NE(text.find("call: path switched from rtp pcmu: sent "), std::string::npos) << text;
  far.sending = false;
  session.Stop();
}

TEST(MediaSession, OpeningSaysWhatIsWrong) {
  TMediaSession session;
  EXPECT_NE(session.Open(Config(true)), 0);
  EXPECT_NE(session.Error().find("remote"), std::string::npos) << session.Error();
  TUdpSocket busy;
  ASSERT_EQ(busy.Open("127.0.0.1", 0), 0);
  TMediaConfig c = Config(false);
  c.local.low = c.local.high = busy.Local().Port();
  EXPECT_NE(session.Open(c), 0);
  EXPECT_NE(session.Error().find("in use"), std::string::npos) << session.Error();
  std::string why;
  TPathChoice t38{"t38", ""};
  EXPECT_TRUE(MakePathFactory(t38, &why)) << why;
  t38.t38.v27ter = t38.t38.v29 = t38.t38.v17 = false;
  EXPECT_FALSE(MakePathFactory(t38, &why));
  EXPECT_NE(why.find("modulation"), std::string::npos) << why;
  t38.t38.v17 = true;
  t38.t38.farMaxDatagram = 8;
  EXPECT_FALSE(MakePathFactory(t38, &why));
  EXPECT_NE(why.find("datagram size 8"), std::string::npos) << why;
  EXPECT_FALSE(MakePathFactory({"rtp", "g729"}, &why));
  EXPECT_NE(why.find("g729"), std::string::npos);
  EXPECT_FALSE(MakePathFactory({"sctp", ""}, &why));
}

}  // namespace
}  // namespace fe::voip
