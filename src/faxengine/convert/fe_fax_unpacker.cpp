// Page pipeline: decoded lines -> whitespace compression -> aspect correction and
// scaling (one horizontal and one vertical factor) -> the output.
#include "fe_fax_unpacker.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

#include "apf_reader.h"
#include "fe_errors.h"
#include "fe_exceptions.h"
#include "fe_fax_converter.h"
#include "fe_fax_exports.h"
#include "fe_image_writers.h"
#include "mh_codec.h"

namespace fe {

namespace {
constexpr unsigned kMaxBitmapLines = 32767;
constexpr unsigned kMaxPcxLines = 65536;
constexpr unsigned kYieldEvery = 64;

// Resamples a line horizontally by num/den: each output pixel is the OR of the
// input pixels it covers, so thin strokes survive a reduction.
class HorizontalScaler {
 public:
  HorizontalScaler(unsigned inPixels, unsigned num, unsigned den) : in_(inPixels) {
    out_ = unsigned(std::uint64_t(inPixels) * num / den);
    if (num == den) return;
    lo_.resize(out_);
    hi_.resize(out_);
    for (unsigned x = 0; x < out_; ++x) {
      lo_[x] = unsigned(std::uint64_t(x) * den / num);
      hi_[x] = std::max(lo_[x] + 1, unsigned(std::uint64_t(x + 1) * den / num));
      hi_[x] = std::min(hi_[x], in_);
    }
  }
  unsigned OutPixels() const { return out_; }
  unsigned OutBytes() const { return (out_ + 7) / 8; }
  void Scale(const std::uint8_t* in, std::uint8_t* out) const {
    if (lo_.empty()) {
      std::memcpy(out, in, OutBytes());
      return;
    }
    std::memset(out, 0, OutBytes());
    for (unsigned x = 0; x < out_; ++x)
      for (unsigned s = lo_[x]; s < hi_[x]; ++s)
        if (in[s / 8] & (0x80 >> (s % 8))) {
          out[x / 8] |= std::uint8_t(0x80 >> (x % 8));
          break;
        }
  }

 private:
  unsigned in_, out_;
  std::vector<unsigned> lo_, hi_;
};

}  // namespace

std::string TFeFaxUnpacker::ExportName(const std::string& ext) const {
  if (OutFileName.empty()) return ForceExtension(InFileName, ext);
  const std::size_t slash = OutFileName.find_last_of('/');
  const std::size_t dot = OutFileName.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return hasExt ? OutFileName : OutFileName + "." + ext;
}

int TFeFaxUnpacker::CheckSettings() const {
  if (WhitespaceCompression && (WhitespaceFrom < WhitespaceTo || (WhitespaceFrom == 0 && WhitespaceTo != 0)))
    return -ecBadArgument;
  return 0;
}

int TFeFaxUnpacker::OpenInput(TApfReader& reader) {
  abortRequested_ = false;
  if (int rc = CheckSettings()) return rc;
  if (InFileName.empty()) return -ecFileNotFound;
  return reader.Open(InFileName);
}

int TFeFaxUnpacker::ProcessPage(TApfReader& reader, unsigned n, unsigned& widthPixels,
                                const std::function<int(unsigned)>& begin, const LineSink& sink) {
  TApfPageInfo info;
  std::vector<std::uint8_t> data;
  if (int rc = reader.ReadPage(n, &info, &data)) return rc;
  const bool standard = !info.highRes();
  std::uint64_t hNum = 1, hDen = 1, vNum = 1, vDen = 1;
  if (standard && AutoScaleMode == asDoubleHeight) vNum = 2;
  if (standard && AutoScaleMode == asHalfWidth) hDen = 2;
  if (Scaling) {
    hNum *= std::max(1u, HorizMult);
    hDen *= std::max(1u, HorizDiv);
    vNum *= std::max(1u, VertMult);
    vDen *= std::max(1u, VertDiv);
  }
  const unsigned inPixels = info.widthPixels();
  if (std::uint64_t(inPixels) * hNum / hDen == 0 || std::uint64_t(inPixels) * hNum / hDen > kMaxRasterPixels)
    return -ecBadArgument;
  const HorizontalScaler scaler(inPixels, unsigned(hNum), unsigned(hDen));
  widthPixels = scaler.OutPixels();
  if (int rc = begin(widthPixels)) return rc;

  const unsigned outBytes = scaler.OutBytes();
  std::vector<std::uint8_t> blank(inPixels / 8, 0), scaled(outBytes), pending(outBytes);
  bool havePending = false;
  std::uint64_t inputLine = 0;
  // Vertical factor: input line i yields floor((i+1)v) - floor(iv) output lines;
  // lines that yield none are merged into the next line that does.
  auto emitLine = [&](const std::uint8_t* line) -> int {
    scaler.Scale(line, scaled.data());
    const std::uint64_t count = (inputLine + 1) * vNum / vDen - inputLine * vNum / vDen;
    ++inputLine;
    if (havePending)
      for (unsigned i = 0; i < outBytes; ++i) scaled[i] |= pending[i];
    if (count == 0) {
      std::memcpy(pending.data(), scaled.data(), outBytes);
      havePending = true;
      return 0;
    }
    havePending = false;
    for (std::uint64_t k = 0; k < count; ++k)
      if (int rc = sink(scaled.data(), outBytes)) return rc;
    return 0;
  };
  unsigned blankRun = 0;
  auto flushBlank = [&]() -> int {
    const unsigned count = blankRun >= WhitespaceFrom ? WhitespaceTo : blankRun;
    blankRun = 0;
    for (unsigned i = 0; i < count; ++i)
      if (int rc = emitLine(blank.data())) return rc;
    return 0;
  };

  TMhPageDecoder decoder(data.data(), data.size(), info.lineRecords(), inPixels);
  std::vector<std::uint8_t> line(inPixels / 8);
  unsigned sinceYield = 0;
  lastStats_ = {};
  // The counts go out however the loop ends: a damaged page is told as such.
  struct KeepStats {
    TMhDecodeStats& to;
    const TMhPageDecoder& from;
    ~KeepStats() { to = from.Stats(); }
  } keep{lastStats_, decoder};
  while (decoder.NextLine(line.data())) {
    if (OnStatus) OnStatus(*this, InFileName, n, info.dataOffset + decoder.Consumed(), reader.FileSize());
    if ((Options & uoAbort) && abortRequested_) return -ecUnpackAbort;
    if ((Options & uoYield) && ++sinceYield >= kYieldEvery && QCoreApplication::instance()) {
      sinceYield = 0;
      QCoreApplication::processEvents();
    }
    if (WhitespaceCompression) {
      if (std::all_of(line.begin(), line.end(), [](std::uint8_t b) { return b == 0; })) {
        ++blankRun;
        continue;
      }
      if (int rc = flushBlank()) return rc;
    }
    if (int rc = emitLine(line.data())) return rc;
  }
  if (WhitespaceCompression)
    if (int rc = flushBlank()) return rc;
  return 0;
}

int TFeFaxUnpacker::DoNumPages(unsigned& pages) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  pages = reader.PageCount();
  return 0;
}

