// The virtual Class 1 modem over spandsp's T.31; see virtual_modem.h.
#include "virtual_modem.h"

#include <spandsp.h>
#include <spandsp/expose.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fe_errors.h"
#include "fe_ticks.h"
#include "media_path.h"

namespace fe::voip {

namespace {
// Handed to the modem at a time while CTS is on. T.31 drops CTS once its buffer
// holds more than 3072 of its 4096 bytes; with pieces this small the last one
// before that always fits.
constexpr size_t kPumpChunk = 256;
// The dispatch thread looks at the watches at least this often.
constexpr auto kDispatchIdle = std::chrono::milliseconds(50);
}  // namespace

TVirtualModem::TVirtualModem(TModemCallControl* control, size_t outSize) : control_(control), outSize_(outSize) {
  t31_ = t31_init(nullptr, reinterpret_cast<at_tx_handler_t*>(&TVirtualModem::AtOutput), this,
                  &TVirtualModem::ModemControl, this, nullptr, nullptr);
  // Silence between signals keeps the media stream going, as a line would.
  if (t31_) t31_set_transmit_on_idle(t31_, true);
  dispatch_ = std::thread([this] { DispatchLoop(); });
}

TVirtualModem::~TVirtualModem() {
  Close();
  {
    std::lock_guard<std::mutex> lk(ioMu_);
    stop_ = true;
  }
  cv_.notify_all();
  if (dispatch_.joinable()) dispatch_.join();
  std::lock_guard<std::mutex> lk(modemMu_);
  if (t31_) {
    // spandsp 0.0.6 does not free the modem's receive queue with the modem.
    queue_free(t31_->rx_queue);
    t31_->rx_queue = nullptr;
    t31_free(t31_);
    t31_ = nullptr;
  }
}

// ------------------------------------------------------------ modem side --

int TVirtualModem::AtOutput(void*, void* user, const uint8_t* buf, size_t len) {
  static_cast<TVirtualModem*>(user)->AddInput(buf, len);
  return static_cast<int>(len);
}

int TVirtualModem::ModemControl(t31_state_s*, void* user, int op, const char* num) {
  auto* self = static_cast<TVirtualModem*>(user);
  switch (op) {
    case AT_MODEM_CONTROL_CALL:
      self->offHook_ = true;
      if (self->control_) self->control_->ModemDial(num ? num : "");
      break;
    case AT_MODEM_CONTROL_ANSWER:
      self->offHook_ = true;
      if (self->control_) self->control_->ModemAnswer();
      break;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
      if (self->offHook_ && self->control_) self->control_->ModemHangUp();
      self->offHook_ = false;
      break;
    case AT_MODEM_CONTROL_CTS:
      // The new state of CTS comes as the pointer's value.
      self->cts_ = num != nullptr;
      if (self->cts_) self->Notify();
      break;
    default:
      break;
  }
  return 0;
}

void TVirtualModem::Pump() {
  if (!t31_) return;
  while (cts_ && outOff_ < out_.size()) {
    const size_t n = std::min(kPumpChunk, out_.size() - outOff_);
    t31_at_rx(t31_, reinterpret_cast<const char*>(out_.data() + outOff_), static_cast<int>(n));
    outOff_ += n;
    toModem_ += n;
  }
  if (outOff_ == out_.size()) {
    out_.clear();
    outOff_ = 0;
  } else if (outOff_ > outSize_) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outOff_));
    outOff_ = 0;
  }
  const size_t before = outQueued_.exchange(out_.size() - outOff_);
  if (before != outQueued_) Notify();
}

void TVirtualModem::AddInput(const uint8_t* data, size_t n) {
  if (n == 0) return;
  {
    std::lock_guard<std::mutex> lk(ioMu_);
    in_.insert(in_.end(), data, data + n);
    dataArmed_ = true;
  }
  fromModem_ += n;
  cv_.notify_all();
}

