// Reads TIFF files with libtiff from memory. Each page is decoded whole into
// RGBA, which libtiff produces for every photometric interpretation, bit depth,
// fill order and tiling, then reduced to grey, scaled to the fax grid and handed
// out one bit deep line by line.
#include "fe_tiff_reader.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fe_errors.h"

namespace fe {

namespace {
constexpr int kBad = -ecBadGraphicsFormat;
constexpr unsigned kMaxPages = 4096;
constexpr double kDotsPerInch = 204.0;

TIFF* AsTiff(void* p) {
  return static_cast<TIFF*>(p);
}

tmsize_t MemRead(thandle_t h, void* buf, tmsize_t size) {
  auto* m = static_cast<TiffReader::Memory*>(h);
  if (size < 0 || m->pos >= m->bytes.size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(std::uint64_t(size), m->bytes.size() - m->pos);
  std::memcpy(buf, m->bytes.data() + m->pos, n);
  m->pos += n;
  return tmsize_t(n);
}
tmsize_t MemWrite(thandle_t, void*, tmsize_t) {
  return 0;
}
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<TiffReader::Memory*>(h);
  const std::uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->bytes.size() : 0;
  m->pos = base + off;
  return m->pos;
}
int MemClose(thandle_t) {
  return 0;
}
toff_t MemSize(thandle_t h) {
  return static_cast<TiffReader::Memory*>(h)->bytes.size();
}
int MemMap(thandle_t h, void** base, toff_t* size) {
  auto* m = static_cast<TiffReader::Memory*>(h);
  *base = const_cast<std::uint8_t*>(m->bytes.data());
  *size = m->bytes.size();
  return 1;
}
void MemUnmap(thandle_t, void*, toff_t) {}
int Quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// Dots per inch of the image in x and y; 0 when the file does not say.
void Resolution(TIFF* tif, double& dpiX, double& dpiY) {
  float x = 0, y = 0;
  std::uint16_t unit = RESUNIT_INCH;
  dpiX = dpiY = 0;
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) || !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y)) return;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : unit == RESUNIT_INCH ? 1.0 : 0.0;
  if (!(x > 0 && y > 0 && std::isfinite(x) && std::isfinite(y)) || perInch == 0) return;
  dpiX = x * perInch;
  dpiY = y * perInch;
}

// Area-averaging (shrinking) or pixel-repeating (enlarging) resample of one axis.
std::vector<std::uint8_t> ScaleRows(const std::vector<std::uint8_t>& in, unsigned w, unsigned h, unsigned outH) {
  std::vector<std::uint8_t> out(std::size_t(w) * outH);
  std::vector<unsigned> sum(w);
  for (unsigned oy = 0; oy < outH; ++oy) {
    unsigned from = unsigned(std::uint64_t(oy) * h / outH), to = unsigned(std::uint64_t(oy + 1) * h / outH);
    if (to <= from) to = from + 1;
    std::fill(sum.begin(), sum.end(), 0);
    for (unsigned y = from; y < to; ++y)
      for (unsigned x = 0; x < w; ++x) sum[x] += in[std::size_t(y) * w + x];
    for (unsigned x = 0; x < w; ++x) out[std::size_t(oy) * w + x] = std::uint8_t(sum[x] / (to - from));
  }
  return out;
}
std::vector<std::uint8_t> ScaleColumns(const std::vector<std::uint8_t>& in, unsigned w, unsigned h, unsigned outW) {
  std::vector<std::uint8_t> out(std::size_t(outW) * h);
  for (unsigned ox = 0; ox < outW; ++ox) {
    unsigned from = unsigned(std::uint64_t(ox) * w / outW), to = unsigned(std::uint64_t(ox + 1) * w / outW);
    if (to <= from) to = from + 1;
    for (unsigned y = 0; y < h; ++y) {
      unsigned s = 0;
      for (unsigned x = from; x < to; ++x) s += in[std::size_t(y) * w + x];
      out[std::size_t(y) * outW + ox] = std::uint8_t(s / (to - from));
    }
  }
  return out;
}
}  // namespace

