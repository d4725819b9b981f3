// Decodes PCX run-length data: a byte with both top bits set repeats the next
// byte (count in its low six bits); any other byte stands for itself. Runs may
// cross line ends, as several writers produce them.
#include "fe_pcx_reader.h"

#include <algorithm>
#include <cstring>

#include "fe_bits.h"
#include "fe_errors.h"

namespace fe {

namespace {
constexpr int kBad = -ecBadGraphicsFormat;
constexpr std::uint32_t kDcxMagic = 987654321;
constexpr unsigned kDcxMaxPages = 1023;
constexpr unsigned kPcxHeader = 128;
}  // namespace

int PcxReader::open() {
  pages_.clear();
  if (!dcx_) {
    pages_.push_back(0);
  } else {
    if (!file_.has(0, 4) || file_.u32le(0) != kDcxMagic) return kBad;
    for (unsigned i = 0; i < kDcxMaxPages && file_.has(4 + 4 * i, 4); ++i) {
      const std::uint32_t at = file_.u32le(4 + 4 * i);
      if (at == 0) break;
      pages_.push_back(at);
    }
    if (pages_.empty()) return kBad;
  }
  return openPage(0);
}

int PcxReader::openPage(std::size_t page) {
  page_ = page;
  const std::size_t at = pages_[page];
  if (!file_.has(at, kPcxHeader)) return kBad;
  const unsigned manufacturer = file_.u8(at), encoding = file_.u8(at + 2), bits = file_.u8(at + 3);
  const unsigned xmin = file_.u16le(at + 4), ymin = file_.u16le(at + 6);
  const unsigned xmax = file_.u16le(at + 8), ymax = file_.u16le(at + 10);
  const unsigned planes = file_.u8(at + 65);
  bytesPerLine_ = file_.u16le(at + 66);
  if (manufacturer != 10 || encoding != 1 || bits != 1 || planes != 1) return kBad;
  if (xmax < xmin || ymax < ymin) return kBad;
  width_ = xmax - xmin + 1;
  height_ = ymax - ymin + 1;
  if (width_ > maxWidth_ || bytesPerLine_ < (width_ + 7) / 8) return kBad;
  // Header palette: a one-bit PCX normally has 1 = white; a palette that says
  // otherwise (entry 1 darker than entry 0) is followed.
  const unsigned dark0 = file_.u8(at + 16) + file_.u8(at + 17) + file_.u8(at + 18);
  const unsigned dark1 = file_.u8(at + 19) + file_.u8(at + 20) + file_.u8(at + 21);
  invert_ = !(dark1 < dark0);
  pos_ = at + kPcxHeader;
  end_ = file_.size();
  if (dcx_ && page + 1 < pages_.size() && pages_[page + 1] > pos_) end_ = std::min<std::size_t>(end_, pages_[page + 1]);
  row_ = 0;
  repeat_ = 0;
  line_.assign(bytesPerLine_, 0);
  return 0;
}

int PcxReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  endOfPage = morePages = false;
  len = 0;
  if (row_ >= height_) return kBad;
  const std::uint8_t* data = file_.data();
  unsigned filled = 0;
  while (filled < bytesPerLine_) {
    if (repeat_ > 0) {
      const unsigned n = std::min(repeat_, bytesPerLine_ - filled);
      std::memset(line_.data() + filled, repeatByte_, n);
      filled += n;
      repeat_ -= n;
      continue;
    }
    if (pos_ >= end_) return kBad;  // truncated
    const std::uint8_t b = data[pos_++];
    if ((b & 0xC0) == 0xC0) {
      if (pos_ >= end_) return kBad;
      repeat_ = b & 0x3F;
      repeatByte_ = data[pos_++];
    } else {
      line_[filled++] = b;
    }
  }
  const unsigned bytes = (width_ + 7) / 8;
  for (unsigned i = 0; i < bytes; ++i) buf[i] = invert_ ? std::uint8_t(~line_[i]) : line_[i];
  ClearPadBits(buf, width_);
  len = bytes;
  if (++row_ < height_) return 0;
  endOfPage = true;
  if (page_ + 1 < pages_.size()) {
    if (int rc = openPage(page_ + 1)) return rc;
    morePages = true;
  }
  return 0;
}

}  // namespace fe
