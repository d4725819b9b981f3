// Fax over T.38 through an independent gateway, in real time on 127.0.0.1:
// rtpengine turns T.38 into G.711 for spandsp's audio fax terminal, which
// receives the bench-send page set (three fine text pages, 1600 rows each,
// MMR with ECM at 14400 bit/s).
//   1. Our send engine through the virtual Class 1 modem and our T.38 path
//      (as qnfax send --media t38 runs them), then spandsp's own T.38 terminal
//      sending the same pages on the same path. Each sender runs in a process
//      of its own (this program started again), so its CPU time is its own
//      (getrusage of the ended child). Session time: from the sender's start
//      to the audio terminal's result.
//      Line: "ratio time=peer/ours cpu_per_session_second=ours CPU / ours time".
//   2. Eight of our sessions at once in one process: the CPU share of each.
//   3. Success under loss: 0/1/3/5 % of datagrams lost each way between our
//      T.38 side and rtpengine (a seeded relay), redundancy 0/1/3 for every
//      kind of IFP, five seeds each, one short page; the twelve cells of a
//      seed run at once. A session counts when the terminal reports success
//      and every row arrived intact.
// Needs /usr/bin/rtpengine (Debian package rtpengine-daemon).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fax_ends.h"
#include "fax_pages.h"
#include "line_pages.h"
#include "loss_relay.h"
#include "rtpengine_rig.h"

extern char** environ;

