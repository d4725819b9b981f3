// xb::Table: navigation in natural and tag order, seek, scope, counting, and
// the index and maintenance operations.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "xb_table_impl.h"

namespace xb {

// ---- helpers -----------------------------------------------------------------------

bool Table::Impl::visibleRecord(const uint8_t* rec) const {
  if (env().deleted && rec[0] == '*') return false;
  if (filter.valid() && !filter.evalLogical(rec)) return false;
  return true;
}

bool Table::Impl::inScope(const uint8_t* key) const {
  if (!scoped) return true;
  size_t len = static_cast<size_t>(s().cdx.tags()[tagIndex()].keyLen);
  size_t t = std::min(scopeTop.size(), len), b = std::min(scopeBottom.size(), len);
  if (t && std::memcmp(key, scopeTop.data(), t) < 0) return false;
  if (b && std::memcmp(key, scopeBottom.data(), b) > 0) return false;
  return true;
}

void Table::Impl::load(uint32_t r, const std::vector<uint8_t>* data) {
  TableShared& t = s();
  if (data && data->size() == t.dbf.recordLength()) {
    buf = *data;
  } else {
    buf.resize(t.dbf.recordLength());
    int rc = t.dbf.readRecord(r, buf.data());
    if (rc != 0) failWith(-rc, path + ": cannot read record " + std::to_string(r));
  }
  recno = r;
  orig = buf;
  modified = false;
  seenChange = t.changeStamp;
  pos = CdxPos{};
  if (ordered() && !data) {
    posKey.resize(static_cast<size_t>(t.cdx.tags()[tagIndex()].keyLen));
    t.makeKey(tagIndex(), buf.data(), posKey.data());
  }
}

void Table::Impl::setEof() {
  recno = 0;
  eof = true;
  modified = false;
  buf.assign(s().dbf.recordLength(), ' ');
  orig = buf;
  pos = CdxPos{};
}

// Moves to the first visible record from start in direction dir (natural order).
// Returns with eof set when there is none.
void Table::Impl::positionNatural(uint32_t start, int dir) {
  TableShared& t = s();
  uint32_t count = t.dbf.recordCount();
  std::vector<uint8_t> rec(t.dbf.recordLength());
  for (int64_t r = start; r >= 1 && r <= count; r += dir) {
    int rc = t.dbf.readRecord(static_cast<uint32_t>(r), rec.data());
    if (rc != 0) failWith(-rc, path + ": cannot read record " + std::to_string(r));
    if (visibleRecord(rec.data())) {
      load(static_cast<uint32_t>(r));
      eof = false;
      return;
    }
  }
  setEof();
}

CdxPos Table::Impl::stepTag(CdxPos p, int dir) {
  auto& cdx = s().cdx;
  bool forward = (dir > 0) != cdx.tags()[tagIndex()].descending;
  return forward ? cdx.next(p) : cdx.prev(p);
}

bool Table::Impl::visibleAt(CdxPos p, std::vector<uint8_t>& rec) {
  TableShared& t = s();
  if (!inScope(t.cdx.keyAt(p))) return false;
  uint32_t r = t.cdx.recnoAt(p);
  if (r < 1 || r > t.dbf.recordCount())
    failWith(xbBadIndex, "index names record " + std::to_string(r) + " beyond the table");
  rec.resize(t.dbf.recordLength());
  int rc = t.dbf.readRecord(r, rec.data());
  if (rc != 0) failWith(-rc, path + ": cannot read record");
  return visibleRecord(rec.data());
}

void Table::Impl::positionTag(CdxPos p, int dir) {
  std::vector<uint8_t> rec;
  while (p.valid() && !visibleAt(p, rec)) p = stepTag(p, dir);
  if (!p.valid()) {
    setEof();
    return;
  }
  TableShared& t = s();
  uint32_t r = t.cdx.recnoAt(p);
  load(r, &rec);  // the record visibleAt has just read
  eof = false;
  pos = p;
  posMod = t.cdx.modCount();
  const uint8_t* k = t.cdx.keyAt(p);
  posKey.assign(k, k + t.cdx.tags()[tagIndex()].keyLen);
}

// The tag position from which one step in direction dir starts.
CdxPos Table::Impl::relocate(int dir) {
  TableShared& t = s();
  auto& cdx = t.cdx;
  size_t tag = tagIndex();
  bool forward = (dir > 0) != cdx.tags()[tag].descending;
  if (pos.valid() && posMod == cdx.modCount()) return forward ? cdx.next(pos) : cdx.prev(pos);
  CdxPos lb = cdx.lowerBound(tag, posKey.data(), recno);
  bool exact = lb.valid() && cdx.recnoAt(lb) == recno && std::memcmp(cdx.keyAt(lb), posKey.data(), posKey.size()) == 0;
  if (exact) return forward ? cdx.next(lb) : cdx.prev(lb);
  if (forward) return lb;
  return lb.valid() ? cdx.prev(lb) : cdx.last(tag);
}

// ---- navigation ---------------------------------------------------------------------

static void top(Table::Impl& d) {
  if (d.ordered()) {
    auto& cdx = d.s().cdx;
    size_t tag = d.tagIndex();
    d.positionTag(cdx.tags()[tag].descending ? cdx.last(tag) : cdx.first(tag), 1);
  } else {
    d.positionNatural(1, 1);
  }
}

static void bottom(Table::Impl& d) {
  if (d.ordered()) {
    auto& cdx = d.s().cdx;
    size_t tag = d.tagIndex();
    d.positionTag(cdx.tags()[tag].descending ? cdx.first(tag) : cdx.last(tag), -1);
  } else {
    d.positionNatural(d.s().dbf.recordCount(), -1);
  }
}

int Table::goTop() {
  return guarded(*d_, true, [&] {
    d_->postPending();
    top(*d_);
    d_->bof = d_->eof;
    return 0;
  });
}

int Table::goBottom() {
  return guarded(*d_, true, [&] {
    d_->postPending();
    bottom(*d_);
    d_->bof = d_->eof;
    return 0;
  });
}

int Table::skip(int count) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    if (count == 0) {
      if (d.recno) d.load(d.recno);
      return 0;
    }
    int dir = count > 0 ? 1 : -1;
    int64_t steps = count > 0 ? count : -static_cast<int64_t>(count);
    d.bof = false;
    if (!d.recno) {
      if (dir > 0) {
        d.eof = true;
        return 0;
      }
      bottom(d);
      if (d.eof) {
        d.bof = true;
        return 0;
      }
      --steps;
    }
    for (; steps > 0; --steps) {
      uint32_t here = d.recno;
      if (d.ordered()) {
        CdxPos p = d.relocate(dir);
        std::vector<uint8_t> rec;
        while (p.valid() && !d.visibleAt(p, rec)) p = d.stepTag(p, dir);
        if (!p.valid()) {
          if (dir > 0) {
            d.setEof();
          } else {
            d.bof = true;
            d.load(here);
          }
          return 0;
        }
        d.positionTag(p, dir);
      } else {
        d.positionNatural(static_cast<uint32_t>(static_cast<int64_t>(here) + dir), dir);
        if (d.eof && dir < 0) {
          d.bof = true;
          d.load(here);
          d.eof = false;
          return 0;
        }
        if (d.eof) return 0;
      }
    }
    return 0;
  });
}