void TVirtualModem::Audio(const int16_t* rx, int real, int16_t* tx, int count) {
  std::lock_guard<std::mutex> lk(modemMu_);
  if (!t31_ || count <= 0) return;
  real = std::clamp(real, 0, count);
  // t31_rx takes a writable buffer: the samples go through a copy.
  int16_t copy[kTickSamples];
  for (int done = 0; done < real;) {
    const int n = std::min(real - done, kTickSamples);
    std::copy(rx + done, rx + done + n, copy);
    t31_rx(t31_, copy, n);
    done += n;
  }
  if (real < count) t31_rx_fillin(t31_, count - real);
  const int n = std::max(t31_tx(t31_, tx, count), 0);
  std::fill(tx + n, tx + count, int16_t{0});
  // Sending may have drained the modem's buffer and raised CTS.
  Pump();
}

void TVirtualModem::Service() {
  std::lock_guard<std::mutex> lk(modemMu_);
  Pump();
}

void TVirtualModem::Ring(const std::string& callerNumber, const std::string& callerName) {
  std::lock_guard<std::mutex> lk(modemMu_);
  if (!t31_) return;
  at_state_t* at = &t31_->at_state;
  // Shown with the RING when the engine asked for caller ids (AT+VCID=1). The
  // list lives only for this ring: spandsp 0.0.6 frees its entries but not
  // their texts, so they are freed here, and the next ring sets them again.
  if (!callerNumber.empty()) at_set_call_info(at, "NMBR", callerNumber.c_str());
  if (!callerName.empty()) at_set_call_info(at, "NAME", callerName.c_str());
  t31_call_event(t31_, AT_CALL_EVENT_ALERTING);
  for (at_call_id_t* id = at->call_id; id; id = id->next) {
    std::free(id->id);
    std::free(id->value);
    id->id = id->value = nullptr;
  }
  at_reset_call_info(at);
}

void TVirtualModem::Connected() {
  std::lock_guard<std::mutex> lk(modemMu_);
  if (t31_) t31_call_event(t31_, AT_CALL_EVENT_CONNECTED);
}

void TVirtualModem::Answered() {
  std::lock_guard<std::mutex> lk(modemMu_);
  if (t31_) t31_call_event(t31_, AT_CALL_EVENT_ANSWERED);
}

