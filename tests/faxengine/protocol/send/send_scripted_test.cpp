// The send engine against a scripted modem: exact Class 1 and Class 2/2.0
// dialogues, failures on the line and from the modem. Every run must end with
// exactly one finish carrying the right code, and leave the port usable.
#include <gtest/gtest.h>

#include "ecm.h"
#include "fe_errors.h"
#include "hdlc.h"
#include "mh_codec.h"
#include "send_script.h"
#include "t30.h"

namespace fe::test {
namespace {

TEST_F(Class1Send, OnePageWithHeaderLineFramesAndPageData) {
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  modem.Answer("AT");
  Start();
  rig->fax.HeaderLine = "$I page $P of $N $Xdropped end";
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(rig->fax.Session().remoteId, "REMOTE 1");
  EXPECT_EQ(rig->logs, (std::vector<int>{lfTransmitStarted, lfTransmitFinished}));
  EXPECT_EQ(History(), "Transmit " + fax +
                           " to 5551234 started at <T>\r\n"
                           "Transmit to REMOTE 1 finished OK at <T> 0\r\n\r\n");
  EXPECT_TRUE(rig->errors.empty());
  EXPECT_EQ(rig->Count(rig->statuses, fsGotRemoteId), 1);
  EXPECT_EQ(rig->statuses.back(), fsFinished);

  auto blocks = modem.DataBlocks();
  ASSERT_EQ(blocks.size(), 6u);  // TSI, DCS, training, page, EOP, DCN
  std::vector<uint8_t> tsi(blocks[0].begin(), blocks[0].end());
  ASSERT_EQ(tsi.size(), 23u);
  EXPECT_EQ(tsi[2], t30::fcfTSI | t30::kXBit);
  EXPECT_EQ(t30::DecodeId({tsi.begin() + 3, tsi.end()}), "QN TEST");  // upper-cased
  std::vector<uint8_t> dcs(blocks[1].begin(), blocks[1].end());
  ASSERT_EQ(dcs.size(), 6u);
  EXPECT_EQ(dcs[1], t30::kControlFinal);
  EXPECT_EQ(dcs[2], t30::fcfDCS | t30::kXBit);
  auto params = t30::ParseDcs({dcs.begin() + 3, dcs.end()});
  ASSERT_TRUE(params);
  EXPECT_EQ(params->bps, 9600);
  EXPECT_TRUE(params->fine);
  EXPECT_FALSE(params->wide);
  EXPECT_EQ(blocks[2], std::string(1728, '\0'));
  EXPECT_EQ(static_cast<uint8_t>(blocks[4][2]), t30::fcfEOP | t30::kXBit);
  EXPECT_EQ(static_cast<uint8_t>(blocks[5][2]), t30::fcfDCN | t30::kXBit);

  // The page: eight blank lines, the header text (16 rows at fine), then our lines.
  const std::string& page = blocks[3];
  std::vector<std::vector<uint8_t>> lines;
  auto stats = MhDecodePage(reinterpret_cast<const uint8_t*>(page.data()), page.size(), false, 1728,
                            [&](const uint8_t* l, unsigned n) {
                              lines.emplace_back(l, l + n);
                              return true;
                            });
  EXPECT_TRUE(stats.clean());
  EXPECT_TRUE(stats.rtc);
  ASSERT_EQ(lines.size(), 8u + 16u + 30u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), 0), 216) << i;
  size_t ink = 0;
  for (int i = 8; i < 24; ++i) ink += 216 - std::count(lines[i].begin(), lines[i].end(), 0);
  EXPECT_GT(ink, 40u);
  for (unsigned l = 0; l < 30; ++l) EXPECT_EQ(lines[24 + l], TestLine(1728, l, 1)) << "line " << l;
  // Lines are padded to the 20 ms scan-line time at 9600 bit/s: 24 bytes each.
  EXPECT_GE(page.size(), 54u * 24u);
}

