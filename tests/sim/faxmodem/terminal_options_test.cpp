// The fax terminal's coding and flow-control options, terminal to terminal: T.6
// with ECM is chosen when both offer it, and a receiver that is not ready holds
// the sender off with RNR before the page is confirmed and arrives whole.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "fax_pages.h"
#include "sim_harness.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(FaxModemSimTerminal, T6WithEcmAndReceiverNotReady) {
  FaxModemSim sim;
  const std::string sent = sim.workDir() + "/sent.tif";
  const std::string received = sim.workDir() + "/received.tif";
  const auto pages = makeTestPages(2, 80, true, 5);
  ASSERT_TRUE(writeTiff(sent, pages));
  sim.addArgs(
      {"--terminal", "send:200:" + sent + ":ecm:t6", "--terminal", "receive:201:" + received + ":ecm:t6:rnr=2"});
  ASSERT_TRUE(sim.start()) << sim.error();
  ASSERT_TRUE(sim.call("200", "201"));
  EXPECT_NE(sim.waitForEvent("result 201 0 pages=2", 90s), "") << sim.logFile();
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=2", 5s), "");
  EXPECT_TRUE(sim.stop()) << sim.error();
  const std::string log = ReadFile(sim.logFile());
  EXPECT_NE(log.find("Selected compression T.6"), std::string::npos);
  EXPECT_EQ(Count(log, "Tx:  RNR"), 2u);
  const auto got = readPages(received);
  ASSERT_EQ(got.size(), 2u);
  for (size_t i = 0; i < got.size(); ++i) {
    std::string why;
    EXPECT_TRUE(samePage(pages[i], got[i], &why)) << "page " << i + 1 << ": " << why;
  }
}

}  // namespace
}  // namespace qn::sim