int Table::go(uint32_t recno) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    d.bof = false;
    if (recno < 1 || recno > d.s().dbf.recordCount()) {
      d.setEof();
      failWith(xbNoRecord, "record " + std::to_string(recno) + " does not exist");
    }
    d.load(recno);
    d.eof = false;
    return 0;
  });
}

int Table::refresh() {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.modified = false;
    d.settleInsert();
    if (d.recno && d.recno <= d.s().dbf.recordCount())
      d.load(d.recno);
    else if (d.recno)
      d.setEof();
    return 0;
  });
}

bool Table::bof() const {
  return d_->bof;
}
bool Table::eof() const {
  return d_->eof || !d_->recno;
}

uint32_t Table::recNo() const {
  if (!d_->sh) return 0;
  return d_->recno ? d_->recno : d_->sh->dbf.recordCount() + 1;
}

uint32_t Table::recCount() const {
  return d_->sh ? d_->sh->dbf.recordCount() : 0;
}

// Calls fn(recno, record) for every record in natural order, reading in chunks.
template <class F>
static void scanAll(TableShared& t, F&& fn) {
  const uint32_t count = t.dbf.recordCount();
  const size_t recLen = t.dbf.recordLength();
  const uint32_t chunk = static_cast<uint32_t>(std::max<size_t>(1, (256 * 1024) / recLen));
  std::vector<uint8_t> buf(static_cast<size_t>(chunk) * recLen);
  for (uint32_t r = 1; r <= count; r += chunk) {
    uint32_t n = std::min(chunk, count - r + 1);
    int rc = t.dbf.readRecords(r, n, buf.data());
    if (rc != 0) failWith(-rc, t.path + ": cannot read records");
    for (uint32_t i = 0; i < n; ++i) fn(r + i, &buf[i * recLen]);
  }
}

