// The shared base of the fax engines; see abstract_fax.h.
#include "abstract_fax.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "fe_errors.h"
#include "rx_quality.h"
#include "t30.h"

namespace fe {

namespace {
long TicksToMs(long ticks) {
  return ticks * 92 * 1000 / 1675;
}
}  // namespace

TFeAbstractFax::TFeAbstractFax() = default;

TFeAbstractFax::~TFeAbstractFax() {
  if (link_ && attached_) link_->Detach();
  // Events still queued for the owner run now when this is the owner's thread;
  // elsewhere they are dropped when their turn comes.
  sink_->ProcessPending();
  alive_.reset();
}

std::string TFeAbstractFax::InitString(bool detectBusy, bool blindDial) {
  char x = detectBusy ? (blindDial ? '3' : '4') : (blindDial ? '1' : '2');
  return std::string("ATE0Q0V1X") + x + "S0=0S2=43";
}

namespace {
// While a posted log event runs, Session() on that thread answers with the
// values of the moment the event happened: by the time the owner gets to it the
// engine may already wait for the next call with its values reset.
thread_local const TFeAbstractFax* tEventFax = nullptr;
thread_local const TFaxSessionValues* tEventValues = nullptr;

struct EventValuesScope {
  EventValuesScope(const TFeAbstractFax* fax, const TFaxSessionValues* values)
      : outerFax(tEventFax), outerValues(tEventValues) {
    tEventFax = fax;
    tEventValues = values;
  }
  ~EventValuesScope() {
    tEventFax = outerFax;
    tEventValues = outerValues;
  }
  const TFeAbstractFax* outerFax;
  const TFaxSessionValues* outerValues;
};
}  // namespace

TFaxSessionValues TFeAbstractFax::Session() const {
  if (tEventFax == this && tEventValues) return *tEventValues;
  std::lock_guard<std::mutex> lk(valuesMu_);
  return values_;
}

int TFeAbstractFax::Status() const {
  if (tEventFax == this && tEventValues) return tEventValues->status;
  std::lock_guard<std::mutex> lk(valuesMu_);
  return values_.status;
}

void TFeAbstractFax::SetComPort(TFaxLink* link) {
  if (link == link_) return;
  // The next run attaches to the new link. The old one is not touched: its
  // owner may have freed it already (a link detaches itself when it goes).
  attached_ = false;
  link_ = link;
}

void TFeAbstractFax::LogState(int state, const char* name) {
  (void)state;
  if (link_) link_->DebugLog(name);
}

void TFeAbstractFax::EnsureAttached() {
  if (link_ && !attached_) attached_ = link_->Attach(this) == 0;
}

void TFeAbstractFax::LinkEvent(TLinkEvent ev) {
  if (running_) {
    std::lock_guard<std::recursive_mutex> lk(engineMu_);
    ++inHandler_;
    // A cancel request ends the session before anything else is looked at.
    if (running_ && !cancelRequested_) OnLinkEvent(ev);
    if (running_ && cancelRequested_) OnCancel();
    --inHandler_;
  }
  std::lock_guard<std::mutex> lk(syncMu_);
  syncCv_.notify_all();
}

void TFeAbstractFax::Cancel() {
  cancelRequested_ = true;
  if (!running_ || !link_) return;
  // The hang-up takes seconds and the events go out from the dispatch thread:
  // the caller only leaves the request. A dispatch thread that is busy sees it
  // when the current step returns; an idle one is woken by the engine's timer.
  // (An engine step that sets the timer meanwhile checks the request after it.)
  link_->SetTimer(1);
}

bool TFeAbstractFax::WaitDone(int timeoutMs) {
  std::unique_lock<std::mutex> lk(doneMu_);
  return doneCv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return !running_; });
}

void TFeAbstractFax::BeginRun() {
  // A cancel that came during the modem preparation is kept: the first step of
  // the run (woken at once) ends the session.
  finalCode_ = 0;
  {
    std::lock_guard<std::mutex> lk(valuesMu_);
    values_ = TFaxSessionValues{};
  }
  EnsureAttached();
  running_ = true;
  if (cancelRequested_ && link_) link_->SetTimer(1);
}

