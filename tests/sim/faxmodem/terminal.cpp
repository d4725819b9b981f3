#include "terminal.h"

#include <spandsp.h>

#include "exchange.h"

namespace faxsim {

Terminal::Terminal(TerminalConfig config, Exchange& exchange, Events& events)
    : Endpoint(config.number, exchange, events), config_(std::move(config)) {
  if (config_.ident.empty()) config_.ident = config_.number;
}

Terminal::~Terminal() {
  stop();
}

std::string Terminal::describe() const {
  return std::string("terminal ") + number() + (config_.send ? " send" : " receive");
}

void Terminal::call(const std::string& number) {
  if (exchange().inCall(*this)) return;
  exchange().dial(*this, number);
}

void Terminal::start(bool calling) {
  stop();
  fax_ = fax_init(nullptr, calling);
  fax_set_transmit_on_idle(fax_, true);
  t30_state_t* t30 = fax_get_t30_state(fax_);
  t30_set_tx_ident(t30, config_.ident.c_str());
  if (config_.send)
    t30_set_tx_file(t30, config_.file.c_str(), -1, -1);
  else
    t30_set_rx_file(t30, config_.file.c_str(), -1);
  t30_set_ecm_capability(t30, config_.ecm);
  int compressions = T30_SUPPORT_T4_1D_COMPRESSION;
  if (!config_.mhOnly) compressions |= T30_SUPPORT_T4_2D_COMPRESSION;
  if (config_.t6) compressions |= T30_SUPPORT_T6_COMPRESSION;
  t30_set_supported_compressions(t30, compressions);
  if (config_.notReady > 0) t30_set_receiver_not_ready(t30, config_.notReady);
  if (config_.wide) {
    // spandsp's default offers 215 mm only; every page length is offered with the widths.
    t30_set_supported_image_sizes(
        t30, T30_SUPPORT_215MM_WIDTH | T30_SUPPORT_255MM_WIDTH | T30_SUPPORT_UNLIMITED_LENGTH | T30_SUPPORT_A4_LENGTH |
                 T30_SUPPORT_B4_LENGTH | T30_SUPPORT_US_LETTER_LENGTH | T30_SUPPORT_US_LEGAL_LENGTH);
  }
  t30_set_phase_d_handler(t30, &Terminal::phaseD, this);
  t30_set_phase_e_handler(t30, &Terminal::phaseE, this);
  if (logging()) {
    for (logging_state_t* log : {fax_get_logging_state(fax_), t30_get_logging_state(t30)}) {
      span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_SHOW_TAG | SPAN_LOG_FLOW);
      span_log_set_tag(log, number().c_str());
    }
  }
  hangupInMs_ = -1;
  imageBytes_ = 0;
  badRows_ = 0;
}

void Terminal::stop() {
  if (fax_ == nullptr) return;
  t30_terminate(fax_get_t30_state(fax_));
  fax_free(fax_);
  fax_ = nullptr;
}

int Terminal::phaseD(t30_state_s* s, void* user, int) {
  // Called once a page has ended; the statistics describe that page.
  auto* self = static_cast<Terminal*>(user);
  t30_stats_t stats;
  t30_get_transfer_statistics(s, &stats);
  self->imageBytes_ += stats.image_size;
  self->badRows_ += stats.bad_rows;
  return T30_ERR_OK;
}

void Terminal::phaseE(t30_state_s* s, void* user, int result) {
  auto* self = static_cast<Terminal*>(user);
  t30_stats_t stats;
  t30_get_transfer_statistics(s, &stats);
  self->events().add("result " + self->number() + " " + std::to_string(result) +
                     " pages=" + std::to_string(self->config_.send ? stats.pages_tx : stats.pages_rx) +
                     " bytes=" + std::to_string(self->imageBytes_) + " bad=" + std::to_string(self->badRows_) + " " +
                     t30_completion_code_to_str(result));
  // Leave the DTE on the other side a moment to hang up first, as a fax machine would.
  self->hangupInMs_ = 1000;
}

void Terminal::ringing(int ringCount) {
  if (ringCount < config_.answerAfterRings) return;
  if (exchange().answer(*this)) start(false);
}

void Terminal::callAnswered() {
  start(true);
}

void Terminal::callFailed(CallFailure failure) {
  static const char* const names[] = {"busy", "noanswer", "nocarrier"};
  events().add("result " + number() + " -1 pages=0 call failed: " + names[static_cast<int>(failure)]);
}

void Terminal::callEnded() {
  // The far end hung up: a session still running ends with its own result.
  if (fax_ != nullptr && hangupInMs_ < 0) t30_terminate(fax_get_t30_state(fax_));
  stop();
  hangupInMs_ = -1;
}

void Terminal::txAudio(int16_t* amp, int samples) {
  int n = fax_ != nullptr ? fax_tx(fax_, amp, samples) : 0;
  for (int i = n; i < samples; ++i) amp[i] = 0;
}

void Terminal::rxAudio(const int16_t* amp, int samples) {
  if (fax_ == nullptr) return;
  int16_t copy[1024];
  for (int i = 0; i < samples && i < 1024; ++i) copy[i] = amp[i];
  fax_rx(fax_, copy, samples);
}

void Terminal::service(int samples) {
  const int ms = samples / 8;
  sinceStartMs_ += ms;
  if (!config_.callNumber.empty() && !callPlaced_ && sinceStartMs_ >= config_.callAfterMs) {
    callPlaced_ = true;
    call(config_.callNumber);
  }
  if (hangupInMs_ >= 0) {
    hangupInMs_ -= ms;
    if (hangupInMs_ < 0) {
      exchange().hangup(*this);
      stop();
    }
  }
}

}  // namespace faxsim
