// The send engine through a virtual fax modem on a simulated telephone line to a
// fax terminal built on spandsp's T.30: the TIFF file the terminal stores must
// hold exactly the pages we sent (rasters compared after decoding both sides).
#include <gtest/gtest.h>

#include <atomic>

#include "fax_pages.h"
#include "fe_errors.h"
#include "line_pages.h"
#include "send_rig.h"
#include "sim_harness.h"

namespace fe::test {
namespace {

using namespace std::chrono_literals;
using qn::sim::ModemKind;
using qn::sim::RasterPage;

void WriteApf(const std::string& path, const std::vector<RasterPage>& pages) {
  ASSERT_TRUE(WriteApfPages(path, pages)) << path;
}

// A page 2048 pixels wide with ink out to its right edge.
RasterPage WidePage(int rows, unsigned seed) {
  RasterPage p;
  p.width = 2048;
  p.fine = true;
  for (int r = 0; r < rows; ++r) {
    auto line = TestLine(2048, static_cast<unsigned>(r), seed);
    line[255] |= (r % 3) ? 0x01 : 0x00;
    p.rows.push_back(line);
  }
  return p;
}

struct LineSend : ::testing::Test {
  qn::sim::FaxModemSim sim;
  std::string dir = sim.workDir();
  std::string tiff = dir + "/received.tif";
  std::unique_ptr<SendRig> rig;

  // receiverOptions: extra terminal options (":wide") for the receiving terminal.
  void Begin(ModemKind kind, const std::string& receiverOptions = "") {
    sim.addModem(kind, "100");
    if (receiverOptions.empty())
      sim.addReceiver("200", tiff);
    else
      sim.addArgs({"--terminal", "receive:200:" + tiff + receiverOptions});
    ASSERT_TRUE(sim.start()) << sim.error();
    rig = std::make_unique<SendRig>(sim.device("100"));
    rig->fax.FaxClass = kind == ModemKind::Class1   ? TFaxClass::fcClass1
                        : kind == ModemKind::Class2 ? TFaxClass::fcClass2
                                                    : TFaxClass::fcClass2_0;
    rig->fax.PhoneNumber = "200";
    rig->fax.StationID = "QUILLON";
    rig->fax.DesiredBPS = 14400;
  }

  std::string SimLog() const { return ReadText(sim.logFile()); }

