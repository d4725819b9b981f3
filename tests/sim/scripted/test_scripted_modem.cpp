// The scripted modem itself, seen from the computer's side of the terminal: the
// engine tests rely on its framing of HDLC frames and page data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "scripted_modem.h"

namespace {

using namespace std::chrono_literals;
using qnsim::ScriptedModem;

// The computer's end: a raw, non-blocking descriptor on the terminal.
class Dte {
 public:
  explicit Dte(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~Dte() { ::close(fd_); }
  void Write(const std::string& s) { ASSERT_EQ(::write(fd_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  // Everything that arrives until `quiet` passes without a byte.
  std::string ReadAll(std::chrono::milliseconds quiet = 300ms) {
    std::string out;
    pollfd p{fd_, POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
      char buf[256];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int fd_;
};

TEST(ScriptedModem, RepliesFramesAndRings) {
  ScriptedModem modem;
  modem.Answer("AT+FRH=3", "CONNECT").Frame(std::string("\xFF\x13\x10\x80", 4)).Reply("OK").Ring(2, 50ms).Garbage(5);
  modem.Start();
  Dte dte(modem.DevicePath());
  dte.Write("\r\nat+frh=3\r");  // leading line ends are skipped, letter case ignored
  const std::string got = dte.ReadAll();
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  const std::string frame = std::string("\xFF\x13\x10\x10\x80\x10\x03", 7);  // DLE doubled, DLE ETX after
  EXPECT_EQ(got.substr(0, got.size() - 5), "\r\nCONNECT\r\n" + frame + "\r\nOK\r\n\r\nRING\r\n\r\nRING\r\n");
  EXPECT_EQ(got.size(), 11 + frame.size() + 6 + 16 + 5);
  EXPECT_EQ(modem.Commands(), std::vector<std::string>{"at+frh=3"});
}

TEST(ScriptedModem, TakesPageDataUpToItsEnd) {
  ScriptedModem modem;
  modem.Answer("AT+FDT", "CONNECT").ExpectData("\x03,;.").Reply("OK").ExpectData("\x03,;.").Reply("OK");
  modem.Start();
  Dte dte(modem.DevicePath());
  dte.Write("AT+FDT\r");
  dte.ReadAll(100ms);
  dte.Write(std::string("\x00\x10\x10\x01\x10\x03", 6));  // one DLE inside, DLE ETX at the end
  dte.ReadAll(100ms);
  dte.Write(std::string("ab\x10,", 4));  // Class 2.0: DLE "," ends a page too
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  ASSERT_EQ(modem.DataBlocks().size(), 2u);
  EXPECT_EQ(modem.DataBlocks()[0], std::string("\x00\x10\x01", 3));
  EXPECT_EQ(modem.DataBlocks()[1], "ab");
  EXPECT_EQ(modem.DataEnders(), "\x03,");
}

TEST(ScriptedModem, ReportsTheCommandItDidNotExpect) {
  ScriptedModem modem;
  modem.SetExpectTimeout(500ms);
  modem.Expect("ATZ").Expect("ATA");
  modem.Start();
  Dte dte(modem.DevicePath());
  dte.Write("ATH\r");
  EXPECT_NE(dte.ReadAll().find("ERROR"), std::string::npos);
  EXPECT_FALSE(modem.WaitDone(2s));
  ASSERT_EQ(modem.Failures().size(), 1u);
  EXPECT_NE(modem.Failures()[0].find("expected \"ATZ\", got \"ATH\""), std::string::npos);
}

}  // namespace
