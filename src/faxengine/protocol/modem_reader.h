// Splits what the modem sends into response lines and DLE-framed blocks (HDLC
// frames after "AT+FRH=3", page data and training checks), in arrival order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fe {

class TModemReader {
 public:
  void Feed(const uint8_t* data, size_t n);
  void Clear();
  size_t Pending() const { return buf_.size() - pos_; }

  // Next non-empty line ended by CR or LF (without the ending); false when no
  // whole line is waiting. Lines longer than 512 bytes are cut there.
  bool TakeLine(std::string& line);
  // Next single byte, for waits on XON.
  bool TakeByte(uint8_t& b);
  // Collects a block up to DLE ETX into out, removing the modem's transparency:
  // DLE DLE is one DLE, DLE ETX ends the block, DLE with anything else stands for
  // that character. Returns true when the block is complete. A block larger than
  // limit is cut (the rest is dropped up to DLE ETX).
  bool TakeBlock(std::vector<uint8_t>& out, size_t limit = 65536);

 private:
  void Compact();
  void SkipLf();
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  bool dlePending_ = false;
  bool skipLf_ = false;  // a line ended in CR: an LF right after it belongs to it
};

}  // namespace fe