void TVirtualModem::CallEnded(const std::string& result) {
  {
    std::lock_guard<std::mutex> lk(modemMu_);
    if (!t31_) return;
    // The modem goes back to command mode on this event without a word to the
    // engine; the result a real modem gives is added here. The session already
    // knows the call is over: no hang-up request back to it.
    const bool wasOffHook = offHook_;
    offHook_ = false;
    t31_call_event(t31_, AT_CALL_EVENT_HANGUP);
    if (!wasOffHook && result.empty()) return;
  }
  const std::string text = "\r\n" + result + "\r\n";
  AddInput(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void TVirtualModem::SetModemLog(bool on) {
  std::lock_guard<std::mutex> lk(modemMu_);
  if (!t31_) return;
  logging_state_t* log = t31_get_logging_state(t31_);
  span_log_set_level(log, on ? SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_FLOW : 0);
}

// ------------------------------------------------------------- link side --

int TVirtualModem::Attach(TFaxLinkHandler* h) {
  if (!open_) return -ecNotOpen;
  std::lock_guard<std::mutex> lk(ioMu_);
  handler_ = h;
  return 0;
}

void TVirtualModem::Detach() {
  std::unique_lock<std::mutex> lk(ioMu_);
  handler_ = nullptr;
  // A handler running on another thread is waited for, so that it is not
  // destroyed under its own event; on the dispatch thread itself it is the caller.
  if (std::this_thread::get_id() != dispatch_.get_id()) cv_.wait(lk, [this] { return !delivering_; });
}

int TVirtualModem::Write(const void* data, size_t n) {
  if (!open_) return -ecNotOpen;
  if (n == 0) return 0;
  std::lock_guard<std::mutex> lk(modemMu_);
  if (out_.size() - outOff_ + n > outSize_) return -ecOutputBufferTooSmall;
  const auto* p = static_cast<const uint8_t*>(data);
  out_.insert(out_.end(), p, p + n);
  outQueued_ = out_.size() - outOff_;
  // Commands reach the modem at once rather than at the next media tick.
  Pump();
  return 0;
}

size_t TVirtualModem::Read(void* buf, size_t max) {
  std::lock_guard<std::mutex> lk(ioMu_);
  const size_t n = std::min(max, in_.size());
  if (n == 0) return 0;
  std::memcpy(buf, in_.data(), n);
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

size_t TVirtualModem::OutFree() {
  const size_t used = outQueued_;
  return used >= outSize_ ? 0 : outSize_ - used;
}

size_t TVirtualModem::OutUsed() {
  return outQueued_;
}

void TVirtualModem::FlushIn() {
  std::lock_guard<std::mutex> lk(ioMu_);
  in_.clear();
}

void TVirtualModem::FlushOut() {
  {
    std::lock_guard<std::mutex> lk(modemMu_);
    out_.clear();
    outOff_ = 0;
    outQueued_ = 0;
  }
  Notify();
}

void TVirtualModem::SetTimer(long ticks) {
  {
    std::lock_guard<std::mutex> lk(ioMu_);
    timerOn_ = ticks > 0;
    if (timerOn_) timerAt_ = std::chrono::steady_clock::now() + TicksToDuration(ticks);
  }
  cv_.notify_all();
}

void TVirtualModem::WatchOutFree(size_t bytes) {
  {
    std::lock_guard<std::mutex> lk(ioMu_);
    watchFree_ = bytes;
  }
  cv_.notify_all();
}

void TVirtualModem::WatchOutUsed(size_t level) {
  {
    std::lock_guard<std::mutex> lk(ioMu_);
    watchUsed_ = level;
  }
  cv_.notify_all();
}

void TVirtualModem::WatchOutEmpty(bool on) {
  {
    std::lock_guard<std::mutex> lk(ioMu_);
    watchEmpty_ = on;
  }
  cv_.notify_all();
}

void TVirtualModem::SetDTR(bool on) {
  const bool was = dtr_.exchange(on);
  if (on || !was) return;
  std::lock_guard<std::mutex> lk(modemMu_);
  if (t31_ && offHook_) t31_call_event(t31_, AT_CALL_EVENT_HANGUP);
  if (offHook_ && control_) control_->ModemHangUp();
  offHook_ = false;
}

void TVirtualModem::DebugLog(const std::string& text) {
  std::lock_guard<std::mutex> lk(traceMu_);
  if (trace_) trace_(text);
}

void TVirtualModem::SetTrace(std::function<void(const std::string&)> trace) {
  std::lock_guard<std::mutex> lk(traceMu_);
  trace_ = std::move(trace);
}

void TVirtualModem::Close() {
  if (!open_.exchange(false)) return;
  {
    std::lock_guard<std::mutex> lk(ioMu_);
    closingDue_ = true;
  }
  cv_.notify_all();
}

void TVirtualModem::Notify() {
  cv_.notify_all();
}

void TVirtualModem::DispatchLoop() {
  std::unique_lock<std::mutex> lk(ioMu_);
  while (!stop_) {
    const auto now = std::chrono::steady_clock::now();
    const size_t used = outQueued_;
    TLinkEvent ev{};
    bool fire = true;
    if (closingDue_) {
      closingDue_ = false;
      timerOn_ = false;
      watchFree_ = watchUsed_ = 0;
      watchEmpty_ = false;
      ev = TLinkEvent::Closing;
    } else if (dataArmed_ && !in_.empty()) {
      dataArmed_ = false;
      ev = TLinkEvent::Data;
    } else if (timerOn_ && now >= timerAt_) {
      timerOn_ = false;
      ev = TLinkEvent::Timer;
    } else if (watchFree_ > 0 && (used >= outSize_ ? 0 : outSize_ - used) >= watchFree_) {
      watchFree_ = 0;
      ev = TLinkEvent::OutFree;
    } else if (watchUsed_ > 0 && used <= watchUsed_) {
      watchUsed_ = 0;
      ev = TLinkEvent::OutUsed;
    } else if (watchEmpty_ && used == 0) {
      watchEmpty_ = false;
      ev = TLinkEvent::OutEmpty;
    } else {
      fire = false;
    }
    if (!fire) {
      auto until = now + kDispatchIdle;
      if (timerOn_ && timerAt_ < until) until = timerAt_;
      cv_.wait_until(lk, until);
      continue;
    }
    TFaxLinkHandler* h = handler_;
    if (!h) continue;
    delivering_ = true;
    lk.unlock();
    h->LinkEvent(ev);
    lk.lock();
    delivering_ = false;
    cv_.notify_all();
  }
}

}  // namespace fe::voip
