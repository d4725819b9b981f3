// The rig's own pieces: bencode and SDP reading with hostile input, the ng
// client against bad replies, and the ng commands against a running rtpengine (its T.38 flags, errors, junk on its
// control port).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bencode.h"
#include "rtpengine_rig.h"
#include "sdp_lite.h"

namespace fe::voip::test {
namespace {

TEST(Bencode, WritesSortedDictionariesAndReadsThemBack) {
  TBValue d = TBValue::Dict();
  d.Set("sdp", "v=0\r\n");
  d.Set("command", "offer");
  d.Set("T.38", TBValue::List({"force", TBValue::Int(-7)}));
  const std::string text = d.Encode();
  EXPECT_EQ(text, "d4:T.38l5:forcei-7ee7:command5:offer3:sdp5:v=0\r\ne");
  TBValue back;
  std::string why;
  ASSERT_TRUE(BDecode(text, back, &why)) << why;
  EXPECT_EQ(back.Encode(), text);
  ASSERT_NE(back.Get("T.38"), nullptr);
  EXPECT_EQ(back.Get("T.38")->Items().at(1).Integer(), -7);
  EXPECT_EQ(back.Text("command"), "offer");
  EXPECT_EQ(back.Text("missing"), "");
  EXPECT_EQ(back.Text("T.38"), "");  // a list is no string
}

TEST(Bencode, RefusesBrokenInputWithoutReadingPastIt) {
  const std::string bad[] = {
      "",                        // nothing
      "5:abc",                   // string runs past the end
      "99999999999999999999:x",  // a length that overflows
      "i12",                     // integer not closed
      "i-e",                     // no digits
      "ie",                      //
      "l5:force",                // list not closed
      "d3:key",                  // value missing
      "di1ei2ee",                // key not a string
      "d3:keyi1e",               // dictionary not closed
      "i1ei2e",                  // bytes after the value
      "x",                       // no such type
      "-3:abc",                  // negative length
      std::string(5000, 'l'),    // nested too deeply
  };
  for (const std::string& text : bad) {
    // A copy exactly as long as the text, so a read past it shows under ASan.
    std::vector<uint8_t> bytes(text.begin(), text.end());
    TBValue v;
    std::string why;
    EXPECT_FALSE(BDecode(bytes.data(), bytes.size(), v, &why)) << text.substr(0, 40);
    EXPECT_FALSE(why.empty());
  }
  TBValue v;
  EXPECT_TRUE(BDecode(std::string(30, 'l') + std::string(30, 'e'), v));  // deep, but within the limit
  EXPECT_TRUE(BDecode("0:", v));
  EXPECT_TRUE(v.IsString() && v.String().empty());
}

TEST(Sdp, ReadsMediaLinesAddressesAndAttributes) {
  const std::string text =
      "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
      "m=image 30000 udptl t38\r\na=T38FaxVersion:0\r\na=T38FaxRateManagement:transferredTCF\r\n"
      "a=sendrecv\r\nm=audio 30002 RTP/AVP 8 0\nc=IN IP4 10.0.0.9\n";
  TSdp sdp;
  std::string why;
  ASSERT_TRUE(ParseSdp(text, sdp, &why)) << why;
  ASSERT_EQ(sdp.media.size(), 2u);
  const TSdpMedia* image = sdp.Find("image");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->port, 30000);
  EXPECT_EQ(image->proto, "udptl");
  EXPECT_EQ(image->address, "127.0.0.1");
  EXPECT_EQ(image->Attribute("T38FaxRateManagement"), "transferredTCF");
  bool present = false;
  EXPECT_EQ(image->Attribute("sendrecv", &present), "");
  EXPECT_TRUE(present);
  image->Attribute("T38FaxUdpEC", &present);
  EXPECT_FALSE(present);
  const TSdpMedia* audio = sdp.Find("audio");
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->address, "10.0.0.9");  // its own c= line
  EXPECT_EQ(audio->formats, (std::vector<std::string>{"8", "0"}));

  // What we write reads back as what we meant.
  ASSERT_TRUE(ParseSdp(ImageSdp("127.0.0.1", 4000, 300), sdp));
  ASSERT_NE(sdp.Find("image"), nullptr);
  EXPECT_EQ(sdp.Find("image")->Attribute("T38FaxMaxDatagram"), "300");
  ASSERT_TRUE(ParseSdp(AudioSdp("127.0.0.1", 4002, "pcma"), sdp));
  EXPECT_EQ(sdp.Find("audio")->formats, std::vector<std::string>{"8"});
}

