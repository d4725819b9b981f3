// qnfax send and receive with --media: wrong command lines get a clear word
// and exit status 2 before anything is sent; the help names the options.
#include <gtest/gtest.h>

#include <string>

#include "qnfax_run.h"
#include "udp_socket.h"

namespace fe::voip {
namespace {

void ExpectRefused(const std::string& args, const std::string& why) {
  const qntest::Result r = qntest::Qnfax(args);
  EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
  EXPECT_NE(r.out.find(why), std::string::npos) << args << "\n" << r.out;
}

TEST(MediaCli, WrongMediaOptionsAreRefusedWithTheReason) {
  ExpectRefused("send --media rtp --local 127.0.0.1:0 X.APF", "--remote ADDR:PORT is needed");
  ExpectRefused("send --media rtp --local fax.example:5004 --remote 127.0.0.1:5 X.APF",
                "\"fax.example\" is not a numeric IP address");
  ExpectRefused("send --media rtp --local 127.0.0.1:0 --remote 127.0.0.1:99999 X.APF", "--remote:");
  ExpectRefused("send --media t38 --local 127.0.0.1:0 X.APF", "--remote ADDR:PORT is needed");
  ExpectRefused("send --media rtp --codec g729 --local 127.0.0.1:0 --remote 127.0.0.1:5 X.APF", "\"g729\"");
  ExpectRefused("send --media rtp --port COM1 --local 127.0.0.1:0 --remote 127.0.0.1:5 X.APF", "exclude each other");
  ExpectRefused("send --media", "--media needs a valid value");
  ExpectRefused("receive --media rtp --dir /tmp", "--local ADDR:PORT is needed");
  ExpectRefused("receive --media rtp --local 127.0.0.1:10-5 --dir /tmp", "range LOW-HIGH");
  TUdpSocket busy;
  ASSERT_EQ(busy.Open("127.0.0.1", 0), 0);
  ExpectRefused("receive --media rtp --local " + busy.Local().Text() + " --dir /tmp",
                "UDP port " + busy.Local().Text() + " is in use");
}

TEST(MediaCli, HelpNamesTheMediaOptions) {
  for (const char* command : {"send", "receive"}) {
    const qntest::Result r = qntest::Qnfax(std::string(command) + " --help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--media rtp|t38", "--local ADDR:PORT", "--remote ADDR:PORT", "--codec pcmu|pcma"})
      EXPECT_NE(r.out.find(option), std::string::npos) << command << " lacks " << option << "\n" << r.out;
  }
}

}  // namespace
}  // namespace fe::voip
