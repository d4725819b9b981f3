#include "fe_ring.h"

#include <algorithm>
#include <cstring>

namespace fe {

std::size_t TByteRing::Write(const std::uint8_t* data, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    std::size_t span = 0;
    std::uint8_t* dst = WriteSpan(span);
    if (span == 0) break;
    const std::size_t k = std::min(span, n - done);
    std::memcpy(dst, data + done, k);
    CommitWrite(k);
    done += k;
  }
  return done;
}

std::size_t TByteRing::Peek(std::uint8_t* out, std::size_t n, std::size_t offset) const {
  if (offset >= used_) return 0;
  n = std::min(n, used_ - offset);
  const std::size_t start = (read_ + offset) % buf_.size();
  const std::size_t first = std::min(n, buf_.size() - start);
  std::memcpy(out, buf_.data() + start, first);
  if (n > first) std::memcpy(out + first, buf_.data(), n - first);
  return n;
}

std::size_t TByteRing::Discard(std::size_t n) {
  n = std::min(n, used_);
  read_ = (read_ + n) % buf_.size();
  used_ -= n;
  if (used_ == 0) read_ = write_ = 0;  // keeps spans long
  return n;
}

std::uint8_t* TByteRing::WriteSpan(std::size_t& length) {
  if (Full()) {
    length = 0;
    return buf_.data();
  }
  length = (write_ >= read_) ? buf_.size() - write_ : read_ - write_;
  return buf_.data() + write_;
}

void TByteRing::CommitWrite(std::size_t n) {
  write_ = (write_ + n) % buf_.size();
  used_ += n;
}

const std::uint8_t* TByteRing::ReadSpan(std::size_t& length) const {
  length = used_ == 0 ? 0 : std::min(used_, buf_.size() - read_);
  return buf_.data() + read_;
}

}  // namespace fe
