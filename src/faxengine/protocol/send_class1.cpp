// The send state machine's Class 1 part: T.30 phases B to E over the modem's
// HDLC commands ("AT+FRH=3", "AT+FTH=3") and its data modulations ("AT+FTM=").
#include <algorithm>

#include "fe_errors.h"
#include "send_fax.h"

namespace fe {

void TFeSendFax::ListenFrames() {
  Send("AT+FRH=3", kDelayHdlcMs);
  hdlc_ = Hdlc::WaitConnect;
}

void TFeSendFax::FrameArrived(const std::optional<t30::Frame>& f) {
  if (f && f->Kind() == t30::fcfDCN) {
    FaxFailed(ecCancelRequested);  // the remote ended the call
    return;
  }
  switch (state_) {
    case tf1Connect:
      if (f) {
        switch (f->Kind()) {
          case t30::fcfCSI: {
            std::string id = t30::DecodeId(f->fif);
            UpdateSession([&](TFaxSessionValues& v) { v.remoteId = id; });
            SetStatus(fsGotRemoteId);
            break;
          }
          case t30::fcfDIS:
            remote_ = t30::ParseDis(f->fif);
            disSeen_ = true;
            break;
          default: break;
        }
        if (f->final && disSeen_) {
          RemoteFrames();
          return;
        }
      }
      ListenFrames();  // the next frame, or the remote's repeat of a garbled one
      break;
    case tf1WaitCFR:
      if (f && (f->Kind() == t30::fcfCFR || f->Kind() == t30::fcfFTT)) {
        TrainingAnswer(*f);
      } else if (f && !f->final) {
        ListenFrames();
      } else {
        NoTrainingAnswer();
      }
      break;
    case tf1WaitMCF: PostPageAnswer(f); break;
    default: break;
  }
}

void TFeSendFax::RemoteFrames() {
  const TSendPage& p = pages_[pageIdx_];
  if (!remote_.receiver || (p.fine && !remote_.fine) || (p.wide && !remote_.wide)) {
    FaxFailed(ecFaxBadMachine);
    return;
  }
  int limit = std::min(DesiredBPS > 0 ? DesiredBPS : 9600, modemMaxBps_);
  if (!afterEOM_ || bps_ == 0) bps_ = t30::ChooseSpeed(remote_, limit, txModulations_);
  else bps_ = std::min(bps_, t30::ChooseSpeed(remote_, limit, txModulations_));
  if (bps_ == 0) {
    FaxFailed(ecFaxBadMachine);
    return;
  }
  sessionFine_ = p.fine;
  sessionWide_ = p.wide;
  scan_ = t30::ScanFor(remote_, p.fine);
  // Error correction when the user asked for it and the remote offers it; a
  // remote without it gets a plain MH session (the session values say so).
  ecm_ = DesiredECM && remote_.ecm;
  if (ecm_) scan_ = t30::scan0ms;  // frames need no fill
  coding_ = t30::ChooseCoding(remote_, ecm_, true, true);
  if (link_) {
    const char* ecmText = ecm_ ? ", error correction"
                          : DesiredECM ? ", no error correction: the remote does not offer it"
                                       : "";
    link_->DebugLog("session " + std::to_string(bps_) + " bps, " + t30::CodingName(coding_) + ecmText);
  }
  SetStatus(fsGettingParams);
  dcsAttempts_ = 0;
  turnAttempts_ = 0;
  StartTSI();
}

void TFeSendFax::StartTSI(bool retry) {
  if (++turnAttempts_ > kMaxTurnarounds) {
    FaxFailed(ecTimeout);
    return;
  }
  SetState(tf1SendTSI);
  Sleep(retry || turnAttempts_ > 1 ? kDelayRepeatMs : kDelayTurnaroundMs);
  Send("AT+FTH=3", 0);
  SetTimer(kReplyTicks);
}

void TFeSendFax::SendTraining() {
  turnAttempts_ = 0;
  std::vector<uint8_t> tcf(static_cast<size_t>(t30::TrainingBytes(bps_)), 0);
  tcf.push_back(t30::kDLE);
  tcf.push_back(t30::kETX);
  WriteRaw(tcf);
  SetState(tf1TrainFnsh);
  SetTimer(kReplyTicks);
}

void TFeSendFax::NoTrainingAnswer() {
  // No CFR and no FTT: DCS and training again, three times in all; a remote
  // that still says nothing most likely never heard the training at this speed,
  // so carry on one speed lower as after FTT.
  if (++dcsAttempts_ < 3) {
    StartTSI(true);
    return;
  }
  StepDownAndTrain();
}

void TFeSendFax::StepDownAndTrain() {
  int next = t30::StepDown(remote_, bps_, txModulations_);
  if (next == 0) {
    FaxFailed(ecFaxTrainError);
    return;
  }
  bps_ = next;
  dcsAttempts_ = 0;
  turnAttempts_ = 0;
  StartTSI();
}

void TFeSendFax::TrainingAnswer(const t30::Frame& f) {
  if (f.Kind() == t30::fcfFTT) {
    StepDownAndTrain();
    return;
  }
  UpdateSession([&](TFaxSessionValues& v) {
    v.bps = bps_;
    v.fine = sessionFine_;
    v.wide = sessionWide_;
    v.ecm = ecm_;
  });
  StartPageModulation();
}

void TFeSendFax::StartPageModulation() {
  SetState(tf1WaitPgCn);
  const t30::SpeedInfo& s = t30::SpeedFor(bps_);
  // V.17 pages after a good training use the short training sequence when the
  // modem offers it; the training check itself always uses the long one.
  int shortCode = std::atoi(s.shortCode);
  bool hasShort = std::find(txModulations_.begin(), txModulations_.end(), shortCode) != txModulations_.end();
  // After a change of speed (CTC) the remote trains afresh: long training.
  if (ecmLongTrain_) hasShort = false;
  ecmLongTrain_ = false;
  Send(std::string("AT+FTM=") + (hasShort ? s.shortCode : s.longCode), kDelayCommandMs);
  SetTimer(kReplyTicks);
}

uint8_t TFeSendFax::PostPageFcf() const {
  if (pageIdx_ + 1 >= pages_.size()) return t30::fcfEOP;
  // A page of other resolution or width needs a new DCS, which only EOM allows.
  if (!FastPage || NextPageDiffers()) return t30::fcfEOM;
  return t30::fcfMPS;
}

void TFeSendFax::PrepPostPage() {
  if (++turnAttempts_ > kMaxTurnarounds) {
    FaxFailed(ecTimeout);
    return;
  }
  SetState(tf1PrepEOP);
  Sleep(turnAttempts_ > 1 ? kDelayRepeatMs : kDelayHdlcMs);
  Send("AT+FTH=3", 0);
  SetTimer(kReplyTicks);
}

void TFeSendFax::SendPostPage() {
  turnAttempts_ = 0;
  postFcf_ = PostPageFcf();
  t30::Frame f = ecm_ ? EcmCommand() : t30::Frame{static_cast<uint8_t>(postFcf_ | t30::kXBit), true, {}};
  WriteRaw(t30::BuildFrame(f));
  SetState(tf1SendEOP);
  SetStatus(fsSendingEOP);
  SetTimer(kReplyTicks);
}

void TFeSendFax::PostPageAnswer(const std::optional<t30::Frame>& f) {
  if (ecm_) {
    EcmAnswer(f);
    return;
  }
  uint8_t kind = f ? f->Kind() : 0;
  switch (kind) {
    case t30::fcfMCF:
    case t30::fcfPIP: PageAccepted(false); return;
    case t30::fcfRTP: PageAccepted(true); return;
    case t30::fcfRTN: PageRefused(); return;
    case t30::fcfPIN: FaxFailed(ecFaxSessionError); return;
    default:
      // No usable answer ("ERROR", a garbled frame, silence, CRP): send the
      // post-page frame again, three times in all.
      if (++postAttempts_ >= kMaxTurnarounds) {
        FaxFailed(ecTimeout);
        return;
      }
      turnAttempts_ = 0;
      PrepPostPage();
      return;
  }
}

void TFeSendFax::PageAccepted(bool retrain) {
  postAttempts_ = 0;
  pageRefusals_ = 0;
  SetStatus(fsPageAccepted);
  if (pageIdx_ + 1 >= pages_.size()) {
    SendDCN();
    return;
  }
  ++pageIdx_;
  if (postFcf_ == t30::fcfEOM) {
    AwaitDis();
  } else if (retrain) {
    dcsAttempts_ = 0;
    turnAttempts_ = 0;
    StartTSI();
  } else {
    StartPageModulation();
  }
}

void TFeSendFax::PageRefused() {
  // The remote found the page too damaged to keep. The line was probably bad
  // while it went: train again (DCS and training check; FTT steps down as
  // usual) and send the same page, three tries in all.
  postAttempts_ = 0;
  SetStatus(fsPageError);
  if (++pageRefusals_ >= kMaxPageSends) {
    FaxFailed(ecFaxSessionError);
    return;
  }
  if (link_) link_->DebugLog("page refused (RTN): training again to send it once more");
  if (postFcf_ == t30::fcfEOM) {
    AwaitDis();  // the remote's DIS comes first, then DCS and training
    return;
  }
  dcsAttempts_ = 0;
  turnAttempts_ = 0;
  StartTSI();
}

void TFeSendFax::AwaitDis() {
  // Back to phase B: the remote sends its DIS again, then DCS and training.
  afterEOM_ = true;
  disSeen_ = false;
  SetState(tf1Connect);
  ListenFrames();
  SetTimer(kT1Ticks);
}

void TFeSendFax::SendDCN() {
  SetState(tf1SendDCN);
  Sleep(kDelayTurnaroundMs);
  Send("AT+FTH=3", 0);
  SetTimer(kReplyTicks);
}

}  // namespace fe
