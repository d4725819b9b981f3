#include "fe_converter_core.h"

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
  std::uint64_t pos = leftMargin + std::uint64_t(placement.offsetBytes) * 8 * scale;
  for (unsigned i = 0; i < len && pos < lineWidth; ++i, pos += 8 * scale) {
    if (raster[i] == 0) continue;
    if (scale == 1) {
      PutBits(out, lineBytes, unsigned(pos), raster[i], 8);
    } else {
      PutBits(out, lineBytes, unsigned(pos), kDoubled.t[raster[i]], 16);
    }
  }
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
  const std::uint16_t flags = std::uint16_t(pfLineRecords | (s_.highRes ? pfHighRes : 0) |
                                            (s_.width == kWideWidth ? pfWide : 0));
  std::vector<std::uint8_t> raster(kMaxRasterBytes), line(s_.width / 8), coded(kMaxCodedLine);
  unsigned sinceYield = 0;

  // Writes one composed fax line to the file or the callback.
  auto put = [&](const std::uint8_t* faxLine) -> int {
    if (!output_) return writer.AppendRasterLine(faxLine, s_.width);
    const std::size_t n = MhEncodeLine(faxLine, s_.width, s_.width, false, coded.data());
    output_(coded.data(), unsigned(n), false, false);
    return 0;
  };
  auto run = [&]() -> int {
    bool morePages = true;
    while (morePages) {
      ++progress_.pagesConverted;
      progress_.linesConverted = 0;
      const TImagePlacement place =
          PlaceImage(reader.imageWidth(), s_.width, s_.leftMargin, s_.options, s_.highRes);
      if (!output_)
        if (int rc = writer.BeginPage(flags)) return rc;
      std::memset(line.data(), 0, line.size());
      for (unsigned i = 0; i < s_.topMargin; ++i)
        if (int rc = put(line.data())) return rc;
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
          ComposeFaxLine(raster.data(), len, place, s_.leftMargin, s_.width, line.data());
          if (int rc = put(line.data())) return rc;
        }
        const bool often = s_.options & coYieldOften;
        if (yield_ && (often || (s_.options & coYield)) && (often || ++sinceYield >= kYieldEvery)) {
          sinceYield = 0;
          if (yield_()) return -ecGotQuitMsg;
        }
      }
      if (output_) {
        const std::size_t n = MhEncodeRtc(coded.data());
        output_(coded.data(), unsigned(n), true, morePages);
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
