// qnfax sip register against SIPp as the registrar, and qnfax's refusals of
// incomplete SIP command lines.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "qnfax_run.h"
#include "sipp_peer.h"

namespace {

class SipCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!siptest::HaveSipp()) GTEST_SKIP() << "sipp is not installed";
    port_ = siptest::FreeUdpPort();
    passwordFile_ = ::testing::TempDir() + "qn-sip-password-" + std::to_string(port_);
  }
  void TearDown() override { std::remove(passwordFile_.c_str()); }

  std::string Account(const std::string& password) {
    std::ofstream(passwordFile_) << password << "\n";
    return "sip register --user quillon --domain fax.test --registrar 127.0.0.1:" + std::to_string(port_) +
           " --sip-local 127.0.0.1 --password-file " + passwordFile_ + " --timeout 5";
  }

  int port_ = 0;
  std::string passwordFile_;
  siptest::SippPeer sipp_;
};

TEST_F(SipCliTest, RegisterSaysRegisteredOrWrongPassword) {
  ASSERT_TRUE(sipp_.Start("register_digest.xml", port_));
  qntest::Result r = qntest::Qnfax(Account("fax-secret"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "registered\n");
  EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
  EXPECT_EQ(r.out.find("fax-secret"), std::string::npos);

  ASSERT_TRUE(sipp_.Start("register_digest.xml", port_));
  r = qntest::Qnfax(Account("guess"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out.rfind("wrong password", 0), 0u) << r.out;
}

TEST_F(SipCliTest, RegisterWithNobodyThereIsNotReachable) {
  const qntest::Result r = qntest::Qnfax(Account("fax-secret"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out.rfind("server not reachable", 0), 0u) << r.out;
}

TEST(SipCli, IncompleteCommandLinesAreRefused) {
  qntest::Result r = qntest::Qnfax("sip register --domain fax.test");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("--user and --domain"), std::string::npos) << r.out;
  r = qntest::Qnfax("send --sip --user a --domain b x.apf");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("--number is needed"), std::string::npos) << r.out;
  r = qntest::Qnfax("receive --sip --user a --domain b --dir . --media-ports 20-10");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("LOW-HIGH"), std::string::npos) << r.out;
  r = qntest::Qnfax("sip register --user a --domain b --password-file /nonexistent/file");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("cannot read the password file"), std::string::npos) << r.out;
}

}  // namespace
