// Software HDLC against spandsp's HDLC transmitter and receiver. spandsp works
// on MSB-first bytes, our line order is LSB first, so every byte crossing
// between the two is bit-reversed. Payloads are the ones that break framing:
// flag octets, all ones, DLE, five-ones runs at every bit offset.
#include "hdlc.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "through_modem.h"

extern "C" {
#include <spandsp.h>
}

namespace fe::hdlc {
namespace {

using Bytes = std::vector<uint8_t>;

uint8_t Reverse(uint8_t b) {
  return bit_reverse8(b);
}

// Frames shaped like image frames: address, control, FCF, number, data.
std::vector<Bytes> AwkwardFrames() {
  std::vector<Bytes> frames;
  auto fcd = [](uint8_t n, Bytes data) {
    data.insert(data.begin(), {0xFF, 0x03, 0x06, n});
    return data;
  };
  frames.push_back(fcd(0, Bytes(256, 0x7E)));
  frames.push_back(fcd(1, Bytes(256, 0xFF)));
  frames.push_back(fcd(0x10, Bytes(256, 0x10)));
  Bytes runs;  // five ones at each bit offset, and runs just under and over it
  for (int i = 0; i < 64; ++i) {
    uint32_t v = 0x1Fu << (i % 12);
    runs.push_back(static_cast<uint8_t>(v));
    runs.push_back(static_cast<uint8_t>(v >> 8));
    runs.push_back(i % 2 ? 0x3E : 0xF8);
  }
  frames.push_back(fcd(3, runs));
  std::mt19937 rng(7);
  for (int k = 0; k < 20; ++k) {
    Bytes data(1 + rng() % 256);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    frames.push_back(fcd(static_cast<uint8_t>(4 + k), data));
  }
  frames.push_back({0xFF, 0x03, 0x86});  // RCP: the shortest frame of a burst
  return frames;
}

Bytes Burst(const std::vector<Bytes>& frames) {
  TFramer fr;
  fr.Flags(20);
  for (const auto& f : frames) {
    fr.Frame(f);
    fr.Flags(1);
  }
  fr.Flags(2);
  return fr.Take();
}

struct SpandspRx {
  std::vector<Bytes> good;
  int bad = 0;
  hdlc_rx_state_t* rx;
  SpandspRx() {
    rx = hdlc_rx_init(nullptr, false, true, 2, &SpandspRx::Got, this);
    hdlc_rx_set_max_frame_len(rx, 300);
  }
  ~SpandspRx() { hdlc_rx_free(rx); }
  static void Got(void* self, const uint8_t* pkt, int len, int ok) {
    auto* me = static_cast<SpandspRx*>(self);
    if (len < 0) return;  // carrier and framing status, not a frame
    if (ok)
      me->good.emplace_back(pkt, pkt + len);
    else
      ++me->bad;
  }
  void Feed(const Bytes& lsbFirst) {
    for (uint8_t b : lsbFirst) hdlc_rx_put_byte(rx, Reverse(b));
  }
};

std::vector<Bytes> TakeAll(TDeframer& d) {
  std::vector<Bytes> out;
  Bytes f;
  while (d.Take(f)) out.push_back(f);
  return out;
}

TEST(Hdlc, FcsIsX25) {
  const char* check = "123456789";
  EXPECT_EQ(Fcs16(reinterpret_cast<const uint8_t*>(check), 9), 0x906E);
}

TEST(Hdlc, SpandspReceivesOurFrames) {
  auto frames = AwkwardFrames();
  SpandspRx peer;
  peer.Feed(Burst(frames));
  EXPECT_EQ(peer.bad, 0);
  EXPECT_EQ(peer.good, frames);

  // Fed in line order without the reversal, every frame must fail: proves
  // the bit order is really being checked.
  SpandspRx wrongOrder;
  for (uint8_t b : Burst(frames)) hdlc_rx_put_byte(wrongOrder.rx, b);
  EXPECT_TRUE(wrongOrder.good.empty());
}

TEST(Hdlc, WeReceiveSpandspFrames) {
  auto frames = AwkwardFrames();
  hdlc_tx_state_t* tx = hdlc_tx_init(nullptr, false, 1, false, nullptr, nullptr);
  Bytes line(3, kFlag);
  auto pull = [&](size_t n) {
    for (size_t i = 0; i < n; ++i) line.push_back(Reverse(static_cast<uint8_t>(hdlc_tx_get_byte(tx))));
  };
  for (const auto& f : frames) {
    // spandsp holds one frame at a time: drain until it takes the next.
    while (hdlc_tx_frame(tx, f.data(), f.size()) < 0) pull(1);
  }
  pull(400);
  hdlc_tx_free(tx);

  // Fed in one piece and byte by byte: frames split anywhere come out whole.
  TDeframer whole;
  whole.Put(line);
  EXPECT_EQ(TakeAll(whole), frames);
  EXPECT_EQ(whole.Stats().badFcs + whole.Stats().badShape + whole.Stats().aborts, 0u);
  TDeframer drip;
  for (uint8_t b : line) drip.Put(&b, 1);
  EXPECT_EQ(TakeAll(drip), frames);
}

TEST(Hdlc, SurvivesTheModemsDleTransparency) {
  // Our frames through the doubling the modem expects and the reader that
  // undoes it: the stream itself is full of DLE and DLE ETX look-alikes.
  auto frames = AwkwardFrames();
  Bytes bits = Burst(frames);
  auto block = test::ThroughModem(bits);
  ASSERT_TRUE(block);
  EXPECT_EQ(*block, bits);
  TDeframer d;
  d.Put(*block);
  EXPECT_EQ(TakeAll(d), frames);
}

TEST(Hdlc, ResynchronisesAfterGarbageAbortsAndShortFrames) {
  auto frames = AwkwardFrames();
  TDeframer d(300);
  auto lost = [&] { return d.Stats().aborts + d.Stats().badFcs + d.Stats().badShape; };

  std::mt19937 rng(11);
  Bytes noise;
  for (int i = 0; i < 500; ++i) noise.push_back(static_cast<uint8_t>(rng()));
  d.Put(noise);  // before any flag: whatever it looks like, it is not a frame
  EXPECT_EQ(TakeAll(d), std::vector<Bytes>{});
  d.Put(Burst({frames[0]}));
  EXPECT_EQ(TakeAll(d), std::vector<Bytes>{frames[0]});

  // A frame cut short by an abort (seven and more 1s), then a good one.
  size_t aborts = d.Stats().aborts;
  Bytes cut = Burst({frames[1]});
  cut.resize(40);
  cut.insert(cut.end(), {0xFF, 0xFF});
  d.Put(cut);
  EXPECT_EQ(d.Stats().aborts, aborts + 1);
  // A two-octet frame between good ones: too short for T.30, dropped.
  size_t shape = d.Stats().badShape;
  d.Put(Burst({frames[2], {0xFF, 0x03}, frames[3]}));
  EXPECT_EQ(d.Stats().badShape, shape + 1);
  EXPECT_EQ(TakeAll(d), (std::vector<Bytes>{frames[2], frames[3]}));

  // A frame with one bit flipped is lost; the next still arrives.
  size_t before = lost();
  Bytes flipped = Burst({frames[4], frames[5]});
  flipped[30] ^= 0x04;
  d.Put(flipped);
  EXPECT_EQ(TakeAll(d), std::vector<Bytes>{frames[5]});
  EXPECT_GT(lost(), before);
}

TEST(Hdlc, OversizedFramesAreDroppedNotHeld) {
  TFramer fr;
  fr.Flags(2);
  fr.Frame(Bytes(600, 0x55));
  fr.Flags(1);
  fr.Frame({0xFF, 0x03, 0x86});
  fr.Flags(2);
  TDeframer d(300);
  d.Put(fr.Take());
  EXPECT_EQ(TakeAll(d), (std::vector<Bytes>{{0xFF, 0x03, 0x86}}));
  EXPECT_EQ(d.Stats().badShape, 1u);
}

}  // namespace
}  // namespace fe::hdlc
