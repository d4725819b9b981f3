#include "apf_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fe_errors.h"
#include "fe_texts.h"
#include "mh_codec.h"

namespace fe {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;

int LastIoError() {
  return -IoErrorCode(errno ? errno : EIO);
}
}  // namespace

TApfWriter::~TApfWriter() {
  if (fd_ >= 0) {
    Flush();
    ::close(fd_);
  }
}

void TApfWriter::SetFileTime(std::time_t when) {
  fixedTime_ = true;
  fileTime_ = when;
}

int TApfWriter::Create(const std::string& path) {
  if (fd_ >= 0) return -ecBadArgument;
  if (path.empty()) return -ecFileNotFound;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return LastIoError();
  header_.pageCount = 0;
  header_.firstPageOffset = kApfFirstPageOffset;
  header_.fileDate = fixedTime_ ? PackFileDate(fileTime_) : 0;
  pageOpen_ = false;
  end_ = 0;
  buffer_.clear();
  buffer_.reserve(kBufferSize);
  unsigned char raw[kApfHeaderSize];
  EncodeFileHeader(header_, raw);
  int rc = Write(raw, sizeof raw);
  if (rc == 0) rc = Flush();
  if (rc < 0) Abort();
  return rc;
}

int TApfWriter::Write(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + n > kBufferSize) {
    if (int rc = Flush(); rc < 0) return rc;
  }
  buffer_.insert(buffer_.end(), p, p + n);
  end_ += n;
  return 0;
}

int TApfWriter::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t w = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return LastIoError();
    if (w == 0) return -ecDeviceWriteError;
    done += static_cast<std::size_t>(w);
  }
  buffer_.clear();
  return 0;
}

int TApfWriter::WriteAt(std::uint64_t offset, const void* data, std::size_t n) {
  ssize_t w;
  do {
    w = ::pwrite(fd_, data, n, static_cast<off_t>(offset));
  } while (w < 0 && errno == EINTR);
  if (w < 0) return LastIoError();
  return static_cast<std::size_t>(w) == n ? 0 : -ecDeviceWriteError;  // a short header write
}

int TApfWriter::RewriteHeader() {
  unsigned char raw[kApfHeaderSize];
  EncodeFileHeader(header_, raw);
  return WriteAt(0, raw, sizeof raw);
}

void TApfWriter::Abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  pageOpen_ = false;
}

int TApfWriter::BeginPage(std::uint16_t flags) {
  if (fd_ < 0) return -ecFileNotOpen;
  if (pageOpen_ || header_.pageCount == 0xFFFF) return -ecBadArgument;
  page_ = TApfPageHeader{0, static_cast<std::uint16_t>(flags & pfKnownFlags)};
  pageStart_ = end_;
  rasterInRawPage_ = false;
  unsigned char raw[kApfPageHeaderSize];
  EncodePageHeader(page_, raw);
  if (int rc = Write(raw, sizeof raw); rc < 0) return rc;
  pageOpen_ = true;
  return 0;
}

int TApfWriter::AppendData(const std::uint8_t* data, std::size_t n) {
  if (n > 0xFFFFFFFFu - page_.imageLength) return -ecBadArgument;
  if (int rc = Write(data, n); rc < 0) return rc;
  page_.imageLength += static_cast<std::uint32_t>(n);
  return 0;
}

int TApfWriter::AppendLineRecord(const std::uint8_t* coded, std::size_t n) {
  if (fd_ < 0) return -ecFileNotOpen;
  if (!pageOpen_ || !(page_.flags & pfLineRecords) || n > 0xFFFF || (n && !coded)) return -ecBadArgument;
  if (n + 2 > 0xFFFFFFFFu - page_.imageLength) return -ecBadArgument;
  std::uint8_t word[2] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)};
  if (int rc = AppendData(word, 2); rc < 0) return rc;
  return AppendData(coded, n);
}

int TApfWriter::AppendRasterLine(const std::uint8_t* raster, unsigned pixels, bool doubling) {
  if (fd_ < 0) return -ecFileNotOpen;
  if (!pageOpen_ || (pixels && !raster)) return -ecBadArgument;
  line_.resize(kMaxCodedLine);
  std::size_t n = MhEncodeLine(raster, pixels, PageWidthPixels(page_.flags), doubling, line_.data());
  if (page_.flags & pfLineRecords) return AppendLineRecord(line_.data(), n);
  rasterInRawPage_ = true;
  return AppendData(line_.data(), n);
}

int TApfWriter::AppendRaw(const std::uint8_t* data, std::size_t n) {
  if (fd_ < 0) return -ecFileNotOpen;
  if (!pageOpen_ || (n && !data)) return -ecBadArgument;
  return AppendData(data, n);
}

int TApfWriter::EndPage() {
  if (fd_ < 0) return -ecFileNotOpen;
  if (!pageOpen_) return -ecBadArgument;
  std::uint8_t rtc[kRtcRecordLength];
  std::size_t n = MhEncodeRtc(rtc);
  int rc = 0;
  if (page_.flags & pfLineRecords)
    rc = AppendLineRecord(rtc, n);
  else if (rasterInRawPage_)  // lines this writer coded need their return to control too
    rc = AppendData(rtc, n);
  if (rc == 0) rc = Flush();
  if (rc < 0) return rc;
  unsigned char raw[kApfPageHeaderSize];
  EncodePageHeader(page_, raw);
  if ((rc = WriteAt(pageStart_, raw, sizeof raw)) < 0) return rc;
  pageOpen_ = false;
  ++header_.pageCount;
  return RewriteHeader();
}

int TApfWriter::AbandonPage() {
  if (fd_ < 0) return -ecFileNotOpen;
  if (!pageOpen_) return -ecBadArgument;
  if (int rc = Flush(); rc < 0) return rc;
  if (::ftruncate(fd_, static_cast<off_t>(pageStart_)) < 0 ||
      ::lseek(fd_, static_cast<off_t>(pageStart_), SEEK_SET) < 0)
    return LastIoError();
  end_ = pageStart_;
  pageOpen_ = false;
  return 0;
}

int TApfWriter::Close() {
  if (fd_ < 0) return -ecFileNotOpen;
  int rc = pageOpen_ ? EndPage() : 0;
  if (rc == 0) rc = Flush();
  if (rc == 0) {
    header_.fileDate = PackFileDate(fixedTime_ ? fileTime_ : std::time(nullptr));
    rc = RewriteHeader();
  }
  if (::close(fd_) < 0 && rc == 0) rc = LastIoError();
  fd_ = -1;
  buffer_.clear();
  return rc;
}

}  // namespace fe