uint32_t Table::countVisible() {
  uint32_t visible = 0;
  guarded(*d_, true, [&] {
    d_->postPending();
    if (d_->ordered() && d_->scoped) {
      visible = static_cast<uint32_t>(visibleRecNos().size());
      return 0;
    }
    scanAll(d_->s(), [&](uint32_t, const uint8_t* rec) {
      if (d_->visibleRecord(rec)) ++visible;
    });
    return 0;
  });
  return visible;
}

std::vector<uint32_t> Table::visibleRecNos() {
  std::vector<uint32_t> out;
  guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    TableShared& t = d.s();
    if (!d.ordered()) {
      scanAll(t, [&](uint32_t r, const uint8_t* rec) {
        if (d.visibleRecord(rec)) out.push_back(r);
      });
      return 0;
    }
    size_t tag = d.tagIndex();
    bool desc = t.cdx.tags()[tag].descending;
    const TagRuntime& rt = t.tagRt[tag];
    // Without a filter, a tag that already leaves out marked records needs no
    // record reads at all.
    bool keysOnly = !d.filter.valid() && (!env().deleted || rt.forIsNotDeleted);
    if (!keysOnly && !d.scoped) {
      // A whole list with a filter: one sequential pass marks the visible records,
      // far cheaper than one random read per key.
      const uint32_t count = t.dbf.recordCount();
      std::vector<bool> visible(static_cast<size_t>(count) + 1);
      scanAll(t, [&](uint32_t r, const uint8_t* rec) { visible[r] = d.visibleRecord(rec); });
      for (CdxPos p = desc ? t.cdx.last(tag) : t.cdx.first(tag); p.valid(); p = desc ? t.cdx.prev(p) : t.cdx.next(p)) {
        uint32_t r = t.cdx.recnoAt(p);
        if (r < 1 || r > count) failWith(xbBadIndex, "index names record " + std::to_string(r) + " beyond the table");
        if (visible[r]) out.push_back(r);
      }
      return 0;
    }
    std::vector<uint8_t> rec;
    for (CdxPos p = desc ? t.cdx.last(tag) : t.cdx.first(tag); p.valid(); p = desc ? t.cdx.prev(p) : t.cdx.next(p)) {
      if (keysOnly) {
        if (d.inScope(t.cdx.keyAt(p))) out.push_back(t.cdx.recnoAt(p));
      } else if (d.visibleAt(p, rec)) {
        out.push_back(t.cdx.recnoAt(p));
      }
    }
    return 0;
  });
  return out;
}

int Table::readRecord(uint32_t recno, std::vector<uint8_t>& out) const {
  return guarded(*d_, true, [&] {
    TableShared& t = d_->s();
    out.resize(t.dbf.recordLength());
    int rc = t.dbf.readRecord(recno, out.data());
    if (rc != 0) failWith(-rc, "record " + std::to_string(recno) + " does not exist");
    return 0;
  });
}

// ---- orders, seek, scope -------------------------------------------------------------------

int Table::tagCount() const {
  return d_->sh ? static_cast<int>(d_->sh->tagCount()) : 0;
}