TEST_F(Class1Send, FttStepsDownAndPagesUseShortTraining) {
  Class1Prep(modem, "24,48,72,73,74,96,97,98,121,122,145,146");
  Class1Dial(modem, Dis(true));
  Class1TsiDcs(modem);
  Class1Train(modem, "145", t30::fcfFTT);
  Class1TsiDcs(modem);
  Class1Train(modem, "121", t30::fcfCFR);
  Class1Page(modem, "122");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start();
  rig->fax.DesiredBPS = 14400;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  auto blocks = modem.DataBlocks();
  ASSERT_GE(blocks.size(), 6u);
  auto first = t30::ParseDcs({blocks[1].begin() + 3, blocks[1].end()});
  auto second = t30::ParseDcs({blocks[4].begin() + 3, blocks[4].end()});
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->bps, 14400);
  EXPECT_EQ(second->bps, 12000);
  EXPECT_EQ(blocks[2].size(), 2592u);  // training check at 14400
  EXPECT_EQ(blocks[5].size(), 2160u);  // and at 12000
  EXPECT_EQ(rig->fax.Session().bps, 12000);
}

TEST_F(Class1Send, UnansweredTrainingIsRepeatedThenStepsDown) {
  // Neither CFR nor FTT at 14400, three times: then 12000 as after FTT.
  Class1Prep(modem, "24,48,72,73,74,96,97,98,121,122,145,146");
  Class1Dial(modem, Dis(true));
  for (int i = 0; i < 3; ++i) {
    Class1TsiDcs(modem);
    modem.Answer("AT+FTM=145", "CONNECT").ExpectData().Reply("OK");
    modem.Answer("AT+FRH=3", "NO CARRIER");
  }
  Class1TsiDcs(modem);
  Class1Train(modem, "121", t30::fcfCFR);
  Class1Page(modem, "122");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start();
  rig->fax.DesiredBPS = 14400;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(rig->fax.Session().bps, 12000);
}

TEST_F(Class1Send, TrainingUnansweredAtEverySpeedIsATrainingFailure) {
  Class1Prep(modem, "24,48");
  Class1Dial(modem, Dis());
  for (const char* code : {"48", "24"}) {
    for (int i = 0; i < 3; ++i) {
      Class1TsiDcs(modem);
      modem.Answer(std::string("AT+FTM=") + code, "CONNECT").ExpectData().Reply("OK");
      modem.Answer("AT+FRH=3", "NO CARRIER");
    }
  }
  HangUpThenAt(modem);
  Start();
  EXPECT_EQ(rig->Run(90s), std::vector<int>{ecFaxTrainError});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
}

TEST_F(Class1Send, RtnFailsMidSession) {
  // The third RTN for one page: no more tries.
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  for (int i = 0; i < 3; ++i) {
    Class1TsiDcs(modem);
    Class1Train(modem, "96", t30::fcfCFR);
    Class1Page(modem, "96");
    Class1PostPage(modem, t30::fcfRTN);
  }
  HangUpThenAt(modem);
  Start();
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecFaxSessionError});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  EXPECT_EQ(rig->errors, std::vector<int>{ecFaxSessionError});
  EXPECT_EQ(rig->logs, (std::vector<int>{lfTransmitStarted, lfTransmitFailed}));
  EXPECT_EQ(rig->Count(rig->statuses, fsPageError), 3);
  EXPECT_EQ(modem.DataBlocks().size(), 15u);  // three times TSI DCS training page EOP
}

TEST_F(Class1Send, ErrorAfterPostPageFrameSendsItAgainAndMpsBetweenPages) {
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);  // MPS: the next page follows at once
  Class1Page(modem, "96");
  modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK").Answer("AT+FRH=3", "ERROR");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start({pfHighRes, pfHighRes}, 10);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  auto blocks = modem.DataBlocks();
  ASSERT_EQ(blocks.size(), 9u);  // TSI DCS training page MPS page EOP EOP DCN
  EXPECT_EQ(static_cast<uint8_t>(blocks[4][2]), t30::fcfMPS | t30::kXBit);
  EXPECT_EQ(static_cast<uint8_t>(blocks[6][2]), t30::fcfEOP | t30::kXBit);
  EXPECT_EQ(static_cast<uint8_t>(blocks[7][2]), t30::fcfEOP | t30::kXBit);  // sent again after ERROR
}

TEST_F(Class1Send, WidePageToNarrowRemoteIs8060BeforeAnyPage) {
  Class1Prep(modem);
  Class1Dial(modem, Dis(false, true, false));
  HangUpThenAt(modem);
  Start({pfHighRes | pfWide});
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxBadMachine});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  EXPECT_TRUE(modem.DataBlocks().empty());
}

