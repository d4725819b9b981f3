// Reads bilevel TIFF files strip by strip. Every offset and count is checked
// against the file before it is used; nothing is allocated from a header value
// beyond the strip table, which is bounded by the file's size.
#include "fe_tiff_reader.h"

#include <algorithm>
#include <cstring>

#include "fe_bits.h"
#include "fe_errors.h"

namespace fe {

namespace {
constexpr std::uint16_t kTagWidth = 256, kTagLength = 257, kTagBitsPerSample = 258, kTagCompression = 259,
                        kTagPhotometric = 262, kTagFillOrder = 266, kTagStripOffsets = 273, kTagSamplesPerPixel = 277,
                        kTagRowsPerStrip = 278, kTagStripByteCounts = 279;
constexpr std::uint32_t kCompressionNone = 1, kCompressionPackBits = 32773;
constexpr std::size_t kMaxPages = 4096;
constexpr int kBad = -ecBadGraphicsFormat;
}  // namespace

int TiffReader::open() {
  if (!file_.has(0, 8)) return kBad;
  if (file_.u8(0) == 'I' && file_.u8(1) == 'I') {
    bigEndian_ = false;
  } else if (file_.u8(0) == 'M' && file_.u8(1) == 'M') {
    bigEndian_ = true;
  } else {
    return kBad;
  }
  if (u16(2) != 42) return kBad;
  return readDirectory(u32(4));
}

bool TiffReader::fieldValues(std::size_t entry, std::vector<std::uint32_t>& out, std::size_t maxCount) const {
  const std::uint16_t type = u16(entry + 2);
  const std::uint32_t count = u32(entry + 4);
  const unsigned size = type == 3 ? 2 : type == 4 ? 4 : type == 1 ? 1 : 0;
  if (size == 0 || count == 0 || count > maxCount) return false;
  std::size_t at = entry + 8;
  if (std::uint64_t(count) * size > 4) {
    at = u32(entry + 8);
    if (!file_.has(at, std::uint64_t(count) * size)) return false;
  }
  out.resize(count);
  for (std::uint32_t i = 0; i < count; ++i)
    out[i] = size == 2 ? u16(at + 2 * i) : size == 4 ? u32(at + 4 * i) : file_.u8(at + i);
  return true;
}

int TiffReader::readDirectory(std::uint32_t at) {
  if (std::find(visited_.begin(), visited_.end(), at) != visited_.end() || visited_.size() >= kMaxPages) return kBad;
  visited_.push_back(at);
  if (!file_.has(at, 2)) return kBad;
  const unsigned entries = u16(at);
  if (!file_.has(at + 2, std::uint64_t(entries) * 12 + 4)) return kBad;
  // Strips are bounded by the file: every strip needs at least one byte.
  const std::size_t maxStrips = std::max<std::size_t>(1, file_.size());
  std::uint32_t bits = 1, compression = kCompressionNone, photometric = 0, fillOrder = 1, samples = 1;
  width_ = length_ = 0;
  rowsPerStrip_ = 0xFFFFFFFF;
  std::vector<std::uint32_t> offsets, counts, v;
  for (unsigned i = 0; i < entries; ++i) {
    const std::size_t e = at + 2 + std::size_t(i) * 12;
    const std::uint16_t tag = u16(e);
    const bool many = tag == kTagStripOffsets || tag == kTagStripByteCounts;
    if (tag != kTagBitsPerSample && !many && (tag < kTagWidth || tag > kTagStripByteCounts))  // not a tag we use
      continue;
    if (!fieldValues(e, v, many ? maxStrips : tag == kTagBitsPerSample ? 4 : 1)) {
      if (tag == kTagWidth || tag == kTagLength || many || tag == kTagCompression || tag == kTagBitsPerSample)
        return kBad;
      continue;
    }
    switch (tag) {
      case kTagWidth:
        width_ = v[0];
        break;
      case kTagLength:
        length_ = v[0];
        break;
      case kTagBitsPerSample:
        bits = v.size() == 1 ? v[0] : 0;
        break;
      case kTagCompression:
        compression = v[0];
        break;
      case kTagPhotometric:
        photometric = v[0];
        break;
      case kTagFillOrder:
        fillOrder = v[0];
        break;
      case kTagSamplesPerPixel:
        samples = v[0];
        break;
      case kTagRowsPerStrip:
        rowsPerStrip_ = v[0];
        break;
      case kTagStripOffsets:
        offsets = v;
        break;
      case kTagStripByteCounts:
        counts = v;
        break;
      default:
        break;
    }
  }
  nextDirectory_ = u32(at + 2 + std::size_t(entries) * 12);
  if (width_ == 0 || width_ > kMaxRasterPixels || length_ == 0 || offsets.empty()) return kBad;
  if (bits != 1 || samples != 1 || photometric > 1 || (fillOrder != 1 && fillOrder != 2)) return kBad;
  if (compression != kCompressionNone && compression != kCompressionPackBits) return kBad;
  if (rowsPerStrip_ == 0) return kBad;
  packBits_ = compression == kCompressionPackBits;
  invert_ = photometric == 1;  // BlackIsZero
  reversedBits_ = fillOrder == 2;
  rowBytes_ = (width_ + 7) / 8;
  const std::uint64_t stripsNeeded = (std::uint64_t(length_) + rowsPerStrip_ - 1) / rowsPerStrip_;
  if (offsets.size() < stripsNeeded) return kBad;
  if (!counts.empty() && counts.size() != offsets.size()) return kBad;
  strips_.assign(offsets.size(), {});
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    if (offsets[i] > file_.size()) return kBad;
    const std::uint32_t avail = std::uint32_t(file_.size() - offsets[i]);
    // Without byte counts an uncompressed strip is as long as its rows.
    std::uint64_t size = counts.empty() ? std::uint64_t(rowBytes_) * rowsPerStrip_ : counts[i];
    if (counts.empty() && packBits_) size = avail;
    strips_[i] = {offsets[i], std::uint32_t(std::min<std::uint64_t>(size, avail))};
  }
  row_ = 0;
  strip_ = 0;
  stripPos_ = 0;
  return 0;
}

