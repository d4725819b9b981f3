// The receiver's answers after a page without error correction: copy quality
// (MCF, RTP, RTN), post-page commands the caller repeats because it missed
// our answer, calls that end before a file exists and pages that never end.
#include "fe_errors.h"
#include "recv_fixture.h"
#include "rx_quality.h"
#include "t30.h"

namespace recvtest {
namespace {

using fe::t30::fcfCFR;
using fe::t30::fcfMCF;
using fe::t30::fcfRTN;
using fe::t30::fcfRTP;

constexpr std::uint8_t kX = 1;

// The FCFs of everything the computer sent after the DIS.
std::vector<std::uint8_t> Responses(const std::vector<std::string>& blocks) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 2; i < blocks.size(); ++i) out.push_back(FrameFcf(blocks[i]) & 0xFE);
  return out;
}

TEST(RecvCopyQuality, MeasuredLinesAndTheRuleOfThumb) {
  std::vector<std::vector<std::uint8_t>> good;
  const std::string page = CodedPageWithBadLines(100, 7, {10, 11, 12, 50}, &good);
  const auto* data = reinterpret_cast<const std::uint8_t*>(page.data());
  const fe::TPageQuality q = fe::MeasurePage(data, page.size(), fe::TFaxCoding::MH, 1728);
  EXPECT_EQ(q.lines, 100u);
  EXPECT_EQ(q.badLines, 4u);
  EXPECT_EQ(q.worstRun, 3u);
  EXPECT_TRUE(q.ended);
  EXPECT_EQ(good.size(), 96u);
  // The page without its RTC has not ended.
  EXPECT_FALSE(fe::MeasurePage(data, page.size() - 12, fe::TFaxCoding::MH, 1728).ended);

  const fe::TCopyQualityLimits limits;  // RTP for any bad line, RTN above 10 % or 16 in a row
  // 200 lines: a run of bad lines from line 5, single bad lines from line 100 on.
  auto judge = [&](unsigned run, unsigned singles, const fe::TCopyQualityLimits& l) {
    fe::TPageQuality p;
    for (unsigned i = 0; i < 200; ++i)
      p.Line((i >= 5 && i < 5 + run) || (i >= 100 && i < 100 + 2 * singles && (i - 100) % 2 == 0));
    return fe::JudgeCopy(p, l);
  };
  EXPECT_EQ(judge(0, 0, limits), fe::TCopyQuality::Good);
  EXPECT_EQ(judge(0, 1, limits), fe::TCopyQuality::Fair);
  EXPECT_EQ(judge(16, 0, limits), fe::TCopyQuality::Fair) << "16 in a row is not more than 16";
  EXPECT_EQ(judge(17, 0, limits), fe::TCopyQuality::Poor);
  EXPECT_EQ(judge(0, 20, limits), fe::TCopyQuality::Fair) << "20 of 200 lines is 10 %";
  EXPECT_EQ(judge(0, 21, limits), fe::TCopyQuality::Poor);
  fe::TCopyQualityLimits lenient;
  lenient.rtpBadPercent = 2;
  EXPECT_EQ(judge(0, 4, lenient), fe::TCopyQuality::Good) << "4 of 200 lines is 2 %";
  EXPECT_EQ(judge(0, 5, lenient), fe::TCopyQuality::Fair);
  EXPECT_EQ(fe::DamageText(34, false), "34 bad lines");
  EXPECT_EQ(fe::DamageText(1, true), "1 bad line, incomplete");
  EXPECT_EQ(fe::DamageText(0, true), "incomplete");
}

class RecvPostPage : public RecvFixture {
 protected:
  void Command(const std::string& frame) { modem.Expect("AT+FRH=3").Reply("CONNECT").Frame(frame).Reply("OK"); }
  void Response() { modem.Expect("AT+FTH=3").Reply("CONNECT").ExpectData().Reply("OK"); }
  // Training check at 9600, then CFR.
  void Train() {
    modem.Expect("AT+FRM=96").Reply("CONNECT").Send(Training(1728, 0)).Reply("NO CARRIER");
    Response();
  }
  // A page, the caller's post-page command and our answer to it.
  void Page(const std::string& page, std::uint8_t postPage) {
    modem.Expect("AT+FRM=96").Reply("CONNECT").Send(Stuffed(page)).Reply("NO CARRIER");
    Command(HdlcFrame(postPage | kX));
    Response();
  }
  void Hangup() {
    Command(HdlcFrame(fe::t30::fcfDCN | kX));
    modem.Answer("ATH");
  }
  // The caller's DCN where we wait for more: the call fails and we hang up.
  void CallerLeaves() {
    Command(HdlcFrame(fe::t30::fcfDCN | kX));
    modem.ExpectPrefix("+++").Reply("OK");
  }
  void Run() {
    Open();
    ASSERT_EQ(rx.StartReceive(), 0);
    ASSERT_TRUE(rx.WaitDone(30000));
    EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  }
  std::string File() const { return (dir / "FAX0001.APF").string(); }
};

