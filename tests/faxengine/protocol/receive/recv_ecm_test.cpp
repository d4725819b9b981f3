// The receiver's error correction against a scripted Class 1 modem: bursts of
// image frames built as a caller builds them, with frames left out, garbage and
// aborts, then the caller's PPS, CTC, EOR and their repetitions.
#include "ecm.h"
#include "fe_errors.h"
#include "hdlc.h"
#include "mh_codec.h"
#include "mr_codec.h"
#include "recv_fixture.h"

namespace recvtest {
namespace {

using fe::ecm::Bytes;
using fe::ecm::FrameMap;
using fe::ecm::TPageFrames;

constexpr std::uint8_t kX = 1;  // the caller's commands carry the X bit

std::string PpsFrame(std::uint8_t fcf2, std::uint8_t page, std::uint8_t block, int frames) {
  return HdlcFrame(fe::ecm::fcfPPS | kX, fe::ecm::BuildPpsFif({fcf2, page, block, frames}));
}

// The burst for the frames of `send` (all when empty), DLE-doubled with DLE ETX.
std::string BurstBytes(const TPageFrames& page, std::size_t block, FrameMap send = {}, int bps = 9600) {
  if (send.empty()) send.assign(page.FramesIn(block), true);
  const Bytes bits = fe::ecm::BuildBurst(page, block, send, bps);
  return Stuffed(std::string(bits.begin(), bits.end()));
}

FrameMap Only(std::size_t frames, std::initializer_list<std::size_t> which) {
  FrameMap m(frames, false);
  for (auto n : which) m[n] = true;
  return m;
}

FrameMap AllBut(std::size_t frames, std::initializer_list<std::size_t> which) {
  FrameMap m(frames, true);
  for (auto n : which) m[n] = false;
  return m;
}

// The frame numbers a PPR the computer sent asks for.
std::vector<int> PprFrames(const std::string& block) {
  std::vector<int> out;
  if (block.size() != 3 + 32 || FrameFcf(block) != fe::ecm::fcfPPR) return out;
  for (int i = 0; i < 256; ++i)
    if ((static_cast<std::uint8_t>(block[3 + i / 8]) >> (i % 8)) & 1) out.push_back(i);
  return out;
}

// The FCFs of everything the computer sent after the DIS (CFR, MCF, PPR ...).
std::vector<std::uint8_t> Responses(const std::vector<std::string>& blocks) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 2; i < blocks.size(); ++i) out.push_back(FrameFcf(blocks[i]) & 0xFE);
  return out;
}

class RecvEcm : public RecvFixture {
 protected:
  // Answer, negotiation with error correction at 9600 (or `bps`), training.
  void Setup(int bps = 9600, bool frame64 = true, fe::t30::Coding coding = fe::t30::Coding::MH) {
    fe::t30::DcsParams p;
    p.bps = bps;
    p.fine = true;
    p.ecm = true;
    p.frame64 = frame64;
    p.coding = coding;
    rx.DesiredECM = true;
    rx.DesiredBPS = 14400;
    Class1Prep("24,48,72,73,74,96,97,98,121,122,145,146");
    Class1Answer();
    Class1CallerFrames("ECM CALLER", p);
    modem.Expect(bps == 14400 ? "AT+FRM=145" : "AT+FRM=96")
        .Reply("CONNECT")
        .Send(Training(1728, 0))
        .Reply("NO CARRIER");
    Response();  // CFR
  }
  void Burst(const std::string& bytes, const std::string& code = "96") {
    modem.Expect("AT+FRM=" + code).Reply("CONNECT").Send(bytes).Reply("NO CARRIER");
  }
  // The modem hears V.21 where the computer listened for a burst.
  void NoBurst(const std::string& code = "96") { modem.Expect("AT+FRM=" + code).Reply("+FCERROR"); }
  void Command(const std::string& frame) { modem.Expect("AT+FRH=3").Reply("CONNECT").Frame(frame).Reply("OK"); }
  void Response() { modem.Expect("AT+FTH=3").Reply("CONNECT").ExpectData().Reply("OK"); }
  void Hangup() {
    Command(HdlcFrame(fe::t30::fcfDCN | kX));
    modem.Answer("ATH");
  }
  void Run() {
    Open();
    ASSERT_EQ(rx.StartReceive(), 0);
    ASSERT_TRUE(rx.WaitDone(30000));
  }
};