TEST_F(Class1Send, GarbledFrameIsListenedForAgain) {
  Class1Prep(modem);
  modem.Expect("ATDT5551234").Reply("CONNECT").Garbage(40).Send("\x10\x03").Reply("ERROR");
  modem.Answer("AT+FRH=3", "CONNECT").Frame(Dis()).Reply("OK");
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start({0}, 5);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
}

TEST_F(Class1Send, ModemVanishingMidPage) {
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  modem.Answer("AT+FTM=96", "CONNECT").ExpectBytes(200).HangUp();
  Start({pfHighRes}, 400);
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxSessionError});
  EXPECT_EQ(rig->errors, std::vector<int>{ecFaxSessionError});
  EXPECT_EQ(rig->logs.back(), lfTransmitFailed);
}

TEST_F(Class1Send, BusyThreeTimesWithThreeAttempts) {
  Class1Prep(modem);
  for (int i = 0; i < 3; ++i) modem.Expect("ATDT5551234").Reply("BUSY");
  modem.Answer("AT");
  Start();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxBusy});
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_GE(took, 2s);  // two waits of DialRetryWait between three dials
  EXPECT_EQ(rig->Count(rig->statuses, fsBusyWaitRedial), 2);
  EXPECT_EQ(rig->fax.DialAttempt(), 3);
  EXPECT_EQ(rig->errors, std::vector<int>{ecFaxBusy});
  // The failure line names the error of this fax.
  EXPECT_EQ(History(), "Transmit " + fax +
                           " to 5551234 started at <T>\r\n"
                           "Transmit failed at <T>\r\n  (Called fax number was busy) 0\r\n\r\n");
}

TEST_F(Class1Send, UnlimitedAttemptsRedialPastThree) {
  Class1Prep(modem);
  for (int i = 0; i < 4; ++i) modem.Expect("ATDT5551234").Reply(i % 2 ? "NO ANSWER" : "BUSY");
  modem.Expect("ATDT5551234").Reply("NO DIALTONE");
  HangUpThenAt(modem);
  Start();
  rig->fax.DialAttempts = 0;
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxNoDialTone});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(rig->fax.DialAttempt(), 5);
}

struct DialOutcome {
  const char* reply;
  int code;
};
void PrintTo(const DialOutcome& d, std::ostream* os) {
  *os << d.reply;
}
class Class1DialOutcome : public Class1Send, public ::testing::WithParamInterface<DialOutcome> {};

TEST_P(Class1DialOutcome, EndsWithItsCode) {
  Class1Prep(modem);
  modem.Expect("ATDT5551234").Reply(GetParam().reply);
  HangUpThenAt(modem);
  Start();
  EXPECT_EQ(rig->Run(30s), std::vector<int>{GetParam().code});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(rig->errors, std::vector<int>{GetParam().code});
}
INSTANTIATE_TEST_SUITE_P(Replies, Class1DialOutcome,
                         ::testing::Values(DialOutcome{"NO DIALTONE", ecFaxNoDialTone},
                                           DialOutcome{"VOICE", ecFaxVoiceCall},
                                           DialOutcome{"NO CARRIER", ecFaxNoCarrier}));

TEST_F(Class1Send, NoAnswerWithinDialWait) {
  Class1Prep(modem);
  modem.Expect("ATDT5551234");
  HangUpThenAt(modem);
  Start();
  rig->fax.DialWait = 2;
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxNoAnswer});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
}

TEST_F(Class1Send, GarbageRepliesTimeOut) {
  modem.SetExpectTimeout(20s);  // the modem outwaits the engine's 10 s for a reply
  modem.Answer(kInit).Answer("AT+FCLASS=1").Expect("AT+FTM=?").Reply("24,48,72,96").Reply("OK");
  modem.Expect("AT+FCLASS=1").Garbage(300, 7).Reply("#?!").Answer("AT");
  Start();
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecTimeout});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
}

TEST_F(Class1Send, CancelWhileWaitingToRedial) {
  Class1Prep(modem);
  modem.Expect("ATDT5551234").Reply("BUSY").Answer("AT");
  Start();
  rig->fax.DialRetryWait = 30;
  ASSERT_EQ(rig->fax.StartSend(), 0);
  for (int i = 0; i < 100 && rig->fax.State() != tfRetryWait; ++i) std::this_thread::sleep_for(50ms);
  rig->fax.Cancel();
  EXPECT_TRUE(rig->fax.WaitDone(5000));
  EXPECT_EQ(rig->finishes, std::vector<int>{ecCancelRequested});
  EXPECT_EQ(rig->statuses.back(), fsUserAbort);
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
}