int TiffReader::decodeRow(std::uint8_t* buf) {
  const std::size_t strip = row_ / rowsPerStrip_;
  if (strip != strip_) {
    strip_ = strip;
    stripPos_ = 0;
  }
  const Strip& s = strips_[strip_];
  const std::uint8_t* src = file_.data() + s.offset;
  if (!packBits_) {
    if (std::uint64_t(stripPos_) + rowBytes_ > s.size) return kBad;  // truncated strip
    std::memcpy(buf, src + stripPos_, rowBytes_);
    stripPos_ += rowBytes_;
    consumed_ += rowBytes_;
    return 0;
  }
  unsigned filled = 0;
  while (filled < rowBytes_) {
    if (stripPos_ >= s.size) return kBad;
    const int n = static_cast<std::int8_t>(src[stripPos_++]);
    if (n >= 0) {  // n + 1 literal bytes
      const unsigned count = unsigned(n) + 1;
      if (stripPos_ + count > s.size || filled + count > rowBytes_) return kBad;
      std::memcpy(buf + filled, src + stripPos_, count);
      stripPos_ += count;
      filled += count;
    } else if (n != -128) {  // 1 - n copies of the next byte
      const unsigned count = unsigned(1 - n);
      if (stripPos_ >= s.size || filled + count > rowBytes_) return kBad;
      std::memset(buf + filled, src[stripPos_++], count);
      filled += count;
    }
  }
  consumed_ = std::max<std::uint64_t>(consumed_, s.offset + stripPos_);
  return 0;
}

int TiffReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  endOfPage = morePages = false;
  len = 0;
  if (row_ >= length_) return kBad;
  if (int rc = decodeRow(buf)) return rc;
  if (reversedBits_)
    for (unsigned i = 0; i < rowBytes_; ++i) buf[i] = ReverseBits(buf[i]);
  if (invert_)
    for (unsigned i = 0; i < rowBytes_; ++i) buf[i] = std::uint8_t(~buf[i]);
  ClearPadBits(buf, width_);
  len = rowBytes_;
  if (++row_ < length_) return 0;
  endOfPage = true;
  if (nextDirectory_ != 0) {
    if (int rc = readDirectory(nextDirectory_)) return rc;
    morePages = true;
  }
  return 0;
}

}  // namespace fe
