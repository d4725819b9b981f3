// The T.30 toolkit: frames as the modem carries them, DIS/DCS bits at the
// positions ITU-T T.30 gives them, speeds, identifiers, scan-line times.
#include <gtest/gtest.h>

#include "t30.h"

namespace fe::t30 {
namespace {

bool Bit(const std::vector<uint8_t>& fif, int n) { return fif[(n - 1) / 8] & (1 << ((n - 1) % 8)); }

TEST(T30Frames, BuildDoublesDleAndEndsWithDleEtx) {
  Frame f{static_cast<uint8_t>(fcfTSI | kXBit), false, {0x10, 'A', 0x10}};
  std::vector<uint8_t> want = {0xFF, 0x03, 0x43, 0x10, 0x10, 'A', 0x10, 0x10, 0x10, 0x03};
  EXPECT_EQ(BuildFrame(f), want);
  f.final = true;
  EXPECT_EQ(BuildFrame(f)[1], 0x13);
}

TEST(T30Frames, ParseDropsFcsAndRejectsBadFrames) {
  auto f = ParseFrame({0xFF, 0x13, 0x80, 0x00, 0x46, 0x11, 0xAB, 0xCD});
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->final);
  EXPECT_EQ(f->Kind(), fcfDIS);
  EXPECT_EQ(f->fif, (std::vector<uint8_t>{0x00, 0x46, 0x11}));
  EXPECT_FALSE(ParseFrame({0xFF, 0x13, 0x80, 0xAB}));          // FCS only, no FCF left
  EXPECT_FALSE(ParseFrame({0x7F, 0x13, 0x80, 0x00, 0xAB, 0xCD}));  // wrong address
  EXPECT_FALSE(ParseFrame({0xFF, 0x07, 0x80, 0x00, 0xAB, 0xCD}));  // wrong control
  auto noFcs = ParseFrame({0xFF, 0x03, 0x8D}, false);
  ASSERT_TRUE(noFcs);
  EXPECT_EQ(noFcs->Kind(), fcfMCF);  // X bit ignored for responses
}

TEST(T30Frames, XBitIgnoredExceptOnIdentificationFrames) {
  EXPECT_EQ(FcfKind(fcfMPS | kXBit), fcfMPS);
  EXPECT_EQ(FcfKind(fcfDCN | kXBit), fcfDCN);
  EXPECT_EQ(FcfKind(fcfDTC), fcfDTC);  // DTC is not a DIS with the X bit
  EXPECT_NE(FcfKind(fcfDTC), fcfDIS);
  EXPECT_EQ(FcfName(fcfEOP | kXBit), "EOP");
}

TEST(T30Ids, LastCharacterFirstPaddedInFront) {
  auto id = EncodeId("+49 30 1234");
  ASSERT_EQ(id.size(), 20u);
  EXPECT_EQ(id[0], '4');
  EXPECT_EQ(id[10], '+');
  EXPECT_EQ(id[11], ' ');
  EXPECT_EQ(id[19], ' ');
  EXPECT_EQ(DecodeId(id), "+49 30 1234");
  EXPECT_EQ(EncodeId(std::string(25, 'X')).size(), 20u);
  EXPECT_EQ(DecodeId({'1', 0x01, '2'}), "2 1");  // control characters read as blanks
}

TEST(T30Dcs, BitsAsT30Numbers) {
  struct Case {
    int bps;
    std::vector<int> set, clear;
  } cases[] = {
      {2400, {}, {11, 12, 13, 14}}, {4800, {12}, {11, 13, 14}}, {7200, {11, 12}, {13, 14}},
      {9600, {11}, {12, 13, 14}},   {12000, {12, 14}, {11, 13}}, {14400, {14}, {11, 12, 13}},
  };
  for (const auto& c : cases) {
    DcsParams p;
    p.bps = c.bps;
    auto fif = BuildDcs(p);
    ASSERT_EQ(fif.size(), 3u);
    EXPECT_EQ(fif[0], 0) << c.bps;
    EXPECT_TRUE(Bit(fif, 10)) << "receiver operation bit at " << c.bps;
    for (int b : c.set) EXPECT_TRUE(Bit(fif, b)) << c.bps << " bit " << b;
    for (int b : c.clear) EXPECT_FALSE(Bit(fif, b)) << c.bps << " bit " << b;
    auto back = ParseDcs(fif);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bps, c.bps);
  }
  DcsParams p;
  p.fine = true;
  p.wide = true;
  p.scan = scan40ms;
  p.unlimitedLength = true;
  auto fif = BuildDcs(p);
  EXPECT_TRUE(Bit(fif, 15));   // fine
  EXPECT_TRUE(Bit(fif, 17));   // 255 mm
  EXPECT_FALSE(Bit(fif, 18));  // not 303 mm
  EXPECT_TRUE(Bit(fif, 20));   // unlimited length
  EXPECT_FALSE(Bit(fif, 21));
  EXPECT_FALSE(Bit(fif, 22));
  EXPECT_TRUE(Bit(fif, 23));   // 40 ms
  EXPECT_FALSE(Bit(fif, 24));  // no extension
  auto back = ParseDcs(fif);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->fine && back->wide && back->unlimitedLength);
  EXPECT_EQ(back->scan, scan40ms);
  EXPECT_FALSE(ParseDcs({0, 0x02}));
}

