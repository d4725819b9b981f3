// The send state machine: run level, dialling, Class 2/2.0 and page data.
// Class 1 (T.30 over the modem's HDLC commands) is in send_class1.cpp.
#include "send_fax.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "apf_reader.h"
#include "fe_errors.h"
#include "send_text.h"

namespace fe {

namespace {
std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

TFeSendFax::TFeSendFax() = default;

TFeSendFax::~TFeSendFax() {
  if (!joinedFile_.empty()) std::remove(joinedFile_.c_str());
}

void TFeSendFax::SetState(TSendFaxState s) {
  state_ = s;
  LogState(s, StateName(s));
}

void TFeSendFax::SetTimer(long ticks) {
  if (link_) link_->SetTimer(ticks);
}

void TFeSendFax::Send(const std::string& cmd, int delayMs) {
  int rc = Command(cmd, delayMs);
  if (rc < 0) FaxFailed(connected_ ? ecFaxSessionError : ecFaxBadModemResult);
}

void TFeSendFax::WriteRaw(const std::vector<uint8_t>& bytes) {
  WriteBytes(bytes.data(), bytes.size());
}

// ---------------------------------------------------------------- run level --

int TFeSendFax::StartSend() {
  if (Running()) return -ecBadArgument;
  if (!link_) return -ecPortNotAssigned;
  joinError_ = 0;
  if (!joinedFile_.empty()) {
    std::remove(joinedFile_.c_str());
    joinedFile_.clear();
  }
  if (FaxFileList.size() >= 2 && !OnFaxNext) {
    // Several files go out as one fax: join them into a temporary file.
    std::string tmpl = (std::filesystem::temp_directory_path() / "qnsendXXXXXX").string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back(0);
    int fd = mkstemp(name.data());
    if (fd >= 0) {
      close(fd);
      joinedFile_ = name.data();
      joinError_ = JoinApfFiles(FaxFileList, joinedFile_);
    } else {
      joinError_ = -ecAccessDenied;
    }
  } else if (FaxFileList.size() == 1 && FaxFile.empty()) {
    FaxFile = FaxFileList.front();
  }
  requests_ = 0;
  runResult_ = 0;
  firstStatus_ = true;
  int rc = PrepareModem(DefaultInitString());
  std::lock_guard<std::recursive_mutex> lk(engineMu_);
  BeginRun();
  SetState(tfGetEntry);
  if (rc < 0) {
    // Nothing can be sent without a prepared modem: one error, one finish.
    PostError(-rc);
    EndTheRun(-rc);
    return rc;
  }
  // The run itself goes on on the port's dispatch thread.
  SetTimer(1);
  return 0;
}

void TFeSendFax::NextFax() {
  SetState(tfGetEntry);
  std::string phone, file, cover;
  bool have = false;
  if (OnFaxNext) {
    struct Answer {
      std::string phone, file, cover;
    };
    auto a = std::make_shared<Answer>();
    bool delivered = SendToOwner(fmFaxNext, [this, a] { OnFaxNext(*this, a->phone, a->file, a->cover); });
    if (delivered) phone = a->phone, file = a->file, cover = a->cover;
    have = delivered && !phone.empty();
  } else if (requests_ == 0) {
    phone = PhoneNumber;
    file = joinedFile_.empty() ? FaxFile : joinedFile_;
    cover = CoverFile;
    have = true;
  }
  ++requests_;
  if (!have) {
    EndTheRun(runResult_);
    return;
  }
  phone_ = phone;
  faxFile_ = file;
  coverFile_ = cover;
  // The session shows the file the user chose, not the temporary joined one.
  const std::string shownFile = file == joinedFile_ && !FaxFileList.empty() ? FaxFileList.front() : file;
  pageIdx_ = 0;
  refusals_ = 0;
  // Every fax starts with fresh attempt counts.
  turnAttempts_ = 0;
  postAttempts_ = 0;
  dcsAttempts_ = 0;
  pageRefusals_ = 0;
  farewell_ = false;
  connected_ = false;
  dialing_ = false;
  disSeen_ = false;
  afterEOM_ = false;
  ecm_ = false;
  coding_ = t30::Coding::MH;
  ecmPage_.reset();
  ecmPages_ = 0;
  ecmLongTrain_ = false;
  ecmT5End_.reset();
  pages_.clear();
  stream_ = TPageStream();
  UpdateSession([&](TFaxSessionValues& v) {
    v = TFaxSessionValues{};
    v.phoneNumber = phone;
    v.faxFile = shownFile;
    v.coverFile = cover;
  });
  if (joinError_ < 0 && requests_ == 1 && !joinedFile_.empty()) {
    FaxFailed(-joinError_);
    return;
  }
  int rc = ListFaxPages(faxFile_, coverFile_, FaxFileExt, pages_);
  if (rc < 0) {
    FaxFailed(-rc);
    return;
  }
  PostLog(lfTransmitStarted);
  StartFax();
}

void TFeSendFax::StartFax() {
  StationID = Upper(StationID.substr(0, 20));
  int total = static_cast<int>(pages_.size());
  UpdateSession([&](TFaxSessionValues& v) {
    v.pages = total;
    v.page = pages_.front().number;
    v.fine = pages_.front().fine;
    v.wide = pages_.front().wide;
  });
  SetStatus(fsInitializing, firstStatus_);
  firstStatus_ = false;
  SetState(tfInit);
  if (activeClass_ == TFaxClass::fcClass1) {
    Send("AT+FCLASS=1");
    SetState(tf1Init1);
  } else {
    Send(c2_->selectClass);
    SetState(tf2Init1);
  }
  SetTimer(kReplyTicks);
}

void TFeSendFax::FaxDone() {
  SetState(tfClose);
  SetTimer(0);
  stream_ = TPageStream();
  connected_ = false;
  SetStatus(fsFinished);
  PostLog(lfTransmitFinished);
  runResult_ = 0;
  NextFax();
}

void TFeSendFax::EndTheRun(int code) {
  SetState(tfDone);
  SetTimer(0);
  EndRun(code);
  state_ = tfNone;
}

TFaxLogInfo TFeSendFax::LogInfo() const {
  TFaxLogInfo info = TFeAbstractFax::LogInfo();
  // A joined fax is logged under the files it was made of.
  if (!FaxFileList.empty() && !OnFaxNext) info.faxFiles = FaxFileList;
  return info;
}

// ------------------------------------------------------------------ dialling --

void TFeSendFax::Dial() {
  SetState(tfDial);
  // A number that carries its own dial modifier is dialled with the bare "ATD".
  bool bare = !phone_.empty() && std::strchr("TtPp", phone_.front()) != nullptr;
  std::string cmd = bare ? "ATD" : (ToneDial ? "ATDT" : "ATDP");
  cmd += DialPrefix + phone_;
  UpdateSession([&](TFaxSessionValues& v) { v.dialAttempt++; });
  dialing_ = true;
  reader_.Clear();
  Send(cmd);
  if (state_ != tfDial) return;
  SetStatus(bare ? fsConnecting : fsDialing);
  SetTimer(SecondsToTicks(DialWait));
  SetState(activeClass_ == TFaxClass::fcClass1 ? tf1Connect : tf2Connect);
}

void TFeSendFax::DialResult(TModemReply r) {
  switch (r) {
    case TModemReply::Busy:
    case TModemReply::NoAnswer: {
      dialing_ = false;
      int attempts = Session().dialAttempt;
      if (DialAttempts != 0 && attempts >= DialAttempts) {
        FaxFailed(ecFaxBusy);
        return;
      }
      SetState(tfRetryWait);
      SetStatus(fsBusyWaitRedial);
      SetTimer(SecondsToTicks(DialRetryWait));
      return;
    }
    case TModemReply::Voice:
      FaxFailed(ecFaxVoiceCall);
      return;
    case TModemReply::NoDialTone:
      FaxFailed(ecFaxNoDialTone);
      return;
    case TModemReply::NoCarrier:
    case TModemReply::Error:
      FaxFailed(ecFaxNoCarrier);
      return;
    default:
      return;
  }
}

// --------------------------------------------------------------- events ------

void TFeSendFax::OnLinkEvent(TLinkEvent ev) {
  switch (ev) {
    case TLinkEvent::Data:
      ProcessInput();
      break;
    case TLinkEvent::Timer:
      HandleTimer();
      break;
    case TLinkEvent::OutFree:
    case TLinkEvent::OutUsed:
    case TLinkEvent::OutEmpty:
      HandleOutput(ev);
      break;
    case TLinkEvent::Closing:
      FaxFailed(connected_ ? ecFaxSessionError : ecFaxBadModemResult);
      break;
  }
}

void TFeSendFax::ProcessInput() {
  Drain();
  for (int guard = 0; guard < 100000 && Running(); ++guard) {
    if (hdlc_ == Hdlc::InFrame) {
      if (!reader_.TakeBlock(frameBuf_, 512)) return;
      hdlc_ = Hdlc::WaitResult;
      continue;
    }
    if (state_ == tfWaitXon && activeClass_ == TFaxClass::fcClass2) {
      uint8_t b;
      if (!reader_.TakeByte(b)) return;
      if (b == t30::kXON) {
        SetState(tfWaitFrHead);
        BeginPageData();
      }
      continue;
    }
    std::string line;
    if (!reader_.TakeLine(line)) return;
    HandleLine(line);
  }
}

void TFeSendFax::HandleLine(const std::string& line) {
  TModemReply r = ClassifyReply(line);
  if (ending_ != Ending::None) {
    EndingLine(IsReportLine(line) ? TModemReply::None : r);
    return;
  }
  if (hdlc_ == Hdlc::WaitConnect) {
    if (r == TModemReply::Connect) {
      hdlc_ = Hdlc::InFrame;
      frameBuf_.clear();
      return;
    }
    if (r == TModemReply::Ok) return;  // the modem's answer to an aborted listen
    hdlc_ = Hdlc::Idle;
    FrameArrived(std::nullopt);
    return;
  }
  if (hdlc_ == Hdlc::WaitResult) {
    hdlc_ = Hdlc::Idle;
    if (r == TModemReply::Ok)
      FrameArrived(t30::ParseFrame(frameBuf_));
    else
      FrameArrived(std::nullopt);
    return;
  }
  if (activeClass_ != TFaxClass::fcClass1) {
    Class2Line(line, r);
    return;
  }
  switch (state_) {
    case tf1Init1:
      if (r == TModemReply::Ok)
        Dial();
      else if (r != TModemReply::None)
        FaxFailed(ecFaxInitError);
      break;
    case tf1Connect:
      if (r == TModemReply::Connect) {
        connected_ = true;
        dialing_ = false;
        SetStatus(fsGettingParams);
        hdlc_ = Hdlc::InFrame;
        frameBuf_.clear();
        SetTimer(kT1Ticks);
      } else {
        DialResult(r);
      }
      break;
    case tf1SendTSI:
      if (r == TModemReply::Connect) {
        t30::Frame tsi{static_cast<uint8_t>(t30::fcfTSI | t30::kXBit), false, t30::EncodeId(StationID)};
        WriteRaw(t30::BuildFrame(tsi));
        SetState(tf1TSIRespns);
      } else if (r != TModemReply::None) {
        StartTSI();  // another attempt at turning the line round
      }
      break;
    case tf1TSIRespns:
      if (r == TModemReply::Connect) {
        t30::DcsParams p;
        p.bps = bps_;
        p.fine = sessionFine_;
        p.wide = sessionWide_;
        p.unlimitedLength = remote_.unlimitedLength;
        p.b4Length = !remote_.unlimitedLength && remote_.b4Length;
        p.scan = scan_;
        p.ecm = ecm_;
        p.coding = coding_;
        t30::Frame dcs{static_cast<uint8_t>(t30::fcfDCS | t30::kXBit), true, t30::BuildDcs(p)};
        WriteRaw(t30::BuildFrame(dcs));
        SetState(tf1DCSRspns);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxSessionError);
      }
      break;
    case tf1DCSRspns:
      if (r == TModemReply::Ok) {
        Send(std::string("AT+FTM=") + t30::SpeedFor(bps_).longCode, kDelayHdlcMs);
        SetState(tf1TrainStrt);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxSessionError);
      }
      break;
    case tf1TrainStrt:
      if (r == TModemReply::Connect)
        SendTraining();
      else if (r != TModemReply::None)
        FaxFailed(ecFaxSessionError);
      break;
    case tf1TrainFnsh:
      if (r == TModemReply::Ok) {
        SetState(tf1WaitCFR);
        ListenFrames();
        SetTimer(kResponseTicks);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxSessionError);
      }
      break;
    case tf1WaitPgCn:
      if (r == TModemReply::Connect) {
        SetState(tfWaitXon);
        // A one-second pause before the page data; a burst of frames starts
        // with its own flags.
        SetTimer(ecm_ ? 1 : SecondsToTicks(1));
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxSessionError);
      }
      break;
    case tf1PageEnd:
      if (r == TModemReply::Ok)
        PrepPostPage();
      else if (r != TModemReply::None)
        FaxFailed(ecFaxSessionError);
      break;
    case tf1PrepEOP:
      if (r == TModemReply::Connect)
        SendPostPage();
      else if (r != TModemReply::None && r != TModemReply::Ok)
        PrepPostPage();
      break;
    case tf1SendEOP:
      if (r == TModemReply::Ok) {
        SetState(postFcf_ == t30::fcfEOP ? tf1WaitEOP : tf1WaitMPS);
        ListenFrames();
        SetTimer(kPostPageTicks);
        SetState(tf1WaitMCF);
      } else if (r != TModemReply::None) {
        PrepPostPage();
      }
      break;
    case tf1SendDCN:
      if (r == TModemReply::Connect) {
        t30::Frame dcn{static_cast<uint8_t>(t30::fcfDCN | t30::kXBit), true, {}};
        WriteRaw(t30::BuildFrame(dcn));
        SetState(tf1Hangup);
      } else if (r != TModemReply::None) {
        Send("ATH");
        SetState(tf1WaitHngp);
      }
      break;
    case tf1Hangup:
      if (r != TModemReply::None) {
        Send("ATH");
        SetState(tf1WaitHngp);
        SetTimer(kReplyTicks);
      }
      break;
    case tf1WaitHngp:
      if (r != TModemReply::None) {
        connected_ = false;
        FaxDone();
      }
      break;
    default:
      break;  // unexpected lines are ignored; the state's timer guards it
  }
}