// Frames lost in the first burst are asked for with exactly their bits; the
// resent frames complete the block, which gets MCF, and the page decodes to
// what was sent. 64-octet frames.
TEST_F(RecvEcm, MissingFramesAreAskedForAndFillTheBlock) {
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string page = CodedPage(90, 11, &sent);
  const TPageFrames frames(Bytes(page.begin(), page.end()), 64);
  const std::size_t n = frames.FramesIn(0);
  ASSERT_GT(n, 18u);
  Setup();
  Burst(BurstBytes(frames, 0, AllBut(n, {2, 5, 17})));
  Command(PpsFrame(fe::t30::fcfEOP, 0, 0, static_cast<int>(n)));
  Response();  // PPR
  Burst(BurstBytes(frames, 0, Only(n, {2, 5, 17})));
  Command(PpsFrame(fe::t30::fcfEOP, 0, 0, 3));  // the frames of this burst
  Response();                                   // MCF
  Hangup();
  Run();
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_TRUE(rx.Session().ecm);
  const auto blocks = modem.DataBlocks();
  EXPECT_EQ(Responses(blocks), (std::vector<std::uint8_t>{fe::t30::fcfCFR, fe::ecm::fcfPPR, fe::t30::fcfMCF}));
  ASSERT_EQ(blocks.size(), 5u);
  const auto dis = fe::t30::ParseDis({blocks[1].begin() + 3, blocks[1].end()});
  EXPECT_TRUE(dis.ecm && dis.t6 && dis.mr);
  EXPECT_EQ(PprFrames(blocks[3]), (std::vector<int>{2, 5, 17}));
  EXPECT_EQ(DecodePage((dir / "FAX0001.APF").string(), 1), sent);
}

// A PPS for the block just confirmed (the caller missed our MCF) is confirmed
// again and the page is not stored twice; our own MCF heard back is listened
// past. Two pages with MPS between them.
TEST_F(RecvEcm, LostConfirmationAndEchoes) {
  std::vector<std::vector<std::uint8_t>> sent1, sent2;
  const std::string p1 = CodedPage(20, 21, &sent1), p2 = CodedPage(25, 22, &sent2);
  const TPageFrames f1(Bytes(p1.begin(), p1.end()), 256), f2(Bytes(p2.begin(), p2.end()), 256);
  Setup(9600, false);
  Burst(BurstBytes(f1, 0));
  Command(PpsFrame(fe::t30::fcfMPS, 0, 0, static_cast<int>(f1.FramesIn(0))));
  Response();                           // MCF
  NoBurst();                            // the caller repeats its PPS instead
  Command(HdlcFrame(fe::t30::fcfMCF));  // an echo of our MCF
  Command(PpsFrame(fe::t30::fcfMPS, 0, 0, static_cast<int>(f1.FramesIn(0))));
  Response();  // MCF again
  Burst(BurstBytes(f2, 0));
  Command(PpsFrame(fe::t30::fcfEOP, 1, 0, static_cast<int>(f2.FramesIn(0))));
  Response();                                                                  // MCF
  Command(PpsFrame(fe::t30::fcfEOP, 1, 0, static_cast<int>(f2.FramesIn(0))));  // lost once more
  Response();                                                                  // MCF
  Hangup();
  Run();
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_EQ(Responses(modem.DataBlocks()), (std::vector<std::uint8_t>{fe::t30::fcfCFR, fe::t30::fcfMCF, fe::t30::fcfMCF,
                                                                      fe::t30::fcfMCF, fe::t30::fcfMCF}));
  const std::string file = (dir / "FAX0001.APF").string();
  fe::TApfReader r;
  ASSERT_EQ(r.Open(file), 0);
  EXPECT_EQ(r.PageCount(), 2u);
  EXPECT_EQ(DecodePage(file, 1), sent1);
  EXPECT_EQ(DecodePage(file, 2), sent2);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
}