  // Sends the file (and cover) and checks that the terminal stored exactly `want`.
  void SendAndCompare(const std::string& file, const std::vector<RasterPage>& want, std::chrono::seconds limit) {
    rig->fax.FaxFile = file;
    EXPECT_EQ(rig->Run(limit), std::vector<int>{0}) << "log: " << sim.logFile();
    std::string result = sim.waitForEvent("result 200 ", 20s);
    EXPECT_NE(result.find(" 0 pages=" + std::to_string(want.size())), std::string::npos) << result;
    auto got = qn::sim::readPages(tiff);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      std::string why;
      EXPECT_EQ(got[i].width, want[i].width) << "page " << i + 1;
      EXPECT_EQ(got[i].fine, want[i].fine) << "page " << i + 1;
      EXPECT_TRUE(qn::sim::samePage(got[i], want[i], &why)) << "page " << i + 1 << ": " << why;
    }
  }
};

TEST_F(LineSend, Class1SeveralFinePagesAt14400) {
  Begin(ModemKind::Class1);
  auto pages = qn::sim::makeTestPages(3, 300, true, 5);
  WriteApf(dir + "/F.APF", pages);
  SendAndCompare(dir + "/F.APF", pages, 240s);
  EXPECT_EQ(rig->fax.Session().bps, 14400);
  EXPECT_EQ(rig->fax.Session().remoteId, "200");
  EXPECT_EQ(SelectedCoding(SimLog()), "T.4 2-D");  // the terminal offers MR by default
}

TEST_F(LineSend, Class1ErrorCorrectionToATerminalThatOffersIt) {
  // A fine page larger than one block (256 frames of 256 octets), then a
  // standard one: blocks joined by PPS-NULL, then MPS and EOP.
  Begin(ModemKind::Class1, ":ecm");
  auto pages = qn::sim::makeTestPages(2, 1100, true, 9);
  pages[1].fine = false;
  pages[1].rows.resize(400);
  WriteApf(dir + "/E.APF", pages);
  rig->fax.DesiredECM = true;
  SendAndCompare(dir + "/E.APF", pages, 240s);
  EXPECT_TRUE(rig->fax.Session().ecm);
  EXPECT_EQ(SelectedCoding(SimLog()), "T.4 2-D");
}

TEST_F(LineSend, Class1ErrorCorrectionAskedOfATerminalWithoutIt) {
  // The terminal offers T.6 but no ECM: MMR needs ECM, so a plain MR session.
  Begin(ModemKind::Class1, ":t6");
  auto pages = qn::sim::makeTestPages(1, 200, true, 10);
  WriteApf(dir + "/N.APF", pages);
  rig->fax.DesiredECM = true;
  SendAndCompare(dir + "/N.APF", pages, 120s);
  EXPECT_FALSE(rig->fax.Session().ecm);
  const std::string log = SimLog();
  EXPECT_EQ(SelectedCoding(log), "T.4 2-D");
  EXPECT_EQ(CountOf(log, "Rx:  FCD"), 0u);
}

// Text pages in each coding the terminal can be brought to, with and without
// error correction (MR and MR with ECM run above); MMR exists only with ECM.
struct CodingCase {
  const char* name;
  const char* receiverOptions;
  bool ecm;
  const char* coding;  // as the terminal logs its choice
};

void PrintTo(const CodingCase& c, std::ostream* os) {
  *os << c.name;
}

class LineCoding : public LineSend, public ::testing::WithParamInterface<CodingCase> {};

TEST_P(LineCoding, Class1TextPagesArriveRowForRow) {
  Begin(ModemKind::Class1, GetParam().receiverOptions);
  const auto pages = FineTextPages(2, 500);
  WriteApf(dir + "/T.APF", pages);
  rig->fax.DesiredECM = GetParam().ecm;
  SendAndCompare(dir + "/T.APF", pages, 240s);
  EXPECT_EQ(rig->fax.Session().ecm, GetParam().ecm);
  const std::string log = SimLog();
  EXPECT_EQ(SelectedCoding(log), GetParam().coding);
  EXPECT_EQ(CountOf(log, "Rx:  FCD") > 0, GetParam().ecm);  // frames only with ECM
}
INSTANTIATE_TEST_SUITE_P(Codings, LineCoding,
                         ::testing::Values(CodingCase{"MH", ":mh", false, "T.4 1-D"},
                                           CodingCase{"MHWithEcm", ":mh:ecm", true, "T.4 1-D"},
                                           CodingCase{"MMRWithEcm", ":ecm:t6", true, "T.6"}),
                         [](const ::testing::TestParamInfo<CodingCase>& info) { return info.param.name; });

// Short noise bursts on the line (20 ms at -20 dBm0 whenever a signal has been
// on for 3 s): training and V.21 frames pass, page carriers are hit.
const std::vector<std::string> kBursts = {"--bursts", "20:-20:3000"};

TEST_F(LineSend, Class1ErrorCorrectionDeliversIdenticalPagesThroughNoiseBursts) {
  sim.addArgs(kBursts);
  Begin(ModemKind::Class1, ":ecm:t6");
  const auto pages = FineTextPages(2, 1000);  // each page's burst runs for several seconds
  WriteApf(dir + "/B.APF", pages);
  rig->fax.DesiredECM = true;
  SendAndCompare(dir + "/B.APF", pages, 300s);
  // The bursts did damage frames, and resending them repaired the pages.
  EXPECT_GE(CountOf(SimLog(), "Tx:  PPR"), 1u);
  EXPECT_EQ(ResultField(sim.waitForEvent("result 200 ", 1s), "bad"), 0);
}

TEST_F(LineSend, Class1MhWithoutErrorCorrectionLosesRowsToNoiseBursts) {
  // The same bursts on an MH page without ECM: the terminal takes the damaged
  // rows (it replaces them with their neighbours) and still confirms the page,
  // so what it stores differs from what we sent. This is what ECM is for.
  sim.addArgs(kBursts);
  Begin(ModemKind::Class1, ":mh");
  const auto pages = FineTextPages(1, 800);
  WriteApf(dir + "/M.APF", pages);
  rig->fax.FaxFile = dir + "/M.APF";
  EXPECT_EQ(rig->Run(240s), std::vector<int>{0}) << "log: " << sim.logFile();
  const std::string result = sim.waitForEvent("result 200 ", 20s);
  EXPECT_NE(result.find(" 0 pages=1 "), std::string::npos) << result;
  EXPECT_GT(ResultField(result, "bad"), 0) << result;
  const auto got = qn::sim::readPages(tiff);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(qn::sim::samePage(got[0], pages[0])) << "the bursts did not damage a row";
  EXPECT_EQ(SelectedCoding(SimLog()), "T.4 1-D");
}

// A page that takes long on the line for its few rows: fine rows of single
// black and white pixels (a checkerboard), about 1 KB each in MH.
RasterPage DensePage(int rows) {
  RasterPage p;
  p.width = 1728;
  p.fine = true;
  for (int r = 0; r < rows; ++r) p.rows.emplace_back(216, static_cast<uint8_t>(r % 2 ? 0x55 : 0xAA));
  return p;
}

TEST_F(LineSend, Class1RtnForADamagedPageRetrainsAndSendsItAgain) {
  // The bursts hit the first page's carrier (it runs about 8 s) twice; each
  // damages at least one of its 12 rows, past the 5 % at which the terminal
  // refuses a page (RTN). Then the line clears up: the page goes again after a
  // new training and arrives whole, and so does the page after it.
  sim.addArgs(kBursts);
  Begin(ModemKind::Class1);
  std::vector<RasterPage> pages = {DensePage(12), FineTextPages(1, 120).front()};
  WriteApf(dir + "/R.APF", pages);
  std::atomic<int> refused{0};
  rig->fax.OnFaxStatus = [&, counted = rig->fax.OnFaxStatus](TFeAbstractFax& cp, bool first, bool last) {
    if (cp.Status() == fsPageError && refused++ == 0) sim.stopBursts();
    counted(cp, first, last);
  };
  SendAndCompare(dir + "/R.APF", pages, 240s);
  EXPECT_EQ(refused.load(), 1);
  EXPECT_TRUE(rig->errors.empty());
  const std::string log = SimLog();
  EXPECT_EQ(CountOf(log, "Tx:  RTN"), 1u) << "log: " << sim.logFile();
  // Phase B again after the RTN: a second DCS and training for the same page.
  EXPECT_EQ(CountOf(log, "Rx:  DCS"), 2u) << "log: " << sim.logFile();
  EXPECT_EQ(CountOf(log, "Tx:  MCF"), 2u) << "log: " << sim.logFile();
}

TEST_F(LineSend, Class1CoverThenBodyWithFineAndStandardMixed) {
  Begin(ModemKind::Class1);
  auto cover = qn::sim::makeTestPages(1, 150, false, 21);
  auto body = qn::sim::makeTestPages(2, 200, true, 22);
  auto standard = qn::sim::makeTestPages(1, 100, false, 23);
  body.insert(body.begin() + 1, standard.front());  // fine, standard, fine: two renegotiations
  WriteApf(dir + "/COVER.APF", cover);
  WriteApf(dir + "/BODY.APF", body);
  rig->fax.CoverFile = dir + "/COVER.APF";
  std::vector<RasterPage> want = cover;
  want.insert(want.end(), body.begin(), body.end());
  SendAndCompare(dir + "/BODY.APF", want, 300s);
}

TEST_F(LineSend, Class1WidePageToTerminalWithoutWideIs8060) {
  // The terminal's DIS offers 215 mm only: the wide page must not go out.
  Begin(ModemKind::Class1);
  std::vector<RasterPage> pages = {WidePage(100, 3)};
  WriteApf(dir + "/W.APF", pages);
  rig->fax.FaxFile = dir + "/W.APF";
  EXPECT_EQ(rig->Run(120s), std::vector<int>{ecFaxBadMachine});
  EXPECT_EQ(rig->errors, std::vector<int>{ecFaxBadMachine});
  EXPECT_NE(sim.waitForEvent("result 200 ", 60s).find("pages=0"), std::string::npos);
}

TEST_F(LineSend, Class1WidePageToWideTerminalArrivesWhole) {
  // A 255 mm page between two standard pages: the width changes twice in one call.
  Begin(ModemKind::Class1, ":wide");
  auto pages = qn::sim::makeTestPages(2, 80, true, 31);
  pages.insert(pages.begin() + 1, WidePage(120, 5));
  WriteApf(dir + "/W.APF", pages);
  SendAndCompare(dir + "/W.APF", pages, 240s);
}

class LineSpeed : public LineSend, public ::testing::WithParamInterface<int> {};

TEST_P(LineSpeed, Class1OneStandardPage) {
  Begin(ModemKind::Class1);
  rig->fax.DesiredBPS = GetParam();
  auto pages = qn::sim::makeTestPages(1, GetParam() < 7200 ? 60 : 150, false, static_cast<unsigned>(GetParam()));
  WriteApf(dir + "/S.APF", pages);
  SendAndCompare(dir + "/S.APF", pages, 180s);
  EXPECT_EQ(rig->fax.Session().bps, GetParam());
}
INSTANTIATE_TEST_SUITE_P(Speeds, LineSpeed, ::testing::Values(2400, 4800, 7200, 9600, 12000, 14400),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

class LineClass2 : public LineSend, public ::testing::WithParamInterface<ModemKind> {};

TEST_P(LineClass2, CoverThenFineAndStandardPages) {
  Begin(GetParam());
  auto cover = qn::sim::makeTestPages(1, 120, true, 31);
  auto body = qn::sim::makeTestPages(1, 160, true, 32);
  auto standard = qn::sim::makeTestPages(1, 100, false, 33);
  body.push_back(standard.front());  // new capabilities before the standard page
  WriteApf(dir + "/COVER.APF", cover);
  WriteApf(dir + "/BODY.APF", body);
  rig->fax.CoverFile = dir + "/COVER.APF";
  std::vector<RasterPage> want = cover;
  want.insert(want.end(), body.begin(), body.end());
  SendAndCompare(dir + "/BODY.APF", want, 300s);
  EXPECT_EQ(rig->Count(rig->statuses, fsPageAccepted), 3);
}

TEST_P(LineClass2, WidePageToTerminalWithoutWideIs8060) {
  Begin(GetParam());
  std::vector<RasterPage> pages = {WidePage(60, 4)};
  WriteApf(dir + "/W.APF", pages);
  rig->fax.FaxFile = dir + "/W.APF";
  EXPECT_EQ(rig->Run(120s), std::vector<int>{ecFaxBadMachine});
}

std::string KindName(const ::testing::TestParamInfo<ModemKind>& info) {
  return info.param == ModemKind::Class2 ? "Class2" : "Class2_0";
}
INSTANTIATE_TEST_SUITE_P(Modems, LineClass2, ::testing::Values(ModemKind::Class2, ModemKind::Class2_0), KindName);

}  // namespace
}  // namespace fe::test