// ---------------------------------------------------------------- Class 2 ----


TEST_F(Class2Send, PageRefusedTwiceThenAcceptedAndThirdRefusal) {
  Prep(false);
  modem.Expect("ATDT5551234").Reply("+FCON").Reply("+FCSI: \"  REMOTE 2\"").Reply("+FDIS:1,3,0,2,0,0,0,0").Reply("OK");
  for (int attempt = 0; attempt < 3; ++attempt) {
    modem.Expect("AT+FDT").Reply("+FDCS:1,3,0,2,0,0,0,0").Reply("CONNECT").Send("\x11").ExpectData().Reply("OK");
    modem.Answer("AT+FET=0", attempt < 2 ? "+FPTS:2" : "+FPTS:1").Reply("OK");
  }
  // Two retransmissions per fax: the first refusal of page 2 is the third.
  modem.Expect("AT+FDT").Reply("CONNECT").Send("\x11").ExpectData().Reply("OK");
  modem.Answer("AT+FET=2", "+FPTS:2").Reply("OK");
  modem.Expect("AT+FKS");
  HangUpThenAt(modem);
  Start2(false);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecFaxSessionError});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  EXPECT_EQ(rig->fax.Session().remoteId, "REMOTE 2");
  EXPECT_EQ(rig->Count(rig->statuses, fsPageError), 3);
  EXPECT_EQ(rig->Count(rig->statuses, fsPageAccepted), 1);
}

TEST_F(Class2Send, Class20PagesEndWithDleCommaAndDot) {
  Prep(true);
  modem.Expect("ATDT5551234").Reply("+FCO").Reply("+FCI: \"REMOTE 3\"").Reply("+FIS:1,3,0,2,0,0,0,0").Reply("OK");
  modem.Expect("AT+FDT").Reply("+FCS:1,3,0,2,0,0,0,0").Reply("CONNECT").ExpectData(",;.").Reply("+FPS:1").Reply("OK");
  modem.Expect("AT+FDT").Reply("CONNECT").ExpectData(",;.").Reply("+FPS:1").Reply("+FHS:00").Reply("OK");
  modem.Answer("AT");
  Start2(true);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  EXPECT_EQ(modem.DataEnders(), ",.");
  EXPECT_EQ(rig->fax.Session().bps, 9600);
}

// With SoftwareFlow the modem is asked for XON/XOFF and the port paces the page
// data by it; the port goes back to hardware flow after the page.
TEST_F(Class2Send, SoftwareFlowForThePageData) {
  modem.Answer(kInit).Answer("AT+FCLASS=2.0").Answer("AT+FLI=\"QN TEST\"").Answer("AT+FLO=1");
  modem.Answer("AT+FNR=1,1,1,0").Answer("AT+FCC=1,3,0,2,0,0,0,0");
  modem.Expect("ATDT5551234").Reply("+FCO").Reply("+FIS:1,3,0,2,0,0,0,0").Reply("OK");
  modem.Expect("AT+FDT").Reply("+FCS:1,3,0,2,0,0,0,0").Reply("CONNECT").ExpectData(",;.");
  modem.Reply("+FPS:1").Reply("+FHS:00").Reply("OK").Answer("AT");
  Start2(true, {pfHighRes});
  std::vector<TSWFlowOptions> flow;
  rig->fax.OnFaxStatus = [&, counted = rig->fax.OnFaxStatus](TFeAbstractFax& cp, bool first, bool last) {
    if (cp.Status() == fsSendingPage) flow.push_back(rig->port.SWFlowOptions());
    counted(cp, first, last);
  };
  rig->fax.SoftwareFlow = true;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  EXPECT_EQ(modem.DataBlocks().size(), 1u);
  ASSERT_FALSE(flow.empty());
  EXPECT_EQ(flow.front(), swfTransmit);
  EXPECT_EQ(rig->port.SWFlowOptions(), swfNone);
}

TEST_F(Class2Send, RemoteWithoutFineIs8060BeforeAnyPage) {
  Prep(false);
  modem.Expect("ATDT5551234").Reply("+FCON").Reply("+FDIS:0,3,0,2,0,0,0,0").Reply("OK");
  HangUpThenAt(modem);
  Start2(false);
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxBadMachine});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  EXPECT_TRUE(modem.DataBlocks().empty());
}