void TFeSendFax::HandleTimer() {
  if (ending_ != Ending::None) {
    EndingTimeout();
    return;
  }
  switch (state_) {
    case tfGetEntry:
      NextFax();
      break;
    case tfRetryWait:
      Dial();
      break;
    case tf1Connect:
    case tf2Connect:
      if (!connected_) {
        // The call did not connect within the dial wait: stop dialling first.
        WriteBytes("\r", 1);
        FaxFailed(ecFaxNoAnswer);
      } else {
        FaxFailed(ecTimeout);
      }
      break;
    case tfWaitXon:
      if (activeClass_ == TFaxClass::fcClass1) {
        SetState(tfWaitFrHead);
        BeginPageData();
      } else {
        FaxFailed(ecTimeout);
      }
      break;
    case tf1WaitMCF:
      // No answer to the post-page frame: stop listening and send it again.
      WriteBytes("\r", 1);
      hdlc_ = Hdlc::Idle;
      PostPageAnswer(std::nullopt);
      break;
    case tf1WaitCFR:
      WriteBytes("\r", 1);
      hdlc_ = Hdlc::Idle;
      NoTrainingAnswer();
      break;
    default:
      FaxFailed(ecTimeout);
      break;
  }
}

void TFeSendFax::HandleOutput(TLinkEvent ev) {
  if (state_ == tfWaitFrHead && ev == TLinkEvent::OutFree)
    BeginPageData();
  else if (state_ == tfSendPage || state_ == tfSendCover)
    PumpPage();
  else if (state_ == tfDrainPage && ev == TLinkEvent::OutEmpty)
    EndPageData();
}

