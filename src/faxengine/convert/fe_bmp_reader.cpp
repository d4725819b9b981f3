// Reads Windows bitmap files. Rows are stored bottom-up unless the height is
// negative; each is padded to four bytes. All pixel data must lie in the file.
#include "fe_bmp_reader.h"

#include <bit>
#include <cstring>

#include "fe_bits.h"
#include "fe_errors.h"

namespace fe {

namespace {
constexpr int kBad = -ecBadGraphicsFormat;
constexpr unsigned kFileHeader = 14;
constexpr unsigned kRgb = 0, kBitFields = 3;
}  // namespace

int BmpReader::open() {
  if (!file_.has(0, kFileHeader + 12) || file_.u8(0) != 'B' || file_.u8(1) != 'M') return kBad;
  const std::uint32_t dataOffset = file_.u32le(10);
  const std::uint32_t infoSize = file_.u32le(kFileHeader);
  std::int64_t width = 0, height = 0;
  unsigned planes = 0, compression = kRgb, colours = 0, paletteEntry = 4;
  if (infoSize == 12) {  // OS/2 core header
    width = file_.u16le(kFileHeader + 4);
    height = file_.u16le(kFileHeader + 6);
    planes = file_.u16le(kFileHeader + 8);
    bits_ = file_.u16le(kFileHeader + 10);
    paletteEntry = 3;
  } else if (infoSize >= 40 && file_.has(kFileHeader, infoSize)) {
    width = static_cast<std::int32_t>(file_.u32le(kFileHeader + 4));
    height = static_cast<std::int32_t>(file_.u32le(kFileHeader + 8));
    planes = file_.u16le(kFileHeader + 12);
    bits_ = file_.u16le(kFileHeader + 14);
    compression = file_.u32le(kFileHeader + 16);
    colours = file_.u32le(kFileHeader + 32);
  } else {
    return kBad;
  }
  topDown_ = height < 0;
  if (topDown_) height = -height;
  if (planes != 1 || width <= 0 || width > kMaxRasterPixels || height <= 0) return kBad;
  if (bits_ != 1 && bits_ != 4 && bits_ != 8 && bits_ != 24 && bits_ != 32) return kBad;
  width_ = unsigned(width);
  height_ = unsigned(height);
  if (compression == kBitFields && bits_ == 32) {
    // Masks follow a 40-byte header, or sit inside a larger one at the same place.
    if (!file_.has(kFileHeader + 40, 12)) return kBad;
    for (int i = 0; i < 3; ++i) {
      masks_[i] = file_.u32le(kFileHeader + 40 + 4 * i);
      if (masks_[i] == 0) return kBad;
      shifts_[i] = unsigned(std::countr_zero(masks_[i]));
      maxes_[i] = masks_[i] >> shifts_[i];
    }
  } else if (compression == kRgb) {
    masks_ = {0x00FF0000, 0x0000FF00, 0x000000FF};
    shifts_ = {16, 8, 0};
    maxes_ = {255, 255, 255};
  } else {
    return kBad;  // run-length and other compressed variants
  }
  if (bits_ <= 8) {
    const unsigned maxColours = 1u << bits_;
    if (colours == 0 || colours > maxColours) colours = maxColours;
    std::size_t palette = kFileHeader + infoSize;
    if (compression == kBitFields) palette += 12;
    if (!file_.has(palette, std::uint64_t(colours) * paletteEntry)) return kBad;
    paletteSum_.fill(0);
    for (unsigned i = 0; i < colours; ++i) {
      const std::size_t e = palette + std::size_t(i) * paletteEntry;
      paletteSum_[i] = std::uint16_t(file_.u8(e) + file_.u8(e + 1) + file_.u8(e + 2));
    }
  }
  stride_ = ((std::uint64_t(width_) * bits_ + 31) / 32) * 4;
  if (!file_.has(dataOffset, std::uint64_t(stride_) * height_)) return kBad;  // truncated or lying size
  pixels_ = dataOffset;
  row_ = 0;
  consumed_ = dataOffset;
  return 0;
}

int BmpReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  endOfPage = morePages = false;
  len = 0;
  if (row_ >= height_) return kBad;
  const unsigned stored = topDown_ ? row_ : height_ - 1 - row_;
  const std::uint8_t* src = file_.data() + pixels_ + stride_ * stored;
  const unsigned bytes = (width_ + 7) / 8;
  const unsigned y = row_;
  if (bits_ == 1) {
    // Bit set = palette entry 1; black is whichever entry is darker.
    const bool oneIsBlack = paletteSum_[1] < paletteSum_[0];
    for (unsigned i = 0; i < bytes; ++i) buf[i] = oneIsBlack ? src[i] : std::uint8_t(~src[i]);
  } else {
    std::memset(buf, 0, bytes);
    for (unsigned x = 0; x < width_; ++x) {
      unsigned sum;
      if (bits_ == 4) {
        sum = paletteSum_[(src[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F];
      } else if (bits_ == 8) {
        sum = paletteSum_[src[x]];
      } else if (bits_ == 24) {
        sum = unsigned(src[3 * x]) + src[3 * x + 1] + src[3 * x + 2];
      } else {
        const std::uint32_t p = ByteView({src + 4 * x, 4}).u32le(0);
        sum = 0;
        for (int c = 0; c < 3; ++c) sum += ((p & masks_[c]) >> shifts_[c]) * 255 / maxes_[c];
      }
      if (sum < DitherThreshold(x, y)) buf[x / 8] |= std::uint8_t(0x80 >> (x % 8));
    }
  }
  ClearPadBits(buf, width_);
  len = bytes;
  consumed_ += stride_;
  if (++row_ == height_) endOfPage = true;
  return 0;
}

}  // namespace fe