namespace {

using namespace fe::voip;
using namespace fe::voip::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qn::sim::RasterPage;
namespace fs = std::filesystem;

// ------------------------------------------------------------ the child --

// One sending session in a child: where it listens, where it sends, the file,
// the redundancy for every kind of IFP (-1: the path's defaults).
struct SessionPlan {
  int port = 0;
  int remote = 0;
  std::string file;
  int redundancy = -1;
};

bool ParsePlan(const std::string& text, SessionPlan& plan) {
  // PORT,REMOTE,REDUNDANCY,FILE
  char file[4096] = {0};
  if (std::sscanf(text.c_str(), "%d,%d,%d,%4095[^\n]", &plan.port, &plan.remote, &plan.redundancy, file) != 4)
    return false;
  plan.file = file;
  return true;
}

std::string PlanText(const SessionPlan& s) {
  return std::to_string(s.port) + "," + std::to_string(s.remote) + "," + std::to_string(s.redundancy) + "," + s.file;
}

TUdpAddress Loopback(int port) {
  TUdpAddress a;
  ParseUdpAddress("127.0.0.1:" + std::to_string(port), a);
  return a;
}

// Runs every session at once; exit status 0 when all of them ended well.
int RunChild(bool ours, const std::vector<SessionPlan>& plans) {
  int failed = 0;
  if (ours) {
    std::vector<std::unique_ptr<TOurT38Fax>> faxes;
    for (const SessionPlan& s : plans) {
      TOurFaxOptions o;
      o.port = s.port;
      o.sending = true;
      o.file = s.file;
      if (s.redundancy >= 0)
        o.t38.redundancyIndicator = o.t38.redundancyControl = o.t38.redundancyImage = s.redundancy;
      faxes.push_back(std::make_unique<TOurT38Fax>(o));
      if (!faxes.back()->Start(Loopback(s.remote))) {
        std::fprintf(stderr, "cannot start: %s\n", faxes.back()->Error().c_str());
        ++failed;
      }
    }
    for (size_t i = 0; i < faxes.size(); ++i) {
      const int code = faxes[i]->Wait(240s);
      std::printf("session %zu: final code %d\n", i, code);
      if (code != 0) {
        // The end of the call's trace says why.
        const auto trace = faxes[i]->Trace();
        for (size_t k = trace.size() > 30 ? trace.size() - 30 : 0; k < trace.size(); ++k)
          std::printf("  %s\n", trace[k].c_str());
      }
      failed += code != 0;
    }
  } else {
    std::vector<std::unique_ptr<TT38Terminal>> terminals;
    for (const SessionPlan& s : plans) {
      TT38TerminalOptions o;
      o.port = s.port;
      terminals.push_back(std::make_unique<TT38Terminal>(TTerminalRole{true, true, s.file, "SPANDSP T38", true}, o));
      terminals.back()->Start(Loopback(s.remote));
    }
    for (size_t i = 0; i < terminals.size(); ++i) {
      const TTerminalResult r = terminals[i]->Wait(240s);
      terminals[i]->Stop();
      std::printf("session %zu: %s\n", i, r.text.c_str());
      failed += r.code != 0;
    }
  }
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}

// ----------------------------------------------------------- the parent --

int FreePort() {
  TUdpSocket probe;
  return probe.Open("127.0.0.1", 0) == 0 ? probe.Local().Port() : 0;
}

struct Session {
  double seconds = -1;  // sender start to the terminal's result
  bool ok = false;      // success and every row intact
  std::string failure;
};

struct Batch {
  std::vector<Session> sessions;
  double cpuSeconds = 0;  // the sending child's user + system time
  std::string failure;
  double MeanSeconds() const {
    double sum = 0;
    int n = 0;
    for (const Session& s : sessions)
      if (s.seconds > 0) sum += s.seconds, ++n;
    return n ? sum / n : -1;
  }
  int Succeeded() const {
    int n = 0;
    for (const Session& s : sessions) n += s.ok;
    return n;
  }
};

struct Cell {
  double loss = 0;
  int redundancy = -1;
  unsigned seed = 1;
};

class Bench {
 public:
  bool Start() {
    dir_ = fs::temp_directory_path() / ("qn-bench-voip-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    if (!engine_.Start((dir_ / "rtpengine.log").string(), 400)) {
      std::printf("rtpengine: %s\n", engine_.Error().c_str());
      return false;
    }
    return true;
  }
  ~Bench() {
    engine_.Stop();
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Sessions of one sender kind at once, each to an audio terminal of its
  // own through rtpengine; with cells, through a lossy relay each.
  // A session without a result within limit has failed; its sender is then
  // stopped after a few seconds.
  Batch Run(bool ours, const std::string& file, const std::vector<RasterPage>& pages, size_t count,
            const std::vector<Cell>& cells = {}, std::chrono::seconds limit = 240s) {
    Batch batch;
    std::vector<std::unique_ptr<TAudioTerminal>> audio;
    std::vector<std::unique_ptr<TLossRelay>> relays;
    std::vector<SessionPlan> plans;
    std::vector<std::string> calls, received;
    for (size_t i = 0; i < count; ++i) {
      const std::string rx = Path("rx-" + std::to_string(++serial_) + ".tif");
      received.push_back(rx);
      audio.push_back(std::make_unique<TAudioTerminal>(TTerminalRole{false, false, rx, "SPANDSP AUDIO", true}));
      SessionPlan plan;
      plan.port = FreePort();
      plan.file = file;
      TGatewayCall call;
      call.callId = "bench-" + std::to_string(serial_);
      call.t38Port = plan.port;
      call.audioPort = audio.back()->Port();
      std::unique_ptr<TLossRelay> relay;
      if (i < cells.size()) {
        plan.redundancy = cells[i].redundancy;
        // Our side sends to the relay's front; rtpengine meets its back.
        relay = std::make_unique<TLossRelay>();
        TLossRelaySettings settings;
        settings.lossForward = settings.lossBackward = cells[i].loss;
        settings.seed = cells[i].seed * 7919u + static_cast<uint32_t>(i);
        // rtpengine is told a port nobody reads and takes the relay's back
        // socket as the T.38 side at its first datagram (it learns the far
        // end from what arrives); what it sends before that is lost.
        sinks_.push_back(std::make_unique<TUdpSocket>());
        TUdpSocket* sink = sinks_.back().get();
        call.t38Via = [&relay, settings, sink](const TUdpAddress& engineSide) {
          if (relay->Start("127.0.0.1", engineSide, settings) != 0 || sink->Open("127.0.0.1", 0) != 0) return 0;
          return static_cast<int>(sink->Local().Port());
        };
      }
      std::string error;
      if (!audio.back()->Error().empty() || plan.port == 0 || !call.Connect(engine_.Ng(), error)) {
        batch.failure = "cannot set up a call: " + error + audio.back()->Error();
        return batch;
      }
      plan.remote = relay ? relay->FrontPort() : call.t38SendsTo.Port();
      audio.back()->Start(call.audioSendsTo);
      plans.push_back(plan);
      calls.push_back(call.callId);
      relays.push_back(std::move(relay));
    }
    // The sending child.
    std::vector<std::string> args = {"/proc/self/exe", ours ? "--child-ours" : "--child-peer"};
    for (const SessionPlan& s : plans) args.push_back(PlanText(s));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = Path(std::string("child-") + std::to_string(serial_) + ".log");
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const auto t0 = Clock::now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      batch.failure = "cannot start the sending process";
      return batch;
    }
    for (size_t i = 0; i < count; ++i) {
      Session s;
      const TTerminalResult r =
          audio[i]->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(limit - (Clock::now() - t0)));
      if (r.code >= 0) s.seconds = std::chrono::duration<double>(audio[i]->DoneAt() - t0).count();
      if (r.code != 0) {
        s.failure = r.text;
      } else {
        const auto got = qn::sim::readPages(received[i]);
        s.ok = got.size() == pages.size();
        for (size_t p = 0; s.ok && p < pages.size(); ++p) s.ok = qn::sim::samePage(got[p], pages[p], &s.failure);
        if (got.size() != pages.size()) s.failure = std::to_string(got.size()) + " pages arrived";
      }
      batch.sessions.push_back(s);
    }
    // The child ends once its engines have hung up; a stuck one is stopped.
    int status = 0;
    rusage usage{};
    bool late = false;
    for (const Session& s : batch.sessions) late = late || s.seconds < 0;
    const auto until = Clock::now() + (late ? 5s : 60s);
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
      if (Clock::now() > until) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        break;
      }
      std::this_thread::sleep_for(50ms);
    }
    batch.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                       usage.ru_stime.tv_usec / 1e6;
    for (auto& a : audio) a->Stop();
    for (auto& r : relays)
      if (r) r->Stop();
    for (const std::string& c : calls) engine_.Ng().Delete(c);
    sinks_.clear();
    return batch;
  }

 private:
  fs::path dir_;
  TRtpEngine engine_;
  std::vector<std::unique_ptr<TUdpSocket>> sinks_;
  int serial_ = 0;
};

}  // namespace

