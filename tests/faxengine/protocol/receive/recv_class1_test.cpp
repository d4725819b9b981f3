// The receiver against a scripted Class 1 modem: exact T.30 dialogues, the
// training check, page data in pieces, refusal and calls that go wrong.
#include <sys/resource.h>

#include <atomic>
#include <csignal>

#include "fe_errors.h"
#include "recv_fixture.h"
#include "t30.h"

namespace recvtest {
namespace {

using fe::t30::fcfCFR;
using fe::t30::fcfFTT;

using RecvClass1 = RecvFixture;

// Answers on the third ring, offers fine resolution and speeds up to 9600,
// stores a page that arrives in pieces with DLE pairs cut apart, and writes the
// remote id, the page count and the log codes.
TEST_F(RecvClass1, OnePageOnTheThirdRing) {
  rx.AnswerOnRing = 3;
  std::vector<std::vector<std::uint8_t>> sent;
  std::string page = CodedPage(60, 3, &sent);
  ASSERT_NE(page.find('\x10'), std::string::npos) << "the page must hold DLE bytes";
  const std::string stuffed = Stuffed(page);
  const std::size_t dle = stuffed.find("\x10\x10");
  std::atomic<bool> earlyAnswer{false};
  Class1Prep("24,48,72,73,74,96,97,98,121,122,145,146");
  modem.Ring(2, 100ms).Pause(600ms).Call([&](qnsim::ScriptedModem& m) {
    if (m.Received().find("ATA") != std::string::npos) earlyAnswer = true;
  });
  Class1Answer(1);
  Class1CallerFrames("+1 555 0100");
  modem.Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(Training(1728, 0))
      .Reply("NO CARRIER")
      .Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()  // CFR
      .Reply("OK")
      .Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(stuffed.substr(0, dle + 1))  // the first DLE of a pair ends one piece
      .Pause(80ms)
      .Trickle(stuffed.substr(dle + 1, 40), 5ms)
      .Send(stuffed.substr(dle + 41, stuffed.size() - dle - 42))
      .Pause(80ms)
      .Send(stuffed.substr(stuffed.size() - 1))  // the ETX alone
      .Reply("NO CARRIER")
      .Expect("AT+FRH=3")
      .Reply("CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfEOP | 1))
      .Reply("OK")
      .Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()  // MCF
      .Reply("OK")
      .Expect("AT+FRH=3")
      .Reply("CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfDCN | 1))
      .Reply("OK")
      .Answer("ATH");
  rx.DesiredBPS = 9600;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  EXPECT_FALSE(earlyAnswer) << "answered before the third ring";
  EXPECT_EQ(rx.FinalCode(), 0);

  const auto blocks = modem.DataBlocks();
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(FrameFcf(blocks[0]), fe::t30::fcfCSI);
  EXPECT_EQ(fe::t30::DecodeId({blocks[0].begin() + 3, blocks[0].end()}), "QUILLON RX");
  ASSERT_EQ(FrameFcf(blocks[1]), fe::t30::fcfDIS);
  EXPECT_EQ(static_cast<std::uint8_t>(blocks[1][1]), 0x13) << "DIS is the final frame";
  const auto dis = fe::t30::ParseDis({blocks[1].begin() + 3, blocks[1].end()});
  EXPECT_TRUE(dis.receiver);
  EXPECT_TRUE(dis.fine);
  EXPECT_FALSE(dis.wide);
  EXPECT_TRUE(dis.v29);
  EXPECT_FALSE(dis.v17) << "V.17 offered above DesiredBPS";
  EXPECT_FALSE(dis.ecm);
  EXPECT_EQ(FrameFcf(blocks[2]) & 0xFE, fcfCFR);
  EXPECT_EQ(FrameFcf(blocks[3]) & 0xFE, fe::t30::fcfMCF);

  ASSERT_EQ(Files(), std::vector<std::string>{"FAX0001.APF"});
  const std::string file = (dir / "FAX0001.APF").string();
  fe::TApfReader r;
  ASSERT_EQ(r.Open(file), 0);
  EXPECT_EQ(r.PageCount(), 1u);
  EXPECT_EQ(r.Header().stationId, "+1 555 0100         ");
  fe::TApfPageInfo info;
  std::vector<std::uint8_t> data;
  ASSERT_EQ(r.ReadPage(1, &info, &data), 0);
  EXPECT_EQ(info.flags(), fe::pfHighRes);
  EXPECT_EQ(std::string(data.begin(), data.end()), page) << "page data must be stored exactly, DLE pairs as one";
  EXPECT_EQ(DecodePage(file, 1), sent);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
  const auto st = ev.Statuses();
  for (int s : {20, 22, 41, 40, 24, 25, 26, 27}) EXPECT_TRUE(Contains(st, s)) << "status " << s;
  EXPECT_TRUE(ev.Errors().empty());
  // Without ConstantStatus the display is closed while waiting and opened by the call.
  EXPECT_EQ(ev.Flagged(), (std::vector<std::string>{"20L", "22F", "43L"}));
}

// A training check with 10 % non-zero bytes gets FTT, one with 99 of 1000 gets
// CFR; a second page after MPS is received without negotiating again.
TEST_F(RecvClass1, TrainingThresholdAndTwoPages) {
  const std::string p1 = CodedPage(20, 5), p2 = CodedPage(25, 6);
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("CALLER", 4800, false);
  modem.Expect("AT+FRM=48")
      .Reply("CONNECT")
      .Send(Training(1000, 100))
      .Reply("NO CARRIER")
      .Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()  // FTT
      .Reply("OK");
  Class1CallerFrames("CALLER", 4800, false);
  modem.Expect("AT+FRM=48")
      .Reply("CONNECT")
      .Send(Training(1000, 99))
      .Reply("NO CARRIER")
      .Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()  // CFR
      .Reply("OK");
  for (int n = 0; n < 2; ++n) {
    modem.Expect("AT+FRM=48")
        .Reply("CONNECT")
        .Send(Stuffed(n == 0 ? p1 : p2))
        .Reply("NO CARRIER")
        .Expect("AT+FRH=3")
        .Reply("CONNECT")
        .Frame(HdlcFrame((n == 0 ? fe::t30::fcfMPS : fe::t30::fcfEOP) | 1))
        .Reply("OK")
        .Expect("AT+FTH=3")
        .Reply("CONNECT")
        .ExpectData()  // MCF
        .Reply("OK");
  }
  modem.Expect("AT+FRH=3").Reply("NO CARRIER").Answer("ATH");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  const auto blocks = modem.DataBlocks();
  ASSERT_GE(blocks.size(), 4u);
  EXPECT_EQ(FrameFcf(blocks[2]) & 0xFE, fcfFTT);
  EXPECT_EQ(FrameFcf(blocks[3]) & 0xFE, fcfCFR);
  fe::TApfReader r;
  ASSERT_EQ(r.Open((dir / "FAX0001.APF").string()), 0);
  ASSERT_EQ(r.PageCount(), 2u);
  fe::TApfPageInfo info;
  std::vector<std::uint8_t> data;
  ASSERT_EQ(r.ReadPage(2, &info, &data), 0);
  EXPECT_EQ(info.flags(), 0) << "standard resolution, normal width, raw stream";
  EXPECT_EQ(std::string(data.begin(), data.end()), p2);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
}

// A call the application refuses leaves no file, logs "skipped", reports 6011,
// tells the caller with DCN and goes back to waiting.
TEST_F(RecvClass1, RefusedCallLeavesNoFile) {
  std::atomic<int> asked{0};
  rx.OnFaxAccept = [&](fe::TFeAbstractFax& f, bool& accept) {
    ++asked;
    accept = f.Session().remoteId != "JUNK FAX";
  };
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("JUNK FAX");
  modem.Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()  // DCN
      .Reply("OK")
      .ExpectPrefix("ATH")
      .Reply("OK")
      .Answer("AT+FCLASS=1");  // back to waiting
  rx.OneFax = false;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  EXPECT_TRUE(modem.WaitDone(20s)) << modem.Report();
  const auto blocks = modem.DataBlocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(FrameFcf(blocks[2]) & 0xFE, fe::t30::fcfDCN);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(ev.Logs(), std::vector<int>{6});
  EXPECT_EQ(ev.Errors(), std::vector<int>{fe::ecFileRejected});
  EXPECT_TRUE(rx.Running()) << "a refused call does not stop the receiver";
}

// The line drops in the middle of page 2: the file holds page 1 and what came of
// page 2, its header true, and log code 7 is written.
TEST_F(RecvClass1, DropMidPageKeepsValidFile) {
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string p1 = CodedPage(30, 9, &sent), p2 = CodedPage(30, 10);
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("DROPPER");
  modem.Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(Training(1728, 0))
      .Reply("NO CARRIER")
      .Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()
      .Reply("OK")
      .Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(Stuffed(p1))
      .Reply("NO CARRIER")
      .Expect("AT+FRH=3")
      .Reply("CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfMPS | 1))
      .Reply("OK")
      .Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()
      .Reply("OK")
      .Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(Stuffed(p2).substr(0, 300))
      .Pause(200ms)
      .HangUp();  // the modem is gone
  rx.ExitOnError = true;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_NE(rx.FinalCode(), 0);
  fe::TApfReader r;
  ASSERT_EQ(r.Open((dir / "FAX0001.APF").string()), 0);
  ASSERT_EQ(r.PageCount(), 2u);
  std::vector<fe::TApfPageInfo> pages;
  ASSERT_EQ(r.ScanPages(&pages), 0);
  EXPECT_FALSE(pages[1].truncated);
  EXPECT_GT(pages[1].header.imageLength, 200u);
  EXPECT_EQ(DecodePage((dir / "FAX0001.APF").string(), 1), sent);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 7}));
}

// The disk fills up while a page arrives: the I/O error is reported with log
// code 7, the file stays readable and nothing crashes.
TEST_F(RecvClass1, FullDisk) {
  std::signal(SIGXFSZ, SIG_IGN);
  const std::string p1 = CodedPage(400, 11);
  ASSERT_GT(p1.size(), 6000u);
  Class1Prep();
  Class1Answer();
  Class1CallerFrames("BIG");
  modem.Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(Training(1728, 0))
      .Reply("NO CARRIER")
      .Expect("AT+FTH=3")
      .Reply("CONNECT")
      .ExpectData()
      .Reply("OK")
      .Expect("AT+FRM=96")
      .Reply("CONNECT")
      .Send(Stuffed(p1))
      .Reply("NO CARRIER")
      .Expect("AT+FRH=3")
      .Reply("CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfEOP | 1))
      .Reply("OK");
  rx.ExitOnError = true;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4000;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool done = rx.WaitDone(30000);
  setrlimit(RLIMIT_FSIZE, &old);
  ASSERT_TRUE(done);
  EXPECT_EQ(rx.FinalCode(), fe::ecDiskFull);
  EXPECT_EQ(ev.Errors(), std::vector<int>{fe::ecDiskFull});
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 7}));
  EXPECT_EQ(fe::ValidateApfFile((dir / "FAX0001.APF").string()), 0);
}

