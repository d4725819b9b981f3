#include "exchange.h"

#include <spandsp.h>
#include <spandsp/expose.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace faxsim {

namespace {
constexpr int kMaxSamples = 1024;
}

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
  for (auto*& noise : call.burst) {
    if (noise != nullptr) awgn_free(noise);
    noise = nullptr;
  }
  for (auto*& gateway : call.gateway) {
    if (gateway != nullptr) t38_gateway_free(gateway);
    gateway = nullptr;
  }
}

void Exchange::attach(Endpoint& endpoint) {
  numbers_[endpoint.number()] = &endpoint;
}

std::string Exchange::digits(const std::string& dialString) {
  std::string out;
  for (char c : dialString)
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || c == '+') out += c;
  return out;
}

Exchange::Call* Exchange::findCall(const Endpoint& endpoint) const {
  for (auto& call : calls_) {
    if (call->state == State::Ended || call->gone == &endpoint) continue;
    if (call->caller == &endpoint || call->callee == &endpoint) return call.get();
  }
  return nullptr;
}

bool Exchange::inCall(const Endpoint& endpoint) const {
  return findCall(endpoint) != nullptr;
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
  }
  calls_.push_back(std::move(call));
}

bool Exchange::answer(Endpoint& callee) {
  for (auto& call : calls_) {
    if (call->callee != &callee || call->state != State::Ringing) continue;
    call->state = State::Connected;
    connectLine(*call);
    events_.add("answer " + call->caller->number() + " " + callee.number() +
                (call->gateway[0] != nullptr ? " t38" : " audio"));
    call->caller->callAnswered();
    return true;
  }
  return false;
}

// spandsp 0.0.6's gateway starts sending a page to its modem the moment the
// first end of line arrives over T.38. With nothing buffered behind it, it runs
// dry at once, and its flow-control fill then lands one byte after that end of
// line, inside the page's first row, which arrives damaged. A real gateway plays
// out from a jitter buffer; here the page is held back (the modem sends zero fill,
// which only lengthens the end of line) until 200 ms of it are buffered or the page
// is complete.
int Exchange::playGateway(t38_gateway_state_s* gateway, bool& pagePlaying, int16_t* amp, int samples) {
  t38_non_ecm_buffer_state_t& page = gateway->core.non_ecm_to_modem;
  if (!page.image_data_mode || page.flow_control_fill_octet == 0xFF) pagePlaying = false;  // no page data yet
  const int buffered = (page.in_ptr - page.out_ptr) & (T38_NON_ECM_TX_BUF_LEN - 1);
  const int cushion = std::max(gateway->core.fast_bit_rate, 2400) / 8 / 5;
  if (!pagePlaying && page.image_data_mode && page.flow_control_fill_octet == 0x00 &&
      (buffered >= cushion || page.data_finished))
    pagePlaying = true;
  if (pagePlaying || !page.image_data_mode || page.flow_control_fill_octet != 0x00)
    return t38_gateway_tx(gateway, amp, samples);
  const int eol = page.latest_eol_ptr;
  page.latest_eol_ptr = page.out_ptr;
  const int n = t38_gateway_tx(gateway, amp, samples);
  page.latest_eol_ptr = eol;
  return n;
}

int Exchange::gatewayPacket(void*, void* user, const uint8_t* buf, int len, int) {
  static_cast<std::vector<std::vector<uint8_t>>*>(user)->emplace_back(buf, buf + len);
  return 0;
}

