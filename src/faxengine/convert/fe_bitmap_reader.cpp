#include "fe_bitmap_reader.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

#include "fe_bits.h"
#include "fe_errors.h"

namespace fe {

int BitmapReader::open() {
  if (image_.isNull()) return -ecBadArgument;
  if (image_.format() == QImage::Format_MonoLSB) image_ = image_.convertToFormat(QImage::Format_Mono);
  mono_ = image_.format() == QImage::Format_Mono;
  if (mono_) {
    oneIsBlack_ = image_.colorCount() >= 2 && qGray(image_.color(1)) < qGray(image_.color(0));
  } else {
    QImage flat(image_.size(), QImage::Format_RGB32);
    if (flat.isNull()) return -ecOutOfMemory;
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image_);
    painter.end();
    image_ = flat;
  }
  width_ = std::min<unsigned>(unsigned(image_.width()), kMaxRasterPixels);
  row_ = 0;
  return 0;
}

int BitmapReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  morePages = false;
  const unsigned bytes = (width_ + 7) / 8;
  const uchar* src = image_.constScanLine(int(row_));
  if (mono_) {
    for (unsigned i = 0; i < bytes; ++i) buf[i] = oneIsBlack_ ? src[i] : std::uint8_t(~src[i]);
  } else {
    std::memset(buf, 0, bytes);
    const QRgb* px = reinterpret_cast<const QRgb*>(src);
    for (unsigned x = 0; x < width_; ++x) {
      const unsigned sum = unsigned(qRed(px[x]) + qGreen(px[x]) + qBlue(px[x]));
      if (sum < DitherThreshold(x, row_)) buf[x / 8] |= std::uint8_t(0x80 >> (x % 8));
    }
  }
  ClearPadBits(buf, width_);
  len = bytes;
  endOfPage = ++row_ >= unsigned(image_.height());
  return 0;
}

UserReader::~UserReader() {
  if (opened_ && close_) close_();
}

int UserReader::open() {
  if (!read_) return -ecBadArgument;
  if (open_) open_(name_);
  opened_ = true;
  return 0;
}

int UserReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  len = 0;
  endOfPage = morePages = false;
  read_(buf, len, endOfPage, morePages);
  len = std::min(len, kMaxRasterBytes);
  return 0;
}

}  // namespace fe
