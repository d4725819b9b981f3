// DBF file reading and writing.
#include "xb_dbf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "xb_errors.h"
#include "xb_internal.h"

namespace xb {

namespace {


int errnoCode(int e) {
  switch (e) {
    case ENOENT:
      return -xbFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return -xbAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return -xbDiskFull;
    default:
      return -xbIoError;
  }
}

void stampDate(uint8_t* h) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  h[1] = static_cast<uint8_t>(tm.tm_year % 256);  // years since 1900
  h[2] = static_cast<uint8_t>(tm.tm_mon + 1);
  h[3] = static_cast<uint8_t>(tm.tm_mday);
}

}  // namespace

int preadAll(int fd, void* buf, size_t n, uint64_t offset) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    ssize_t r = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return errnoCode(errno);
    }
    if (r == 0) return -xbReadBeyondEOF;
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return 0;
}

int pwriteAll(int fd, const void* buf, size_t n, uint64_t offset) {
  auto* p = static_cast<const uint8_t*>(buf);
  while (n > 0) {
    ssize_t r = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return errnoCode(errno);
    }
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return 0;
}

DbfFile::~DbfFile() {
  close();
}

int DbfFile::create(const std::string& path, const std::vector<FieldDef>& fields, std::string& error) {
  if (fields.empty() || fields.size() > 255) {
    error = "a table needs 1 to 255 fields";
    return -xbBadArgument;
  }
  uint32_t recLen = 1;
  std::vector<uint8_t> h(32 + 32 * fields.size() + 1, 0);
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& f = fields[i];
    char t = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
    int width = t == 'D' ? 8 : t == 'L' ? 1 : f.width;
    bool okType = t == 'C' || t == 'D' || t == 'L' || t == 'N';
    if (!okType || f.name.empty() || f.name.size() > 10 || width < 1 || width > 254 ||
        (t == 'N' && (width > 20 || f.decimals < 0 || f.decimals >= width))) {
      error = "bad field definition '" + f.name + "'";
      return -xbBadArgument;
    }
    uint8_t* d = &h[32 + 32 * i];
    for (size_t k = 0; k < f.name.size(); ++k)
      d[k] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(f.name[k])));
    d[11] = static_cast<uint8_t>(t);
    d[16] = static_cast<uint8_t>(width);
    d[17] = static_cast<uint8_t>(t == 'N' ? f.decimals : 0);
    recLen += static_cast<uint32_t>(width);
  }
  h[32 + 32 * fields.size()] = 0x0D;
  h[0] = 0x03;
  h[29] = kUtf8LanguageByte;
  stampDate(h.data());
  putLe32(&h[4], 0);
  putLe16(&h[8], static_cast<uint32_t>(h.size()));
  putLe16(&h[10], recLen);
  if (recLen > 65535) {
    error = "record too long";
    return -xbBadArgument;
  }
  h.push_back(0x1A);
  std::string tmp = path + ".new";
  int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    int code = errnoCode(errno);
    error = "cannot create " + path + ": " + std::strerror(errno);
    return code;
  }
  int rc = pwriteAll(fd, h.data(), h.size(), 0);
  if (rc == 0 && ::fsync(fd) != 0) rc = errnoCode(errno);
  ::close(fd);
  if (rc == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) rc = errnoCode(errno);
  if (rc != 0) {
    ::unlink(tmp.c_str());
    error = "cannot write " + path;
  }
  return rc;
}

int DbfFile::parseHeader(const uint8_t* h, size_t size, uint64_t fileSize, std::vector<FieldDef>& fields,
                         uint32_t& headerLength, uint32_t& recordLength, uint32_t& recordCount, std::string& error) {
  fields.clear();
  if (size < 33) {
    error = "file too short for a DBF header";
    return -xbNotATable;
  }
  uint8_t version = h[0];
  if ((version & 0x07) != 0x03 && version != 0x30 && version != 0x31 && version != 0x32 && version != 0x02) {
    error = "unknown DBF version byte";
    return -xbNotATable;
  }
  headerLength = le16(h + 8);
  recordLength = le16(h + 10);
  recordCount = le32(h + 4);
  if (headerLength < 33 || recordLength < 2 || headerLength > size) {
    error = "bad header or record length";
    return -xbNotATable;
  }
  uint32_t offset = 1;
  for (uint32_t pos = 32; pos + 32 <= headerLength; pos += 32) {
    const uint8_t* d = h + pos;
    if (d[0] == 0x0D) break;
    FieldDef f;
    for (int k = 0; k < 11 && d[k]; ++k) f.name += static_cast<char>(std::toupper(d[k]));
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    f.type = static_cast<char>(std::toupper(d[11]));
    f.width = d[16];
    f.decimals = d[17];
    f.offset = static_cast<int>(offset);
    if (f.type == 'C' && d[17] != 0 && (version & 0x07) != 0x03) f.width |= d[17] << 8;  // long C fields
    if (f.type == 'C') f.decimals = 0;
    if (f.name.empty() || f.width < 1) {
      error = "bad field descriptor " + std::to_string(fields.size() + 1);
      return -xbNotATable;
    }
    offset += static_cast<uint32_t>(f.width);
    fields.push_back(std::move(f));
  }
  if (fields.empty() || offset > recordLength) {
    error = fields.empty() ? "no fields" : "fields wider than the record length";
    fields.clear();
    return -xbNotATable;
  }
  // Trust the file length over a record count that points past it.
  uint64_t fit = fileSize > headerLength ? (fileSize - headerLength) / recordLength : 0;
  if (recordCount > fit) recordCount = static_cast<uint32_t>(fit);
  return 0;
}

