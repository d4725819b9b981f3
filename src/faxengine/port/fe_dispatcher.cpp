#include "fe_dispatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>
#include <tuple>

#include "fe_comport.h"
#include "fe_device.h"
#include "fe_errors.h"
#include "fe_ticks.h"
#include "fe_tracelog.h"

namespace fe {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDispatchWait = std::chrono::milliseconds(50);
constexpr int kLinePollMs = 50;  // how often modem lines and error counters are read
constexpr auto kThreadStartLimit = std::chrono::milliseconds(3000);

// Words of the event log.
constexpr std::string_view kLogTrigger = "Trigger";
constexpr std::string_view kLogDispatch = "Dispatch";

std::string_view MessageName(unsigned msg) {
  switch (msg) {
    case kTriggerAvail:
      return "Avail";
    case kTriggerData:
      return "Data";
    case kTriggerTimer:
      return "Timer";
    case kTriggerStatus:
      return "Status";
    case kPortClosing:
      return "PortClosing";
    default:
      return "Unknown";
  }
}

void DrainPipe(int fd) {
  char buf[64];
  while (::read(fd, buf, sizeof buf) > 0) {
  }
}

// Whether a failed read or write means the device is gone.
bool DeviceGone(int err) {
  return err != EAGAIN && err != EWOULDBLOCK && err != EINTR;
}

}  // namespace

TFeDispatcher::TFeDispatcher(int fd, std::string device, const TPortSettings& settings, TFeTraceLog* traceLog,
                             DeliverFn deliver)
    : fd_(fd),
      device_(std::move(device)),
      traceLog_(traceLog),
      deliver_(std::move(deliver)),
      in_(kInputRingSize),
      settings_(settings),
      out_(std::max(16u, settings.outSize)) {
  if (::pipe2(eventWake_, O_CLOEXEC | O_NONBLOCK) != 0) eventWake_[0] = eventWake_[1] = -1;
  if (::pipe2(outputWake_, O_CLOEXEC | O_NONBLOCK) != 0) outputWake_[0] = outputWake_[1] = -1;
  const int ms = ReadModemStatus(fd_);
  modemStatus_ = ms >= 0 ? static_cast<unsigned>(ms) : (msCTS | msDSR);
}

TFeDispatcher::~TFeDispatcher() {
  stop_ = true;
  Wake(eventWake_[1]);
  Wake(outputWake_[1]);
  {
    std::lock_guard<std::mutex> lock(inMu_);
    dispatchCv_.notify_all();
    eventCv_.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(outMu_);
    outCv_.notify_all();
  }
  for (std::thread* t : {&eventThread_, &dispatchThread_, &outputThread_}) {
    if (!t->joinable()) continue;
    if (t->get_id() == std::this_thread::get_id())
      t->detach();  // never join oneself
    else
      t->join();
  }
  CloseSerialDevice(fd_);
  for (int p : {eventWake_[0], eventWake_[1], outputWake_[0], outputWake_[1]})
    if (p >= 0) ::close(p);
}

void TFeDispatcher::Wake(int pipeWriteFd) {
  if (pipeWriteFd < 0) return;
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(pipeWriteFd, &c, 1);
}

int TFeDispatcher::Start() {
  if (started_.exchange(true)) return -ecAlreadyOpen;  // "Dispatcher already started"
  opened_ = Clock::now();
  running_ = true;
  auto startOne = [this](std::thread& t, void (TFeDispatcher::*body)()) {
    auto ready = std::make_shared<std::promise<void>>();
    auto future = ready->get_future();
    t = std::thread([this, body, ready] {
      ready->set_value();
      (this->*body)();
    });
    return future.wait_for(kThreadStartLimit) == std::future_status::ready;
  };
  if (!startOne(eventThread_, &TFeDispatcher::EventThread) ||
      !startOne(dispatchThread_, &TFeDispatcher::DispatchThread) ||
      !startOne(outputThread_, &TFeDispatcher::OutputThread)) {
    running_ = false;
    return -ecHardware;
  }
  if (traceLog_) traceLog_->LogEvent(kLogDispatch, "Open", fd_, 0);
  return 0;
}

