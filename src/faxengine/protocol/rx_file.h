// The file a fax is received into: an APF file whose pages are the raw image
// stream the modem delivers. The header is kept true after every finished page,
// so a call that ends half-way leaves a valid file with the pages that arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace fe {

class RxFaxFile {
 public:
  // Page header flags of a received page (never the length-word flag).
  static constexpr std::uint16_t kFine = 1;
  static constexpr std::uint16_t kWide = 2;

  RxFaxFile() = default;
  RxFaxFile(const RxFaxFile&) = delete;
  RxFaxFile& operator=(const RxFaxFile&) = delete;
  ~RxFaxFile();

  // Each operation returns 0 or the negative file error code (101 disk full,
  // 160 device write error, 5 access denied, 3 path not found ...). After an
  // error the file stays open so that Close can still finish what was written.
  // A file whose header cannot be written is removed again.
  int Create(const std::string& name, const std::string& remoteId, std::time_t now = std::time(nullptr));
  int BeginPage(std::uint16_t flags);
  int Append(const std::uint8_t* data, std::size_t n);
  // Finishes the open page: its length goes into the page header, the page count
  // and the date into the file header.
  int EndPage();
  // Drops the open page's data so that a retransmission overwrites it.
  int RestartPage();
  // Finishes an open page that holds data (an empty one is dropped), cuts off
  // anything left behind a restarted page, rewrites the header and closes.
  int Close();

  bool IsOpen() const { return fd_ >= 0; }
  bool PageOpen() const { return pageOpen_; }
  std::uint16_t Pages() const { return pages_; }
  std::uint32_t PageBytes() const { return pageLen_; }
  const std::string& Name() const { return name_; }

 private:
  int WriteAt(std::uint64_t pos, const void* data, std::size_t n);
  int WriteHeader();
  int WritePageHeader();

  int fd_ = -1;
  std::string name_;
  std::string remoteId_;
  std::time_t created_ = 0;
  std::uint16_t pages_ = 0;
  bool pageOpen_ = false;
  std::uint16_t pageFlags_ = 0;
  std::uint64_t pageStart_ = 0;
  std::uint32_t pageLen_ = 0;
};

// Maps an errno value of a failed file operation to the engine's file error code.
int FileErrorCode(int err);

}  // namespace fe