TEST_F(Class2Send, HangUpReportBeforeThePageEndsTheFaxAtOnce) {
  Prep(false);
  modem.Expect("ATDT5551234").Reply("+FCON").Reply("+FDIS:1,3,0,2,0,0,0,0").Reply("OK");
  modem.Expect("AT+FDT").Reply("+FHNG:50").Reply("OK");
  HangUpThenAt(modem);
  Start2(false);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxNoCarrier});
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 15s);  // not after the 30 s wait for CONNECT
  EXPECT_EQ(rig->fax.Session().hangupCode, 50);
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  // The hang-up code is written whole, as the modem reported it.
  EXPECT_EQ(History(), "Transmit " + fax +
                           " to 5551234 started at <T>\r\n"
                           "Transmit failed at <T>\r\n  (Failed to connect to remote fax) 50\r\n\r\n");
}

// Several files sent as one fax: the session shows the user's first file, never
// the temporary file they were joined into; the log names each file.
TEST_F(Class1Send, JoinedFilesShowTheUsersFile) {
  Class1Prep(modem);
  modem.Expect("ATDT5551234").Reply("NO CARRIER");
  HangUpThenAt(modem);
  Start();
  const std::string second = dir + "/SECOND.APF";
  MakeFax(second, {pfHighRes}, 10, 5);
  rig->fax.FaxFile.clear();
  rig->fax.FaxFileList = {fax, second};
  std::vector<std::string> shown;
  rig->fax.OnFaxStatus = [&, counted = rig->fax.OnFaxStatus](TFeAbstractFax& cp, bool first, bool last) {
    shown.push_back(cp.Session().faxFile);
    counted(cp, first, last);
  };
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxNoCarrier});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  ASSERT_FALSE(shown.empty());
  for (const auto& f : shown) EXPECT_EQ(f, fax);
  EXPECT_EQ(rig->fax.Session().faxFile, fax);
  EXPECT_EQ(History(), "Transmit " + fax +
                           " to 5551234 started at <T>\r\n"
                           "Transmit " +
                           second +
                           " to 5551234 started at <T>\r\n"
                           "Transmit failed at <T>\r\n  (Failed to connect to remote fax) 0\r\n\r\n");
}

// A fax run fed by OnFaxNext. Each fax is asked for once; an empty number ends.
struct NextFaxes {
  std::vector<std::string> numbers;
  size_t asked = 0;
  void Attach(TFeSendFax& f, const std::string& file) {
    f.OnFaxNext = [this, file](TFeAbstractFax&, std::string& phone, std::string& faxFile, std::string&) {
      if (asked < numbers.size()) {
        phone = numbers[asked];
        faxFile = file;
      }
      ++asked;
    };
  }
};

// The remote ending the call (DCN) fails that fax only: no user abort, and the
// run goes on with the next fax.
TEST_F(Class1Send, RemoteHangUpIsNoUserAbort) {
  Class1Prep(modem);
  modem.Expect("ATDT5551234").Reply("CONNECT").Frame(Resp(t30::fcfDCN)).Reply("OK");
  modem.ExpectPrefix("+++").Reply("OK");
  modem.Answer("AT+FCLASS=1").Expect("ATDT5551235").Reply("BUSY");
  modem.Answer("AT");
  Start();
  NextFaxes next{{"5551234", "5551235"}};
  next.Attach(rig->fax, fax);
  rig->fax.DialAttempts = 1;
  EXPECT_EQ(rig->Run(30s), std::vector<int>{ecFaxBusy});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(next.asked, 3u);
  EXPECT_EQ(rig->Count(rig->statuses, fsUserAbort), 0);
  EXPECT_EQ(rig->errors, (std::vector<int>{ecCancelRequested, ecFaxBusy}));
  EXPECT_EQ(rig->logs, (std::vector<int>{lfTransmitStarted, lfTransmitFailed, lfTransmitStarted, lfTransmitFailed}));
}

// The first fax of a run fails after two unanswered post-page frames; the second
// fax gets its own three tries at its post-page frame.
TEST_F(Class1Send, PostPageRetriesStartAfreshForEachFax) {
  auto unanswered = [&] {
    modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK");
    modem.Expect("AT+FRH=3").Reply("ERROR");
  };
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  unanswered();
  unanswered();
  Class1PostPage(modem, t30::fcfPIN);
  modem.ExpectPrefix("+++").Reply("OK");
  modem.Answer("AT+FCLASS=1");
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  unanswered();
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start();
  NextFaxes next{{"5551234", "5551234"}};
  next.Attach(rig->fax, fax);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(rig->errors, std::vector<int>{ecFaxSessionError});
  EXPECT_EQ(rig->logs, (std::vector<int>{lfTransmitStarted, lfTransmitFailed, lfTransmitStarted, lfTransmitFinished}));
}

}  // namespace
}  // namespace fe::test

