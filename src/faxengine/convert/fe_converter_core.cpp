#include "fe_converter_core.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "apf_writer.h"
#include "fe_errors.h"
#include "mh_codec.h"

namespace fe {

namespace {
// Every bit of a byte doubled: 0b10110000 -> 0b11001111'00000000.
struct DoubledBits {
  std::array<std::uint16_t, 256> t{};
  DoubledBits() {
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned i = 0; i < 8; ++i)
        if (b & (0x80 >> i)) t[b] |= std::uint16_t(0xC000 >> (2 * i));
  }
};
const DoubledBits kDoubled;

constexpr unsigned kYieldEvery = 32;  // lines between yields with coYield alone

// ORs `count` bits (right-aligned in v, count <= 24) into line at bit position pos.
inline void PutBits(std::uint8_t* line, unsigned lineBytes, unsigned pos, std::uint32_t v, unsigned count) {
  std::uint32_t shifted = v << (32 - count - pos % 8);
  for (unsigned i = pos / 8; shifted && i < lineBytes; ++i, shifted <<= 8) line[i] |= std::uint8_t(shifted >> 24);
}
}  // namespace

TImagePlacement PlaceImage(unsigned imageWidth, unsigned lineWidth, unsigned leftMargin, unsigned options,
                           bool highRes) {
  TImagePlacement p;
  if (imageWidth == 0) return p;
  const unsigned room = lineWidth > leftMargin ? lineWidth - leftMargin : 0;
  p.doubling = (options & coDoubleWidth) && !highRes && room >= 2 * std::uint64_t(imageWidth);
  p.halving = (options & coHalfHeight) && !highRes && !p.doubling;
  if ((options & coCenterImage) && lineWidth > imageWidth && lineWidth - imageWidth > 15)
    p.offsetBytes = p.doubling ? (lineWidth - 2 * imageWidth) / 32 : (lineWidth - imageWidth) / 16;
  return p;
}

void ComposeFaxLine(const std::uint8_t* raster, unsigned len, const TImagePlacement& placement, unsigned leftMargin,
                    unsigned lineWidth, std::uint8_t* out) {
  const unsigned lineBytes = lineWidth / 8;
  std::memset(out, 0, lineBytes);
  const unsigned scale = placement.doubling ? 2 : 1;
  const std::uint64_t start = leftMargin + std::uint64_t(placement.offsetBytes) * 8 * scale;
  if (start >= lineWidth) return;
  // Source bytes that reach the line at all.
  const unsigned fit = unsigned((lineWidth - start + 8 * scale - 1) / (8 * scale));
  len = std::min(len, fit);
  if (scale == 1) {
    const unsigned first = unsigned(start / 8), shift = unsigned(start % 8);
    if (shift == 0) {
      std::memcpy(out + first, raster, std::min(len, lineBytes - first));
      return;
    }
    // Each output byte takes the low bits of one input byte and the high bits of
    // the next: a branch-free loop the compiler vectorises.
    const unsigned n = std::min(len, lineBytes - first);
    if (n == 0) return;
    out[first] = std::uint8_t(raster[0] >> shift);
    for (unsigned i = 1; i < n; ++i) out[first + i] = std::uint8_t(raster[i - 1] << (8 - shift) | raster[i] >> shift);
    if (first + n < lineBytes) out[first + n] = std::uint8_t(raster[n - 1] << (8 - shift));
    return;
  }
  std::uint64_t pos = start;
  for (unsigned i = 0; i < len; ++i, pos += 16)
    if (raster[i]) PutBits(out, lineBytes, unsigned(pos), kDoubled.t[raster[i]], 16);
}

