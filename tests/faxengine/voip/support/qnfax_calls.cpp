// Whole qnfax calls over IP for tests and benchmarks; see qnfax_calls.h.
#include "qnfax_calls.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "udp_socket.h"

namespace fe::voip::test {

std::string TempDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("qn-voip-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "in");
  return dir.string();
}

int FreePort() {
  TUdpSocket probe;
  if (probe.Open("127.0.0.1", 0) != 0) return 0;
  return probe.Local().Port();
}

std::string QnfaxBinary() {
  return std::string(QN_BINARY_DIR) + "/bin/qnfax";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string PageDifferences(const std::vector<qn::sim::RasterPage>& got,
                            const std::vector<qn::sim::RasterPage>& sent) {
  if (got.size() != sent.size())
    return std::to_string(got.size()) + " pages arrived, " + std::to_string(sent.size()) + " were sent";
  std::string out;
  for (size_t i = 0; i < sent.size(); ++i) {
    std::string why;
    if (!qn::sim::samePage(got[i], sent[i], &why)) out += "page " + std::to_string(i + 1) + ": " + why + "\n";
  }
  return out;
}

QnfaxReceiver::QnfaxReceiver(const std::string& dir, const std::string& media, int port,
                             std::vector<std::string> extra, std::chrono::seconds limit) {
  std::vector<std::string> argv = {
      QnfaxBinary(), "receive",   "--media", media,     "--local",        "127.0.0.1:" + std::to_string(port),
      "--dir",       dir + "/in", "--one",   "--trace", dir + "/rx.trace"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  thread_ = std::thread([this, argv, dir, limit] { run_ = qn::sim::runProgram(argv, dir + "/rx.out", limit); });
}

QnfaxReceiver::~QnfaxReceiver() {
  Join();
}

void QnfaxReceiver::Join() {
  if (thread_.joinable()) thread_.join();
}

qn::sim::ProgramRun QnfaxSend(const std::string& dir, const std::string& media, int local, int remote,
                              const std::string& file, std::vector<std::string> extra, std::chrono::seconds limit) {
  std::vector<std::string> argv = {QnfaxBinary(), "send",
                                   "--media",     media,
                                   "--local",     "127.0.0.1:" + std::to_string(local),
                                   "--remote",    "127.0.0.1:" + std::to_string(remote),
                                   "--trace",     dir + "/tx.trace"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(file);
  return qn::sim::runProgram(argv, dir + "/tx.out", limit);
}

}  // namespace fe::voip::test