std::vector<TagInfo> Table::tags() const {
  std::vector<TagInfo> out;
  if (!d_->sh || !d_->sh->hasIndex()) return out;
  for (const auto& t : d_->sh->cdx.tags())
    out.push_back(TagInfo{t.name, t.keyExpr, t.forExpr, t.descending, (t.options & 1) != 0, t.keyLen});
  return out;
}

int Table::tagArea(std::string_view name) const {
  if (!d_->sh || !d_->sh->hasIndex()) return 0;
  const auto& tags = d_->sh->cdx.tags();
  for (size_t i = 0; i < tags.size(); ++i) {
    const std::string& n = tags[i].name;
    if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        }))
      return static_cast<int>(i + 1);
  }
  return 0;
}

int Table::order() const {
  return d_->ordered() ? d_->order : 0;
}

int Table::setOrder(int order) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    if (order < 0 || static_cast<size_t>(order) > d.s().tagCount())
      failWith(xbNoSuchTag, "no index order " + std::to_string(order));
    if (order > 0 && d.s().indexStale)
      failWith(xbBadIndex, d.path + ": the index is out of date (open it writable to repair)");
    d.order = order;
    d.pos = CdxPos{};
    if (d.recno) d.load(d.recno);
    return 0;
  });
}

int Table::setOrder(std::string_view tagName) {
  int n = tagArea(tagName);
  if (n == 0) {
    d_->code = xbNoSuchTag;
    d_->error = "no index tag " + std::string(tagName);
    return -xbNoSuchTag;
  }
  return setOrder(n);
}

void Table::Impl::seekKey(const std::string& text, std::vector<uint8_t>& key, size_t& prefix) const {
  TableShared& t = s();
  size_t tag = tagIndex();
  size_t len = static_cast<size_t>(t.cdx.tags()[tag].keyLen);
  Type type = t.tagRt[tag].keyType;
  key.assign(len, 0);
  if (type == Type::Char) {
    prefix = std::min(text.size(), len);
    std::memcpy(key.data(), text.data(), prefix);
    return;
  }
  // Other key types: evaluate a literal of that type through a one-off record.
  std::string lit;
  if (type == Type::Logical) {
    char c =
        text.empty() ? 'F' : static_cast<char>(std::toupper(static_cast<unsigned char>(text[text[0] == '.' ? 1 : 0])));
    lit = (c == 'T' || c == 'Y') ? ".T." : ".F.";
  } else if (type == Type::Date) {
    int32_t j = julianFromDtos(text);
    if (!j) j = ctod(text);
    lit = "CTOD(\"" + dtoc(j, true) + "\")";
  } else {
    lit = "VAL(\"" + text + "\")";
  }
  Expr e;
  std::string err;
  if (Expr::compile(lit, {}, e, err) != 0) failWith(xbBadArgument, "bad seek value '" + text + "'");
  Value v = e.eval(nullptr);
  std::vector<uint8_t> fake;  // makeKey works on records; build the key bytes directly instead
  if (type == Type::Logical) {
    std::memset(key.data(), ' ', len);
    key[0] = v.b ? 'T' : 'F';
    prefix = 1;
  } else {
    // Same encoding as the tag keys.
    double dv = type == Type::Date ? static_cast<double>(v.date) : v.n;
    uint64_t bits;
    std::memcpy(&bits, &dv, sizeof bits);
    if (dv == 0) bits = 0;
    bits = (bits >> 63) ? ~bits : (bits | (1ull << 63));
    for (size_t i = 0; i < 8 && i < len; ++i) key[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    prefix = std::min<size_t>(8, len);
  }
}

int Table::seek(std::string_view text) {
  int found = 0;
  int rc = guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    if (!d.ordered()) failWith(xbNoSuchTag, "seek needs an index order");
    TableShared& t = d.s();
    size_t tag = d.tagIndex();
    std::vector<uint8_t> key;
    size_t prefix = 0;
    d.seekKey(std::string(text), key, prefix);
    bool desc = t.cdx.tags()[tag].descending;
    CdxPos p;
    if (!desc) {
      p = t.cdx.lowerBound(tag, key.data(), 0);
    } else {
      std::vector<uint8_t> hi = key;
      std::fill(hi.begin() + static_cast<long>(prefix), hi.end(), 0xFF);
      CdxPos lb = t.cdx.lowerBound(tag, hi.data(), 0xFFFFFFFFu);
      p = lb.valid() ? t.cdx.prev(lb) : t.cdx.last(tag);
    }
    std::vector<uint8_t> rec;
    auto matches = [&](CdxPos q) { return q.valid() && std::memcmp(t.cdx.keyAt(q), key.data(), prefix) == 0; };
    CdxPos q = p;
    while (matches(q) && !d.visibleAt(q, rec)) q = d.stepTag(q, 1);
    d.bof = false;
    if (matches(q)) {
      d.positionTag(q, 1);
      found = 1;
    } else if (env().softSeek) {
      d.positionTag(q, 1);
    } else {
      d.setEof();
    }
    return 0;
  });
  return rc != 0 ? rc : found;
}

