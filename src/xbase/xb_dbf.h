// DbfFile: the DBF data file of one table, record I/O straight to the file.
//
// Layout as other xBase tools expect it: 32-byte header (version 0x03, date of
// last update, record count, header length, record length, byte 28 bit 0 =
// structural CDX present, byte 29 = kUtf8LanguageByte when the text is UTF-8),
// 32-byte field descriptors ended by 0x0D, records
// starting with the deletion mark, 0x1A after the last record.
// Bytes 16-19 of the header (reserved for other tools' multi-user use, ignored
// by them) hold our change stamp, which the CDX repeats when it is up to date.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xb_expr.h"
#include "xb_text.h"

namespace xb {

class DbfFile {
 public:
  DbfFile() = default;
  ~DbfFile();
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  // Writes a new empty table. Returns 0 or a negated error code.
  static int create(const std::string& path, const std::vector<FieldDef>& fields, std::string& error);
  // Parses a header held in memory (used by open and by the fuzz target):
  // fills fields, header and record lengths and the record count.
  static int parseHeader(const uint8_t* data, size_t size, uint64_t fileSize, std::vector<FieldDef>& fields,
                         uint32_t& headerLength, uint32_t& recordLength, uint32_t& recordCount, std::string& error);

  int open(const std::string& path, bool writable, std::string& error);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

  const std::vector<FieldDef>& fields() const { return fields_; }
  uint32_t recordCount() const { return count_; }
  uint32_t recordLength() const { return recLen_; }
  uint32_t headerLength() const { return headerLen_; }
  uint32_t stamp() const { return stamp_; }
  bool structuralFlag() const { return (flags_ & 1) != 0; }

  // Re-reads count, stamp and flags from the file; true when something changed.
  bool reloadHeader();
  int setStructuralFlag(bool on);
  // Byte 29 (language) says the character fields hold UTF-8 (xb_text.h).
  bool utf8() const { return hdr_[29] == kUtf8LanguageByte; }
  int markUtf8();

  int readRecord(uint32_t recno, uint8_t* out) const;  // recno from 1
  // Reads count consecutive records starting at recno into out.
  int readRecords(uint32_t recno, uint32_t count, uint8_t* out) const;
  // Changes a record in place: the stamp is bumped and the header written
  // before the record, so that an index left behind by a crash is noticed.
  int writeRecord(uint32_t recno, const uint8_t* data);
  // Appends a record: record and end marker first, then the header with the
  // new count and stamp.
  int appendRecord(const uint8_t* data, uint32_t& recno);
  int sync();

 private:
  int writeHeader();
  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
  std::vector<FieldDef> fields_;
  uint8_t version_ = 0x03;
  uint8_t flags_ = 0;
  uint32_t count_ = 0;
  uint32_t headerLen_ = 0;
  uint32_t recLen_ = 0;
  uint32_t stamp_ = 0;
  uint8_t hdr_[32] = {};
};

// Reads and writes of whole buffers that retry on EINTR and short counts.
int preadAll(int fd, void* buf, size_t n, uint64_t offset);
int pwriteAll(int fd, const void* buf, size_t n, uint64_t offset);

}  // namespace xb
