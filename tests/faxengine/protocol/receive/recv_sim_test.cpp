// A spandsp fax terminal calls our receiver through the virtual Class 1, 2 and
// 2.0 modems of faxmodem-sim and sends TIFF pages of both resolutions; the APF
// file we store must decode to exactly the rasters that were sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "apf_pages.h"
#include "apf_reader.h"
#include "comport_link.h"
#include "fax_pages.h"
#include "fe_comport.h"
#include "mh_codec.h"
#include "receive_fax.h"
#include "sim_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qn::sim::ModemKind;
using qn::sim::RasterPage;

class RecvFromTerminal : public ::testing::TestWithParam<ModemKind> {
 protected:
  void TearDown() override {
    rx.Cancel();
    rx.WaitDone(5000);
    rx.SetComPort(nullptr);
    link.reset();
    port.SetOpen(false);
    sim.stop();
  }
  qn::sim::FaxModemSim sim;
  fe::TFeComPort port;
  std::unique_ptr<fe::TComPortLink> link;
  fe::TFeReceiveFax rx;
};

TEST_P(RecvFromTerminal, FineAndStandardPagesArriveExactly) {
  // Fine, standard, fine: the caller changes resolution twice in one call.
  auto pages = qn::sim::makeTestPages(2, 160, true, 41);
  pages.insert(pages.begin() + 1, qn::sim::makeTestPages(1, 80, false, 42)[0]);
  const std::string dir = sim.workDir() + "/in";
  fs::create_directories(dir);
  const std::string sent = sim.workDir() + "/sent.tif";
  ASSERT_TRUE(qn::sim::writeTiff(sent, pages));
  sim.addModem(GetParam(), "100");
  sim.addSender("200", sent, "100", 1500);
  ASSERT_TRUE(sim.start()) << sim.error();

  port.SetDevicePath(sim.device("100"));
  ASSERT_EQ(port.SetOpen(true), 0);
  link = std::make_unique<fe::TComPortLink>(port);
  rx.SetComPort(link.get());
  rx.FaxClass = GetParam() == ModemKind::Class1   ? fe::TFaxClass::fcClass1
                : GetParam() == ModemKind::Class2 ? fe::TFaxClass::fcClass2
                                                  : fe::TFaxClass::fcClass2_0;
  rx.DesiredBPS = 14400;
  rx.StationID = "QUILLON RX";
  rx.DestinationDir = dir;
  rx.OneFax = true;
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(150000)) << "log: " << sim.logFile();
  EXPECT_EQ(rx.FinalCode(), 0) << "log: " << sim.logFile();
  EXPECT_NE(sim.waitForEvent("result 200 0 pages=3", 15s), "") << "log: " << sim.logFile();

  const auto got = qntest::ReadApfPages(dir + "/FAX0001.APF");
  ASSERT_EQ(got.size(), pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(got[i].fine, pages[i].fine) << "page " << i + 1;
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(pages[i], got[i], &why)) << "page " << i + 1 << ": " << why;
  }
}

std::string ClassName(const ::testing::TestParamInfo<ModemKind>& info) {
  static const char* const names[] = {"Class1", "Class2", "Class2_0"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Sim, RecvFromTerminal,
                         ::testing::Values(ModemKind::Class1, ModemKind::Class2, ModemKind::Class2_0), ClassName);

}  // namespace