TEST(Sdp, RefusesMalformedLines) {
  for (const std::string text : {"v=0\r\nm=audio\r\n", "v=0\r\nm=audio 70000 RTP/AVP 0\r\n",
                                 "v=0\r\nm=audio -1 RTP/AVP 0\r\n", "v=0\r\nc=IN IP4\r\n", "v=0\r\nhello\r\n",
                                 "v=0\r\nc=XX IP4 1.2.3.4\r\n"}) {
    TSdp sdp;
    std::string why;
    EXPECT_FALSE(ParseSdp(text, sdp, &why)) << text;
    EXPECT_FALSE(why.empty());
  }
}

// A stand-in for the daemon that answers each command with the next of
// `replies` ("%c" stands for the command's cookie); an empty one stays silent.
TEST(NgClient, BadRepliesAreErrorsAndStrayOnesAreSkipped) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof at;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len), 0);
  const std::vector<std::vector<std::string>> replies = {
      {"other_1 d6:result4:ponge", "%c d6:result4:pon"},  // a stray reply, then one cut short
      {"%c li1ee"},                                       // not a dictionary
      {"%c d6:result5:error12:error-reason6:no sdpe"},    // an error with its reason
      {"%c "},                                            // a cookie and nothing after it
      {""},                                               // silence
  };
  std::thread server([&] {
    for (const auto& answers : replies) {
      char buf[2048];
      sockaddr_in from{};
      socklen_t fromLen = sizeof from;
      const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n <= 0) return;
      const std::string cookie(buf, static_cast<size_t>(std::find(buf, buf + n, ' ') - buf));
      for (std::string a : answers) {
        if (a.empty()) continue;
        if (a.rfind("%c", 0) == 0) a = cookie + a.substr(2);
        sendto(fd, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
      }
    }
  });
  TNgClient ng;
  ASSERT_TRUE(ng.Open(ntohs(at.sin_port)));
  TBValue ping = TBValue::Dict(), reply;
  ping.Set("command", "ping");
  EXPECT_FALSE(ng.Call(ping, reply, 500, 1));
  EXPECT_NE(ng.Error().find("unreadable ng reply"), std::string::npos) << ng.Error();
  EXPECT_FALSE(ng.Call(ping, reply, 500, 1));
  EXPECT_NE(ng.Error().find("not a dictionary"), std::string::npos) << ng.Error();
  EXPECT_TRUE(ng.Offer("c", "a", "v=0\r\n").empty());
  EXPECT_EQ(ng.Error(), "rtpengine: no sdp");
  EXPECT_FALSE(ng.Call(ping, reply, 500, 1));
  EXPECT_NE(ng.Error().find("unreadable ng reply"), std::string::npos) << ng.Error();
  EXPECT_FALSE(ng.Ping(200, 1));
  EXPECT_NE(ng.Error().find("no ng reply"), std::string::npos) << ng.Error();
  server.join();
  close(fd);
}

// ------------------------------------------------------ against rtpengine --

class RtpEngineNg : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RtpEngineBinary().empty()) GTEST_SKIP() << "rtpengine is not installed (Debian package rtpengine-daemon)";
    dir_ = std::filesystem::temp_directory_path() / ("qn-rtpengine-ng-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    ASSERT_TRUE(engine_.Start((dir_ / "rtpengine.log").string())) << engine_.Error();
  }
  void TearDown() override {
    engine_.Stop();
    std::filesystem::remove_all(dir_);
  }
  static TBValue T38(const std::string& how) {
    TBValue flags = TBValue::Dict();
    flags.Set("T.38", TBValue::List({how}));
    return flags;
  }

  std::filesystem::path dir_;
  TRtpEngine engine_;
};

