// qnfax send and qnfax modem classes against the scripted modem.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "qnfax_run.h"
#include "scripted_modem.h"
#include "send_rig.h"

namespace {

using qntest::Qnfax;
using qntest::Result;

using namespace std::chrono_literals;

TEST(SendCli, ModemClassesPrintsEachSupportedClass) {
  qnsim::ScriptedModem modem;
  modem.Answer("ATE0Q0V1X4S0=0S2=43").Expect("AT+FCLASS=?").Reply("0,1,2,2.0").Reply("OK");
  modem.Start();
  Result r = Qnfax("modem classes " + modem.DevicePath());
  EXPECT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Class 1\nClass 2\nClass 2.0\n");
}

TEST(SendCli, BusyNumberPrintsStatusesAndFails) {
  qnsim::ScriptedModem modem;
  modem.Answer("ATE0Q0V1X3S0=0S2=43").Answer("AT+FCLASS=1").Expect("AT+FTM=?").Reply("24,48,72,96").Reply("OK");
  modem.Answer("AT+FCLASS=1").Expect("ATDP9,123").Reply("BUSY");
  modem.Start();
  std::string fax = std::string(QN_BINARY_DIR) + "/send-cli-test.apf";
  std::string history = std::string(QN_BINARY_DIR) + "/send-cli-test.his";
  std::remove(history.c_str());
  fe::test::MakeFax(fax, {0}, 3);
  const std::time_t began = std::time(nullptr);
  Result r = Qnfax("send --port " + modem.DevicePath() + " --number 123 --prefix 9, --pulse --blind-dial --class 1 " +
                   "--attempts 1 --log " + history + " " + fax);
  EXPECT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Initializing modem for fax processing\nDialing\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("8064 Called fax number was busy"), std::string::npos) << r.out;
  EXPECT_EQ(fe::test::HistoryText(history, began),
            "Transmit " + fax +
                " to 123 started at <T>\r\n"
                "Transmit failed at <T>\r\n  (Called fax number was busy) 0\r\n\r\n");
  std::remove(fax.c_str());
  std::remove(history.c_str());
}

TEST(SendCli, BadOptionsAreRefused) {
  EXPECT_EQ(Qnfax("send --port /dev/null --number 1 --class 3 x.apf").status, 2);
  EXPECT_EQ(Qnfax("send --number 1 x.apf").status, 2);
  Result r = Qnfax("send --port /nonexistent/tty --number 1 x.apf");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("2001"), std::string::npos) << r.out;
}

}  // namespace
