// The send engine on a bad line, against a scripted modem: pages the remote
// refuses (RTN) or accepts with a retrain (RTP), error correction answers that
// cannot be read or a receiver that is not ready after EOR, and calls the engine
// ends itself (the user's cancel in the middle of a page, error correction that
// gives up), which must end the page data and tell the remote before hanging up.
#include <gtest/gtest.h>

#include "mh_codec.h"
#include "send_script.h"

namespace fe::test {
namespace {

// ------------------------------------------------------------- RTN and RTP --

TEST_F(Class1Send, RtnRetrainsAndSendsThePageAgain) {
  // RTN, then a training check the remote fails (FTT): one speed lower, and the
  // same page again, this time confirmed.
  Class1Prep(modem, "24,48,72,73,74,96,97,98,121,122,145,146");
  Class1Dial(modem, Dis(true));
  Class1TsiDcs(modem);
  Class1Train(modem, "145", t30::fcfCFR);
  Class1Page(modem, "146");
  Class1PostPage(modem, t30::fcfRTN);
  Class1TsiDcs(modem);
  Class1Train(modem, "145", t30::fcfFTT);
  Class1TsiDcs(modem);
  Class1Train(modem, "121", t30::fcfCFR);
  Class1Page(modem, "122");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start({pfHighRes}, 40);
  rig->fax.DesiredBPS = 14400;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_TRUE(rig->errors.empty());
  EXPECT_EQ(rig->logs, (std::vector<int>{lfTransmitStarted, lfTransmitFinished}));
  EXPECT_EQ(rig->Count(rig->statuses, fsPageError), 1);
  EXPECT_EQ(rig->Count(rig->statuses, fsPageAccepted), 1);
  EXPECT_EQ(rig->fax.Session().bps, 12000);

  // TSI DCS training page EOP, TSI DCS training, TSI DCS training page EOP, DCN
  auto b = modem.DataBlocks();
  ASSERT_EQ(b.size(), 14u);
  EXPECT_EQ(KindOf(b[4]), t30::fcfEOP);
  EXPECT_EQ(KindOf(b[6]), t30::fcfDCS);
  EXPECT_EQ(KindOf(b[12]), t30::fcfEOP);
  EXPECT_EQ(KindOf(b[13]), t30::fcfDCN);
  auto again = t30::ParseDcs({b[9].begin() + 3, b[9].end()});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->bps, 12000);
  // The same page both times, each padded for its own speed: the lines decode alike.
  auto lines = [](const std::string& page) {
    std::vector<std::vector<uint8_t>> out;
    auto stats = MhDecodePage(reinterpret_cast<const uint8_t*>(page.data()), page.size(), false, 1728,
                              [&](const uint8_t* l, unsigned n) {
                                out.emplace_back(l, l + n);
                                return true;
                              });
    EXPECT_TRUE(stats.clean());
    return out;
  };
  auto first = lines(b[3]), second = lines(b[11]);
  EXPECT_EQ(first.size(), 40u);
  EXPECT_EQ(first, second);
}

TEST_F(Class1Send, RtnAfterEomWaitsForTheDisAndSendsThePageAgain) {
  // Pages of different resolution: EOM between them. The remote refuses the
  // first one; phase B starts over with its DIS and the first page goes again.
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfRTN);
  modem.Answer("AT+FRH=3", "CONNECT").Frame(Dis()).Reply("OK");
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);
  modem.Answer("AT+FRH=3", "CONNECT").Frame(Dis()).Reply("OK");
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start({pfHighRes, 0}, 10);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  auto b = modem.DataBlocks();
  ASSERT_EQ(b.size(), 16u);
  EXPECT_EQ(KindOf(b[4]), t30::fcfEOM);
  EXPECT_EQ(KindOf(b[9]), t30::fcfEOM);
  EXPECT_EQ(KindOf(b[14]), t30::fcfEOP);
  EXPECT_EQ(b[3], b[8]);  // the fine page twice, then the standard one
  auto dcs = [&](size_t i) { return t30::ParseDcs({b[i].begin() + 3, b[i].end()}); };
  ASSERT_TRUE(dcs(6) && dcs(11));
  EXPECT_TRUE(dcs(6)->fine);
  EXPECT_FALSE(dcs(11)->fine);
}

