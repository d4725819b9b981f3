// Joining APF files: the first file is copied whole, every further file adds its
// pages (everything from its byte 64 on), and the header gets the summed page
// count. Pages need no fix-up: each page header gives the length of its own data.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "apf_reader.h"
#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {
int LastIoError() {
  return -IoErrorCode(errno ? errno : EIO);
}

int WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return LastIoError();
    if (w == 0) return -ecDeviceWriteError;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return 0;
}

int CopyFrom(int out, const std::string& path, off_t from) {
  int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return LastIoError();
  std::vector<std::uint8_t> buf(64 * 1024);
  int rc = 0;
  for (;;) {
    ssize_t r = ::pread(in, buf.data(), buf.size(), from);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      rc = LastIoError();
      break;
    }
    if (r == 0) break;
    if ((rc = WriteAll(out, buf.data(), static_cast<std::size_t>(r))) < 0) break;
    from += r;
  }
  ::close(in);
  return rc;
}
}  // namespace

int JoinApfFiles(const std::vector<std::string>& sources, const std::string& dest) {
  if (dest.empty()) return -ecFileNotFound;
  if (sources.empty()) return -ecBadArgument;
  TApfFileHeader header;
  unsigned total = 0;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    TApfReader reader;
    if (int rc = reader.Open(sources[i]); rc < 0) return rc;
    if (i == 0) header = reader.Header();
    total += reader.PageCount();
  }
  if (total > 0xFFFF) return -ecBadArgument;  // the page count field has 16 bits
  header.pageCount = static_cast<std::uint16_t>(total);

  // Written beside the destination and renamed over it, so that a destination that
  // is also a source is read before it is replaced, and a failure leaves it alone.
  std::string temp = dest + ".join~";
  int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return LastIoError();
  int rc = 0;
  for (std::size_t i = 0; i < sources.size() && rc == 0; ++i)
    rc = CopyFrom(out, sources[i], i == 0 ? 0 : static_cast<off_t>(kApfHeaderSize));
  if (rc == 0) {
    unsigned char raw[kApfHeaderSize];
    EncodeFileHeader(header, raw);
    ssize_t w = ::pwrite(out, raw, sizeof raw, 0);
    if (w < 0)
      rc = LastIoError();
    else if (w != static_cast<ssize_t>(sizeof raw))
      rc = -ecDeviceWriteError;
  }
  if (::close(out) < 0 && rc == 0) rc = LastIoError();
  if (rc == 0 && std::rename(temp.c_str(), dest.c_str()) != 0) rc = LastIoError();
  if (rc < 0) ::unlink(temp.c_str());
  return rc;
}

}  // namespace fe
