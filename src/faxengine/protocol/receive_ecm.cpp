// The receive state machine's error correction over Class 1: each burst of
// image frames is read with "AT+FRM=" and deframed here; the caller's PPS then
// gets MCF when its block is complete (the block joins the page) or PPR with
// the frames still missing. CTC changes the speed (CTR, then long training),
// EOR gives up on the missing frames (ERR, the page keeps what arrived), RR
// and CRP get the last response again, and a PPS for the block confirmed last
// means that our MCF was lost: it is sent again, the block is not added twice.
// Page data is written synchronously when a block is confirmed, so the
// receiver is never "not ready" (no RNR).
#include "fe_errors.h"
#include "receive_fax.h"
#include "rx_t30.h"

namespace fe {

namespace {
// DCS octet 2 bits 11-14: the speed; a CTC carries new ones.
constexpr std::uint8_t kSpeedBits = 0x3C;

bool ValidFcf2(std::uint8_t fcf2) {
  return fcf2 == 0 || fcf2 == t30::fcfMPS || fcf2 == t30::fcfEOM || fcf2 == t30::fcfEOP;
}
}  // namespace

// After a DCS with error correction: frames of the agreed size, a fresh block.
void TFeReceiveFax::EcmStart() {
  collector_ = ecm::TBlockCollector(dcs_.frame64 ? 64 : 256);
  deframer_.Reset();
}

void TFeReceiveFax::EcmBurstData(const std::vector<std::uint8_t>& data) {
  deframer_.Put(data);
  std::vector<std::uint8_t> frame;
  while (deframer_.Take(frame)) collector_.Add(frame);
  Timer(kPageTicks);
}

// The caller's command after a burst (rf1WaitEOP).
void TFeReceiveFax::EcmCommand(const std::vector<t30::Frame>& frames) {
  for (const auto& f : frames) {
    switch (f.Kind()) {
      case ecm::fcfPPS:
        return EcmPps(f);
      case ecm::fcfEOR:
        return EcmEor(f);
      case ecm::fcfCTC:
        return EcmCtc(f);
      case ecm::fcfRR:
      case t30::fcfCRP:
        // The caller asks for our last response again.
        if (lastAnswer_ == 0) break;
        if (lastAnswer_ == t30::fcfMCF || lastAnswer_ == ecm::fcfERR) postPage_ = prevFcf2_;
        return Respond(lastAnswer_, lastAnswerFif_);
      case t30::fcfDCN:
        return Fail(ecCancelRequested);
      case t30::fcfMCF:
      case ecm::fcfPPR:
      case ecm::fcfCTR:
      case ecm::fcfERR:
      case ecm::fcfRNR:
      case t30::fcfCFR:
      case t30::fcfFTT:
        // Our own response heard back (an echo on the line): listen past it.
        return ReceiveFrames(rf1WaitEOP, 0);
      default:
        break;
    }
  }
  RetryFrames();
}

// After the last page: a PPS or EOR naming the block confirmed last gets its
// response again; true when the frame was such a command.
bool TFeReceiveFax::EcmRepeatedCommand(const t30::Frame& f) {
  if (!havePrev_ || (lastAnswer_ != t30::fcfMCF && lastAnswer_ != ecm::fcfERR)) return false;
  if (f.Kind() == ecm::fcfPPS) {
    const auto p = ecm::ParsePpsFif(f.fif);
    if (!p || ecm::MatchPps(*p, ecmPage_, ecmBlock_, prevPage_, prevBlock_, true) != ecm::PpsMatch::Previous)
      return false;
  } else if (f.Kind() != ecm::fcfEOR || lastAnswer_ != ecm::fcfERR) {
    return false;
  }
  postPage_ = prevFcf2_;
  Respond(lastAnswer_);
  return true;
}

void TFeReceiveFax::EcmPps(const t30::Frame& f) {
  const auto p = ecm::ParsePpsFif(f.fif);
  if (!p) return EcmEndCall("PPS not understood");
  auto match = ecm::MatchPps(*p, ecmPage_, ecmBlock_, prevPage_, prevBlock_, havePrev_);
  if (match == ecm::PpsMatch::Other && p->block == 0 && ecmBlock_ == 0) {
    // A new page: callers differ in how they count pages, so take theirs.
    ecmPage_ = p->page;
    match = ecm::PpsMatch::Current;
  }
  if (match == ecm::PpsMatch::Previous) {
    // Our MCF was lost: confirm again, the block is in the page already.
    if (link_) link_->DebugLog("PPS for the block confirmed last");
    postPage_ = prevFcf2_;
    return Respond(t30::fcfMCF);
  }
  if (match == ecm::PpsMatch::Other)
    return EcmEndCall("PPS for page " + std::to_string(p->page) + " block " + std::to_string(p->block) +
                      ", expected page " + std::to_string(ecmPage_) + " block " + std::to_string(ecmBlock_));
  collector_.SetCount(p->frames);
  const std::vector<std::uint8_t> missing = collector_.MissingMap();
  if (!missing.empty()) {
    lastAnswer_ = ecm::fcfPPR;
    lastAnswerFif_ = missing;
    return Respond(ecm::fcfPPR, missing);
  }
  EcmBlockDone(collector_.Data(), p->fcf2, t30::fcfMCF);
}

void TFeReceiveFax::EcmEor(const t30::Frame& f) {
  if (f.fif.empty() || !ValidFcf2(f.fif[0] & static_cast<std::uint8_t>(~t30::kXBit)))
    return EcmEndCall("EOR not understood");
  const std::uint8_t fcf2 = f.fif[0] & static_cast<std::uint8_t>(~t30::kXBit);
  const std::vector<std::uint8_t> data = collector_.Data();
  if (data.empty() && havePrev_ && lastAnswer_ == ecm::fcfERR) {
    // EOR again for the block given up last: our ERR was lost.
    postPage_ = prevFcf2_;
    return Respond(ecm::fcfERR);
  }
  if (link_) link_->DebugLog("EOR: the block keeps the frames that arrived");
  pageHole_ = true;  // the page is kept, marked as damaged
  // In MMR every line depends on the one before: nothing after a hole is usable.
  EcmBlockDone(dcs_.coding == t30::Coding::MMR ? collector_.DataUntilGap() : data, fcf2, ecm::fcfERR);
}

void TFeReceiveFax::EcmCtc(const t30::Frame& f) {
  if (f.fif.size() < 2 || dcsFif_.size() < 3) return EcmEndCall("CTC not understood");
  std::vector<std::uint8_t> dcs = dcsFif_;
  dcs[1] = static_cast<std::uint8_t>((dcs[1] & ~kSpeedBits) | (f.fif[1] & kSpeedBits));
  const auto p = t30::ParseDcs(dcs);
  if (!p) return EcmEndCall("CTC with an unknown speed");
  dcsFif_ = dcs;
  dcs_.bps = p->bps;
  UpdateSession([&](TFaxSessionValues& v) { v.bps = dcs_.bps; });
  if (link_) link_->DebugLog("CTC: continuing at " + std::to_string(dcs_.bps) + " bps");
  lastAnswer_ = ecm::fcfCTR;
  lastAnswerFif_.clear();
  Respond(ecm::fcfCTR);
}

// A block is done (confirmed, or given up with EOR): its data joins the page,
// the counters move on, and the last block of a page ends the page.
void TFeReceiveFax::EcmBlockDone(const std::vector<std::uint8_t>& data, std::uint8_t fcf2, std::uint8_t answer) {
  if (!KeepPageData(data.data(), data.size())) return PageTooLong();
  UpdateSession([&](TFaxSessionValues& v) {
    v.bytesTransferred = static_cast<long>(pageData_.size());
    v.pageLength = static_cast<long>(pageData_.size());
  });
  prevPage_ = ecmPage_;
  prevBlock_ = ecmBlock_;
  prevFcf2_ = fcf2;
  havePrev_ = true;
  collector_.Clear();
  if (fcf2 == 0) {
    ++ecmBlock_;
  } else {
    ++ecmPage_;
    ecmBlock_ = 0;
  }
  postPage_ = fcf2;
  lastAnswer_ = answer;
  lastAnswerFif_.clear();
  if (fcf2 != 0) {
    SetStatus(fsGettingEOP);
    if (const int rc = EndPage(); rc < 0) return Fail(-rc);
  }
  Respond(answer);
}

// Our response went out.
void TFeReceiveFax::EcmAnswered() {
  switch (answer_) {
    case ecm::fcfPPR:
      return ListenPage(false);  // the frames asked for come again
    case ecm::fcfCTR:
      return ListenPage(true);  // the new speed starts with long training
    case t30::fcfDCN:
      return Fail(endCode_);
    default:
      if (postPage_ != 0) SetStatus(fsGettingEndOfDocument);
      return AfterMcf();
  }
}

// A command that makes no sense here: tell the caller with DCN, then end the call.
void TFeReceiveFax::EcmEndCall(const std::string& why) {
  if (link_) link_->DebugLog("error correction: " + why);
  endCode_ = ecFaxSessionError;
  Respond(t30::fcfDCN);
}

}  // namespace fe