// ----------------------------------------------------------------- page data --

bool TFeSendFax::NextPageDiffers() const {
  if (pageIdx_ + 1 >= pages_.size()) return false;
  const auto& a = pages_[pageIdx_];
  const auto& b = pages_[pageIdx_ + 1];
  return a.fine != b.fine || a.wide != b.wide;
}

void TFeSendFax::BeginPageData() {
  if (link_->OutFree() < 4096) {
    SetState(tfWaitFrHead);
    link_->WatchOutFree(4096);
    return;
  }
  SetState(tfSndPgeHdr);
  const TSendPage& page = pages_[pageIdx_];
  THeaderValues hv;
  hv.stationId = StationID;
  hv.sender = HeaderSender;
  hv.recipient = HeaderRecipient;
  hv.title = HeaderTitle;
  hv.pages = static_cast<int>(pages_.size());
  hv.page = HeaderPageNumber(pages_, pageIdx_);
  std::string header = HeaderLine.empty() ? std::string() : ExpandHeaderLine(HeaderLine, hv);
  int minLine = t30::MinLineBytes(scan_, bps_);
  SetState(page.number == 0 ? tfOpenCover : tfPrepPage);
  int rc =
      stream_.Open(page, header, minLine, EnhTextEnabled ? EnhHeaderFont : nullptr, EnhTextEnabled ? EnhFont : nullptr);
  if (rc < 0) {
    FaxFailed(-rc);
    return;
  }
  UpdateSession([&](TFaxSessionValues& v) {
    v.page = page.number;
    v.pageLength = stream_.Length();
    v.bytesTransferred = 0;
  });
  // XON/XOFF from the modem paces the page data only: frames and replies are
  // binary and would lose their DC1/DC3 bytes.
  if (SoftwareFlow) link_->SetSoftwareFlow(true);
  SetStatus(fsSendingPage);
  lastStatusTick_ = NowMs();
  out_.clear();
  outOff_ = 0;
  pageDataDone_ = false;
  SetState(page.kind == TSendPage::kTextCover ? tfSendCover : tfSendPage);
  SetTimer(kPageTicks);
  if ((ecm_ || coding_ != t30::Coding::MH) && !WholePageData()) return;
  PumpPage();
}

