// The G.711 RTP path: what it reads from hostile or odd datagrams, how its
// fixed play-out buffer treats reordering, lateness and wrapping counters, and
// the packets it sends.
#include "rtp_path.h"

#include <gtest/gtest.h>
#include <spandsp.h>

#include <cstring>
#include <memory>
#include <vector>

namespace fe::voip {
namespace {

// A datagram in a heap block of exactly its size, so that the sanitizer sees
// any read beyond its end.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& d) {
  auto p = std::make_unique<uint8_t[]>(d.size());
  if (!d.empty()) std::memcpy(p.get(), d.data(), d.size());
  return p;
}

// Parses d; the packet's payload points into a copy kept until the test ends.
bool Parse(const std::vector<uint8_t>& d, TRtpPacket& out) {
  static std::vector<std::unique_ptr<uint8_t[]>> kept;
  kept.push_back(Exact(d));
  return ParseRtp(kept.back().get(), d.size(), out);
}

std::vector<uint8_t> Header(int pt, uint16_t seq, uint32_t ts, uint32_t ssrc = 0x11223344) {
  std::vector<uint8_t> d(12);
  WriteRtpHeader(d.data(), pt, false, seq, ts, ssrc);
  return d;
}

TEST(RtpParse, ReadsTheFieldsAndFindsThePayloadBehindCsrcsAndExtension) {
  auto d = Header(0, 0xBEEF, 0xCAFEBABE, 0x01020304);
  d[1] |= 0x80;  // marker
  d.insert(d.end(), {1, 2, 3});
  TRtpPacket p;
  ASSERT_TRUE(Parse(d, p));
  EXPECT_EQ(p.payloadType, 0);
  EXPECT_TRUE(p.marker);
  EXPECT_EQ(p.sequence, 0xBEEF);
  EXPECT_EQ(p.timestamp, 0xCAFEBABEu);
  EXPECT_EQ(p.ssrc, 0x01020304u);
  ASSERT_EQ(p.payloadSize, 3u);
  EXPECT_EQ(p.payload[0], 1);

  // Two CSRCs, a one-word extension and two octets of padding.
  auto e = Header(8, 1, 2);
  e[0] |= 0x02 | 0x10 | 0x20;
  e.insert(e.end(), 8, 0xCC);                   // CSRCs
  e.insert(e.end(), {0xBE, 0xDE, 0x00, 0x01});  // extension header, 1 word
  e.insert(e.end(), 4, 0xEE);
  e.insert(e.end(), {7, 8, 9, 0, 2});  // payload 7 8 9, padding 0 2
  ASSERT_TRUE(Parse(e, p));
  EXPECT_EQ(p.payloadType, 8);
  ASSERT_EQ(p.payloadSize, 3u);
  EXPECT_EQ(p.payload[0], 7);
  EXPECT_EQ(p.payload[2], 9);
}

TEST(RtpParse, MalformedPacketsAreRefusedWithoutReadingPastTheirEnd) {
  TRtpPacket p;
  auto ok = Header(0, 1, 1);
  ok.push_back(0x55);
  ASSERT_TRUE(Parse(ok, p));
  for (size_t n = 0; n < 12; ++n)
    EXPECT_FALSE(Parse(std::vector<uint8_t>(ok.begin(), ok.begin() + static_cast<long>(n)), p)) << n << " bytes";
  for (int version : {0, 1, 3}) {
    auto d = ok;
    d[0] = static_cast<uint8_t>((d[0] & 0x3F) | version << 6);
    EXPECT_FALSE(Parse(d, p)) << "version " << version;
  }
  auto csrc = ok;
  csrc[0] |= 0x0F;  // fifteen CSRCs in a 13-byte packet
  EXPECT_FALSE(Parse(csrc, p));
  auto ext = ok;
  ext[0] |= 0x10;  // extension header cut short
  EXPECT_FALSE(Parse(ext, p));
  ext.insert(ext.end(), {0xDE, 0x00, 0xFF});  // header complete, 255 words claimed
  EXPECT_FALSE(Parse(ext, p));
  auto pad = Header(0, 1, 1);
  pad[0] |= 0x20;
  pad.insert(pad.end(), {1, 2, 4});  // 4 octets of padding in a 3-octet payload
  EXPECT_FALSE(Parse(pad, p));
  pad.back() = 0;  // a padding count of zero counts not even itself
  EXPECT_FALSE(Parse(pad, p));
  pad.back() = 3;  // all of it padding: valid, no payload
  ASSERT_TRUE(Parse(pad, p));
  EXPECT_EQ(p.payloadSize, 0u);
  EXPECT_FALSE(ParseRtp(nullptr, 20, p));
}

// The far end of a test: makes the packets a sender of 20 ms PCMU would, with
// each packet's samples telling which packet it is.
struct Far {
  uint16_t seq;
  uint32_t ts;
  uint32_t ssrc = 0xA5A5A5A5;
  Far(uint16_t s, uint32_t t) : seq(s), ts(t) {}

