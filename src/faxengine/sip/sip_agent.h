// A SIP user agent for one fax line: sofia-sip's nua runs on a thread of its
// own (its su_root loop) with its media handling turned off, so the session
// descriptions are ours (sdp.h). The agent registers the account, places the
// calls the virtual modem dials, offers incoming calls to the modem as rings
// and answers them when the engine does, and points the media session at the
// far end with the agreed path (G.711 RTP or T.38 in UDPTL).
//
// One call at a time: a second INVITE while a call runs gets 486 Busy Here.
// T.38: the answering side asks for it once it hears the caller's CNG tone;
// the caller takes a T.38 re-INVITE, or asks itself when none came within a
// settable wait; T.38 in the first INVITE is taken. A refusal (488, 415, 606)
// or no answer keeps G.711 and the fax goes on; 491 is retried after RFC 3261's
// random wait; an identical re-offer (a session refresh) is answered with the
// current description; nothing is re-INVITEd once the call is ending.
//
// The engine never reads the program's files: the account comes in as a
// plain struct.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media_session.h"
#include "sdp.h"

namespace fe::sip {

struct TAccount {
  std::string user;           // the account's user part (and the From)
  std::string domain;         // the account's domain: sip:user@domain
  std::string registrar;      // host[:port] to register with; empty: domain; "-": do not register
  std::string outboundProxy;  // host[:port] every request goes through; empty: none
  std::string authUser;       // the digest user name; empty: user
  std::string password;
  std::string localAddress = "0.0.0.0";  // where SIP and media listen
  int sipPort = 5060;
  int mediaLow = 10000, mediaHigh = 10999;
  std::string publicAddress;  // the address written into our SDP (NAT); empty: local
  int registerExpires = 120;  // short, so NAT bindings stay open
  bool t38 = true;
  int redundancy = 3;     // earlier IFPs sent along with control packets
  int maxDatagram = 400;  // our T38FaxMaxDatagram
  TCodec codec = TCodec::Pcmu;
  int callerT38WaitMs = 4000;    // the caller asks for T.38 itself when none came in this time
  int reinviteTimeoutMs = 8000;  // a re-INVITE unanswered this long keeps the media as it is
};

enum class TRegState { Idle, Registering, Registered, WrongPassword, Refused, Unreachable };

struct TRegistration {
  TRegState state = TRegState::Idle;
  int status = 0;      // the registrar's last final status
  std::string phrase;  // and its reason phrase
};

// "registered", "wrong password", "server not reachable", ...
std::string RegistrationText(const TRegistration& r);

// Counts for tests and the trace.
struct TSipCounts {
  int callsIn = 0, callsOut = 0, busyRefused = 0;
  int reinvitesIn = 0, reinvitesOut = 0, refreshesAnswered = 0;
  int t38Refused = 0, retries491 = 0, authAnswers = 0;
};

class TSipAgent final : private fe::voip::TCallSignalling {
 public:
  TSipAgent();
  ~TSipAgent() override;
  TSipAgent(const TSipAgent&) = delete;
  TSipAgent& operator=(const TSipAgent&) = delete;

  // Lines of the call trace: SIP messages in and out (digest responses
  // masked), call events, the media session's lines. Set before Start.
  void SetTrace(std::function<void(const std::string&)> trace);

  // Binds SIP and media ports and starts the SIP thread and the media clock;
  // registers unless the account says not to. 0, or -1 with error set.
  int Start(const TAccount& account, std::string* error);
  // Hangs up a call, unregisters (briefly), stops both threads.
  void Stop();

  // Waits until registration has a final outcome (or the time is up).
  TRegistration WaitRegistration(std::chrono::milliseconds timeout);
  TRegistration Registration() const;

  // The line: its modem is the engine's link.
  fe::voip::TMediaSession& Session() { return session_; }
  // The SIP port listened on.
  int SipPort() const { return sipPort_; }

  // State of the current call, for tests and status lines.
  bool CallActive() const { return callActive_; }
  TAgreed Media() const;
  TSipCounts Counts() const;
  // Ends the current call from here (as the engine's hang-up does).
  void HangUp();

  // Calls placed from now on go to uri whatever number the engine dials (a
  // SIP address has characters a modem's dial string cannot carry). Empty:
  // the dialled number decides again.
  void SetDialTarget(const std::string& uri);

  // The target of a dialled number: "sip:..." as is, "x@host" as sip:x@host,
  // anything else as sip:number@domain.
  static std::string TargetUri(const std::string& number, const TAccount& account);

  // The SIP thread's own state (sofia-sip's objects and the call); internal.
  struct TState;

 private:
  // fe::voip::TCallSignalling (media thread): queued for the SIP thread.
  void SignalDial(const std::string& number) override;
  void SignalAnswer() override;
  void SignalHangUp() override;

  void Post(std::function<void()> fn);
  void Run(std::shared_ptr<std::promise<std::string>> started);
  void Trace(const std::string& line);

  TAccount account_;
  fe::voip::TMediaSession session_;
  std::function<void(const std::string&)> trace_;
  std::mutex traceMu_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  TRegistration reg_;
  TAgreed media_;
  TSipCounts counts_;
  std::string dialTarget_;
  std::deque<std::function<void()>> posted_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> callActive_{false};
  std::atomic<int> sipPort_{0};
  std::thread thread_;
  std::unique_ptr<TState> st_;
  std::chrono::steady_clock::time_point start_;

  friend struct TAgentAccess;
};

}  // namespace fe::sip