void TFeSendFax::PumpPage() {
  const size_t minimum = static_cast<size_t>(std::max(BufferMinimum, 1));
  for (int count = 0; count < std::max(MaxSendCount, 1);) {
    if (outOff_ < out_.size()) {
      size_t free = link_->OutFree();
      size_t n = std::min(free, out_.size() - outOff_);
      if (n > 0 && link_->Write(out_.data() + outOff_, n) == 0) outOff_ += n;
      if (outOff_ < out_.size()) break;
      ++count;
    }
    if (link_->OutUsed() >= minimum) break;
    if (ecm_ || coding_ != t30::Coding::MH) {  // the whole page or burst was in out_
      out_.clear();
      pageDataDone_ = true;
      break;
    }
    int rc = stream_.Next(out_);
    outOff_ = 0;
    if (rc < 0) {
      FaxFailed(-rc);
      return;
    }
    if (rc == 0) {
      out_.clear();
      pageDataDone_ = true;
      break;
    }
  }
  long done = stream_.Done();
  UpdateSession([&](TFaxSessionValues& v) { v.bytesTransferred = done; });
  if (StatusInterval > 0 && NowMs() - lastStatusTick_ >= StatusInterval * 1000L) {
    lastStatusTick_ = NowMs();
    SetStatus(fsSendingPage);
  }
  SetTimer(kPageTicks);
  if (pageDataDone_) {
    SetState(tfDrainPage);
    link_->WatchOutEmpty(true);
    return;
  }
  if (outOff_ < out_.size())
    link_->WatchOutFree(std::min<size_t>(out_.size() - outOff_, 4096));
  else
    link_->WatchOutUsed(minimum - 1);
}