void TFeAbstractFax::EndRun(int finalCode) {
  if (!running_) return;
  finalCode_ = finalCode;
  SetStatus(Status(), false, true);
  PostFinish(finalCode);
  if (link_) {
    link_->SetTimer(0);
    link_->WatchOutFree(0);
    link_->WatchOutUsed(0);
    link_->WatchOutEmpty(false);
  }
  {
    std::lock_guard<std::mutex> lk(doneMu_);
    running_ = false;
  }
  doneCv_.notify_all();
}

bool TFeAbstractFax::SendToOwner(int msg, std::function<void()> call) {
  (void)msg;
  return sink_->Send(std::move(call), std::chrono::milliseconds(kFaxMessageTimeoutMs));
}

void TFeAbstractFax::PostToOwner(int msg, std::function<void()> call) {
  (void)msg;
  sink_->Post([alive = std::weak_ptr<int>(alive_), call = std::move(call)] {
    if (auto hold = alive.lock()) call();
  });
}

void TFeAbstractFax::SetHangup(int code, const std::string& reported) {
  UpdateSession([&](TFaxSessionValues& v) {
    v.hangupCode = code;
    v.hangupReport = reported;
  });
}

TFaxLogInfo TFeAbstractFax::LogInfo() const {
  TFaxSessionValues v = Session();
  TFaxLogInfo info;
  info.faxFile = v.faxFile;
  if (!v.faxFile.empty()) info.faxFiles.push_back(v.faxFile);
  info.phoneNumber = v.phoneNumber;
  info.remoteId = v.remoteId;
  info.hangupCode = !v.hangupReport.empty() ? v.hangupReport : std::to_string(v.hangupCode);
  info.lastError = v.lastError;
  for (const TPageDamage& d : v.damagedPages)
    info.damage += (info.damage.empty() ? "page " : "; page ") + std::to_string(d.page) + ": " +
                   DamageText(d.badLines, d.incomplete);
  return info;
}

void TFeAbstractFax::SetStatus(int code, bool first, bool last) {
  // The handlers see the values of this moment, not those of when they run.
  TFaxSessionValues now;
  UpdateSession([&](TFaxSessionValues& v) {
    v.status = code;
    now = v;
  });
  auto values = std::make_shared<const TFaxSessionValues>(std::move(now));
  auto call = [this, first, last, values] {
    EventValuesScope scope(this, values.get());
    if (OnFaxStatus) OnFaxStatus(*this, first, last);
    if (StatusDisplay) StatusDisplay->FaxStatus(*this, first, last);
  };
  // The display opens and closes on these: they must not be skipped.
  if (first || last)
    PostToOwner(fmFaxStatus, call);
  else
    SendToOwner(fmFaxStatus, call);
}

void TFeAbstractFax::PostLog(int logCode) {
  TFaxLogInfo info = LogInfo();
  auto values = std::make_shared<const TFaxSessionValues>(Session());
  PostToOwner(fmFaxLog, [this, logCode, info, values] {
    if (OnFaxLog) {
      EventValuesScope scope(this, values.get());
      OnFaxLog(*this, logCode);
    }
    if (FaxLog) FaxLog->LogFax(logCode, info);
  });
}

void TFeAbstractFax::PostError(int code) {
  UpdateSession([&](TFaxSessionValues& v) { v.lastError = code; });
  PostToOwner(fmFaxError, [this, code] {
    if (OnFaxError) OnFaxError(*this, code);
  });
}

void TFeAbstractFax::PostFinish(int code) {
  PostToOwner(fmFaxFinish, [this, code] {
    if (OnFaxFinish) OnFaxFinish(*this, code);
  });
}

void TFeAbstractFax::Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int TFeAbstractFax::WriteBytes(const void* data, size_t n) {
  if (!link_) return -ecPortNotAssigned;
  if (!link_->IsOpen()) return -ecNotOpen;
  return link_->Write(data, n);
}

int TFeAbstractFax::Command(const std::string& cmd, int delayMs) {
  if (delayMs > 0) Sleep(delayMs);
  if (link_) link_->DebugLog("send " + cmd);
  std::string line = cmd + "\r";
  return WriteBytes(line.data(), line.size());
}

void TFeAbstractFax::Drain() {
  if (!link_) return;
  uint8_t buf[4096];
  for (;;) {
    size_t n = link_->Read(buf, sizeof buf);
    if (n == 0) break;
    reader_.Feed(buf, n);
  }
}