TEST(T30Dis, CapabilitiesAndScanTimesPerResolution) {
  // V.27ter + V.29 + V.17, fine, 255 mm, unlimited, scan (bit 21,22 set) = 20 ms, half at fine.
  std::vector<uint8_t> fif = {0x00, 0x02 | 0x04 | 0x08 | 0x20 | 0x40, 0x01 | 0x08 | 0x30};
  DisCaps c = ParseDis(fif);
  EXPECT_TRUE(c.receiver && c.v29 && c.v27_4800 && c.v17 && c.fine && c.wide && c.unlimitedLength);
  EXPECT_EQ(c.scanNormal, scan20ms);
  EXPECT_EQ(c.scanFine, scan10ms);
  EXPECT_FALSE(c.ecm);
  // ECM (bit 27) only counts when octet 3 says an octet 4 follows.
  fif = {0x00, 0x02, 0x00, 0x04};
  EXPECT_FALSE(ParseDis(fif).ecm);
  fif[2] = 0x80;
  EXPECT_TRUE(ParseDis(fif).ecm);
  // 303 mm alone implies 255 mm.
  EXPECT_TRUE(ParseDis({0x00, 0x02, 0x02}).wide);
  EXPECT_FALSE(ParseDis({0x00, 0x02, 0x00}).wide);
  // A short DIS (one octet) reads as a non-receiver with defaults.
  EXPECT_FALSE(ParseDis({0x00}).receiver);
  // A DIS built from capabilities reads back the same.
  DisCaps want;
  want.fine = want.wide = want.unlimitedLength = want.ecm = true;
  want.scanNormal = scan0ms;
  DisCaps got = ParseDis(BuildDis(want, 14400));
  EXPECT_TRUE(got.receiver && got.v17 && got.v29 && got.fine && got.wide && got.ecm);
  EXPECT_EQ(got.scanNormal, scan0ms);
  EXPECT_FALSE(ParseDis(BuildDis(want, 9600)).v17);
}

TEST(T30Negotiation, ErrorCorrectionAndCodingBits) {
  // A DIS offering MR, ECM and T.6: bits 16, 27 and 31.
  DisCaps offer;
  offer.mr = offer.ecm = offer.t6 = true;
  auto dis = BuildDis(offer, 14400);
  ASSERT_EQ(dis.size(), 4u);
  EXPECT_TRUE(Bit(dis, 16) && Bit(dis, 24) && Bit(dis, 27) && Bit(dis, 31));
  EXPECT_FALSE(Bit(dis, 28));  // a DIS leaves the frame-size bit clear
  DisCaps got = ParseDis(dis);
  EXPECT_TRUE(got.mr && got.ecm && got.t6);
  // T.6 is never offered without error correction.
  offer.ecm = false;
  dis = BuildDis(offer, 14400);
  EXPECT_EQ(dis.size(), 3u);
  EXPECT_TRUE(Bit(dis, 16));
  EXPECT_FALSE(ParseDis(dis).t6);

  // DCS with ECM: bit 27, frame size in bit 28 (1 = 64 octets), scan time 0
  // whatever the remote asked for, MMR in bit 31 and not bit 16.
  DcsParams p;
  p.bps = 14400;
  p.scan = scan20ms;
  p.ecm = true;
  p.frame64 = true;
  p.coding = Coding::MMR;
  auto dcs = BuildDcs(p);
  ASSERT_EQ(dcs.size(), 4u);
  EXPECT_TRUE(Bit(dcs, 21) && Bit(dcs, 22) && Bit(dcs, 23));  // 0 ms
  EXPECT_TRUE(Bit(dcs, 24) && Bit(dcs, 27) && Bit(dcs, 28) && Bit(dcs, 31));
  EXPECT_FALSE(Bit(dcs, 16));
  auto back = ParseDcs(dcs);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->ecm && back->frame64);
  EXPECT_EQ(back->coding, Coding::MMR);
  EXPECT_EQ(back->scan, scan0ms);
  // 256-octet frames: bit 28 clear.
  p.frame64 = false;
  EXPECT_FALSE(ParseDcs(BuildDcs(p))->frame64);
  // MR without ECM keeps the remote's scan time and has no fourth octet.
  p.ecm = false;
  p.coding = Coding::MR;
  dcs = BuildDcs(p);
  EXPECT_EQ(dcs.size(), 3u);
  EXPECT_TRUE(Bit(dcs, 16));
  EXPECT_EQ(ParseDcs(dcs)->coding, Coding::MR);
  EXPECT_EQ(ParseDcs(dcs)->scan, scan20ms);
  // MMR without ECM is not a valid DCS: a single bit error would ruin the page.
  EXPECT_FALSE(ParseDcs({0x00, 0x02 | 0x20, 0x80, 0x40}));
}

