// Modem input splitting; see modem_reader.h.
#include "modem_reader.h"

#include "t30.h"

namespace fe {

void TModemReader::Feed(const uint8_t* data, size_t n) {
  Compact();
  buf_.insert(buf_.end(), data, data + n);
}

void TModemReader::Clear() {
  buf_.clear();
  pos_ = 0;
  dlePending_ = false;
  skipLf_ = false;
}

void TModemReader::Compact() {
  if (pos_ > 0 && (pos_ >= 4096 || pos_ == buf_.size())) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(pos_));
    pos_ = 0;
  }
}

void TModemReader::SkipLf() {
  if (skipLf_ && pos_ < buf_.size()) {
    if (buf_[pos_] == '\n') ++pos_;
    skipLf_ = false;
  }
}

bool TModemReader::TakeLine(std::string& line) {
  constexpr size_t kMaxLine = 512;
  SkipLf();
  for (;;) {
    while (pos_ < buf_.size() && (buf_[pos_] == '\r' || buf_[pos_] == '\n')) ++pos_;
    size_t end = pos_;
    while (end < buf_.size() && buf_[end] != '\r' && buf_[end] != '\n' && end - pos_ < kMaxLine) ++end;
    if (end == buf_.size()) return false;
    line.assign(buf_.begin() + static_cast<long>(pos_), buf_.begin() + static_cast<long>(end));
    pos_ = end;
    // Take the line's end too, so that data right after "CONNECT" starts clean.
    if (pos_ < buf_.size() && (buf_[pos_] == '\r' || buf_[pos_] == '\n')) skipLf_ = buf_[pos_++] == '\r';
    if (!line.empty()) return true;
  }
}

bool TModemReader::TakeByte(uint8_t& b) {
  SkipLf();
  if (pos_ >= buf_.size()) return false;
  b = buf_[pos_++];
  return true;
}

bool TModemReader::TakeBlock(std::vector<uint8_t>& out, size_t limit) {
  SkipLf();
  while (pos_ < buf_.size()) {
    uint8_t c = buf_[pos_++];
    if (dlePending_) {
      dlePending_ = false;
      if (c == t30::kETX) return true;
      if (out.size() < limit) out.push_back(c);
    } else if (c == t30::kDLE) {
      dlePending_ = true;
    } else if (out.size() < limit) {
      out.push_back(c);
    }
  }
  return false;
}

}  // namespace fe
