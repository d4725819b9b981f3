// Software HDLC: flags, bit stuffing and the FCS; see hdlc.h.
#include "hdlc.h"

#include <cstddef>
#include <utility>

namespace fe::hdlc {

namespace {
constexpr uint16_t kGoodResidue = 0xF0B8;  // CRC over data and its FCS when both are intact
// Frames shorter than this (FCS included) are noise: a T.30 frame has at least
// address, control and FCF.
constexpr size_t kMinFrame = 5;

constexpr uint16_t CrcByte(uint16_t crc, uint8_t b) {
  crc ^= b;
  for (int i = 0; i < 8; ++i)
    crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
  return crc;
}

struct CrcTable {
  uint16_t v[256];
  constexpr CrcTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = CrcByte(0, static_cast<uint8_t>(i));
  }
};
constexpr CrcTable kCrc;

uint16_t Crc(uint16_t crc, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrc.v[(crc ^ data[i]) & 0xFF]);
  return crc;
}
}  // namespace

uint16_t Fcs16(const uint8_t* data, size_t n) {
  return static_cast<uint16_t>(~Crc(0xFFFF, data, n));
}

// --- framer -------------------------------------------------------------------

void TFramer::PutBit(unsigned bit) {
  acc_ |= (bit & 1u) << nAcc_;
  if (++nAcc_ == 8) {
    out_.push_back(static_cast<uint8_t>(acc_));
    acc_ = 0;
    nAcc_ = 0;
  }
}

void TFramer::PutByteRaw(uint8_t b) {
  for (int i = 0; i < 8; ++i) PutBit((b >> i) & 1u);
}

void TFramer::PutByteStuffed(uint8_t b) {
  for (int i = 0; i < 8; ++i) {
    unsigned bit = (b >> i) & 1u;
    PutBit(bit);
    if (!bit) {
      ones_ = 0;
    } else if (++ones_ == 5) {
      PutBit(0);  // a sixth 1 would read as a flag or an abort
      ones_ = 0;
    }
  }
}

void TFramer::Flags(size_t n) {
  if (nAcc_ == 0) {
    out_.insert(out_.end(), n, kFlag);  // byte-aligned: the common case, and the long preamble
  } else {
    for (size_t i = 0; i < n; ++i) PutByteRaw(kFlag);
  }
  ones_ = 0;
}

void TFramer::Frame(const uint8_t* data, size_t n) {
  ones_ = 0;
  for (size_t i = 0; i < n; ++i) PutByteStuffed(data[i]);
  uint16_t fcs = Fcs16(data, n);
  PutByteStuffed(static_cast<uint8_t>(fcs & 0xFF));
  PutByteStuffed(static_cast<uint8_t>(fcs >> 8));
}

std::vector<uint8_t> TFramer::Take() {
  if (nAcc_ > 0) {
    out_.push_back(static_cast<uint8_t>(acc_ | (0xFFu << nAcc_)));
    acc_ = 0;
    nAcc_ = 0;
  }
  ones_ = 0;
  return std::exchange(out_, {});
}

// --- deframer -----------------------------------------------------------------

void TDeframer::Reset() {
  cur_.clear();
  bits_ = 0;
  ones_ = 0;
  inFrame_ = false;
  frames_.clear();
  stats_ = {};
}

void TDeframer::Put(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = data[i];
    for (int k = 0; k < 8; ++k) PutBit((b >> k) & 1u);
  }
}

bool TDeframer::Take(std::vector<uint8_t>& frame) {
  if (frames_.empty()) return false;
  frame = std::move(frames_.front());
  frames_.pop_front();
  return true;
}

void TDeframer::DataBit(unsigned bit) {
  if (!inFrame_) return;
  if ((bits_ & 7) == 0) {
    // One octet beyond the largest frame (plus the flag's first bit): noise or
    // a frame we cannot use, dropped here so it never grows without bound.
    if (cur_.size() > max_) {
      ++stats_.badShape;
      cur_.clear();
      bits_ = 0;
      inFrame_ = false;
      return;
    }
    cur_.push_back(0);
  }
  cur_.back() |= static_cast<uint8_t>(bit << (bits_ & 7));
  ++bits_;
}

void TDeframer::EndFrame() {
  // The flag's leading 0 was taken as a data bit before the six 1s showed it to
  // be part of a flag.
  if (!inFrame_ || bits_ <= 1) return;
  uint32_t n = bits_ - 1;
  size_t octets = n / 8;
  if (n % 8 != 0 || octets < kMinFrame || octets > max_) {
    ++stats_.badShape;
    return;
  }
  if (Crc(0xFFFF, cur_.data(), octets) != kGoodResidue) {
    ++stats_.badFcs;
    return;
  }
  ++stats_.good;
  frames_.emplace_back(cur_.begin(), cur_.begin() + static_cast<std::ptrdiff_t>(octets - 2));
}

void TDeframer::PutBit(unsigned bit) {
  if (bit) {
    if (++ones_ == 7) {
      // Abort (or an idle line): the frame in progress is lost.
      if (inFrame_ && bits_ > 1) ++stats_.aborts;
      inFrame_ = false;
      cur_.clear();
      bits_ = 0;
    }
    if (ones_ > 7) ones_ = 7;
    return;
  }
  unsigned ones = ones_;
  ones_ = 0;
  if (ones == 6) {
    EndFrame();
    inFrame_ = true;  // a flag opens the next frame
    cur_.clear();
    bits_ = 0;
    return;
  }
  if (ones >= 7) return;  // hunting after an abort
  for (unsigned i = 0; i < ones; ++i) DataBit(1);
  if (ones < 5) DataBit(0);  // after five 1s the 0 was stuffed in and is dropped
}

}  // namespace fe::hdlc
