// The SIP user agent against SIPp: registration with digest, calls both ways
// with authentication, re-INVITEs to T.38 from either side (taken, refused,
// glare, session refresh), hang-ups, CANCEL and a busy line. SIPp only signals:
// its SDP points at a port nobody listens on, so no fax flows here.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "digest.h"
#include "sip_agent.h"
#include "sipp_peer.h"

namespace {

using namespace std::chrono_literals;
using fe::sip::TAgreed;
using siptest::SippPeer;

class SipAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!siptest::HaveSipp()) GTEST_SKIP() << "sipp is not installed";
    sippPort_ = siptest::FreeUdpPort();
    account_.user = "quillon";
    account_.domain = "127.0.0.1:" + std::to_string(sippPort_);
    account_.registrar = "-";
    account_.password = "fax-secret";
    account_.localAddress = "127.0.0.1";
    account_.sipPort = siptest::FreeUdpPort();
    account_.mediaLow = account_.mediaHigh = 0;
    account_.callerT38WaitMs = -1;
  }
  void TearDown() override { agent_.Stop(); }

  void StartAgent() {
    agent_.SetTrace([this](const std::string& line) {
      std::lock_guard<std::mutex> lk(traceMu_);
      trace_ += line + "\n";
    });
    std::string error;
    ASSERT_EQ(agent_.Start(account_, &error), 0) << error;
  }
  std::string Trace() {
    std::lock_guard<std::mutex> lk(traceMu_);
    return trace_;
  }
  std::string Target() const { return "127.0.0.1:" + std::to_string(account_.sipPort); }

  // What the modem said to the engine, until `want` shows up (or the time is up).
  bool ModemSays(const std::string& want, std::chrono::milliseconds timeout = 5s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      char buf[256];
      const size_t n = agent_.Session().Modem().Read(buf, sizeof buf);
      modemOut_.append(buf, n);
      if (modemOut_.find(want) != std::string::npos) return true;
      if (n == 0) std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  void ToModem(const std::string& command) {
    ASSERT_EQ(agent_.Session().Modem().Write(command.data(), command.size()), 0);
  }
  template <typename F>
  bool WaitFor(F done, std::chrono::milliseconds timeout = 5s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  int sippPort_ = 0;
  fe::sip::TAccount account_;
  fe::sip::TSipAgent agent_;
  SippPeer sipp_;
  std::mutex traceMu_;
  std::string trace_, modemOut_;
};

// A digest parameter of an Authorization line ("" when missing).
std::string AuthParam(const std::string& line, const std::string& name) {
  const size_t at = line.find(" " + name + "=");
  if (at == std::string::npos) return {};
  size_t start = at + name.size() + 2, end;
  if (line[start] == '"') {
    ++start;
    end = line.find('"', start);
  } else {
    end = line.find_first_of(", \r\n", start);
  }
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// ---------------------------------------------------------- registration --

TEST_F(SipAgentTest, RegisterAnswersTheChallengeWithTheRightDigest) {
  ASSERT_TRUE(sipp_.Start("register_digest.xml", sippPort_));
  account_.registrar = account_.domain;
  StartAgent();
  const fe::sip::TRegistration r = agent_.WaitRegistration(10s);
  EXPECT_EQ(r.state, fe::sip::TRegState::Registered) << fe::sip::RegistrationText(r) << "\n" << Trace();
  EXPECT_EQ(fe::sip::RegistrationText(r), "registered");
  agent_.Stop();
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
  // The trace has the messages, never the password nor the digest response.
  const std::string trace = Trace();
  EXPECT_NE(trace.find("REGISTER sip:"), std::string::npos) << trace;
  EXPECT_NE(trace.find("response=\"***\""), std::string::npos) << trace;
  EXPECT_EQ(trace.find("fax-secret"), std::string::npos);
}

TEST_F(SipAgentTest, RegisterWithAWrongPasswordSaysSo) {
  ASSERT_TRUE(sipp_.Start("register_digest.xml", sippPort_));
  account_.registrar = account_.domain;
  account_.password = "not-the-password";
  StartAgent();
  const fe::sip::TRegistration r = agent_.WaitRegistration(10s);
  EXPECT_EQ(r.state, fe::sip::TRegState::WrongPassword) << fe::sip::RegistrationText(r);
  EXPECT_EQ(fe::sip::RegistrationText(r).rfind("wrong password", 0), 0u);
  agent_.Stop();
  sipp_.Kill();
}

TEST_F(SipAgentTest, RegisterWithNobodyThereIsUnreachable) {
  account_.registrar = account_.domain;  // nothing listens on sippPort_
  account_.sipPort = siptest::FreeUdpPort();
  StartAgent();
  const fe::sip::TRegistration r = agent_.WaitRegistration(40s);
  EXPECT_EQ(r.state, fe::sip::TRegState::Unreachable) << fe::sip::RegistrationText(r);
}

}  // namespace

// ----------------------------------------------------------------- calls --

TEST_F(SipAgentTest, DialledCallAnswersTheProxyChallengeAndHangsUpWithBye) {
  ASSERT_TRUE(sipp_.Start("call_out_407.xml", sippPort_));
  StartAgent();
  ToModem("ATD5551234\r");
  ASSERT_TRUE(WaitFor([&] { return agent_.Media().kind == TAgreed::TKind::Audio; })) << Trace() << sipp_.Log();
  EXPECT_EQ(agent_.Media().codec, fe::sip::TCodec::Pcma);  // the answer's only codec
  EXPECT_EQ(agent_.Media().port, 40002);
  EXPECT_TRUE(WaitFor([&] { return agent_.Session().InCall(); }));
  EXPECT_EQ(agent_.Counts().authAnswers, 1);
  // The engine hangs up (DTR off, as it does): a BYE goes out.
  agent_.Session().Modem().SetDTR(false);
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
  EXPECT_TRUE(WaitFor([&] { return !agent_.CallActive() && !agent_.Session().InCall(); }));
  const std::string messages = sipp_.Messages();
  EXPECT_NE(messages.find("INVITE sip:5551234@127.0.0.1:" + std::to_string(sippPort_)), std::string::npos);
  EXPECT_NE(messages.find("m=audio"), std::string::npos);
  // The second INVITE's digest, worked out from the challenge by RFC 2617.
  const size_t at = messages.find("Proxy-Authorization: Digest");
  ASSERT_NE(at, std::string::npos) << messages;
  const std::string line = messages.substr(at, messages.find('\n', at) - at);
  fe::sip::TChallenge c;
  c.realm = "proxy.test";
  c.nonce = "5c1d0e77a2";
  c.qop = "auth";
  c.algorithm = "MD5";
  fe::sip::TDigestInput in{"quillon",
                           "fax-secret",
                           "INVITE",
                           AuthParam(line, "uri"),
                           AuthParam(line, "cnonce"),
                           static_cast<unsigned>(std::stoul(AuthParam(line, "nc"), nullptr, 16))};
  EXPECT_EQ(AuthParam(line, "response"), fe::sip::DigestResponse(c, in)) << line;
}

TEST_F(SipAgentTest, CallerSwitchesToT38RefreshesAndHangsUp) {
  StartAgent();
  ASSERT_TRUE(sipp_.Start("call_in_t38.xml", sippPort_, Target()));
  ASSERT_TRUE(ModemSays("RING")) << Trace() << sipp_.Log();
  ToModem("ATA\r");
  ASSERT_TRUE(WaitFor([&] { return agent_.Media().kind == TAgreed::TKind::T38; })) << Trace() << sipp_.Log();
  const TAgreed t38 = agent_.Media();
  EXPECT_EQ(t38.port, 40006);
  EXPECT_EQ(t38.t38.version, 0);        // the lower of 1 and ours
  EXPECT_EQ(t38.t38.maxDatagram, 320);  // what we may send
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
  // The BYE frees the line at once and the engine hears the carrier go.
  EXPECT_TRUE(WaitFor([&] { return !agent_.CallActive(); }, 200ms));
  EXPECT_TRUE(ModemSays("NO CARRIER")) << modemOut_;
  const fe::sip::TSipCounts n = agent_.Counts();
  EXPECT_EQ(n.callsIn, 1);
  EXPECT_EQ(n.reinvitesIn, 2);
  EXPECT_EQ(n.refreshesAnswered, 1);
  EXPECT_EQ(n.reinvitesOut, 0);
}

// ------------------------------------------------- our switch to T.38 --

TEST_F(SipAgentTest, RefusedT38KeepsTheCallOnG711) {
  ASSERT_TRUE(sipp_.Start("call_out_488.xml", sippPort_));
  account_.callerT38WaitMs = 300;
  StartAgent();
  ToModem("ATD200\r");
  ASSERT_TRUE(WaitFor([&] { return agent_.Counts().t38Refused == 1; })) << Trace() << sipp_.Log();
  // Still up, still G.711, and nothing more is asked.
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(agent_.CallActive());
  EXPECT_TRUE(agent_.Session().InCall());
  EXPECT_EQ(agent_.Media().kind, TAgreed::TKind::Audio);
  EXPECT_EQ(agent_.Media().port, 40010);
  EXPECT_EQ(agent_.Counts().reinvitesOut, 1);
  agent_.Session().Modem().SetDTR(false);
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
}

TEST_F(SipAgentTest, UnansweredT38OfferIsCancelledAndTheCallStaysOnG711) {
  ASSERT_TRUE(sipp_.Start("call_out_timeout.xml", sippPort_));
  account_.callerT38WaitMs = 200;
  account_.reinviteTimeoutMs = 800;
  StartAgent();
  ToModem("ATD203\r");
  ASSERT_TRUE(WaitFor([&] { return agent_.Counts().reinvitesOut == 1; })) << Trace() << sipp_.Log();
  ASSERT_TRUE(WaitFor([&] { return Trace().find("no answer to our T.38 offer") != std::string::npos; })) << Trace();
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(agent_.CallActive());
  EXPECT_TRUE(agent_.Session().InCall());
  EXPECT_EQ(agent_.Media().kind, TAgreed::TKind::Audio);
  EXPECT_EQ(agent_.Counts().reinvitesOut, 1);
  agent_.Session().Modem().SetDTR(false);
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
}

TEST_F(SipAgentTest, T38OfferRetriedAfter491WithTheCallersWait) {
  ASSERT_TRUE(sipp_.Start("call_out_491.xml", sippPort_));
  account_.callerT38WaitMs = 200;
  StartAgent();
  ToModem("ATD201\r");
  ASSERT_TRUE(WaitFor([&] { return agent_.Counts().retries491 == 1; })) << Trace() << sipp_.Log();
  const auto glare = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] { return agent_.Media().kind == TAgreed::TKind::T38; }, 6s)) << Trace() << sipp_.Log();
  // The side that placed the call waits 2.1 to 4 s before trying again.
  const auto waited = std::chrono::steady_clock::now() - glare;
  EXPECT_GE(waited, 2050ms);
  EXPECT_LE(waited, 4300ms);
  EXPECT_EQ(agent_.Media().port, 40012);
  EXPECT_EQ(agent_.Media().t38.maxDatagram, 272);
  EXPECT_EQ(agent_.Counts().reinvitesOut, 2);
  agent_.HangUp();
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
  EXPECT_TRUE(WaitFor([&] { return !agent_.Session().InCall(); }));
}

