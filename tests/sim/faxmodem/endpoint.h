// An endpoint on the simulated telephone line: a virtual modem (with a DTE on a
// pseudo-terminal) or a fax terminal (a remote fax machine).
#pragma once

#include <cstdint>
#include <string>

#include "events.h"

namespace faxsim {

class Exchange;

// Why an outgoing call did not connect.
enum class CallFailure { Busy, NoAnswer, NoCarrier };

class Endpoint {
 public:
  Endpoint(std::string number, Exchange& exchange, Events& events)
      : number_(std::move(number)), exchange_(exchange), events_(events) {}
  virtual ~Endpoint() = default;
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  const std::string& number() const { return number_; }
  // One line for the ready file: "KIND NUMBER [DEVICE]".
  virtual std::string describe() const = 0;

  // Telephone side, called by the exchange.
  virtual void ringing(int ringCount) = 0;           // an incoming call rings (once per ring)
  virtual void callAnswered() = 0;                   // our outgoing call was answered
  virtual void callFailed(CallFailure failure) = 0;  // our outgoing call did not connect
  virtual void callEnded() = 0;                      // the other side hung up

  // Two endpoints that both want this are joined through a pair of spandsp T.38
  // gateways instead of a plain audio path (spandsp 0.0.6's T.31 modems cannot
  // train each other directly).
  virtual bool wantsGateway() const { return false; }

  // Audio: fills amp with the next samples to the line, receives samples from it.
  virtual void txAudio(int16_t* amp, int samples) = 0;
  virtual void rxAudio(const int16_t* amp, int samples) = 0;

  // Called once per tick (20 ms) whether a call is up or not.
  virtual void service(int samples) = 0;

 protected:
  Exchange& exchange() { return exchange_; }
  Events& events() { return events_; }

 private:
  std::string number_;
  Exchange& exchange_;
  Events& events_;
};

}  // namespace faxsim
