#include "fe_image_writers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {
constexpr std::uint32_t kDcxMagic = 987654321;
constexpr unsigned kDcxMaxPages = 1023;
constexpr unsigned kMaxPcxLines = 65536;
constexpr unsigned kMaxBmpLines = 32767;

void Put16(std::uint8_t* p, unsigned v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}
int WriteAll(std::FILE* f, const void* data, std::size_t n) {
  if (n && std::fwrite(data, 1, n, f) != n) return errno ? -IoErrorCode(errno) : -ecDeviceWriteError;
  return 0;
}
int OpenForWrite(const std::string& path, std::FILE** f) {
  if (path.empty()) return -ecFileNotFound;
  *f = std::fopen(path.c_str(), "wb");
  return *f ? 0 : -IoErrorCode(errno);
}
int CloseFile(std::FILE* f) {
  return std::fclose(f) == 0 ? 0 : -IoErrorCode(errno);
}
}  // namespace

int PcxPageWriter::Begin(std::FILE* f, unsigned widthPixels, unsigned dpiX, unsigned dpiY) {
  f_ = f;
  start_ = std::ftell(f);
  width_ = widthPixels;
  bytesPerLine_ = ((widthPixels + 15) / 16) * 2;  // PCX lines have an even byte count
  lines_ = 0;
  dpiX_ = dpiX;
  dpiY_ = dpiY;
  coded_.resize(2 * std::size_t(bytesPerLine_) + 2);
  plain_.assign(bytesPerLine_, 0xFF);
  last_.assign(bytesPerLine_, 0);
  codedLen_ = 0;
  std::uint8_t header[128] = {};
  return WriteAll(f_, header, sizeof header);  // rewritten by End
}

int PcxPageWriter::AddLine(const std::uint8_t* raster) {
  // PCX stores 1 for white: the raster is inverted, and the padding after the
  // last pixel is white too.
  const unsigned used = (width_ + 7) / 8;
  ++lines_;
  // A line like the one before codes the same (fine text repeats every row).
  if (codedLen_ && std::memcmp(raster, last_.data(), used) == 0) return WriteAll(f_, coded_.data(), codedLen_);
  std::memcpy(last_.data(), raster, used);
  for (unsigned i = 0; i < used; ++i) plain_[i] = std::uint8_t(~raster[i]);
  if (width_ % 8) plain_[used - 1] |= std::uint8_t(0xFF >> (width_ % 8));
  std::size_t n = 0;
  for (unsigned i = 0; i < bytesPerLine_;) {
    const std::uint8_t b = plain_[i];
    unsigned run = 1;
    while (i + run < bytesPerLine_ && run < 63 && plain_[i + run] == b) ++run;
    if (run > 1 || (b & 0xC0) == 0xC0) coded_[n++] = std::uint8_t(0xC0 | run);
    coded_[n++] = b;
    i += run;
  }
  codedLen_ = n;
  return WriteAll(f_, coded_.data(), n);
}

int PcxPageWriter::End() {
  if (lines_ == 0 || lines_ > kMaxPcxLines) return -ecBadMaxHeight;
  std::uint8_t h[128] = {};
  h[0] = 10;  // manufacturer
  h[1] = 5;   // version 3.0
  h[2] = 1;   // run-length encoding
  h[3] = 1;   // bits per pixel
  Put16(h + 8, width_ - 1);
  Put16(h + 10, lines_ - 1);
  Put16(h + 12, dpiX_);
  Put16(h + 14, dpiY_);
  std::memset(h + 19, 0xFF, 3);  // palette: 0 black, 1 white
  h[65] = 1;                     // planes
  Put16(h + 66, bytesPerLine_);
  Put16(h + 68, 1);  // palette info: colour/monochrome
  const long end = std::ftell(f_);
  if (std::fseek(f_, start_, SEEK_SET) != 0) return -IoErrorCode(errno);
  if (int rc = WriteAll(f_, h, sizeof h)) return rc;
  if (std::fseek(f_, end, SEEK_SET) != 0) return -IoErrorCode(errno);
  return 0;
}

