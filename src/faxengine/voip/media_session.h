// One line for a fax over IP: the virtual modem, the media socket and the
// media path of the call, moved along by a steady 20 ms clock on a thread of
// its own. Each tick polls the socket into the path, gives the modem's
// receiver the path's audio (a gap where nothing came in time, which the modem
// fills in) and sends the modem's output through the path.
//
// Without call signalling, a call is made like this: the calling side's ATD is
// through at once to the configured remote; the answering side rings when the
// first packet arrives (so a receiver that waits for calls rings once per call,
// not at start-up), again every 3 s while the caller keeps sending and the
// engine has not answered, and ATA takes the call. A call ends when the engine
// hangs up, or when nothing has arrived for 5 s (the far end has gone: the
// engine hears NO CARRIER). Packets its caller still sends in the first 2 s
// after a call are no new call; packets from anyone else ring at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_path.h"
#include "udp_socket.h"
#include "virtual_modem.h"

namespace fe::voip {

// A steady clock of fixed ticks on its own thread: each tick has an absolute
// deadline on steady_clock (start + n * period), so waking late never shifts the
// ticks after it and nothing drifts. After a late wake the missed ticks run
// back to back until the clock has caught up; only a wait longer than
// maxBehind (the computer was suspended) gives up the ticks it missed.
class TMediaClock {
 public:
  explicit TMediaClock(std::chrono::microseconds period = std::chrono::milliseconds(20),
                       std::chrono::milliseconds maxBehind = std::chrono::milliseconds(1000));
  ~TMediaClock();
  TMediaClock(const TMediaClock&) = delete;
  TMediaClock& operator=(const TMediaClock&) = delete;

  // Runs tick(n) for n = 0, 1, 2, ... until Stop.
  void Start(std::function<void(uint64_t)> tick);
  void Stop();
  uint64_t Ticks() const { return ticks_; }
  // Ticks given up after waits longer than maxBehind.
  uint64_t Skipped() const { return skipped_; }
  std::chrono::steady_clock::time_point StartTime() const { return start_; }

 private:
  void Run(std::function<void(uint64_t)> tick);

  std::chrono::microseconds period_;
  std::chrono::milliseconds maxBehind_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<uint64_t> ticks_{0}, skipped_{0};
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

// Call signalling (SIP) in charge of a session's calls: the modem's requests
// go to it instead of being acted on at once. Called on the media thread; the
// implementation only takes note (it must not call back into the session).
class TCallSignalling {
 public:
  virtual ~TCallSignalling() = default;
  virtual void SignalDial(const std::string& number) = 0;  // the engine dialled
  virtual void SignalAnswer() = 0;                         // the engine answered a ringing call
  virtual void SignalHangUp() = 0;                         // the engine hung up, or the media went silent
};

// Makes the media path of a new call; send puts a datagram on the socket.
using TPathFactory = std::function<std::unique_ptr<TMediaPath>(TDatagramSend send)>;

struct TMediaConfig {
  bool calling = true;  // places calls (ATD); false: answers them (ATA)
  TLocalBinding local;  // where to listen (a port range: the first free even port)
  TUdpAddress remote;   // the far end (the calling side needs it; the answering side latches onto the caller)
  TPathFactory makePath;
  int silenceEndMs = 5000;  // nothing arrived for this long: the call has ended (a path may allow longer)
  int ringPeriodMs = 3000;
  int quietAfterCallMs = 2000;  // the last caller's packets this soon after a call are stragglers
  // With signalling, calls start and end only through the Signal* calls below:
  // packets ring nothing, dialling waits for SignalConnected.
  TCallSignalling* signalling = nullptr;
};

class TMediaSession final : private TModemCallControl {
 public:
  TMediaSession();
  ~TMediaSession() override;
  TMediaSession(const TMediaSession&) = delete;
  TMediaSession& operator=(const TMediaSession&) = delete;

