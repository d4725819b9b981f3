// PDF pages hold the fax raster as a one-bit image mask (Flate-compressed rows,
// 1 paints black) drawn over the whole page; the media box is the raster's size
// at its resolution. TIFF pages are written by libtiff with Group 4 coding, one
// directory per page, min-is-white, resolution in dots per inch.
#include "fe_fax_exports.h"

#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {
TIFF* AsTiff(void* p) {
  return static_cast<TIFF*>(p);
}
int Quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// Page sizes in points, cut (not rounded) at the sixth decimal so that a
// renderer working out the pixel size at the page's resolution never rounds up
// to one pixel more than the raster has.
double Points(unsigned pixels, unsigned dpi) {
  return std::floor(pixels * 72.0 / dpi * 1e6) / 1e6;
}
}  // namespace

FaxExportWriter::~FaxExportWriter() {
  Discard();
}

void FaxExportWriter::Discard() {
  if (tif_) TIFFClose(AsTiff(tif_));
  tif_ = nullptr;
  if (pdf_) std::fclose(pdf_);
  pdf_ = nullptr;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

std::uint64_t FaxExportWriter::Offset() const {
  return std::uint64_t(std::ftell(pdf_));
}

int FaxExportWriter::Create(unsigned pageCount) {
  if (path_.empty()) return -ecFileNotFound;
  if (pageCount == 0) return -ecBadArgument;
  pageCount_ = pageCount;
  temp_ = path_ + ".part";
  if (kind_ == Kind::Tiff) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, Quiet, nullptr);
    errno = 0;
    tif_ = TIFFOpenExt(temp_.c_str(), "w", opts);
    TIFFOpenOptionsFree(opts);
    if (!tif_) {
      const int err = errno;
      temp_.clear();
      return err ? -IoErrorCode(err) : -ecAccessDenied;
    }
    return 0;
  }
  pdf_ = std::fopen(temp_.c_str(), "wb");
  if (!pdf_) {
    const int err = errno;
    temp_.clear();
    return -IoErrorCode(err);
  }
  // Objects 1 (catalog) and 2 (page tree) are written last; pages follow from 3.
  objectOffsets_.assign(3, 0);
  std::fputs("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", pdf_);
  return 0;
}

int FaxExportWriter::AddPage(const FaxPageRaster& page) {
  if (failed_ || (!tif_ && !pdf_)) return -ecFileNotOpen;
  if (page.widthPixels == 0 || page.height == 0 || !page.rows || page.dpiX == 0 || page.dpiY == 0)
    return -ecBadArgument;
  ++pagesAdded_;
  if (kind_ == Kind::Pdf) return AddPdfPage(page);
  TIFF* tif = AsTiff(tif_);
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.widthPixels);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(page.dpiX));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(page.dpiY));
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_PAGENUMBER, pagesAdded_ - 1, pageCount_);
  const std::size_t stride = (page.widthPixels + 7) / 8;
  std::vector<std::uint8_t> row(stride);
  for (unsigned y = 0; y < page.height; ++y) {
    std::memcpy(row.data(), page.rows + y * stride, stride);
    if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) {
      failed_ = true;
      return -ecDeviceWriteError;
    }
  }
  if (!TIFFWriteDirectory(tif)) {
    failed_ = true;
    return -ecDeviceWriteError;
  }
  return 0;
}

int FaxExportWriter::AddPdfPage(const FaxPageRaster& page) {
  const std::size_t stride = (page.widthPixels + 7) / 8, raw = stride * page.height;
  uLongf packedSize = compressBound(uLong(raw));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, page.rows, uLong(raw), 6) != Z_OK) {
    failed_ = true;
    return -ecOutOfMemory;
  }
  const double w = Points(page.widthPixels, page.dpiX), h = Points(page.height, page.dpiY);
  const unsigned pageObj = unsigned(objectOffsets_.size()), contentObj = pageObj + 1, imageObj = pageObj + 2;
  char content[160];
  const int contentLen = std::snprintf(content, sizeof content, "q %.6f 0 0 %.6f 0 0 cm 0 g /Fax Do Q\n", w, h);
  objectOffsets_.push_back(Offset());
  std::fprintf(pdf_,
               "%u 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.6f %.6f] /Contents %u 0 R "
               "/Resources << /XObject << /Fax %u 0 R >> >> >>\nendobj\n",
               pageObj, w, h, contentObj, imageObj);
  objectOffsets_.push_back(Offset());
  std::fprintf(pdf_, "%u 0 obj\n<< /Length %d >>\nstream\n%s\nendstream\nendobj\n", contentObj, contentLen, content);
  objectOffsets_.push_back(Offset());
  std::fprintf(pdf_,
               "%u 0 obj\n<< /Type /XObject /Subtype /Image /Width %u /Height %u /ImageMask true "
               "/Decode [1 0] /BitsPerComponent 1 /Filter /FlateDecode /Length %lu >>\nstream\n",
               imageObj, page.widthPixels, page.height, static_cast<unsigned long>(packedSize));
  std::fwrite(packed.data(), 1, packedSize, pdf_);
  std::fputs("\nendstream\nendobj\n", pdf_);
  pageObjects_.push_back(pageObj);
  if (std::ferror(pdf_)) {
    failed_ = true;
    return -ecDeviceWriteError;
  }
  return 0;
}

int FaxExportWriter::ClosePdf() {
  objectOffsets_[2] = Offset();
  std::fprintf(pdf_, "2 0 obj\n<< /Type /Pages /Count %zu /Kids [", pageObjects_.size());
  for (unsigned n : pageObjects_) std::fprintf(pdf_, " %u 0 R", n);
  std::fputs(" ] >>\nendobj\n", pdf_);
  objectOffsets_[1] = Offset();
  std::fputs("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n", pdf_);
  const std::uint64_t xref = Offset();
  std::fprintf(pdf_, "xref\n0 %zu\n0000000000 65535 f \n", objectOffsets_.size());
  for (std::size_t i = 1; i < objectOffsets_.size(); ++i)
    std::fprintf(pdf_, "%010llu 00000 n \n", static_cast<unsigned long long>(objectOffsets_[i]));
  std::fprintf(pdf_, "trailer\n<< /Size %zu /Root 1 0 R >>\nstartxref\n%llu\n%%%%EOF\n", objectOffsets_.size(),
               static_cast<unsigned long long>(xref));
  const bool bad = std::ferror(pdf_) != 0;
  const int closed = std::fclose(pdf_);
  pdf_ = nullptr;
  return bad || closed != 0 ? -ecDeviceWriteError : 0;
}

int FaxExportWriter::Close() {
  int rc = failed_ || pagesAdded_ != pageCount_ ? -ecDeviceWriteError : 0;
  if (rc == 0 && kind_ == Kind::Pdf) rc = ClosePdf();
  if (rc == 0 && kind_ == Kind::Tiff) {
    TIFFClose(AsTiff(tif_));  // flushes; a write failure shows as a short file below
    tif_ = nullptr;
  }
  if (rc == 0 && std::rename(temp_.c_str(), path_.c_str()) != 0) rc = -IoErrorCode(errno);
  if (rc == 0) temp_.clear();
  Discard();
  return rc;
}

}  // namespace fe