void Exchange::connectLine(Call& call) {
  if (call.caller->wantsGateway() && call.callee->wantsGateway()) {
    for (int i = 0; i < 2; ++i) {
      // Gateway i hands its packets to the other gateway's queue.
      call.gateway[i] = t38_gateway_init(nullptr, reinterpret_cast<t38_tx_packet_handler_t*>(&Exchange::gatewayPacket),
                                         &call.packets[1 - i]);
      t38_gateway_set_transmit_on_idle(call.gateway[i], true);
      t38_gateway_set_supported_modems(call.gateway[i], T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
      t38_gateway_set_ecm_capability(call.gateway[i], true);
    }
  }
  if (impairment_.noiseDbm0 > -99.0f)
    for (int dir = 0; dir < 2; ++dir) call.noise[dir] = awgn_init_dbm0(nullptr, 1234567 + dir, impairment_.noiseDbm0);
  if (impairment_.burstMs > 0)
    for (int dir = 0; dir < 2; ++dir) call.burst[dir] = awgn_init_dbm0(nullptr, 7654321 + dir, impairment_.burstDbm0);
}

bool Exchange::burstDue(Call& call, int dir, const int16_t* amp, int samples) {
  if (call.burst[dir] == nullptr || impairment_.burstMs <= 0) return false;
  // Signal on: a mean power above about -43 dBm0 (spandsp's 0 dBm0 is an RMS of
  // about 16000). Gaps shorter than 60 ms do not end a carrier.
  double energy = 0;
  for (int i = 0; i < samples; ++i) energy += double(amp[i]) * amp[i];
  const bool on = samples > 0 && energy / samples > 100.0 * 100.0;
  const int ms = samples / 8;
  if (on) {
    call.silentMs[dir] = 0;
    call.signalMs[dir] += ms;
  } else if ((call.silentMs[dir] += ms) >= 60) {
    call.signalMs[dir] = 0;
  }
  // The first burst a whole period into the carrier (past the training check and
  // any V.21 exchange), then one every period.
  const int period = impairment_.burstPeriodMs, into = call.signalMs[dir] - period;
  return on && into >= 0 && into % period < impairment_.burstMs;
}

void Exchange::impair(Call& call, int dir, int16_t* amp, int samples) {
  if (!impairment_.active()) return;
  const float gain = std::pow(10.0f, -impairment_.lossDb / 20.0f);
  awgn_state_s* burst = burstDue(call, dir, amp, samples) ? call.burst[dir] : nullptr;
  for (int i = 0; i < samples; ++i) {
    float v =
        amp[i] * gain + (call.noise[dir] != nullptr ? awgn(call.noise[dir]) : 0) + (burst != nullptr ? awgn(burst) : 0);
    amp[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
  }
}

void Exchange::hangup(Endpoint& endpoint) {
  Call* call = findCall(endpoint);
  if (call != nullptr) endCall(*call, &endpoint);
}

void Exchange::endCall(Call& call, Endpoint* by) {
  events_.add("hangup " + (by != nullptr ? by->number() : std::string("line")));
  if (call.state == State::Connected && by != nullptr) {
    // What the leaving side sent last (DCN, say) still reaches the other side.
    call.state = State::Draining;
    call.gone = by;
    call.drainLeftMs = timing_.drainMs;
    return;
  }
  const bool draining = call.state == State::Draining;
  const bool ringing = call.state == State::Ringing;
  call.state = State::Ended;
  if (draining) return;  // both sides have hung up now
  // Tell the side that did not hang up; a ringing callee just stops ringing.
  if (call.caller != by) {
    if (ringing)
      call.caller->callFailed(CallFailure::NoCarrier);
    else
      call.caller->callEnded();
  }
  if (call.callee != nullptr && call.callee != by && !ringing) call.callee->callEnded();
}

void Exchange::fail(Call& call, CallFailure failure) {
  static const char* const names[] = {"busy", "noanswer", "nocarrier"};
  events_.add(std::string(names[static_cast<int>(failure)]) + " " + call.caller->number());
  call.state = State::Ended;
  call.caller->callFailed(failure);
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
      case State::Draining:
        call->drainLeftMs -= ms;
        if (call->drainLeftMs <= 0) {
          call->state = State::Ended;
          (call->gone == call->caller ? call->callee : call->caller)->callEnded();
          break;
        }
        [[fallthrough]];
      case State::Connected:
        if (call->gateway[0] != nullptr)
          passThroughGateways(*call, samples);
        else
          passAudio(*call, samples);
        break;
    }
  }
  for (auto& call : calls_)
    if (call->state == State::Ended) release(*call);
  calls_.erase(std::remove_if(calls_.begin(), calls_.end(), [](const auto& c) { return c->state == State::Ended; }),
               calls_.end());
}

void Exchange::passAudio(Call& call, int samples) {
  int16_t fromCaller[kMaxSamples] = {};
  int16_t fromCallee[kMaxSamples] = {};
  samples = std::min(samples, kMaxSamples);
  // A side that has hung up sends silence and hears nothing.
  if (call.gone != call.caller) call.caller->txAudio(fromCaller, samples);
  if (call.gone != call.callee) call.callee->txAudio(fromCallee, samples);
  impair(call, 0, fromCaller, samples);
  impair(call, 1, fromCallee, samples);
  if (call.gone != call.callee) call.callee->rxAudio(fromCaller, samples);
  if (call.gone != call.caller && (call.state == State::Connected || call.state == State::Draining))
    call.caller->rxAudio(fromCallee, samples);
}

void Exchange::passThroughGateways(Call& call, int samples) {
  samples = std::min(samples, kMaxSamples);
  Endpoint* ends[2] = {call.caller, call.callee};
  for (int i = 0; i < 2; ++i) {
    int16_t fromEnd[kMaxSamples] = {};
    int16_t toEnd[kMaxSamples] = {};
    if (call.gone != ends[i] && call.state != State::Ended) ends[i]->txAudio(fromEnd, samples);
    t38_gateway_rx(call.gateway[i], fromEnd, samples);
    const int n = playGateway(call.gateway[i], call.pagePlaying[i], toEnd, samples);
    std::fill(toEnd + std::max(n, 0), toEnd + samples, 0);
    if (call.gone != ends[i] && call.state != State::Ended) ends[i]->rxAudio(toEnd, samples);
  }
  for (int i = 0; i < 2; ++i) {
    auto queue = std::move(call.packets[i]);
    call.packets[i].clear();
    for (auto& packet : queue)
      t38_core_rx_ifp_packet(t38_gateway_get_t38_core_state(call.gateway[i]), packet.data(),
                             static_cast<int>(packet.size()), call.seq[i]++);
  }
}

}  // namespace faxsim