int TFeFaxUnpacker::DoPageFlags(std::uint16_t& flags) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  TApfPageInfo info;
  if (int rc = reader.LocatePage(1, &info)) return rc;
  flags = info.flags();
  return 0;
}

int TFeFaxUnpacker::DoUnpack(unsigned firstPage, unsigned lastPage) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  if (lastPage == 0) lastPage = reader.PageCount();
  for (unsigned n = firstPage; n <= lastPage; ++n) {
    unsigned width = 0;
    auto begin = [&](unsigned) {
      if (OnOutputLine) OnOutputLine(*this, true, false, nullptr, 0, n);
      return 0;
    };
    auto sink = [&](const std::uint8_t* line, unsigned bytes) {
      if (OnOutputLine) OnOutputLine(*this, false, false, line, bytes, n);
      return 0;
    };
    if (int rc = ProcessPage(reader, n, width, begin, sink)) return rc;
    if (OnOutputLine) OnOutputLine(*this, false, true, nullptr, 0, n);
  }
  return 0;
}

int TFeFaxUnpacker::CollectPage(TApfReader& reader, unsigned n, PageImage& image, unsigned maxLines) {
  image = {};
  unsigned width = 0;
  auto begin = [](unsigned) { return 0; };
  auto sink = [&](const std::uint8_t* line, unsigned bytes) {
    if (image.height >= maxLines) return -ecBadMaxHeight;
    image.rows.insert(image.rows.end(), line, line + bytes);
    ++image.height;
    return 0;
  };
  if (int rc = ProcessPage(reader, n, width, begin, sink)) return rc;
  image.widthPixels = width;
  image.damage = lastStats_;
  TApfPageInfo info;
  reader.LocatePage(n, &info);
  const bool standard = !info.highRes();
  image.dpiX = 204;
  image.dpiY = standard ? 98 : 196;
  if (standard && AutoScaleMode == asDoubleHeight) image.dpiY *= 2;
  if (standard && AutoScaleMode == asHalfWidth) image.dpiX /= 2;
  if (Scaling) {
    image.dpiX = image.dpiX * std::max(1u, HorizMult) / std::max(1u, HorizDiv);
    image.dpiY = image.dpiY * std::max(1u, VertMult) / std::max(1u, VertDiv);
  }
  if (image.height == 0) {  // a page with no lines is shown as one blank line
    image.height = 1;
    image.rows.assign((width + 7) / 8, 0);
  }
  return 0;
}

