// Class 1 receive: T.30 phases B to E over the modem's HDLC and data commands.
#include <algorithm>

#include "fe_errors.h"
#include "receive_fax.h"
#include "rx_t30.h"

namespace fe {

namespace {
constexpr int kMaxAttempts = 3;
}  // namespace

void TFeReceiveFax::SendFrame(std::uint8_t fcf, const std::vector<std::uint8_t>& fif, bool final) {
  t30::Frame f;
  f.fcf = fcf;
  f.final = final;
  f.fif = fif;
  const auto bytes = t30::BuildFrame(f);
  if (link_) link_->DebugLog("send frame " + t30::FcfName(fcf));
  const int rc = WriteBytes(bytes.data(), bytes.size());
  if (rc < 0) Fail(-rc);
}

// The first frames of the answering side: who we are and what we can take.
void TFeReceiveFax::SendNegotiation() {
  std::string id = StationID.substr(0, 20);
  for (auto& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  disSent_ = false;
  SetState(rf1SendDIS);
  SendFrame(t30::fcfCSI, t30::EncodeId(id), false);
  Timer(kReplyTicks);
}

void TFeReceiveFax::ReceiveFrames(TReceiveFaxState s, int delayMs) {
  frames_.clear();
  frameDone_ = false;
  input_ = Input::Lines;
  SetState(s);
  Command("AT+FRH=3", delayMs);
  Timer(kReplyTicks);
}

// No frame, a damaged frame or a timeout: listen again, and in the negotiation
// repeat our own frames, at most three times.
void TFeReceiveFax::RetryFrames() {
  frameDone_ = false;
  input_ = Input::Lines;
  if (++attempts_ > kMaxAttempts) return Fail(ecTimeout);
  // A modem still listening is stopped by any character; its "OK" is ignored.
  WriteBytes("\r", 1);
  Sleep(kDelayCommandMs);
  if (state_ == rf1WaitEOP || state_ == rf1WaitDCN) return ReceiveFrames(state_, kDelayRepeatMs);
  SetState(attempts_ == 1 ? rf1CollRtry1 : rf1CollRtry2);
  disSent_ = false;
  csiPending_ = true;
  Command("AT+FTH=3", kDelayTurnaroundMs);
  Timer(kReplyTicks);
}

void TFeReceiveFax::Class1Line(const std::string& line) {
  const TModemReply r = ClassifyReply(line);
  switch (state_) {
    case rfAnswer:
      if (r == TModemReply::Connect) {
        SetStatus(fsCallValidated);
        return SendNegotiation();
      }
      if (r == TModemReply::Voice) return Fail(ecFaxVoiceCall);
      if (r == TModemReply::NoCarrier || r == TModemReply::Error) {
        // The caller was gone or no fax machine: nothing to receive on this call.
        SetStatus(fsNoConnect);
        inCall_ = false;
        return Reset();
      }
      return;

    case rf1SendCSI:
    case rf1CollRtry1:
    case rf1CollRtry2:
      // After "AT+FTH=3": send our frames again.
      if (csiPending_ && r == TModemReply::Connect) {
        csiPending_ = false;
        return SendNegotiation();
      }
      if (csiPending_ && (r == TModemReply::Error || r == TModemReply::NoCarrier)) return Fail(ecFaxSessionError);
      if (!csiPending_) break;  // a retry state already listening for frames
      return;

    case rf1SendDIS:
      if (r == TModemReply::Connect && !disSent_) {
        disSent_ = true;
        t30::DisCaps caps;
        caps.receiver = true;
        caps.fine = true;
        caps.wide = false;
        caps.unlimitedLength = true;
        caps.scanNormal = t30::scan0ms;
        // MR and MMR pages are decoded here, so 2-D coding is always offered;
        // error correction (and T.6, which needs it) when asked for.
        caps.mr = true;
        caps.ecm = DesiredECM;
        caps.t6 = DesiredECM;
        SendFrame(t30::fcfDIS, t30::BuildDis(caps, maxBps_), true);
        Timer(kReplyTicks);
        return;
      }
      if (r == TModemReply::Ok && disSent_) return ReceiveFrames(rf1CollFrms);
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) return Fail(ecFaxSessionError);
      return;

    case rf1StrtTrn:
      if (r == TModemReply::Connect) {
        trainBytes_ = trainNonZero_ = 0;
        Connected(Input::Training);
        Timer(kReplyTicks);
        return;
      }
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) {
        trainingGood_ = false;
        return JudgeTraining();
      }
      return;

    case rf1CollTrn:
    case rf1Timeout:
      if (r == TModemReply::NoCarrier || r == TModemReply::Ok || r == TModemReply::Error) return JudgeTraining();
      return;

    case rf1FinTrn:
    case rf1Retrain:
      if (r == TModemReply::Connect) {
        const bool good = state_ == rf1FinTrn;
        SendFrame(good ? t30::fcfCFR : t30::fcfFTT, {}, true);
        if (good) SetState(rf1SendCFR);
        Timer(kReplyTicks);
        return;
      }
      if (r == TModemReply::Ok && state_ == rf1Retrain) return ReceiveFrames(rf1CollFrms, kDelayHdlcMs);
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) return Fail(ecFaxSessionError);
      return;