void TiffReader::TiffCloser::operator()(void* tif) const {
  TIFFClose(AsTiff(tif));
}

TiffReader::TiffReader(std::span<const std::uint8_t> file, bool highRes, unsigned lineWidth)
    : mem_{ByteView(file), 0}, file_(file), highRes_(highRes), lineWidth_(lineWidth) {}

TiffReader::~TiffReader() = default;

std::uint64_t TiffReader::bytesRead() const {
  return pages_ ? file_.size() * page_ / pages_ : 0;
}

int TiffReader::open() {
  if (file_.size() < 8) return kBad;
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, Quiet, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(kMaxTiffPixels * 4 + 65536));
  // "m": no memory mapping of our own buffer is needed beyond MemMap; "h": header only.
  tif_.reset(
      TIFFClientOpenExt("input", "r", &mem_, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap, opts));
  TIFFOpenOptionsFree(opts);
  if (!tif_) return kBad;
  // Count the directories first (libtiff refuses loops in the chain).
  pages_ = 1;
  while (pages_ < kMaxPages && TIFFReadDirectory(AsTiff(tif_.get()))) ++pages_;
  if (!TIFFSetDirectory(AsTiff(tif_.get()), 0)) return kBad;
  page_ = 1;
  return readPage();
}

int TiffReader::readPage() {
  TIFF* tif = AsTiff(tif_.get());
  std::uint32_t w = 0, h = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h)) return kBad;
  if (w == 0 || h == 0 || w > kMaxRasterPixels || std::uint64_t(w) * h > kMaxTiffPixels) return kBad;
  char message[1024];
  if (!TIFFRGBAImageOK(tif, message)) return kBad;
  std::vector<std::uint32_t> rgba(std::size_t(w) * h);
  if (!TIFFReadRGBAImageOriented(tif, w, h, rgba.data(), ORIENTATION_TOPLEFT, 1)) return kBad;

  // Grey on white paper: transparent pixels are paper.
  std::vector<std::uint8_t> grey(rgba.size());
  for (std::size_t i = 0; i < rgba.size(); ++i) {
    const std::uint32_t p = rgba[i];
    const unsigned a = TIFFGetA(p);
    const unsigned lum = (TIFFGetR(p) * 77 + TIFFGetG(p) * 150 + TIFFGetB(p) * 29) >> 8;
    grey[i] = std::uint8_t((lum * a + 255 * (255 - a)) / 255);
  }
  rgba = {};

  // Scale to the fax grid when the image says how large its pixels are.
  unsigned outW = w, outH = h;
  double dpiX = 0, dpiY = 0;
  Resolution(tif, dpiX, dpiY);
  if (dpiX > 0) {
    double sx = kDotsPerInch / dpiX, sy = (highRes_ ? 196.0 : 98.0) / dpiY;
    if (w * sx > lineWidth_) {  // too wide for the fax line: shrink as a whole
      const double fit = lineWidth_ / (w * sx);
      sx *= fit;
      sy *= fit;
    }
    if (std::fabs(sx - 1) > 0.03) outW = std::max(1u, unsigned(std::lround(w * sx)));
    if (std::fabs(sy - 1) > 0.03) outH = std::max(1u, unsigned(std::lround(h * sy)));
    if (std::uint64_t(outW) * outH > kMaxTiffPixels || outW > kMaxRasterPixels) return kBad;
  }
  if (outH != h) grey = ScaleRows(grey, w, h, outH);
  if (outW != w) grey = ScaleColumns(grey, w, outH, outW);
  grey_ = std::move(grey);
  width_ = outW;
  height_ = outH;
  row_ = 0;
  return 0;
}

int TiffReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  if (row_ >= height_) return kBad;
  GreyRowToBits(grey_.data() + std::size_t(row_) * width_, width_, row_, buf);
  len = (width_ + 7) / 8;
  ++row_;
  endOfPage = row_ == height_;
  morePages = endOfPage && page_ < pages_;
  if (morePages) {
    if (!TIFFReadDirectory(AsTiff(tif_.get()))) return kBad;
    ++page_;
    return readPage();
  }
  return 0;
}

}  // namespace fe
