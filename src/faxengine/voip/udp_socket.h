// A UDP endpoint for a call's media: bound to a local address and port (or the
// first free one of a range, even ports only for RTP), non-blocking receive, and
// sending to the remote from the same port it receives on (symmetric RTP). Until
// a remote is latched, the source of the first datagram that arrives becomes the
// remote, so a caller behind NAT is answered at the address its packets come
// from rather than at the one it announced.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fe::voip {

// An IPv4 or IPv6 address with a port.
struct TUdpAddress {
  sockaddr_storage addr{};
  socklen_t len = 0;

  bool Valid() const { return len > 0; }
  uint16_t Port() const;
  // "192.0.2.1:4000" or "[2001:db8::1]:4000"; empty when not valid.
  std::string Text() const;
  bool operator==(const TUdpAddress& o) const;
  bool operator!=(const TUdpAddress& o) const { return !(*this == o); }
};

// Parses "HOST:PORT", "[V6HOST]:PORT" (numeric addresses only: no name look-up
// on the media path). The port may be 0 (any). False with a reason in error.
bool ParseUdpAddress(const std::string& text, TUdpAddress& out, std::string* error = nullptr);

// A local address given as "HOST:PORT" or "HOST:LOW-HIGH" (a range to pick the
// first free port from).
struct TLocalBinding {
  std::string host;
  int low = 0, high = 0;
};
bool ParseLocalBinding(const std::string& text, TLocalBinding& out, std::string* error = nullptr);

class TUdpSocket {
 public:
  TUdpSocket() = default;
  ~TUdpSocket();
  TUdpSocket(const TUdpSocket&) = delete;
  TUdpSocket& operator=(const TUdpSocket&) = delete;

  // Binds to host:port; 0 or -1 with Error() saying why ("port in use" and the
  // like, with the address).
  int Open(const std::string& host, int port);
  // Binds to the first port of low..high that is free (only even ones when
  // evenOnly); -1 with Error() when none is.
  int OpenInRange(const std::string& host, int low, int high, bool evenOnly);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const TUdpAddress& Local() const { return local_; }
  const std::string& Error() const { return error_; }

  // The remote to send to. Latching follows the first datagram that arrives
  // after SetRemote or Relatch (on by default).
  void SetRemote(const TUdpAddress& remote);
  const TUdpAddress& Remote() const { return remote_; }
  void SetLatching(bool on) { latching_ = on; }
  // Latch afresh onto the next source (a new call).
  void Relatch() { latched_ = false; }
  bool Latched() const { return latched_; }

  // Sends to the remote; false when there is none or the system refused.
  bool Send(const void* data, size_t size);
  // One waiting datagram into buf (at most max bytes; a longer one is cut and
  // flagged in truncated). Returns its size, 0 when nothing waits, -1 on error.
  int Receive(void* buf, size_t max, TUdpAddress* from = nullptr, bool* truncated = nullptr);

  uint64_t SentCount() const { return sent_; }
  uint64_t ReceivedCount() const { return received_; }
  uint64_t SendErrors() const { return sendErrors_; }

 private:
  int BindTo(const std::string& host, int port, bool quiet);

  int fd_ = -1;
  TUdpAddress local_, remote_;
  bool latching_ = true, latched_ = false;
  std::string error_;
  uint64_t sent_ = 0, received_ = 0, sendErrors_ = 0;
};

}  // namespace fe::voip
