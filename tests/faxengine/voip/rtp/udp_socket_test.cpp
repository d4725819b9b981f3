// The media socket: binding (busy ports, ranges), addresses as users type
// them, and latching onto where a caller's packets really come from.
#include "udp_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace fe::voip {
namespace {

using namespace std::chrono_literals;

// Waits up to a second for a datagram.
int Await(TUdpSocket& s, char* buf, size_t max, TUdpAddress* from = nullptr) {
  for (int i = 0; i < 200; ++i) {
    const int n = s.Receive(buf, max, from);
    if (n != 0) return n;
    std::this_thread::sleep_for(5ms);
  }
  return 0;
}

TEST(UdpAddress, AddressesParseAsTypedAndBadOnesSayWhy) {
  TUdpAddress a;
  ASSERT_TRUE(ParseUdpAddress("127.0.0.1:5004", a));
  EXPECT_EQ(a.Text(), "127.0.0.1:5004");
  EXPECT_EQ(a.Port(), 5004);
  ASSERT_TRUE(ParseUdpAddress("[::1]:6000", a));
  EXPECT_EQ(a.Text(), "[::1]:6000");
  std::string why;
  for (const char* bad : {"127.0.0.1", "127.0.0.1:", ":5004", "127.0.0.1:70000", "127.0.0.1:5x", "fax.example:5004",
                          "::1:5004", "[::1]5004", "[::1"}) {
    why.clear();
    EXPECT_FALSE(ParseUdpAddress(bad, a, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  TLocalBinding b;
  ASSERT_TRUE(ParseLocalBinding("0.0.0.0:10000-10999", b));
  EXPECT_EQ(b.host, "0.0.0.0");
  EXPECT_EQ(b.low, 10000);
  EXPECT_EQ(b.high, 10999);
  ASSERT_TRUE(ParseLocalBinding(":5004", b));  // every address
  EXPECT_EQ(b.low, 5004);
  EXPECT_EQ(b.high, 5004);
  EXPECT_FALSE(ParseLocalBinding("127.0.0.1:10999-10000", b, &why));
  EXPECT_FALSE(ParseLocalBinding("127.0.0.1:-5", b, &why));
  EXPECT_FALSE(ParseLocalBinding("host:5004", b, &why));
}

TEST(UdpSocket, ABusyPortIsNamedAndARangeSkipsToTheNextFreeEvenPort) {
  TUdpSocket first;
  ASSERT_EQ(first.Open("127.0.0.1", 0), 0) << first.Error();
  int port = first.Local().Port();
  ASSERT_GT(port, 0);
  TUdpSocket second;
  EXPECT_NE(second.Open("127.0.0.1", port), 0);
  EXPECT_NE(second.Error().find("in use"), std::string::npos) << second.Error();
  EXPECT_NE(second.Error().find(std::to_string(port)), std::string::npos) << second.Error();
  EXPECT_FALSE(second.IsOpen());
  EXPECT_NE(second.Open("192.0.2.99", 0), 0);
  EXPECT_NE(second.Error().find("not one of this computer's addresses"), std::string::npos) << second.Error();

  // An even port that is busy, then a range starting there.
  TUdpSocket even;
  int base = 0;
  for (int p = 20000 + (port % 1000) * 20; p < 60000 && base == 0; p += 2)
    if (even.Open("127.0.0.1", p) == 0) base = p;
  ASSERT_GT(base, 0);
  TUdpSocket ranged;
  ASSERT_EQ(ranged.OpenInRange("127.0.0.1", base, base + 9, true), 0) << ranged.Error();
  EXPECT_GT(ranged.Local().Port(), base);
  EXPECT_EQ(ranged.Local().Port() % 2, 0);
  TUdpSocket none;
  EXPECT_NE(none.OpenInRange("127.0.0.1", base, base + 1, true), 0);
  EXPECT_NE(none.Error().find("no free UDP port"), std::string::npos) << none.Error();
}

TEST(UdpSocket, RepliesGoFromTheListeningPortToWhereTheCallerReallyIs) {
  TUdpSocket ours, caller, stranger;
  ASSERT_EQ(ours.Open("127.0.0.1", 0), 0);
  ASSERT_EQ(caller.Open("127.0.0.1", 0), 0);
  ASSERT_EQ(stranger.Open("127.0.0.1", 0), 0);
  // The address the caller announced is not where its packets come from (NAT).
  TUdpAddress announced;
  ASSERT_TRUE(ParseUdpAddress("127.0.0.1:9", announced));
  ours.SetRemote(announced);
  caller.SetRemote(ours.Local());
  stranger.SetRemote(ours.Local());
  ASSERT_TRUE(caller.Send("hello", 5));
  char buf[64];
  TUdpAddress from;
  ASSERT_EQ(Await(ours, buf, sizeof buf, &from), 5);
  EXPECT_EQ(from, caller.Local());
  EXPECT_TRUE(ours.Latched());
  EXPECT_EQ(ours.Remote(), caller.Local());
  // The answer leaves from the port we listen on.
  ASSERT_TRUE(ours.Send("answer", 6));
  ASSERT_EQ(Await(caller, buf, sizeof buf, &from), 6);
  EXPECT_EQ(from, ours.Local());
  // Another source later does not take the call over.
  ASSERT_TRUE(stranger.Send("noise", 5));
  ASSERT_EQ(Await(ours, buf, sizeof buf, &from), 5);
  EXPECT_EQ(from, stranger.Local());
  EXPECT_EQ(ours.Remote(), caller.Local());
  // A new call latches afresh.
  ours.Relatch();
  ASSERT_TRUE(stranger.Send("next", 4));
  ASSERT_EQ(Await(ours, buf, sizeof buf), 4);
  EXPECT_EQ(ours.Remote(), stranger.Local());
  // A datagram larger than the buffer is cut, not overrun.
  const std::string big(100, 'x');
  ASSERT_TRUE(caller.Send(big.data(), big.size()));
  bool truncated = false;
  char small[10];
  int n = 0;
  for (int i = 0; i < 200 && (n = ours.Receive(small, sizeof small, nullptr, &truncated)) == 0; ++i)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(n, 10);
  EXPECT_TRUE(truncated);
}

}  // namespace
}  // namespace fe::voip
