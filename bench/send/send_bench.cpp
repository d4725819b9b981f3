// Line time of three fine text pages at 14400 bit/s, in one run:
//   (a) our engine through a virtual Class 1 modem, MMR with error correction,
//       to a spandsp fax terminal that offers ECM and T.6;
//   (b) our engine the same way with MH and no error correction, to a terminal
//       that offers MH only and no ECM (so the negotiation picks MH);
//   (c) spandsp's own terminal sending MMR with ECM to the terminal of (a).
// Each line gives the wall time from the start of the send (our modem set-up
// included) to the receiving terminal's result, the line time from the dial
// to that result (the simulator's log), and the bytes of coded image the
// terminal took in (its transfer statistics).
// Last line: "ratio coding=X peer=Y", X = time(b) / time(a) (what 2-D coding
// with ECM saves), Y = time(c) / time(a) (above 1: we are faster than spandsp).
#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "comport_link.h"
#include "fax_pages.h"
#include "fe_comport.h"
#include "line_pages.h"
#include "send_fax.h"
#include "sim_harness.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using qn::sim::RasterPage;

constexpr unsigned kRows = 1600;  // fine rows: about three quarters of an A4 page

struct Run {
  double seconds = -1;
  double lineSeconds = -1;
  long bytes = 0;
  std::string coding;  // as the receiving terminal logged its choice
  std::string failure;
};

// From the simulator's log: the coding the receiving terminal selected, and the
// time from the dial to its result (log lines start with seconds since the first).
void ReadLog(const qn::sim::FaxModemSim& sim, Run& run) {
  const std::string log = fe::test::ReadText(sim.logFile());
  run.coding = fe::test::SelectedCoding(log);
  std::istringstream lines(log);
  std::string line;
  double dialAt = -1;
  while (std::getline(lines, line)) {
    if (line.find(" sim: event: dial ") != std::string::npos && dialAt < 0) dialAt = std::atof(line.c_str());
    if (line.find(" sim: event: result 200 ") != std::string::npos && dialAt >= 0)
      run.lineSeconds = std::atof(line.c_str()) - dialAt;
  }
}

// Waits for the receiving terminal's result and checks that every page arrived.
void Finish(qn::sim::FaxModemSim& sim, Clock::time_point t0, size_t pages, std::chrono::seconds limit, Run& run) {
  const std::string result = sim.waitForEvent("result 200 ", limit);
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  if (result.find(" 0 pages=" + std::to_string(pages) + " ") == std::string::npos) {
    run.failure = result.empty() ? "no result" : result;
    return;
  }
  run.seconds = s;
  run.bytes = fe::test::ResultField(result, "bytes");
  ReadLog(sim, run);
}

// Our engine through a Class 1 modem to a terminal with the given options.
Run Ours(const std::vector<RasterPage>& pages, const std::string& receiverOptions, bool ecm) {
  Run run;
  qn::sim::FaxModemSim sim;
  const std::string apf = sim.workDir() + "/BENCH.APF";
  if (!fe::test::WriteApfPages(apf, pages)) return run.failure = "cannot write the APF file", run;
  sim.addModem(qn::sim::ModemKind::Class1, "100");
  sim.addArgs({"--terminal", "receive:200:" + sim.workDir() + "/in.tif" + receiverOptions});
  if (!sim.start()) return run.failure = sim.error(), run;
  fe::TFeComPort port;
  port.SetDevicePath(sim.device("100"));
  port.SetPromptForPort(false);
  fe::ConfigureFaxPort(port);
  if (port.SetOpen(true) < 0) return run.failure = "cannot open the modem", run;
  fe::TComPortLink link(port);
  fe::TFeSendFax fax;
  fax.SetComPort(&link);
  fax.FaxClass = fe::TFaxClass::fcClass1;
  fax.DesiredBPS = 14400;
  fax.DesiredECM = ecm;
  fax.FaxFile = apf;
  fax.PhoneNumber = "200";
  fax.StationID = "BENCH";
  const auto t0 = Clock::now();
  if (fax.StartSend() < 0 || !fax.WaitDone(600000) || fax.FinalCode() != 0)
    return run.failure = "our send ended with " + std::to_string(fax.FinalCode()), run;
  Finish(sim, t0, pages.size(), 60s, run);
  return run;
}

// spandsp's terminal sending the same pages to a terminal with the given options.
Run Peer(const std::vector<RasterPage>& pages, const std::string& senderOptions, const std::string& receiverOptions) {
  Run run;
  qn::sim::FaxModemSim sim;
  const std::string tiff = sim.workDir() + "/out.tif";
  if (!qn::sim::writeTiff(tiff, pages)) return run.failure = "cannot write the TIFF file", run;
  sim.addArgs({"--terminal", "receive:200:" + sim.workDir() + "/in.tif" + receiverOptions, "--terminal",
               "send:300:" + tiff + senderOptions});
  if (!sim.start()) return run.failure = sim.error(), run;
  const auto t0 = Clock::now();
  if (!sim.call("300", "200")) return run.failure = "cannot place the call", run;
  Finish(sim, t0, pages.size(), 600s, run);
  return run;
}

void Print(const char* name, const Run& run) {
  if (run.seconds < 0)
    std::printf("%-42s failed: %s\n", name, run.failure.c_str());
  else
    std::printf("%-40s %7.2f s (line %6.2f s) %7ld bytes  %s\n", name, run.seconds, run.lineSeconds, run.bytes,
                run.coding.c_str());
}

}  // namespace

int main() {
  const auto pages = fe::test::FineTextPages(3, kRows);
  const std::string full = ":ecm:t6";  // ECM, MH, MR and T.6 offered
  const Run mmr = Ours(pages, full, true);
  const Run mh = Ours(pages, ":mh", false);
  const Run peer = Peer(pages, full, full);
  std::printf("3 fine text pages (%u rows) at 14400 bit/s through a virtual Class 1 modem\n", kRows);
  Print("(a) ours, MMR + ECM", mmr);
  Print("(b) ours, MH, no ECM (receiver: MH only)", mh);
  Print("(c) spandsp terminal, MMR + ECM", peer);
  if (mmr.seconds <= 0 || mh.seconds <= 0 || peer.seconds <= 0) {
    std::printf("a session failed\n");
    return 1;
  }
  std::printf("ratio coding=%.3f peer=%.3f\n", mh.seconds / mmr.seconds, peer.seconds / mmr.seconds);
  return 0;
}
