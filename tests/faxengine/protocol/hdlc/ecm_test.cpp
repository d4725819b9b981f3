// Error correction's frames and blocks end to end without a modem: a page cut
// into frames, sent as bursts through the modem's DLE transparency, deframed,
// collected, partially lost and repaired with the receiver's own PPR map.
#include "ecm.h"

#include <gtest/gtest.h>

#include <random>

#include "hdlc.h"
#include "through_modem.h"

namespace fe::ecm {
namespace {

Bytes RandomPage(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<uint8_t>(rng() % 3 == 0 ? 0x10 : rng());  // plenty of DLE
  return b;
}

// A burst as the receiving engine sees it: doubled for the modem, read back
// through the reader, deframed, fed to the collector; fcdSeen counts the
// image frames it carried.
void Deliver(const Bytes& burst, TBlockCollector& rx, size_t* fcdSeen = nullptr) {
  auto block = test::ThroughModem(burst);
  ASSERT_TRUE(block);
  hdlc::TDeframer d(300);
  d.Put(*block);
  Bytes f;
  size_t n = 0;
  while (d.Take(f))
    if (rx.Add(f) && f[2] == fcfFCD) ++n;
  if (fcdSeen) *fcdSeen = n;
}

TEST(EcmBlocks, PageCutIntoBlocksArrivesWholeAndPadded) {
  Bytes page = RandomPage(70000, 1);
  TPageFrames tx(page, 256);
  ASSERT_EQ(tx.Blocks(), 2u);
  EXPECT_EQ(tx.FramesIn(0), 256u);
  EXPECT_EQ(tx.FramesIn(1), 18u);  // 70000 octets = 273.4 frames
  Bytes got;
  for (size_t b = 0; b < tx.Blocks(); ++b) {
    TBlockCollector rx(256);
    Deliver(BuildBurst(tx, b, FrameMap(tx.FramesIn(b), true), 14400), rx);
    EXPECT_TRUE(rx.SawRcp());
    auto pps = ParsePpsFif(
        BuildPpsFif({uint8_t(b + 1 < tx.Blocks() ? 0 : int(t30::fcfEOP)), 0, uint8_t(b), int(tx.FramesIn(b))}));
    ASSERT_TRUE(pps);
    rx.SetCount(pps->frames);
    EXPECT_TRUE(rx.Complete());
    EXPECT_TRUE(rx.MissingMap().empty());
    Bytes d = rx.Data();
    got.insert(got.end(), d.begin(), d.end());
  }
  ASSERT_EQ(got.size(), 274u * 256u);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), got.begin()));
  EXPECT_TRUE(std::all_of(got.begin() + 70000, got.end(), [](uint8_t v) { return v == 0; }));
}

TEST(EcmBlocks, LostFramesAreAskedForAndOnlyThoseSentAgain) {
  Bytes page = RandomPage(40 * 64, 2);
  TPageFrames tx(page, 64);  // 64-octet frames
  ASSERT_EQ(tx.FramesIn(0), 40u);
  FrameMap first(40, true);
  first[3] = first[17] = first[39] = false;  // lost on the line
  TBlockCollector rx(64);
  Deliver(BuildBurst(tx, 0, first, 9600), rx);
  rx.SetCount(40);
  ASSERT_FALSE(rx.Complete());
  auto again = ParsePpr(rx.MissingMap(), tx.FramesIn(0));
  ASSERT_TRUE(again);
  std::vector<size_t> marked;
  for (size_t i = 0; i < again->size(); ++i)
    if ((*again)[i]) marked.push_back(i);
  EXPECT_EQ(marked, (std::vector<size_t>{3, 17, 39}));
  size_t resent = 0;
  Deliver(BuildBurst(tx, 0, *again, 9600), rx, &resent);
  EXPECT_EQ(resent, 3u);
  rx.SetCount(3);  // the repeat's PPS names its own burst; the largest count stays
  EXPECT_EQ(rx.Count(), 40);
  ASSERT_TRUE(rx.Complete());
  EXPECT_EQ(rx.Data(), page);
}

TEST(EcmBlocks, ReceiverKeepsOnlyFramesOfTheAgreedSize) {
  Bytes page = RandomPage(4 * 256, 3);
  TPageFrames big(page, 256);
  TBlockCollector small(64);
  Deliver(BuildBurst(big, 0, FrameMap(4, true), 9600), small);
  small.SetCount(4);
  EXPECT_EQ(small.MissingMap(),
            Bytes({0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // A short last frame is fine; frames that are not FCD or RCP are refused.
  TBlockCollector rx(256);
  EXPECT_TRUE(rx.Add({0xFF, 0x03, fcfFCD, 0, 1, 2, 3}));
  EXPECT_FALSE(rx.Add({0xFF, 0x03, fcfFCD, 1}));
  EXPECT_FALSE(rx.Add({0xFF, 0x13, t30::fcfMCF}));
  EXPECT_FALSE(rx.Add({0x7F, 0x03, fcfRCP}));
}

TEST(EcmBlocks, MmrAfterEorKeepsDataOnlyUpToTheFirstGap) {
  TBlockCollector rx(64);
  for (uint8_t n : {0, 1, 3}) {
    Bytes f = {0xFF, 0x03, fcfFCD, n};
    f.insert(f.end(), 64, n);
    rx.Add(f);
  }
  rx.SetCount(4);
  EXPECT_EQ(rx.DataUntilGap().size(), 128u);
  EXPECT_EQ(rx.Data().size(), 192u);
}

TEST(EcmFrames, PpsAndPprFields) {
  // FCF2 carries the X bit on the wire; 256 frames are sent as 255.
  Bytes fif = BuildPpsFif({t30::fcfEOP, 7, 2, 256});
  EXPECT_EQ(fif, (Bytes{t30::fcfEOP | t30::kXBit, 7, 2, 0xFF}));
  auto p = ParsePpsFif(fif);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->fcf2, t30::fcfEOP);
  EXPECT_EQ(p->frames, 256);
  EXPECT_EQ(ParsePpsFif({0, 0, 0, 0})->frames, 1);
  EXPECT_FALSE(ParsePpsFif({t30::fcfMCF, 0, 0, 0}));  // not a post-page command
  EXPECT_FALSE(ParsePpsFif({0, 0, 0}));

  // A map with every bit set (as some receivers send) asks only for our frames.
  auto m = ParsePpr(Bytes(32, 0xFF), 18);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->size(), 18u);
  EXPECT_TRUE(std::all_of(m->begin(), m->end(), [](bool b) { return b; }));
  EXPECT_FALSE(ParsePpr(Bytes(31, 0xFF), 18));

  // CTC names the new speed as DCS octets 1-2 do.
  auto ctc = BuildCtcFif(9600);
  ASSERT_EQ(ctc.size(), 2u);
  auto dcs = t30::ParseDcs({ctc[0], ctc[1], 0});
  ASSERT_TRUE(dcs);
  EXPECT_EQ(dcs->bps, 9600);
}

TEST(EcmFrames, PpsForTheConfirmedBlockMeansOurMcfWasLost) {
  Pps p{0, 3, 1, 10};
  EXPECT_EQ(MatchPps(p, 3, 1, 3, 0, true), PpsMatch::Current);
  EXPECT_EQ(MatchPps(p, 3, 2, 3, 1, true), PpsMatch::Previous);
  EXPECT_EQ(MatchPps(p, 3, 2, 3, 1, false), PpsMatch::Other);
  EXPECT_EQ(MatchPps(p, 4, 0, 3, 0, true), PpsMatch::Other);
}

}  // namespace
}  // namespace fe::ecm
