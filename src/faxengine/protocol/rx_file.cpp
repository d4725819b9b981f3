#include "rx_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include "fe_errors.h"

namespace fe {

RxFaxFile::~RxFaxFile() {
  if (IsOpen()) Close();
}

int RxFaxFile::Create(const std::string& name, const std::string& remoteId, std::time_t now) {
  if (IsOpen()) Close();
  writer_.SetStationId(remoteId);
  writer_.SetFileTime(now);
  name_ = name;
  const int rc = writer_.Create(name);
  if (rc < 0 && !name.empty()) {
    // Not even the header fitted: leave no file that is not a fax file.
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size < 64) ::unlink(name.c_str());
  }
  return rc;
}

int RxFaxFile::BeginPage(std::uint16_t flags) {
  if (!IsOpen()) return -ecFileNotOpen;
  if (PageOpen()) {
    if (const int rc = writer_.AbandonPage(); rc < 0) return rc;
  }
  flags_ = flags & (kFine | kWide);
  return writer_.BeginPage(flags_);
}

int RxFaxFile::Append(const std::uint8_t* data, std::size_t n) {
  if (!IsOpen() || !PageOpen()) return -ecFileNotOpenForOutput;
  return writer_.AppendRaw(data, n);
}

int RxFaxFile::AppendDecoded(const std::uint8_t* data, std::size_t n, TFaxCoding coding, T2dDecodeStats* stats) {
  if (!IsOpen() || !PageOpen()) return -ecFileNotOpenForOutput;
  const unsigned width = (flags_ & kWide) ? 2048u : 1728u;
  int rc = 0;
  const T2dDecodeStats st = DecodePage2d(data, n, coding, width, [&](const std::uint8_t* line, unsigned bytes, bool) {
    rc = writer_.AppendRasterLine(line, bytes * 8);
    return rc == 0;
  });
  if (stats) *stats = st;
  return rc;
}

int RxFaxFile::EndPage() {
  if (!IsOpen() || !PageOpen()) return -ecFileNotOpenForOutput;
  // A page without data (the carrier came, the image did not) is no page.
  if (writer_.PageLength() == 0) return writer_.AbandonPage();
  return writer_.EndPage();
}

int RxFaxFile::RestartPage() {
  if (!IsOpen() || !PageOpen()) return -ecFileNotOpenForOutput;
  if (const int rc = writer_.AbandonPage(); rc < 0) return rc;
  return writer_.BeginPage(flags_);
}

int RxFaxFile::Close() {
  if (!IsOpen()) return 0;
  int rc = 0;
  if (PageOpen()) {
    if (writer_.PageLength() > 0) rc = writer_.EndPage();
    // An empty page, or one the disk had no room for, is cut off: the header
    // then still describes exactly the pages before it.
    if (PageOpen()) {
      const int arc = writer_.AbandonPage();
      if (rc == 0) rc = arc;
    }
  }
  const int crc = writer_.Close();
  return rc < 0 ? rc : crc;
}

}  // namespace fe
