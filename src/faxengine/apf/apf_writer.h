// Writes APF fax files: the converter adds pages of line records, the receive
// engine adds raw-stream pages as the modem delivers them.
//
//   TApfWriter w;
//   w.Create(path);                 // or fail with a negative code
//   w.BeginPage(pfHighRes | pfLineRecords);
//   w.AppendRasterLine(line, 1728); // or AppendLineRecord / AppendRaw
//   w.EndPage();
//   w.Close();                      // station id, date/time, header rewritten
//
// Every operation returns 0 or a negative error code (fe_errors.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "apf_format.h"

namespace fe {

class TApfWriter {
 public:
  TApfWriter() = default;
  TApfWriter(const TApfWriter&) = delete;
  TApfWriter& operator=(const TApfWriter&) = delete;
  ~TApfWriter();  // an open file is closed without rewriting its header

  // Creates (truncates) the file and writes a zeroed header with the signature and
  // the first page offset.
  int Create(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }

  // Stored in the header by EndPage and Close; padded with spaces to 20 characters.
  void SetStationId(const std::string& id) { header_.stationId = PadStationId(id); }
  // Fixes the date/time written by Close (otherwise the current time is used).
  void SetFileTime(std::time_t when);

  // Starts a page: the page header is written with image length 0 and the flags.
  int BeginPage(std::uint16_t flags);
  // Appends one coded line as a record: 16-bit length n, then the n bytes.
  int AppendLineRecord(const std::uint8_t* coded, std::size_t n);
  // Encodes one raster line (MSB = leftmost pixel, 1 = black) of `pixels` pixels to
  // the page width and appends it as a record; `doubling` doubles every run (input
  // of half width).
  int AppendRasterLine(const std::uint8_t* raster, unsigned pixels, bool doubling = false);
  // Appends bytes of a raw-stream page unchanged.
  int AppendRaw(const std::uint8_t* data, std::size_t n);
  // Ends the page: a line-record page first gets its return-to-control record; the
  // page header gets the final image length and the file header the page count.
  int EndPage();
  // Drops the page being written (e.g. a page the receiver will get again).
  int AbandonPage();
  // Ends an open page, fills in the date/time, rewrites the header and closes.
  int Close();

  bool PageOpen() const { return pageOpen_; }
  unsigned PageCount() const { return header_.pageCount; }
  std::uint32_t PageLength() const { return page_.imageLength; }  // of the open page
  std::uint16_t PageFlags() const { return page_.flags; }

 private:
  int Write(const void* data, std::size_t n);
  int AppendData(const std::uint8_t* data, std::size_t n);
  int Flush();
  int WriteAt(std::uint64_t offset, const void* data, std::size_t n);
  int RewriteHeader();
  void Abort();

  int fd_ = -1;
  TApfFileHeader header_;
  TApfPageHeader page_;
  bool pageOpen_ = false;
  bool fixedTime_ = false;
  bool rasterInRawPage_ = false;
  std::time_t fileTime_ = 0;
  std::uint64_t pageStart_ = 0;  // file offset of the open page's header
  std::uint64_t end_ = 0;        // logical end of the file (buffer included)
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> line_;
};

}  // namespace fe