// CTC after a PPR: CTR, then the burst at the new speed with long training
// (V.17 14400 -> 12000: "AT+FRM=146" before, "AT+FRM=121" after).
TEST_F(RecvEcm, SpeedChangeGetsCtrAndLongTraining) {
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string page = CodedPage(40, 31, &sent);
  const TPageFrames frames(Bytes(page.begin(), page.end()), 64);
  const std::size_t n = frames.FramesIn(0);
  Setup(14400);
  Burst(BurstBytes(frames, 0, AllBut(n, {0, 3}), 14400), "146");
  Command(PpsFrame(fe::t30::fcfEOP, 0, 0, static_cast<int>(n)));
  Response();  // PPR
  NoBurst("146");
  Command(HdlcFrame(fe::ecm::fcfCTC | kX, fe::ecm::BuildCtcFif(12000)));
  Response();  // CTR
  Burst(BurstBytes(frames, 0, Only(n, {0, 3}), 12000), "121");
  Command(PpsFrame(fe::t30::fcfEOP, 0, 0, 2));
  Response();  // MCF
  Hangup();
  Run();
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_EQ(rx.Session().bps, 12000);
  EXPECT_EQ(Responses(modem.DataBlocks()),
            (std::vector<std::uint8_t>{fe::t30::fcfCFR, fe::ecm::fcfPPR, fe::ecm::fcfCTR, fe::t30::fcfMCF}));
  EXPECT_EQ(DecodePage((dir / "FAX0001.APF").string(), 1), sent);
}

