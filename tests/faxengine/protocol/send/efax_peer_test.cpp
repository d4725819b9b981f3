// Our Class 1 engine and efax, another fax program, on two virtual Class 1
// modems (the simulator joins them through T.38 gateways), both ways. efax has
// neither error correction nor 2-D coding: each call is plain MH, and the pages
// arrive as they were sent.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <thread>

#include "apf_pages.h"
#include "fax_pages.h"
#include "line_pages.h"
#include "receive_fax.h"
#include "send_rig.h"
#include "sim_harness.h"

namespace fe::test {
namespace {

using namespace std::chrono_literals;
using qn::sim::ModemKind;
using qn::sim::RasterPage;

void ExpectSamePages(const std::vector<RasterPage>& got, const std::vector<RasterPage>& sent) {
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    std::string why;
    EXPECT_TRUE(qn::sim::samePage(got[i], sent[i], &why)) << "page " << i + 1 << ": " << why;
  }
}

// The fields of the session line efax logs after a DCS, sent or received:
// "session 196lpi 14.4kbps 8.5"/215mm any 1D - - 0ms" (resolution, speed,
// width, length, coding, error correction, file transfer, scan-line time).
std::vector<std::string> EfaxSession(const std::string& output) {
  size_t at = output.find("session ");
  while (at != std::string::npos && !std::isdigit(static_cast<unsigned char>(output[at + 8])))
    at = output.find("session ", at + 1);
  if (at == std::string::npos) return {};
  std::istringstream fields(output.substr(at, output.find('\n', at) - at));
  return {std::istream_iterator<std::string>(fields), {}};
}

TEST(EfaxPeer, Class1SendAskingForErrorCorrectionGetsPlainMh) {
  qn::sim::FaxModemSim sim;
  const std::string dir = sim.workDir();
  sim.addModem(ModemKind::Class1, "100");
  sim.addModem(ModemKind::Class1, "101");
  ASSERT_TRUE(sim.start()) << sim.error();
  const auto pages = FineTextPages(2, 300);
  ASSERT_TRUE(WriteApfPages(dir + "/X.APF", pages));
  qn::sim::ProgramRun efax;
  std::thread answering([&] {
    efax = qn::sim::runProgram({"efax", "-d", sim.device("101"), "-o1", "-v", "ewinc", "-r", dir + "/rx"},
                               dir + "/efax.out", 200s);
  });
  SendRig rig(sim.device("100"));
  rig.fax.FaxClass = TFaxClass::fcClass1;
  rig.fax.DesiredBPS = 14400;
  rig.fax.DesiredECM = true;
  rig.fax.PhoneNumber = "101";
  rig.fax.FaxFile = dir + "/X.APF";
  EXPECT_EQ(rig.Run(200s), std::vector<int>{0}) << "log: " << sim.logFile();
  answering.join();
  EXPECT_EQ(efax.status, 0) << efax.output;
  EXPECT_FALSE(rig.fax.Session().ecm);
  const auto session = EfaxSession(efax.output);
  ASSERT_GE(session.size(), 7u) << efax.output;
  EXPECT_EQ(session[5], "1D");
  EXPECT_EQ(session[6], "-");  // no error correction
  std::vector<RasterPage> got;
  for (size_t i = 0; i < pages.size(); ++i) {
    const auto file = qn::sim::readPages(dir + "/rx.00" + std::to_string(i + 1));
    ASSERT_EQ(file.size(), 1u) << "page " << i + 1;
    got.push_back(file[0]);
  }
  ExpectSamePages(got, pages);
}

TEST(EfaxPeer, Class1ReceiveFromEfaxIsPlainMh) {
  qn::sim::FaxModemSim sim;
  const std::string dir = sim.workDir();
  const std::string inDir = dir + "/in";
  std::filesystem::create_directories(inDir);
  sim.addModem(ModemKind::Class1, "100");
  sim.addModem(ModemKind::Class1, "101");
  ASSERT_TRUE(sim.start()) << sim.error();
  // efax reports each page's speed as bytes per whole second of writing, and
  // dies of a division by zero when a page is written within one second: the
  // pages are long enough to take several seconds on the line.
  const auto pages = FineTextPages(2, 800);
  std::string error;
  const auto files = qn::sim::writeEfaxPages(pages, dir, &error);
  ASSERT_FALSE(files.empty()) << error;

  TFeComPort port;
  port.SetDevicePath(sim.device("100"));
  ASSERT_EQ(port.SetOpen(true), 0);
  TComPortLink link(port);
  TFeReceiveFax rx;
  rx.SetComPort(&link);
  rx.FaxClass = TFaxClass::fcClass1;
  rx.DesiredBPS = 14400;
  rx.StationID = "QUILLON RX";
  rx.DestinationDir = inDir;
  rx.OneFax = true;
  ASSERT_EQ(rx.StartReceive(), 0);
  std::vector<std::string> argv = {"efax", "-d", sim.device("101"), "-o1", "-h", "", "-v", "ewinc", "-t", "100"};
  argv.insert(argv.end(), files.begin(), files.end());
  const qn::sim::ProgramRun efax = qn::sim::runProgram(argv, dir + "/efax.out", 200s);
  EXPECT_TRUE(rx.WaitDone(30000)) << "log: " << sim.logFile();
  EXPECT_EQ(rx.FinalCode(), 0) << "log: " << sim.logFile();
  EXPECT_EQ(efax.status, 0) << efax.output;
  EXPECT_FALSE(rx.Session().ecm);
  const auto session = EfaxSession(efax.output);
  ASSERT_GE(session.size(), 7u) << efax.output;
  EXPECT_EQ(session[5], "1D");
  EXPECT_EQ(session[6], "-");
  ExpectSamePages(qntest::ReadApfPages(inDir + "/FAX0001.APF"), pages);
  rx.Cancel();
  rx.WaitDone(5000);
  rx.SetComPort(nullptr);
}

}  // namespace
}  // namespace fe::test
