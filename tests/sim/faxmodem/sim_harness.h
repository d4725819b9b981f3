// Runs build/bin/faxmodem-sim for a test: starts it with the endpoints a test
// asks for, waits until its pseudo-terminals are ready, hands out their paths,
// follows its call events and stops it again.
//
//   qn::sim::FaxModemSim sim;
//   sim.addModem(qn::sim::ModemKind::Class1, "100");
//   sim.addReceiver("200", dir + "/in.tif");
//   ASSERT_TRUE(sim.start()) << sim.error();
//   setenv("QN_COM3", sim.device("100").c_str(), 1);   // or sim.pointComPort(3, "100")
//   ... dial 200 through COM3 ...
//   ASSERT_TRUE(sim.waitForEvent("result 200 ", 60s));
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "fax_pages.h"

namespace qn::sim {

enum class ModemKind { Class1, Class2, Class2_0 };

class FaxModemSim {
 public:
  // Work files (ready file, events, log, control FIFO) go into a fresh folder
  // under $TMPDIR unless workDir is given.
  explicit FaxModemSim(std::string workDir = {});
  ~FaxModemSim();  // stops the simulator
  FaxModemSim(const FaxModemSim&) = delete;
  FaxModemSim& operator=(const FaxModemSim&) = delete;

  // Endpoints, added before start().
  void addModem(ModemKind kind, const std::string& number);
  void addReceiver(const std::string& number, const std::string& tiffFile);
  // A sending terminal; with callNumber it dials that number afterMs after start.
  void addSender(const std::string& number, const std::string& tiffFile, const std::string& callNumber = {},
                 int afterMs = 0);
  void addBusyNumber(const std::string& number);
  // Any further command-line arguments (see tests/sim/README.md).
  void addArgs(const std::vector<std::string>& args);

  // Starts the simulator and waits for its ready file; false (see error()) on failure.
  bool start(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Stops the simulator; true when it ended cleanly (exit status 0: no crash, and
  // in a sanitizer build no error or leak report).
  bool stop();
  bool running() const { return pid_ > 0; }

  // The pseudo-terminal of the modem registered under number ("" when unknown).
  std::string device(const std::string& number) const;
  // Sets QN_COM<n> to that device for the code under test.
  void pointComPort(int n, const std::string& number) const;

  // Asks a terminal to place a call now.
  bool call(const std::string& fromNumber, const std::string& toNumber);
  // Ends the noise bursts (--bursts) from now on, also on a call under way.
  bool stopBursts();

  // The call events so far ("dial 100 200", "ring ...", "answer ...", "result 200 0 pages=3 OK", ...).
  std::vector<std::string> events() const;
  // Waits until an event line starts with prefix and returns it ("" on time-out).
  std::string waitForEvent(const std::string& prefix, std::chrono::milliseconds timeout) const;

  const std::string& workDir() const { return workDir_; }
  std::string logFile() const { return workDir_ + "/sim.log"; }
  const std::string& error() const { return error_; }

  // Path of the faxmodem-sim program: $QN_FAXMODEM_SIM, else $QN_BINARY_DIR/bin/faxmodem-sim.
  static std::string program();

 private:
  std::string workDir_;
  bool ownsDir_ = false;
  std::vector<std::string> args_;
  std::map<std::string, std::string> devices_;
  std::string error_;
  pid_t pid_ = -1;
};

// A program run to its end, or killed after the time-out: its exit status (-1
// when killed or ended by a signal), wall time and everything it wrote to
// stdout and stderr (also left in outputFile). For peer fax programs in tests.
struct ProgramRun {
  int status = -1;
  double seconds = 0;
  std::string output;
};
ProgramRun runProgram(std::vector<std::string> argv, const std::string& outputFile, std::chrono::seconds timeout);

// Page files efax can send (its own TIFF flavour, each page ended by RTC),
// made with efix in dir (pageN.tif); empty, with *error set, on failure. Pages
// must be fine: efix takes a PBM image as 204x196 dpi.
std::vector<std::string> writeEfaxPages(const std::vector<RasterPage>& pages, const std::string& dir,
                                        std::string* error);

}  // namespace qn::sim
