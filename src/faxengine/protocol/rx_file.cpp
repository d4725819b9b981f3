#include "rx_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fe_errors.h"

namespace fe {

namespace {

constexpr char kSignature[6] = {'A', 'P', 'F', '1', '0', 0x1A};
constexpr std::size_t kFileHeaderSize = 64;
constexpr std::size_t kPageHeaderSize = 16;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// File date/time: low word time (seconds/2, minutes, hours), high word date (day,
// month, years since 1980); 0 outside 1980-2099.
std::uint32_t PackedDateTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  const std::uint32_t time = (tm.tm_sec / 2) | (tm.tm_min << 5) | (tm.tm_hour << 11);
  const std::uint32_t date = tm.tm_mday | ((tm.tm_mon + 1) << 5) | ((year - 1980) << 9);
  return time | (date << 16);
}

}  // namespace

int FileErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ecPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ecAccessDenied;
    case EMFILE:
    case ENFILE:
      return ecTooManyOpenFiles;
    case ENOMEM:
      return ecOutOfMemory;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return ecDiskFull;
    default:
      return ecDeviceWriteError;
  }
}

RxFaxFile::~RxFaxFile() {
  if (fd_ >= 0) Close();
}

int RxFaxFile::WriteAt(std::uint64_t pos, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(pos));
    if (w < 0) {
      if (errno == EINTR) continue;
      return -FileErrorCode(errno);
    }
    if (w == 0) return -ecDeviceWriteError;
    p += w;
    pos += static_cast<std::uint64_t>(w);
    n -= static_cast<std::size_t>(w);
  }
  return 0;
}

int RxFaxFile::WriteHeader() {
  std::uint8_t h[kFileHeaderSize] = {};
  std::memcpy(h, kSignature, sizeof kSignature);
  Put32(h + 6, PackedDateTime(created_));
  if (!remoteId_.empty()) {
    std::string id = remoteId_.substr(0, 20);
    id.resize(20, ' ');
    h[10] = 20;
    std::memcpy(h + 11, id.data(), 20);
  }
  Put16(h + 32, pages_);
  Put32(h + 34, kFileHeaderSize);
  return WriteAt(0, h, sizeof h);
}

int RxFaxFile::WritePageHeader() {
  std::uint8_t h[kPageHeaderSize] = {};
  Put32(h, pageLen_);
  Put16(h + 4, pageFlags_);
  return WriteAt(pageStart_, h, sizeof h);
}

int RxFaxFile::Create(const std::string& name, const std::string& remoteId, std::time_t now) {
  if (fd_ >= 0) Close();
  if (name.empty()) return -ecFileNotFound;
  fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return -FileErrorCode(errno);
  name_ = name;
  remoteId_ = remoteId;
  created_ = now;
  pages_ = 0;
  pageOpen_ = false;
  pageStart_ = kFileHeaderSize;
  const int rc = WriteHeader();
  if (rc != 0) {
    // Not even the header fitted: leave no file that is not a fax file.
    struct stat st {};
    const bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd_);
    fd_ = -1;
    if (regular) ::unlink(name_.c_str());
  }
  return rc;
}

int RxFaxFile::BeginPage(std::uint16_t flags) {
  if (fd_ < 0) return -ecFileNotOpen;
  // A page that was begun and never finished is replaced.
  pageFlags_ = flags & (kFine | kWide);
  pageLen_ = 0;
  pageOpen_ = true;
  return WritePageHeader();
}

int RxFaxFile::Append(const std::uint8_t* data, std::size_t n) {
  if (fd_ < 0 || !pageOpen_) return -ecFileNotOpenForOutput;
  if (n == 0) return 0;
  if (n > UINT32_MAX - pageLen_) return -ecDiskFull;
  const int rc = WriteAt(pageStart_ + kPageHeaderSize + pageLen_, data, n);
  if (rc == 0) pageLen_ += static_cast<std::uint32_t>(n);
  return rc;
}

int RxFaxFile::EndPage() {
  if (fd_ < 0 || !pageOpen_) return -ecFileNotOpenForOutput;
  pageOpen_ = false;
  ++pages_;
  int rc = WritePageHeader();
  const std::uint64_t next = pageStart_ + kPageHeaderSize + pageLen_;
  if (rc == 0) rc = WriteHeader();
  if (rc != 0) {
    // The page could not be recorded: leave the file as it was before it.
    --pages_;
    return rc;
  }
  pageStart_ = next;
  pageLen_ = 0;
  return 0;
}

int RxFaxFile::RestartPage() {
  if (fd_ < 0 || !pageOpen_) return -ecFileNotOpenForOutput;
  pageLen_ = 0;
  return WritePageHeader();
}

int RxFaxFile::Close() {
  if (fd_ < 0) return 0;
  int rc = 0;
  if (pageOpen_ && pageLen_ > 0) rc = EndPage();
  pageOpen_ = false;
  created_ = std::time(nullptr);
  // Nothing may follow the last finished page: a restarted page, a dropped empty
  // page or a page that failed to finish would otherwise leave bytes behind.
  if (::ftruncate(fd_, static_cast<off_t>(pageStart_)) != 0 && rc == 0) rc = -FileErrorCode(errno);
  const int hrc = WriteHeader();
  if (rc == 0) rc = hrc;
  if (::close(fd_) != 0 && rc == 0) rc = -FileErrorCode(errno);
  fd_ = -1;
  return rc;
}

}  // namespace fe
