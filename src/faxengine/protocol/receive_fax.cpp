// The receive state machine; see receive_fax.h. Class 1 runs T.30 over the
// modem's HDLC commands here; Class 2/2.0 modems run T.30 themselves and report.
#include "receive_fax.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>

#include "fe_errors.h"
#include "rx_t30.h"

namespace fe {

namespace {

constexpr long kAnswerTicks = SecondsToTicks(60);
constexpr long kRingGapTicks = SecondsToTicks(10);  // rings further apart belong to another call

}  // namespace

TFeReceiveFax::TFeReceiveFax() {
  FaxClass = TFaxClass::fcDetect;
  InitBaud = 0;
  NormalBaud = 0;
  FaxFileExt = "APF";
}

TFeReceiveFax::~TFeReceiveFax() {
  std::lock_guard<std::recursive_mutex> lk(engineMu_);
  if (file_.IsOpen()) file_.Close();
}

void TFeReceiveFax::SetState(TReceiveFaxState s) {
  if (s == state_) return;
  state_ = s;
  LogState(s, StateName(s));
}

void TFeReceiveFax::Timer(long ticks) {
  if (link_) link_->SetTimer(ticks);
}

int TFeReceiveFax::StartReceive() {
  if (!link_) return -ecPortNotAssigned;
  if (Running()) return -ecBadArgument;
  std::lock_guard<std::recursive_mutex> lk(engineMu_);
  int rc = PrepareModem(DefaultInitString());
  if (rc < 0) return rc == -ecNotOpen || rc == -ecPortNotAssigned ? rc : -ecFaxBadModemResult;
  std::string id = StationID.substr(0, 20);
  for (auto& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (activeClass_ == TFaxClass::fcClass1) {
    std::string answer;
    rxModulations_.clear();
    if (SyncCommand("AT+FRM=?", kReplyTicks, &answer) == 0) rxModulations_ = t30::ParseModulationList(answer);
    const int tx = t30::HighestModemSpeed(txModulations_, DesiredBPS);
    const int rx = t30::HighestModemSpeed(rxModulations_, DesiredBPS);
    maxBps_ = std::max(2400, std::min(tx, rx));
  } else {
    maxBps_ = DesiredBPS;
    if (SyncCommand(c2_->selectClass) != 0 || SyncCommand("AT+FCR=1") != 0 ||
        SyncCommand(std::string(c2_->localId) + "=\"" + id + "\"") != 0 ||
        SyncCommand(std::string("AT+FAA=") + (FaxAndData ? "1" : "0")) != 0)
      return -ecFaxBadModemResult;
  }
  BeginRun();
  firstStatus_ = true;
  faxesReceived_ = 0;
  initFailures_ = 0;
  Reset();
  return 0;
}

// ---- events ---------------------------------------------------------------

void TFeReceiveFax::OnLinkEvent(TLinkEvent ev) {
  if (ev == TLinkEvent::Closing) {
    // The port is going away: nothing more can be received.
    PostError(ecNotOpen);
    EndAcceptedCall();
    SetState(rfDone);
    EndRun(ecNotOpen);
    return;
  }
  if (ev == TLinkEvent::Timer) HandleTimeout();
  if (!Running()) return;
  Drain();
  Process();
}

void TFeReceiveFax::OnCancel() {
  Timer(0);
  PostError(ecCancelRequested);
  EndAcceptedCall();
  if (inCall_) HangUp();
  inCall_ = false;
  SetState(rfDone);
  SetStatus(fsUserAbort);
  EndRun(ecCancelRequested);
}

void TFeReceiveFax::Process() {
  std::string line;
  while (Running() && state_ != rfDone) {
    if (input_ == Input::Lines) {
      if (!reader_.TakeLine(line)) return;
      if (link_) link_->DebugLog("recv " + line);
      HandleLine(line);
      continue;
    }
    const bool ended = reader_.TakeBlock(block_, input_ == Input::Frame ? 512 : SIZE_MAX);
    if (input_ != Input::Frame && !block_.empty()) {
      HandleBlockData(block_);
      block_.clear();
    }
    if (!ended) return;
    HandleBlockEnd();
  }
}

void TFeReceiveFax::Connected(Input mode) {
  input_ = mode;
  block_.clear();
}

void TFeReceiveFax::HandleLine(const std::string& line) {
  switch (state_) {
    case rf1Init1:
    case rf2Init1:
    case rf2Init1A:
    case rf2Init1B:
    case rf2Init3: {
      const TModemReply r = ClassifyReply(line);
      if (r == TModemReply::Error) return Fail(ecFaxInitError);
      if (r != TModemReply::Ok) return;
      if (state_ == rf2Init1) {
        SetState(activeClass_ == TFaxClass::fcClass2_0 ? rf2Init1A : rf2Init3);
        Command(Class2CapsCommand(*c2_, true, DesiredBPS, false, DesiredECM));
      } else if (state_ == rf2Init1A) {
        SetState(rf2Init1B);
        Command(SoftwareFlow ? "AT+FLO=1" : "AT+FLO=2");
      } else if (state_ == rf2Init1B) {
        SetState(rf2Init3);
        Command("AT+FNR=1,1,1,0");
      } else {
        initFailures_ = 0;
        SetState(rfWaiting);
        Timer(0);
        // Without ConstantStatus the status display is shown during calls only.
        if (ConstantStatus) {
          SetStatus(fsWaitingForCall, firstStatus_);
          firstStatus_ = false;
        } else {
          SetStatus(fsWaitingForCall, false, true);
        }
      }
      Timer(kReplyTicks);
      return;
    }
    case rfWaiting:
      return Waiting(line);
    default:
      break;
  }
  if (activeClass_ == TFaxClass::fcClass1)
    Class1Line(line);
  else
    Class2Line(line);
}

void TFeReceiveFax::HandleBlockData(const std::vector<std::uint8_t>& data) {
  if (input_ == Input::Training) {
    trainBytes_ += data.size();
    for (auto v : data) trainNonZero_ += v != 0;
    return;
  }
  // Page data.
  if (ecm_ && activeClass_ == TFaxClass::fcClass1) return EcmBurstData(data);
  if (activeClass_ == TFaxClass::fcClass2 && bitOrder_ == BitOrder::Unknown) {
    // Hold the start of the first page until its bit order is known.
    orderProbe_.insert(orderProbe_.end(), data.begin(), data.end());
    if (orderProbe_.size() < kOrderProbeBytes) return;
    return FlushOrderProbe();
  }
  std::vector<std::uint8_t> copy;
  const std::vector<std::uint8_t>* bytes = &data;
  if (beforeFirstEol_) {
    // Drop the modem's fill before the page's first end of line.
    pageStart_.insert(pageStart_.end(), data.begin(), data.end());
    if (!TrimToFirstEol(pageStart_)) return Timer(kPageTicks);
    beforeFirstEol_ = false;
    copy.swap(pageStart_);
    pageStart_.clear();
    bytes = &copy;
  }
  if (bitOrder_ == BitOrder::Reversed) {
    if (bytes == &data) copy = data;
    ReverseBits(copy.data(), copy.size());
    bytes = &copy;
  }
  std::size_t pageBytes = 0;
  if (PageBuffered()) {
    if (!KeepPageData(bytes->data(), bytes->size())) return PageTooLong();
    pageBytes = pageData_.size();
  } else {
    const int rc = file_.Append(bytes->data(), bytes->size());
    if (rc < 0) return Fail(-rc);
    pageBytes = file_.PageBytes();
  }
  UpdateSession([&](TFaxSessionValues& v) {
    v.bytesTransferred = static_cast<long>(pageBytes);
    v.pageLength = static_cast<long>(pageBytes);
  });
  // The byte count as the page arrives, every StatusInterval seconds.
  const auto now = std::chrono::steady_clock::now();
  if (StatusInterval > 0 && now - lastStatus_ >= std::chrono::seconds(StatusInterval)) {
    lastStatus_ = now;
    SetStatus(fsGettingPage);
  }
  Timer(kPageTicks);
}

void TFeReceiveFax::HandleBlockEnd() {
  const Input was = input_;
  input_ = Input::Lines;
  if (was == Input::Frame) {
    // The frame counts once the modem confirms its check sequence with "OK".
    frameDone_ = true;
    return;
  }
  if (was == Input::Training) {
    SetState(rf1CollTrn);
    trainingGood_ = t30::TrainingGood(trainNonZero_, trainBytes_);
    return;  // the carrier loss report follows; then the answer goes out
  }
  // End of a page.
  if (bitOrder_ == BitOrder::Unknown && !orderProbe_.empty()) FlushOrderProbe();
  if (!Running() || state_ != rfGtPgDta) return;
  if (activeClass_ == TFaxClass::fcClass1) {
    SetState(rf1FinPage);
  } else {
    SetState(rf2GtPgRslt);
    fet_ = -1;
    pageStatus_ = -1;
    pageKept_ = false;
  }
  Timer(kReplyTicks);
}

void TFeReceiveFax::FlushOrderProbe() {
  bitOrder_ = PageDataLooksReversed(orderProbe_.data(), orderProbe_.size()) ? BitOrder::Reversed : BitOrder::Direct;
  if (link_) link_->DebugLog(bitOrder_ == BitOrder::Reversed ? "page data bits reversed" : "page data bits direct");
  std::vector<std::uint8_t> probe;
  probe.swap(orderProbe_);
  HandleBlockData(probe);
}

void TFeReceiveFax::HandleTimeout() {
  switch (state_) {
    case rf1Init1:
    case rf2Init1:
    case rf2Init1A:
    case rf2Init1B:
    case rf2Init3:
      return Fail(ecFaxInitError);
    case rfInit:
      return Reset();  // the pause after a failed reset is over
    case rfWaiting:
      rings_ = 0;
      return;
    case rf1CollFrms:
    case rf1CollRtry1:
    case rf1CollRtry2:
    case rf1WaitEOP:
      return RetryFrames();
    case rf1StrtTrn:
    case rf1CollTrn:
      // No usable training check arrived: stop the modem's receiver, answer FTT.
      SetState(rf1Timeout);
      input_ = Input::Lines;
      WriteBytes("\r", 1);
      trainingGood_ = false;
      Timer(kReplyTicks);
      return;
    case rf1Timeout:
      return JudgeTraining();
    case rf1WaitDCN:
      // The fax is complete; a caller that hangs up without its last word changes nothing.
      HangUp();
      return CallDone();
    case rf1WtHngp:
    case rf2GetFHNG:
      return CallDone();
    default:
      return Fail(ecTimeout);
  }
}

// ---- waiting and answering -----------------------------------------------

void TFeReceiveFax::Reset() {
  Timer(0);
  reader_.Clear();
  input_ = Input::Lines;
  rings_ = 0;
  attempts_ = 0;
  inCall_ = false;
  asked_ = accepted_ = false;
  haveDcs_ = false;
  lastPageDone_ = false;
  ecm_ = false;
  burstSeen_ = false;
  havePrev_ = false;
  ecmPage_ = ecmBlock_ = 0;
  lastAnswer_ = 0;
  pageData_.clear();
  pageHole_ = false;
  lastPostCmd_ = lastPostAnswer_ = 0;
  postRepeats_ = 0;
  rtnCount_ = 0;
  callLogged_ = false;
  remoteId_.clear();
  frames_.clear();
  orderProbe_.clear();
  UpdateSession([&](TFaxSessionValues& v) {
    const int status = v.status;
    const int err = v.lastError;
    v = TFaxSessionValues{};
    v.status = status;
    v.lastError = err;
    v.dialAttempt = 1;
  });
  SetState(rfInit);
  const bool class1 = activeClass_ == TFaxClass::fcClass1;
  Command(class1 ? "AT+FCLASS=1" : c2_->selectClass);
  SetState(class1 ? rf1Init1 : rf2Init1);
  Timer(kReplyTicks);
}

void TFeReceiveFax::Waiting(const std::string& line) {
  switch (ClassifyReply(line)) {
    case TModemReply::Ring:
      if (++rings_ >= std::max(1u, AnswerOnRing)) return Answer();
      Timer(kRingGapTicks);
      return;
    case TModemReply::NoCarrier:
      rings_ = 0;
      SetStatus(fsNoConnect);
      return;
    case TModemReply::Connect:
      inCall_ = true;
      return Fail(ecFaxDataCall);
    case TModemReply::Voice:
      inCall_ = true;
      return Fail(ecFaxVoiceCall);
    default:
      return;
  }
}

void TFeReceiveFax::Answer() {
  inCall_ = true;
  SetState(rfAnswer);
  Command("ATA");
  Timer(kAnswerTicks);
  SetStatus(fsAnswering, firstStatus_ || !ConstantStatus);
  firstStatus_ = false;
  if (activeClass_ != TFaxClass::fcClass1) SetState(rf2ValCnnct);
}

bool TFeReceiveFax::AskAccept() {
  if (asked_) return accepted_;
  asked_ = true;
  // The answer is shared with the call, which may outlive a wait that timed out.
  auto accept = std::make_shared<bool>(true);
  if (OnFaxAccept) SendToOwner(fmFaxAccept, [this, accept] { OnFaxAccept(*this, *accept); });
  accepted_ = *accept;
  return accepted_;
}

bool TFeReceiveFax::CreateFile() {
  if (file_.IsOpen()) return true;
  auto asked = std::make_shared<std::string>();
  if (OnFaxName) SendToOwner(fmFaxName, [this, asked] { OnFaxName(*this, *asked); });
  std::string name = *asked;
  if (name.empty()) {
    // A name of the scheme is claimed exclusively: a file that exists already
    // (another overflow fax, or one written since the folder was scanned) stays.
    name = ReceiveFileName(DestinationDir, FaxFileExt, Naming);
    if (const int rc = ClaimReceiveFileName(name); rc < 0) {
      Fail(-rc);
      return false;
    }
  }
  FaxFile = name;
  UpdateSession([&](TFaxSessionValues& v) { v.faxFile = name; });
  const int rc = file_.Create(name, remoteId_);
  if (rc < 0) {
    Fail(-rc);
    return false;
  }
  PostLog(lfReceiveStarted);
  return true;
}

void TFeReceiveFax::BeginPage() {
  SetState(rfStartPage);
  const bool fine = activeClass_ == TFaxClass::fcClass1 ? dcs_.fine : fineParam_;
  const bool wide = activeClass_ == TFaxClass::fcClass1 ? dcs_.wide : wideParam_;
  const int rc = file_.BeginPage((fine ? RxFaxFile::kFine : 0) | (wide ? RxFaxFile::kWide : 0));
  if (rc < 0) return Fail(-rc);
  // Class 1 pages start with the modem's fill; an MMR page has no end of line
  // to find, and error-corrected pages have no fill.
  beforeFirstEol_ = activeClass_ == TFaxClass::fcClass1 && !ecm_ && dcs_.coding != t30::Coding::MMR;
  pageStart_.clear();
  pageData_.clear();
  pageHole_ = false;
  lastPostCmd_ = 0;  // page data: a post-page command now is about this page
  UpdateSession([&](TFaxSessionValues& v) {
    v.page = file_.Pages() + 1;
    v.pageLength = 0;
    v.bytesTransferred = 0;
    v.fine = fine;
    v.wide = wide;
  });
  SetStatus(fsGettingPage);
  lastStatus_ = std::chrono::steady_clock::now();
  SetState(rfGtPgDta);
  Timer(kPageTicks);
}

int TFeReceiveFax::CloseFile() {
  // What arrived of a page held in memory stays, as it does for a streamed page.
  int wrc = 0;
  if (file_.PageOpen()) wrc = WritePageData();
  const int rc = file_.Close();
  UpdateSession([&](TFaxSessionValues& v) { v.pages = file_.Pages(); });
  return wrc < 0 ? wrc : rc;
}

bool TFeReceiveFax::KeepPageData(const std::uint8_t* data, std::size_t n) {
  // A caller that never ends its page cannot fill the memory: the page is
  // kept up to the limit and the call ends (PageTooLong).
  const std::size_t room = MaxPageBytes - std::min(MaxPageBytes, pageData_.size());
  pageData_.insert(pageData_.end(), data, data + std::min(n, room));
  return n <= room;
}

// The data of a page ran past MaxPageBytes without an end: the modem's
// receiver is stopped and the call ends with error 1004; the page is kept as
// far as it came, like the page of a call that drops.
void TFeReceiveFax::PageTooLong() {
  if (link_) link_->DebugLog("page data past " + std::to_string(MaxPageBytes) + " bytes without an end: call ended");
  input_ = Input::Lines;
  WriteBytes("\r", 1);
  Fail(ecBufferTooBig);
}

// Every Class 1 page is held in memory until its end: its copy quality decides
// whether it is kept.
bool TFeReceiveFax::PageBuffered() const {
  return activeClass_ == TFaxClass::fcClass1;
}

int TFeReceiveFax::WritePageData() {
  std::vector<std::uint8_t> data;
  data.swap(pageData_);
  if (data.empty() || !PageBuffered()) return 0;
  if (dcs_.coding == t30::Coding::MH) {
    // An error-corrected MH page is stored as it came, like any MH page.
    if (!TrimToFirstEol(data)) return 0;
    return file_.Append(data.data(), data.size());
  }
  T2dDecodeStats st;
  const int rc = file_.AppendDecoded(data.data(), data.size(), dcs_.coding, &st);
  if (link_)
    link_->DebugLog(std::string("page ") + t30::CodingName(dcs_.coding) + ": " + std::to_string(st.lines) + " lines, " +
                    std::to_string(st.badLines) + " bad" + (st.truncated ? ", no end of page" : ""));
  return rc;
}

void TFeReceiveFax::ReceiveFinished() {
  if (!file_.IsOpen()) return;
  const int rc = CloseFile();
  if (rc < 0) {
    PostError(-rc);
    callLogged_ = true;
    PostLog(lfReceiveFailed);
    return;
  }
  ++faxesReceived_;
  callLogged_ = true;
  PostLog(lfReceiveFinished);
}

// The call is over and the fax, if any, stored: back to waiting or stop.
void TFeReceiveFax::CallDone() {
  Timer(0);
  ReceiveFinished();
  inCall_ = false;
  SetState(rfComplete);
  SetStatus(fsFinished);
  if (OneFax || CancelRequested()) return Stop(0);
  Reset();
}

void TFeReceiveFax::Fail(int code) {
  Timer(0);
  SetState(rfAbort);
  PostError(code);  // first, so that the log line names it
  EndAcceptedCall();
  if (inCall_) HangUp();
  inCall_ = false;
  if (ExitOnError || CancelRequested()) return Stop(code);
  if (code == ecFaxInitError && ++initFailures_ > 1) {
    // The modem refuses to reset: try again after a pause instead of at once.
    SetState(rfInit);
    Timer(kReplyTicks);
    return;
  }
  Reset();
}

// A call that fails: the file, when one was made, is closed with the pages that
// arrived (the finished ones and what came of the current one). Every accepted
// call ends with log code 5 or 7, a call that failed before its file was made
// too: the owner learns that no fax is coming in any more.
void TFeReceiveFax::EndAcceptedCall() {
  if (file_.IsOpen()) {
    CloseFile();
  } else if (!accepted_ || callLogged_) {
    return;
  }
  callLogged_ = true;
  PostLog(lfReceiveFailed);
}

void TFeReceiveFax::Refuse() {
  Timer(0);
  SetState(rfAbort);
  PostError(ecFileRejected);
  PostLog(lfReceiveSkipped);
  if (activeClass_ == TFaxClass::fcClass1) {
    // Tell the caller with DCN before going on-hook (rf1WaitDCN answers the rest).
    refusing_ = true;
    SetState(rf1SendMCF);
    Command("AT+FTH=3", kDelayTurnaroundMs);
    Timer(kReplyTicks);
    return;
  }
  HangUp();
  RefuseDone();
}

void TFeReceiveFax::RefuseDone() {
  refusing_ = false;
  inCall_ = false;
  if (ExitOnError) return Stop(ecFileRejected);
  Reset();
}

void TFeReceiveFax::Stop(int finalCode) {
  Timer(0);
  SetState(rfDone);
  EndRun(finalCode);
}

}  // namespace fe
