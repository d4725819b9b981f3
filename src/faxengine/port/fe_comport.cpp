#include "fe_comport.h"

#include <algorithm>

#include "fe_device.h"
#include "fe_dispatcher.h"
#include "fe_errors.h"
#include "fe_portsettings.h"
#include "fe_tracelog.h"
#include "fe_triggers.h"

namespace fe {

namespace {
std::atomic<bool> gPolling{false};
thread_local bool tDelivering = false;                           // this thread is running trigger handlers
constexpr auto kEventTimeout = std::chrono::milliseconds(3000);  // per event sent to the sink
}  // namespace

void SetPortPolling(bool on) {
  gPolling = on;
}
bool PortPolling() {
  return gPolling.load();
}

TFeComPort::TFeComPort() : settings_(std::make_unique<TPortSettings>()), traceLog_(std::make_unique<TFeTraceLog>()) {}

TFeComPort::~TFeComPort() {
  ClosePort(false);
  std::lock_guard<std::mutex> lock(dispMu_);
  retired_.reset();
}

std::shared_ptr<TFeDispatcher> TFeComPort::Dispatcher() const {
  std::lock_guard<std::mutex> lock(dispMu_);
  return dispatcher_;
}

std::string TFeComPort::ResolvedDevice() const {
  if (auto d = Dispatcher()) return d->Device();
  return devicePath_.empty() ? MapComNumber(comNumber_) : devicePath_;
}

// ------------------------------------------------------------- open and close

bool TFeComPort::Open() const {
  auto d = Dispatcher();
  return d && !d->Lost();
}

int TFeComPort::SetOpen(bool open) {
  if (!open) {
    ClosePort(false);
    return 0;
  }
  return OpenPort();
}

int TFeComPort::EnsureOpen() {
  if (auto d = Dispatcher()) return d->Lost() ? -ecNotOpen : 0;
  return autoOpen_ ? OpenPort() : -ecNotOpen;
}

int TFeComPort::OpenPort() {
  if (auto d = Dispatcher()) {
    if (!d->Lost()) return 0;
    ClosePort(true);  // the device vanished earlier: start afresh, triggers kept
  }
  {
    // A dispatcher closed from its own handler is freed here, unless this is that
    // handler still running on it.
    std::lock_guard<std::mutex> lock(dispMu_);
    if (retired_ && !retired_->OnDispatchThread()) retired_.reset();
  }
  if (deviceLayer_ != dlWin32) return -ecBadArgument;
  std::string path;
  int fd = -1;
  for (;;) {
    path = devicePath_.empty() ? MapComNumber(comNumber_) : devicePath_;
    if (path.empty())
      fd = (comNumber_ == 0) ? -ecNoPortSelected : -ecBadId;
    else
      fd = OpenSerialDevice(path);
    if (fd >= 0 || (fd != -ecNoPortSelected && fd != -ecBadId) || !promptForPort_ || !OnPromptForPort) break;
    const unsigned chosen = OnPromptForPort(*this);
    if (chosen == 0) break;
    comNumber_ = chosen;
    devicePath_.clear();
  }
  if (fd < 0) return fd;
  NormaliseFlowThresholds(*settings_);
  if (const int rc = ConfigureSerialDevice(fd, *settings_); rc < 0) {
    CloseSerialDevice(fd);
    return rc;
  }
  auto d = std::make_shared<TFeDispatcher>(fd, path, *settings_, traceLog_.get(),
                                           [this](unsigned m, unsigned w, long l) { Deliver(m, w, l); });
  if (carriedTriggers_) {
    d->GiveTriggers(std::move(*carriedTriggers_));
    carriedTriggers_.reset();
  }
  if (const int rc = d->Start(); rc < 0) return rc;
  lastError_ = 0;
  std::lock_guard<std::mutex> lock(dispMu_);
  dispatcher_ = std::move(d);
  return 0;
}

void TFeComPort::ClosePort(bool keepTriggers) {
  auto d = Dispatcher();
  if (!d) return;
  if (d->OnDispatchThread()) {
    // A handler closes its own port: the threads end after it returns and the
    // dispatcher is freed later from another thread.
    d->Stop();
    std::lock_guard<std::mutex> lock(dispMu_);
    retired_ = dispatcher_;
    dispatcher_.reset();
    return;
  }
  TFeEventSink* sink = sink_.load();
  d->Stop([sink] {
    if (sink) sink->ProcessPending();
  });
  if (keepTriggers) carriedTriggers_ = std::make_unique<TTriggerSet>(d->TakeTriggers());
  {
    std::lock_guard<std::mutex> lock(dispMu_);
    dispatcher_.reset();
  }
  d.reset();  // joins the threads and closes the device
}

int TFeComPort::SetComNumber(unsigned number) {
  if (!Dispatcher()) {
    comNumber_ = number;
    devicePath_.clear();
    return 0;
  }
  // Reopen on the new number; tracing and logging belong to the component and
  // carry over by themselves, triggers are handed across.
  ClosePort(true);
  comNumber_ = number;
  devicePath_.clear();
  return OpenPort();
}

int TFeComPort::SetDeviceLayer(TDeviceLayer layer) {
  if (layer != dlWin32) return -ecBadArgument;
  deviceLayer_ = layer;
  return 0;
}

// ------------------------------------------------------------ line settings

int TFeComPort::ApplySettings(const TPortSettings& next) {
  TPortSettings s = next;
  if (const int rc = CheckLineSettings(s); rc < 0) return rc;
  NormaliseFlowThresholds(s);
  if (auto d = Dispatcher(); d && !d->Lost()) {
    if (const int rc = d->Reconfigure(s); rc < 0) return rc;
  }
  *settings_ = s;
  return 0;
}

long TFeComPort::Baud() const {
  return settings_->baud;
}
int TFeComPort::SetBaud(long baud) {
  TPortSettings s = *settings_;
  s.baud = baud;
  return ApplySettings(s);
}
TParity TFeComPort::Parity() const {
  return settings_->parity;
}
int TFeComPort::SetParity(TParity parity) {
  TPortSettings s = *settings_;
  s.parity = parity;
  return ApplySettings(s);
}
unsigned TFeComPort::DataBits() const {
  return settings_->dataBits;
}
int TFeComPort::SetDataBits(unsigned bits) {
  TPortSettings s = *settings_;
  s.dataBits = bits;
  return ApplySettings(s);
}
unsigned TFeComPort::StopBits() const {
  return settings_->stopBits;
}
int TFeComPort::SetStopBits(unsigned bits) {
  TPortSettings s = *settings_;
  s.stopBits = bits;
  return ApplySettings(s);
}
unsigned TFeComPort::InSize() const {
  return settings_->inSize;
}
int TFeComPort::SetInSize(unsigned size) {
  TPortSettings s = *settings_;
  s.inSize = size;
  return ApplySettings(s);
}
unsigned TFeComPort::OutSize() const {
  return settings_->outSize;
}
int TFeComPort::SetOutSize(unsigned size) {
  TPortSettings s = *settings_;
  s.outSize = size;
  return ApplySettings(s);
}
bool TFeComPort::DTR() const {
  return settings_->dtr;
}
int TFeComPort::SetDTR(bool on) {
  settings_->dtr = on;
  if (auto d = Dispatcher(); d && !d->Lost()) return d->SetLines(settings_->dtr, settings_->rts);
  return 0;
}
bool TFeComPort::RTS() const {
  return settings_->rts;
}
int TFeComPort::SetRTS(bool on) {
  settings_->rts = on;
  if (auto d = Dispatcher(); d && !d->Lost()) return d->SetLines(settings_->dtr, settings_->rts);
  return 0;
}
THWFlowOptions TFeComPort::HWFlowOptions() const {
  return settings_->hwFlow;
}
int TFeComPort::SetHWFlowOptions(THWFlowOptions options) {
  TPortSettings s = *settings_;
  s.hwFlow = options & (hwfUseDTR | hwfUseRTS | hwfRequireDSR | hwfRequireCTS);
  return ApplySettings(s);
}
TSWFlowOptions TFeComPort::SWFlowOptions() const {
  return settings_->swFlow;
}
int TFeComPort::SetSWFlowOptions(TSWFlowOptions options) {
  TPortSettings s = *settings_;
  s.swFlow = options;
  return ApplySettings(s);
}
char TFeComPort::XOnChar() const {
  return settings_->xonChar;
}
int TFeComPort::SetXOnChar(char c) {
  TPortSettings s = *settings_;
  s.xonChar = c;
  return ApplySettings(s);
}
char TFeComPort::XOffChar() const {
  return settings_->xoffChar;
}
int TFeComPort::SetXOffChar(char c) {
  TPortSettings s = *settings_;
  s.xoffChar = c;
  return ApplySettings(s);
}
unsigned TFeComPort::BufferFull() const {
  return settings_->bufferFull;
}
int TFeComPort::SetBufferFull(unsigned bytes) {
  TPortSettings s = *settings_;
  // A mark above the buffer itself is taken as 90% of the given value.
  s.bufferFull = bytes > s.inSize ? static_cast<unsigned>(bytes * 9ULL / 10) : bytes;
  return ApplySettings(s);
}
unsigned TFeComPort::BufferResume() const {
  return settings_->bufferResume;
}
int TFeComPort::SetBufferResume(unsigned bytes) {
  TPortSettings s = *settings_;
  s.bufferResume = bytes;
  return ApplySettings(s);
}
bool TFeComPort::RS485Mode() const {
  return settings_->rs485;
}
void TFeComPort::SetRS485Mode(bool on) {
  settings_->rs485 = on;
  NormaliseFlowThresholds(*settings_);
}

// ------------------------------------------------------------ trace and log

TTraceLogState TFeComPort::Tracing() const {
  return traceLog_->Tracing();
}
int TFeComPort::SetTracing(TTraceLogState state) {
  return traceLog_->SetTracing(state);
}
TTraceLogState TFeComPort::Logging() const {
  return traceLog_->Logging();
}
int TFeComPort::SetLogging(TTraceLogState state) {
  return traceLog_->SetLogging(state);
}
unsigned TFeComPort::TraceSize() const {
  return traceLog_->TraceSize();
}
void TFeComPort::SetTraceSize(unsigned entries) {
  traceLog_->SetTraceSize(entries);
}
unsigned TFeComPort::LogSize() const {
  return traceLog_->LogSize();
}
void TFeComPort::SetLogSize(unsigned entries) {
  traceLog_->SetLogSize(entries);
}
std::string TFeComPort::TraceName() const {
  return traceLog_->TraceName();
}
void TFeComPort::SetTraceName(std::string name) {
  traceLog_->SetTraceName(std::move(name));
}
std::string TFeComPort::LogName() const {
  return traceLog_->LogName();
}
void TFeComPort::SetLogName(std::string name) {
  traceLog_->SetLogName(std::move(name));
}
bool TFeComPort::TraceHex() const {
  return traceLog_->TraceHex();
}
void TFeComPort::SetTraceHex(bool on) {
  traceLog_->SetTraceHex(on);
}
bool TFeComPort::LogHex() const {
  return traceLog_->LogHex();
}
void TFeComPort::SetLogHex(bool on) {
  traceLog_->SetLogHex(on);
}

int TFeComPort::AddLogText(std::string_view text) {
  if (traceLog_->Logging() == tlOff) return -ecLoggingNotEnabled;
  traceLog_->LogText(text);
  return 0;
}

int TFeComPort::AddTraceMark(std::string_view text) {
  if (traceLog_->Tracing() != tlOn) return -ecTracingNotEnabled;
  traceLog_->TraceMark(text);
  return 0;
}

int TFeComPort::AddLogEntry(std::string_view type, std::string_view subType, long data, long otherData) {
  if (traceLog_->Logging() == tlOff) return -ecLoggingNotEnabled;
  traceLog_->LogEvent(type, subType, data, otherData);
  return 0;
}

// ------------------------------------------------------------------ events

void TFeComPort::SetEventSink(TFeEventSink* sink) {
  sink_ = sink;
}
TFeEventSink* TFeComPort::EventSink() const {
  return sink_.load();
}

int TFeComPort::RegisterTriggerHandler(TTriggerHandler handler) {
  if (!handler) return -ecBadArgument;
  std::lock_guard<std::mutex> lock(handlersMu_);
  const int id = nextHandlerId_++;
  handlers_.emplace_back(id, std::make_shared<TTriggerHandler>(std::move(handler)));
  return id;
}

int TFeComPort::DeregisterTriggerHandler(int id) {
  std::unique_lock<std::mutex> lock(handlersMu_);
  auto it = std::find_if(handlers_.begin(), handlers_.end(), [id](const auto& h) { return h.first == id; });
  if (it == handlers_.end()) return -ecBadArgument;
  handlers_.erase(it);
  // A handler may be running on the dispatch thread right now: wait for it, so that
  // its owner can be freed once this returns (unless a handler deregisters itself).
  if (!tDelivering) handlersIdle_.wait(lock, [this] { return delivering_ == 0; });
  return 0;
}

void TFeComPort::Deliver(unsigned msg, unsigned wParam, long lParam) {
  if (msg == kPortClosing && lParam != 0) lastError_ = static_cast<int>(lParam);
  std::vector<std::shared_ptr<TTriggerHandler>> procs;
  unsigned kind = 0;
  {
    std::lock_guard<std::mutex> lock(handlersMu_);
    for (const auto& h : handlers_) procs.push_back(h.second);
    if (msg == kTriggerStatus)
      for (const auto& [handle, k] : statusKinds_)
        if (static_cast<unsigned>(handle) == wParam) kind = k;
    ++delivering_;
  }
  tDelivering = true;
  for (const auto& p : procs) {
    {
      // Skip a handler deregistered by an earlier one in this round.
      std::lock_guard<std::mutex> lock(handlersMu_);
      if (std::none_of(handlers_.begin(), handlers_.end(), [&](const auto& h) { return h.second == p; })) continue;
    }
    (*p)(msg, wParam, lParam);
  }
  tDelivering = false;
  {
    std::lock_guard<std::mutex> lock(handlersMu_);
    --delivering_;
    handlersIdle_.notify_all();
  }
  DeliverToEvents(msg, wParam, lParam, kind);
}

void TFeComPort::DeliverToEvents(unsigned msg, unsigned wParam, long lParam, unsigned statusKind) {
  const bool any = OnTrigger || OnTriggerAvail || OnTriggerData || OnTriggerStatus || OnTriggerTimer ||
                   OnTriggerLineError || OnTriggerModemStatus || OnTriggerOutbuffFree || OnTriggerOutbuffUsed ||
                   OnTriggerOutSent;
  if (!any) return;
  auto call = [this, msg, wParam, lParam, statusKind] {
    if (OnTrigger) OnTrigger(*this, msg, wParam, lParam);
    switch (msg) {
      case kTriggerAvail:
        if (OnTriggerAvail) OnTriggerAvail(*this, wParam);
        break;
      case kTriggerData:
        if (OnTriggerData) OnTriggerData(*this, wParam);
        break;
      case kTriggerTimer:
        if (OnTriggerTimer) OnTriggerTimer(*this, wParam);
        break;
      case kTriggerStatus:
        if (OnTriggerStatus) OnTriggerStatus(*this, wParam);
        switch (statusKind) {
          case stModem:
            if (OnTriggerModemStatus) OnTriggerModemStatus(*this);
            break;
          case stLine:
            if (OnTriggerLineError)
              OnTriggerLineError(*this, static_cast<unsigned>(lParam), (static_cast<unsigned>(lParam) & leBreak) != 0);
            break;
          case stOutBuffFree:
            if (OnTriggerOutbuffFree) OnTriggerOutbuffFree(*this);
            break;
          case stOutBuffUsed:
            if (OnTriggerOutbuffUsed) OnTriggerOutbuffUsed(*this);
            break;
          case stOutSent:
            if (OnTriggerOutSent) OnTriggerOutSent(*this);
            break;
          default:
            break;
        }
        break;
      default:
        break;
    }
  };
  if (TFeEventSink* sink = sink_.load())
    sink->Send(call, kEventTimeout);
  else
    call();
}

// ---------------------------------------------------------------- triggers

template <typename F>
int TFeComPort::WithPort(F&& f) {
  if (const int rc = EnsureOpen(); rc < 0) return rc;
  auto d = Dispatcher();
  if (!d || d->Lost()) return -ecNotOpen;
  return f(*d);
}

int TFeComPort::AddDataTrigger(std::string_view text, bool ignoreCase) {
  return WithPort([&](TFeDispatcher& d) { return d.AddDataTrigger(text, ignoreCase); });
}
int TFeComPort::AddTimerTrigger() {
  return WithPort([](TFeDispatcher& d) { return d.AddTimerTrigger(); });
}
int TFeComPort::SetTimerTrigger(int handle, long ticks, bool activate) {
  return WithPort([&](TFeDispatcher& d) { return d.SetTimerTrigger(handle, ticks, activate); });
}
int TFeComPort::AddStatusTrigger(unsigned kind) {
  const int h = WithPort([&](TFeDispatcher& d) { return d.AddStatusTrigger(kind); });
  if (h > 0) {
    std::lock_guard<std::mutex> lock(handlersMu_);
    statusKinds_.emplace_back(h, kind);
  }
  return h;
}
int TFeComPort::SetStatusTrigger(int handle, unsigned value, bool activate) {
  return WithPort([&](TFeDispatcher& d) { return d.SetStatusTrigger(handle, value, activate); });
}
int TFeComPort::AddAvailTrigger(unsigned threshold) {
  return WithPort([&](TFeDispatcher& d) { return d.AddAvailTrigger(threshold); });
}
int TFeComPort::RemoveTrigger(int handle) {
  const int rc = WithPort([&](TFeDispatcher& d) { return d.RemoveTrigger(handle); });
  if (rc == 0) {
    std::lock_guard<std::mutex> lock(handlersMu_);
    std::erase_if(statusKinds_, [handle](const auto& e) { return e.first == handle; });
  }
  return rc;
}

// ------------------------------------------------------- input and output

int TFeComPort::SendText(std::string_view text) {
  return PutBlock(text.data(), text.size());
}
int TFeComPort::PutChar(char c) {
  return PutBlock(&c, 1);
}
int TFeComPort::PutBlock(const void* data, std::size_t length) {
  return WithPort([&](TFeDispatcher& d) { return d.PutBlock(data, length); });
}

int TFeComPort::AwaitText(std::string_view text, long ticks, bool ignoreCase, bool processMessages) {
  auto d = Dispatcher();
  if (!d || !d->Lost()) {
    if (const int rc = EnsureOpen(); rc < 0) return rc;
    d = Dispatcher();
  }
  if (!d) return -ecNotOpen;
  if (d->OnDispatchThread()) return -ecBadArgument;  // the dispatch thread fills the input itself
  TTriggerSet matcher;
  if (const int rc = matcher.AddData(text, ignoreCase); rc < 0) return rc;
  std::vector<int> matched;
  const auto deadline = std::chrono::steady_clock::now() + TicksToDuration(ticks);
  TFeEventSink* sink = processMessages ? sink_.load() : nullptr;
  for (;;) {
    for (int c; (c = d->GetChar()) >= 0;) {
      if (OnWaitChar) OnWaitChar(*this, static_cast<char>(c));
      matcher.Feed(static_cast<std::uint8_t>(c), matched);
      if (!matched.empty()) return 1;
    }
    if (d->Lost()) return d->LostError();
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return 0;
    if (sink) {
      sink->ProcessPending();
      d->WaitInput(std::min(deadline, now + std::chrono::milliseconds(10)));
    } else {
      d->WaitInput(deadline);
    }
  }
}

// Input that arrived before a device vanished stays readable until the port is closed.
template <typename F>
int TFeComPort::WithInput(F&& f) {
  if (auto d = Dispatcher(); d && d->Lost()) return f(*d);
  return WithPort(std::forward<F>(f));
}

int TFeComPort::CharReady() {
  return WithInput([](TFeDispatcher& d) { return d.CharReady(); });
}
int TFeComPort::GetChar() {
  return WithInput([](TFeDispatcher& d) { return d.GetChar(); });
}
int TFeComPort::PeekChar(unsigned index) {
  return WithInput([&](TFeDispatcher& d) { return d.PeekChar(index); });
}
int TFeComPort::GetBlock(void* data, std::size_t length) {
  return WithInput([&](TFeDispatcher& d) { return d.GetBlock(data, length, true); });
}
int TFeComPort::PeekBlock(void* data, std::size_t length) {
  return WithInput([&](TFeDispatcher& d) { return d.GetBlock(data, length, false); });
}
int TFeComPort::InBuffUsed() {
  return CharReady();
}
int TFeComPort::InBuffFree() {
  return WithPort([](TFeDispatcher& d) { return d.InBuffFree(); });
}
int TFeComPort::OutBuffUsed() {
  return WithPort([](TFeDispatcher& d) { return d.OutBuffUsed(); });
}
int TFeComPort::OutBuffFree() {
  return WithPort([](TFeDispatcher& d) { return d.OutBuffFree(); });
}
int TFeComPort::FlushInBuffer() {
  return WithPort([](TFeDispatcher& d) { return d.FlushIn(); });
}
int TFeComPort::FlushOutBuffer() {
  return WithPort([](TFeDispatcher& d) { return d.FlushOut(); });
}
int TFeComPort::ModemStatus() {
  return WithPort([](TFeDispatcher& d) { return d.ModemStatus(); });
}

}  // namespace fe
