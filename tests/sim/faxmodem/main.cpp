// faxmodem-sim: virtual fax modems on pseudo-terminals and fax terminals, joined
// by a simulated telephone line, run in real time (a 20 ms tick of 160 samples).
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "class1_modem.h"
#include "class2_modem.h"
#include "exchange.h"
#include "options.h"
#include "terminal.h"

namespace faxsim {
namespace {

constexpr int kTickSamples = 160;  // 20 ms at 8000 samples per second
constexpr long kTickNs = 20'000'000;

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
  stopRequested = 1;
}

void writeReadyFile(const std::string& path, const std::vector<std::unique_ptr<Endpoint>>& endpoints) {
  if (path.empty()) return;
  // Written under a temporary name and renamed, so a reader never sees half a file.
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const auto& endpoint : endpoints) out << endpoint->describe() << "\n";
    out << "ready " << getpid() << "\n";
    if (!out) throw std::runtime_error("cannot write " + temp);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename " + temp);
}

// Commands written to the control FIFO, one per line: "call FROM TO", "hangup NUMBER",
// "bursts off".
class Control {
 public:
  explicit Control(const std::string& path) : path_(path) {
    if (path_.empty()) return;
    unlink(path_.c_str());
    if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("cannot create FIFO " + path_);
    fd_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    keep_ = open(path_.c_str(), O_WRONLY | O_NONBLOCK);  // so the FIFO never reads as closed
  }
  ~Control() {
    if (fd_ >= 0) close(fd_);
    if (keep_ >= 0) close(keep_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  void poll(std::map<std::string, Endpoint*>& byNumber, Exchange& exchange, Events& events) {
    if (fd_ < 0) return;
    char buf[256];
    ssize_t n;
    while ((n = read(fd_, buf, sizeof buf)) > 0) pending_.append(buf, static_cast<size_t>(n));
    size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      std::istringstream line(pending_.substr(0, eol));
      pending_.erase(0, eol + 1);
      std::string verb, from, to;
      line >> verb >> from >> to;
      if (verb == "bursts") {
        if (from == "off")
          exchange.stopBursts();
        else
          events.add("control error: bursts takes only off");
        continue;
      }
      auto it = byNumber.find(from);
      if (it == byNumber.end()) {
        events.add("control error: no endpoint " + from);
      } else if (verb == "call") {
        if (auto* terminal = dynamic_cast<Terminal*>(it->second))
          terminal->call(to);
        else
          events.add("control error: only a terminal places calls by command");
      } else if (verb == "hangup") {
        exchange.hangup(*it->second);
      } else {
        events.add("control error: unknown command " + verb);
      }
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
  int keep_ = -1;
  std::string pending_;
};

timespec addNs(timespec t, long ns) {
  t.tv_nsec += ns;
  while (t.tv_nsec >= 1'000'000'000) {
    t.tv_nsec -= 1'000'000'000;
    ++t.tv_sec;
  }
  return t;
}

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

int run(const Options& options) {
  openLog(options.logFile);
  if (options.exitWithParent) prctl(PR_SET_PDEATHSIG, SIGTERM);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);
  std::signal(SIGHUP, onSignal);
  std::signal(SIGPIPE, SIG_IGN);

  Events events(options.eventsFile);
  Exchange exchange(events, options.timing, options.impairment);
  for (const auto& number : options.busy) exchange.setBusy(number);
  std::vector<std::unique_ptr<Endpoint>> endpoints;
  for (const auto& modem : options.modems) {
    if (modem.modemClass == ModemClass::Class1)
      endpoints.push_back(std::make_unique<Class1Modem>(modem.number, modem.link, exchange, events));
    else
      endpoints.push_back(std::make_unique<Class2Modem>(modem.number, modem.link,
                                                        modem.modemClass == ModemClass::Class2_0, exchange, events));
  }
  for (const auto& terminal : options.terminals)
    endpoints.push_back(std::make_unique<Terminal>(terminal, exchange, events));
  std::map<std::string, Endpoint*> byNumber;
  for (auto& endpoint : endpoints) {
    exchange.attach(*endpoint);
    byNumber[endpoint->number()] = endpoint.get();
  }
  Control control(options.controlFifo);
  writeReadyFile(options.readyFile, endpoints);
  for (const auto& endpoint : endpoints) std::cout << endpoint->describe() << std::endl;

  timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (!stopRequested) {
    next = addNs(next, kTickNs);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    // After a stall (a debugger, an overloaded machine) carry on from now
    // instead of racing through the missed ticks.
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (before(addNs(next, 10 * kTickNs), now)) next = now;
    control.poll(byNumber, exchange, events);
    for (auto& endpoint : endpoints) endpoint->service(kTickSamples);
    exchange.tick(kTickSamples);
  }
  if (!options.readyFile.empty()) unlink(options.readyFile.c_str());
  return 0;
}

}  // namespace
}  // namespace faxsim

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << faxsim::usage();
    return 0;
  }
  try {
    return faxsim::run(faxsim::parseOptions(args));
  } catch (const std::invalid_argument& e) {
    std::cerr << "faxmodem-sim: " << e.what() << "\n" << faxsim::usage();
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "faxmodem-sim: " << e.what() << "\n";
    return 1;
  }
}
