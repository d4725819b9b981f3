// Session descriptions: the answer rules of a fax line, odd offers real
// gateways send, and text that is no description at all.
#include "sdp.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using fe::sip::TAgreed;
using fe::sip::TCodec;
using fe::sip::TSdp;
using fe::sip::TUdpEc;

fe::sip::TLocalMedia Local() {
  fe::sip::TLocalMedia l;
  l.address = "192.0.2.10";
  l.port = 10002;
  l.codec = TCodec::Pcmu;
  l.t38 = true;
  l.t38Params.maxDatagram = 400;
  return l;
}

TSdp Parse(const std::string& text) {
  TSdp sdp;
  std::string error;
  EXPECT_TRUE(fe::sip::ParseSdp(text, sdp, &error)) << error << "\n" << text;
  return sdp;
}

// Answers text and reads our answer back as the far end would.
TSdp AnswerOf(const std::string& offer, TAgreed& agreed, const fe::sip::TLocalMedia& local = Local()) {
  const TSdp answer = fe::sip::Answer(Parse(offer), local, 1, 1, agreed);
  return Parse(fe::sip::WriteSdp(answer));
}

const char* kT38Offer =
    "v=0\r\no=gw 1 1 IN IP4 198.51.100.7\r\ns=-\r\nc=IN IP4 198.51.100.7\r\nt=0 0\r\n"
    "m=image 4000 udptl t38\r\n"
    "a=T38FaxVersion:3\r\na=T38MaxBitRate:33600\r\na=T38FaxRateManagement:transferredTCF\r\n"
    "a=T38FaxMaxBuffer:1024\r\na=T38FaxMaxDatagram:200\r\na=T38FaxUdpEC:t38UDPFEC\r\n";

TEST(SdpAnswer, T38TakesTheLowerVersionOurDatagramAndRedundancy) {
  TAgreed agreed;
  const TSdp answer = AnswerOf(kT38Offer, agreed);
  ASSERT_EQ(answer.media.size(), 1u);
  const auto& m = answer.media[0];
  EXPECT_TRUE(m.IsT38());
  EXPECT_EQ(m.port, 10002);
  EXPECT_EQ(m.t38.version, 0);
  EXPECT_EQ(m.t38.maxBitRate, 14400);
  EXPECT_EQ(m.t38.maxDatagram, 400);  // what we take in
  EXPECT_EQ(m.t38.ec, TUdpEc::Redundancy);
  EXPECT_TRUE(m.t38.transferredTcf);
  EXPECT_EQ(answer.address, "192.0.2.10");
  // What the call uses: the far end's address, port and datagram limit.
  EXPECT_EQ(agreed.kind, TAgreed::TKind::T38);
  EXPECT_EQ(agreed.address, "198.51.100.7");
  EXPECT_EQ(agreed.port, 4000);
  EXPECT_EQ(agreed.t38.maxDatagram, 200);
  EXPECT_EQ(agreed.t38.version, 0);

  // A far end on version 2 meets ours (set to 3) at 2; no error correction is answered in kind.
  auto local = Local();
  local.t38Params.version = 3;
  std::string v2 = kT38Offer;
  v2.replace(v2.find("Version:3"), 9, "Version:2");
  v2.replace(v2.find("t38UDPFEC"), 9, "t38UDPNoEC");
  const TSdp a2 = AnswerOf(v2, agreed, local);
  EXPECT_EQ(a2.media[0].t38.version, 2);
  EXPECT_EQ(a2.media[0].t38.ec, TUdpEc::None);
}

TEST(SdpAnswer, AudioAndImageOfferedTogether) {
  const std::string offer =
      "v=0\r\no=- 5 5 IN IP4 198.51.100.7\r\ns=-\r\nc=IN IP4 198.51.100.7\r\nt=0 0\r\n"
      "m=audio 5000 RTP/AVP 8 0 101\r\na=rtpmap:101 telephone-event/8000\r\n"
      "m=image 5002 udptl t38\r\na=T38FaxVersion:0\r\n";
  TAgreed agreed;
  // T.38 allowed: the image line is taken, the audio line refused with port 0.
  TSdp answer = AnswerOf(offer, agreed);
  ASSERT_EQ(answer.media.size(), 2u);
  EXPECT_EQ(answer.media[0].type, "audio");
  EXPECT_EQ(answer.media[0].port, 0);
  EXPECT_EQ(answer.media[1].port, 10002);
  EXPECT_EQ(agreed.kind, TAgreed::TKind::T38);
  EXPECT_EQ(agreed.port, 5002);
  // Without T.38: the audio line with our codec (PCMU, though PCMA came first), the image line refused.
  auto local = Local();
  local.t38 = false;
  answer = AnswerOf(offer, agreed, local);
  EXPECT_EQ(answer.media[0].port, 10002);
  EXPECT_EQ(answer.media[0].formats, std::vector<std::string>{"0"});
  EXPECT_EQ(answer.media[0].ptime, 20);
  EXPECT_EQ(answer.media[1].port, 0);
  EXPECT_EQ(agreed.kind, TAgreed::TKind::Audio);
  EXPECT_EQ(agreed.codec, TCodec::Pcmu);
  // Only PCMA offered: PCMA.
  const std::string pcma =
      "v=0\r\no=- 5 5 IN IP4 198.51.100.7\r\ns=-\r\nc=IN IP4 198.51.100.7\r\nt=0 0\r\nm=audio 5000 RTP/AVP 8\r\n";
  answer = AnswerOf(pcma, agreed);
  EXPECT_EQ(agreed.codec, TCodec::Pcma);
  EXPECT_EQ(answer.media[0].formats, std::vector<std::string>{"8"});
}

