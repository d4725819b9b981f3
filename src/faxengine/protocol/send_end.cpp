// How the send engine ends a fax that failed or was cancelled. A call the
// engine leaves on its own (the user's cancel, error correction that cannot go
// on) is left properly: page data under way is ended with DLE ETX as the modem
// expects (anything else would go out as page data), the remote is told with
// DCN (Class 1) or AT+FKS (Class 2/2.0, the modem sends the DCN), then the
// modem hangs up. Those steps wait for the modem's answers like every other
// step, on the port's events: the dispatch thread that delivers them is the one
// that reads the input. A user's cancel stops the engine's ordinary events, so
// OnCancel carries them on while the call is being ended.
#include <chrono>

#include "fe_errors.h"
#include "send_fax.h"

namespace fe {

namespace {
constexpr int kFlushMs = 250;
constexpr int kEndDataMs = 8000;  // the modem sends what it holds of the page first
constexpr int kAbortListenMs = 2000;
constexpr int kFrameMs = 3000;        // T.30's T4
constexpr int kSessionEndMs = 10000;  // AT+FKS: the modem's own DCN and hang-up report
}  // namespace

void TFeSendFax::FailAndDisconnect(int code) {
  farewell_ = true;
  FaxFailed(code);
}

void TFeSendFax::FaxFailed(int code) {
  const bool farewell = farewell_;
  farewell_ = false;
  if (ending_ != Ending::None) {
    // Something went wrong while the call was being ended: hang up now, with
    // the error the fax failed with in the first place.
    FinishFailure();
    return;
  }
  if (state_ == tfAbort || state_ == tfDone || state_ == tfNone) return;
  // Page data still queued is dropped; a command just written (AT+FKS) is not.
  const bool inPageData = state_ == tfSendPage || state_ == tfSendCover || state_ == tfDrainPage;
  // Between the modem's CONNECT and the first page byte it is in data mode too.
  const bool dataMode = inPageData || state_ == tfWaitXon || state_ == tfWaitFrHead;
  const bool listening = hdlc_ != Hdlc::Idle;
  // The remote is told when we end the call ourselves and the modem's state is
  // known: in page data, listening for a frame, or (error correction giving up)
  // just after the remote's answer. A remote that hung up or sent DCN is not.
  const bool goodbye = connected_ && (farewell || (CancelRequested() && (dataMode || listening)));
  SetState(tfAbort);
  SetTimer(0);
  if (link_) {
    link_->WatchOutFree(0);
    link_->WatchOutUsed(0);
    link_->WatchOutEmpty(false);
  }
  failLineInUse_ = connected_ || dialing_;
  failCode_ = code;
  connected_ = dialing_ = false;
  stream_ = TPageStream();
  hdlc_ = Hdlc::Idle;
  if (link_ && link_->IsOpen()) {
    if (SoftwareFlow) link_->SetSoftwareFlow(false);
    if (inPageData) link_->FlushOut();
    if (goodbye) {
      reader_.Clear();
      if (inPageData) {
        // The port drops its queued output on its own thread, and anything
        // written before it has done so would go with it: the end of the data
        // follows a moment later.
        EndingStep(Ending::Flush, kFlushMs);
      } else if (dataMode) {
        EndData();
      } else if (listening) {
        // Any character stops "AT+FRH=3"; the modem answers with a result code.
        WriteBytes("\r", 1);
        EndingStep(Ending::AbortListen, kAbortListenMs);
      } else {
        SayGoodbye();
      }
      return;
    }
  }
  FinishFailure();
}

void TFeSendFax::EndingStep(Ending step, int ms) {
  ending_ = step;
  endingUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  SetTimer(MillisecondsToTicks(ms) + 2);
}

void TFeSendFax::EndData() {
  // A zero byte first: should the dropped output have ended in half of a
  // doubled DLE, it completes that pair instead of eating our DLE.
  const uint8_t end[3] = {0, t30::kDLE, t30::kETX};
  EndingStep(Ending::EndData, kEndDataMs);
  WriteBytes(end, sizeof end);
}

void TFeSendFax::SayGoodbye() {
  // The step is set first: a command that cannot be written ends it at once
  // (FaxFailed), and nothing may be touched after that.
  if (activeClass_ != TFaxClass::fcClass1) {
    EndingStep(Ending::SessionEnd, kSessionEndMs);
    Send("AT+FKS");
    return;
  }
  EndingStep(Ending::DcnTurn, kFrameMs);
  Send("AT+FTH=3", kDelayTurnaroundMs);
}

void TFeSendFax::EndingLine(TModemReply r) {
  if (r == TModemReply::None || r == TModemReply::Ring) return;
  switch (ending_) {
    case Ending::Flush:
      return;  // nothing from the modem is expected before the end of the data
    case Ending::EndData:
      if (r == TModemReply::Ok)
        SayGoodbye();
      else
        FinishFailure();  // the modem ended the call itself
      return;
    case Ending::AbortListen:
      SayGoodbye();  // whatever the listen ended with
      return;
    case Ending::DcnTurn:
      if (r == TModemReply::Connect) {
        const t30::Frame dcn{static_cast<uint8_t>(t30::fcfDCN | t30::kXBit), true, {}};
        WriteRaw(t30::BuildFrame(dcn));
        EndingStep(Ending::DcnSent, kFrameMs);
      } else if (r != TModemReply::Ok) {  // an "OK" to a stopped listen is late, not ours
        FinishFailure();
      }
      return;
    case Ending::DcnSent:
      if (link_) link_->DebugLog(r == TModemReply::Ok ? "DCN sent" : "DCN not confirmed by the modem");
      FinishFailure();
      return;
    case Ending::SessionEnd:
      FinishFailure();
      return;
    case Ending::None:
      return;
  }
}

void TFeSendFax::EndingEvent() {
  // Events while the call is being ended after a user's cancel: the input, the
  // time limit of the step, a port that went away.
  if (!link_ || !link_->IsOpen()) {
    FinishFailure();
    return;
  }
  ProcessInput();
  // The timer is set a little past the limit; ticks are coarse.
  if (ending_ != Ending::None && std::chrono::steady_clock::now() + std::chrono::milliseconds(60) >= endingUntil_)
    EndingTimeout();
}

void TFeSendFax::EndingTimeout() {
  if (ending_ == Ending::Flush) {
    EndData();
    return;
  }
  if (ending_ == Ending::AbortListen) {
    SayGoodbye();  // the modem said nothing: try the frame anyway
    return;
  }
  FinishFailure();
}

void TFeSendFax::FinishFailure() {
  ending_ = Ending::None;
  SetTimer(0);
  if (link_ && link_->IsOpen()) {
    if (failLineInUse_) HangUp();
    Drain();
    reader_.Clear();
  }
  hdlc_ = Hdlc::Idle;
  const int code = failCode_;
  runResult_ = code;
  // The error is recorded before the log line is written, which names it.
  UpdateSession([&](TFaxSessionValues& v) { v.lastError = code; });
  PostLog(lfTransmitFailed);
  PostError(code);
  bool portGone = !link_ || !link_->IsOpen();
  // A remote that ends the call (DCN, procedure interrupt) fails this fax only;
  // the run ends on the user's cancel or as the options ask.
  if (ExitOnError || AbortNoConnect || CancelRequested() || portGone) {
    SetStatus(fsUserAbort);
    EndTheRun(code);
    return;
  }
  NextFax();
}

void TFeSendFax::OnCancel() {
  if (ending_ != Ending::None) {
    EndingEvent();
    return;
  }
  FaxFailed(ecCancelRequested);
}

}  // namespace fe
