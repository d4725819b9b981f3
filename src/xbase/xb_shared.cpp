// Per-file state shared by the handles of one process: the open DBF and CDX,
// the compiled tag expressions, cross-process locks and index upkeep.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "xb_table_impl.h"
#include "xb_text.h"

namespace xb {

namespace {

// Lock bytes far beyond any record: other tools never touch them.
constexpr off_t kOpenLockByte = 0x7FFFFF00;
constexpr off_t kOpLockByte = 0x7FFFFF01;

bool setLock(int fd, short type, off_t start) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = 1;
#ifdef F_OFD_SETLK
  // Open-file-description locks: held by the descriptor, not the process, so
  // closing another descriptor of the same file does not drop them.
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
#else
  return ::fcntl(fd, F_SETLK, &fl) == 0;
#endif
}

std::map<std::pair<dev_t, ino_t>, std::weak_ptr<TableShared>>& registry() {
  static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<TableShared>> files;
  return files;
}

// FoxPro-compatible numeric key: IEEE double, big-endian, sign flipped for
// positive values and all bits inverted for negative ones, so bytes sort as numbers.
void encodeDouble(double v, uint8_t* out) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  if (v == 0) bits = 0;  // -0 sorts as 0
  if (bits >> 63)
    bits = ~bits;
  else
    bits |= 1ull << 63;
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
}