    case rf1SendCFR:
      if (r == TModemReply::Ok) {
        // The page carrier follows CFR at once: the modem listens for it first,
        // then the file is named and created while the data waits in the port.
        SetState(rf1WtPgCnnct);
        Command("AT+FRM=" + RxModulationCode(dcsFif_, dcs_.bps, false), 0);
        Timer(kReplyTicks);
        CreateFile();
        return;
      }
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) return Fail(ecFaxSessionError);
      return;

    case rf1WtPgCnnct:
      if (r == TModemReply::Connect) {
        Connected(Input::Page);
        if (!ecm_) return BeginPage();
        // A burst of error-correction frames: a page spans several of them.
        deframer_.Reset();
        burstSeen_ = true;
        if (!file_.PageOpen()) return BeginPage();
        SetState(rfGtPgDta);
        Timer(kPageTicks);
        return;
      }
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) {
        // No page carrier ("+FCERROR": V.21 instead). With error correction
        // after a burst, the caller sends a command (PPS again, CTC, EOR, DCN);
        // otherwise it is probably repeating its frames (it missed our answer).
        if (ecm_ && burstSeen_) {
          attempts_ = 0;
          return ReceiveFrames(rf1WaitEOP, 0);
        }
        return ReceiveFrames(rf1CollFrms, 0);
      }
      return;

    case rf1FinPage:
      if (r == TModemReply::NoCarrier || r == TModemReply::Ok || r == TModemReply::Error) {
        attempts_ = 0;
        return ReceiveFrames(rf1WaitEOP, 0);
      }
      return;

    case rf1SendMCF:
      if (r == TModemReply::Connect) {
        SendFrame(refusing_ ? static_cast<std::uint8_t>(t30::fcfDCN) : answer_,
                  refusing_ ? std::vector<std::uint8_t>{} : answerFif_, true);
        Timer(kReplyTicks);
        return;
      }
      if (r == TModemReply::Ok) {
        if (refusing_) {
          Command("ATH0");
          return RefuseDone();
        }
        if (ecm_) return EcmAnswered();
        SetStatus(fsGettingEndOfDocument);
        return AfterMcf();
      }
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) {
        if (refusing_) {
          HangUp();
          return RefuseDone();
        }
        return Fail(ecFaxSessionError);
      }
      return;

    case rf1WtHngp:
      if (r == TModemReply::Ok || r == TModemReply::Error || r == TModemReply::NoCarrier) return CallDone();
      return;

    default:
      break;
  }

  // Frame collection: rf1CollFrms, its retries, rf1WaitEOP, rf1WaitDCN.
  if (state_ != rf1CollFrms && state_ != rf1CollRtry1 && state_ != rf1CollRtry2 && state_ != rf1WaitEOP &&
      state_ != rf1WaitDCN)
    return;
  if (r == TModemReply::Connect) {
    Connected(Input::Frame);
    Timer(kReplyTicks);
    return;
  }
  if (r == TModemReply::Ok && frameDone_) {
    frameDone_ = false;
    auto f = t30::ParseFrame(block_);
    block_.clear();
    if (!f) return RetryFrames();
    if (link_) link_->DebugLog("recv frame " + t30::FcfName(f->fcf));
    frames_.push_back(*f);
    if (!f->final) {
      Command("AT+FRH=3", 0);
      Timer(kReplyTicks);
      return;
    }
    attempts_ = 0;
    return FramesComplete();
  }
  if (state_ == rf1WaitDCN && r != TModemReply::None) {
    // The caller left without DCN: the fax is complete all the same.
    SetState(rf1WtHngp);
    Command("ATH");
    Timer(kReplyTicks);
    return;
  }
  if (r == TModemReply::Error || r == TModemReply::NoCarrier) {
    block_.clear();
    return RetryFrames();
  }
}