// Our MCF after MPS is lost: the caller sends MPS again where we listened for
// the page. It gets MCF again (no CSI and DIS, no new negotiation), page 1 is
// not stored twice and page 2 follows.
TEST_F(RecvPostPage, LostMcfAfterMpsIsAnsweredAgain) {
  std::vector<std::vector<std::uint8_t>> sent1, sent2;
  const std::string p1 = CodedPage(30, 21, &sent1), p2 = CodedPage(40, 22, &sent2);
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("LOST MCF");
  Train();
  Page(p1, fe::t30::fcfMPS);
  modem.Expect("AT+FRM=96").Reply("+FCERROR");  // V.21: MPS again
  Command(HdlcFrame(fe::t30::fcfMPS | kX));
  Response();  // MCF again
  Page(p2, fe::t30::fcfEOP);
  Hangup();
  Run();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_EQ(Responses(modem.DataBlocks()), (std::vector<std::uint8_t>{fcfCFR, fcfMCF, fcfMCF, fcfMCF}));
  fe::TApfReader r;
  ASSERT_EQ(r.Open(File()), 0);
  EXPECT_EQ(r.PageCount(), 2u);
  EXPECT_EQ(DecodePage(File(), 1), sent1);
  EXPECT_EQ(DecodePage(File(), 2), sent2);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
}

// Our MCF after EOP is lost twice: each repeated EOP gets MCF again, then the
// caller's DCN ends the call; the fax is stored once.
TEST_F(RecvPostPage, RepeatedEopGetsMcfAgain) {
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string p1 = CodedPage(30, 23, &sent);
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("LOST MCF");
  Train();
  Page(p1, fe::t30::fcfEOP);
  for (int i = 0; i < 2; ++i) {
    Command(HdlcFrame(fe::t30::fcfEOP | kX));
    Response();
  }
  Hangup();
  Run();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_EQ(Responses(modem.DataBlocks()), (std::vector<std::uint8_t>{fcfCFR, fcfMCF, fcfMCF, fcfMCF}));
  EXPECT_EQ(DecodePage(File(), 1), sent);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
  EXPECT_EQ(rx.FaxesReceived(), 1);
}

// A call accepted at its DCS that ends before CFR (FTT, then the caller's DCN)
// has no file, but still ends with log code 7: whoever showed "receiving"
// learns that the call is over.
TEST_F(RecvPostPage, AcceptedCallEndingBeforeCfrIsReported) {
  std::atomic<int> asked{0};
  rx.OnFaxAccept = [&](fe::TFeAbstractFax&, bool& accept) {
    ++asked;
    accept = true;
  };
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("GIVES UP");
  modem.Expect("AT+FRM=96").Reply("CONNECT").Send(Training(1000, 500)).Reply("NO CARRIER");
  Response();  // FTT
  CallerLeaves();
  rx.ExitOnError = true;
  Run();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(rx.FinalCode(), fe::ecCancelRequested);
  EXPECT_EQ(Responses(modem.DataBlocks()), (std::vector<std::uint8_t>{fe::t30::fcfFTT}));
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(ev.Logs(), std::vector<int>{7});
  EXPECT_EQ(ev.Errors(), std::vector<int>{fe::ecCancelRequested});
}