int Table::setScope(std::string_view topKey, std::string_view bottomKey) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    if (!d.ordered()) failWith(xbNoSuchTag, "a scope needs an index order");
    d.scoped = true;
    d.scopeTop = std::string(topKey);
    d.scopeBottom = std::string(bottomKey);
    top(d);
    d.bof = d.eof;
    return 0;
  });
}

void Table::clearScope() {
  d_->scoped = false;
  d_->scopeTop.clear();
  d_->scopeBottom.clear();
}

// ---- index maintenance -----------------------------------------------------------------------

static std::string upperName(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == ' ') continue;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

int Table::createTag(std::string_view name, std::string_view keyExpr, std::string_view forExpr, bool descending,
                     const ProgressFn& progress) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    std::string n = upperName(name);
    bool okName = !n.empty() && n.size() <= 10 && (std::isalpha(static_cast<unsigned char>(n[0])) || n[0] == '_');
    for (char c : n) okName = okName && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
    if (!okName) failWith(xbBadArgument, "bad tag name '" + std::string(name) + "'");
    CdxTag def;
    def.name = n;
    def.keyExpr = std::string(keyExpr);
    def.forExpr = forExpr.find_first_not_of(' ') == std::string_view::npos ? std::string() : std::string(forExpr);
    def.descending = descending;
    d.s().addTag(def, progress);
    d.order = static_cast<int>(d.s().tagCount());
    d.pos = CdxPos{};
    if (d.recno) d.load(d.recno);
    return 0;
  });
}

int Table::closeIndexes() {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    TableShared& t = d.s();
    if (t.cdx.isOpen()) {
      t.flushIndex();
      t.cdx.close();
      t.cdxDirty = false;
      t.tagRt.clear();
      if (t.dbf.writable() && t.dbf.structuralFlag()) t.dbf.setStructuralFlag(false);
      ++t.changeStamp;
    }
    t.indexStale = false;
    d.order = 0;
    d.pos = CdxPos{};
    return 0;
  });
}

int Table::reindex(const ProgressFn& progress) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    if (!d.s().hasIndex()) return 0;
    d.s().rebuildIndex(progress);
    d.s().indexStale = false;
    d.pos = CdxPos{};
    if (d.recno) d.load(d.recno);
    return 0;
  });
}

int Table::checkIndex() {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    TableShared& t = d.s();
    if (!t.hasIndex()) return 0;
    t.flushIndex();
    if (!t.indexUpToDate())
      failWith(xbBadIndex, "the index was last updated for another state of the table (stamp " +
                               std::to_string(t.cdx.stamp()) + ", table " + std::to_string(t.dbf.stamp()) + ")");
    for (size_t tag = 0; tag < t.tagCount(); ++tag) {
      const std::string& name = t.cdx.tags()[tag].name;
      const size_t len = static_cast<size_t>(t.cdx.tags()[tag].keyLen);
      std::vector<uint8_t> keys, want;
      std::vector<uint32_t> recnos, wantRecnos;
      try {
        t.cdx.collect(tag, keys, recnos);
      } catch (const Failure& f) {
        failWith(xbBadIndex, "tag " + name + ": " + f.message);
      }
      std::vector<uint8_t> key(len);
      std::vector<std::pair<std::vector<uint8_t>, uint32_t>> expected;
      scanAll(t, [&](uint32_t r, const uint8_t* rec) {
        if (!t.inTag(tag, rec)) return;
        t.makeKey(tag, rec, key.data());
        expected.emplace_back(key, r);
      });
      std::sort(expected.begin(), expected.end(), [len](const auto& a, const auto& b) {
        int c = std::memcmp(a.first.data(), b.first.data(), len);
        return c != 0 ? c < 0 : a.second < b.second;
      });
      if (expected.size() != recnos.size())
        failWith(xbBadIndex, "tag " + name + " holds " + std::to_string(recnos.size()) + " keys, the table gives " +
                                 std::to_string(expected.size()));
      for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].second != recnos[i] || std::memcmp(expected[i].first.data(), &keys[i * len], len) != 0)
          failWith(xbBadIndex, "tag " + name + " differs from the table at entry " + std::to_string(i + 1) +
                                   " (record " + std::to_string(recnos[i]) + ")");
      }
    }
    return 0;
  });
}