namespace {

void PrintRun(const char* name, const Batch& b) {
  if (!b.failure.empty() || b.sessions.empty() || !b.sessions[0].ok) {
    std::printf("%-44s failed: %s\n", name,
                !b.failure.empty() ? b.failure.c_str() : b.sessions.empty() ? "no session" : b.sessions[0].failure.c_str());
    return;
  }
  std::printf("%-44s %7.2f s session %6.3f s CPU (%.4f CPU s per session s)\n", name, b.sessions[0].seconds,
              b.cpuSeconds, b.cpuSeconds / b.sessions[0].seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::string(argv[1]) == "--child-ours" || std::string(argv[1]) == "--child-peer")) {
    std::vector<SessionPlan> plans;
    for (int i = 2; i < argc; ++i) {
      SessionPlan s;
      if (!ParsePlan(argv[i], s)) return 2;
      plans.push_back(s);
    }
    return RunChild(std::string(argv[1]) == "--child-ours", plans);
  }
  if (RtpEngineBinary().empty()) {
    std::printf("rtpengine is not installed (Debian package rtpengine-daemon): nothing measured\n");
    return 1;
  }
  // bench-voip [parts]: "ratio", "many", "loss"; all three by default.
  std::string parts = argc >= 2 ? argv[1] : "ratio,many,loss";
  Bench bench;
  if (!bench.Start()) return 1;
  int status = 0;

