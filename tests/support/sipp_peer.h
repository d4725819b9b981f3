// SIPp as the far end of the SIP tests: each test starts its own sipp on a free
// loopback port with a scenario of tests/faxengine/sip/scenarios, waits for it
// to finish (its exit status says whether every step of the scenario happened)
// and stops it by pid. Google Test and Qt Test both use it: KeepLogs() says
// whether the current test failed, so that sipp's logs stay behind to be read.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace siptest {

// Whether the running test has failed; the test framework's header sets it.
inline bool (*KeepLogs)() = nullptr;

// A UDP port on 127.0.0.1 that was free a moment ago.
inline int FreeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

inline bool HaveSipp() {
  return std::system("sipp -v >/dev/null 2>&1") != 127;
}

class SippPeer {
 public:
  // sipp's logs stay behind only when the test failed.
  ~SippPeer() {
    Kill();
    std::error_code ec;
    if (!dir_.empty() && !(KeepLogs && KeepLogs())) std::filesystem::remove_all(dir_, ec);
  }

  // Runs sipp with scenario (a file of tests/faxengine/sip/scenarios) on port;
  // target "127.0.0.1:PORT" makes it the calling side.
  bool Start(const std::string& scenario, int port, const std::string& target = {},
             std::vector<std::string> extra = {}) {
    dir_ =
        std::filesystem::temp_directory_path() / ("qn-sipp-" + std::to_string(::getpid()) + "-" + std::to_string(port));
    std::filesystem::create_directories(dir_);
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
                                     "25",
                                     "-timeout_error",
                                     "-trace_err",
                                     "-error_file",
                                     (dir_ / "errors.log").string(),
                                     "-trace_msg",
                                     "-message_file",
                                     (dir_ / "messages.log").string()};
    for (auto& e : extra) args.push_back(e);
    if (!target.empty()) args.push_back(target);
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const int out = ::open((dir_ / "screen.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
      }
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execvp("sipp", argv.data());
      ::_exit(127);
    }
    // A listening sipp needs a moment to bind before anyone sends to it.
    std::this_thread::sleep_for(std::chrono::milliseconds(target.empty() ? 300 : 0));
    return true;
  }

  // sipp's exit status (0: every call of the scenario succeeded), or -1 when
  // it had not finished in time (it is then stopped).
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > end) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Kill();
    return -1;
  }

  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

  // What sipp logged: its errors and the messages both ways, for failures.
  std::string Log() const {
    std::string all;
    for (const char* f : {"errors.log", "messages.log", "screen.log"}) {
      std::ifstream in(dir_ / f);
      std::stringstream ss;
      ss << in.rdbuf();
      all += std::string("---- ") + f + "\n" + ss.str().substr(0, 20000) + "\n";
    }
    return all;
  }

  // The messages sipp exchanged, to look into.
  std::string Messages() const {
    std::ifstream in(dir_ / "messages.log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

 private:
  pid_t pid_ = -1;
  std::filesystem::path dir_;
};

}  // namespace siptest