// ------------------------------------------------------- line handling --

TEST_F(SipAgentTest, CancelWhileRingingFreesTheLine) {
  StartAgent();
  ASSERT_TRUE(sipp_.Start("call_in_cancel.xml", sippPort_, Target()));
  ASSERT_TRUE(ModemSays("RING")) << Trace() << sipp_.Log();
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
  EXPECT_TRUE(WaitFor([&] { return !agent_.CallActive(); }, 200ms));
  // The engine answering now finds nothing to take.
  ToModem("ATA\r");
  EXPECT_TRUE(ModemSays("NO CARRIER")) << modemOut_ << Trace();
  EXPECT_FALSE(agent_.Session().InCall());
}

TEST_F(SipAgentTest, SecondCallerIsBusyWhileT38FromTheFirstInviteRuns) {
  StartAgent();
  ASSERT_TRUE(sipp_.Start("call_in_t38_first.xml", sippPort_, Target()));
  ASSERT_TRUE(ModemSays("RING")) << Trace() << sipp_.Log();
  ToModem("ATA\r");
  ASSERT_TRUE(WaitFor([&] { return agent_.Media().kind == TAgreed::TKind::T38; })) << Trace() << sipp_.Log();
  EXPECT_EQ(agent_.Media().port, 40032);
  SippPeer second;
  ASSERT_TRUE(second.Start("call_in_busy.xml", siptest::FreeUdpPort(), Target()));
  EXPECT_EQ(second.Wait(), 0) << second.Log() << Trace();
  EXPECT_EQ(agent_.Counts().busyRefused, 1);
  EXPECT_TRUE(agent_.CallActive());
  EXPECT_EQ(agent_.Media().kind, TAgreed::TKind::T38);
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
  EXPECT_TRUE(WaitFor([&] { return !agent_.CallActive(); }, 200ms));
}

TEST_F(SipAgentTest, NothingIsReinvitedAfterTheFarEndsBye) {
  ASSERT_TRUE(sipp_.Start("call_out_bye.xml", sippPort_));
  account_.callerT38WaitMs = 600;  // due after the BYE
  StartAgent();
  ToModem("ATD202\r");
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log() << Trace();
  EXPECT_TRUE(ModemSays("NO CARRIER")) << modemOut_;
  EXPECT_FALSE(agent_.CallActive());
  EXPECT_EQ(agent_.Counts().reinvitesOut, 0);
}