// EOR after a PPR: ERR, and an MH page keeps the frames that arrived (the
// lines before the hole are intact, the page is stored).
TEST_F(RecvEcm, EorKeepsWhatArrived) {
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string page = CodedPage(60, 41, &sent);
  const TPageFrames frames(Bytes(page.begin(), page.end()), 64);
  const std::size_t n = frames.FramesIn(0);
  Setup();
  Burst(BurstBytes(frames, 0, AllBut(n, {n / 2})));
  Command(PpsFrame(fe::t30::fcfEOP, 0, 0, static_cast<int>(n)));
  Response();  // PPR
  NoBurst();
  Command(HdlcFrame(fe::ecm::fcfEOR | kX, {fe::t30::fcfEOP | kX}));
  Response();  // ERR
  Hangup();
  Run();
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_EQ(Responses(modem.DataBlocks()),
            (std::vector<std::uint8_t>{fe::t30::fcfCFR, fe::ecm::fcfPPR, fe::ecm::fcfERR}));
  const auto got = DecodePage((dir / "FAX0001.APF").string(), 1);
  ASSERT_GE(got.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(got[i], sent[i]) << "line " << i;
}

// EOR for a block with one frame missing, once per coding. The page is kept
// and noted as damaged (data lost). An MMR page keeps exactly the lines before
// the hole: every line after it depends on the lost one. MH and MR pages
// resume at the next end of line (MR: at the next one-dimensional line) and
// keep the rest of the page as it was sent.
class RecvEcmEor : public RecvEcm {
 protected:
  struct Outcome {
    std::vector<std::vector<std::uint8_t>> sent, got;
    std::size_t before = 0;  // lines that end before the hole
    std::size_t after = 0;   // the first line that can be read again after it
    fe::TMhDecodeStats stored;
    std::vector<fe::TPageDamage> damage;
  };
  Outcome Run(fe::t30::Coding coding, int lines, unsigned seed) {
    Outcome o;
    const std::string mh = CodedPage(lines, seed, &o.sent);
    std::vector<std::uint8_t> raster;
    for (const auto& l : o.sent) raster.insert(raster.end(), l.begin(), l.end());
    // Where each line starts: exact for MH, for MR and MMR from the length of
    // the first y lines coded (their end mark included: up to 10 bytes more).
    std::vector<std::size_t> lo(lines + 1), hi(lines + 1);
    Bytes page;
    if (coding == fe::t30::Coding::MH) {
      page.assign(mh.begin(), mh.end());
      std::vector<std::uint8_t> coded(fe::kMaxCodedLine);
      for (int y = 0; y < lines; ++y)
        lo[y + 1] = hi[y + 1] = hi[y] + fe::MhEncodeLine(o.sent[y].data(), 1728, 1728, false, coded.data());
    } else {
      page = fe::EncodePage2d(coding, raster.data(), lines, 1728);
      for (int y = 1; y <= lines; ++y) {
        hi[y] = fe::EncodePage2d(coding, raster.data(), y, 1728).size();
        lo[y] = hi[y] > 10 ? hi[y] - 10 : 0;
      }
    }
    const TPageFrames frames(page, 64);
    const std::size_t n = frames.FramesIn(0);
    const std::size_t hole = n / 2, holeStart = hole * 64, holeEnd = holeStart + 64;
    for (int y = 1; y <= lines && hi[y] <= holeStart; ++y) o.before = y;
    o.after = lines;
    for (int y = lines - 1; y > 0 && lo[y] >= holeEnd; --y)
      if (coding != fe::t30::Coding::MR || y % 4 == 0) o.after = y;
    rx.OnFaxLog = [&](fe::TFeAbstractFax& f, int code) {
      std::lock_guard<std::mutex> lk(ev.mu);
      ev.logs.push_back(code);
      if (code == fe::lfReceiveFinished) o.damage = f.Session().damagedPages;
    };
    Setup(9600, true, coding);
    Burst(BurstBytes(frames, 0, AllBut(n, {hole})));
    Command(PpsFrame(fe::t30::fcfEOP, 0, 0, static_cast<int>(n)));
    Response();  // PPR
    NoBurst();
    Command(HdlcFrame(fe::ecm::fcfEOR | kX, {fe::t30::fcfEOP | kX}));
    Response();  // ERR
    Hangup();
    RecvEcm::Run();
    EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
    EXPECT_EQ(rx.FinalCode(), 0);
    EXPECT_EQ(Responses(modem.DataBlocks()),
              (std::vector<std::uint8_t>{fe::t30::fcfCFR, fe::ecm::fcfPPR, fe::ecm::fcfERR}));
    fe::TApfReader r;
    fe::TApfPageInfo info;
    std::vector<std::uint8_t> data;
    EXPECT_EQ(r.Open((dir / "FAX0001.APF").string()), 0);
    EXPECT_EQ(r.ReadPage(1, &info, &data), 0);
    o.stored = fe::MhDecodePage(data.data(), data.size(), info.lineRecords(), info.widthPixels(),
                                [&](const std::uint8_t* line, unsigned bytes) {
                                  o.got.emplace_back(line, line + bytes);
                                  return true;
                                });
    return o;
  }
  static void ExpectDamageNoted(const Outcome& o) {
    ASSERT_EQ(o.damage.size(), 1u);
    EXPECT_EQ(o.damage[0].page, 1);
    EXPECT_TRUE(o.damage[0].incomplete);
  }
  // The lines before the hole and those from `after` on are as sent.
  static void ExpectResumed(const Outcome& o) {
    ASSERT_GT(o.before, 5u);
    ASSERT_GT(o.sent.size() - o.after, 5u);
    ASSERT_GE(o.got.size(), o.before + (o.sent.size() - o.after));
    for (std::size_t y = 0; y < o.before; ++y) EXPECT_EQ(o.got[y], o.sent[y]) << "line " << y;
    const std::size_t tail = o.sent.size() - o.after;
    for (std::size_t i = 0; i < tail; ++i)
      EXPECT_EQ(o.got[o.got.size() - tail + i], o.sent[o.after + i]) << "line " << o.after + i;
  }
};

TEST_F(RecvEcmEor, MmrPageKeepsTheLinesBeforeTheHole) {
  const Outcome o = Run(fe::t30::Coding::MMR, 160, 71);
  ASSERT_GT(o.before, 5u);
  ASSERT_GE(o.got.size(), o.before);
  EXPECT_LE(o.got.size(), o.before + 1) << "a line reaching into the hole is not kept";
  ASSERT_LE(o.got.size(), o.sent.size());
  for (std::size_t y = 0; y < o.got.size(); ++y) EXPECT_EQ(o.got[y], o.sent[y]) << "line " << y;
  EXPECT_TRUE(o.stored.clean());
  ExpectDamageNoted(o);
}

TEST_F(RecvEcmEor, MhPageResumesAfterTheNextEndOfLine) {
  const Outcome o = Run(fe::t30::Coding::MH, 90, 72);
  ExpectResumed(o);
  ExpectDamageNoted(o);
}

TEST_F(RecvEcmEor, MrPageResumesAtTheNextOneDimensionalLine) {
  const Outcome o = Run(fe::t30::Coding::MR, 120, 73);
  ExpectResumed(o);
  ExpectDamageNoted(o);
}

// A block of 256 frames (the PPS names 256) whose burst holds garbage between
// frames, an aborted frame and a frame with a wrong check sequence; then a
// second block of the same page after PPS-NULL. The garbage costs nothing, the
// damaged frame is asked for again.
TEST_F(RecvEcm, FullBlockThroughGarbageAndAborts) {
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string page = CodedPage(1100, 51, &sent);
  ASSERT_GT(page.size(), 256u * 64u);
  const TPageFrames frames(Bytes(page.begin(), page.end()), 64);
  ASSERT_EQ(frames.Blocks(), 2u);
  ASSERT_EQ(frames.FramesIn(0), 256u);
  Bytes bits;
  fe::hdlc::TFramer fr;
  fr.Flags(40);
  for (std::size_t i = 0; i < 256; ++i) {
    Bytes f = {0xFF, 0x03, fe::ecm::fcfFCD, static_cast<std::uint8_t>(i)};
    const Bytes d = frames.FrameData(0, i);
    f.insert(f.end(), d.begin(), d.end());
    fr.Frame(f);
    fr.Flags(1);
    if (i == 99 || i == 100) {
      Bytes part = fr.Take();
      if (i == 100) part[part.size() / 2] ^= 0x10;  // damaged on the line: its check sequence fails
      bits.insert(bits.end(), part.begin(), part.end());
      fr.Flags(1);
    }
  }
  const Bytes rest = fr.Take();
  bits.insert(bits.end(), rest.begin(), rest.end());
  // Garbage then an aborted frame (a flag, some data, seven 1s) at the start.
  const Bytes noise = {0x13, 0x99, 0xFE, 0x7E, 0x55, 0x66, 0xFF, 0xFF, 0x7E, 0x7E};
  bits.insert(bits.begin(), noise.begin(), noise.end());
  fe::hdlc::TFramer tail;
  for (int i = 0; i < 3; ++i) {
    tail.Frame(Bytes{0xFF, 0x03, fe::ecm::fcfRCP});
    tail.Flags(1);
  }
  const Bytes rcp = tail.Take();
  bits.insert(bits.end(), rcp.begin(), rcp.end());
  const Bytes trailing(30, 0xA5);  // noise after the carrier's last flag
  bits.insert(bits.end(), trailing.begin(), trailing.end());

  Setup();
  Burst(Stuffed(std::string(bits.begin(), bits.end())));
  Command(PpsFrame(0, 0, 0, 256));
  Response();  // PPR for frame 100
  Burst(BurstBytes(frames, 0, Only(256, {100})));
  Command(PpsFrame(0, 0, 0, 1));
  Response();  // MCF
  Burst(BurstBytes(frames, 1));
  Command(PpsFrame(fe::t30::fcfEOP, 0, 1, static_cast<int>(frames.FramesIn(1))));
  Response();  // MCF
  Hangup();
  Run();
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  EXPECT_EQ(rx.FinalCode(), 0);
  const auto blocks = modem.DataBlocks();
  EXPECT_EQ(Responses(blocks),
            (std::vector<std::uint8_t>{fe::t30::fcfCFR, fe::ecm::fcfPPR, fe::t30::fcfMCF, fe::t30::fcfMCF}));
  ASSERT_GE(blocks.size(), 4u);
  EXPECT_EQ(PprFrames(blocks[3]), std::vector<int>{100});
  EXPECT_EQ(DecodePage((dir / "FAX0001.APF").string(), 1), sent);
}

// Commands that make no sense end the call with DCN and error 8069; nothing
// is read outside the frames.
struct BadCommand {
  const char* name;
  std::string frame;
};

void PrintTo(const BadCommand& c, std::ostream* os) {
  *os << c.name;
}

class RecvEcmBad : public RecvEcm, public ::testing::WithParamInterface<BadCommand> {};

TEST_P(RecvEcmBad, EndsTheCallWithDcn) {
  const std::string page = CodedPage(10, 61);
  const TPageFrames frames(Bytes(page.begin(), page.end()), 64);
  rx.ExitOnError = true;
  Setup();
  Burst(BurstBytes(frames, 0));
  Command(GetParam().frame);
  Response();  // DCN
  Run();
  EXPECT_EQ(rx.FinalCode(), fe::ecFaxSessionError);
  const auto blocks = modem.DataBlocks();
  ASSERT_GE(blocks.size(), 4u);
  EXPECT_EQ(FrameFcf(blocks[3]) & 0xFE, fe::t30::fcfDCN);
}

INSTANTIATE_TEST_SUITE_P(
    Scripted, RecvEcmBad,
    ::testing::Values(BadCommand{"PpsWithUnknownPostPageCommand", HdlcFrame(fe::ecm::fcfPPS | kX, {0x44, 0, 0, 0})},
                      BadCommand{"PpsTooShort", HdlcFrame(fe::ecm::fcfPPS | kX, {0x2F, 0})},
                      BadCommand{"PpsForAnotherBlock", PpsFrame(fe::t30::fcfEOP, 0, 7, 1)},
                      BadCommand{"EorWithoutField", HdlcFrame(fe::ecm::fcfEOR | kX)},
                      BadCommand{"CtcWithUnknownSpeed", HdlcFrame(fe::ecm::fcfCTC | kX, {0x00, 0x3C})}),
    [](const ::testing::TestParamInfo<BadCommand>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace recvtest
