// Inner state of xb::Table: the per-file state shared by the handles of one
// process (TableShared) and the per-handle navigation state (Table::Impl).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "xb_cdx.h"
#include "xb_dbf.h"
#include "xb_internal.h"
#include "xb_table.h"

namespace xb {

struct TagRuntime {
  Expr key;
  Expr forCond;  // !valid() when the tag has no FOR condition
  Type keyType = Type::Char;
  bool forIsNotDeleted = false;  // the FOR condition is exactly ".not. deleted()"
};

struct TableShared {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  OpenMode mode = OpenMode::Shared;
  pid_t owner = 0;  // a forked child must not reuse its parent's descriptors and locks
  DbfFile dbf;
  CdxFile cdx;
  std::vector<TagRuntime> tagRt;  // parallel to cdx.tags()
  uint64_t changeStamp = 1;       // grows with every change seen or made
  int lockDepth = 0;
  bool indexStale = false;  // read-only handle on an out-of-date index: orders unusable
  // Index pages changed in memory but not yet written. Exclusive tables write
  // them back at close, commit and when the cache grows; the stamp on disk
  // stays behind meanwhile, so a crash is still noticed at the next open.
  bool cdxDirty = false;
  int pendingInserts = 0;  // appended records whose keys wait for their post

  bool exclusive() const { return mode == OpenMode::Exclusive; }
  bool hasIndex() const { return cdx.isOpen(); }
  size_t tagCount() const { return cdx.isOpen() ? cdx.tags().size() : 0; }

  // Locking for shared use across processes (no-ops when exclusive).
  void lockOp();
  void unlockOp();
  // Under the lock: notices changes made by other processes and repairs an
  // index that disagrees with the table.
  void syncWithFile();

  void compileTags();  // fills tagRt from the CDX tag headers (throws)
  void makeKey(size_t tag, const uint8_t* record, uint8_t* key) const;
  bool inTag(size_t tag, const uint8_t* record) const;
  bool indexUpToDate() const;
  void rebuildIndex(const ProgressFn& progress);               // every tag, from the table (throws)
  void addTag(const CdxTag& def, const ProgressFn& progress);  // throws
  void markIndexDirty();                                       // before a change of several index pages
  void flushIndex();  // writes changed pages, then the stamp when the index matches the table
  void updateRecord(uint32_t recno, const uint8_t* oldRec, const uint8_t* newRec);  // index upkeep
  void removeKeys(uint32_t recno, const uint8_t* rec);  // takes the record's keys out of every tag
  void sync();
};

// RAII guard for one public operation in shared mode.
class OpLock {
 public:
  explicit OpLock(TableShared* s) : s_(s) {
    if (s_) {
      s_->lockOp();
      s_->syncWithFile();
    }
  }
  ~OpLock() {
    if (s_) s_->unlockOp();
  }
  OpLock(const OpLock&) = delete;
  OpLock& operator=(const OpLock&) = delete;

 private:
  TableShared* s_;
};

std::shared_ptr<TableShared> acquireShared(const std::string& path, OpenMode mode);  // throws
std::string findIndexPath(const std::string& dbfPath);  // existing CDX in any letter case, or the name to create
void reRegister(TableShared& s);                        // after the DBF was replaced by a new file
bool relockOpen(TableShared& s);                        // takes the open lock again on a new descriptor
bool tryExclusive(TableShared& s);                      // upgrades a shared opening when no other program has the table

struct Table::Impl {
  std::shared_ptr<TableShared> sh;
  std::string path;
  OpenMode mode = OpenMode::Shared;

  int order = 0;
  std::string filterText;
  Expr filter;
  bool scoped = false;
  std::string scopeTop, scopeBottom;

  uint32_t recno = 0;  // 0: no current record
  bool bof = true, eof = true;
  mutable std::vector<uint8_t> buf;
  std::vector<uint8_t> orig;
  bool modified = false;
  bool pendingInsert = false;  // the current record was appended and is not in the tags yet
  mutable uint64_t seenChange = 0;

  CdxPos pos;  // position in the current tag when positioned through it
  uint64_t posMod = 0;
  std::vector<uint8_t> posKey;

  bool locked = false;
  mutable std::string lastExprText;  // the expression evaluate() compiled last
  mutable Expr lastExpr;
  std::string error;
  int code = 0;

  // helpers (throw Failure)
  TableShared& s() const;
  size_t tagIndex() const { return static_cast<size_t>(order - 1); }
  bool ordered() const { return order > 0 && static_cast<size_t>(order) <= s().tagCount() && !s().indexStale; }
  bool visibleRecord(const uint8_t* rec) const;
  bool inScope(const uint8_t* key) const;
  void load(uint32_t r, const std::vector<uint8_t>* data = nullptr);  // data: the record's bytes when at hand
  void setEof();
  void postPending();
  void settleInsert();  // puts an appended record's keys into the tags
  void positionNatural(uint32_t start, int dir);
  CdxPos stepTag(CdxPos p, int dir);
  bool visibleAt(CdxPos p, std::vector<uint8_t>& rec);
  void positionTag(CdxPos p, int dir);
  CdxPos relocate(int dir);
  void seekKey(const std::string& text, std::vector<uint8_t>& key, size_t& prefix) const;
  Expr compile(std::string_view text) const;
};

// Runs one public operation: takes the shared lock when needed and turns a
// Failure into a negated code with its text kept on the handle.
template <class F>
inline int guarded(Table::Impl& d, bool needOpen, F&& body) {
  d.code = 0;
  d.error.clear();
  try {
    if (needOpen && !d.sh) failWith(xbNotOpen, "table is not open");
    OpLock lock(d.sh && !d.sh->exclusive() ? d.sh.get() : nullptr);
    return body();
  } catch (const Failure& f) {
    d.code = f.code;
    d.error = f.message.empty() ? errorText(f.code) : f.message;
    return -f.code;
  } catch (const std::bad_alloc&) {
    d.code = xbIoError;
    d.error = "out of memory";
    return -xbIoError;
  }
}

}  // namespace xb
