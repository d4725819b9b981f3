// The simulated telephone line as a DTE sees it through a virtual modem: ringing
// and answering, busy, unknown and unanswered numbers, and the command line.
#include <gtest/gtest.h>

#include <algorithm>

#include "at_client.h"
#include "fax_pages.h"
#include "sim_harness.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;

bool has(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

TEST(FaxModemSimLine, CallRingsTheCalleeUntilAnsweredAndJoinsBothModems) {
  FaxModemSim sim;
  sim.addModem(ModemKind::Class1, "100");
  sim.addModem(ModemKind::Class1, "101");
  sim.addArgs({"--ring-period", "400"});
  ASSERT_TRUE(sim.start()) << sim.error();
  AtClient caller(sim.device("100"));
  AtClient callee(sim.device("101"));
  ASSERT_TRUE(caller.isOpen() && callee.isOpen());
  EXPECT_TRUE(has(caller.command("E0+FCLASS=1"), "OK"));
  EXPECT_TRUE(has(callee.command("E0+FCLASS=1"), "OK"));

  caller.send("ATD 101\r");
  // RING is repeated while nobody answers.
  EXPECT_EQ(callee.waitLine("RING", 3s), "RING");
  EXPECT_EQ(callee.waitLine("RING", 3s), "RING");
  // The answering modem sends its answer tone and V.21 flags; a frame sent by
  // the callee arrives whole at the caller, ended by DLE ETX.
  EXPECT_TRUE(has(callee.command("A", 8s), "CONNECT"));
  const std::string frame = "\xff\x13\x80\x00\xce\xf4";
  callee.send(frame + "\x10\x03");
  EXPECT_EQ(caller.waitLine("CONNECT", 10s), "CONNECT");
  std::string got = caller.readData(10s);
  EXPECT_NE(got.find(frame), std::string::npos);
  // Hanging up one side drops the line at the other.
  callee.command("H", 3s);
  EXPECT_NE(caller.waitLine("NO CARRIER", 10s), "");
  EXPECT_NE(sim.waitForEvent("answer 100 101 t38", 1s), "");
  EXPECT_TRUE(sim.stop()) << sim.error();
}

TEST(FaxModemSimLine, BusyUnknownAndUnansweredNumbersFailLikeARealLine) {
  FaxModemSim sim;
  sim.addModem(ModemKind::Class1, "100");
  sim.addModem(ModemKind::Class1, "101");
  sim.addModem(ModemKind::Class1, "102");
  sim.addBusyNumber("555");
  sim.addArgs({"--ring-period", "300", "--max-rings", "20"});
  ASSERT_TRUE(sim.start()) << sim.error();
  AtClient a(sim.device("100"));
  AtClient b(sim.device("101"));
  AtClient c(sim.device("102"));
  a.command("E0+FCLASS=1");
  b.command("E0+FCLASS=1");
  c.command("E0+FCLASS=1");
  EXPECT_TRUE(has(a.command("DT555", 6s), "BUSY"));
  EXPECT_TRUE(has(a.command("DT999", 6s), "NO CARRIER"));
  // Nobody answers 101: it rings twenty times, then the caller gives up.
  auto lines = a.command("DT1,01", 10s);
  EXPECT_TRUE(has(lines, "NO ANSWER")) << (lines.empty() ? "" : lines.back());
  EXPECT_NE(b.waitLine("RING", 1s), "");
  // A modem in a call is busy for everyone else.
  a.send("ATDT101\r");
  ASSERT_EQ(b.waitLine("RING", 3s), "RING");
  EXPECT_TRUE(has(c.command("DT101", 6s), "BUSY"));
  EXPECT_TRUE(has(c.command("DT100", 6s), "BUSY"));
  EXPECT_TRUE(sim.stop()) << sim.error();
}

TEST(FaxModemSimLine, ATerminalCallsOnCommandAndTheFaxArrivesWhole) {
  FaxModemSim sim;
  const std::string sent = sim.workDir() + "/sent.tif";
  const std::string received = sim.workDir() + "/received.tif";
  const auto pages = makeTestPages(2, 60, false, 21);
  ASSERT_TRUE(writeTiff(sent, pages));
  sim.addSender("200", sent);
  sim.addReceiver("201", received);
  ASSERT_TRUE(sim.start()) << sim.error();
  ASSERT_TRUE(sim.call("200", "201"));
  EXPECT_NE(sim.waitForEvent("result 201 0 pages=2", 60s), "") << sim.logFile();
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=2", 5s), "");
  EXPECT_TRUE(sim.stop()) << sim.error();
  const auto got = readPages(received);
  ASSERT_EQ(got.size(), 2u);
  for (size_t i = 0; i < got.size(); ++i) {
    std::string why;
    EXPECT_TRUE(samePage(pages[i], got[i], &why)) << "page " << i + 1 << ": " << why;
  }
}

TEST(FaxModemSimLine, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--modem", "class3::100"}, "unknown modem class"},
      {{"--modem", "class1::12a"}, "digits only"},
      {{"--modem", "class1::100", "--terminal", "receive:100:x.tif"}, "given twice"},
      {{"--terminal", "fetch:200:x.tif"}, "sends or receives"},
      {{"--impair", "loud"}, "bad number"},
      {{"--bursts", "20:-20"}, "--bursts MS:DBM0:PERIOD_MS"},
      {{"--bursts", "40:-20:30"}, "0 < MS < PERIOD_MS"},
      {{"--terminal", "receive:201:x.tif:rnr=many"}, "bad number"},
      {{}, "nothing to simulate"},
  };
  for (const auto& [args, reason] : cases) {
    FaxModemSim sim;
    sim.addArgs(args);
    EXPECT_FALSE(sim.start(3s));
    EXPECT_NE(sim.error().find(reason), std::string::npos) << sim.error();
  }
}

}  // namespace
}  // namespace qn::sim