TEST(SdpAnswer, NothingAcceptableAndRefusedLines) {
  TAgreed agreed;
  // G.729 only; a refused image line (port 0) is no T.38 offer.
  const std::string offer =
      "v=0\r\no=- 5 5 IN IP4 198.51.100.7\r\ns=-\r\nc=IN IP4 198.51.100.7\r\nt=0 0\r\n"
      "m=audio 5000 RTP/AVP 18\r\nm=image 0 udptl t38\r\n";
  const TSdp answer = AnswerOf(offer, agreed);
  EXPECT_EQ(agreed.kind, TAgreed::TKind::None);
  ASSERT_EQ(answer.media.size(), 2u);
  EXPECT_EQ(answer.media[0].port, 0);
  EXPECT_EQ(answer.media[1].port, 0);
  // Our T.38 offer answered with m=image 0: nothing taken.
  const TSdp refused = Parse("v=0\r\no=- 1 2 IN IP4 198.51.100.7\r\ns=-\r\nt=0 0\r\nm=image 0 udptl t38\r\n");
  EXPECT_EQ(fe::sip::ReadAnswer(refused, Local()).kind, TAgreed::TKind::None);
}

TEST(SdpAnswer, IdenticalReofferKeepsT38) {
  TAgreed first, again;
  const TSdp a1 = fe::sip::Answer(Parse(kT38Offer), Local(), 1, 2, first);
  const TSdp a2 = fe::sip::Answer(Parse(kT38Offer), Local(), 1, 2, again);
  EXPECT_EQ(first, again);
  EXPECT_EQ(fe::sip::WriteSdp(a1), fe::sip::WriteSdp(a2));
  EXPECT_EQ(again.kind, TAgreed::TKind::T38);
}

TEST(SdpOddOffers, ToleratedAsRealGatewaysSendThem) {
  TAgreed agreed;
  // `RTP/AVP t38`, LF line ends, lower-case attribute names, no rate management,
  // the media-level address, the short datagram name.
  const std::string odd =
      "v=0\no=- 9 9 IN IP4 203.0.113.5\ns=-\nt=0 0\nm=image 6000 RTP/AVP t38\nc=IN IP4 203.0.113.6\n"
      "a=t38faxversion:0\na=T38MaxDatagram:180\n";
  TSdp answer = AnswerOf(odd, agreed);
  EXPECT_EQ(agreed.kind, TAgreed::TKind::T38);
  EXPECT_EQ(agreed.address, "203.0.113.6");
  EXPECT_EQ(agreed.t38.maxDatagram, 180);
  EXPECT_EQ(answer.media[0].proto, "RTP/AVP");  // answered in kind
  // Missing attributes take the defaults; trailing blanks and spaces are no harm.
  const std::string bare = "v=0\r\nc=IN IP4 203.0.113.5 \r\nm=image 6000 UDPTL T38\r\n\r\n";
  answer = AnswerOf(bare, agreed);
  EXPECT_EQ(agreed.kind, TAgreed::TKind::T38);
  EXPECT_EQ(agreed.t38.version, 0);
  EXPECT_EQ(agreed.t38.maxDatagram, 400);
  // PCMU by rtpmap under a dynamic number.
  const std::string dyn = "v=0\r\nc=IN IP4 203.0.113.5\r\nm=audio 7000 RTP/AVP 96\r\na=rtpmap:96 PCMU/8000\r\n";
  AnswerOf(dyn, agreed);
  EXPECT_EQ(agreed.kind, TAgreed::TKind::Audio);
  EXPECT_EQ(agreed.codec, TCodec::Pcmu);
}

TEST(SdpRead, BadDescriptionsAreRefusedWithAReason) {
  TSdp sdp;
  std::string error;
  for (const char* text : {"", "hello", "v=1\r\n", "v=0\r\nm=audio 70000 RTP/AVP 0\r\nc=IN IP4 1.2.3.4\r\n",
                           "v=0\r\nm=audio 5000 RTP/AVP 0\r\n", "v=0\r\nc=IN\r\n", "v=0\r\nm=audio x RTP/AVP 0\r\n",
                           "v=0\r\nm=audio\r\n"}) {
    error.clear();
    EXPECT_FALSE(fe::sip::ParseSdp(text, sdp, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(SdpWrite, OffersReadBackAsWritten) {
  TSdp audio = Parse(fe::sip::WriteSdp(fe::sip::MakeAudioOffer(Local(), 77, 3)));
  EXPECT_EQ(audio.sessionId, 77u);
  EXPECT_EQ(audio.sessionVersion, 3u);
  ASSERT_EQ(audio.media.size(), 1u);
  EXPECT_EQ(audio.media[0].formats, (std::vector<std::string>{"0", "8"}));  // G.711 only, ours first
  EXPECT_EQ(audio.media[0].ptime, 20);
  TSdp image = Parse(fe::sip::WriteSdp(fe::sip::MakeT38Offer(Local(), 77, 4)));
  ASSERT_EQ(image.media.size(), 1u);
  EXPECT_TRUE(image.media[0].IsT38());
  EXPECT_TRUE(image.media[0].hasT38Attrs);
  EXPECT_EQ(image.media[0].t38, Local().t38Params);
  // IPv6 addresses are written as IP6.
  auto local = Local();
  local.address = "2001:db8::5";
  const std::string v6 = fe::sip::WriteSdp(fe::sip::MakeAudioOffer(local, 1, 1));
  EXPECT_NE(v6.find("c=IN IP6 2001:db8::5\r\n"), std::string::npos) << v6;
}

}  // namespace
