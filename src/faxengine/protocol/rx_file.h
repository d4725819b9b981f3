// The file a fax is received into: an APF file whose pages are the raw image
// stream the modem delivers (MH), or, for pages that came two-dimensionally
// coded (MR, MMR), the MH coding of their decoded lines. The header is kept true after every finished page,
// so a call that ends half-way leaves a valid file with the pages that arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "apf_writer.h"
#include "mr_codec.h"

namespace fe {

class RxFaxFile {
 public:
  // Page header flags of a received page (never the length-word flag).
  static constexpr std::uint16_t kFine = pfHighRes;
  static constexpr std::uint16_t kWide = pfWide;

  RxFaxFile() = default;
  RxFaxFile(const RxFaxFile&) = delete;
  RxFaxFile& operator=(const RxFaxFile&) = delete;
  ~RxFaxFile();

  // Each operation returns 0 or the negative file error code (101 disk full,
  // 160 device write error, 5 access denied ...). After an error the file stays
  // open so that Close can still keep what was written. A file whose header
  // cannot be written is removed again.
  int Create(const std::string& name, const std::string& remoteId, std::time_t now = std::time(nullptr));
  // Starts a page; a page still open (refused by the caller) is replaced.
  int BeginPage(std::uint16_t flags);
  int Append(const std::uint8_t* data, std::size_t n);
  // Decodes an MR or MMR page (up to its RTC or EOFB) and appends its lines coded
  // as MH, to the page width (2048 pixels for a wide page, else 1728). Bad lines
  // are stored as the decoder returns them (a copy of the last good line); what
  // the decoder met goes into *stats.
  int AppendDecoded(const std::uint8_t* data, std::size_t n, TFaxCoding coding, T2dDecodeStats* stats = nullptr);
  // Finishes the open page: its length goes into the page header, the page count
  // into the file header. A page without data is dropped instead.
  int EndPage();
  // Drops the open page's data so that a retransmission overwrites it.
  int RestartPage();
  // Finishes an open page that holds data (an empty page, or one that cannot be
  // finished, is dropped), rewrites the header and closes.
  int Close();

  bool IsOpen() const { return writer_.IsOpen(); }
  bool PageOpen() const { return writer_.PageOpen(); }
  std::uint16_t Pages() const { return static_cast<std::uint16_t>(writer_.PageCount()); }
  std::uint32_t PageBytes() const { return writer_.PageOpen() ? writer_.PageLength() : 0; }
  const std::string& Name() const { return name_; }

 private:
  TApfWriter writer_;
  std::string name_;
  std::uint16_t flags_ = 0;
};

}  // namespace fe