DcxWriter::~DcxWriter() {
  if (f_) std::fclose(f_);
}

int DcxWriter::Create(const std::string& path) {
  if (int rc = OpenForWrite(path, &f_)) return rc;
  offsets_.clear();
  std::uint8_t table[4 + 4 * (kDcxMaxPages + 1)] = {};
  return WriteAll(f_, table, sizeof table);
}

int DcxWriter::BeginPage(unsigned widthPixels, unsigned dpiX, unsigned dpiY) {
  if (offsets_.size() >= kDcxMaxPages) return -ecBadArgument;
  offsets_.push_back(std::uint32_t(std::ftell(f_)));
  return page_.Begin(f_, widthPixels, dpiX, dpiY);
}

int DcxWriter::EndPage() {
  return page_.End();
}

int DcxWriter::Close() {
  std::uint8_t table[4 + 4 * (kDcxMaxPages + 1)] = {};
  Put32(table, kDcxMagic);
  for (std::size_t i = 0; i < offsets_.size(); ++i) Put32(table + 4 + 4 * i, offsets_[i]);
  int rc = std::fseek(f_, 0, SEEK_SET) == 0 ? WriteAll(f_, table, sizeof table) : -IoErrorCode(errno);
  const int closed = CloseFile(f_);
  f_ = nullptr;
  return rc ? rc : closed;
}

int WritePcx(const std::string& path, unsigned widthPixels, const std::vector<std::uint8_t>& rows, unsigned height,
             unsigned dpiX, unsigned dpiY) {
  std::FILE* f = nullptr;
  if (int rc = OpenForWrite(path, &f)) return rc;
  PcxPageWriter w;
  const std::size_t stride = (widthPixels + 7) / 8;
  int rc = w.Begin(f, widthPixels, dpiX, dpiY);
  for (unsigned y = 0; rc == 0 && y < height; ++y) rc = w.AddLine(rows.data() + y * stride);
  if (rc == 0) rc = w.End();
  const int closed = CloseFile(f);
  return rc ? rc : closed;
}

int WriteBmp(const std::string& path, unsigned widthPixels, const std::vector<std::uint8_t>& rows, unsigned height,
             unsigned dpiX, unsigned dpiY) {
  if (height == 0 || height > kMaxBmpLines) return -ecBadMaxHeight;
  const std::size_t stride = (widthPixels + 7) / 8;
  const std::size_t padded = (widthPixels + 31) / 32 * 4;
  const std::uint32_t dataOffset = 14 + 40 + 8;
  std::uint8_t h[dataOffset] = {};
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, std::uint32_t(dataOffset + padded * height));
  Put32(h + 10, dataOffset);
  Put32(h + 14, 40);
  Put32(h + 18, widthPixels);
  Put32(h + 22, height);  // positive: bottom-up
  Put16(h + 26, 1);
  Put16(h + 28, 1);
  Put32(h + 34, std::uint32_t(padded * height));
  Put32(h + 38, std::uint32_t(dpiX * 10000 / 254));  // pixels per metre
  Put32(h + 42, std::uint32_t(dpiY * 10000 / 254));
  Put32(h + 46, 2);
  Put32(h + 50, 2);
  std::memset(h + 58, 0xFF, 3);  // palette: 0 black, 1 white
  std::FILE* f = nullptr;
  if (int rc = OpenForWrite(path, &f)) return rc;
  int rc = WriteAll(f, h, sizeof h);
  std::vector<std::uint8_t> line(padded);
  for (unsigned y = height; rc == 0 && y-- > 0;) {
    std::fill(line.begin(), line.end(), 0xFF);
    const std::uint8_t* src = rows.data() + y * stride;
    for (std::size_t i = 0; i < stride; ++i) line[i] = std::uint8_t(~src[i]);
    if (widthPixels % 8) line[stride - 1] |= std::uint8_t(0xFF >> (widthPixels % 8));
    rc = WriteAll(f, line.data(), padded);
  }
  const int closed = CloseFile(f);
  return rc ? rc : closed;
}

}  // namespace fe