  const auto pages = fe::test::FineTextPages(3, 1600);
  const std::string apf = bench.Path("BENCH.APF"), tiff = bench.Path("bench.tif");
  if (!fe::test::WriteApfPages(apf, pages) || !qn::sim::writeTiff(tiff, pages)) {
    std::printf("cannot write the pages\n");
    return 1;
  }
  if (parts.find("ratio") != std::string::npos) {
    std::printf("3 fine text pages (1600 rows) at 14400 bit/s, MMR + ECM, T.38 through rtpengine to spandsp's audio terminal\n");
    const Batch ours = bench.Run(true, apf, pages, 1);
    const Batch peer = bench.Run(false, tiff, pages, 1);
    PrintRun("ours (virtual modem + T.38 path)", ours);
    PrintRun("peer (spandsp t38_terminal + our UDPTL)", peer);
    if (ours.Succeeded() == 1 && peer.Succeeded() == 1) {
      std::printf("ratio time=%.3f cpu_per_session_second=%.4f\n", peer.sessions[0].seconds / ours.sessions[0].seconds,
                  ours.cpuSeconds / ours.sessions[0].seconds);
    } else {
      std::printf("a session failed\n");
      status = 1;
    }
    std::fflush(stdout);
  }
  if (parts.find("many") != std::string::npos) {
    const size_t n = 8;
    const Batch many = bench.Run(true, apf, pages, n);
    const double mean = many.MeanSeconds();
    std::printf("%zu sessions at once in one process: %d/%zu intact, mean %.2f s, CPU %.3f s, %.3f s per session, "
                "CPU share per session %.3f %%\n",
                n, many.Succeeded(), n, mean, many.cpuSeconds, many.cpuSeconds / n,
                mean > 0 ? 100.0 * many.cpuSeconds / (n * mean) : 0.0);
    if (many.Succeeded() != static_cast<int>(n)) status = 1;
    std::fflush(stdout);
  }
  if (parts.find("loss") != std::string::npos) {
    // One short page: length proves nothing here, the negotiation and the
    // page under loss do.
    const auto page = fe::test::FineTextPages(1, 800);
    const std::string shortApf = bench.Path("SHORT.APF");
    if (!fe::test::WriteApfPages(shortApf, page)) return 1;
    const double losses[] = {0, 0.01, 0.03, 0.05};
    const int redundancies[] = {0, 1, 3};
    const int seeds = 5;
    int ok[4][3] = {};
    double seconds[4][3] = {};
    for (int seed = 1; seed <= seeds; ++seed) {
      std::vector<Cell> cells;
      for (double loss : losses)
        for (int r : redundancies) cells.push_back({loss, r, static_cast<unsigned>(seed)});
      // A clean session takes about 25 s; one still going after 100 s has
      // failed (T.30 on both sides would give up later still).
      const Batch b = bench.Run(true, shortApf, page, cells.size(), cells, 100s);
      if (!b.failure.empty()) std::printf("seed %d: %s\n", seed, b.failure.c_str());
      for (size_t i = 0; i < b.sessions.size(); ++i) {
        ok[i / 3][i % 3] += b.sessions[i].ok;
        if (b.sessions[i].ok) seconds[i / 3][i % 3] += b.sessions[i].seconds;
      }
      std::fflush(stdout);
    }
    std::printf("1 fine page (800 rows), MMR + ECM, loss each way between our T.38 side and rtpengine; "
                "intact sessions of %d (mean seconds of those)\n",
                seeds);
    std::printf("loss    redundancy 0      redundancy 1      redundancy 3\n");
    for (int l = 0; l < 4; ++l) {
      std::printf("%3.0f %%", losses[l] * 100);
      for (int r = 0; r < 3; ++r)
        std::printf("   %d/%d (%5.1f s)  ", ok[l][r], seeds, ok[l][r] ? seconds[l][r] / ok[l][r] : 0.0);
      std::printf("\n");
    }
  }
  return status;
}