// ------------------------------------------------ error correction (Class 1) --

namespace fe::test {
namespace {

TEST_F(Class1Ecm, PprResendsOnlyTheMarkedFramesOfOurBlock) {
  Negotiate();
  Burst("146");
  Command(Ppr({1, 3}, 0xF0));  // bits 4-7 of every octet too: past our frames, some of them
  Burst("146");
  Command(Resp(t30::fcfMCF));
  Class1End(modem);
  Go();
  auto b = Blocks();
  ASSERT_GE(b.size(), 7u);
  auto all = BurstFrames(b[3]);
  auto pps = PpsOf(b[4]);
  ASSERT_TRUE(pps);
  ASSERT_GE(all.size(), 5u);
  EXPECT_EQ(pps->frames, static_cast<int>(all.size()));
  EXPECT_EQ(pps->fcf2, t30::fcfEOP);
  EXPECT_EQ(pps->page, 0);
  EXPECT_EQ(pps->block, 0);
  std::vector<int> want = {1, 3};
  for (int n = 4; n < static_cast<int>(all.size()); ++n)
    if ((n % 8) >= 4) want.push_back(n);
  EXPECT_EQ(BurstFrames(b[5]), want);
  EXPECT_EQ(PpsOf(b[6])->frames, static_cast<int>(want.size()));
  auto dcs = t30::ParseDcs({b[1].begin() + 3, b[1].end()});
  ASSERT_TRUE(dcs);
  EXPECT_TRUE(dcs->ecm);
  EXPECT_EQ(dcs->scan, t30::scan0ms);
}

TEST_F(Class1Ecm, BusyReceiverIsPolledWithRrAndOurEchoIsIgnored) {
  Negotiate();
  Burst("146");
  // Our own PPS heard back, then the real answer on a second listen.
  modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK");
  modem.Answer("AT+FRH=3", "CONNECT").Frame(Fr({0xFF, 0x13, ecm::fcfPPS | 1, 0x2F, 0, 0, 5})).Reply("OK");
  modem.Answer("AT+FRH=3", "CONNECT").Frame(Resp(ecm::fcfRNR)).Reply("OK");
  Command(Resp(ecm::fcfRNR));
  Command(Resp(ecm::fcfRNR));
  Command(Resp(t30::fcfMCF));
  Class1End(modem);
  Go();
  auto b = Blocks();
  ASSERT_GE(b.size(), 8u);
  for (int i : {5, 6, 7}) {
    auto f = t30::ParseFrame(Bytes(b[static_cast<size_t>(i)].begin(), b[static_cast<size_t>(i)].end()), false);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Kind(), ecm::fcfRR) << i;
  }
}

TEST_F(Class1Ecm, ReceiverNotReadyPastT5EndsTheCall) {
  Negotiate();
  Burst("146");
  Command(Resp(ecm::fcfRNR));  // T5 starts
  modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK");
  modem.Expect("AT+FRH=3").Pause(1500ms).Reply("CONNECT").Frame(Resp(ecm::fcfRNR)).Reply("OK");
  Class1Dcn(modem);
  HangUpThenAt(modem);
  Start({pfHighRes}, 400);
  rig->fax.DesiredBPS = 14400;
  rig->fax.DesiredECM = true;
  rig->fax.NotReadyWait = 1;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecTimeout});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  auto b = Blocks();
  ASSERT_EQ(b.size(), 7u);
  EXPECT_EQ(KindOf(b[5]), ecm::fcfRR);
  EXPECT_EQ(KindOf(b[6]), t30::fcfDCN);
}

