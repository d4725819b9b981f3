#include "apf_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {
int LastIoError() {
  return -IoErrorCode(errno ? errno : EIO);
}
}  // namespace

TApfReader::~TApfReader() {
  Close();
}

void TApfReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  mem_ = nullptr;
  size_ = 0;
  header_ = TApfFileHeader{};
  headerReads_ = 0;
}

int TApfReader::Open(const std::string& path) {
  Close();
  if (path.empty()) return -ecFileNotFound;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return LastIoError();
  struct stat st {};
  if (::fstat(fd_, &st) < 0) {
    int rc = LastIoError();
    Close();
    return rc;
  }
  if (S_ISDIR(st.st_mode)) {
    Close();
    return -ecAccessDenied;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  return Start();
}

int TApfReader::OpenMemory(const std::uint8_t* data, std::size_t size) {
  Close();
  mem_ = data ? data : reinterpret_cast<const std::uint8_t*>("");
  size_ = data ? size : 0;
  return Start();
}

int TApfReader::Start() {
  unsigned char raw[kApfHeaderSize];
  std::size_t got = 0;
  int rc = ReadAt(0, raw, sizeof raw, &got);
  if (rc == 0 && (got < sizeof raw || !DecodeFileHeader(raw, &header_))) rc = -ecFaxBadFormat;
  if (rc < 0) Close();
  return rc;
}

int TApfReader::ReadAt(std::uint64_t offset, void* buf, std::size_t n, std::size_t* got) {
  *got = 0;
  if (offset >= size_) return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - offset));
  if (n == 0) return 0;
  if (mem_) {
    std::memcpy(buf, mem_ + offset, n);
    *got = n;
    return 0;
  }
  if (fd_ < 0) return -ecFileNotOpen;
  auto* p = static_cast<char*>(buf);
  while (*got < n) {
    ssize_t r = ::pread(fd_, p + *got, n - *got, static_cast<off_t>(offset + *got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return LastIoError();
    if (r == 0) break;  // the file shrank
    *got += static_cast<std::size_t>(r);
  }
  return 0;
}

int TApfReader::ReadPageHeaderAt(std::uint64_t offset, unsigned number, TApfPageInfo* page) {
  unsigned char raw[kApfPageHeaderSize];
  std::size_t got = 0;
  ++headerReads_;
  if (int rc = ReadAt(offset, raw, sizeof raw, &got); rc < 0) return rc;
  if (got < sizeof raw) return -ecReadBeyondEOF;
  page->number = number;
  page->offset = offset;
  page->header = DecodePageHeader(raw);
  page->dataOffset = offset + kApfPageHeaderSize;
  std::uint64_t inFile = size_ - page->dataOffset;
  page->available = std::min<std::uint64_t>(page->header.imageLength, inFile);
  page->truncated = page->available < page->header.imageLength;
  return 0;
}

int TApfReader::LocatePage(unsigned n, TApfPageInfo* page) {
  if (fd_ < 0 && !mem_) return -ecFileNotOpen;
  if (n == 0 || n > header_.pageCount) return -ecFaxBadFormat;
  std::uint64_t offset = header_.firstPageOffset;
  TApfPageInfo info;
  for (unsigned i = 1;; ++i) {
    if (int rc = ReadPageHeaderAt(offset, i, &info); rc < 0) return rc;
    if (i == n) break;
    offset = info.dataOffset + info.header.imageLength;
  }
  *page = info;
  return 0;
}

int TApfReader::ReadPageData(const TApfPageInfo& page, std::vector<std::uint8_t>* data) {
  data->resize(static_cast<std::size_t>(page.available));
  std::size_t got = 0;
  if (int rc = ReadAt(page.dataOffset, data->data(), data->size(), &got); rc < 0) return rc;
  data->resize(got);
  return 0;
}

long TApfReader::ReadPageBytes(const TApfPageInfo& page, std::uint64_t from, std::uint8_t* buf, std::size_t n) {
  if (from >= page.available) return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, page.available - from));
  std::size_t got = 0;
  if (int rc = ReadAt(page.dataOffset + from, buf, n, &got); rc < 0) return rc;
  return static_cast<long>(got);
}

int TApfReader::ReadPage(unsigned n, TApfPageInfo* page, std::vector<std::uint8_t>* data) {
  if (int rc = LocatePage(n, page); rc < 0) return rc;
  return ReadPageData(*page, data);
}

int TApfReader::ScanPages(std::vector<TApfPageInfo>* pages) {
  pages->clear();
  if (fd_ < 0 && !mem_) return -ecFileNotOpen;
  std::uint64_t offset = header_.firstPageOffset;
  for (unsigned i = 1; i <= header_.pageCount; ++i) {
    TApfPageInfo info;
    if (int rc = ReadPageHeaderAt(offset, i, &info); rc < 0) return rc;
    pages->push_back(info);
    offset = info.dataOffset + info.header.imageLength;
  }
  return 0;
}

int ValidateApfFile(const std::string& path) {
  TApfReader reader;
  return reader.Open(path);
}

}  // namespace fe
