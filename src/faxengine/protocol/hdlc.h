// HDLC framing in software, for image frames sent with the modem's data
// modulation ("AT+FTM=") and read back from "AT+FRM=", where the modem passes
// raw bits and frames nothing itself.
//
// Conventions callers rely on:
// - Bytes on the line are packed least significant bit first, the order the
//   modem sends them and the order of our page data; an octet of a frame is
//   sent LSB first as well.
// - A frame here is everything between flags except the FCS: address, control,
//   FCF and FIF. The framer appends the FCS (CRC-16/X.25, low byte first); the
//   deframer checks it and hands frames back without it.
// - Neither side knows about the modem's DLE transparency: double DLEs with
//   t30::AppendStuffed before writing and undo them with TModemReader after
//   reading.
// - No Qt, no allocation beyond the vectors each object owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace fe::hdlc {

constexpr uint8_t kFlag = 0x7E;

// CRC-16/X.25 over data: reflected polynomial 0x8408, start 0xFFFF, result
// complemented (the value sent as FCS, low byte first).
uint16_t Fcs16(const uint8_t* data, size_t n);

// Builds a bit stream of flags and bit-stuffed frames.
class TFramer {
 public:
  // n opening or closing flags.
  void Flags(size_t n);
  // One frame (address through FIF): its FCS is appended and a 0 inserted after
  // every five 1s; no flag is written before or after it.
  void Frame(const uint8_t* data, size_t n);
  void Frame(const std::vector<uint8_t>& f) { Frame(f.data(), f.size()); }
  // The bytes built so far. A last partial byte is completed with 1 bits (line
  // idle), so finish a stream with at least one flag before taking it.
  std::vector<uint8_t> Take();
  size_t Size() const { return out_.size(); }

 private:
  void PutBit(unsigned bit);
  void PutByteRaw(uint8_t b);
  void PutByteStuffed(uint8_t b);

  std::vector<uint8_t> out_;
  uint32_t acc_ = 0;   // bits not yet in out_, first bit in bit 0
  unsigned nAcc_ = 0;  // how many
  unsigned ones_ = 0;  // 1 bits in a row inside a frame
};

struct TDeframerStats {
  size_t good = 0;      // frames with a correct FCS
  size_t badFcs = 0;    // frames of whole octets whose FCS is wrong
  size_t badShape = 0;  // too short, too long or not a whole number of octets
  size_t aborts = 0;    // frames cut by seven or more 1s
};

// Finds frames in a bit stream fed in pieces of any size. Starts hunting for a
// flag, so garbage before the first flag is skipped; an abort (seven 1s) drops
// the frame in progress and hunts again.
class TDeframer {
 public:
  // Frames longer than maxFrame octets (FCS included) are dropped as they grow,
  // so a stream of noise never holds more than that.
  explicit TDeframer(size_t maxFrame = 1024) : max_(maxFrame) {}

  void Put(const uint8_t* data, size_t n);
  void Put(const std::vector<uint8_t>& d) { Put(d.data(), d.size()); }
  // Next good frame (without its FCS); false when none is waiting.
  bool Take(std::vector<uint8_t>& frame);
  size_t Waiting() const { return frames_.size(); }
  const TDeframerStats& Stats() const { return stats_; }
  // Back to hunting, frames and statistics cleared.
  void Reset();

 private:
  void PutBit(unsigned bit);
  void DataBit(unsigned bit);
  void EndFrame();

  size_t max_;
  std::vector<uint8_t> cur_;
  uint32_t bits_ = 0;     // data bits in the frame in progress
  unsigned ones_ = 0;     // 1 bits in a row not yet taken as data
  bool inFrame_ = false;  // a flag was seen and no abort since
  std::deque<std::vector<uint8_t>> frames_;
  TDeframerStats stats_;
};

}  // namespace fe::hdlc