void TFeSendFax::EndPageData() {
  if (SoftwareFlow) link_->SetSoftwareFlow(false);
  const bool last = pageIdx_ + 1 >= pages_.size();
  if (activeClass_ == TFaxClass::fcClass1) {
    const uint8_t end[2] = {t30::kDLE, t30::kETX};
    WriteBytes(end, 2);
    SetState(tf1PageEnd);
    SetTimer(kPageTicks);
    return;
  }
  SetState(tf2SendEOP);
  pageStatus_ = -1;
  if (activeClass_ == TFaxClass::fcClass2_0) {
    const uint8_t end[2] = {t30::kDLE, static_cast<uint8_t>(last ? '.' : NextPageDiffers() ? ';' : ',')};
    WriteBytes(end, 2);
    SetState(tf20ChckPg);
  } else {
    const uint8_t end[2] = {t30::kDLE, t30::kETX};
    WriteBytes(end, 2);
  }
  SetTimer(kPageTicks);
}

// ---------------------------------------------------------------- Class 2 ----

void TFeSendFax::Class2SendFDT() {
  Send("AT+FDT");
  SetTimer(kFdtTicks);
}

void TFeSendFax::Class2Line(const std::string& line, TModemReply r) {
  const TClass2Commands& t = *c2_;
  if (auto v = ReportValue(line, t.hangup)) {
    auto f = ReportFields(*v);
    int code = f.empty() ? 0 : f[0];
    SetHangup(code, FirstReportField(*v));
    // The modem hung up before the fax was through: no point waiting for more.
    if (code > 0 && state_ != tf2WaitFET && state_ != tf20ChckPg)
      FaxFailed(connected_ && pageIdx_ == 0 && refusals_ == 0 ? ecFaxNoCarrier : ecFaxSessionError);
    return;
  }
  if (auto v = ReportValue(line, t.remoteCsi)) {
    std::string id = ParseClass2Id(*v);
    UpdateSession([&](TFaxSessionValues& s) { s.remoteId = id; });
    SetStatus(fsGotRemoteId);
    return;
  }
  if (auto v = ReportValue(line, t.RemoteCaps())) {
    auto caps = ParseClass2Params(*v);
    if (!caps) return;
    const TSendPage& p = pages_[pageIdx_];
    if ((p.wide && !caps->wide) || (p.fine && !caps->fine)) {
      FaxFailed(ecFaxBadMachine);
      return;
    }
    SetStatus(fsGettingParams);
    return;
  }
  if (auto v = ReportValue(line, t.sessionParams)) {
    if (auto p = ParseClass2Params(*v)) {
      UpdateSession([&](TFaxSessionValues& s) {
        s.bps = p->bps;
        s.fine = p->fine;
        s.wide = p->wide;
        s.ecm = p->ecm;
      });
    }
    return;
  }
  if (auto v = ReportValue(line, t.pageStatus)) {
    auto f = ReportFields(*v);
    pageStatus_ = f.empty() ? -1 : f[0];
    return;
  }
  if (ReportValue(line, t.connected)) {
    connected_ = true;
    dialing_ = false;
    SetState(tf2GetParams);
    SetTimer(kFdtTicks);
    return;
  }
  // A report the engine has no use for is no result code either.
  if (IsReportLine(line)) r = TModemReply::None;
  switch (state_) {
    case tf2Init1:
      if (r == TModemReply::Ok) {
        Send(std::string(t.localId) + "=\"" + StationID + "\"");
        SetState(activeClass_ == TFaxClass::fcClass2_0 ? tf2Init1A : tf2Init2);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxInitError);
      }
      break;
    case tf2Init1A:
      if (r == TModemReply::Ok) {
        Send(SoftwareFlow ? "AT+FLO=1" : "AT+FLO=2");
        SetState(tf2Init1B);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxInitError);
      }
      break;
    case tf2Init1B:
      if (r == TModemReply::Ok) {
        Send("AT+FNR=1,1,1,0");
        SetState(tf2Init2);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxInitError);
      }
      break;
    case tf2Init2:
      if (r == TModemReply::Ok) {
        const TSendPage& p = pages_.front();
        Send(Class2CapsCommand(t, p.fine, DesiredBPS, p.wide, DesiredECM));
        SetState(tf2Init3);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxInitError);
      }
      break;
    case tf2Init3:
      if (r == TModemReply::Ok)
        Dial();
      else if (r != TModemReply::None)
        FaxFailed(ecFaxInitError);
      break;
    case tf2Connect:
      DialResult(r);
      break;
    case tf2GetParams:
      // The dial command ends with "OK" once the remote's reports are in.
      if (r == TModemReply::Ok) {
        SetState(tf2NextPage);
        Class2SendFDT();
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxNoCarrier);
      }
      break;
    case tf2NextPage:
    case tf2WaitPgOK:
      if (r == TModemReply::Connect) {
        if (activeClass_ == TFaxClass::fcClass2) {
          SetState(tfWaitXon);
          SetTimer(kReplyTicks);
        } else {
          SetState(tfWaitFrHead);
          BeginPageData();
        }
      } else if (r != TModemReply::None && r != TModemReply::Ok) {
        FaxFailed(pageIdx_ == 0 && refusals_ == 0 ? ecFaxNoCarrier : ecFaxSessionError);
      }
      break;
    case tf2SendEOP:
      if (r == TModemReply::Ok) {
        SetState(tf2WaitFPTS);
        const bool last = pageIdx_ + 1 >= pages_.size();
        Send(std::string("AT+FET=") + (last ? "2" : NextPageDiffers() ? "1" : "0"));
        SetState(tf2WaitFET);
        SetTimer(kFdtTicks);
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxPageError);
      }
      break;
    case tf2WaitFET:
    case tf20ChckPg:
      if (r == TModemReply::Ok)
        Class2PageStatus();
      else if (r != TModemReply::None)
        FaxFailed(pageStatus_ < 0 ? ecFaxPageError : ecFaxSessionError);
      break;
    case tf2SndNwPrm:
      if (r == TModemReply::Ok) {
        SetState(tf2NextPage);
        Class2SendFDT();
      } else if (r != TModemReply::None) {
        FaxFailed(ecFaxSessionError);
      }
      break;
    default:
      break;
  }
}

void TFeSendFax::Class2PageStatus() {
  switch (pageStatus_) {
    case 1:
    case 3: {
      SetStatus(fsPageAccepted);
      if (pageIdx_ + 1 >= pages_.size()) {
        connected_ = false;
        FaxDone();
        return;
      }
      bool differs = NextPageDiffers();
      ++pageIdx_;
      if (differs) {
        SetState(tf2SndNwPrm);
        const TSendPage& p = pages_[pageIdx_];
        Send(Class2CapsCommand(*c2_, p.fine, DesiredBPS, p.wide, DesiredECM));
        SetTimer(kReplyTicks);
      } else {
        SetState(tf2NextPage);
        Class2SendFDT();
      }
      return;
    }
    case 2:
      SetStatus(fsPageError);
      if (++refusals_ > 2) {
        WriteBytes("AT+FKS\r", 7);
        FaxFailed(ecFaxSessionError);
        return;
      }
      SetState(tf2WaitPgOK);
      Class2SendFDT();
      return;
    case 4:
    case 5:
      FaxFailed(ecCancelRequested);
      return;
    default:
      FaxFailed(ecFaxPageError);
      return;
  }
}

}  // namespace fe
