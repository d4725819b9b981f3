// Reads APF fax files: header, page count, pages located by walking the page
// headers, and each page's image data. Works on a file or on a memory buffer.
// Every operation returns 0 or a negative error code (fe_errors.h): -8001 for a
// wrong signature or a page number out of range, -100 when a page header lies
// beyond the end of the file, I/O errors by their file error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "apf_format.h"

namespace fe {

struct TApfPageInfo {
  unsigned number = 0;       // 1-based
  std::uint64_t offset = 0;  // of the page header
  TApfPageHeader header;
  std::uint64_t dataOffset = 0;
  std::uint64_t available = 0;  // bytes of image data actually in the file
  bool truncated = false;       // the image length runs past the end of the file

  std::uint16_t flags() const { return header.flags; }
  bool highRes() const { return header.flags & pfHighRes; }
  bool wide() const { return header.flags & pfWide; }
  bool lineRecords() const { return header.flags & pfLineRecords; }
  unsigned widthPixels() const { return PageWidthPixels(header.flags); }
};

class TApfReader {
 public:
  TApfReader() = default;
  TApfReader(const TApfReader&) = delete;
  TApfReader& operator=(const TApfReader&) = delete;
  ~TApfReader();

  // Opens read-only and validates the signature; reads the header.
  int Open(const std::string& path);
  // The same over bytes in memory, which must outlive the reader.
  int OpenMemory(const std::uint8_t* data, std::size_t size);
  void Close();

  const TApfFileHeader& Header() const { return header_; }
  unsigned PageCount() const { return header_.pageCount; }
  std::uint64_t FileSize() const { return size_; }

  // Finds page n (1..PageCount) by reading n page headers from the first page.
  int LocatePage(unsigned n, TApfPageInfo* page);
  // Reads the image data of a located page (only what the file holds).
  int ReadPageData(const TApfPageInfo& page, std::vector<std::uint8_t>* data);
  // Reads `n` bytes of a page's data from `from` on (for sending in pieces);
  // returns the count read (0 at the end) or a negative code.
  long ReadPageBytes(const TApfPageInfo& page, std::uint64_t from, std::uint8_t* buf, std::size_t n);
  int ReadPage(unsigned n, TApfPageInfo* page, std::vector<std::uint8_t>* data);
  // Walks every page header once; stops with -100 at a header past the end.
  int ScanPages(std::vector<TApfPageInfo>* pages);

  // Page headers read since Open (locating page k adds exactly k).
  unsigned PageHeaderReads() const { return headerReads_; }

 private:
  int ReadAt(std::uint64_t offset, void* buf, std::size_t n, std::size_t* got);
  int ReadPageHeaderAt(std::uint64_t offset, unsigned number, TApfPageInfo* page);
  int Start();

  int fd_ = -1;
  const std::uint8_t* mem_ = nullptr;
  std::uint64_t size_ = 0;
  TApfFileHeader header_;
  unsigned headerReads_ = 0;
};

// Opens a file read-only and checks its signature: 0, -8001 or an I/O error.
int ValidateApfFile(const std::string& path);

// Joins several APF files into `dest`: the first copied whole, the others'
// pages appended after a signature check, the page counts summed.
int JoinApfFiles(const std::vector<std::string>& sources, const std::string& dest);

}  // namespace fe
