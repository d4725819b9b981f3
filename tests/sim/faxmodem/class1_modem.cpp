#include "class1_modem.h"

#include <spandsp.h>
#include <spandsp/expose.h>

#include <cstdint>
#include <stdexcept>

#include "exchange.h"

namespace faxsim {

Class1Modem::Class1Modem(std::string number, std::string link, Exchange& exchange, Events& events)
    : Endpoint(std::move(number), exchange, events), pty_(std::move(link)) {
  t31_ = t31_init(nullptr, reinterpret_cast<at_tx_handler_t*>(&Class1Modem::atOutput), this, &Class1Modem::modemControl,
                  this, nullptr, nullptr);
  if (t31_ == nullptr) throw std::runtime_error("t31_init failed");
  t31_set_transmit_on_idle(t31_, true);
  if (logging()) {
    logging_state_t* log = t31_get_logging_state(t31_);
    span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_SHOW_TAG | SPAN_LOG_FLOW);
    span_log_set_tag(log, this->number().c_str());
  }
}

Class1Modem::~Class1Modem() {
  if (t31_ == nullptr) return;
  // spandsp 0.0.6 does not free the T.31 receive queue with the modem.
  queue_free(t31_->rx_queue);
  t31_->rx_queue = nullptr;
  t31_free(t31_);
}

std::string Class1Modem::describe() const {
  return "class1 " + number() + " " + pty_.slavePath();
}

int Class1Modem::atOutput(void*, void* user, const uint8_t* buf, size_t len) {
  static_cast<Class1Modem*>(user)->pty_.write(buf, len);
  return static_cast<int>(len);
}

int Class1Modem::modemControl(t31_state_s*, void* user, int op, const char* num) {
  auto* self = static_cast<Class1Modem*>(user);
  switch (op) {
    case AT_MODEM_CONTROL_CALL:
      self->exchange().dial(*self, num != nullptr ? num : "");
      break;
    case AT_MODEM_CONTROL_ANSWER:
      if (self->exchange().answer(*self))
        t31_call_event(self->t31_, AT_CALL_EVENT_ANSWERED);
      else
        t31_call_event(self->t31_, AT_CALL_EVENT_HANGUP);
      break;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
      self->exchange().hangup(*self);
      break;
    case AT_MODEM_CONTROL_CTS:
      // The T.31 module passes the new state of CTS as the pointer value.
      self->cts_ = num != nullptr;
      break;
    default:
      break;
  }
  return 0;
}

void Class1Modem::ringing(int) {
  t31_call_event(t31_, AT_CALL_EVENT_ALERTING);
}

void Class1Modem::callAnswered() {
  t31_call_event(t31_, AT_CALL_EVENT_CONNECTED);
}

void Class1Modem::callFailed(CallFailure failure) {
  // The T.31 module goes back to command mode on a hang-up event without a
  // word to the DTE, so the result a real modem gives is reported here.
  t31_call_event(t31_, AT_CALL_EVENT_HANGUP);
  static const char* const results[] = {"\r\nBUSY\r\n", "\r\nNO ANSWER\r\n", "\r\nNO CARRIER\r\n"};
  pty_.write(results[static_cast<int>(failure)]);
}

void Class1Modem::callEnded() {
  t31_call_event(t31_, AT_CALL_EVENT_HANGUP);
  pty_.write("\r\nNO CARRIER\r\n");
}

void Class1Modem::txAudio(int16_t* amp, int samples) {
  int n = t31_tx(t31_, amp, samples);
  for (int i = n; i < samples; ++i) amp[i] = 0;
}

void Class1Modem::rxAudio(const int16_t* amp, int samples) {
  int16_t copy[1024];
  for (int i = 0; i < samples && i < 1024; ++i) copy[i] = amp[i];
  t31_rx(t31_, copy, samples);
}

void Class1Modem::service(int) {
  // A pseudo-terminal has no CTS line: while the modem's transmit buffer is
  // full we simply stop reading, and the pty's own buffer holds the DTE back.
  uint8_t buf[128];
  for (int budget = 64; budget > 0 && cts_; --budget) {
    size_t n = pty_.read(buf, sizeof buf);
    if (n == 0) break;
    t31_at_rx(t31_, reinterpret_cast<const char*>(buf), static_cast<int>(n));
  }
  pty_.flush();
}

}  // namespace faxsim