int DbfFile::open(const std::string& path, bool writable, std::string& error) {
  close();
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    int code = errnoCode(errno);
    error = "cannot open " + path + ": " + std::strerror(errno);
    return code;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path + " is not a regular file";
    return -xbNotATable;
  }
  size_t want = static_cast<size_t>(std::min<uint64_t>(st.st_size, 32 + 32 * 256 + 264));
  std::vector<uint8_t> h(want);
  int rc = want ? preadAll(fd, h.data(), want, 0) : -xbNotATable;
  if (rc == 0)
    rc =
        parseHeader(h.data(), h.size(), static_cast<uint64_t>(st.st_size), fields_, headerLen_, recLen_, count_, error);
  else
    error = path + ": cannot read the header";
  if (rc != 0) {
    ::close(fd);
    error = path + ": " + error;
    return rc;
  }
  fd_ = fd;
  writable_ = writable;
  path_ = path;
  version_ = h[0];
  std::memcpy(hdr_, h.data(), sizeof hdr_);
  flags_ = h[28];
  stamp_ = le32(&h[16]);
  return 0;
}

void DbfFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  fields_.clear();
  count_ = 0;
}

bool DbfFile::reloadHeader() {
  uint8_t h[32];
  if (preadAll(fd_, h, sizeof h, 0) != 0) return false;
  std::memcpy(hdr_, h, sizeof hdr_);
  uint32_t count = le32(h + 4), stamp = le32(h + 16);
  struct stat st {};
  if (::fstat(fd_, &st) == 0) {
    uint64_t fit = static_cast<uint64_t>(st.st_size) > headerLen_ ? (st.st_size - headerLen_) / recLen_ : 0;
    if (count > fit) count = static_cast<uint32_t>(fit);
  }
  bool changed = count != count_ || stamp != stamp_ || h[28] != flags_;
  count_ = count;
  stamp_ = stamp;
  flags_ = h[28];
  return changed;
}

int DbfFile::writeHeader() {
  uint8_t* h = hdr_;  // kept in step with the file by open and reloadHeader
  stampDate(h);
  putLe32(h + 4, count_);
  putLe32(h + 16, stamp_);
  h[28] = flags_;
  return pwriteAll(fd_, h, sizeof hdr_, 0);
}

int DbfFile::setStructuralFlag(bool on) {
  if (!writable_) return -xbReadOnly;
  flags_ = on ? (flags_ | 1) : (flags_ & ~1);
  return writeHeader();
}

int DbfFile::markUtf8() {
  if (!writable_) return -xbReadOnly;
  hdr_[29] = kUtf8LanguageByte;
  return writeHeader();
}

int DbfFile::readRecord(uint32_t recno, uint8_t* out) const {
  if (recno < 1 || recno > count_) return -xbNoRecord;
  return preadAll(fd_, out, recLen_, headerLen_ + static_cast<uint64_t>(recno - 1) * recLen_);
}

int DbfFile::readRecords(uint32_t recno, uint32_t count, uint8_t* out) const {
  if (recno < 1 || count == 0 || recno - 1 + static_cast<uint64_t>(count) > count_) return -xbNoRecord;
  return preadAll(fd_, out, static_cast<size_t>(count) * recLen_,
                  headerLen_ + static_cast<uint64_t>(recno - 1) * recLen_);
}

int DbfFile::writeRecord(uint32_t recno, const uint8_t* data) {
  if (!writable_) return -xbReadOnly;
  if (recno < 1 || recno > count_) return -xbNoRecord;
  ++stamp_;
  int rc = writeHeader();
  if (rc == 0) rc = pwriteAll(fd_, data, recLen_, headerLen_ + static_cast<uint64_t>(recno - 1) * recLen_);
  return rc;
}

int DbfFile::appendRecord(const uint8_t* data, uint32_t& recno) {
  if (!writable_) return -xbReadOnly;
  if (count_ == 0xFFFFFFFEu) return -xbDiskFull;
  std::vector<uint8_t> buf(data, data + recLen_);
  buf.push_back(0x1A);
  int rc = pwriteAll(fd_, buf.data(), buf.size(), headerLen_ + static_cast<uint64_t>(count_) * recLen_);
  if (rc != 0) return rc;
  ++count_;
  ++stamp_;
  rc = writeHeader();
  if (rc != 0) {
    --count_;
    return rc;
  }
  recno = count_;
  return 0;
}

int DbfFile::sync() {
  if (fd_ >= 0 && writable_ && ::fdatasync(fd_) != 0) return errnoCode(errno);
  return 0;
}

}  // namespace xb