std::string normalized(std::string s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string findIndexPath(const std::string& dbfPath) {
  namespace fs = std::filesystem;
  fs::path p(dbfPath);
  std::string stem = p.stem().string();
  std::string ext = p.extension().string();
  bool lower = !ext.empty() && std::islower(static_cast<unsigned char>(ext.back()));
  fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::string name = e.path().filename().string();
    std::string want = stem + ".cdx";
    if (name.size() == want.size() && std::equal(name.begin(), name.end(), want.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return e.path().string();
  }
  return (dir / (stem + (lower ? ".cdx" : ".CDX"))).string();
}

void TableShared::lockOp() {
  if (exclusive() || lockDepth++ > 0) return;
  short type = dbf.writable() ? F_WRLCK : F_RDLCK;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, env().lockTimeout));
  while (!setLock(dbf.fd(), type, kOpLockByte)) {
    if ((errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() > deadline) {
      lockDepth = 0;
      failWith(xbInUse, path + " is locked by another program");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TableShared::unlockOp() {
  if (exclusive() || lockDepth == 0) return;
  if (--lockDepth == 0) {
    try {
      flushIndex();
    } catch (const Failure&) {
      // the stamp stays behind: the next opening rebuilds the index
    }
    setLock(dbf.fd(), F_UNLCK, kOpLockByte);
  }
}

void TableShared::syncWithFile() {
  if (exclusive() || lockDepth > 1) return;
  if (!dbf.reloadHeader()) return;
  ++changeStamp;
  cdx.close();
  tagRt.clear();
  indexStale = false;
  if (std::filesystem::exists(findIndexPath(path))) {
    cdx.open(findIndexPath(path), dbf.writable());
    compileTags();
    if (!indexUpToDate()) {
      if (dbf.writable())
        rebuildIndex({});
      else
        indexStale = true;
    }
  }
}

void TableShared::compileTags() {
  tagRt.clear();
  const auto& tags = cdx.tags();
  for (size_t i = 0; i < tags.size(); ++i) {
    TagRuntime rt;
    std::string err;
    if (Expr::compile(tags[i].keyExpr, dbf.fields(), rt.key, err) != 0)
      failWith(xbBadIndex, "tag " + tags[i].name + ": " + err);
    if (!tags[i].forExpr.empty()) {
      if (Expr::compile(tags[i].forExpr, dbf.fields(), rt.forCond, err) != 0)
        failWith(xbBadIndex, "tag " + tags[i].name + " FOR condition: " + err);
      if (rt.forCond.type() != Type::Logical) failWith(xbBadIndex, "tag " + tags[i].name + ": FOR is not logical");
      std::string f = normalized(tags[i].forExpr);
      rt.forIsNotDeleted = f == ".not.deleted()" || f == "!deleted()";
    }
    rt.keyType = rt.key.type();
    cdx.setPad(i, (rt.keyType == Type::Char || rt.keyType == Type::Logical) ? ' ' : 0);
    tagRt.push_back(std::move(rt));
  }
}

// Key bytes of a value: character keys blank padded, logical 'T'/'F', numbers
// and dates as ordered doubles.
static void keyFromValue(Type type, const Value& v, size_t len, uint8_t* key) {
  switch (type) {
    case Type::Char: {
      size_t n = fitText(v.s, len);
      std::memcpy(key, v.s.data(), n);
      std::memset(key + n, ' ', len - n);
      return;
    }
    case Type::Logical:
      std::memset(key, ' ', len);
      key[0] = v.b ? 'T' : 'F';
      return;
    case Type::Numeric:
    case Type::Date: {
      uint8_t enc[8];
      encodeDouble(type == Type::Date ? static_cast<double>(v.date) : v.n, enc);
      std::memset(key, 0, len);
      std::memcpy(key, enc, std::min<size_t>(8, len));
      return;
    }
  }
}

// Order of the entries by (key, record number); entries are in record order.
// The first 16 key bytes travel with each entry, so most comparisons stay in
// the entry array instead of reaching into a million scattered keys.
static void sortEntries(const std::vector<uint8_t>& keys, size_t len, std::vector<uint32_t>& order) {
  struct Entry {
    uint64_t hi, lo;
    uint32_t index;
  };
  const size_t count = len ? keys.size() / len : 0;
  std::vector<Entry> entries(count);
  const uint8_t* kp = keys.data();
  for (size_t i = 0; i < count; ++i) {
    uint8_t head[16] = {};
    std::memcpy(head, kp + i * len, std::min<size_t>(16, len));
    uint64_t hi = 0, lo = 0;
    for (int b = 0; b < 8; ++b) {
      hi = (hi << 8) | head[b];
      lo = (lo << 8) | head[8 + b];
    }
    entries[i] = {hi, lo, static_cast<uint32_t>(i)};
  }
  std::sort(entries.begin(), entries.end(), [kp, len](const Entry& a, const Entry& b) {
    if (a.hi != b.hi) return a.hi < b.hi;
    if (a.lo != b.lo) return a.lo < b.lo;
    if (len > 16) {
      int c = std::memcmp(kp + a.index * len + 16, kp + b.index * len + 16, len - 16);
      if (c != 0) return c < 0;
    }
    return a.index < b.index;  // record numbers ascend with the index
  });
  order.resize(count);
  for (size_t i = 0; i < count; ++i) order[i] = entries[i].index;
}

void TableShared::makeKey(size_t tag, const uint8_t* record, uint8_t* key) const {
  const TagRuntime& rt = tagRt[tag];
  keyFromValue(rt.keyType, rt.key.eval(record), static_cast<size_t>(cdx.tags()[tag].keyLen), key);
}

bool TableShared::inTag(size_t tag, const uint8_t* record) const {
  const TagRuntime& rt = tagRt[tag];
  if (!rt.forCond.valid()) return true;
  if (rt.forIsNotDeleted) return record[0] != '*';
  return rt.forCond.evalLogical(record);
}

bool TableShared::indexUpToDate() const {
  if (!cdx.isOpen() || !cdx.hasStamp()) return true;
  return cdx.stamp() == dbf.stamp() && cdx.stampCount() == dbf.recordCount();
}

void TableShared::markIndexDirty() {
  flushIndex();
  cdx.writeStamp(dbf.stamp(), 0xFFFFFFFFu);
}

void TableShared::flushIndex() {
  if (!cdx.isOpen() || !cdxDirty) return;
  cdx.flush();
  if (pendingInserts == 0) {
    cdx.writeStamp(dbf.stamp(), dbf.recordCount());
    cdxDirty = false;
  }
}

void TableShared::sync() {
  dbf.sync();
  cdx.sync();
}

void TableShared::removeKeys(uint32_t recno, const uint8_t* rec) {
  if (!cdx.isOpen()) return;
  uint8_t key[kCdxMaxKey];
  for (size_t t = 0; t < tagRt.size(); ++t) {
    if (!inTag(t, rec)) continue;
    makeKey(t, rec, key);
    cdx.remove(t, key, recno);
  }
  cdxDirty = true;
}

void TableShared::updateRecord(uint32_t recno, const uint8_t* oldRec, const uint8_t* newRec) {
  ++changeStamp;
  if (!cdx.isOpen()) {
    if (env().syncOnPost) dbf.sync();
    return;
  }
  uint8_t oldKey[kCdxMaxKey], newKey[kCdxMaxKey];
  --changeStamp;  // counted once below
  for (size_t t = 0; t < tagRt.size(); ++t) {
    const int len = cdx.tags()[t].keyLen;
    bool oldIn = oldRec && inTag(t, oldRec);
    bool newIn = inTag(t, newRec);
    if (oldIn) makeKey(t, oldRec, oldKey);
    if (newIn) makeKey(t, newRec, newKey);
    bool same = oldIn && newIn && std::memcmp(oldKey, newKey, static_cast<size_t>(len)) == 0;
    if (same) continue;
    if (oldIn) cdx.remove(t, oldKey, recno);
    if (newIn) cdx.insert(t, newKey, recno);
  }
  cdxDirty = true;
  ++changeStamp;
  if (!exclusive() || env().syncOnPost || cdx.cacheSize() > kCdxCacheLimit) flushIndex();
  if (env().syncOnPost) sync();
}

static ProgressFn withHook(const ProgressFn& progress) {
  return [progress](int pct) {
    pct = std::clamp(pct, 0, 100);
    if (progress) progress(pct);
    if (env().gaugeHook) env().gaugeHook(pct);
  };
}

void TableShared::addTag(const CdxTag& def, const ProgressFn& progress) {
  ProgressFn report = withHook(progress);
  report(0);
  TagRuntime rt;
  std::string err;
  int rc = Expr::compile(def.keyExpr, dbf.fields(), rt.key, err);
  if (rc != 0) failWith(-rc, "key expression: " + err);
  if (!def.forExpr.empty()) {
    rc = Expr::compile(def.forExpr, dbf.fields(), rt.forCond, err);
    if (rc != 0) failWith(-rc, "FOR condition: " + err);
    if (rt.forCond.type() != Type::Logical) failWith(xbTypeMismatch, "FOR condition is not a logical expression");
  }
  int keyLen = rt.key.keyWidth();
  if (keyLen < 1) failWith(xbBadArgument, "key expression '" + def.keyExpr + "' gives an empty key");
  if (keyLen > kCdxMaxKey) failWith(xbKeyTooLong, "key expression '" + def.keyExpr + "' is longer than 240 bytes");
  if (!dbf.writable()) failWith(xbReadOnly, path + " is open read-only");
  if (!cdx.isOpen()) {
    cdx.create(findIndexPath(path));
    cdx.writeStamp(dbf.stamp(), dbf.recordCount());
    if (!dbf.structuralFlag() && dbf.setStructuralFlag(true) != 0) failWith(xbIoError, path + ": cannot write header");
    cdx.writeStamp(dbf.stamp(), dbf.recordCount());
  }
  for (const auto& t : cdx.tags())
    if (t.name == def.name) failWith(xbExists, "tag " + def.name + " exists already");
  CdxTag t = def;
  t.keyLen = keyLen;
  t.options = static_cast<uint8_t>(0x60 | (def.forExpr.empty() ? 0 : 0x08) | (def.options & 0x01));
  rt.keyType = rt.key.type();
  t.pad = (rt.keyType == Type::Char || rt.keyType == Type::Logical) ? ' ' : 0;
  std::string f = normalized(def.forExpr);
  rt.forIsNotDeleted = f == ".not.deleted()" || f == "!deleted()";
  tagRt.push_back(std::move(rt));
  markIndexDirty();
  std::vector<uint8_t> keys;
  std::vector<uint32_t> recnos, order;
  try {
    size_t idx = tagRt.size() - 1;
    const uint32_t count = dbf.recordCount();
    const size_t recLen = dbf.recordLength();
    const uint32_t chunk = static_cast<uint32_t>(std::max<size_t>(1, (1 << 20) / recLen));
    std::vector<uint8_t> buf(static_cast<size_t>(chunk) * recLen);
    const size_t len = static_cast<size_t>(keyLen);
    const TagRuntime& r = tagRt[idx];
    int lastPct = 0;
    for (uint32_t rn = 1; rn <= count; rn += chunk) {
      uint32_t n = std::min(chunk, count - rn + 1);
      if (dbf.readRecords(rn, n, buf.data()) != 0) failWith(xbIoError, path + ": cannot read records");
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* rec = &buf[i * recLen];
        bool in = !r.forCond.valid() || (r.forIsNotDeleted ? rec[0] != '*' : r.forCond.evalLogical(rec));
        if (!in) continue;
        keys.resize(keys.size() + len);
        keyFromValue(r.keyType, r.key.eval(rec), len, &keys[keys.size() - len]);
        recnos.push_back(rn + i);
      }
      int pct = static_cast<int>(80.0 * (rn + n - 1) / count);
      if (pct != lastPct) report(lastPct = pct);
    }
    sortEntries(keys, len, order);
    report(90);
    cdx.addTag(t, keys, recnos, order);
  } catch (...) {
    tagRt.pop_back();
    throw;
  }
  cdxDirty = true;
  flushIndex();
  ++changeStamp;
  report(100);
}

void TableShared::rebuildIndex(const ProgressFn& progress) {
  if (!dbf.writable()) failWith(xbReadOnly, path + " is open read-only");
  std::vector<CdxTag> defs = cdx.tags();
  std::string target = cdx.isOpen() ? cdx.path() : findIndexPath(path);
  std::string tmp = target + ".tmp";
  cdx.close();
  tagRt.clear();
  // Build beside the old file and swap it in at the end: a crash leaves either
  // the old index (noticed as out of date) or the complete new one.
  cdx.create(tmp);
  try {
    for (size_t i = 0; i < defs.size(); ++i) {
      int from = static_cast<int>(100 * i / defs.size()), to = static_cast<int>(100 * (i + 1) / defs.size());
      addTag(defs[i], [&](int pct) {
        if (progress) progress(from + (to - from) * pct / 100);
      });
    }
    cdx.flush();
    cdx.sync();
  } catch (...) {
    cdx.close();
    ::unlink(tmp.c_str());
    throw;
  }
  cdx.close();
  if (::rename(tmp.c_str(), target.c_str()) != 0) failWith(xbIoError, "cannot replace " + target);
  cdx.open(target, true);
  compileTags();
  ++changeStamp;
}

std::shared_ptr<TableShared> acquireShared(const std::string& path, OpenMode mode) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    failWith(errno == ENOENT ? xbFileNotFound : xbAccessDenied, "cannot open " + path + ": " + std::strerror(errno));
  auto key = std::make_pair(st.st_dev, st.st_ino);
  auto& reg = registry();
  auto it = reg.find(key);
  if (it != reg.end()) {
    auto existing = it->second.lock();
    if (existing && existing->owner == ::getpid()) {
      bool wantWrite = mode != OpenMode::ReadOnly;
      if (wantWrite && !existing->dbf.writable())
        failWith(xbInUse, path + " is already open read-only in this program");
      if (mode == OpenMode::Exclusive && existing->mode == OpenMode::Shared) {
        if (!setLock(existing->dbf.fd(), F_WRLCK, kOpenLockByte))
          failWith(xbInUse, path + " is in use by another program");
        existing->mode = OpenMode::Exclusive;
      }
      return existing;
    }
  }
  auto s = std::make_shared<TableShared>();
  s->path = path;
  s->mode = mode;
  s->owner = ::getpid();
  s->dev = st.st_dev;
  s->ino = st.st_ino;
  std::string err;
  int rc = s->dbf.open(path, mode != OpenMode::ReadOnly, err);
  if (rc != 0) failWith(-rc, err);
  short lockType = mode == OpenMode::Exclusive ? F_WRLCK : F_RDLCK;
  if (!setLock(s->dbf.fd(), lockType, kOpenLockByte))
    failWith(xbInUse, mode == OpenMode::Exclusive ? path + " is in use by another program"
                                                  : path + " is opened exclusively by another program");
  OpLock lock(mode == OpenMode::Exclusive ? nullptr : s.get());
  s->dbf.reloadHeader();
  // A table from an older program gets the UTF-8 mark at its first writable
  // opening, and its index is made again: keys from Windows-1252 bytes differ
  // from the ones the same text gives now.
  const bool legacyText = s->dbf.writable() && !s->dbf.utf8();
  if (legacyText && s->dbf.markUtf8() != 0) failWith(xbIoError, path + ": cannot write the header");
  std::string cdxPath = findIndexPath(path);
  if (std::filesystem::exists(cdxPath)) {
    s->cdx.open(cdxPath, mode != OpenMode::ReadOnly);
    s->compileTags();
    if (!s->indexUpToDate() || legacyText) {
      if (s->dbf.writable())
        s->rebuildIndex({});
      else
        s->indexStale = true;
    }
  }
  reg[key] = s;
  return s;
}

void reRegister(TableShared& s) {
  struct stat st {};
  if (::fstat(s.dbf.fd(), &st) != 0) return;
  auto& reg = registry();
  auto it = reg.find({s.dev, s.ino});
  std::weak_ptr<TableShared> w;
  if (it != reg.end()) {
    w = it->second;
    reg.erase(it);
  }
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  reg[{s.dev, s.ino}] = w;
}

bool relockOpen(TableShared& s) {
  return setLock(s.dbf.fd(), s.mode == OpenMode::Exclusive ? F_WRLCK : F_RDLCK, kOpenLockByte);
}

bool tryExclusive(TableShared& s) {
  if (s.mode == OpenMode::Exclusive) return true;
  if (!setLock(s.dbf.fd(), F_WRLCK, kOpenLockByte)) return false;
  s.lockDepth = 0;
  setLock(s.dbf.fd(), F_UNLCK, kOpLockByte);
  s.mode = OpenMode::Exclusive;
  return true;
}

}  // namespace xb
