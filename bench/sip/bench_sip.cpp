// bench-sip: the bench-send page set (three fine text pages, 1600 rows each)
// over SIP through Kamailio (registrar and proxy with digest) and rtpengine
// (media relay, T.38 to G.711 gateway) to spandsp's audio fax terminal, whose
// SIP leg is SIPp.
//   ours: qnfax send --sip with T.38: an audio call, then its own T.38
//         re-INVITE, which Kamailio has rtpengine answer for the terminal.
//         Set-up time: INVITE to 200 ("calling" to "call up" in the trace);
//         switch time: the T.38 re-INVITE to its ACK ("asking for T.38" to
//         "call switched"); session time: the qnfax process from start to
//         end; CPU: its user + system time (getrusage of the ended child).
//   peer: spandsp's T.38 terminal calling with T.38 in the first INVITE on
//         the same path; set-up time from its leg's start to the answer,
//         session time from its leg's start to the terminal's phase E.
// Last line: "ratio session_time=peer/ours".
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "fax_ends.h"
#include "fax_pages.h"
#include "kamailio_rig.h"
#include "line_pages.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using fe::sip::test::TKamailio;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

// A child process with its output in a file.
pid_t Spawn(std::vector<std::string> args, const std::string& out) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Waits for a child until the limit (then kills it); its exit status, -1 when
// killed; cpu gets its user + system seconds.
int Reap(pid_t pid, std::chrono::seconds limit, double* cpu = nullptr) {
  int status = 0;
  rusage usage{};
  const auto until = Clock::now() + limit;
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    if (Clock::now() > until) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  if (cpu)
    *cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Sipp(const std::string& scenario, int port, const std::string& dir,
                              std::vector<std::string> extra) {
  std::vector<std::string> args = {"sipp",
                                   "-sf",
                                   std::string(QN_SOURCE_DIR) + "/tests/faxengine/sip/scenarios/" + scenario,
                                   "-i",
                                   "127.0.0.1",
                                   "-p",
                                   std::to_string(port),
                                   "-m",
                                   "1",
                                   "-nostdin",
                                   "-timeout",
                                   "200",
                                   "-timeout_error",
                                   "-trace_err",
                                   "-error_file",
                                   dir + "/" + scenario + ".err"};
  for (auto& e : extra) args.push_back(e);
  return args;
}

// The time (seconds into the trace) of the first line holding what; -1 if none.
double TraceTime(const std::string& trace, const std::string& what) {
  const size_t at = trace.find(what);
  if (at == std::string::npos) return -1;
  const size_t start = trace.rfind('\n', at);
  return std::atof(trace.c_str() + (start == std::string::npos ? 0 : start + 1));
}

int WaitPortFile(const std::string& path, std::chrono::seconds limit) {
  for (const auto until = Clock::now() + limit; Clock::now() < until; std::this_thread::sleep_for(5ms))
    if (const int port = std::atoi(ReadFile(path).c_str()); port > 0) return port;
  return 0;
}

struct Result {
  bool ok = false;
  double setup = -1, sw = -1, session = -1, cpu = -1;
  std::string failure;
};

bool PagesMatch(const std::string& tif, const std::vector<qn::sim::RasterPage>& pages, std::string& why) {
  const auto got = qn::sim::readPages(tif);
  if (got.size() != pages.size()) return why = std::to_string(got.size()) + " pages arrived", false;
  for (size_t p = 0; p < pages.size(); ++p)
    if (!qn::sim::samePage(got[p], pages[p], &why)) return false;
  return true;
}

// The terminal's answering leg, registered as 2003; returns the leg's pid.
pid_t AnsweringTerminal(TKamailio& k, const std::string& dir, int mediaPort, const std::string& portFile) {
  const int legPort = FreePort();
  const pid_t leg = Spawn(Sipp("kam_terminal_answer.xml", legPort, dir,
                               {"-set", "media_port", std::to_string(mediaPort), "-set", "port_file", portFile}),
                          dir + "/leg.out");
  std::this_thread::sleep_for(300ms);
  const pid_t reg = Spawn(Sipp("kam_terminal_register.xml", FreePort(), dir,
                               {"-set", "contact_port", std::to_string(legPort), "-set", "user", "2003", "-au", "2003",
                                "-ap", "t3rm-secret", k.Address()}),
                          dir + "/reg.out");
  if (Reap(reg, 20s) != 0) {
    kill(leg, SIGTERM);
    Reap(leg, 5s);
    return -1;
  }
  return leg;
}

Result Ours(TKamailio& k, const std::string& dir, const std::vector<qn::sim::RasterPage>& pages) {
  Result r;
  fe::voip::test::TAudioTerminal terminal({false, false, dir + "/ours.tif", "SPANDSP RX", true});
  const std::string portFile = dir + "/ours.port";
  const pid_t leg = AnsweringTerminal(k, dir, terminal.Port(), portFile);
  if (leg < 0) return r.failure = "the terminal did not register", r;
  std::vector<std::string> args = {std::string(QN_BINARY_DIR) + "/bin/qnfax",
                                   "send",
                                   "--number",
                                   "2003",
                                   "--bps",
                                   "14400",
                                   "--trace",
                                   dir + "/ours.trace",
                                   "--sip",
                                   "--user",
                                   "2001",
                                   "--domain",
                                   TKamailio::kDomain,
                                   "--registrar",
                                   k.Address(),
                                   "--proxy",
                                   k.Address(),
                                   "--password-file",
                                   dir + "/2001.pw",
                                   "--sip-local",
                                   "127.0.0.1",
                                   "--sip-port",
                                   std::to_string(FreePort()),
                                   "--media-ports",
                                   "0-0",
                                   dir + "/X.APF"};
  const auto start = Clock::now();
  const pid_t tx = Spawn(args, dir + "/ours.out");
  const int remote = WaitPortFile(portFile, 20s);
  fe::voip::TUdpAddress to;
  if (remote > 0 && fe::voip::ParseUdpAddress("127.0.0.1:" + std::to_string(remote), to)) {
    terminal.Start(to);
    const auto t = terminal.Wait(200s);
    if (t.code != 0) r.failure = "terminal: " + t.text;
  } else {
    r.failure = "no offer reached the terminal";
  }
  const int status = Reap(tx, 200s, &r.cpu);
  r.session = std::chrono::duration<double>(Clock::now() - start).count();
  terminal.Stop();
  Reap(leg, 10s);
  const std::string trace = ReadFile(dir + "/ours.trace");
  const double calling = TraceTime(trace, "sip: calling"), up = TraceTime(trace, "sip: call up");
  const double ask = TraceTime(trace, "sip: asking for T.38"),
               switched = TraceTime(trace, "sip: call switched to T.38");
  if (calling >= 0 && up >= 0) r.setup = up - calling;
  if (ask >= 0 && switched >= 0) r.sw = switched - ask;
  std::string why;
  if (r.failure.empty() && status != 0) r.failure = "qnfax exited with " + std::to_string(status);
  if (r.failure.empty() && !PagesMatch(dir + "/ours.tif", pages, why)) r.failure = why;
  r.ok = r.failure.empty();
  return r;
}

Result Peer(TKamailio& k, const std::string& dir, const std::vector<qn::sim::RasterPage>& pages) {
  Result r;
  fe::voip::test::TAudioTerminal audio({false, false, dir + "/peer.tif", "SPANDSP RX", true});
  fe::voip::test::TT38Terminal t38({true, true, dir + "/out.tif", "SPANDSP T38", true});
  const std::string audioPort = dir + "/peer-audio.port", t38Port = dir + "/peer-t38.port";
  const pid_t leg = AnsweringTerminal(k, dir, audio.Port(), audioPort);
  if (leg < 0) return r.failure = "the terminal did not register", r;
  const auto start = Clock::now();
  const pid_t caller =
      Spawn(Sipp("kam_t38_call.xml", FreePort(), dir,
                 {"-set", "media_port", std::to_string(t38.Port()), "-set", "port_file", t38Port, "-set", "callee",
                  "2003", "-set", "user", "2001", "-au", "2001", "-ap", "al1ce-secret", k.Address()}),
            dir + "/caller.out");
  const int a = WaitPortFile(audioPort, 20s);
  const int t = WaitPortFile(t38Port, 20s);
  r.setup = std::chrono::duration<double>(Clock::now() - start).count();
  fe::voip::TUdpAddress toAudio, toT38;
  if (a > 0 && t > 0 && fe::voip::ParseUdpAddress("127.0.0.1:" + std::to_string(a), toAudio) &&
      fe::voip::ParseUdpAddress("127.0.0.1:" + std::to_string(t), toT38)) {
    audio.Start(toAudio);
    t38.Start(toT38);
    const auto sent = t38.Wait(200s);
    r.session = std::chrono::duration<double>(Clock::now() - start).count();
    const auto got = audio.Wait(20s);
    if (sent.code != 0)
      r.failure = "T.38 terminal: " + sent.text;
    else if (got.code != 0)
      r.failure = "audio terminal: " + got.text;
  } else {
    r.failure = "the call was not answered";
  }
  t38.Stop();
  audio.Stop();
  // Nobody hangs this call up but the bench: the legs are stopped.
  kill(caller, SIGTERM);
  kill(leg, SIGTERM);
  Reap(caller, 5s);
  Reap(leg, 5s);
  std::string why;
  if (r.failure.empty() && !PagesMatch(dir + "/peer.tif", pages, why)) r.failure = why;
  r.ok = r.failure.empty();
  return r;
}

void Print(const char* who, const Result& r) {
  std::printf("%-5s %s setup=%.3f s switch=%s session=%.2f s cpu=%s%s%s\n", who, r.ok ? "ok  " : "FAIL", r.setup,
              r.sw >= 0 ? (std::to_string(r.sw).substr(0, 5) + " s").c_str() : "n/a", r.session,
              r.cpu >= 0 ? (std::to_string(r.cpu).substr(0, 5) + " s").c_str() : "n/a", r.ok ? "" : ": ",
              r.failure.c_str());
}

}  // namespace

