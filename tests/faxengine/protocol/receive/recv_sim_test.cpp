// A spandsp fax terminal calls our receiver through the virtual Class 1, 2 and
// 2.0 modems of faxmodem-sim and sends TIFF pages of both resolutions; the APF
// file we store must decode to exactly the rasters that were sent.
#include "recv_sim_rig.h"

namespace {

using namespace std::chrono_literals;
using qn::sim::ModemKind;

class RecvFromTerminal : public recvtest::SimReceiver, public ::testing::TestWithParam<ModemKind> {};

TEST_P(RecvFromTerminal, FineAndStandardPagesArriveExactly) {
  // Fine, standard, fine: the caller changes resolution twice in one call.
  auto pages = qn::sim::makeTestPages(2, 160, true, 41);
  pages.insert(pages.begin() + 1, qn::sim::makeTestPages(1, 80, false, 42)[0]);
  const std::string sent = sim.workDir() + "/sent.tif";
  ASSERT_TRUE(qn::sim::writeTiff(sent, pages));
  sim.addModem(GetParam(), "100");
  sim.addSender("200", sent, "100", 1500);
  ASSERT_TRUE(sim.start()) << sim.error();
  Receive(GetParam());
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=3", 15s), "") << "log: " << sim.logFile();
  Compare(pages);
}

std::string ClassName(const ::testing::TestParamInfo<ModemKind>& info) {
  static const char* const names[] = {"Class1", "Class2", "Class2_0"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Sim, RecvFromTerminal,
                         ::testing::Values(ModemKind::Class1, ModemKind::Class2, ModemKind::Class2_0), ClassName);

}  // namespace