int TFaxConverterCore::Convert(RasterReader& reader, const std::string& outFile) {
  progress_ = {};
  progress_.starting = true;
  if (status_ && status_(progress_)) return -ecConvertAbort;
  progress_.starting = false;
  if (int rc = reader.open()) return rc;
  progress_.bytesToConvert = reader.bytesTotal();

  TApfWriter writer;
  if (!output_) {
    if (int rc = writer.Create(outFile)) return rc;
    writer.SetStationId(s_.stationId);
  }
  const std::uint16_t flags =
      std::uint16_t(pfLineRecords | (s_.highRes ? pfHighRes : 0) | (s_.width == kWideWidth ? pfWide : 0));
  std::vector<std::uint8_t> raster(kMaxRasterBytes), line(s_.width / 8), coded(kMaxCodedLine);
  unsigned sinceYield = 0;

  // Writes one coded line to the file or the callback.
  auto put = [&](const std::uint8_t* data, std::size_t n) -> int {
    if (!output_) return writer.AppendLineRecord(data, n);
    output_(data, unsigned(n), false, false);
    return 0;
  };
  // Text repeats lines (every glyph row twice at high resolution, blank rows), so
  // the coded form of the last input line is kept and reused when the next one is
  // the same.
  std::vector<std::uint8_t> lastRaster(kMaxRasterBytes);
  unsigned lastLen = 0;
  std::size_t lastCoded = 0;
  // A blank line codes the same whatever the placement.
  std::vector<std::uint8_t> blankCoded(kMaxCodedLine);
  std::memset(line.data(), 0, line.size());
  const std::size_t blankLen = MhEncodeLine(line.data(), s_.width, s_.width, false, blankCoded.data());
  auto run = [&]() -> int {
    bool morePages = true;
    while (morePages) {
      ++progress_.pagesConverted;
      progress_.linesConverted = 0;
      const TImagePlacement place = PlaceImage(reader.imageWidth(), s_.width, s_.leftMargin, s_.options, s_.highRes);
      if (!output_)
        if (int rc = writer.BeginPage(flags)) return rc;
      for (unsigned i = 0; i < s_.topMargin; ++i)
        if (int rc = put(blankCoded.data(), blankLen)) return rc;
      lastCoded = 0;  // the placement may differ from the previous page's
      bool endOfPage = false;
      while (!endOfPage) {
        unsigned len = 0;
        morePages = false;
        if (int rc = reader.readLine(raster.data(), len, endOfPage, morePages)) return rc;
        len = std::min(len, kMaxRasterBytes);
        ++progress_.linesConverted;
        progress_.bytesConverted = reader.bytesRead();
        if (status_ && status_(progress_)) return -ecConvertAbort;
        if (!place.halving || progress_.linesConverted % 2 == 1) {
          const bool blank = std::all_of(raster.data(), raster.data() + len, [](std::uint8_t b) { return b == 0; });
          if (!blank && (lastCoded == 0 || len != lastLen || std::memcmp(raster.data(), lastRaster.data(), len) != 0)) {
            ComposeFaxLine(raster.data(), len, place, s_.leftMargin, s_.width, line.data());
            lastCoded = MhEncodeLine(line.data(), s_.width, s_.width, false, coded.data());
            std::memcpy(lastRaster.data(), raster.data(), len);
            lastLen = len;
          }
          if (int rc = blank ? put(blankCoded.data(), blankLen) : put(coded.data(), lastCoded)) return rc;
        }
        const bool often = s_.options & coYieldOften;
        if (yield_ && (often || (s_.options & coYield)) && (often || ++sinceYield >= kYieldEvery)) {
          sinceYield = 0;
          if (yield_()) return -ecGotQuitMsg;
        }
      }
      if (output_) {
        std::uint8_t rtc[kRtcRecordLength + 4];
        const std::size_t n = MhEncodeRtc(rtc);
        output_(rtc, unsigned(n), true, morePages);
      } else if (int rc = writer.EndPage()) {
        return rc;
      }
    }
    return 0;
  };
  int rc = run();
  if (rc == 0) {
    progress_.ending = true;
    if (status_ && status_(progress_)) rc = -ecConvertAbort;
  }
  if (writer.IsOpen()) {
    const int closed = writer.Close();
    if (rc == 0) rc = closed;
  }
  return rc;
}

}  // namespace fe
