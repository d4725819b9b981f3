#include "sim_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace qn::sim {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

FaxModemSim::FaxModemSim(std::string workDir) : workDir_(std::move(workDir)) {
  if (workDir_.empty()) {
    std::string pattern = (fs::temp_directory_path() / "faxmodem-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      workDir_ = pattern;
      ownsDir_ = true;
    }
  }
}

FaxModemSim::~FaxModemSim() {
  stop();
  if (ownsDir_ && std::getenv("QN_KEEP_SIM_FILES") == nullptr) {
    std::error_code ec;
    fs::remove_all(workDir_, ec);
  }
}

std::string FaxModemSim::program() {
  if (const char* path = std::getenv("QN_FAXMODEM_SIM")) return path;
  if (const char* dir = std::getenv("QN_BINARY_DIR")) return std::string(dir) + "/bin/faxmodem-sim";
#ifdef QN_BINARY_DIR
  return std::string(QN_BINARY_DIR) + "/bin/faxmodem-sim";
#else
  return "faxmodem-sim";
#endif
}

void FaxModemSim::addModem(ModemKind kind, const std::string& number) {
  static const char* const names[] = {"class1", "class2", "class2.0"};
  args_.insert(args_.end(), {"--modem", std::string(names[static_cast<int>(kind)]) + "::" + number});
}

void FaxModemSim::addReceiver(const std::string& number, const std::string& tiffFile) {
  args_.insert(args_.end(), {"--terminal", "receive:" + number + ":" + tiffFile});
}

void FaxModemSim::addSender(const std::string& number, const std::string& tiffFile, const std::string& callNumber,
                            int afterMs) {
  std::string text = "send:" + number + ":" + tiffFile;
  if (!callNumber.empty()) text += ":call=" + callNumber + ":after=" + std::to_string(afterMs);
  args_.insert(args_.end(), {"--terminal", text});
}

void FaxModemSim::addBusyNumber(const std::string& number) {
  args_.insert(args_.end(), {"--busy", number});
}

void FaxModemSim::addArgs(const std::vector<std::string>& args) {
  args_.insert(args_.end(), args.begin(), args.end());
}

bool FaxModemSim::start(std::chrono::milliseconds timeout) {
  if (workDir_.empty()) {
    error_ = "no work folder";
    return false;
  }
  const std::string ready = workDir_ + "/ready";
  fs::remove(ready);
  std::vector<std::string> argv = {program(),           "--ready-file",       ready,
                                   "--events",          workDir_ + "/events", "--log",
                                   logFile(),           "--control",          workDir_ + "/control",
                                   "--exit-with-parent"};
  argv.insert(argv.end(), args_.begin(), args_.end());
  std::vector<char*> cargs;
  for (auto& arg : argv) cargs.push_back(arg.data());
  cargs.push_back(nullptr);
  const std::string output = workDir_ + "/output";
  pid_ = fork();
  if (pid_ < 0) {
    error_ = "fork failed";
    return false;
  }
  if (pid_ == 0) {
    int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execv(cargs[0], cargs.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(ready);
    std::string line;
    std::map<std::string, std::string> devices;
    bool complete = false;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string kind, number, device;
      words >> kind >> number >> device;
      if (kind == "ready") complete = true;
      if (kind.rfind("class", 0) == 0) devices[number] = device;
    }
    if (complete) {
      devices_ = devices;
      return true;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      std::ifstream err(output);
      std::stringstream text;
      text << err.rdbuf();
      error_ = "faxmodem-sim exited: " + text.str();
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  error_ = "faxmodem-sim did not get ready";
  stop();
  return false;
}

bool FaxModemSim::stop() {
  if (pid_ <= 0) return false;
  kill(pid_, SIGTERM);
  int status = 0;
  bool exited = false;
  for (int i = 0; i < 250 && !exited; ++i) {
    exited = waitpid(pid_, &status, WNOHANG) == pid_;
    if (!exited) std::this_thread::sleep_for(20ms);
  }
  if (!exited) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  if (exited && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  std::ifstream out(workDir_ + "/output");
  std::stringstream text;
  text << out.rdbuf();
  error_ = "faxmodem-sim did not end cleanly: " + text.str();
  return false;
}

std::string FaxModemSim::device(const std::string& number) const {
  auto it = devices_.find(number);
  return it == devices_.end() ? std::string() : it->second;
}

void FaxModemSim::pointComPort(int n, const std::string& number) const {
  setenv(("QN_COM" + std::to_string(n)).c_str(), device(number).c_str(), 1);
}

bool FaxModemSim::stopBursts() {
  std::ofstream control(workDir_ + "/control");
  control << "bursts off\n";
  return static_cast<bool>(control.flush());
}

bool FaxModemSim::call(const std::string& fromNumber, const std::string& toNumber) {
  std::ofstream control(workDir_ + "/control");
  control << "call " << fromNumber << " " << toNumber << "\n";
  return static_cast<bool>(control.flush());
}

std::vector<std::string> FaxModemSim::events() const {
  std::vector<std::string> lines;
  std::ifstream in(workDir_ + "/events");
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string FaxModemSim::waitForEvent(const std::string& prefix, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    for (const auto& line : events())
      if (line.rfind(prefix, 0) == 0) return line;
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return {};
}

ProgramRun runProgram(std::vector<std::string> argv, const std::string& outputFile, std::chrono::seconds timeout) {
  std::vector<char*> cargs;
  for (auto& arg : argv) cargs.push_back(arg.data());
  cargs.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    execvp(cargs[0], cargs.data());
    _exit(127);
  }
  ProgramRun run;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() - start > timeout) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(50ms);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = status == -1 ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::ifstream in(outputFile);
  std::stringstream text;
  text << in.rdbuf();
  run.output = text.str();
  return run;
}

std::vector<std::string> writeEfaxPages(const std::vector<RasterPage>& pages, const std::string& dir,
                                        std::string* error) {
  std::vector<std::string> files;
  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string pbm = dir + "/page" + std::to_string(i + 1) + ".pbm";
    const std::string tif = dir + "/page" + std::to_string(i + 1) + ".tif";
    if (!writePbm(pbm, pages[i])) {
      *error = "cannot write " + pbm;
      return {};
    }
    ProgramRun efix = runProgram({"efix", "-i", "pbm", "-o", "tiffg3", "-n", tif, pbm}, dir + "/efix.out", 30s);
    if (efix.status != 0) {
      *error = "efix: " + efix.output;
      return {};
    }
    files.push_back(tif);
  }
  return files;
}

}  // namespace qn::sim
