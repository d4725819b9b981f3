#include "at_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace qn::sim {

AtClient::AtClient(const std::string& device) {
  fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return;
  termios tio{};
  tcgetattr(fd_, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd_, TCSANOW, &tio);
}

AtClient::~AtClient() {
  if (fd_ >= 0) close(fd_);
}

void AtClient::send(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
}

bool AtClient::readLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    size_t eol;
    while ((eol = buffer_.find_first_of("\r\n")) != std::string::npos) {
      line = buffer_.substr(0, eol);
      buffer_.erase(0, eol + 1);
      if (!line.empty()) return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[512];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) buffer_.append(buf, static_cast<size_t>(n));
  }
}

std::vector<std::string> AtClient::command(const std::string& command, std::chrono::milliseconds timeout) {
  static const char* const finals[] = {"OK", "ERROR", "CONNECT", "NO CARRIER", "BUSY", "NO ANSWER", "NO DIALTONE"};
  send("AT" + command + "\r");
  std::vector<std::string> lines;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string line;
  while (readLine(line, deadline)) {
    lines.push_back(line);
    for (const char* f : finals)
      if (line.rfind(f, 0) == 0) return lines;
  }
  return lines;
}

std::string AtClient::waitLine(const std::string& prefix, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string line;
  while (readLine(line, deadline))
    if (line.rfind(prefix, 0) == 0) return line;
  return {};
}

std::string AtClient::readData(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t scanned = 0;
  for (;;) {
    while (scanned + 1 < buffer_.size()) {
      if (buffer_[scanned] != '\x10') {
        ++scanned;
        continue;
      }
      if (buffer_[scanned + 1] == '\x03') {
        std::string data = buffer_.substr(0, scanned + 2);
        buffer_.erase(0, scanned + 2);
        return data;
      }
      scanned += 2;  // DLE and the character it escapes
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) buffer_.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace qn::sim
