// The simulated telephone exchange: numbers, ringing, busy and unanswered
// calls, and the line that joins two connected endpoints (audio, optionally
// attenuated and with spandsp's white noise added, or T.38 between two Class 1
// modems).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "endpoint.h"

struct awgn_state_s;

namespace faxsim {

// Debian's libspandsp does not carry the telephone line models of spandsp's
// test suite, so a line is impaired by loss and by additive white noise.
struct Impairment {
  float lossDb = 0.0f;      // attenuation in each direction
  float noiseDbm0 = -99.0f;  // noise level; -99 or below: no noise
  bool active() const { return lossDb != 0.0f || noiseDbm0 > -99.0f; }
};

struct LineTiming {
  int ringPeriodMs = 3000;     // time between two RING reports
  int maxRings = 10;           // rings before the caller gets NO ANSWER
  int failDelayMs = 2000;      // time until BUSY / NO CARRIER is reported
};

class Exchange {
 public:
  Exchange(Events& events, LineTiming timing, Impairment impairment);
  ~Exchange();

  void attach(Endpoint& endpoint);
  void setBusy(const std::string& number) { busyNumbers_.insert(number); }

  // Called by endpoints.
  void dial(Endpoint& caller, const std::string& dialString);
  bool answer(Endpoint& callee);  // false when no call is ringing it
  void hangup(Endpoint& endpoint);
  void sendT38(Endpoint& from, const uint8_t* buf, int len);
  bool inCall(const Endpoint& endpoint) const;

  // One tick of the line: rings, failures, audio and T.38 in both directions.
  void tick(int samples);

  // The digits of a dial string ("T", "P", ",", "W" and spaces are dialling modifiers).
  static std::string digits(const std::string& dialString);

 private:
  enum class State { Ringing, Connected, Failing, Ended };  // Ended calls are removed after the tick
  struct Call {
    Endpoint* caller = nullptr;
    Endpoint* callee = nullptr;  // null for an unknown number
    State state = State::Ringing;
    CallFailure failure = CallFailure::NoCarrier;
    int elapsedMs = 0;
    int rings = 0;
    bool t38 = false;
    uint16_t seq[2] = {0, 0};
    std::vector<std::vector<uint8_t>> t38Queue[2];  // [0]: to callee, [1]: to caller
    awgn_state_s* noise[2] = {nullptr, nullptr};  // [0]: towards the callee, [1]: towards the caller
  };

  Call* findCall(const Endpoint& endpoint);
  void endCall(Call& call, Endpoint* by);
  void fail(Call& call, CallFailure failure);
  void connectAudio(Call& call);
  void impair(Call& call, int dir, int16_t* amp, int samples);
  static void release(Call& call);
  void passT38(Call& call);
  void passAudio(Call& call, int samples);

  Events& events_;
  LineTiming timing_;
  Impairment impairment_;
  std::map<std::string, Endpoint*> numbers_;
  std::set<std::string> busyNumbers_;
  std::vector<std::unique_ptr<Call>> calls_;
};

}  // namespace faxsim