TEST_F(RtpEngineNg, ForceTurnsOfferedAudioIntoT38AndDecodeTurnsItBack) {
  TNgClient& ng = engine_.Ng();
  // PCMU offered with T.38 ["force"]: the answering side is offered T.38 as
  // the field expects it (version 0, 14400, transferredTCF, redundancy).
  std::string offered = ng.Offer("force-call", "a", AudioSdp("127.0.0.1", 40000), T38("force"));
  ASSERT_FALSE(offered.empty()) << ng.Error() << engine_.LogTail();
  TSdp sdp;
  ASSERT_TRUE(ParseSdp(offered, sdp));
  const TSdpMedia* image = sdp.Find("image");
  ASSERT_NE(image, nullptr) << offered;
  EXPECT_EQ(image->proto, "udptl");
  EXPECT_EQ(image->formats, std::vector<std::string>{"t38"});
  EXPECT_GE(image->port, engine_.PortMin());
  EXPECT_LE(image->port, engine_.PortMax());
  EXPECT_EQ(image->Attribute("T38FaxVersion"), "0");
  EXPECT_EQ(image->Attribute("T38MaxBitRate"), "14400");
  EXPECT_EQ(image->Attribute("T38FaxRateManagement"), "transferredTCF");
  EXPECT_EQ(image->Attribute("T38FaxUdpEC"), "t38UDPRedundancy");
  EXPECT_EQ(sdp.Find("audio"), nullptr);
  // The answer with T.38 comes back to the caller as its PCMU.
  const std::string answered = ng.Answer("force-call", "a", "b", ImageSdp("127.0.0.1", 40002));
  ASSERT_FALSE(answered.empty()) << ng.Error();
  ASSERT_TRUE(ParseSdp(answered, sdp));
  ASSERT_NE(sdp.Find("audio"), nullptr) << answered;
  EXPECT_EQ(sdp.Find("audio")->formats.at(0), "0");
  EXPECT_TRUE(ng.Delete("force-call")) << ng.Error();

  // T.38 offered with ["decode"]: the answering side is offered audio.
  offered = ng.Offer("decode-call", "a", ImageSdp("127.0.0.1", 40004), T38("decode"));
  ASSERT_FALSE(offered.empty()) << ng.Error();
  ASSERT_TRUE(ParseSdp(offered, sdp));
  ASSERT_NE(sdp.Find("audio"), nullptr) << offered;
  EXPECT_EQ(sdp.Find("image"), nullptr);
  EXPECT_TRUE(ng.Delete("decode-call"));
}

TEST_F(RtpEngineNg, T38FlagAsPlainStringChangesNothing) {
  TNgClient& ng = engine_.Ng();
  TBValue flags = TBValue::Dict();
  flags.Set("T.38", "force");
  const std::string offered = ng.Offer("string-flag", "a", AudioSdp("127.0.0.1", 40010), flags);
  ASSERT_FALSE(offered.empty()) << ng.Error();
  TSdp sdp;
  ASSERT_TRUE(ParseSdp(offered, sdp));
  EXPECT_NE(sdp.Find("audio"), nullptr) << offered;
  EXPECT_EQ(sdp.Find("image"), nullptr) << offered;
}

TEST_F(RtpEngineNg, ErrorsAndJunkOnTheControlPort) {
  TNgClient& ng = engine_.Ng();
  // An answer to a call nobody offered, a delete of an unknown call: errors
  // with rtpengine's reason, not silence.
  EXPECT_TRUE(ng.Answer("no-such-call", "a", "b", AudioSdp("127.0.0.1", 40020)).empty());
  EXPECT_NE(ng.Error().find("rtpengine:"), std::string::npos) << ng.Error();
  EXPECT_FALSE(ng.Delete("no-such-call"));
  EXPECT_NE(ng.Error().find("not found"), std::string::npos) << ng.Error();
  // A command that is no dictionary, and an offer without SDP.
  TBValue reply;
  ASSERT_TRUE(ng.Call(TBValue::List({"offer"}), reply)) << ng.Error();
  EXPECT_EQ(reply.Text("result"), "error");
  TBValue offer = TBValue::Dict();
  offer.Set("command", "offer");
  offer.Set("call-id", "x");
  offer.Set("from-tag", "a");
  ASSERT_TRUE(ng.Call(offer, reply)) << ng.Error();
  EXPECT_EQ(reply.Text("result"), "error");
  // The daemon is still there.
  EXPECT_TRUE(ng.Ping()) << ng.Error() << engine_.LogTail();
}

TEST(RtpEngineRig, RigsSideBySideGetTheirOwnPortsStopByProcessIdAndStartAgain) {
  if (RtpEngineBinary().empty()) GTEST_SKIP() << "rtpengine is not installed (Debian package rtpengine-daemon)";
  const auto dir = std::filesystem::temp_directory_path() / ("qn-rtpengine-two-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  TRtpEngine one, two;
  ASSERT_TRUE(one.Start((dir / "one.log").string())) << one.Error();
  ASSERT_TRUE(two.Start((dir / "two.log").string())) << two.Error();
  EXPECT_NE(one.NgPort(), two.NgPort());
  EXPECT_TRUE(one.PortMax() < two.PortMin() || two.PortMax() < one.PortMin());
  one.Stop();
  EXPECT_FALSE(one.Running());
  EXPECT_FALSE(one.Ng().Ping(200, 1));  // gone
  EXPECT_TRUE(two.Ng().Ping()) << two.Error();  // untouched
  two.Stop();
  // A rig starts again after a stop, on a fresh block.
  ASSERT_TRUE(one.Start((dir / "again.log").string())) << one.Error();
  EXPECT_TRUE(one.Ng().Ping()) << one.Error();
  one.Stop();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fe::voip::test
