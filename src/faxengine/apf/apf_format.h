// APF fax files: a 64-byte file header followed by the pages, each a 16-byte page
// header and that page's coded image data. Numbers are little-endian.
//
// File header: 0 signature "APF10" 0x1A (6) | 6 date/time as a packed file date (4)
// | 10 station id: length byte + 20 characters (21) | 31 filler (1) | 32 page count
// (2) | 34 first page offset, always 64 (4) | 38 reserved (26).
// Page header: 0 image length, not counting the header (4) | 4 flags (2) | 6 reserved (10).
//
// Image data is either a sequence of line records (flag pfLineRecords: a 16-bit
// length N then N bytes of one coded line, the last record holding the
// return-to-control sequence) or a raw stream as received from a modem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace fe {

constexpr std::size_t kApfHeaderSize = 64;
constexpr std::size_t kApfPageHeaderSize = 16;
constexpr std::uint32_t kApfFirstPageOffset = 64;
constexpr unsigned char kApfSignature[6] = {'A', 'P', 'F', '1', '0', 0x1A};
constexpr std::size_t kStationIdLength = 20;

// Page flags.
constexpr std::uint16_t pfHighRes = 1;      // fine: about 196 lines per inch instead of 98
constexpr std::uint16_t pfWide = 2;         // 2048 pixels per line instead of 1728
constexpr std::uint16_t pfLineRecords = 4;  // data is line records with length words
constexpr std::uint16_t pfKnownFlags = pfHighRes | pfWide | pfLineRecords;

constexpr unsigned kStandardWidth = 1728;  // pixels per line
constexpr unsigned kWideWidth = 2048;
constexpr unsigned kMaxLineWidth = kWideWidth;

inline unsigned PageWidthPixels(std::uint16_t flags) {
  return (flags & pfWide) ? kWideWidth : kStandardWidth;
}
inline unsigned PageWidthBytes(std::uint16_t flags) {
  return PageWidthPixels(flags) / 8;
}

struct TApfFileHeader {
  std::uint32_t fileDate = 0;  // packed: see PackFileDate
  std::string stationId;       // as stored (a writer pads it to 20 characters)
  std::uint16_t pageCount = 0;
  std::uint32_t firstPageOffset = kApfFirstPageOffset;
};

struct TApfPageHeader {
  std::uint32_t imageLength = 0;
  std::uint16_t flags = 0;
};

// Serialises a file header (signature included, reserved bytes zero).
void EncodeFileHeader(const TApfFileHeader& h, unsigned char out[kApfHeaderSize]);
// Parses a file header; false when the signature differs in any byte.
bool DecodeFileHeader(const unsigned char in[kApfHeaderSize], TApfFileHeader* h);
bool HasApfSignature(const unsigned char* data, std::size_t size);

void EncodePageHeader(const TApfPageHeader& h, unsigned char out[kApfPageHeaderSize]);
TApfPageHeader DecodePageHeader(const unsigned char in[kApfPageHeaderSize]);

// The station identifier as writers store it: cut to 20 characters, padded with
// spaces to 20 ("" stays empty: no identifier set).
std::string PadStationId(const std::string& id);

// Packed file date: low word = time (bits 0-4 seconds/2, 5-10 minutes, 11-15 hours),
// high word = date (bits 0-4 day, 5-8 month, 9-15 years since 1980). 0 when the
// year lies outside 1980-2099.
std::uint32_t PackFileDate(const std::tm& local);
std::uint32_t PackFileDate(std::time_t when);  // local time
// Unpacks into tm fields (year, month, day, hour, minute, second); false for 0.
bool UnpackFileDate(std::uint32_t packed, std::tm* out);

}  // namespace fe
