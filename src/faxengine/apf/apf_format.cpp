#include "apf_format.h"

#include <cstring>

namespace fe {

namespace {
void Put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, std::uint32_t v) {
  Put16(p, static_cast<std::uint16_t>(v));
  Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const unsigned char* p) {
  return Get16(p) | (std::uint32_t{Get16(p + 2)} << 16);
}
}  // namespace

void EncodeFileHeader(const TApfFileHeader& h, unsigned char out[kApfHeaderSize]) {
  std::memset(out, 0, kApfHeaderSize);
  std::memcpy(out, kApfSignature, sizeof kApfSignature);
  Put32(out + 6, h.fileDate);
  std::size_t n = std::min(h.stationId.size(), kStationIdLength);
  out[10] = static_cast<unsigned char>(n);
  std::memcpy(out + 11, h.stationId.data(), n);
  Put16(out + 32, h.pageCount);
  Put32(out + 34, h.firstPageOffset);
}

bool HasApfSignature(const unsigned char* data, std::size_t size) {
  return size >= sizeof kApfSignature && std::memcmp(data, kApfSignature, sizeof kApfSignature) == 0;
}

bool DecodeFileHeader(const unsigned char in[kApfHeaderSize], TApfFileHeader* h) {
  if (!HasApfSignature(in, kApfHeaderSize)) return false;
  h->fileDate = Get32(in + 6);
  std::size_t n = std::min<std::size_t>(in[10], kStationIdLength);
  h->stationId.assign(reinterpret_cast<const char*>(in + 11), n);
  h->pageCount = Get16(in + 32);
  h->firstPageOffset = Get32(in + 34);
  return true;
}

void EncodePageHeader(const TApfPageHeader& h, unsigned char out[kApfPageHeaderSize]) {
  std::memset(out, 0, kApfPageHeaderSize);
  Put32(out, h.imageLength);
  Put16(out + 4, h.flags);
}

TApfPageHeader DecodePageHeader(const unsigned char in[kApfPageHeaderSize]) {
  return TApfPageHeader{Get32(in), Get16(in + 4)};
}

std::string PadStationId(const std::string& id) {
  if (id.empty()) return id;
  std::string s = id.substr(0, kStationIdLength);
  s.resize(kStationIdLength, ' ');
  return s;
}

std::uint32_t PackFileDate(const std::tm& t) {
  int year = t.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  std::uint32_t time = (static_cast<std::uint32_t>(t.tm_sec) / 2 & 31) |
                       ((static_cast<std::uint32_t>(t.tm_min) & 63) << 5) |
                       ((static_cast<std::uint32_t>(t.tm_hour) & 31) << 11);
  std::uint32_t date = (static_cast<std::uint32_t>(t.tm_mday) & 31) |
                       ((static_cast<std::uint32_t>(t.tm_mon + 1) & 15) << 5) |
                       (static_cast<std::uint32_t>(year - 1980) << 9);
  return time | (date << 16);
}

std::uint32_t PackFileDate(std::time_t when) {
  std::tm t{};
  if (!localtime_r(&when, &t)) return 0;
  return PackFileDate(t);
}

bool UnpackFileDate(std::uint32_t packed, std::tm* out) {
  if (!packed) return false;
  std::tm t{};
  t.tm_sec = static_cast<int>(packed & 31) * 2;
  t.tm_min = static_cast<int>((packed >> 5) & 63);
  t.tm_hour = static_cast<int>((packed >> 11) & 31);
  t.tm_mday = static_cast<int>((packed >> 16) & 31);
  t.tm_mon = static_cast<int>((packed >> 21) & 15) - 1;
  t.tm_year = static_cast<int>(packed >> 25) + 80;
  t.tm_isdst = -1;
  *out = t;
  return true;
}

}  // namespace fe
