// xb::Table: a data-aware handle on one DBF table with its structural CDX index.
//
// Conventions (the ones the program relies on):
//  - Operations returning int give 0 on success or a negated xb::ErrorCode;
//    lastError() then holds a one-line text naming the file or expression place.
//  - Record numbers count from 1. recNo() is recCount() + 1 when there is no
//    current record (end of file, empty table, nothing passes the filter).
//  - Order 0 is natural (record number) order; orders 1..n are the tags of the
//    structural CDX in creation order. A descending tag is read backwards.
//  - Navigation skips records that fail the filter, and records marked deleted
//    while xb::env().deleted (SET DELETED) is on.
//  - appendBlank() writes a blank record at once and makes it current. The set*
//    calls change the current record's buffer; post() writes it and updates every
//    tag. Moving to another record posts a pending edit first; cancel() drops it.
//  - Two handles on the same file in one process share the file and its index:
//    each sees the other's posted changes at its next read.
//  - Open modes: Exclusive refuses (xbInUse) when another program has the table
//    open, and keeps others out; Shared lets several programs work on it under
//    file locks; ReadOnly reads under the same locks and never writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xb_env.h"
#include "xb_errors.h"
#include "xb_expr.h"
#include "xb_text.h"
#include "xb_value.h"

namespace xb {

enum class OpenMode { Shared, Exclusive, ReadOnly };

struct TagInfo {
  std::string name;     // upper case
  std::string keyExpr;  // as written at creation
  std::string forExpr;  // empty when none
  bool descending = false;
  bool unique = false;
  int keyLength = 0;
};

struct TableShared;  // the per-file state shared by handles of one process

class Table {
 public:
  Table();
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // ---- creating and opening ------------------------------------------------
  // Creates a new, empty DBF (replacing an existing file). Field names are
  // upper-cased; types C, D, L, N; offsets are filled in here.
  static int create(const std::string& path, const std::vector<FieldDef>& fields, std::string* error = nullptr);

  // Opens the DBF and, when it exists, its structural CDX (same base name,
  // extension .CDX in any letter case). An index found inconsistent with the
  // table (after a crash, or written by a tool that did not update it) is
  // rebuilt on the spot. The filter set before is re-applied.
  int open(const std::string& path, OpenMode mode = OpenMode::Shared);
  void close();  // posts a pending edit
  bool isOpen() const;
  const std::string& path() const;
  std::string indexPath() const;  // path of the structural CDX (existing or to be created)
  OpenMode mode() const;

  // ---- structure -----------------------------------------------------------
  int fieldCount() const;
  const FieldDef& field(int index) const;  // 0-based
  const std::vector<FieldDef>& fields() const;
  int fieldIndex(std::string_view name) const;  // any case; -1 when absent
  int recordSize() const;                       // deletion byte included

  // ---- record values (current record; field by name or 0-based index) -----
  std::string getString(std::string_view field) const;      // the text, padded (UTF-8: see xb_text.h)
  std::string getTrimString(std::string_view field) const;  // trailing blanks removed
  std::string getDate(std::string_view field) const;        // "CCYYMMDD" or 8 blanks
  std::string getDateString(std::string_view field) const;  // "mm/dd/yyyy" (century) or "mm/dd/yy"; blank = ""
  bool getLogical(std::string_view field) const;
  double getNumber(std::string_view field) const;
  Value getValue(std::string_view field) const;
  std::string getString(int field) const;
  // Raw record bytes of the current record (deletion byte first).
  const std::vector<uint8_t>& recordBuffer() const;

  int setString(std::string_view field, std::string_view value);   // padded, or cut between characters
  int setDate(std::string_view field, std::string_view ccyymmdd);  // "" or blanks = blank date
  int setDate(std::string_view field, int32_t julian);             // 0 = blank
  int setLogical(std::string_view field, bool value);
  int setNumber(std::string_view field, double value);
  int setValue(std::string_view field, const Value& value);
  bool modified() const;  // an edit is pending

  int appendBlank();
  int post();
  void cancel();
  int deleteRecord();  // marks the current record (written at once)
  int recall();        // removes the mark
  bool isDeleted() const;

  // ---- navigation ----------------------------------------------------------
  int goTop();
  int goBottom();
  int skip(int count = 1);
  int go(uint32_t recno);  // also onto records hidden by filter or SET DELETED
  bool bof() const;
  bool eof() const;
  uint32_t recNo() const;
  uint32_t recCount() const;  // every record in the file, marked ones included
  uint32_t countVisible();    // records passing the filter (and SET DELETED)
  int refresh();              // re-reads the current record (drops a pending edit)

  // ---- orders and tags -----------------------------------------------------
  int tagCount() const;
  std::vector<TagInfo> tags() const;         // creation order: tags()[i] is order i + 1
  int tagArea(std::string_view name) const;  // order number, 0 when absent
  int order() const;
  int setOrder(int order);  // keeps the current record when it stays visible
  int setOrder(std::string_view tagName);
  // Creates a tag in the structural CDX (creating the file and setting the
  // table's index flag when needed) and makes it the current order.
  int createTag(std::string_view name, std::string_view keyExpr, std::string_view forExpr, bool descending,
                const ProgressFn& progress = {});
  int closeIndexes();                            // the CDX is closed (and may be deleted); order becomes 0
  int reindex(const ProgressFn& progress = {});  // rebuilds every tag from the table
  // Compares every tag with the table: page structure, key order, and exactly
  // the entries a fresh build would make. 0, or -xbBadIndex with the first
  // difference in lastError().
  int checkIndex();

  // Seek in the current order. key is a character key (padded with blanks to the
  // key length when shorter: a partial key finds its first match), or "T"/"F" for
  // a logical tag, or "CCYYMMDD" for a date tag. Returns 1 found, 0 not found
  // (positioned at end, or on the next key with soft seek), or a negated error.
  int seek(std::string_view key);
  // Limits the current order to keys between top and bottom (prefix compare).
  int setScope(std::string_view top, std::string_view bottom);
  void clearScope();

  // ---- filter and expressions ---------------------------------------------
  // A logical expression; "" removes the filter. Kept across close/open.
  int setFilter(std::string_view expression);
  const std::string& filter() const;
  int evalLogical(std::string_view expression, bool& result);
  int evaluate(std::string_view expression, Value& result);

  // ---- maintenance ---------------------------------------------------------
  // Physically removes the marked records and rebuilds the tags; reports
  // progress 0..100 through progress and env().gaugeHook. Needs Exclusive.
  int pack(const ProgressFn& progress = {});
  int commit();  // flushes table and index to disk (fdatasync)
  // Record locks for shared use: held until unlock() or close().
  int rlock();
  int unlock();

  // ---- for list views ------------------------------------------------------
  // Record numbers of every visible record in the current order (filter, scope
  // and SET DELETED applied), without moving the handle.
  std::vector<uint32_t> visibleRecNos();
  // Reads one record's bytes without moving the handle.
  int readRecord(uint32_t recno, std::vector<uint8_t>& out) const;
  // Grows whenever the table or its index changes (any handle, any process
  // noticed at the next operation); views compare it to know when to reload.
  uint64_t changeStamp() const;

  // ---- errors --------------------------------------------------------------
  const std::string& lastError() const;
  int lastCode() const;

  struct Impl;  // opaque: the handle's inner state

 private:
  std::unique_ptr<Impl> d_;
};

}  // namespace xb
