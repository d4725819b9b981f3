// The few aligned-PER pieces UDPTL and T.38 IFP packets are made of: a bounded
// byte reader and the general length determinant (one octet below 128, two
// octets 10xxxxxx xxxxxxxx below 16384). Longer items would need fragments
// (11xxxxxx), which no fax packet comes near, so they are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fe::voip::per {

inline constexpr size_t kMaxLength = 16383;

// Reads from a byte range; every read checks what is left first and a failed
// read leaves the position where it was.
class TReader {
 public:
  TReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Byte(uint8_t& value) {
    if (pos_ >= size_) return false;
    value = data_[pos_++];
    return true;
  }
  bool Bytes(size_t n, const uint8_t*& at) {
    if (n > size_ - pos_) return false;
    at = data_ + pos_;
    pos_ += n;
    return true;
  }
  // A length determinant; false at the end of the data or for a fragment.
  bool Length(size_t& n) {
    uint8_t first = 0;
    if (!Byte(first)) return false;
    if ((first & 0x80) == 0) {
      n = first;
      return true;
    }
    uint8_t second = 0;
    if ((first & 0x40) != 0 || !Byte(second)) {
      --pos_;
      return false;
    }
    n = (size_t(first & 0x3F) << 8) | second;
    return true;
  }
  size_t Offset() const { return pos_; }
  size_t Left() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Bytes a length determinant for n takes (n <= kMaxLength).
inline size_t LengthSize(size_t n) { return n < 128 ? 1 : 2; }

// Appends a length determinant; false (nothing appended) for n > kMaxLength.
inline bool AppendLength(std::vector<uint8_t>& out, size_t n) {
  if (n > kMaxLength) return false;
  if (n < 128) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    out.push_back(static_cast<uint8_t>(0x80 | (n >> 8)));
    out.push_back(static_cast<uint8_t>(n & 0xFF));
  }
  return true;
}

}  // namespace fe::voip::per