int TFeAbstractFax::SyncCommand(const std::string& cmd, long timeoutTicks, std::string* answer) {
  EnsureAttached();
  Drain();
  reader_.Clear();
  int rc = Command(cmd);
  if (rc < 0) return rc;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TicksToMs(timeoutTicks));
  std::string line;
  for (;;) {
    Drain();
    while (reader_.TakeLine(line)) {
      if (line == cmd) continue;  // echo
      switch (ClassifyReply(line)) {
        case TModemReply::Ok:
          return 0;
        case TModemReply::None:
          if (answer) {
            if (!answer->empty()) *answer += '\n';
            *answer += line;
          }
          break;
        case TModemReply::Ring:
          break;
        default:
          return -ecFaxBadModemResult;
      }
    }
    if (!link_->IsOpen()) return -ecNotOpen;
    if (std::chrono::steady_clock::now() >= deadline) return -ecTimeout;
    std::unique_lock<std::mutex> lk(syncMu_);
    syncCv_.wait_for(lk, std::chrono::milliseconds(20));
  }
}

TClassSupport TFeAbstractFax::QueryClasses(const std::string& initString) {
  TClassSupport none;
  if (!link_) return none;
  bool ok = false;
  for (int attempt = 0; attempt < 2 && !ok; ++attempt) ok = SyncCommand(initString) == 0;
  if (!ok) return none;
  std::string answer;
  if (SyncCommand("AT+FCLASS=?", kReplyTicks, &answer) != 0) return none;
  for (auto& c : answer) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ParseClassSupport(answer);
}

TClassSupport TFeAbstractFax::ClassSupport() {
  if (supportKnown_) return support_;
  TClassSupport s = QueryClasses(DefaultInitString());
  if (initialised_ || s.Any()) {
    support_ = s;
    supportKnown_ = initialised_;
  }
  return s;
}

int TFeAbstractFax::PrepareModem(const std::string& initString) {
  cancelRequested_ = false;  // a cancel from here on is one of this session
  if (!link_) return -ecPortNotAssigned;
  if (!link_->IsOpen()) return -ecNotOpen;
  if (InitBaud > 0) link_->SetBaud(InitBaud);
  TFaxClass cls = FaxClass == TFaxClass::fcUnknown ? TFaxClass::fcDetect : FaxClass;
  if (cls == TFaxClass::fcDetect) {
    TClassSupport s = supportKnown_ ? support_ : QueryClasses(initString);
    if (s.class2_0)
      cls = TFaxClass::fcClass2_0;
    else if (s.class2)
      cls = TFaxClass::fcClass2;
    else if (s.class1)
      cls = TFaxClass::fcClass1;
    else
      return -ecFaxBadModemResult;
    support_ = s;
  }
  if (!initialised_) {
    if (!ModemInit.empty() && SyncCommand(ModemInit) != 0) return -ecFaxBadModemResult;
    if (SyncCommand(initString) != 0) return -ecFaxBadModemResult;
    initialised_ = true;
    supportKnown_ = support_.Any();
  }
  if (NormalBaud > 0) link_->SetBaud(NormalBaud);
  activeClass_ = cls;
  c2_ = &Class2Commands(cls);
  modemMaxBps_ = 14400;
  txModulations_.clear();
  if (cls == TFaxClass::fcClass1) {
    if (SyncCommand("AT+FCLASS=1") != 0) return -ecFaxBadModemResult;
    std::string answer;
    if (SyncCommand("AT+FTM=?", kReplyTicks, &answer) == 0) txModulations_ = t30::ParseModulationList(answer);
    modemMaxBps_ = t30::HighestModemSpeed(txModulations_, 14400);
    if (modemMaxBps_ == 0) modemMaxBps_ = 2400;
  }
  return 0;
}

void TFeAbstractFax::HangUp() {
  Sleep(kDelayEscapeMs);
  WriteBytes("+++", 3);
  Sleep(kDelayEscapeMs);
  Command("ATH0");
  if (link_) {
    // Lowering DTR hangs up a modem that missed the command; it is raised again
    // so that the port stays usable for the next call.
    link_->SetDTR(false);
    Sleep(kDelayCommandMs);
    link_->SetDTR(true);
  }
}

}  // namespace fe