int TFeFaxUnpacker::DoUnpackToBitmap(unsigned page, std::unique_ptr<QImage>& image) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  PageImage img;
  if (int rc = CollectPage(reader, page, img, kMaxBitmapLines)) return rc;
  auto result = std::make_unique<QImage>(int(img.widthPixels), int(img.height), QImage::Format_Mono);
  if (result->isNull()) return -ecCantMakeBitmap;
  result->setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  const std::size_t stride = (img.widthPixels + 7) / 8;
  for (unsigned y = 0; y < img.height; ++y) std::memcpy(result->scanLine(int(y)), img.rows.data() + y * stride, stride);
  result->setDotsPerMeterX(int(img.dpiX * 10000 / 254));
  result->setDotsPerMeterY(int(img.dpiY * 10000 / 254));
  image = std::move(result);
  return 0;
}

int TFeFaxUnpacker::DoUnpackToPcx(unsigned page) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  PageImage img;
  if (int rc = CollectPage(reader, page, img, kMaxPcxLines)) return rc;
  return WritePcx(ExportName("PCX"), img.widthPixels, img.rows, img.height, img.dpiX, img.dpiY);
}

int TFeFaxUnpacker::DoUnpackToBmp(unsigned page) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  PageImage img;
  if (int rc = CollectPage(reader, page, img, kMaxBitmapLines)) return rc;
  return WriteBmp(ExportName("BMP"), img.widthPixels, img.rows, img.height, img.dpiX, img.dpiY);
}

int TFeFaxUnpacker::DoUnpackToDcx(unsigned firstPage, unsigned lastPage) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  if (lastPage == 0) lastPage = reader.PageCount();
  if (firstPage == 0 || firstPage > lastPage || lastPage > reader.PageCount()) return -ecFaxBadFormat;
  DcxWriter dcx;
  if (int rc = dcx.Create(ExportName("DCX"))) return rc;
  for (unsigned n = firstPage; n <= lastPage; ++n) {
    PageImage img;
    if (int rc = CollectPage(reader, n, img, kMaxPcxLines)) return rc;
    if (int rc = dcx.BeginPage(img.widthPixels, img.dpiX, img.dpiY)) return rc;
    const std::size_t stride = (img.widthPixels + 7) / 8;
    for (unsigned y = 0; y < img.height; ++y)
      if (int rc = dcx.AddLine(img.rows.data() + y * stride)) return rc;
    if (int rc = dcx.EndPage()) return rc;
  }
  return dcx.Close();
}

int TFeFaxUnpacker::DoExport(bool pdf) {
  TApfReader reader;
  if (int rc = OpenInput(reader)) return rc;
  const unsigned pages = reader.PageCount();
  FaxExportWriter out(pdf ? FaxExportWriter::Kind::Pdf : FaxExportWriter::Kind::Tiff, ExportName(pdf ? "PDF" : "TIF"));
  if (int rc = out.Create(pages)) return rc;
  for (unsigned n = 1; n <= pages; ++n) {
    PageImage img;
    if (int rc = CollectPage(reader, n, img, kMaxPcxLines)) return rc;
    if (int rc = out.AddPage({img.widthPixels, img.height, img.dpiX, img.dpiY, img.rows.data()})) return rc;
  }
  return out.Close();
}

unsigned TFeFaxUnpacker::NumPages() {
  unsigned pages = 0;
  CheckFe(DoNumPages(pages));
  return pages;
}

TFaxResolution TFeFaxUnpacker::PageResolution() {
  std::uint16_t flags = 0;
  CheckFe(DoPageFlags(flags));
  return (flags & pfHighRes) ? frHigh : frNormal;
}

TFaxWidth TFeFaxUnpacker::PageWidth() {
  std::uint16_t flags = 0;
  CheckFe(DoPageFlags(flags));
  return (flags & pfWide) ? fwWide : fwNormal;
}

void TFeFaxUnpacker::UnpackPage(unsigned page) {
  CheckFe(page == 0 ? -ecFaxBadFormat : DoUnpack(page, page));
}
void TFeFaxUnpacker::UnpackFile() {
  CheckFe(DoUnpack(1, 0));
}
std::unique_ptr<QImage> TFeFaxUnpacker::UnpackPageToBitmap(unsigned page) {
  std::unique_ptr<QImage> image;
  CheckFe(DoUnpackToBitmap(page, image));
  return image;
}
void TFeFaxUnpacker::UnpackPageToPcx(unsigned page) {
  CheckFe(DoUnpackToPcx(page));
}
void TFeFaxUnpacker::UnpackPageToBmp(unsigned page) {
  CheckFe(DoUnpackToBmp(page));
}
void TFeFaxUnpacker::UnpackFileToDcx() {
  CheckFe(DoUnpackToDcx());
}
void TFeFaxUnpacker::UnpackFileToPdf() {
  CheckFe(DoUnpackToPdf());
}
void TFeFaxUnpacker::UnpackFileToTiff() {
  CheckFe(DoUnpackToTiff());
}
void TFeFaxUnpacker::UnpackPageToDcx(unsigned page) {
  CheckFe(page == 0 ? -ecFaxBadFormat : DoUnpackToDcx(page, page));
}

}  // namespace fe