void TFeReceiveFax::FramesComplete() {
  std::vector<t30::Frame> frames;
  frames.swap(frames_);
  if (RepeatedPostPage(frames)) return;
  if (state_ == rf1WaitDCN) {
    // A command for the last block again: our confirmation was lost.
    if (ecm_ && !frames.empty() && EcmRepeatedCommand(frames.back())) return;
    // DCN (or anything else) from the caller ends the call.
    SetState(rf1WtHngp);
    Command("ATH");
    Timer(kReplyTicks);
    return;
  }
  if (state_ == rf1WaitEOP) {
    if (ecm_) return EcmCommand(frames);
    for (const auto& f : frames) {
      const auto k = f.Kind();
      if (k == t30::fcfMPS || k == t30::fcfEOM || k == t30::fcfEOP) return PostPageFrame(f);
      if (k == t30::fcfDCN) return Fail(ecCancelRequested);
    }
    return RetryFrames();
  }
  // Negotiation: TSI and DCS from the caller.
  bool dcs = false;
  for (const auto& f : frames) {
    switch (f.Kind()) {
      case t30::fcfTSI:
        remoteId_ = t30::DecodeId(f.fif);
        UpdateSession([&](TFaxSessionValues& v) { v.remoteId = remoteId_; });
        SetStatus(fsGotRemoteId);
        break;
      case t30::fcfDCS:
        if (auto p = t30::ParseDcs(f.fif)) {
          dcs_ = *p;
          dcsFif_ = f.fif;
          dcs = true;
          lastPostCmd_ = 0;  // new training: what follows is a page
          UpdateSession([&](TFaxSessionValues& v) {
            v.bps = dcs_.bps;
            v.fine = dcs_.fine;
            v.wide = dcs_.wide;
            v.ecm = dcs_.ecm;
          });
          SetStatus(fsGettingParams);
        }
        break;
      case t30::fcfDCN:
        return Fail(ecCancelRequested);
      default:
        break;
    }
  }
  if (!dcs) return RetryFrames();
  if (!AskAccept()) return Refuse();
  ecm_ = dcs_.ecm;
  if (ecm_) EcmStart();
  if (link_)
    link_->DebugLog(std::string("session ") + std::to_string(dcs_.bps) + " bps, " + t30::CodingName(dcs_.coding) +
                    (ecm_ ? dcs_.frame64 ? ", error correction (64-octet frames)" : ", error correction" : ""));
  SetState(rf1StrtTrn);
  trainBytes_ = trainNonZero_ = 0;
  Command("AT+FRM=" + RxModulationCode(dcsFif_, dcs_.bps, true), 0);
  Timer(kReplyTicks);
}

void TFeReceiveFax::JudgeTraining() {
  input_ = Input::Lines;
  if (link_)
    link_->DebugLog("training " + std::to_string(trainNonZero_) + "/" + std::to_string(trainBytes_) +
                    (trainingGood_ ? " good" : " bad"));
  SetState(trainingGood_ ? rf1FinTrn : rf1Retrain);
  Command("AT+FTH=3", kDelayTurnaroundMs);
  Timer(kReplyTicks);
}

// The caller's MPS, EOM or EOP after a page (without error correction): the
// page's copy quality gives the answer. MCF and RTP keep the page (after RTP
// the caller retrains first); RTN drops it, the caller retrains and sends it again.
void TFeReceiveFax::PostPageFrame(const t30::Frame& f) {
  postPage_ = f.Kind();
  SetStatus(fsGettingEOP);
  std::uint8_t answer = t30::fcfMCF;
  if (file_.PageOpen()) {
    TPageQuality q = MeasurePage(pageData_.data(), pageData_.size(), dcs_.coding, dcs_.wide ? 2048u : 1728u);
    const TCopyQuality verdict = JudgeCopy(q, CopyQuality);
    if (verdict == TCopyQuality::Poor) answer = rtnCount_ < MaxRtnPerPage ? t30::fcfRTN : t30::fcfRTP;
    if (verdict == TCopyQuality::Fair) answer = t30::fcfRTP;
    if (link_)
      link_->DebugLog("page " + std::to_string(file_.Pages() + 1) + ": " + std::to_string(q.lines) + " lines, " +
                      std::to_string(q.badLines) + " bad, " + std::to_string(q.worstRun) +
                      " bad in a row: " + t30::FcfName(answer));
    if (answer == t30::fcfRTN) {
      ++rtnCount_;
      pageData_.clear();  // the page stays open and empty until it comes again
    } else if (const int rc = EndPage(&q); rc < 0) {
      return Fail(-rc);
    }
  }
  lastPostCmd_ = postPage_;
  lastPostAnswer_ = answer;
  postRepeats_ = 0;
  Respond(answer);
}