TEST(T30Negotiation, CodingIsTheBestBothEndsOffer) {
  DisCaps remote;
  remote.mr = remote.ecm = remote.t6 = true;
  EXPECT_EQ(ChooseCoding(remote, true, true, true), Coding::MMR);
  EXPECT_EQ(ChooseCoding(remote, false, true, true), Coding::MR);  // MMR only with ECM
  EXPECT_EQ(ChooseCoding(remote, true, true, false), Coding::MR);
  remote.t6 = false;
  EXPECT_EQ(ChooseCoding(remote, true, true, true), Coding::MR);
  remote.ecm = false;
  remote.t6 = true;  // T.6 offered without ECM is ignored
  EXPECT_EQ(ChooseCoding(remote, true, true, true), Coding::MR);
  remote.mr = false;
  EXPECT_EQ(ChooseCoding(remote, true, true, true), Coding::MH);
  EXPECT_EQ(MrK(false), 2);
  EXPECT_EQ(MrK(true), 4);
}

TEST(T30Speeds, ChooseAndStepDownWithinRemoteAndModem) {
  DisCaps all = ParseDis({0x00, 0x02 | 0x04 | 0x08 | 0x20, 0x00});
  std::vector<int> any;
  EXPECT_EQ(ChooseSpeed(all, 14400, any), 14400);
  EXPECT_EQ(ChooseSpeed(all, 9600, any), 9600);
  std::vector<int> chain;
  for (int s = 14400; s; s = StepDown(all, s, any)) chain.push_back(s);
  EXPECT_EQ(chain, (std::vector<int>{14400, 12000, 9600, 7200, 4800, 2400}));
  DisCaps v29 = ParseDis({0x00, 0x02 | 0x04 | 0x08, 0x00});
  EXPECT_EQ(ChooseSpeed(v29, 14400, any), 9600);
  DisCaps fallback = ParseDis({0x00, 0x02, 0x00});
  EXPECT_EQ(ChooseSpeed(fallback, 14400, any), 2400);
  EXPECT_EQ(StepDown(fallback, 2400, any), 0);
  // A modem without V.17 caps the speed at 9600.
  std::vector<int> codes = ParseModulationList("24,48,72,96");
  EXPECT_EQ(ChooseSpeed(all, 14400, codes), 9600);
  EXPECT_EQ(HighestModemSpeed(ParseModulationList("24,48,72,73,74,96,97,98,121,122,145,146"), 14400), 14400);
  EXPECT_EQ(HighestModemSpeed(codes, 7200), 7200);
}

TEST(T30Speeds, ModulationTablesAndClass2Characters) {
  const char* longCodes[] = {"24", "48", "72", "96", "121", "145"};
  const char* shortCodes[] = {"24", "48", "72", "96", "122", "146"};
  const char speedChars[] = {'0', '1', '2', '3', '4', '5'};
  ASSERT_EQ(Speeds().size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_STREQ(Speeds()[i].longCode, longCodes[i]);
    EXPECT_STREQ(Speeds()[i].shortCode, shortCodes[i]);
    EXPECT_EQ(Class2SpeedChar(Speeds()[i].bps), speedChars[i]);
  }
  EXPECT_EQ(Class2SpeedChar(19200), '3');
  EXPECT_EQ(SpeedFor(1234).bps, 9600);
}

TEST(T30Lines, MinimumLineLengthTrainingLengthAndJudgement) {
  EXPECT_EQ(MinLineBytes(scan20ms, 9600), 24);
  EXPECT_EQ(MinLineBytes(scan40ms, 14400), 72);
  EXPECT_EQ(MinLineBytes(scan5ms, 2400), 2);  // 1.5 bytes round up
  EXPECT_EQ(MinLineBytes(scan0ms, 14400), 0);
  EXPECT_EQ(TrainingBytes(9600), 1728);
  EXPECT_EQ(TrainingBytes(14400), 2592);
  EXPECT_EQ(TrainingBytes(2400), 432);
  EXPECT_EQ(TrainingBytes(100000), 8192);
  EXPECT_TRUE(TrainingGood(99, 1000));
  EXPECT_FALSE(TrainingGood(100, 1000));
  EXPECT_FALSE(TrainingGood(0, 0));
}

}  // namespace
}  // namespace fe::t30