TEST_F(Class1Send, RtpRetrainsBeforeTheNextPage) {
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfRTP);
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  Class1PostPage(modem, t30::fcfMCF);
  Class1End(modem);
  Start({pfHighRes, pfHighRes}, 10);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{0});
  ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
  EXPECT_EQ(rig->Count(rig->statuses, fsPageAccepted), 2);
  EXPECT_EQ(rig->Count(rig->statuses, fsPageError), 0);
  auto b = modem.DataBlocks();
  ASSERT_EQ(b.size(), 11u);  // TSI DCS training page MPS TSI DCS training page EOP DCN
  EXPECT_EQ(KindOf(b[4]), t30::fcfMPS);
  EXPECT_EQ(KindOf(b[6]), t30::fcfDCS);
  EXPECT_EQ(KindOf(b[9]), t30::fcfEOP);
  EXPECT_NE(b[3], b[8]);  // the second page, not the first again
}

// ----------------------------------------------------- cancel in mid-page --

TEST_F(Class1Send, CancelInMidPageEndsTheDataThenSendsDcn) {
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  modem.Answer("AT+FTM=96", "CONNECT").ExpectBytes(2000);
  modem.Call([this](ScriptedModem&) { rig->fax.Cancel(); });
  modem.ExpectData().Reply("OK");
  Class1Dcn(modem);
  HangUpThenAt(modem);
  Start({pfHighRes}, 5000);  // far more than the port and the terminal hold
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecCancelRequested});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  EXPECT_EQ(rig->statuses.back(), fsUserAbort);
  auto b = modem.DataBlocks();
  ASSERT_EQ(b.size(), 6u);  // TSI DCS training, the page's first bytes and the rest, DCN
  EXPECT_EQ(b[4].find("+++"), std::string::npos);
  EXPECT_EQ(KindOf(b[5]), t30::fcfDCN);
}

TEST_F(Class1Send, CancelWhileListeningForTheAnswerStopsTheListenThenSendsDcn) {
  Class1Prep(modem);
  Class1Dial(modem, Dis());
  Class1TsiDcs(modem);
  Class1Train(modem, "96", t30::fcfCFR);
  Class1Page(modem, "96");
  modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK").Expect("AT+FRH=3");
  modem.Call([this](ScriptedModem&) { rig->fax.Cancel(); });
  modem.ExpectByte('\r').Reply("OK");  // any character stops the listen
  Class1Dcn(modem);
  HangUpThenAt(modem);
  Start({pfHighRes}, 10);
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecCancelRequested});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  auto b = modem.DataBlocks();
  ASSERT_EQ(b.size(), 6u);  // TSI DCS training page EOP DCN
  EXPECT_EQ(KindOf(b[4]), t30::fcfEOP);
  EXPECT_EQ(KindOf(b[5]), t30::fcfDCN);
}

struct Class2Cancel : Class2Send, ::testing::WithParamInterface<bool> {};

