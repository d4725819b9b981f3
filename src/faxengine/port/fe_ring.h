// A byte ring buffer with read and write positions that wrap at its size. Not
// locked: the dispatcher guards each ring with its own mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fe {

class TByteRing {
 public:
  explicit TByteRing(std::size_t size) : buf_(size) {}

  std::size_t Size() const { return buf_.size(); }
  std::size_t Used() const { return used_; }
  std::size_t Free() const { return buf_.size() - used_; }
  bool Full() const { return used_ == buf_.size(); }

  // Appends up to `n` bytes; returns how many fitted.
  std::size_t Write(const std::uint8_t* data, std::size_t n);
  // Copies up to `n` bytes starting `offset` bytes after the read position.
  std::size_t Peek(std::uint8_t* out, std::size_t n, std::size_t offset = 0) const;
  // Removes up to `n` bytes from the read side.
  std::size_t Discard(std::size_t n);
  std::size_t Read(std::uint8_t* out, std::size_t n) {
    const std::size_t got = Peek(out, n);
    return Discard(got);
  }
  std::uint8_t At(std::size_t offset) const { return buf_[(read_ + offset) % buf_.size()]; }
  void Clear() { read_ = write_ = used_ = 0; }

  // Contiguous free space at the write position (for reading a device straight in,
  // up to two pieces when the space wraps) and committing what was put there.
  std::uint8_t* WriteSpan(std::size_t& length);
  void CommitWrite(std::size_t n);
  // Contiguous data at the read position (for writing straight to a device).
  const std::uint8_t* ReadSpan(std::size_t& length) const;

 private:
  std::vector<std::uint8_t> buf_;
  std::size_t read_ = 0;
  std::size_t write_ = 0;
  std::size_t used_ = 0;
};

}  // namespace fe