TEST_F(Class1Ecm, FourthPprWithProgressLowersTheSpeedWithCtc) {
  Negotiate();
  Burst("146");
  for (int i = 0; i < 3; ++i) {
    Command(Ppr({0, 1}));
    Burst("146");
  }
  Command(Ppr({0}));  // frames still get through: a lower speed should help
  Command(Resp(ecm::fcfCTR));
  Burst("121");  // long training at 12000
  Command(Resp(t30::fcfMCF));
  Class1End(modem);
  Go();
  auto b = Blocks();
  ASSERT_GE(b.size(), 14u);
  auto ctc = t30::ParseFrame(Bytes(b[11].begin(), b[11].end()), false);
  ASSERT_TRUE(ctc);
  EXPECT_EQ(ctc->Kind(), ecm::fcfCTC);
  auto speed = t30::ParseDcs({ctc->fif[0], ctc->fif[1], 0});
  ASSERT_TRUE(speed);
  EXPECT_EQ(speed->bps, 12000);
  EXPECT_EQ(BurstFrames(b[12]), std::vector<int>{0});
  EXPECT_EQ(rig->fax.Session().bps, 12000);
}

TEST_F(Class1Ecm, FourthPprWithoutProgressAndMostFramesMissingHangsUp) {
  Negotiate("24");  // nothing lower than 2400 to change to
  Burst("24");
  std::vector<int> every;
  for (int n = 0; n < 256; ++n) every.push_back(n);
  for (int i = 0; i < 3; ++i) {
    Command(Ppr(every));
    Burst("24");
  }
  Command(Ppr(every));
  Class1Dcn(modem);
  HangUpThenAt(modem);
  Start();
  rig->fax.DesiredBPS = 2400;
  rig->fax.DesiredECM = true;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecFaxSessionError});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
}

TEST_F(Class1Ecm, MmrPageIsNeverEndedWithEor) {
  // V.27ter only, ECM and T.6: MMR at 2400, nothing lower to change to, and
  // one frame that never gets through. MH or MR would take EOR; MMR hangs up.
  Class1Prep(modem, "24,48");
  Class1Dial(modem, Fr({0xFF, 0x13, t30::fcfDIS, 0x00, 0x02 | 0x40 | 0x80, 0x08 | 0x80, 0x04 | 0x40}));
  Class1TsiDcs(modem);
  Class1Train(modem, "24", t30::fcfCFR);
  Burst("24");
  for (int i = 0; i < 3; ++i) {
    Command(Ppr({0}));
    Burst("24");
  }
  Command(Ppr({0}));
  Class1Dcn(modem);
  HangUpThenAt(modem);
  Start({pfHighRes}, 400);
  rig->fax.DesiredECM = true;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecFaxSessionError});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  auto b = modem.DataBlocks();
  ASSERT_GE(b.size(), 2u);
  auto dcs = t30::ParseDcs({b[1].begin() + 3, b[1].end()});
  ASSERT_TRUE(dcs);
  EXPECT_EQ(dcs->coding, t30::Coding::MMR);
  EXPECT_TRUE(dcs->ecm);
  EXPECT_EQ(KindOf(b.back()), t30::fcfDCN);
}

TEST_F(Class1Ecm, FourthPprAtTheLowestSpeedEndsTheBlockWithEorAndTheFaxGoesOn) {
  // V.27ter at 2400 only: no lower speed to change to. One frame never gets
  // through; an MH page takes the hole (EOR, answered ERR) and the call ends
  // normally, with the block counted as sent.
  Class1Prep(modem, "24,48");
  Class1Dial(modem, Fr({0xFF, 0x13, t30::fcfDIS, 0x00, 0x02 | 0x40, 0x08 | 0x80, 0x04}));
  Class1TsiDcs(modem);
  Class1Train(modem, "24", t30::fcfCFR);
  Burst("24");
  for (int i = 0; i < 3; ++i) {
    Command(Ppr({2}));
    Burst("24");
  }
  Command(Ppr({2}));
  Command(Resp(ecm::fcfERR));
  Class1End(modem);
  Go();
  auto b = Blocks();
  ASSERT_GE(b.size(), 13u);
  for (size_t i : {5u, 7u, 9u}) EXPECT_EQ(BurstFrames(b[i]), std::vector<int>{2}) << i;
  auto eor = t30::ParseFrame(Bytes(b[11].begin(), b[11].end()), false);
  ASSERT_TRUE(eor);
  EXPECT_EQ(eor->Kind(), ecm::fcfEOR);
  ASSERT_EQ(eor->fif.size(), 1u);
  EXPECT_EQ(eor->fif[0] & ~t30::kXBit, t30::fcfEOP);  // the post-page command rides in the EOR
  EXPECT_EQ(rig->errors, std::vector<int>{});
}

