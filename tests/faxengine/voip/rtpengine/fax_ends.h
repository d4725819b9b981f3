// The two ends of a fax call through rtpengine's T.38 gateway, each running in
// real time on a 20 ms media clock of its own:
//   TAudioTerminal  spandsp's audio fax terminal (its T.30 and modems) on a
//                   G.711 RTP stream, PCMU or PCMA, RTP framing written here;
//   TT38Terminal    spandsp's T.38 terminal, its IFP packets in our UDPTL;
//   TOurT38Fax      our send or receive engine through the virtual Class 1
//                   modem and our T.38 media path (what qnfax --media t38
//                   runs).
// Several of each may run at once in one process.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_session.h"
#include "t38_path.h"
#include "udp_socket.h"
#include "udptl.h"

struct fax_state_s;
struct t38_terminal_state_s;
struct t30_state_s;

namespace fe::voip::test {

// What a spandsp terminal does in the call.
struct TTerminalRole {
  bool calling = true;
  bool sending = true;
  std::string file;   // the TIFF to send, or the one to write
  std::string ident = "SPANDSP";
  bool ecm = true;
};

// The outcome a terminal reports in its phase E.
struct TTerminalResult {
  int code = -1;  // T30_ERR_...; -1 while the call runs
  int pages = 0;
  int badRows = 0;
  std::string text;
};

class TAudioTerminal {
 public:
  TAudioTerminal(const TTerminalRole& role, const std::string& codec = "pcmu");
  ~TAudioTerminal();
  TAudioTerminal(const TAudioTerminal&) = delete;
  TAudioTerminal& operator=(const TAudioTerminal&) = delete;

  int Port() const { return socket_.Local().Port(); }
  const std::string& Error() const { return error_; }
  // Starts the terminal and its stream towards remote.
  void Start(const TUdpAddress& remote);
  void Stop();
  // Waits for the terminal's result; code -1 when it did not come in time.
  TTerminalResult Wait(std::chrono::milliseconds limit);
  bool Done() const { return code_ >= 0; }
  std::chrono::steady_clock::time_point DoneAt() const { return doneAt_; }
  uint64_t PacketsIn() const { return packetsIn_; }

 private:
  static void PhaseE(t30_state_s* s, void* user, int result);
  void Tick();

  TTerminalRole role_;
  bool pcma_;
  std::string error_;
  TUdpSocket socket_;
  TMediaClock clock_;
  fax_state_s* fax_ = nullptr;
  std::deque<std::vector<uint8_t>> packets_;
  uint16_t seq_ = 0;
  uint32_t ts_ = 0;
  std::atomic<uint64_t> packetsIn_{0};
  std::atomic<int> code_{-1}, pages_{0}, badRows_{0};
  std::chrono::steady_clock::time_point doneAt_;
};

struct TT38TerminalOptions {
  int port = 0;  // the UDPTL port on 127.0.0.1; 0: any free one
  int redundancyIndicator = 3;
  int redundancyControl = 3;
  int redundancyImage = 1;
  size_t farMaxDatagram = 400;
};

class TT38Terminal {
 public:
  TT38Terminal(const TTerminalRole& role, const TT38TerminalOptions& options = {});
  ~TT38Terminal();
  TT38Terminal(const TT38Terminal&) = delete;
  TT38Terminal& operator=(const TT38Terminal&) = delete;

  int Port() const { return socket_.Local().Port(); }
  const std::string& Error() const { return error_; }
  void Start(const TUdpAddress& remote);
  void Stop();
  TTerminalResult Wait(std::chrono::milliseconds limit);
  bool Done() const { return code_ >= 0; }
  // The UDPTL statistics (after Stop, or racy while running).
  udptl::TStats Stats() const { return session_.Stats(); }

 private:
  static int OnPacket(struct t38_core_state_s* core, void* user, const uint8_t* buf, int len, int count);
  static void PhaseE(t30_state_s* s, void* user, int result);
  void Tick();

  TTerminalRole role_;
  TT38TerminalOptions options_;
  std::string error_;
  TUdpSocket socket_;
  udptl::TSession session_;
  TMediaClock clock_;
  t38_terminal_state_s* terminal_ = nullptr;
  std::atomic<int> code_{-1}, pages_{0}, badRows_{0};
};

// Our engine on T.38. Send: the APF file to the remote. Receive: answers the
// first call and stores the fax in dir.
struct TOurFaxOptions {
  int port = 0;  // the media port on 127.0.0.1; 0: a free one picked at construction
  bool sending = true;
  std::string file;  // APF to send
  std::string dir;   // folder for the received fax
  int bps = 14400;
  bool ecm = true;
  std::string stationId = "QUILLON";
  TT38Settings t38;
};

class TOurT38Fax {
 public:
  explicit TOurT38Fax(const TOurFaxOptions& options);
  ~TOurT38Fax();
  TOurT38Fax(const TOurT38Fax&) = delete;
  TOurT38Fax& operator=(const TOurT38Fax&) = delete;

  // The media port, picked free at construction (the SDP exchange needs it
  // before the session binds it in Start).
  int Port() const { return port_; }
  const std::string& Error() const { return error_; }
  // Binds the media socket and runs the engine on a thread of its own towards
  // remote (the sender) or waiting for a call (the receiver). False with
  // Error() when the socket could not be bound.
  bool Start(const TUdpAddress& remote);
  // Waits for the engine's final code (-1: not in time). The media session
  // stops afterwards.
  int Wait(std::chrono::milliseconds limit);
  // The call's trace lines (session events, engine notes).
  std::vector<std::string> Trace() const;
  // The T.38 path's counts (after Wait).
  TT38PathStats PathStats() const;

 private:
  void Run();
  void Line(const std::string& text);

  TOurFaxOptions options_;
  int port_ = 0;
  std::string error_;
  std::unique_ptr<TMediaSession> session_;
  std::thread thread_;
  std::atomic<int> result_{-1};
  std::atomic<bool> done_{false};
  mutable std::mutex mu_;
  std::vector<std::string> trace_;
  std::shared_ptr<TT38PathStats> stats_ = std::make_shared<TT38PathStats>();
};

}  // namespace fe::voip::test
