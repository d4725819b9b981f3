// Frames, blocks and the block-managing frames of error correction; see ecm.h.
#include "ecm.h"

#include <algorithm>

#include "hdlc.h"

namespace fe::ecm {

namespace {
constexpr size_t kPprOctets = kMaxFrames / 8;
constexpr size_t kFcdHeader = 4;  // address, control, FCF, frame number
}  // namespace

// --- sender -------------------------------------------------------------------

TPageFrames::TPageFrames(const Bytes& page, size_t frameSize) : data_(page), size_(frameSize) {
  frames_ = std::max<size_t>(1, (data_.size() + size_ - 1) / size_);
  blocks_ = (frames_ + kMaxFrames - 1) / kMaxFrames;
}

size_t TPageFrames::FramesIn(size_t block) const {
  if (block >= blocks_) return 0;
  return std::min(kMaxFrames, frames_ - block * kMaxFrames);
}

Bytes TPageFrames::FrameData(size_t block, size_t n) const {
  Bytes out(size_, 0);  // zero padding after the page's end
  size_t from = (block * kMaxFrames + n) * size_;
  if (from < data_.size()) {
    size_t take = std::min(size_, data_.size() - from);
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(from), take, out.begin());
  }
  return out;
}

Bytes BuildBurst(const TPageFrames& page, size_t block, const FrameMap& send, int bps) {
  hdlc::TFramer fr;
  fr.Flags(static_cast<size_t>(std::max(bps, 2400)) / 40);  // 200 ms: bps * 0.2 / 8
  const size_t n = page.FramesIn(block);
  for (size_t i = 0; i < n && i < send.size(); ++i) {
    if (!send[i]) continue;
    Bytes f = {t30::kAddress, t30::kControl, fcfFCD, static_cast<uint8_t>(i)};
    Bytes d = page.FrameData(block, i);
    f.insert(f.end(), d.begin(), d.end());
    fr.Frame(f);
    fr.Flags(1);
  }
  const Bytes rcp = {t30::kAddress, t30::kControl, fcfRCP};
  for (int i = 0; i < 3; ++i) {
    fr.Frame(rcp);
    fr.Flags(1);
  }
  fr.Flags(2);
  return fr.Take();
}

Bytes BuildPpsFif(const Pps& p) {
  uint8_t fcf2 = p.fcf2 ? static_cast<uint8_t>(p.fcf2 | t30::kXBit) : 0;
  return {fcf2, p.page, p.block, static_cast<uint8_t>(std::clamp(p.frames, 1, 256) - 1)};
}

std::optional<Pps> ParsePpsFif(const Bytes& fif) {
  if (fif.size() < 4) return std::nullopt;
  Pps p;
  p.fcf2 = fif[0] & static_cast<uint8_t>(~t30::kXBit);
  if (p.fcf2 != 0 && p.fcf2 != t30::fcfMPS && p.fcf2 != t30::fcfEOM && p.fcf2 != t30::fcfEOP) return std::nullopt;
  p.page = fif[1];
  p.block = fif[2];
  p.frames = fif[3] + 1;
  return p;
}

std::optional<FrameMap> ParsePpr(const Bytes& fif, size_t frameCount) {
  if (fif.size() != kPprOctets) return std::nullopt;
  FrameMap m(std::min(frameCount, kMaxFrames));
  for (size_t i = 0; i < m.size(); ++i) m[i] = (fif[i / 8] >> (i % 8)) & 1;
  return m;
}

Bytes BuildCtcFif(int bps) {
  t30::DcsParams p;
  p.bps = bps;
  Bytes dcs = t30::BuildDcs(p);
  return {dcs[0], dcs[1]};
}

// --- receiver -----------------------------------------------------------------

bool TBlockCollector::Add(const Bytes& frame) {
  if (frame.size() < 3 || frame[0] != t30::kAddress) return false;
  const uint8_t kind = frame[2] & static_cast<uint8_t>(~t30::kXBit);
  if (kind == fcfRCP && frame.size() == 3) {
    ++rcp_;
    return true;
  }
  if (kind != fcfFCD || frame.size() <= kFcdHeader) return false;
  const size_t len = frame.size() - kFcdHeader;
  if (len > size_) return false;  // not the size agreed: a frame from another session or noise
  const uint8_t n = frame[3];
  frames_[n].assign(frame.begin() + kFcdHeader, frame.end());
  have_[n] = true;
  return true;
}

void TBlockCollector::SetCount(int frames) {
  count_ = std::max(count_, std::clamp(frames, 0, 256));
}

Bytes TBlockCollector::MissingMap() const {
  Bytes map(kPprOctets, 0);
  bool any = false;
  for (int i = 0; i < count_; ++i) {
    if (have_[static_cast<size_t>(i)]) continue;
    map[static_cast<size_t>(i) / 8] |= static_cast<uint8_t>(1u << (i % 8));
    any = true;
  }
  return any ? map : Bytes{};
}

bool TBlockCollector::Complete() const {
  return count_ > 0 && MissingMap().empty();
}

Bytes TBlockCollector::Data() const {
  Bytes out;
  for (int i = 0; i < count_; ++i)
    if (have_[static_cast<size_t>(i)])
      out.insert(out.end(), frames_[static_cast<size_t>(i)].begin(), frames_[static_cast<size_t>(i)].end());
  return out;
}

Bytes TBlockCollector::DataUntilGap() const {
  Bytes out;
  for (int i = 0; i < count_ && have_[static_cast<size_t>(i)]; ++i)
    out.insert(out.end(), frames_[static_cast<size_t>(i)].begin(), frames_[static_cast<size_t>(i)].end());
  return out;
}

void TBlockCollector::Clear() {
  count_ = 0;
  rcp_ = 0;
  for (auto& f : frames_) f.clear();
  std::fill(have_.begin(), have_.end(), false);
}

PpsMatch MatchPps(const Pps& p, uint8_t page, uint8_t block, uint8_t prevPage, uint8_t prevBlock, bool havePrev) {
  if (p.page == page && p.block == block) return PpsMatch::Current;
  if (havePrev && p.page == prevPage && p.block == prevBlock) return PpsMatch::Previous;
  return PpsMatch::Other;
}

}  // namespace fe::ecm