void TFeDispatcher::Stop(const std::function<void()>& pump) {
  if (!started_) return;
  {
    std::lock_guard<std::mutex> lock(inMu_);
    closeRequested_ = true;
    dispatchCv_.notify_all();
  }
  if (OnDispatchThread()) return;  // the loop ends after the running handler returns
  // The closing notice may wait on the caller's own event loop: keep it running.
  while (pump && !dispatchDone_) {
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (dispatchThread_.joinable()) dispatchThread_.join();
  stop_ = true;
  Wake(eventWake_[1]);
  Wake(outputWake_[1]);
  {
    std::lock_guard<std::mutex> lock(inMu_);
    eventCv_.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(outMu_);
    outCv_.notify_all();
  }
  if (eventThread_.joinable()) eventThread_.join();
  if (outputThread_.joinable()) outputThread_.join();
  running_ = false;
}

void TFeDispatcher::SetLost(int error) {
  int expected = 0;
  if (!lostError_.compare_exchange_strong(expected, error)) return;
  if (traceLog_) traceLog_->LogEvent(kLogDispatch, "DeviceLost", error, 0);
  Wake(eventWake_[1]);
  Wake(outputWake_[1]);
  {
    std::lock_guard<std::mutex> lock(inMu_);
    dispatchCv_.notify_all();
    eventCv_.notify_all();
    inputCv_.notify_all();
  }
  std::lock_guard<std::mutex> lock(outMu_);
  outCv_.notify_all();
}

// ---------------------------------------------------------------- event thread

void TFeDispatcher::EventThread() {
  const bool hasLines = ReadModemStatus(fd_) >= 0;
  TLineCounters counters;
  const bool hasCounters = ReadLineCounters(fd_, counters);
  while (!stop_ && !Lost()) {
    bool wantInput;
    {
      std::lock_guard<std::mutex> lock(inMu_);
      wantInput = !throttled_;
    }
    pollfd fds[2] = {{fd_, static_cast<short>(wantInput ? POLLIN : 0), 0}, {eventWake_[0], POLLIN, 0}};
    const int n = ::poll(fds, 2, (hasLines || hasCounters) ? kLinePollMs : -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLost(-ecGetBlockFail);
      break;
    }
    if (fds[1].revents) DrainPipe(eventWake_[0]);
    if (stop_ || Lost()) break;
    bool signal = false;
    if (fds[0].revents & (POLLERR | POLLNVAL)) {
      SetLost(-ecGetBlockFail);
      break;
    }
    if ((fds[0].revents & POLLHUP) && !wantInput) {  // gone while input is held back
      SetLost(-ecGetBlockFail);
      break;
    }
    if (fds[0].revents & (POLLIN | POLLHUP)) signal = true;  // the dispatch thread's read tells a hang-up
    unsigned lineErrors = 0;
    int status = -1;
    if (hasLines) {
      status = ReadModemStatus(fd_);
      if (status < 0) {  // a vanished USB device fails every request
        SetLost(-ecGetBlockFail);
        break;
      }
    }
    if (hasCounters) {
      TLineCounters now;
      if (ReadLineCounters(fd_, now)) {
        if (now.overrun != counters.overrun) lineErrors |= leOverrun;
        if (now.parity != counters.parity) lineErrors |= leParity;
        if (now.frame != counters.frame) lineErrors |= leFraming;
        if (now.brk != counters.brk) lineErrors |= leBreak;
        counters = now;
      }
    }
    std::unique_lock<std::mutex> lock(inMu_);
    if (status >= 0 && static_cast<unsigned>(status) != modemStatus_) {
      modemStatus_ = static_cast<unsigned>(status);
      signal = true;
    }
    if (lineErrors) {
      lineErrors_ |= lineErrors;
      signal = true;
    }
    if (!signal) continue;
    // Lock-step: wake the dispatch thread and wait until it has read the input.
    signalled_ = true;
    processed_ = false;
    dispatchCv_.notify_all();
    eventCv_.wait(lock, [&] { return processed_ || stop_ || Lost(); });
  }
}

// ------------------------------------------------------------- dispatch thread

void TFeDispatcher::DeliverEvents(std::vector<std::tuple<unsigned, unsigned, long>>& events) {
  for (const auto& [msg, wParam, lParam] : events) {
    if (traceLog_) traceLog_->LogEvent(kLogTrigger, MessageName(msg), static_cast<long>(wParam), lParam);
    if (deliver_) deliver_(msg, wParam, lParam);
  }
  events.clear();
}

void TFeDispatcher::DispatchThread() {
  dispatchId_ = std::this_thread::get_id();
  std::vector<std::tuple<unsigned, unsigned, long>> events;
  for (;;) {
    bool service = false;
    {
      std::unique_lock<std::mutex> lock(inMu_);
      auto deadline = Clock::now() + kDispatchWait;
      if (auto next = triggers_.NextExpiry(); next && *next < deadline) deadline = *next;
      dispatchCv_.wait_until(lock, deadline, [&] { return signalled_ || rearm_ || closeRequested_ || Lost(); });
      if (closeRequested_ || Lost()) break;
      rearm_ = false;
      // With the polling flag a wait that ran out is handled as received data.
      service = signalled_ || PortPolling();
    }
    if (service) ServiceInput();
    CheckStatus();
    CheckTimers();
    std::lock_guard<std::mutex> lock(inMu_);
    if (signalled_) {
      signalled_ = false;
      processed_ = true;
      eventCv_.notify_all();
    }
  }
  events.emplace_back(kPortClosing, 0u, static_cast<long>(lostError_.load()));
  DeliverEvents(events);
  stop_ = true;
  dispatchDone_ = true;
  Wake(eventWake_[1]);
  Wake(outputWake_[1]);
  {
    std::lock_guard<std::mutex> lock(inMu_);
    processed_ = true;
    eventCv_.notify_all();
    inputCv_.notify_all();
  }
  std::lock_guard<std::mutex> lock(outMu_);
  outCv_.notify_all();
}

void TFeDispatcher::ServiceInput() {
  std::vector<std::uint8_t> fresh;
  bool gone = false;
  {
    std::lock_guard<std::mutex> lock(inMu_);
    while (!throttled_) {
      std::size_t span = 0;
      std::uint8_t* dst = in_.WriteSpan(span);
      if (span == 0) break;
      // Never read past the full mark, so that the driver holds the rest back.
      if (const std::size_t mark = FullMark(); in_.Used() < mark) span = std::min(span, mark - in_.Used());
      const ssize_t n = ::read(fd_, dst, span);
      if (n > 0) {
        in_.CommitWrite(static_cast<std::size_t>(n));
        fresh.insert(fresh.end(), dst, dst + n);
        UpdateThrottle();
        continue;
      }
      if (n == 0 || DeviceGone(errno)) gone = true;  // EIO: the far end or the device went away
      break;
    }
    // Traced before a reader is woken, so that whatever the reader does next
    // (a mark in the trace, a reply) comes after these bytes in the trace.
    if (!fresh.empty() && traceLog_) traceLog_->TraceBytes(false, fresh.data(), fresh.size());
    if (!fresh.empty()) inputCv_.notify_all();
  }
  std::vector<std::tuple<unsigned, unsigned, long>> events;
  std::vector<int> matched;
  std::size_t i = 0;
  while (i < fresh.size()) {
    {
      std::lock_guard<std::mutex> lock(inMu_);
      matched.clear();
      while (i < fresh.size() && matched.empty()) {
        triggers_.Feed(fresh[i++], matched);
        ++availPending_;
      }
      // Bytes ahead of a match (the matching text included) are announced first.
      const unsigned threshold = triggers_.AvailThreshold();
      if (threshold && availPending_ >= threshold) {
        events.emplace_back(kTriggerAvail, availPending_, 0L);
        availPending_ = 0;
      }
      for (int h : matched) events.emplace_back(kTriggerData, static_cast<unsigned>(h), 0L);
    }
    DeliverEvents(events);
  }
  if (gone) SetLost(-ecGetBlockFail);
}

void TFeDispatcher::CheckTimers() {
  std::vector<int> fired;
  {
    std::lock_guard<std::mutex> lock(inMu_);
    triggers_.Expired(Clock::now(), fired);
  }
  std::vector<std::tuple<unsigned, unsigned, long>> events;
  for (int h : fired) events.emplace_back(kTriggerTimer, static_cast<unsigned>(h), 0L);
  DeliverEvents(events);
}

void TFeDispatcher::CheckStatus() {
  std::size_t outUsed, outFree;
  {
    std::lock_guard<std::mutex> lock(outMu_);
    outUsed = out_.Used();
    outFree = out_.Free();
  }
  std::vector<std::tuple<unsigned, unsigned, long>> events;
  {
    std::lock_guard<std::mutex> lock(inMu_);
    const unsigned errors = lineErrors_;
    lineErrors_ = 0;
    for (auto& s : triggers_.StatusTriggers()) {
      if (!s.active) continue;
      long value = -1;
      switch (s.kind) {
        case stModem:
          if ((modemStatus_ ^ s.baseline) & s.value) value = modemStatus_;
          break;
        case stLine:
          if (errors & s.value) value = errors;
          break;
        case stOutBuffFree:
          if (outFree >= s.value) value = static_cast<long>(outFree);
          break;
        case stOutBuffUsed:
          if (outUsed <= s.value) value = static_cast<long>(outUsed);
          break;
        case stOutSent:
          if (outUsed == 0 && DriverOutputQueued(fd_) == 0) value = 0;
          break;
      }
      if (value < 0) continue;
      s.active = false;
      events.emplace_back(kTriggerStatus, static_cast<unsigned>(s.handle), value);
    }
  }
  DeliverEvents(events);
}

// ---------------------------------------------------------------- output thread

void TFeDispatcher::OutputThread() {
  std::vector<std::uint8_t> chunk;
  // Bytes at the head of the output buffer already in the trace. Bytes are
  // traced before they are written: once written, the modem may answer at once,
  // and its answer (traced by the input thread) and whatever the caller does
  // next (a mark, a pause of the trace) must come after them.
  std::size_t traced = 0;
  std::uint64_t tracedGeneration = 0;
  for (;;) {
    std::uint64_t generation;
    {
      std::unique_lock<std::mutex> lock(outMu_);
      outCv_.wait(lock, [&] { return stop_ || Lost() || out_.Used() > 0 || flushOut_; });
      if (stop_ || Lost()) break;
      if (flushOut_) {
        // FlushOut emptied the buffer already; what is in it now was written
        // since and must go out. Only the driver's queue is dropped here.
        flushOut_ = false;
        ::tcflush(fd_, TCOFLUSH);
        continue;
      }
      std::size_t len = 0;
      const std::uint8_t* p = out_.ReadSpan(len);
      len = std::min<std::size_t>(len, 4096);
      chunk.assign(p, p + len);
      generation = outGeneration_;
    }
    if (generation != tracedGeneration) traced = 0;  // a flush dropped what was traced
    tracedGeneration = generation;
    if (chunk.size() > traced) {
      if (traceLog_) traceLog_->TraceBytes(true, chunk.data() + traced, chunk.size() - traced);
      traced = chunk.size();
    }
    const ssize_t n = ::write(fd_, chunk.data(), chunk.size());
    if (n > 0) {
      traced -= std::min(traced, static_cast<std::size_t>(n));
      std::lock_guard<std::mutex> lock(outMu_);
      if (generation == outGeneration_) out_.Discard(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && DeviceGone(errno)) {
      SetLost(-ecPutBlockFail);
      break;
    }
    // The driver's buffer is full (flow control holds us back): wait until it drains.
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {outputWake_[0], POLLIN, 0}};
    if (::poll(fds, 2, 50) > 0 && fds[1].revents) DrainPipe(outputWake_[0]);
    if (fds[0].revents & (POLLERR | POLLNVAL)) {
      SetLost(-ecPutBlockFail);
      break;
    }
  }
}

// ------------------------------------------------------------------ settings

std::size_t TFeDispatcher::FullMark() const {
  const bool flow = settings_.hwFlow != 0 || settings_.swFlow == swfReceive || settings_.swFlow == swfBoth;
  return flow && settings_.bufferFull ? std::min<std::size_t>(settings_.bufferFull, in_.Size()) : in_.Size();
}

void TFeDispatcher::UpdateThrottle() {
  // Reading stops when the ring reaches the full mark (or is full without flow
  // control); the driver's buffer then fills and its flow control holds the modem.
  const bool flow = settings_.hwFlow != 0 || settings_.swFlow == swfReceive || settings_.swFlow == swfBoth;
  const std::size_t fullMark = FullMark();
  const std::size_t resumeMark = flow && settings_.bufferResume ? settings_.bufferResume : in_.Size() - 1;
  if (!throttled_ && in_.Used() >= fullMark) {
    throttled_ = true;
  } else if (throttled_ && in_.Used() <= std::min(resumeMark, fullMark - 1)) {
    throttled_ = false;
    Wake(eventWake_[1]);
  }
}

int TFeDispatcher::Reconfigure(const TPortSettings& settings) {
  std::lock_guard<std::mutex> lock(inMu_);
  const int rc = ConfigureSerialDevice(fd_, settings);
  if (rc < 0) return rc;
  settings_ = settings;
  UpdateThrottle();
  return 0;
}

int TFeDispatcher::SetLines(bool dtr, bool rts) {
  std::lock_guard<std::mutex> lock(inMu_);
  settings_.dtr = dtr;
  settings_.rts = rts;
  return SetModemLines(fd_, dtr, rts);
}

int TFeDispatcher::ModemStatus() const {
  const int ms = ReadModemStatus(fd_);
  return ms >= 0 ? ms : (msCTS | msDSR);
}

// ------------------------------------------------------------------ triggers

int TFeDispatcher::AddDataTrigger(std::string_view text, bool ignoreCase) {
  std::lock_guard<std::mutex> lock(inMu_);
  return triggers_.AddData(text, ignoreCase);
}

int TFeDispatcher::AddTimerTrigger() {
  std::lock_guard<std::mutex> lock(inMu_);
  return triggers_.AddTimer();
}

int TFeDispatcher::SetTimerTrigger(int handle, long ticks, bool activate) {
  std::lock_guard<std::mutex> lock(inMu_);
  const int rc = triggers_.SetTimer(handle, Clock::now() + TicksToDuration(ticks), activate);
  rearm_ = true;  // the dispatch thread recomputes its wait
  dispatchCv_.notify_all();
  return rc;
}

int TFeDispatcher::AddStatusTrigger(unsigned kind) {
  std::lock_guard<std::mutex> lock(inMu_);
  return triggers_.AddStatus(kind);
}

int TFeDispatcher::SetStatusTrigger(int handle, unsigned value, bool activate) {
  std::lock_guard<std::mutex> lock(inMu_);
  return triggers_.SetStatus(handle, value, activate, modemStatus_);
}

int TFeDispatcher::AddAvailTrigger(unsigned threshold) {
  std::lock_guard<std::mutex> lock(inMu_);
  return triggers_.AddAvail(threshold);
}

int TFeDispatcher::RemoveTrigger(int handle) {
  std::lock_guard<std::mutex> lock(inMu_);
  return triggers_.Remove(handle);
}

TTriggerSet TFeDispatcher::TakeTriggers() {
  std::lock_guard<std::mutex> lock(inMu_);
  TTriggerSet taken = std::move(triggers_);
  triggers_ = TTriggerSet();
  return taken;
}

void TFeDispatcher::GiveTriggers(TTriggerSet triggers) {
  std::lock_guard<std::mutex> lock(inMu_);
  triggers_ = std::move(triggers);
  triggers_.ResetMatches();
  dispatchCv_.notify_all();
}

// --------------------------------------------------------------------- input

int TFeDispatcher::CharReady() {
  std::lock_guard<std::mutex> lock(inMu_);
  return static_cast<int>(in_.Used());
}

int TFeDispatcher::GetChar() {
  std::lock_guard<std::mutex> lock(inMu_);
  if (in_.Used() == 0) return -ecBufferIsEmpty;
  const int c = in_.At(0);
  in_.Discard(1);
  UpdateThrottle();
  return c;
}

int TFeDispatcher::PeekChar(std::size_t index) {
  std::lock_guard<std::mutex> lock(inMu_);
  if (index >= in_.Used()) return -ecBufferIsEmpty;
  return in_.At(index);
}

int TFeDispatcher::GetBlock(void* data, std::size_t length, bool consume) {
  std::lock_guard<std::mutex> lock(inMu_);
  if (length > in_.Used()) return -ecGetBlockFail;
  in_.Peek(static_cast<std::uint8_t*>(data), length);
  if (consume) {
    in_.Discard(length);
    UpdateThrottle();
  }
  return static_cast<int>(length);
}

int TFeDispatcher::InBuffFree() {
  std::lock_guard<std::mutex> lock(inMu_);
  return static_cast<int>(in_.Free());
}

int TFeDispatcher::FlushIn() {
  std::lock_guard<std::mutex> lock(inMu_);
  ::tcflush(fd_, TCIFLUSH);
  in_.Clear();
  availPending_ = 0;
  triggers_.ResetMatches();
  UpdateThrottle();
  return 0;
}

bool TFeDispatcher::WaitInput(Clock::time_point until) {
  std::unique_lock<std::mutex> lock(inMu_);
  return inputCv_.wait_until(lock, until, [&] { return in_.Used() > 0 || Lost() || stop_; }) && in_.Used() > 0;
}

// -------------------------------------------------------------------- output

int TFeDispatcher::PutBlock(const void* data, std::size_t length) {
  if (Lost() || stop_) return -ecPutBlockFail;
  std::lock_guard<std::mutex> lock(outMu_);
  if (length > out_.Size()) return -ecOutputBufferTooSmall;
  if (length > out_.Free()) return -ecPutBlockFail;
  out_.Write(static_cast<const std::uint8_t*>(data), length);
  outCv_.notify_all();
  return 0;
}

int TFeDispatcher::OutBuffUsed() {
  std::lock_guard<std::mutex> lock(outMu_);
  return static_cast<int>(out_.Used());
}

int TFeDispatcher::OutBuffFree() {
  std::lock_guard<std::mutex> lock(outMu_);
  return static_cast<int>(out_.Free());
}

int TFeDispatcher::FlushOut() {
  std::lock_guard<std::mutex> lock(outMu_);
  out_.Clear();
  ++outGeneration_;
  flushOut_ = true;
  outCv_.notify_all();
  return 0;
}

}  // namespace fe