int Table::pack(const ProgressFn& progress) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    d.postPending();
    TableShared& t = d.s();
    if (!t.dbf.writable()) failWith(xbReadOnly, d.path + " is open read-only");
    if (!tryExclusive(t)) failWith(xbInUse, d.path + " is in use by another program; pack needs it alone");
    auto report = [&](int pct) {
      pct = std::clamp(pct, 0, 100);
      if (progress) progress(pct);
      if (env().gaugeHook) env().gaugeHook(pct);
    };
    report(0);
    // Write the kept records to a new file and swap it in: a crash leaves
    // either the old table or the packed one, never a mixture.
    std::string tmp = d.path + ".pack";
    int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) failWith(xbAccessDenied, "cannot create " + tmp);
    std::vector<uint8_t> header(t.dbf.headerLength());
    int rc = preadAll(t.dbf.fd(), header.data(), header.size(), 0);
    uint32_t kept = 0;
    const uint32_t count = t.dbf.recordCount();
    const size_t recLen = t.dbf.recordLength();
    std::vector<uint8_t> out;
    uint64_t writePos = header.size();
    int lastPct = 0;
    try {
      if (rc != 0) failWith(-rc, d.path + ": cannot read the header");
      scanAll(t, [&](uint32_t r, const uint8_t* rec) {
        if (rec[0] != '*') {
          out.insert(out.end(), rec, rec + recLen);
          ++kept;
        }
        if (out.size() >= (1u << 20)) {
          if (pwriteAll(fd, out.data(), out.size(), writePos) != 0) failWith(xbDiskFull, "cannot write " + tmp);
          writePos += out.size();
          out.clear();
        }
        int pct = static_cast<int>(95.0 * r / count);
        if (pct != lastPct) report(lastPct = pct);
      });
      out.push_back(0x1A);
      if (pwriteAll(fd, out.data(), out.size(), writePos) != 0) failWith(xbDiskFull, "cannot write " + tmp);
      uint32_t stamp = t.dbf.stamp() + 1;
      for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<uint8_t>(kept >> (8 * i));
        header[16 + i] = static_cast<uint8_t>(stamp >> (8 * i));
      }
      if (pwriteAll(fd, header.data(), header.size(), 0) != 0 || ::fsync(fd) != 0)
        failWith(xbDiskFull, "cannot write " + tmp);
    } catch (...) {
      ::close(fd);
      ::unlink(tmp.c_str());
      throw;
    }
    ::close(fd);
    if (::rename(tmp.c_str(), d.path.c_str()) != 0) {
      ::unlink(tmp.c_str());
      failWith(xbIoError, "cannot replace " + d.path);
    }
    std::string err;
    rc = t.dbf.open(d.path, true, err);
    if (rc != 0) failWith(-rc, err);
    reRegister(t);
    if (!relockOpen(t)) failWith(xbInUse, d.path + " was opened by another program during the pack");
    ++t.changeStamp;
    if (t.hasIndex()) t.rebuildIndex([&](int pct) { report(95 + pct / 20); });
    report(100);
    d.pos = CdxPos{};
    top(d);
    d.bof = d.eof;
    return 0;
  });
}

}  // namespace xb