TEST_P(Class2Cancel, InMidPageEndsTheDataThenEndsTheSession) {
  const bool v20 = GetParam();
  Prep(v20);
  if (v20) {
    modem.Expect("ATDT5551234").Reply("+FCO").Reply("+FIS:1,3,0,2,0,0,0,0").Reply("OK");
    modem.Expect("AT+FDT").Reply("+FCS:1,3,0,2,0,0,0,0").Reply("CONNECT");
  } else {
    modem.Expect("ATDT5551234").Reply("+FCON").Reply("+FDIS:1,3,0,2,0,0,0,0").Reply("OK");
    modem.Expect("AT+FDT").Reply("+FDCS:1,3,0,2,0,0,0,0").Reply("CONNECT").Send("\x11");
  }
  modem.ExpectBytes(2000);
  modem.Call([this](ScriptedModem&) { rig->fax.Cancel(); });
  modem.ExpectData().Reply("OK");
  modem.Expect("AT+FKS").Reply(v20 ? "+FHS:02" : "+FHNG:2").Reply("OK");
  HangUpThenAt(modem);
  Start({pfHighRes}, 5000);
  rig->fax.FaxClass = v20 ? TFaxClass::fcClass2_0 : TFaxClass::fcClass2;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecCancelRequested});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  auto b = modem.DataBlocks();
  ASSERT_EQ(b.size(), 2u);  // the page's first bytes and the rest
  EXPECT_EQ(b[1].find("+++"), std::string::npos);
  EXPECT_EQ(modem.DataEnders(), "\x03");
}
INSTANTIATE_TEST_SUITE_P(Classes, Class2Cancel, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Class20" : "Class2"; });

// ------------------------------------------------------- error correction --

TEST_F(Class1Ecm, UnreadablePprsCountAsNoAnswerAndEndTheCallWithDcn) {
  // A PPR whose map is not 32 octets: the same PPS again, three times in all
  // like an unanswered one, then DCN. It must not restart the count.
  Negotiate();
  Burst("146");
  Bytes shortMap = {0xFF, 0x13, ecm::fcfPPR};
  shortMap.resize(3 + 31, 0x01);
  for (int i = 0; i < 3; ++i) Command(Fr(shortMap));
  Class1Dcn(modem);
  HangUpThenAt(modem);
  Start({pfHighRes}, 400);
  rig->fax.DesiredBPS = 14400;
  rig->fax.DesiredECM = true;
  EXPECT_EQ(rig->Run(60s), std::vector<int>{ecTimeout});
  EXPECT_TRUE(PortAnswers(*rig));
  ASSERT_TRUE(modem.WaitDone(10s)) << modem.Report();
  auto b = Blocks();
  ASSERT_EQ(b.size(), 8u);  // TSI DCS training burst PPS PPS PPS DCN
  for (size_t i : {4u, 5u, 6u}) {
    auto pps = PpsOf(b[i]);
    ASSERT_TRUE(pps) << i;
    EXPECT_EQ(pps->frames, PpsOf(b[4])->frames);
  }
  EXPECT_EQ(KindOf(b[7]), t30::fcfDCN);
}

TEST_F(Class1Ecm, UnreadablePprsBetweenReadableOnesAreCountedAsNoAnswer) {
  // Two unreadable PPRs, a readable one (the frames go again), two more
  // unreadable ones, then MCF: a readable PPR starts the count afresh.
  Negotiate();
  Burst("146");
  Bytes longMap = {0xFF, 0x13, ecm::fcfPPR};
  longMap.resize(3 + 33, 0xFF);
  Command(Fr(longMap));
  Command(Fr(longMap));
  Command(Ppr({4}));
  Burst("146");
  Command(Fr(longMap));
  Command(Fr(longMap));
  Command(Resp(t30::fcfMCF));
  Class1End(modem);
  Go();
  auto b = Blocks();
  ASSERT_EQ(b.size(), 12u);
  EXPECT_EQ(BurstFrames(b[7]), std::vector<int>{4});
  EXPECT_EQ(PpsOf(b[10])->frames, 1);
}

TEST_F(Class1Ecm, ReceiverNotReadyAfterEorIsPolledWithRr) {
  // V.27ter at 2400 only: the fourth PPR leads to EOR, which the receiver
  // answers with RNR twice before its ERR. RR asks again; EOR is not repeated.
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
  Command(Resp(ecm::fcfRNR));
  Command(Resp(ecm::fcfRNR));
  Command(Resp(ecm::fcfERR));
  Class1End(modem);
  Go();
  auto b = Blocks();
  ASSERT_EQ(b.size(), 15u);
  EXPECT_EQ(KindOf(b[11]), ecm::fcfEOR);
  EXPECT_EQ(KindOf(b[12]), ecm::fcfRR);
  EXPECT_EQ(KindOf(b[13]), ecm::fcfRR);
  EXPECT_EQ(KindOf(b[14]), t30::fcfDCN);
  EXPECT_TRUE(rig->errors.empty());
}

}  // namespace
}  // namespace fe::test
