#include "exchange.h"

#include <spandsp.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace faxsim {

Exchange::Exchange(Events& events, LineTiming timing, Impairment impairment)
    : events_(events), timing_(timing), impairment_(impairment) {}

Exchange::~Exchange() {
  for (auto& call : calls_) release(*call);
}

void Exchange::release(Call& call) {
  for (auto*& noise : call.noise) {
    if (noise != nullptr) awgn_free(noise);
    noise = nullptr;
  }
}

void Exchange::attach(Endpoint& endpoint) { numbers_[endpoint.number()] = &endpoint; }

std::string Exchange::digits(const std::string& dialString) {
  std::string out;
  for (char c : dialString)
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || c == '+') out += c;
  return out;
}

Exchange::Call* Exchange::findCall(const Endpoint& endpoint) {
  for (auto& call : calls_)
    if (call->state != State::Ended && (call->caller == &endpoint || call->callee == &endpoint)) return call.get();
  return nullptr;
}

bool Exchange::inCall(const Endpoint& endpoint) const {
  return std::any_of(calls_.begin(), calls_.end(), [&](const auto& call) {
    return call->state != State::Ended && (call->caller == &endpoint || call->callee == &endpoint);
  });
}

void Exchange::dial(Endpoint& caller, const std::string& dialString) {
  auto call = std::make_unique<Call>();
  call->caller = &caller;
  const std::string number = digits(dialString);
  auto it = numbers_.find(number);
  events_.add("dial " + caller.number() + " " + number);
  if (busyNumbers_.count(number) != 0 || (it != numbers_.end() && inCall(*it->second))) {
    call->state = State::Failing;
    call->failure = CallFailure::Busy;
  } else if (it == numbers_.end() || it->second == &caller) {
    call->state = State::Failing;
    call->failure = CallFailure::NoCarrier;
  } else {
    call->callee = it->second;
    // Two Class 1 modems cannot train each other through our audio path, so they
    // meet through T.38, which carries the same T.30 frames and page data.
    call->t38 = caller.canUseT38() && call->callee->canUseT38();
  }
  calls_.push_back(std::move(call));
}

bool Exchange::answer(Endpoint& callee) {
  for (auto& call : calls_) {
    if (call->callee != &callee || call->state != State::Ringing) continue;
    call->state = State::Connected;
    events_.add("answer " + call->caller->number() + " " + callee.number() + (call->t38 ? " t38" : " audio"));
    if (call->t38) {
      call->caller->useT38(true);
      callee.useT38(true);
    } else {
      connectAudio(*call);
    }
    call->caller->callAnswered();
    return true;
  }
  return false;
}

void Exchange::connectAudio(Call& call) {
  if (impairment_.noiseDbm0 <= -99.0f) return;
  for (int dir = 0; dir < 2; ++dir) call.noise[dir] = awgn_init_dbm0(nullptr, 1234567 + dir, impairment_.noiseDbm0);
}

void Exchange::impair(Call& call, int dir, int16_t* amp, int samples) {
  if (!impairment_.active()) return;
  const float gain = std::pow(10.0f, -impairment_.lossDb / 20.0f);
  for (int i = 0; i < samples; ++i) {
    float v = amp[i] * gain + (call.noise[dir] != nullptr ? awgn(call.noise[dir]) : 0);
    amp[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
  }
}

void Exchange::hangup(Endpoint& endpoint) {
  Call* call = findCall(endpoint);
  if (call != nullptr) endCall(*call, &endpoint);
}

void Exchange::endCall(Call& call, Endpoint* by) {
  events_.add("hangup " + (by != nullptr ? by->number() : std::string("line")));
  const bool connected = call.state == State::Connected;
  call.state = State::Ended;
  if (call.t38) {
    call.caller->useT38(false);
    if (call.callee != nullptr) call.callee->useT38(false);
  }
  // Tell the side that did not hang up; a ringing callee just stops ringing.
  if (call.caller != by) {
    if (connected)
      call.caller->callEnded();
    else
      call.caller->callFailed(CallFailure::NoCarrier);
  }
  if (call.callee != nullptr && call.callee != by && connected) call.callee->callEnded();
}

void Exchange::fail(Call& call, CallFailure failure) {
  static const char* const names[] = {"busy", "noanswer", "nocarrier"};
  events_.add(std::string(names[static_cast<int>(failure)]) + " " + call.caller->number());
  call.state = State::Ended;
  call.caller->callFailed(failure);
}

void Exchange::sendT38(Endpoint& from, const uint8_t* buf, int len) {
  Call* call = findCall(from);
  if (call == nullptr || !call->t38 || call->state != State::Connected) return;
  const int dir = call->caller == &from ? 0 : 1;
  call->t38Queue[dir].emplace_back(buf, buf + len);
}

void Exchange::tick(int samples) {
  const int ms = samples * 1000 / SAMPLE_RATE;
  // Endpoints may hang up (ending a call) from inside any callback, so a call
  // is only marked Ended here and removed once the tick is over.
  for (size_t i = 0; i < calls_.size(); ++i) {
    Call* call = calls_[i].get();
    call->elapsedMs += ms;
    switch (call->state) {
      case State::Ended:
        break;
      case State::Failing:
        if (call->elapsedMs >= timing_.failDelayMs) fail(*call, call->failure);
        break;
      case State::Ringing:
        if (call->elapsedMs < call->rings * timing_.ringPeriodMs) break;
        if (call->rings >= timing_.maxRings) {
          fail(*call, CallFailure::NoAnswer);
          break;
        }
        ++call->rings;
        if (call->rings == 1) events_.add("ring " + call->caller->number() + " " + call->callee->number());
        call->callee->ringing(call->rings);
        break;
      case State::Connected:
        if (call->t38)
          passT38(*call);
        else
          passAudio(*call, samples);
        break;
    }
  }
  if (calls_.size() > 0) {
    for (auto& call : calls_)
      if (call->state == State::Ended) release(*call);
    calls_.erase(std::remove_if(calls_.begin(), calls_.end(), [](const auto& c) { return c->state == State::Ended; }),
                 calls_.end());
  }
}

void Exchange::passT38(Call& call) {
  for (int dir = 0; dir < 2 && call.state == State::Connected; ++dir) {
    Endpoint* to = dir == 0 ? call.callee : call.caller;
    auto queue = std::move(call.t38Queue[dir]);
    call.t38Queue[dir].clear();
    for (auto& packet : queue) {
      if (call.state != State::Connected) break;
      to->t38Packet(packet.data(), static_cast<int>(packet.size()), call.seq[dir]++);
    }
  }
}

void Exchange::passAudio(Call& call, int samples) {
  constexpr int kMax = 1024;
  int16_t fromCaller[kMax] = {};
  int16_t fromCallee[kMax] = {};
  samples = std::min(samples, kMax);
  call.caller->txAudio(fromCaller, samples);
  call.callee->txAudio(fromCallee, samples);
  impair(call, 0, fromCaller, samples);
  impair(call, 1, fromCallee, samples);
  call.callee->rxAudio(fromCaller, samples);
  if (call.state == State::Connected) call.caller->rxAudio(fromCallee, samples);
}

}  // namespace faxsim
