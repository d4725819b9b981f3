// A fax line on a SIP account: the user agent, whose media session's virtual
// Class 1 modem takes the place of a modem's port, and how a fax component and
// a dialled number are put on it. qnfax's --sip commands, the send window and
// receive mode all put their sessions together through it.
//
// Conventions callers rely on:
//  - No Qt. Open, WaitRegistered and Close may block (registration waits up to
//    the time given); windows run them off their interface thread.
//  - Attach a component only after Open; the line must outlive the component's
//    run: Close (or the destructor) only once the component has stopped.
#pragma once

#include <chrono>
#include <string>

#include "abstract_fax.h"
#include "fe_eventsink.h"
#include "sip_agent.h"

namespace fe::sip {

class TSipFaxLine {
 public:
  ~TSipFaxLine() { Close(); }

  // Starts the agent (SIP and media ports, registration unless the account
  // says not to). False with *error set.
  bool Open(const TAccount& account, std::string* error) {
    account_ = account;
    if (agent.Start(account, error) != 0) return false;
    open_ = true;
    return true;
  }
  bool IsOpen() const { return open_; }
  const TAccount& Account() const { return account_; }
  // Whether the account registers at all ("-" as its registrar: it does not).
  bool Registers() const { return account_.registrar != "-"; }

  // Waits for the registrar's final answer; Registered at once for an account
  // that does not register.
  TRegistration WaitRegistered(std::chrono::milliseconds timeout) {
    if (!Registers()) return TRegistration{TRegState::Registered, 0, {}};
    return agent.WaitRegistration(timeout);
  }

  // Gives the component the line's modem and the sink its events run through
  // (the line's own queue sink when none is given).
  void Attach(TFeAbstractFax& fax, TFeEventSink* events = nullptr) {
    fax.SetComPort(&agent.Session().Modem());
    fax.SetEventSink(events ? events : &sink);
  }

  // The number the engine is to dial for `number`: a SIP address (with '@' or
  // ':', which a modem's dial string cannot carry) goes to the agent as the
  // call's target and the engine dials a placeholder digit; digits are dialled
  // as they are (user@domain of the account).
  std::string DialString(const std::string& number) {
    if (number.find_first_of("@:") == std::string::npos) {
      agent.SetDialTarget({});
      return number;
    }
    agent.SetDialTarget(number);
    return "1";
  }

  // "T.38", "G.711" or empty while no call has agreed its media.
  std::string MediaName() const {
    switch (agent.Media().kind) {
      case TAgreed::TKind::T38:
        return "T.38";
      case TAgreed::TKind::Audio:
        return "G.711";
      case TAgreed::TKind::None:
        break;
    }
    return {};
  }

  // Hangs up, unregisters and stops the agent.
  void Close() {
    if (!open_) return;
    agent.Stop();
    open_ = false;
  }

  TSipAgent agent;
  TFeQueueSink sink;

 private:
  TAccount account_;
  bool open_ = false;
};

}  // namespace fe::sip