// Waiting: NO CARRIER before answering is status 21, a data call 8066, a voice
// call 8065; each goes back to waiting.
TEST_F(RecvClass1, WaitingOutcomes) {
  Class1Prep();
  modem.Ring(1)
      .Reply("NO CARRIER")
      .Reply("CONNECT")
      .ExpectPrefix("+++")  // hang-up: escape, then ATH0 on the same line
      .Reply("OK")
      .Answer("AT+FCLASS=1")
      .Reply("VOICE")
      .ExpectPrefix("+++")
      .Reply("OK")
      .Answer("AT+FCLASS=1");
  rx.AnswerOnRing = 2;
  rx.OneFax = false;
  rx.ConstantStatus = true;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  EXPECT_TRUE(modem.WaitDone(20s)) << modem.Report();
  EXPECT_TRUE(Contains(ev.Statuses(), fe::fsNoConnect));
  EXPECT_EQ(ev.Errors(), (std::vector<int>{fe::ecFaxDataCall, fe::ecFaxVoiceCall}));
  EXPECT_TRUE(ev.Logs().empty());
  rx.Cancel();
  ASSERT_TRUE(rx.WaitDone(5000));
  EXPECT_EQ(rx.FinalCode(), fe::ecCancelRequested);
  // ConstantStatus: shown from the first wait to the end of the run.
  EXPECT_EQ(ev.Flagged(), (std::vector<std::string>{"20F", "42L"}));
}

// A modem that stops answering: during preparation StartReceive fails with 8061;
// in a call the receiver gives up with 6006 and a valid state.
TEST_F(RecvClass1, ModemStopsAnswering) {
  modem.Answer("ATE0Q0V1X4S0=0S2=43").Expect("AT+FCLASS=1");  // and then silence
  Open();
  EXPECT_EQ(rx.StartReceive(), -fe::ecFaxBadModemResult);
  EXPECT_FALSE(rx.Running());
}

TEST_F(RecvClass1, CallerGoesSilentAfterAnswer) {
  Class1Prep();
  modem.Ring(1).Expect("ATA").Reply("CONNECT").ExpectData().Pause(12s);
  rx.ExitOnError = true;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_EQ(rx.FinalCode(), fe::ecTimeout);
  EXPECT_TRUE(Files().empty());
}

}  // namespace
}  // namespace recvtest