TEST_F(Class1Ecm, LostMcfMeansTheSamePpsAgainNotTheBlock) {
  // The answer to our PPS never arrives: the same PPS goes out again (not the
  // burst), and the MCF to that one ends the page.
  Negotiate();
  Burst("146");
  modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK").Answer("AT+FRH=3", "NO CARRIER");
  Command(Resp(t30::fcfMCF));
  Class1End(modem);
  Go();
  auto b = Blocks();
  ASSERT_EQ(b.size(), 7u);  // TSI DCS training burst PPS PPS DCN
  auto first = PpsOf(b[4]), again = PpsOf(b[5]);
  ASSERT_TRUE(first && again);
  EXPECT_EQ(first->frames, again->frames);
  EXPECT_EQ(first->block, again->block);
  EXPECT_EQ(first->fcf2, t30::fcfEOP);
}

TEST_F(Class1Ecm, PagesAreCountedInPpsAndOnlyTheLastEndsWithEop) {
  Negotiate();
  Burst("146");
  Command(Resp(t30::fcfMCF));
  Burst("146");
  Command(Resp(t30::fcfMCF));
  Class1End(modem);
  Start({pfHighRes, pfHighRes}, 200);
  rig->fax.DesiredBPS = 14400;
  rig->fax.DesiredECM = true;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  auto b = Blocks();
  ASSERT_EQ(b.size(), 8u);
  auto p0 = PpsOf(b[4]), p1 = PpsOf(b[6]);
  ASSERT_TRUE(p0 && p1);
  EXPECT_EQ(p0->fcf2, t30::fcfMPS);
  EXPECT_EQ(p0->page, 0);
  EXPECT_EQ(p1->fcf2, t30::fcfEOP);
  EXPECT_EQ(p1->page, 1);
  EXPECT_EQ(p1->block, 0);  // blocks count from 0 again on every page
  EXPECT_EQ(BurstFrames(b[5]).front(), 0);
}

TEST_F(Class1Ecm, RemoteWithoutEcmGetsAPlainSession) {
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start();
  rig->fax.DesiredECM = true;
  const std::string log = ::testing::TempDir() + "qn-ecm-log-" + std::to_string(::getpid()) + ".log";
  rig->port.SetLogName(log);
  rig->port.SetLogging(tlOn);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_FALSE(rig->fax.Session().ecm);
  // The debug log says why the session went without error correction.
  ASSERT_EQ(rig->port.SetLogging(tlDump), 0);
  std::ifstream in(log);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(log.c_str());
  EXPECT_NE(text.find("no error correction: the remote does not offer it"), std::string::npos) << text;
  auto b = modem.DataBlocks();
  ASSERT_GE(b.size(), 2u);
  auto dcs = t30::ParseDcs({b[1].begin() + 3, b[1].end()});
  ASSERT_TRUE(dcs);
  EXPECT_FALSE(dcs->ecm);
}

}  // namespace
}  // namespace fe::test

namespace fe::test {
namespace {

TEST_F(Class1Send, RemoteOfferingMrGetsMrPagesWithFill) {
  Class1Prep(modem);
  // DIS: V.29, fine, MR (bit 16), 20 ms scan lines.
  Class1Dial(modem, Fr({0xFF, 0x13, t30::fcfDIS, 0x00, 0x02 | 0x04 | 0x08 | 0x40 | 0x80, 0x08}));
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start({pfHighRes}, 60);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  auto b = modem.DataBlocks();
  ASSERT_GE(b.size(), 4u);
  auto dcs = t30::ParseDcs({b[1].begin() + 3, b[1].end()});
  ASSERT_TRUE(dcs);
  EXPECT_EQ(dcs->coding, t30::Coding::MR);
  EXPECT_FALSE(dcs->ecm);
  const auto* page = reinterpret_cast<const uint8_t*>(b[3].data());
  auto stats =
      DecodePage2d(page, b[3].size(), TFaxCoding::MR, 1728, [](const uint8_t*, unsigned, bool) { return true; });
  EXPECT_TRUE(stats.clean());
  EXPECT_TRUE(stats.rtc);
  EXPECT_GE(stats.lines, 60u);
  // 20 ms at fine is 10 ms a line: at 9600 bit/s no line is under 12 octets,
  // so the page is at least that long per line.
  EXPECT_GE(b[3].size(), stats.lines * 12u);
}

}  // namespace
}  // namespace fe::test