int main() {
  if (fe::sip::test::KamailioBinary().empty() || fe::voip::test::RtpEngineBinary().empty() ||
      std::system("sipp -v >/dev/null 2>&1") == 127 * 256) {
    std::printf("bench-sip needs kamailio (with its rtpengine module), rtpengine and sipp\n");
    return 2;
  }
  const std::string dir = (std::filesystem::temp_directory_path() / ("qn-bench-sip-" + std::to_string(getpid())));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto pages = fe::test::FineTextPages(3, 1600);
  if (!fe::test::WriteApfPages(dir + "/X.APF", pages) || !qn::sim::writeTiff(dir + "/out.tif", pages)) {
    std::printf("cannot write the pages\n");
    return 1;
  }
  std::ofstream(dir + "/2001.pw") << "al1ce-secret\n";
  TKamailio k;
  if (!k.Start(dir, {{"2001", "al1ce-secret", false}, {"2003", "t3rm-secret", true}})) {
    std::printf("cannot start the servers: %s\n", k.Error().c_str());
    return 1;
  }
  std::printf("bench-sip: 3 fine pages of 1600 rows through Kamailio and rtpengine to spandsp's audio terminal\n");
  const Result ours = Ours(k, dir, pages);
  Print("ours", ours);
  const Result peer = Peer(k, dir, pages);
  Print("peer", peer);
  k.Stop();
  if (ours.ok && peer.ok) {
    std::printf("ratio session_time=%.3f\n", peer.session / ours.session);
    std::filesystem::remove_all(dir);
    return 0;
  }
  std::printf("files kept in %s\n", dir.c_str());
  return 1;
}
