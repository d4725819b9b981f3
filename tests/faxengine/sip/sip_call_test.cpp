// Whole faxes over SIP calls in real time: qnfax send --sip calls qnfax
// receive --sip directly (no registrar), the answering side hears the caller's
// CNG and switches the call to T.38 with a re-INVITE, and the pages arrive row
// for row; with T.38 off at the receiver the fax goes through on G.711.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "apf_pages.h"
#include "fax_pages.h"
#include "line_pages.h"
#include "sim_harness.h"
#include "sipp_peer.h"

namespace {

using namespace std::chrono_literals;

std::string TempDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("qn-sip-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "in");
  return dir.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Account(const std::string& user, const std::string& domain, int sipPort) {
  return {"--sip",
          "--user",
          user,
          "--domain",
          domain,
          "--registrar",
          "-",
          "--sip-local",
          "127.0.0.1",
          "--sip-port",
          std::to_string(sipPort),
          "--media-ports",
          "0-0"};
}

void SipFax(const std::string& name, const std::vector<std::string>& rxExtra, bool expectT38) {
  const std::string dir = TempDir(name);
  const auto pages = fe::test::FineTextPages(2, 160);
  ASSERT_TRUE(fe::test::WriteApfPages(dir + "/X.APF", pages));
  const int rxPort = siptest::FreeUdpPort(), txPort = siptest::FreeUdpPort();
  const std::string qnfax = std::string(QN_BINARY_DIR) + "/bin/qnfax";
  std::vector<std::string> rxArgs = {qnfax, "receive", "--dir", dir + "/in", "--one", "--trace", dir + "/rx.trace"};
  for (const auto& a : Account("fax", "127.0.0.1", rxPort)) rxArgs.push_back(a);
  for (const auto& a : rxExtra) rxArgs.push_back(a);
  qn::sim::ProgramRun rx;
  std::thread rxThread([&] { rx = qn::sim::runProgram(rxArgs, dir + "/rx.out", 90s); });
  std::this_thread::sleep_for(500ms);  // the receiver listens before anyone calls
  // With T.38 the number is a SIP address; without, a number at the sender's
  // domain (the receiver's address).
  const std::string to = "127.0.0.1:" + std::to_string(rxPort);
  std::vector<std::string> txArgs = {qnfax,   "send",  "--number", expectT38 ? "fax@" + to : "5551000",
                                     "--bps", "14400", "--trace",  dir + "/tx.trace"};
  for (const auto& a : Account("sender", expectT38 ? "127.0.0.1" : to, txPort)) txArgs.push_back(a);
  txArgs.push_back(dir + "/X.APF");
  const auto tx = qn::sim::runProgram(txArgs, dir + "/tx.out", 90s);
  rxThread.join();
  const std::string rxTrace = ReadFile(dir + "/rx.trace"), txTrace = ReadFile(dir + "/tx.trace");
  EXPECT_EQ(tx.status, 0) << tx.output << txTrace;
  EXPECT_NE(tx.output.find("Fax sent"), std::string::npos) << tx.output;
  EXPECT_EQ(rx.status, 0) << rx.output << rxTrace;
  EXPECT_NE(rx.output.find("FAX0001.APF: 2 pages"), std::string::npos) << rx.output;
  const auto got = qntest::ReadApfPages(dir + "/in/FAX0001.APF");
  ASSERT_EQ(got.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(got[i], pages[i], &why)) << "page " << i + 1 << ": " << why;
  }
  EXPECT_NE(rxTrace.find("sip: incoming call from sender"), std::string::npos) << rxTrace;
  EXPECT_NE(txTrace.find(expectT38 ? "sip: calling sip:fax@" + to : "sip: calling sip:5551000@" + to),
            std::string::npos)
      << txTrace;
  EXPECT_EQ(rxTrace.find("sip: asking for T.38 (heard CNG)") != std::string::npos, expectT38) << rxTrace;
  EXPECT_EQ(rxTrace.find("sip: call switched to T.38") != std::string::npos, expectT38) << rxTrace;
  EXPECT_EQ(txTrace.find("sip: the far end switched the call to T.38") != std::string::npos, expectT38) << txTrace;
  // The call ended with a BYE one way and its 200 the other.
  EXPECT_NE(txTrace.find("BYE sip:"), std::string::npos) << txTrace;
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir);
}

TEST(SipCall, ReceiverHearsCngAndSwitchesToT38) {
  SipFax("t38", {}, true);
}

TEST(SipCall, WithoutT38TheFaxGoesThroughOnG711) {
  SipFax("g711", {"--no-t38"}, false);
}

}  // namespace
