// qnfax at, run as a program against the scripted modem.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "qnfax_run.h"
#include "scripted_modem.h"

namespace {

using qntest::Qnfax;
using qntest::Result;

using namespace std::chrono_literals;

TEST(QnfaxAt, PrintsAnswersAndSucceedsOnOk) {
  qnsim::ScriptedModem modem;
  modem.Expect("ATI3").Trickle("\r\nQuillon Test Modem 1.0\r\n", 5ms).Reply("OK");
  modem.Expect("AT+FCLASS=?").Pause(300ms).Reply("0,1,2,2.0").Reply("OK");
  modem.Start();
  const Result r = Qnfax("at " + modem.DevicePath() + " ATI3 AT+FCLASS=?");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Quillon Test Modem 1.0\nOK\n0,1,2,2.0\nOK\n");
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
}

TEST(QnfaxAt, FailsOnErrorSilenceAndBadPorts) {
  {
    qnsim::ScriptedModem modem;
    modem.Expect("AT+FCLASS=3").Reply("ERROR").Expect("ATZ");  // the second command is never sent
    modem.SetExpectTimeout(3s);
    modem.Start();
    const Result r = Qnfax("at " + modem.DevicePath() + " AT+FCLASS=3 ATZ");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("ERROR\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("not answered with OK"), std::string::npos) << r.out;
  }
  {
    qnsim::ScriptedModem modem;  // takes the command, never answers
    modem.Expect("AT");
    modem.Start();
    const auto start = std::chrono::steady_clock::now();
    const Result r = Qnfax("at " + modem.DevicePath() + " AT");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("no answer"), std::string::npos) << r.out;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
  }
  {
    ::setenv("QN_COM2", "/dev/no-such-modem", 1);
    const Result r = Qnfax("at COM2 AT");
    ::unsetenv("QN_COM2");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("2001"), std::string::npos) << r.out;
  }
  EXPECT_EQ(Qnfax("at COM1").status, 2);  // no command
}

}  // namespace