// The caller sends its post-page command again: it missed our answer. It gets
// the same answer (three times at most); the page was ended already.
bool TFeReceiveFax::RepeatedPostPage(const std::vector<t30::Frame>& frames) {
  if (ecm_ || lastPostCmd_ == 0) return false;
  for (const auto& f : frames) {
    if (f.Kind() == t30::fcfDCS) return false;
    if (f.Kind() != lastPostCmd_) continue;
    if (++postRepeats_ > kMaxAttempts) return false;
    if (link_)
      link_->DebugLog(t30::FcfName(lastPostCmd_) + " again: our " + t30::FcfName(lastPostAnswer_) + " was lost");
    postPage_ = lastPostCmd_;
    attempts_ = 0;
    Respond(lastPostAnswer_);
    return true;
  }
  return false;
}

// Writes the page held in memory, finishes the open page and counts it; a page
// kept with damage is noted in the session values. `quality`: the page's, when
// it was measured already.
int TFeReceiveFax::EndPage(TPageQuality* quality) {
  SetState(rf1WritePage);
  if (!file_.PageOpen()) return 0;
  TPageQuality q =
      quality ? *quality : MeasurePage(pageData_.data(), pageData_.size(), dcs_.coding, dcs_.wide ? 2048u : 1728u);
  q.incomplete = q.incomplete || pageHole_;
  const unsigned before = file_.Pages();
  if (const int rc = WritePageData(); rc < 0) return rc;
  const int rc = file_.EndPage();
  if (rc < 0) return rc;
  const int page = file_.Pages();
  rtnCount_ = 0;
  if (q.Damaged() && static_cast<unsigned>(page) > before) {
    if (link_)
      link_->DebugLog("page " + std::to_string(page) + " kept with damage: " + DamageText(q.badLines, q.incomplete));
    UpdateSession([&](TFaxSessionValues& v) { v.damagedPages.push_back({page, q.badLines, q.incomplete}); });
  }
  UpdateSession([&](TFaxSessionValues& v) { v.pages = page; });
  return 0;
}

// Sends a response frame to the caller's command (rf1SendMCF does the sending).
void TFeReceiveFax::Respond(std::uint8_t fcf, std::vector<std::uint8_t> fif) {
  answer_ = fcf;
  answerFif_ = std::move(fif);
  if (link_) link_->DebugLog("answer " + t30::FcfName(fcf));
  SetState(rf1SendMCF);
  Command("AT+FTH=3", kDelayTurnaroundMs);
  Timer(kReplyTicks);
}

void TFeReceiveFax::ListenPage(bool longTraining) {
  SetState(rf1WtPgCnnct);
  Command("AT+FRM=" + RxModulationCode(dcsFif_, dcs_.bps, longTraining), 0);
  Timer(kReplyTicks);
}

void TFeReceiveFax::AfterMcf() {
  // A block inside a page: the next burst follows.
  if (ecm_ && postPage_ == 0) return ListenPage(false);
  // After RTP or RTN the caller trains again first (DCS): after RTN it sends
  // the page we dropped again.
  const bool retrain = !ecm_ && (answer_ == t30::fcfRTP || answer_ == t30::fcfRTN);
  if (postPage_ == t30::fcfMPS) return retrain ? ReceiveFrames(rf1CollFrms, 0) : ListenPage(false);
  if (postPage_ == t30::fcfEOM) {
    // Another document follows: negotiate again, into the same file.
    SetState(rf1SendCSI);
    csiPending_ = true;
    Command("AT+FTH=3", kDelayTurnaroundMs);
    Timer(kReplyTicks);
    return;
  }
  if (answer_ == t30::fcfRTN) return ReceiveFrames(rf1CollFrms, 0);
  // EOP: the fax is complete; the caller's DCN ends the call.
  ReceiveFinished();
  SetStatus(fsGettingHangup);
  attempts_ = 0;
  ReceiveFrames(rf1WaitDCN, 0);
}

}  // namespace fe
