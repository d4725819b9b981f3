// Wall time of a 3-page fine-resolution fax at 14400 bit/s: our engine through a
// virtual Class 1 modem to a spandsp fax terminal, against a spandsp terminal
// sending the same pages to the same kind of terminal over the same simulated
// line, in the same run. Last line: "ratio send=X" (spandsp's time / ours; above
// 1 means we are faster).
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "apf_writer.h"
#include "comport_link.h"
#include "fax_pages.h"
#include "fe_comport.h"
#include "send_fax.h"
#include "sim_harness.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool WriteApf(const std::string& path, const std::vector<qn::sim::RasterPage>& pages) {
  fe::TApfWriter w;
  if (w.Create(path) < 0) return false;
  for (const auto& p : pages) {
    if (w.BeginPage(fe::pfLineRecords | (p.fine ? fe::pfHighRes : 0)) < 0) return false;
    for (const auto& row : p.rows)
      if (w.AppendRasterLine(row.data(), static_cast<unsigned>(p.width)) < 0) return false;
    if (w.EndPage() < 0) return false;
  }
  return w.Close() == 0;
}

bool ResultOk(const std::string& result, size_t pages) {
  return result.find(" 0 pages=" + std::to_string(pages)) != std::string::npos;
}

// Our engine: from StartSend to the terminal's result.
double Ours(const std::vector<qn::sim::RasterPage>& pages) {
  qn::sim::FaxModemSim sim;
  std::string apf = sim.workDir() + "/BENCH.APF";
  if (!WriteApf(apf, pages)) return -1;
  sim.addModem(qn::sim::ModemKind::Class1, "100");
  sim.addReceiver("200", sim.workDir() + "/ours.tif");
  if (!sim.start()) return -1;
  fe::TFeComPort port;
  port.SetDevicePath(sim.device("100"));
  port.SetPromptForPort(false);
  fe::ConfigureFaxPort(port);
  if (port.SetOpen(true) < 0) return -1;
  fe::TComPortLink link(port);
  fe::TFeSendFax fax;
  fax.SetComPort(&link);
  fax.FaxClass = fe::TFaxClass::fcClass1;
  fax.DesiredBPS = 14400;
  fax.FaxFile = apf;
  fax.PhoneNumber = "200";
  fax.StationID = "BENCH";
  auto t0 = Clock::now();
  if (fax.StartSend() < 0 || !fax.WaitDone(600000) || fax.FinalCode() != 0) return -1;
  std::string result = sim.waitForEvent("result 200 ", 60s);
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return ResultOk(result, pages.size()) ? s : -1;
}

// spandsp's terminal sending the same pages: from the call to the terminal's result.
double Peer(const std::vector<qn::sim::RasterPage>& pages) {
  qn::sim::FaxModemSim sim;
  std::string tiff = sim.workDir() + "/peer-in.tif";
  if (!qn::sim::writeTiff(tiff, pages)) return -1;
  sim.addReceiver("200", sim.workDir() + "/peer.tif");
  sim.addSender("300", tiff);
  if (!sim.start()) return -1;
  auto t0 = Clock::now();
  if (!sim.call("300", "200")) return -1;
  std::string result = sim.waitForEvent("result 200 ", 600s);
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return ResultOk(result, pages.size()) ? s : -1;
}

}  // namespace

int main() {
  auto pages = qn::sim::makeTestPages(3, 1100, true, 42);
  double ours = Ours(pages);
  double peer = Peer(pages);
  std::printf("3 fine pages at 14400 bit/s through a virtual Class 1 modem\n");
  std::printf("ours    %.2f s\n", ours);
  std::printf("spandsp %.2f s\n", peer);
  if (ours <= 0 || peer <= 0) {
    std::printf("a session failed\n");
    return 1;
  }
  std::printf("ratio send=%.3f\n", peer / ours);
  return 0;
}