  static int16_t Level(int k) { return static_cast<int16_t>(1000 + 500 * (k % 40)); }
  // Packet k of the stream (k may be out of order).
  std::vector<uint8_t> Packet(int k, int pt = kPayloadPcmu) const {
    auto d = Header(pt, static_cast<uint16_t>(seq + k), ts + static_cast<uint32_t>(160 * k), ssrc);
    for (int i = 0; i < kTickSamples; ++i) d.push_back(linear_to_ulaw(Level(k)));
    return d;
  }
};

struct Sink {
  std::vector<std::vector<uint8_t>> sent;
  TDatagramSend Fn() {
    return [this](const uint8_t* d, size_t n) { sent.emplace_back(d, d + n); };
  }
};

// One play-out tick: how many samples were real and which packet they came from.
struct Played {
  int real;
  int16_t first;
};

Played Tick(TRtpPath& path) {
  int16_t out[kTickSamples];
  const int real = path.Receive(out, kTickSamples);
  return {real, out[0]};
}

void Deliver(TRtpPath& path, const std::vector<uint8_t>& d) {
  auto p = Exact(d);
  path.Deliver(p.get(), d.size());
}

// The level a packet's samples have after G.711 coding.
int16_t Heard(int k) {
  return ulaw_to_linear(linear_to_ulaw(Far::Level(k)));
}

TEST(RtpPlayout, PacketsPlayAfterSixtyMillisecondsInOrderEvenWhenReordered) {
  Sink sink;
  TRtpPath path(TG711Law::Ulaw, sink.Fn());
  Far far(100, 5000);
  // Arrival order per tick: 0, 2, 1 (swapped by 20 ms), 3, 5, 4, 6 ... the
  // buffer holds three packets, so each is in place before its turn.
  const std::vector<int> order = {0, 2, 1, 3, 5, 4, 6, 8, 7, 9, 10, 11};
  std::vector<Played> played;
  for (int k : order) {
    Deliver(path, far.Packet(k));
    played.push_back(Tick(path));
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(played[i].real, 0) << "tick " << i << " is inside the 60 ms delay";
  for (size_t i = 3; i < played.size(); ++i) {
    EXPECT_EQ(played[i].real, kTickSamples) << "tick " << i;
    EXPECT_EQ(played[i].first, Heard(static_cast<int>(i) - 3)) << "tick " << i;
  }
  EXPECT_EQ(path.Stats().received, order.size());
  EXPECT_EQ(path.Stats().late, 0u);
}

TEST(RtpPlayout, ALatePacketIsDroppedAndItsTimeIsAGap) {
  Sink sink;
  TRtpPath path(TG711Law::Ulaw, sink.Fn());
  Far far(7, 0);
  std::vector<Played> played;
  // Packet 2 is held back 100 ms: it arrives after packet 7, past its play-out time.
  for (int k = 0; k < 12; ++k) {
    if (k != 2) Deliver(path, far.Packet(k));
    if (k == 7) Deliver(path, far.Packet(2));
    played.push_back(Tick(path));
  }
  EXPECT_EQ(path.Stats().late, 1u);
  EXPECT_EQ(played[5].real, 0) << "packet 2's turn";
  EXPECT_EQ(played[6].real, kTickSamples);
  EXPECT_EQ(played[6].first, Heard(3));
  EXPECT_EQ(path.Stats().gapSamples, 4u * kTickSamples);  // three ticks of delay and the lost packet
}

TEST(RtpPlayout, SequenceAndTimestampWrapsPlayOn) {
  Sink sink;
  TRtpPath path(TG711Law::Ulaw, sink.Fn());
  // Both counters wrap within the first packets.
  Far far(65534, 0xFFFFFE00u);
  std::vector<Played> played;
  for (int k = 0; k < 10; ++k) {
    Deliver(path, far.Packet(k));
    played.push_back(Tick(path));
  }
  for (int i = 3; i < 10; ++i) {
    EXPECT_EQ(played[i].real, kTickSamples) << i;
    EXPECT_EQ(played[i].first, Heard(i - 3)) << i;
  }
  EXPECT_EQ(path.Stats().late, 0u);
  EXPECT_EQ(path.Stats().restarts, 0u);
}

TEST(RtpPlayout, ComfortNoiseEventsAndMalformedPacketsLeaveTheAudioAlone) {
  Sink sink;
  TRtpPath path(TG711Law::Ulaw, sink.Fn());
  Far far(1, 1000);
  std::vector<Played> played;
  for (int k = 0; k < 8; ++k) {
    Deliver(path, far.Packet(k));
    // Between every two packets: comfort noise, a telephone event and a PCMA
    // packet for the same time, and a datagram that is no RTP at all.
    auto cn = Header(kPayloadComfortNoise, static_cast<uint16_t>(500 + k), 1000 + 160u * k);
    cn.push_back(40);
    Deliver(path, cn);
    auto event = Header(101, static_cast<uint16_t>(600 + k), 1000 + 160u * k);
    event.insert(event.end(), {5, 0x80, 0, 160});
    Deliver(path, event);
    Deliver(path, far.Packet(k, kPayloadPcma));
    Deliver(path, {0x80, 0x00, 0x01});
    played.push_back(Tick(path));
  }
  for (int i = 3; i < 8; ++i) {
    EXPECT_EQ(played[i].real, kTickSamples) << i;
    EXPECT_EQ(played[i].first, Heard(i - 3)) << i;
  }
  EXPECT_EQ(path.Stats().ignored, 24u);
  EXPECT_EQ(path.Stats().malformed, 8u);
  EXPECT_EQ(path.Stats().received, 8u);
}

TEST(RtpPlayout, ANewStreamOrAJumpRestartsThePlayout) {
  Sink sink;
  TRtpPath path(TG711Law::Ulaw, sink.Fn());
  Far far(1, 1000);
  for (int k = 0; k < 5; ++k) {
    Deliver(path, far.Packet(k));
    Tick(path);
  }
  // The far end restarts with another SSRC and other counters.
  Far again(9000, 777777);
  again.ssrc = 0x0BADF00D;
  std::vector<Played> played;
  for (int k = 0; k < 5; ++k) {
    Deliver(path, again.Packet(k + 10));
    played.push_back(Tick(path));
  }
  EXPECT_EQ(path.Stats().restarts, 1u);
  EXPECT_EQ(played[3].real, kTickSamples);
  EXPECT_EQ(played[3].first, Heard(10));
  // Its timestamps jump a minute ahead: play-out starts again there.
  Far jumped = again;
  jumped.ts += 8000 * 60;
  played.clear();
  for (int k = 0; k < 5; ++k) {
    Deliver(path, jumped.Packet(k + 20));
    played.push_back(Tick(path));
  }
  EXPECT_EQ(path.Stats().restarts, 2u);
  EXPECT_EQ(played[3].first, Heard(20));
  // And when they go back in time for good, play-out follows after a few packets
  // rather than dropping the stream as late for ever.
  Far back = again;
  played.clear();
  for (int k = 0; k < 20; ++k) {
    Deliver(path, back.Packet(k + 30));
    played.push_back(Tick(path));
  }
  EXPECT_EQ(path.Stats().restarts, 3u);
  EXPECT_EQ(played.back().real, kTickSamples);
}

TEST(RtpPlayout, APacketStraddlingThePlayoutPointKeepsItsLaterPart) {
  TJitterBuffer buffer(480);
  std::vector<int16_t> samples(320);
  for (int i = 0; i < 320; ++i) samples[i] = static_cast<int16_t>(i + 1);
  ASSERT_EQ(buffer.Put(10000, samples.data(), 160), TJitterBuffer::TPut::Stored);
  int16_t out[160];
  for (int i = 0; i < 3; ++i) EXPECT_EQ(buffer.Take(out, 160), 0);
  EXPECT_EQ(buffer.Take(out, 160), 160);
  // Play-out is at 10160 now; a packet for 10080..10399 arrives.
  ASSERT_EQ(buffer.Put(10080, samples.data(), 320), TJitterBuffer::TPut::Stored);
  EXPECT_EQ(buffer.Take(out, 160), 160);
  EXPECT_EQ(out[0], 81);
  // A tick whose second half is missing: only the first half is real.
  ASSERT_EQ(buffer.Put(10480, samples.data(), 80), TJitterBuffer::TPut::Stored);
  EXPECT_EQ(buffer.Take(out, 160), 80);
  EXPECT_EQ(out[80], 0);
}

TEST(RtpSend, PacketsCarryTwentyMillisecondsOfG711WithSteadyCounters) {
  for (TG711Law law : {TG711Law::Ulaw, TG711Law::Alaw}) {
    Sink sink;
    TRtpPath path(law, sink.Fn());
    int16_t tone[kTickSamples];
    for (int i = 0; i < kTickSamples; ++i) tone[i] = static_cast<int16_t>(i % 20 < 10 ? 8000 : -8000);
    for (int k = 0; k < 3; ++k) path.Transmit(tone, kTickSamples);
    ASSERT_EQ(sink.sent.size(), 3u);
    TRtpPacket p[3];
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(Parse(sink.sent[k], p[k]));
    const int pt = law == TG711Law::Ulaw ? kPayloadPcmu : kPayloadPcma;
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(p[k].payloadType, pt);
      EXPECT_EQ(p[k].payloadSize, static_cast<size_t>(kTickSamples));
      EXPECT_EQ(p[k].ssrc, path.Ssrc());
      EXPECT_EQ(p[k].marker, k == 0);
      EXPECT_EQ(p[k].payload[0], law == TG711Law::Ulaw ? linear_to_ulaw(8000) : linear_to_alaw(8000));
    }
    EXPECT_EQ(static_cast<uint16_t>(p[1].sequence - p[0].sequence), 1);
    EXPECT_EQ(static_cast<uint16_t>(p[2].sequence - p[1].sequence), 1);
    EXPECT_EQ(p[1].timestamp - p[0].timestamp, 160u);
    EXPECT_EQ(p[2].timestamp - p[1].timestamp, 160u);

    // What one path sends, another of the same law plays.
    TRtpPath far(law, nullptr);
    for (auto& d : sink.sent) Deliver(far, d);
    int16_t out[kTickSamples];
    for (int i = 0; i < 3; ++i) far.Receive(out, kTickSamples);
    ASSERT_EQ(far.Receive(out, kTickSamples), kTickSamples);
    EXPECT_NEAR(out[0], 8000, 300);
    EXPECT_NEAR(out[15], -8000, 300);
  }
}

}  // namespace
}  // namespace fe::voip
