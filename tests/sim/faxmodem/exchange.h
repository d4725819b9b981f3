// The simulated telephone exchange: numbers, ringing, busy and unanswered
// calls, and the line that joins two connected endpoints: audio, optionally
// attenuated and with spandsp's white noise added. Two Class 1 modems are
// joined through a pair of spandsp T.38 gateways, each of which meets its modem
// with real fax modems on audio.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "endpoint.h"

struct awgn_state_s;
struct t38_gateway_state_s;

namespace faxsim {

// Debian's libspandsp does not carry the telephone line models of spandsp's
// test suite, so a line is impaired by loss, by additive white noise, and by
// short bursts of loud noise on long carriers. Steady white noise breaks training
// before it damages page rows; a burst every few seconds of a page damages rows
// while training and the short V.21 exchanges get through.
struct Impairment {
  float lossDb = 0.0f;       // attenuation in each direction
  float noiseDbm0 = -99.0f;  // noise level; -99 or below: no noise
  int burstMs = 0;           // length of a noise burst; 0: none
  float burstDbm0 = -20.0f;  // its level
  int burstPeriodMs = 3000;  // a burst at the end of every period of unbroken signal
  bool active() const { return lossDb != 0.0f || noiseDbm0 > -99.0f || burstMs > 0; }
};

struct LineTiming {
  int ringPeriodMs = 3000;  // time between two RING reports
  int maxRings = 10;        // rings before the caller gets NO ANSWER
  int failDelayMs = 2000;   // time until BUSY / NO CARRIER is reported
  int drainMs = 1500;       // after one side hangs up, the other still hears what was on its way
};

class Exchange {
 public:
  Exchange(Events& events, LineTiming timing, Impairment impairment);
  // No more noise bursts, on calls under way too (the line has cleared up).
  void stopBursts() { impairment_.burstMs = 0; }
  ~Exchange();

  void attach(Endpoint& endpoint);
  void setBusy(const std::string& number) { busyNumbers_.insert(number); }

  // Called by endpoints.
  void dial(Endpoint& caller, const std::string& dialString);
  bool answer(Endpoint& callee);  // false when no call is ringing it
  void hangup(Endpoint& endpoint);
  bool inCall(const Endpoint& endpoint) const;

  // One tick of the line: rings, failures, and the audio of every call.
  void tick(int samples);

  // The digits of a dial string ("T", "P", ",", "W" and spaces are dialling modifiers).
  static std::string digits(const std::string& dialString);

 private:
  // Ended calls are removed after the tick; a Draining call has lost one side.
  enum class State { Ringing, Connected, Draining, Failing, Ended };
  struct Call {
    Endpoint* caller = nullptr;
    Endpoint* callee = nullptr;  // null for an unknown number
    Endpoint* gone = nullptr;    // the side that hung up first (Draining)
    State state = State::Ringing;
    CallFailure failure = CallFailure::NoCarrier;
    int elapsedMs = 0;
    int rings = 0;
    int drainLeftMs = 0;
    awgn_state_s* noise[2] = {nullptr, nullptr};  // [0]: towards the callee, [1]: towards the caller
    awgn_state_s* burst[2] = {nullptr, nullptr};  // noise bursts, same directions
    int signalMs[2] = {0, 0};                     // how long the signal in each direction has been on
    int silentMs[2] = {0, 0};                     // and how long it has been off
    // Between two Class 1 modems: the gateway facing each ([0] the caller) and
    // the T.38 packets waiting for it.
    t38_gateway_state_s* gateway[2] = {nullptr, nullptr};
    std::vector<std::vector<uint8_t>> packets[2];
    uint16_t seq[2] = {0, 0};
    bool pagePlaying[2] = {false, false};  // see playGateway
  };

  Call* findCall(const Endpoint& endpoint) const;
  void endCall(Call& call, Endpoint* by);
  void fail(Call& call, CallFailure failure);
  void connectLine(Call& call);
  void impair(Call& call, int dir, int16_t* amp, int samples);
  bool burstDue(Call& call, int dir, const int16_t* amp, int samples);
  void passAudio(Call& call, int samples);
  void passThroughGateways(Call& call, int samples);
  static int playGateway(t38_gateway_state_s* gateway, bool& pagePlaying, int16_t* amp, int samples);
  static int gatewayPacket(void* core, void* user, const uint8_t* buf, int len, int count);
  static void release(Call& call);

  Events& events_;
  LineTiming timing_;
  Impairment impairment_;
  std::map<std::string, Endpoint*> numbers_;
  std::set<std::string> busyNumbers_;
  std::vector<std::unique_ptr<Call>> calls_;
};

}  // namespace faxsim
