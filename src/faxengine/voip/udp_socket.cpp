// The media UDP endpoint; see udp_socket.h.
#include "udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fe::voip {

namespace {

bool ParsePort(const std::string& s, int& out) {
  if (s.empty() || s.size() > 5) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > 65535) return false;
  out = v;
  return true;
}

// Splits "HOST:PORT" or "[V6]:PORT" into its parts.
bool SplitHostPort(const std::string& text, std::string& host, std::string& port) {
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
    return true;
  }
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || text.find(':') != colon) return false;
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  return true;
}

bool NumericAddress(const std::string& host, int port, TUdpAddress& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | (host.empty() ? AI_PASSIVE : 0);
  addrinfo* res = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &res) != 0 || !res) return false;
  std::memcpy(&out.addr, res->ai_addr, res->ai_addrlen);
  out.len = static_cast<socklen_t>(res->ai_addrlen);
  freeaddrinfo(res);
  return true;
}

}  // namespace

uint16_t TUdpAddress::Port() const {
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
  return 0;
}

std::string TUdpAddress::Text() const {
  char buf[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(Port());
  }
  if (addr.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr, buf, sizeof buf);
    return "[" + std::string(buf) + "]:" + std::to_string(Port());
  }
  return {};
}

bool TUdpAddress::operator==(const TUdpAddress& o) const {
  if (len != o.len || addr.ss_family != o.addr.ss_family) return false;
  if (addr.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(addr);
    const auto& b = reinterpret_cast<const sockaddr_in&>(o.addr);
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
  }
  if (addr.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(addr);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(o.addr);
    return a.sin6_port == b.sin6_port && std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
  }
  return len == 0;
}

bool ParseUdpAddress(const std::string& text, TUdpAddress& out, std::string* error) {
  std::string host, port;
  int p = 0;
  if (!SplitHostPort(text, host, port) || host.empty() || !ParsePort(port, p)) {
    if (error) *error = "\"" + text + "\" is not ADDRESS:PORT";
    return false;
  }
  if (!NumericAddress(host, p, out)) {
    if (error) *error = "\"" + host + "\" is not a numeric IP address";
    return false;
  }
  return true;
}

bool ParseLocalBinding(const std::string& text, TLocalBinding& out, std::string* error) {
  std::string host, ports;
  if (!SplitHostPort(text, host, ports)) {
    if (error) *error = "\"" + text + "\" is not ADDRESS:PORT or ADDRESS:LOW-HIGH";
    return false;
  }
  const size_t dash = ports.find('-');
  int low = 0, high = 0;
  const bool ok = dash == std::string::npos
                      ? ParsePort(ports, low) && (high = low, true)
                      : ParsePort(ports.substr(0, dash), low) && ParsePort(ports.substr(dash + 1), high) && low <= high;
  if (!ok) {
    if (error) *error = "\"" + ports + "\" is not a port (0-65535) or a range LOW-HIGH";
    return false;
  }
  TUdpAddress probe;
  if (!host.empty() && !NumericAddress(host, 0, probe)) {
    if (error) *error = "\"" + host + "\" is not a numeric IP address";
    return false;
  }
  out.host = host;
  out.low = low;
  out.high = high;
  return true;
}

TUdpSocket::~TUdpSocket() {
  Close();
}

void TUdpSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  local_ = {};
}

int TUdpSocket::BindTo(const std::string& host, int port, bool quiet) {
  TUdpAddress want;
  if (!NumericAddress(host, port, want)) {
    error_ = "\"" + host + "\" is not a numeric IP address";
    return -1;
  }
  const int fd = ::socket(want.addr.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error_ = std::string("cannot create a UDP socket: ") + std::strerror(errno);
    return -1;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&want.addr), want.len) != 0) {
    const int e = errno;
    ::close(fd);
    if (!quiet) {
      const std::string where = want.Text();
      if (e == EADDRINUSE)
        error_ = "UDP port " + where + " is in use by another program";
      else if (e == EADDRNOTAVAIL)
        error_ = "address " + where + " is not one of this computer's addresses";
      else if (e == EACCES)
        error_ = "no permission to use UDP port " + where;
      else
        error_ = "cannot bind UDP " + where + ": " + std::strerror(e);
    }
    return -1;
  }
  fd_ = fd;
  local_.len = sizeof local_.addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local_.addr), &local_.len) != 0) local_ = want;
  error_.clear();
  return 0;
}

int TUdpSocket::Open(const std::string& host, int port) {
  Close();
  return BindTo(host, port, false);
}

int TUdpSocket::OpenInRange(const std::string& host, int low, int high, bool evenOnly) {
  Close();
  if (low < 0 || high > 65535 || low > high) {
    error_ = "no valid port range";
    return -1;
  }
  if (low == high) return BindTo(host, low, false);  // one port (0: any): say why it failed
  for (int port = low; port <= high; ++port) {
    if (evenOnly && port % 2 != 0) continue;
    if (BindTo(host, port, true) == 0) return 0;
    if (!error_.empty()) return -1;  // not a busy port but a bad address
  }
  error_ = "no free UDP port in " + (host.empty() ? std::string("*") : host) + ":" + std::to_string(low) + "-" +
           std::to_string(high) + (evenOnly ? " (even ports)" : "");
  return -1;
}

void TUdpSocket::SetRemote(const TUdpAddress& remote) {
  remote_ = remote;
  latched_ = false;
}

bool TUdpSocket::Send(const void* data, size_t size) {
  if (fd_ < 0 || !remote_.Valid()) return false;
  const ssize_t n =
      ::sendto(fd_, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&remote_.addr), remote_.len);
  if (n != static_cast<ssize_t>(size)) {
    ++sendErrors_;
    return false;
  }
  ++sent_;
  return true;
}

int TUdpSocket::Receive(void* buf, size_t max, TUdpAddress* from, bool* truncated) {
  if (fd_ < 0) return -1;
  TUdpAddress src;
  src.len = sizeof src.addr;
  for (;;) {
    const ssize_t n =
        ::recvfrom(fd_, buf, max, MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&src.addr), &src.len);
    if (n < 0) {
      if (errno == EINTR) continue;
      // An ICMP "port unreachable" from an earlier send shows up here: not an
      // error of this socket, nothing to read.
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED) return 0;
      return -1;
    }
    if (n == 0) continue;  // an empty datagram carries nothing
    ++received_;
    if (latching_ && !latched_) {
      remote_ = src;
      latched_ = true;
    }
    if (from) *from = src;
    if (truncated) *truncated = static_cast<size_t>(n) > max;
    return static_cast<int>(static_cast<size_t>(n) > max ? max : static_cast<size_t>(n));
  }
}

}  // namespace fe::voip