// Page 1 with a few bad lines gets RTP and is kept (noted as damaged); page 2
// with a quarter of its lines bad gets RTN and is dropped; the caller trains
// again and sends page 2 again, clean, which gets MCF.
TEST_F(RecvPostPage, RtpKeepsRtnDropsThePageThatComesAgain) {
  std::vector<std::vector<std::uint8_t>> good1, sent2;
  const std::string p1 = CodedPageWithBadLines(100, 31, {20, 60, 61}, &good1);
  std::vector<int> many;
  for (int y = 10; y < 35; ++y) many.push_back(y);
  const std::string p2bad = CodedPageWithBadLines(100, 32, many);
  const std::string p2 = CodedPage(100, 32, &sent2);
  std::vector<fe::TPageDamage> damage;
  rx.OnFaxLog = [&](fe::TFeAbstractFax& f, int code) {
    std::lock_guard<std::mutex> lk(ev.mu);
    ev.logs.push_back(code);
    if (code == fe::lfReceiveFinished) damage = f.Session().damagedPages;
  };
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("NOISY LINE");
  Train();
  Page(p1, fe::t30::fcfMPS);  // RTP
  Class1CallerFrames("NOISY LINE");
  Train();
  Page(p2bad, fe::t30::fcfEOP);  // RTN
  Class1CallerFrames("NOISY LINE");
  Train();
  Page(p2, fe::t30::fcfEOP);  // MCF
  Hangup();
  Run();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_EQ(Responses(modem.DataBlocks()), (std::vector<std::uint8_t>{fcfCFR, fcfRTP, fcfCFR, fcfRTN, fcfCFR, fcfMCF}));
  fe::TApfReader r;
  ASSERT_EQ(r.Open(File()), 0);
  ASSERT_EQ(r.PageCount(), 2u);
  EXPECT_EQ(DecodePage(File(), 1).size(), 100u) << "the fair page is kept whole";
  EXPECT_EQ(DecodePage(File(), 2), sent2) << "the page that got RTN is replaced by its retransmission";
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_EQ(damage[0].page, 1);
  EXPECT_EQ(damage[0].badLines, 3u);
  EXPECT_FALSE(damage[0].incomplete);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
}

// Stricter limits from the owner: three bad lines in a row are poor. The page
// gets RTN once (MaxRtnPerPage 1); its second copy, poor again, is kept with
// RTP and noted as damaged instead of being asked for until the caller gives up.
TEST_F(RecvPostPage, OwnersLimitsAndAPagePoorTwice) {
  const std::string p1 = CodedPageWithBadLines(100, 33, {40, 41, 42});
  const std::string p1again = CodedPageWithBadLines(100, 33, {70, 71, 72, 73});
  rx.CopyQuality.rtnBadRun = 2;
  rx.MaxRtnPerPage = 1;
  std::vector<fe::TPageDamage> damage;
  rx.OnFaxLog = [&](fe::TFeAbstractFax& f, int code) {
    std::lock_guard<std::mutex> lk(ev.mu);
    ev.logs.push_back(code);
    if (code == fe::lfReceiveFinished) damage = f.Session().damagedPages;
  };
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("STRICT");
  Train();
  Page(p1, fe::t30::fcfEOP);  // RTN
  Class1CallerFrames("STRICT");
  Train();
  Page(p1again, fe::t30::fcfEOP);  // RTP
  Hangup();
  Run();
  EXPECT_EQ(rx.FinalCode(), 0);
  EXPECT_EQ(Responses(modem.DataBlocks()), (std::vector<std::uint8_t>{fcfCFR, fcfRTN, fcfCFR, fcfRTP}));
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_EQ(damage[0].page, 1);
  EXPECT_EQ(damage[0].badLines, 4u) << "the second copy is the one kept";
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
}

// A page whose data never ends (no RTC, the carrier stays) is stopped at the
// page size limit: error 1004, the call ends, the page is kept up to the limit.
TEST_F(RecvPostPage, EndlessPageStopsAtTheLimit) {
  rx.MaxPageBytes = 300000;
  std::string endless;
  const std::string lines = CodedPage(200, 41);
  while (endless.size() < 2 * rx.MaxPageBytes) endless += lines.substr(0, lines.size() - 9);  // no RTC
  std::string stuffed = Stuffed(endless);
  stuffed.resize(stuffed.size() - 2);  // and no DLE ETX
  if (stuffed.back() == '\x10' && stuffed[stuffed.size() - 2] != '\x10') stuffed.pop_back();
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("ENDLESS");
  Train();
  modem.Expect("AT+FRM=96").Reply("CONNECT").Send(stuffed).Pause(3s);
  rx.ExitOnError = true;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_EQ(rx.FinalCode(), fe::ecBufferTooBig);
  EXPECT_EQ(ev.Errors(), std::vector<int>{fe::ecBufferTooBig});
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 7}));
  std::vector<fe::TApfPageInfo> pages;
  fe::TApfReader r;
  ASSERT_EQ(r.Open(File()), 0);
  ASSERT_EQ(r.ScanPages(&pages), 0);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_LE(pages[0].header.imageLength, rx.MaxPageBytes);
  EXPECT_GT(pages[0].header.imageLength, rx.MaxPageBytes / 2);
}

}  // namespace
}  // namespace recvtest