  // Binds the socket; 0, or -1 with Error() telling why.
  int Open(const TMediaConfig& config);
  const std::string& Error() const { return error_; }
  // The address the socket is bound to (to tell the far end).
  TUdpAddress LocalAddress() const { return socket_.Local(); }
  // Starts and stops the media clock. Stop ends a call without a word to the
  // far end and closes the modem's link.
  void Start();
  void Stop();

  // The engine's link.
  TVirtualModem& Modem() { return modem_; }

  // Replaces the media path of the running call between two ticks (G.711 to
  // T.38, say); the old path is dropped on the media thread, and the new one
  // gets its first tick at once (a T.38 path then sends its no-signal packets
  // that open the far side's NAT). Any thread; ignored outside a call.
  void SetPath(std::unique_ptr<TMediaPath> path);
  // Puts a datagram on the media socket (for paths made outside the factory).
  TDatagramSend Sender();

  // Lines of the call's trace ("12.340 call: answered ..."): call state, the
  // moment a path changes, the packet counts at the call's end, and the path's
  // own lines ("12.360 path: tx 17 ..." for each T.38 packet). Called on the
  // media thread; set before Start.
  void SetTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

  // From call signalling (any thread; acted on at the next tick):
  // an offered call rings the modem until answered or ended;
  void SignalRinging(const std::string& caller);
  // the call is through to remote with this path (the dialled call connects,
  // the answered one is answered; no path: the factory's);
  void SignalConnected(const TUdpAddress& remote, std::unique_ptr<TMediaPath> path);
  // the far end ended the call or refused it: the engine reads `result`
  // (NO CARRIER, BUSY, ...) at once, as on a lost carrier.
  void SignalEnded(const std::string& result, const std::string& why);

  bool InCall() const { return state_ == TState::InCall; }
  uint64_t Ticks() const { return clock_.Ticks(); }
  uint64_t Calls() const { return calls_; }

 private:
  enum class TState { Idle, Ringing, InCall };

  // Modem requests (inside the modem: only noted here).
  void ModemDial(const std::string& number) override;
  void ModemAnswer() override;
  void ModemHangUp() override;

  void Tick(uint64_t n);
  void PollSocket(uint64_t n);
  // false when no path could be made; path: the one to use instead of the factory's
  bool BeginCall(uint64_t n, const char* how, std::unique_ptr<TMediaPath> path = nullptr);
  void EndCall(uint64_t n, const std::string& why, bool tellModem, const std::string& result = "NO CARRIER");
  void Trace(uint64_t n, const std::string& text);
  std::string PathSummary() const;
  void UsePath(std::unique_ptr<TMediaPath> path);

  TMediaConfig config_;
  TUdpSocket socket_;
  TVirtualModem modem_;
  TMediaClock clock_;
  std::string error_;
  std::function<void(const std::string&)> trace_;

  std::atomic<bool> dialAsked_{false}, answerAsked_{false}, hangUpAsked_{false};
  std::mutex pathMu_;
  std::unique_ptr<TMediaPath> nextPath_;
  std::atomic<bool> pathPending_{false};
  // Events from call signalling, taken by the next tick.
  struct TSignal {
    enum class TKind { Ringing, Connected, Ended } kind;
    std::string text, why;
    TUdpAddress remote;
    std::unique_ptr<TMediaPath> path;
  };
  std::vector<TSignal> signals_;
  std::atomic<bool> signalsPending_{false};
  void TakeSignals(uint64_t n);
  bool dialling_ = false;   // media thread: a signalled dial waits for its answer
  std::string dialNumber_;  // pathMu_

  // Media thread only.
  std::unique_ptr<TMediaPath> path_;
  uint64_t tick_ = 0;  // the tick running now, for the path's trace lines
  std::atomic<TState> state_{TState::Idle};
  uint64_t lastPacketTick_ = 0, callStartTick_ = 0, nextRingTick_ = 0, callEndTick_ = 0;
  bool hadCall_ = false;
  std::string caller_;
  TUdpAddress lastCaller_;
  uint64_t packetsIn_ = 0, packetsOut_ = 0, callPacketsIn_ = 0;
  std::atomic<uint64_t> calls_{0};
};

}  // namespace fe::voip
