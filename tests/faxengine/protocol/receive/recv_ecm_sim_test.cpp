// Our Class 1 receiver against real peers through faxmodem-sim, with 2-D coding
// and error correction: a spandsp terminal sends MR, MMR and MH pages with and
// without ECM (also through noise bursts), and our own sender sends to our
// receiver through the simulator's T.38 gateways. The stored pages (always MH)
// must decode to exactly the rasters that were sent.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "apf_writer.h"
#include "recv_sim_rig.h"
#include "send_fax.h"

namespace {

using namespace std::chrono_literals;
using qn::sim::ModemKind;
using qn::sim::RasterPage;

struct Case {
  const char* name;
  const char* terminal;  // options of the sending terminal
  bool ecm;              // our receiver offers error correction
  const char* coding;    // what the caller must have used, as spandsp's log names it
  bool bursts = false;   // noise bursts on the line
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class RecvEcm : public recvtest::SimReceiver, public ::testing::TestWithParam<Case> {
 protected:
  std::string SimLog() const {
    std::ifstream in(sim.logFile());
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
};

TEST_P(RecvEcm, PagesArriveExactly) {
  const Case& c = GetParam();
  // Fine, standard, fine: the resolution changes inside the call.
  auto pages = qn::sim::makeTestPages(2, 250, true, 51);
  pages.insert(pages.begin() + 1, qn::sim::makeTestPages(1, 100, false, 52)[0]);
  const std::string sent = sim.workDir() + "/sent.tif";
  ASSERT_TRUE(qn::sim::writeTiff(sent, pages));
  sim.addModem(ModemKind::Class1, "100");
  sim.addArgs({"--terminal", "send:200:" + sent + ":call=100:after=1500" + c.terminal});
  if (c.bursts) sim.addArgs({"--bursts", "20:-20:3000"});
  ASSERT_TRUE(sim.start()) << sim.error();
  Receive(ModemKind::Class1, c.ecm);
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=3", 15s), "") << "log: " << sim.logFile();
  EXPECT_EQ(rx.Session().ecm, c.ecm);
  Compare(pages);
  const std::string log = SimLog();
  EXPECT_NE(log.find(c.coding), std::string::npos) << "coding " << c.coding << " not used; log: " << sim.logFile();
  if (c.bursts) {
    EXPECT_NE(log.find("PPR"), std::string::npos) << "no frame was asked for again; log: " << sim.logFile();
  }
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Sim, RecvEcm,
    ::testing::Values(Case{"MR", "", false, "T.4 2-D"}, Case{"MH_ECM", ":ecm:mh", true, "T.4 1-D"},
                      Case{"MR_ECM", ":ecm", true, "T.4 2-D"}, Case{"MMR_ECM", ":ecm:t6", true, "T.6"},
                      // Noise bursts damage frames: PPR and resent frames, the pages still identical.
                      Case{"MMR_ECM_NoiseBursts", ":ecm:t6", true, "T.6", true}),
    CaseName);

// Noise bursts without error correction: the first copy of the page is hit;
// our receiver (here any bad line makes a page poor) answers RTN, the caller
// trains again and sends the page again, and that copy is kept: MCF when it
// came through clean, RTP (noted as damaged) when a burst hit it too.
TEST_F(RecvEcm, NoiseBurstsWithoutEcmGetRtnAndThePageAgain) {
  auto pages = qn::sim::makeTestPages(1, 150, true, 81);
  pages.push_back(qn::sim::makeTestPages(1, 40, true, 82)[0]);
  const std::string sent = sim.workDir() + "/sent.tif";
  ASSERT_TRUE(qn::sim::writeTiff(sent, pages));
  sim.addModem(ModemKind::Class1, "100");
  sim.addArgs({"--terminal", "send:200:" + sent + ":call=100:after=1500:mh"});
  sim.addArgs({"--bursts", "20:-20:2500"});
  ASSERT_TRUE(sim.start()) << sim.error();
  rx.CopyQuality.rtnBadPercent = 0;
  rx.MaxRtnPerPage = 1;
  Receive(ModemKind::Class1, false);
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=2", 15s), "") << "log: " << sim.logFile();
  // The caller's side of the protocol: RTN for page 1 (its carrier is hit by a
  // burst), then new training and page 1 again (MPS once more), later page 2.
  const std::string log = SimLog();
  const std::size_t rtn = log.find("Rx:  RTN");
  ASSERT_NE(rtn, std::string::npos) << "no RTN; log: " << sim.logFile();
  const std::size_t dcs = log.find("Tx:  DCS", rtn), mps = log.find("Tx:  MPS", rtn);
  EXPECT_NE(dcs, std::string::npos) << "no new training after RTN; log: " << sim.logFile();
  EXPECT_NE(mps, std::string::npos) << "page 1 was not sent again; log: " << sim.logFile();
  EXPECT_LT(dcs, mps);
  EXPECT_NE(log.find("Tx:  EOP", mps), std::string::npos);
  // Both pages stored; page 2 (too short to be hit) exactly, page 1 exactly
  // unless its second copy was hit too and kept with RTP as damaged.
  const auto got = qntest::ReadApfPages(dir + "/FAX0001.APF");
  ASSERT_EQ(got.size(), 2u);
  std::string why;
  EXPECT_TRUE(qn::sim::samePage(pages[1], got[1], &why)) << why;
  const auto damage = rx.Session().damagedPages;
  if (damage.empty()) {
    EXPECT_TRUE(qn::sim::samePage(pages[0], got[0], &why)) << why;
    EXPECT_EQ(log.find("Rx:  RTP"), std::string::npos);
  } else {
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_EQ(damage[0].page, 1);
    EXPECT_GT(damage[0].badLines, 0u);
    EXPECT_NE(log.find("Rx:  RTP", rtn), std::string::npos) << "a damaged page kept without RTP";
  }
}

// Our sender to our receiver, two Class 1 modems through the T.38 gateways,
// with MMR and error correction.
TEST_F(RecvEcm, Class1ToClass1WithMmrAndErrorCorrection) {
  auto pages = qn::sim::makeTestPages(2, 300, true, 61);
  const std::string file = sim.workDir() + "/OUT.APF";
  {
    fe::TApfWriter w;
    ASSERT_EQ(w.Create(file), 0);
    for (const auto& p : pages) {
      ASSERT_EQ(w.BeginPage(fe::pfLineRecords | (p.fine ? fe::pfHighRes : 0)), 0);
      for (const auto& row : p.rows) ASSERT_EQ(w.AppendRasterLine(row.data(), static_cast<unsigned>(p.width)), 0);
      ASSERT_EQ(w.EndPage(), 0);
    }
    ASSERT_EQ(w.Close(), 0);
  }
  sim.addModem(ModemKind::Class1, "100");
  sim.addModem(ModemKind::Class1, "300");
  ASSERT_TRUE(sim.start()) << sim.error();

  fe::TFeComPort txPort;
  txPort.SetDevicePath(sim.device("300"));
  ASSERT_EQ(txPort.SetOpen(true), 0);
  fe::TComPortLink txLink(txPort);
  fe::TFeSendFax tx;
  tx.SetComPort(&txLink);
  tx.FaxClass = fe::TFaxClass::fcClass1;
  tx.PhoneNumber = "100";
  tx.StationID = "QUILLON TX";
  tx.DesiredBPS = 14400;
  tx.DesiredECM = true;
  tx.FaxFile = file;
  std::thread sender([&] {
    std::this_thread::sleep_for(1500ms);
    tx.StartSend();
  });
  Receive(ModemKind::Class1, true);
  sender.join();
  EXPECT_TRUE(tx.WaitDone(30000));
  EXPECT_EQ(tx.FinalCode(), 0);
  EXPECT_TRUE(tx.Session().ecm);
  tx.SetComPort(nullptr);
  EXPECT_EQ(sim.waitForEvent("answer 300 100 t38", 1s), "answer 300 100 t38") << "log: " << sim.logFile();
  Compare(pages);
}

// efax (MH only, no error correction) through two Class 1 modems to our
// receiver that offers everything: a plain MH session, the page intact.
TEST_F(RecvEcm, EfaxSendsPlainMhToAReceiverOfferingEverything) {
  const auto pages = qn::sim::makeTestPages(1, 150, true, 71);
  const std::string pbm = sim.workDir() + "/p.pbm", tif = sim.workDir() + "/p.tif";
  ASSERT_TRUE(qn::sim::writePbm(pbm, pages[0]));
  ASSERT_EQ(std::system(("efix -i pbm -o tiffg3 -n " + tif + " " + pbm + " >/dev/null 2>&1").c_str()), 0);
  sim.addModem(ModemKind::Class1, "100");
  sim.addModem(ModemKind::Class1, "300");
  ASSERT_TRUE(sim.start()) << sim.error();
  const std::string out = sim.workDir() + "/efax.out";
  int efaxStatus = -1;
  std::thread caller([&] {
    std::this_thread::sleep_for(1500ms);
    efaxStatus = std::system(
        ("timeout 150 efax -d " + sim.device("300") + " -o1 -h '' -v ewinc -t 100 " + tif + " >" + out + " 2>&1")
            .c_str());
  });
  Receive(ModemKind::Class1, true);
  caller.join();
  EXPECT_EQ(efaxStatus, 0) << "efax output: " << out;
  EXPECT_FALSE(rx.Session().ecm);
  Compare(pages);
}

}  // namespace
