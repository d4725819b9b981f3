// A minimal DTE for tests: opens a virtual modem's pseudo-terminal, sends AT
// commands and collects the modem's response lines.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace qn::sim {

class AtClient {
 public:
  explicit AtClient(const std::string& device);
  ~AtClient();
  bool isOpen() const { return fd_ >= 0; }

  void send(const std::string& text);  // written as is
  // Sends "AT" + command + CR and returns the lines up to a final result
  // (OK, ERROR, CONNECT, NO CARRIER, BUSY, NO ANSWER, NO DIALTONE) or the time-out.
  std::vector<std::string> command(const std::string& command,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits for a line that starts with prefix; returns it, or "" on time-out.
  std::string waitLine(const std::string& prefix, std::chrono::milliseconds timeout);
  // Reads DLE-framed data (frame or page) up to and including DLE ETX, as sent
  // (a doubled DLE stays doubled); what follows stays for the next read.
  std::string readData(std::chrono::milliseconds timeout);

 private:
  bool readLine(std::string& line, std::chrono::steady_clock::time_point deadline);
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace qn::sim
