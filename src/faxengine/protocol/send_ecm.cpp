// The send state machine's error correction over Class 1: each page goes out
// in blocks of numbered frames (bursts framed in software and sent with
// "AT+FTM="), each burst followed by PPS; frames the receiver asks for again
// with PPR are resent, with a lower speed (CTC) or EOR after the fourth PPR, and
// RR polls a receiver that is not ready until T5 runs out. A call given up here
// ends with DCN.
#include <algorithm>

#include "fe_errors.h"
#include "hdlc.h"
#include "send_fax.h"

namespace fe {

namespace {
size_t Marked(const ecm::FrameMap& m) {
  return static_cast<size_t>(std::count(m.begin(), m.end(), true));
}

// Page data as the stream hands it to the modem, with the modem's DLE doubling
// undone: the coded page itself.
std::vector<uint8_t> PlainPage(TPageStream& stream, int& err) {
  std::vector<uint8_t> plain, block;
  bool dle = false;
  for (;;) {
    int rc = stream.Next(block);
    if (rc < 0) {
      err = -rc;
      return {};
    }
    if (rc == 0) return plain;
    for (uint8_t b : block) {
      if (b == t30::kDLE && !dle) {
        dle = true;
        continue;
      }
      dle = false;
      plain.push_back(b);
    }
  }
}
}  // namespace

bool TFeSendFax::WholePageData() {
  if (!ecmPage_) {
    int err = 0;
    std::vector<uint8_t> page = PlainPage(stream_, err);
    if (err) {
      FaxFailed(err);
      return false;
    }
    if (coding_ != t30::Coding::MH) {
      // APF pages are MH; the line gets the coding agreed. Without error
      // correction MR lines keep the remote's minimum scan-line time.
      const TSendPage& sp = pages_[pageIdx_];
      const unsigned minBits = ecm_ ? 0u : static_cast<unsigned>(t30::MinLineBytes(scan_, bps_)) * 8u;
      page = TranscodeMhPage(page.data(), page.size(), false, sp.wide ? 2048u : 1728u, coding_,
                             static_cast<unsigned>(t30::MrK(sp.fine)), minBits);
    }
    if (!ecm_) {
      out_.clear();
      t30::AppendStuffed(out_, page.data(), page.size());
      outOff_ = 0;
      return true;
    }
    ecmPage_ = std::make_unique<ecm::TPageFrames>(page, 256);
    ecmBlock_ = 0;
    ecmSend_.assign(ecmPage_->FramesIn(0), true);
    ecmPprs_ = 0;
    ecmCmd_ = ecm::fcfPPS;
  }
  ecmSent_ = Marked(ecmSend_);
  std::vector<uint8_t> bits = ecm::BuildBurst(*ecmPage_, ecmBlock_, ecmSend_, bps_);
  out_.clear();
  t30::AppendStuffed(out_, bits.data(), bits.size());
  outOff_ = 0;
  return true;
}

t30::Frame TFeSendFax::EcmCommand() const {
  const bool lastBlock = ecmPage_ && ecmBlock_ + 1 >= ecmPage_->Blocks();
  const uint8_t fcf2 = lastBlock ? postFcf_ : 0;  // NULL inside a page
  const uint8_t x = t30::kXBit;
  switch (ecmCmd_) {
    case ecm::fcfCTC:
      return {static_cast<uint8_t>(ecm::fcfCTC | x), true, ecm::BuildCtcFif(ecmCtcBps_)};
    case ecm::fcfEOR:
      return {static_cast<uint8_t>(ecm::fcfEOR | x), true, {static_cast<uint8_t>(fcf2 ? fcf2 | x : 0)}};
    case ecm::fcfRR:
      return {static_cast<uint8_t>(ecm::fcfRR | x), true, {}};
    default: {
      ecm::Pps p{fcf2, ecmPages_, static_cast<uint8_t>(ecmBlock_), static_cast<int>(ecmSent_)};
      return {static_cast<uint8_t>(ecm::fcfPPS | x), true, ecm::BuildPpsFif(p)};
    }
  }
}

void TFeSendFax::EcmAnswer(const std::optional<t30::Frame>& f) {
  const uint8_t kind = f ? f->Kind() : 0;
  if (kind == ecm::fcfPPS || kind == ecm::fcfCTC || kind == ecm::fcfEOR || kind == ecm::fcfRR) {
    // Our own command heard back (an echo on the line): wait for the answer.
    ListenFrames();
    SetTimer(kPostPageTicks);
    return;
  }
  // RR asks again for the answer to the PPS or EOR before it: the same answers count.
  const uint8_t asked = ecmCmd_ == ecm::fcfRR ? ecmPolled_ : ecmCmd_;
  const bool afterBlockCmd = asked == ecm::fcfPPS;
  if (kind == ecm::fcfRNR && ecmCmd_ != ecm::fcfCTC) {
    // The receiver is busy: poll it with RR until T5 runs out.
    const auto now = std::chrono::steady_clock::now();
    if (!ecmT5End_) ecmT5End_ = now + std::chrono::seconds(NotReadyWait);
    if (now >= *ecmT5End_) {
      FailAndDisconnect(ecTimeout);
      return;
    }
    if (ecmCmd_ != ecm::fcfRR) {
      ecmPolled_ = ecmCmd_;
      ecmCmd_ = ecm::fcfRR;
    }
    postAttempts_ = 0;
    turnAttempts_ = 0;
    PrepPostPage();
    return;
  }
  if ((kind == t30::fcfMCF || kind == t30::fcfPIP) && afterBlockCmd) {
    EcmBlockDone();
    return;
  }
  if (kind == ecm::fcfERR && asked == ecm::fcfEOR) {
    EcmBlockDone();  // the receiver keeps what arrived
    return;
  }
  if (kind == ecm::fcfCTR && ecmCmd_ == ecm::fcfCTC) {
    bps_ = ecmCtcBps_;
    UpdateSession([&](TFaxSessionValues& v) { v.bps = bps_; });
    ecmLongTrain_ = true;
    ecmCmd_ = ecm::fcfPPS;
    ecmT5End_.reset();
    postAttempts_ = 0;
    StartPageModulation();
    return;
  }
  if (kind == ecm::fcfPPR && afterBlockCmd) {
    EcmPpr(*f);
    return;
  }
  EcmNoAnswer();
}

void TFeSendFax::EcmNoAnswer() {
  // Nothing usable (silence, a garbled frame, CRP, a PPR we cannot read): the
  // same command again, three times in all. With RR polling, T5 decides instead.
  if (ecmCmd_ == ecm::fcfRR && ecmT5End_ && std::chrono::steady_clock::now() < *ecmT5End_) {
    turnAttempts_ = 0;
    PrepPostPage();
    return;
  }
  if (++postAttempts_ >= kMaxTurnarounds) {
    FailAndDisconnect(ecTimeout);
    return;
  }
  turnAttempts_ = 0;
  PrepPostPage();
}

void TFeSendFax::EcmPpr(const t30::Frame& f) {
  auto map = ecm::ParsePpr(f.fif, ecmPage_->FramesIn(ecmBlock_));
  if (!map) {
    // A map that is not 32 octets says nothing: as if no answer had come, so
    // the attempts run out like those of a silent receiver.
    EcmNoAnswer();
    return;
  }
  ecmT5End_.reset();
  postAttempts_ = 0;
  turnAttempts_ = 0;
  const size_t bad = Marked(*map);
  if (bad == 0) {
    EcmBlockDone();  // nothing of ours is missing
    return;
  }
  ecmSend_ = *map;
  if (++ecmPprs_ < ecm::kPprLimit) {
    ecmCmd_ = ecm::fcfPPS;
    StartPageModulation();
    return;
  }
  // The fourth PPR for this block. If frames still got through, a lower speed
  // may do better: CTC. Otherwise EOR, which leaves holes in the page; when
  // more than half the block is missing that page is not worth sending, and an
  // MMR page with a hole is lost from there on, so neither gets EOR.
  ecmPprs_ = 0;
  const int lower = t30::StepDown(remote_, bps_, txModulations_);
  if (lower > 0 && bad < ecmSent_) {
    ecmCtcBps_ = lower;
    ecmCmd_ = ecm::fcfCTC;
  } else if (coding_ == t30::Coding::MMR || bad * 2 > ecmPage_->FramesIn(ecmBlock_)) {
    FailAndDisconnect(ecFaxSessionError);
    return;
  } else {
    ecmCmd_ = ecm::fcfEOR;
  }
  PrepPostPage();
}

void TFeSendFax::EcmBlockDone() {
  ecmT5End_.reset();
  postAttempts_ = 0;
  ecmPprs_ = 0;
  ecmCmd_ = ecm::fcfPPS;
  if (ecmBlock_ + 1 < ecmPage_->Blocks()) {
    ++ecmBlock_;
    ecmSend_.assign(ecmPage_->FramesIn(ecmBlock_), true);
    StartPageModulation();
    return;
  }
  ecmPage_.reset();
  ++ecmPages_;
  PageAccepted(false);
}

}  // namespace fe
