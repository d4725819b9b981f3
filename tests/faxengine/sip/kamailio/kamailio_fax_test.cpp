// Whole faxes between two qnfax through Kamailio and rtpengine, in real time:
// both register (as numbers 2001 and 2002) with digest authentication, the call goes through the proxy
// (which asks for credentials again), and all media passes through rtpengine.
// With T.38 at both ends rtpengine relays UDPTL; with T.38 off at one end,
// Kamailio has rtpengine turn the other end's T.38 offer into G.711 for it, so
// rtpengine is the call's T.38 to G.711 gateway. Pages are compared row by row.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "apf_pages.h"
#include "fax_ends.h"
#include "fax_pages.h"
#include "kamailio_rig.h"
#include "line_pages.h"
#include "sim_harness.h"
#include "sipp_peer.h"

namespace {

using namespace std::chrono_literals;
using fe::sip::test::TKamailio;
using fe::sip::test::TKamailioAccount;

std::string TempDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("qn-kam-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "in");
  return dir.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Qnfax() {
  return std::string(QN_BINARY_DIR) + "/bin/qnfax";
}

class KamailioFax : public ::testing::Test {
 protected:
  void SetUp() override {
    if (fe::sip::test::KamailioBinary().empty())
      GTEST_SKIP() << "kamailio (with its rtpengine module) is not installed";
    if (fe::voip::test::RtpEngineBinary().empty()) GTEST_SKIP() << "rtpengine is not installed";
  }

  void TearDown() override {
    kamailio_.Stop();
    if (!dir_.empty() && !HasFailure()) std::filesystem::remove_all(dir_);
  }

  bool StartServer(const std::string& name, const std::vector<TKamailioAccount>& accounts) {
    dir_ = TempDir(name);
    for (const auto& a : accounts) {
      std::ofstream(dir_ + "/" + a.user + ".pw") << a.password << "\n";
    }
    if (!kamailio_.Start(dir_, accounts)) {
      ADD_FAILURE() << kamailio_.Error();
      return false;
    }
    return true;
  }

  // The account options of qnfax for user at the rig's server.
  std::vector<std::string> Account(const std::string& user, const std::string& passwordFile) {
    return {"--sip",
            "--user",
            user,
            "--domain",
            TKamailio::kDomain,
            "--registrar",
            kamailio_.Address(),
            "--proxy",
            kamailio_.Address(),
            "--password-file",
            passwordFile,
            "--sip-local",
            "127.0.0.1",
            "--sip-port",
            std::to_string(siptest::FreeUdpPort()),
            "--media-ports",
            "0-0"};
  }

  struct TResult {
    std::string txTrace, rxTrace;
  };

  // from sends a fax to `to` (both registered at the rig); the pages must
  // arrive row for row.
  TResult Fax(const std::string& from, const std::string& to, std::vector<std::string> txExtra,
              std::vector<std::string> rxExtra) {
    TResult r;
    const auto pages = fe::test::FineTextPages(2, 120);
    EXPECT_TRUE(fe::test::WriteApfPages(dir_ + "/X.APF", pages));
    std::vector<std::string> rxArgs = {Qnfax(), "receive", "--dir",           dir_ + "/in",
                                       "--one", "--trace", dir_ + "/rx.trace"};
    for (const auto& a : Account(to, dir_ + "/" + to + ".pw")) rxArgs.push_back(a);
    for (const auto& a : rxExtra) rxArgs.push_back(a);
    qn::sim::ProgramRun rx;
    std::thread rxThread([&] { rx = qn::sim::runProgram(rxArgs, dir_ + "/rx.out", 60s); });
    // The receiver must be registered before anyone calls it.
    const auto until = std::chrono::steady_clock::now() + 15s;
    while (ReadFile(dir_ + "/rx.out").find("Registration: ") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(50ms);
    const std::string registration = ReadFile(dir_ + "/rx.out");
    EXPECT_NE(registration.find("Registration: registered"), std::string::npos) << registration;

    std::vector<std::string> txArgs = {Qnfax(), "send",  "--number", to,
                                       "--bps", "14400", "--trace",  dir_ + "/tx.trace"};
    for (const auto& a : Account(from, dir_ + "/" + from + ".pw")) txArgs.push_back(a);
    for (const auto& a : txExtra) txArgs.push_back(a);
    txArgs.push_back(dir_ + "/X.APF");
    const auto tx = qn::sim::runProgram(txArgs, dir_ + "/tx.out", 60s);
    rxThread.join();
    r.rxTrace = ReadFile(dir_ + "/rx.trace");
    r.txTrace = ReadFile(dir_ + "/tx.trace");
    EXPECT_EQ(tx.status, 0) << tx.output << r.txTrace << "\nkamailio:\n" << kamailio_.LogTail();
    EXPECT_NE(tx.output.find("Fax sent"), std::string::npos) << tx.output;
    EXPECT_EQ(rx.status, 0) << rx.output << r.rxTrace;
    EXPECT_NE(rx.output.find("FAX0001.APF: 2 pages"), std::string::npos) << rx.output;
    const auto got = qntest::ReadApfPages(dir_ + "/in/FAX0001.APF");
    EXPECT_EQ(got.size(), pages.size());
    for (size_t i = 0; i < pages.size() && i < got.size(); ++i) {
      std::string why;
      EXPECT_TRUE(qn::sim::samePage(got[i], pages[i], &why)) << "page " << i + 1 << ": " << why;
    }
    // Both sides were asked for their credentials and answered; the call
    // went through the proxy, its media through rtpengine's ports.
    EXPECT_NE(r.txTrace.find("407 "), std::string::npos) << r.txTrace;
    EXPECT_NE(r.txTrace.find("Record-Route: <sip:127.0.0.1:" + std::to_string(kamailio_.Port())), std::string::npos)
        << r.txTrace;
    EXPECT_TRUE(MediaThroughRtpEngine(r.txTrace)) << r.txTrace;
    EXPECT_TRUE(MediaThroughRtpEngine(r.rxTrace)) << r.rxTrace;
    for (const auto& a : {from, to}) {
      const std::string password = ReadFile(dir_ + "/" + a + ".pw").substr(0, 20);
      EXPECT_EQ(r.txTrace.find(password.substr(0, password.find('\n'))), std::string::npos);
      EXPECT_EQ(r.rxTrace.find(password.substr(0, password.find('\n'))), std::string::npos);
    }
    return r;
  }

  // Every address the media session was given (on dialling, answering or a
  // new offer in the call) is a port of rtpengine's block.
  bool MediaThroughRtpEngine(const std::string& trace) {
    int seen = 0;
    for (const std::string what : {"call: dialled 127.0.0.1:", "call: answered 127.0.0.1:", "media now to 127.0.0.1:"})
      for (size_t at = trace.find(what); at != std::string::npos; at = trace.find(what, at + 1)) {
        const int port = std::atoi(trace.c_str() + at + what.size());
        if (port < kamailio_.RtpEngine().PortMin() || port > kamailio_.RtpEngine().PortMax()) return false;
        ++seen;
      }
    return seen > 0;
  }

  TKamailio kamailio_;
  std::string dir_;
};

TEST_F(KamailioFax, T38AtBothEndsRelayedByRtpEngine) {
  if (!StartServer("t38", {{"2001", "al1ce-secret", false}, {"2002", "b0b-secret", false}})) return;
  const auto r = Fax("2001", "2002", {}, {});
  EXPECT_NE(r.rxTrace.find("sip: call switched to T.38"), std::string::npos) << r.rxTrace;
  EXPECT_NE(r.txTrace.find("sip: the far end switched the call to T.38"), std::string::npos) << r.txTrace;
  EXPECT_EQ(ReadFile(dir_ + "/kamailio.log").find("rtpengine gateways"), std::string::npos);
}

// The sender has T.38, the receiver not: the sender asks for T.38 itself,
// rtpengine answers it with T.38 while the receiver stays on G.711.
TEST_F(KamailioFax, RtpEngineGatewaysToAReceiverWithoutT38) {
  if (!StartServer("gw-rx", {{"2001", "al1ce-secret", false}, {"2002", "b0b-secret", true}})) return;
  const auto r = Fax("2001", "2002", {"--t38-wait", "2000"}, {"--no-t38"});
  EXPECT_NE(r.txTrace.find("sip: call switched to T.38"), std::string::npos) << r.txTrace;
  EXPECT_EQ(r.rxTrace.find("m=image"), std::string::npos) << r.rxTrace;
  EXPECT_NE(ReadFile(dir_ + "/kamailio.log").find("T.38 offer to audio-only 2002"), std::string::npos);
}

// The sender has no T.38: the receiver hears its CNG and asks for T.38, which
// rtpengine takes on the sender's behalf.
TEST_F(KamailioFax, RtpEngineGatewaysForASenderWithoutT38) {
  if (!StartServer("gw-tx", {{"2001", "al1ce-secret", true}, {"2002", "b0b-secret", false}})) return;
  const auto r = Fax("2001", "2002", {"--no-t38"}, {});
  EXPECT_NE(r.rxTrace.find("sip: call switched to T.38"), std::string::npos) << r.rxTrace;
  EXPECT_EQ(r.txTrace.find("m=image"), std::string::npos) << r.txTrace;
  EXPECT_NE(ReadFile(dir_ + "/kamailio.log").find("T.38 offer to audio-only 2001"), std::string::npos);
}

// qnfax sends three pages on G.711 to spandsp's audio fax terminal, whose SIP
// leg is SIPp (registered with digest, answering at the terminal's RTP port):
// the T.30 at the far end is spandsp's, the media passes through rtpengine.
TEST_F(KamailioFax, QnfaxSendsToSpandspAudioTerminal) {
  if (!siptest::HaveSipp()) GTEST_SKIP() << "sipp is not installed";
  if (!StartServer("term-rx", {{"2001", "al1ce-secret", false}, {"2003", "t3rm-secret", true}})) return;
  const auto pages = fe::test::FineTextPages(3, 120);
  ASSERT_TRUE(fe::test::WriteApfPages(dir_ + "/X.APF", pages));
  fe::voip::test::TAudioTerminal terminal({false, false, dir_ + "/in.tif", "SPANDSP RX", true});
  ASSERT_TRUE(terminal.Error().empty()) << terminal.Error();
  const int legPort = siptest::FreeUdpPort();
  const std::string portFile = dir_ + "/offered.port";
  siptest::SippPeer leg, reg;
  ASSERT_TRUE(leg.Start(
      "kam_terminal_answer.xml", legPort, {},
      {"-set", "media_port", std::to_string(terminal.Port()), "-set", "port_file", portFile, "-timeout", "60"}));
  ASSERT_TRUE(reg.Start(
      "kam_terminal_register.xml", siptest::FreeUdpPort(), kamailio_.Address(),
      {"-set", "contact_port", std::to_string(legPort), "-set", "user", "2003", "-au", "2003", "-ap", "t3rm-secret"}));
  ASSERT_EQ(reg.Wait(), 0) << reg.Log() << kamailio_.LogTail();

  std::vector<std::string> txArgs = {Qnfax(), "send",  "--number", "2003",
                                     "--bps", "14400", "--trace",  dir_ + "/tx.trace"};
  for (const auto& a : Account("2001", dir_ + "/2001.pw")) txArgs.push_back(a);
  txArgs.push_back("--no-t38");
  txArgs.push_back(dir_ + "/X.APF");
  qn::sim::ProgramRun tx;
  std::thread txThread([&] { tx = qn::sim::runProgram(txArgs, dir_ + "/tx.out", 60s); });
  // The terminal sends to where rtpengine offered it the call's audio.
  int remote = 0;
  for (const auto until = std::chrono::steady_clock::now() + 15s;
       remote == 0 && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms))
    remote = std::atoi(ReadFile(portFile).c_str());
  fe::voip::TUdpAddress to;
  std::string error;
  const bool offered = remote > 0 && fe::voip::ParseUdpAddress("127.0.0.1:" + std::to_string(remote), to, &error);
  EXPECT_TRUE(offered) << "no offer reached the terminal's SIP leg: " << error << leg.Log();
  EXPECT_GE(remote, kamailio_.RtpEngine().PortMin());
  EXPECT_LE(remote, kamailio_.RtpEngine().PortMax());
  fe::voip::test::TTerminalResult result;
  if (offered) {
    terminal.Start(to);
    result = terminal.Wait(60s);
  }
  txThread.join();
  if (!offered) return;
  EXPECT_EQ(leg.Wait(10s), 0) << leg.Log();
  terminal.Stop();
  const std::string txTrace = ReadFile(dir_ + "/tx.trace");
  EXPECT_EQ(tx.status, 0) << tx.output << txTrace;
  EXPECT_EQ(result.code, 0) << result.text;
  EXPECT_EQ(result.pages, 3);
  const auto got = qn::sim::readPages(dir_ + "/in.tif");
  ASSERT_EQ(got.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(got[i], pages[i], &why)) << "page " << i + 1 << ": " << why;
  }
  EXPECT_TRUE(MediaThroughRtpEngine(txTrace)) << txTrace;
}

// spandsp's audio terminal calls qnfax through the proxy (its SIP leg SIPp,
// answering the proxy's challenge) and sends three pages on G.711.
TEST_F(KamailioFax, SpandspAudioTerminalSendsToQnfax) {
  if (!siptest::HaveSipp()) GTEST_SKIP() << "sipp is not installed";
  if (!StartServer("term-tx", {{"2002", "b0b-secret", false}, {"2003", "t3rm-secret", true}})) return;
  const auto pages = fe::test::FineTextPages(3, 120);
  ASSERT_TRUE(qn::sim::writeTiff(dir_ + "/out.tif", pages));
  fe::voip::test::TAudioTerminal terminal({true, true, dir_ + "/out.tif", "SPANDSP TX", false});
  ASSERT_TRUE(terminal.Error().empty()) << terminal.Error();

  std::vector<std::string> rxArgs = {Qnfax(),   "receive",          "--dir",   dir_ + "/in", "--one",
                                     "--trace", dir_ + "/rx.trace", "--no-t38"};
  for (const auto& a : Account("2002", dir_ + "/2002.pw")) rxArgs.push_back(a);
  qn::sim::ProgramRun rx;
  std::thread rxThread([&] { rx = qn::sim::runProgram(rxArgs, dir_ + "/rx.out", 60s); });
  for (const auto until = std::chrono::steady_clock::now() + 15s;
       ReadFile(dir_ + "/rx.out").find("Registration: ") == std::string::npos &&
       std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(50ms);
  EXPECT_NE(ReadFile(dir_ + "/rx.out").find("Registration: registered"), std::string::npos);

  const std::string portFile = dir_ + "/answered.port";
  siptest::SippPeer leg;
  const bool started =
      leg.Start("kam_terminal_call.xml", siptest::FreeUdpPort(), kamailio_.Address(),
                {"-set", "media_port", std::to_string(terminal.Port()), "-set", "port_file", portFile, "-set", "callee",
                 "2002", "-set", "user", "2003", "-au", "2003", "-ap", "t3rm-secret", "-timeout", "60"});
  EXPECT_TRUE(started);
  int remote = 0;
  for (const auto until = std::chrono::steady_clock::now() + 15s;
       started && remote == 0 && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms))
    remote = std::atoi(ReadFile(portFile).c_str());
  fe::voip::TUdpAddress to;
  std::string error;
  const bool answered = remote > 0 && fe::voip::ParseUdpAddress("127.0.0.1:" + std::to_string(remote), to, &error);
  EXPECT_TRUE(answered) << "the terminal's call was not answered: " << error << leg.Log() << kamailio_.LogTail();
  fe::voip::test::TTerminalResult result;
  if (answered) {
    terminal.Start(to);
    result = terminal.Wait(60s);
  }
  rxThread.join();
  EXPECT_EQ(leg.Wait(10s), 0) << leg.Log();
  terminal.Stop();
  if (!answered) return;
  EXPECT_GE(remote, kamailio_.RtpEngine().PortMin());
  EXPECT_LE(remote, kamailio_.RtpEngine().PortMax());
  const std::string rxTrace = ReadFile(dir_ + "/rx.trace");
  EXPECT_EQ(result.code, 0) << result.text;
  EXPECT_EQ(rx.status, 0) << rx.output << rxTrace;
  EXPECT_NE(rx.output.find("FAX0001.APF: 3 pages"), std::string::npos) << rx.output;
  const auto got = qntest::ReadApfPages(dir_ + "/in/FAX0001.APF");
  ASSERT_EQ(got.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(got[i], pages[i], &why)) << "page " << i + 1 << ": " << why;
  }
  EXPECT_TRUE(MediaThroughRtpEngine(rxTrace)) << rxTrace;
}

// A wrong password is refused by Kamailio's digest check, in plain words,
// and shows neither in our trace nor in the server's log.
TEST_F(KamailioFax, WrongPasswordIsRefused) {
  if (!StartServer("auth", {{"2001", "al1ce-secret", false}})) return;
  std::ofstream(dir_ + "/wrong.pw") << "not-the-secret\n";
  std::vector<std::string> args = {Qnfax(), "sip", "register", "--trace", dir_ + "/reg.trace"};
  for (const auto& a : Account("2001", dir_ + "/wrong.pw")) args.push_back(a);
  auto run = qn::sim::runProgram(args, dir_ + "/reg.out", 30s);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("wrong password"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFile(dir_ + "/reg.trace").find("not-the-secret"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_ + "/kamailio.log").find("not-the-secret"), std::string::npos);
  // The right one registers.
  args.resize(5);
  for (const auto& a : Account("2001", dir_ + "/2001.pw")) args.push_back(a);
  run = qn::sim::runProgram(args, dir_ + "/reg.out", 30s);
  EXPECT_EQ(run.status, 0) << run.output << ReadFile(dir_ + "/reg.trace") << kamailio_.LogTail();
}

}  // namespace
