// Compound index files: page codecs, the tag directory and B-tree maintenance.
#include "xb_cdx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "xb_dbf.h"
#include "xb_errors.h"
#include "xb_internal.h"

namespace xb {

namespace {

constexpr size_t kLeafHeader = 24;
constexpr size_t kNodeHeader = 12;
constexpr int kMaxDepth = 32;
constexpr uint8_t kStampMagic[4] = {'Q', 'N', 'X', '1'};

uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
void putBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (24 - 8 * i)) & 0xFF;
}

int bitsFor(uint32_t v) {
  int b = 1;
  while (b < 32 && (v >> b) != 0) ++b;
  return b;
}

int compareEntry(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb, int len) {
  int c = std::memcmp(a, b, static_cast<size_t>(len));
  if (c != 0) return c < 0 ? -1 : 1;
  return ra < rb ? -1 : ra > rb ? 1 : 0;
}

size_t interiorCapacity(int keyLen) {
  return (kCdxPage - kNodeHeader) / static_cast<size_t>(keyLen + 8);
}

// Compression layout of one leaf: bits per field and bytes per entry.
struct LeafBits {
  int recBits, dupBits, trailBits, bytesPerEntry;
};

LeafBits leafBits(int keyLen, uint32_t maxRecno) {
  LeafBits b;
  b.dupBits = b.trailBits = bitsFor(static_cast<uint32_t>(keyLen));
  int rec = bitsFor(maxRecno);
  b.bytesPerEntry = (rec + b.dupBits + b.trailBits + 7) / 8;
  b.recBits = std::min(32, b.bytesPerEntry * 8 - b.dupBits - b.trailBits);
  return b;
}

int trailingPad(const uint8_t* key, int len, uint8_t pad) {
  int t = 0;
  while (t < len && key[len - 1 - t] == pad) ++t;
  return t;
}

int sharedPrefix(const uint8_t* a, const uint8_t* b, int len) {
  int d = 0;
  while (d < len && a[d] == b[d]) ++d;
  return d;
}

// Stored bytes of entry i given the previous key in the same page (or none).
int storedBytes(const uint8_t* key, const uint8_t* prev, int len, uint8_t pad) {
  int trail = trailingPad(key, len, pad);
  int dup = prev ? std::min(sharedPrefix(prev, key, len), len - trail) : 0;
  return len - dup - trail;
}

}  // namespace

CdxFile::~CdxFile() {
  close();
}

// ---- codecs ------------------------------------------------------------------------

void CdxFile::parseTagHeader(const uint8_t* h, size_t size, CdxTag& out) {
  if (size < 1024) failWith(xbBadIndex, "tag header truncated");
  out.root = le32(h);
  out.keyLen = static_cast<int>(le16(h + 12));
  out.options = h[14];
  out.descending = le16(h + 502) != 0;
  if (out.keyLen < 1 || out.keyLen > kCdxMaxKey) failWith(xbBadIndex, "bad key length in tag header");
  if (out.root % kCdxPage != 0 || out.root == 0) failWith(xbBadIndex, "bad root page in tag header");
  const uint8_t* pool = h + 512;
  auto readExpr = [&](uint32_t off, uint32_t len) {
    if (off >= 512) return std::string();
    uint32_t end = std::min<uint32_t>(512, off + (len ? len : 512));
    std::string s;
    for (uint32_t i = off; i < end && pool[i]; ++i) s += static_cast<char>(pool[i]);
    return s;
  };
  uint32_t forOff = le16(h + 504), forLen = le16(h + 506), keyOff = le16(h + 508), keyLen = le16(h + 510);
  out.keyExpr = readExpr(keyOff, keyLen);
  out.forExpr.clear();
  if (forLen > 1) {
    if (forOff == 0 || forOff + forLen > 512) forOff = keyOff + keyLen;
    out.forExpr = readExpr(forOff, forLen);
  }
}

size_t CdxFile::leafBytes(const CdxNode& n) {
  uint32_t maxRec = 0;
  for (uint32_t r : n.recnos) maxRec = std::max(maxRec, r);
  LeafBits b = leafBits(n.keyLen, maxRec);
  size_t bytes = kLeafHeader + n.count() * static_cast<size_t>(b.bytesPerEntry);
  for (size_t i = 0; i < n.count(); ++i)
    bytes += static_cast<size_t>(storedBytes(n.key(i), i ? n.key(i - 1) : nullptr, n.keyLen, n.pad));
  return bytes;
}

void CdxFile::decodePage(const uint8_t* p, int keyLen, uint8_t pad, CdxNode& out) {
  out.attr = static_cast<uint16_t>(le16(p));
  uint32_t n = le16(p + 2);
  out.left = le32(p + 4);
  out.right = le32(p + 8);
  out.keyLen = keyLen;
  out.pad = pad;
  out.keys.clear();
  out.recnos.clear();
  out.children.clear();
  out.dirty = false;
  if (out.attr > 3) failWith(xbBadIndex, "bad page attributes");
  out.leaf = (out.attr & 2) != 0;
  if (!out.leaf) {
    size_t entry = static_cast<size_t>(keyLen) + 8;
    if (n * entry > kCdxPage - kNodeHeader) failWith(xbBadIndex, "interior page with too many keys");
    out.keys.resize(n * static_cast<size_t>(keyLen));
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* e = p + kNodeHeader + i * entry;
      std::memcpy(&out.keys[i * static_cast<size_t>(keyLen)], e, static_cast<size_t>(keyLen));
      out.recnos.push_back(be32(e + keyLen));
      out.children.push_back(be32(e + keyLen + 4));
    }
    return;
  }
  int recBits = p[20], dupBits = p[21], trailBits = p[22], bpe = p[23];
  if (bpe < 1 || bpe > 8 || recBits < 1 || recBits > 32 || dupBits > 8 || trailBits > 8 ||
      recBits + dupBits + trailBits > bpe * 8)
    failWith(xbBadIndex, "bad leaf compression parameters");
  if (kLeafHeader + static_cast<size_t>(n) * bpe > kCdxPage) failWith(xbBadIndex, "leaf page with too many keys");
  out.keys.resize(n * static_cast<size_t>(keyLen));
  size_t keyPos = kCdxPage;
  size_t entriesEnd = kLeafHeader + static_cast<size_t>(n) * bpe;
  uint64_t recMask = (recBits == 32) ? 0xFFFFFFFFull : ((1ull << recBits) - 1);
  uint64_t dupMask = (1ull << dupBits) - 1, trailMask = (1ull << trailBits) - 1;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* e = p + kLeafHeader + i * static_cast<size_t>(bpe);
    uint64_t v = 0;
    for (int k = bpe - 1; k >= 0; --k) v = (v << 8) | e[k];
    uint32_t rec = static_cast<uint32_t>(v & recMask);
    int dup = static_cast<int>((v >> recBits) & dupMask);
    int trail = static_cast<int>((v >> (recBits + dupBits)) & trailMask);
    if (dup + trail > keyLen || (i == 0 && dup > 0)) failWith(xbBadIndex, "bad compressed key in leaf page");
    size_t stored = static_cast<size_t>(keyLen - dup - trail);
    if (keyPos < entriesEnd + stored) failWith(xbBadIndex, "leaf keys overlap their entries");
    keyPos -= stored;
    uint8_t* k = &out.keys[i * static_cast<size_t>(keyLen)];
    if (dup) std::memcpy(k, k - keyLen, static_cast<size_t>(dup));
    std::memcpy(k + dup, p + keyPos, stored);
    std::memset(k + dup + stored, pad, static_cast<size_t>(trail));
    out.recnos.push_back(rec);
  }
}

void CdxFile::encodePage(const CdxNode& n, uint8_t* p) {
  std::memset(p, 0, kCdxPage);
  putLe16(p, n.attr);
  putLe16(p + 2, static_cast<uint32_t>(n.count()));
  putLe32(p + 4, n.left);
  putLe32(p + 8, n.right);
  if (!n.leaf) {
    size_t entry = static_cast<size_t>(n.keyLen) + 8;
    for (size_t i = 0; i < n.count(); ++i) {
      uint8_t* e = p + kNodeHeader + i * entry;
      std::memcpy(e, n.key(i), static_cast<size_t>(n.keyLen));
      putBe32(e + n.keyLen, n.recnos[i]);
      putBe32(e + n.keyLen + 4, n.children[i]);
    }
    return;
  }
  uint32_t maxRec = 0;
  for (uint32_t r : n.recnos) maxRec = std::max(maxRec, r);
  LeafBits b = leafBits(n.keyLen, maxRec);
  size_t keyPos = kCdxPage;
  for (size_t i = 0; i < n.count(); ++i) {
    const uint8_t* key = n.key(i);
    int trail = trailingPad(key, n.keyLen, n.pad);
    int dup = i ? std::min(sharedPrefix(n.key(i - 1), key, n.keyLen), n.keyLen - trail) : 0;
    size_t stored = static_cast<size_t>(n.keyLen - dup - trail);
    keyPos -= stored;
    std::memcpy(p + keyPos, key + dup, stored);
    uint64_t v = n.recnos[i] | (static_cast<uint64_t>(dup) << b.recBits) |
                 (static_cast<uint64_t>(trail) << (b.recBits + b.dupBits));
    uint8_t* e = p + kLeafHeader + i * static_cast<size_t>(b.bytesPerEntry);
    for (int k = 0; k < b.bytesPerEntry; ++k) e[k] = static_cast<uint8_t>(v >> (8 * k));
  }
  size_t used = kLeafHeader + n.count() * static_cast<size_t>(b.bytesPerEntry) + (kCdxPage - keyPos);
  putLe16(p + 12, static_cast<uint32_t>(kCdxPage - used));
  putLe32(p + 14, b.recBits == 32 ? 0xFFFFFFFFu : ((1u << b.recBits) - 1));
  p[18] = static_cast<uint8_t>((1u << b.dupBits) - 1);
  p[19] = static_cast<uint8_t>((1u << b.trailBits) - 1);
  p[20] = static_cast<uint8_t>(b.recBits);
  p[21] = static_cast<uint8_t>(b.dupBits);
  p[22] = static_cast<uint8_t>(b.trailBits);
  p[23] = static_cast<uint8_t>(b.bytesPerEntry);
}

// ---- file --------------------------------------------------------------------------

void CdxFile::open(const std::string& path, bool writable) {
  close();
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) failWith(errno == ENOENT ? xbFileNotFound : xbAccessDenied, "cannot open " + path);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < 1024) {
    ::close(fd);
    failWith(xbBadIndex, path + ": too short for an index file");
  }
  fd_ = fd;
  writable_ = writable;
  path_ = path;
  fileEnd_ = static_cast<uint64_t>(st.st_size) / kCdxPage * kCdxPage;
  try {
    readDirectory();
  } catch (Failure& f) {
    close();
    f.message = path + ": " + f.message;
    throw;
  }
}

void CdxFile::create(const std::string& path) {
  close();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) failWith(errno == ENOSPC ? xbDiskFull : xbAccessDenied, "cannot create " + path);
  fd_ = fd;
  writable_ = true;
  path_ = path;
  fileEnd_ = 0;
  directory_ = CdxTag{};
  directory_.name = "";
  directory_.keyLen = 10;
  directory_.options = 0xE0;
  directory_.header = static_cast<uint32_t>(allocPages(2));
  uint32_t rootOff;
  CdxNode& root = newNode(kDirectory, true, rootOff);
  root.attr = 3;
  directory_.root = rootOff;
  hasStamp_ = true;
  stamp_ = stampCount_ = 0;
  writeTagHeader(directory_);
  flush();
}

void CdxFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  cache_.clear();
  free_.clear();
  freeStable_ = 0;
  freeHeadDirty_ = false;
  tags_.clear();
  dirtyHeaders_.clear();
  hasStamp_ = false;
}

void CdxFile::readDirectory() {
  uint8_t h[1024];
  if (preadAll(fd_, h, sizeof h, 0) != 0) failWith(xbBadIndex, "cannot read the tag directory");
  directory_ = CdxTag{};
  parseTagHeader(h, sizeof h, directory_);
  directory_.header = 0;
  if (directory_.root >= fileEnd_) failWith(xbBadIndex, "tag directory root outside the file");
  hasStamp_ = std::memcmp(h + 16, kStampMagic, 4) == 0;
  stamp_ = hasStamp_ ? le32(h + 20) : 0;
  stampCount_ = hasStamp_ ? le32(h + 24) : 0;
  tags_.clear();
  cache_.clear();
  readFreeList(le32(h + 4));
  std::vector<uint8_t> names;
  std::vector<uint32_t> offsets;
  collect(kDirectory, names, offsets);
  std::vector<CdxTag> found;
  for (size_t i = 0; i < offsets.size(); ++i) {
    uint32_t off = offsets[i];
    if (off % kCdxPage != 0 || off == 0 || off + 1024 > fileEnd_) failWith(xbBadIndex, "tag header outside the file");
    uint8_t th[1024];
    if (preadAll(fd_, th, sizeof th, off) != 0) failWith(xbBadIndex, "cannot read a tag header");
    CdxTag t;
    parseTagHeader(th, sizeof th, t);
    if (t.root >= fileEnd_) failWith(xbBadIndex, "tag root outside the file");
    t.header = off;
    const uint8_t* k = &names[i * static_cast<size_t>(directory_.keyLen)];
    std::string name(reinterpret_cast<const char*>(k), static_cast<size_t>(directory_.keyLen));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    t.name = name;
    found.push_back(std::move(t));
  }
  std::sort(found.begin(), found.end(), [](const CdxTag& a, const CdxTag& b) { return a.header < b.header; });
  tags_ = std::move(found);
}

void CdxFile::readFreeList(uint32_t head) {
  free_.clear();
  freeHeadDirty_ = false;
  const uint64_t pages = fileEnd_ / kCdxPage;
  std::vector<uint32_t> chain;
  while (head != kCdxNone) {
    uint8_t link[4];
    // A list that leaves the file or loops is not followed: its pages are lost
    // until the next rebuild, but no page in use can be handed out twice.
    if (head % kCdxPage != 0 || head < 1024 || head + kCdxPage > fileEnd_ || chain.size() >= pages ||
        preadAll(fd_, link, sizeof link, head) != 0) {
      chain.clear();
      break;
    }
    chain.push_back(head);
    head = le32(link);
  }
  free_.assign(chain.rbegin(), chain.rend());
  freeStable_ = free_.size();
}

void CdxFile::freePage(uint32_t offset) {
  cache_.erase(offset);
  free_.push_back(offset);
  freeHeadDirty_ = true;
}

void CdxFile::writeFreeList() {
  if (!freeHeadDirty_) return;
  uint8_t page[kCdxPage] = {};
  for (size_t i = freeStable_; i < free_.size(); ++i) {
    putLe32(page, i ? free_[i - 1] : kCdxNone);
    if (pwriteAll(fd_, page, sizeof page, free_[i]) != 0) failWith(xbIoError, "cannot write index page");
  }
  freeStable_ = free_.size();
  uint8_t head[4];
  putLe32(head, free_.empty() ? kCdxNone : free_.back());
  if (pwriteAll(fd_, head, sizeof head, 4) != 0) failWith(xbIoError, "cannot write the index header");
  freeHeadDirty_ = false;
}

uint32_t CdxFile::allocPages(uint32_t count) {
  if (count == 1 && !free_.empty()) {
    uint32_t off = free_.back();
    free_.pop_back();
    freeStable_ = std::min(freeStable_, free_.size());
    freeHeadDirty_ = true;
    return off;
  }
  uint64_t off = fileEnd_;
  if (off + static_cast<uint64_t>(count) * kCdxPage > 0xFFFFFE00ull) failWith(xbDiskFull, "index file too large");
  fileEnd_ += static_cast<uint64_t>(count) * kCdxPage;
  return static_cast<uint32_t>(off);
}

CdxNode& CdxFile::node(uint32_t offset, size_t tag) {
  auto it = cache_.find(offset);
  if (it != cache_.end()) return it->second;
  if (offset % kCdxPage != 0 || offset < 1024 || offset + kCdxPage > fileEnd_)
    failWith(xbBadIndex, "page offset " + std::to_string(offset) + " outside the index file");
  uint8_t page[kCdxPage];
  if (preadAll(fd_, page, sizeof page, offset) != 0) failWith(xbIoError, "cannot read index page");
  const CdxTag& t = tagRef(tag);
  CdxNode n;
  decodePage(page, t.keyLen, t.pad, n);
  return cache_.emplace(offset, std::move(n)).first->second;
}

CdxNode& CdxFile::newNode(size_t tag, bool leaf, uint32_t& offset) {
  offset = allocPages(1);
  CdxNode n;
  n.leaf = leaf;
  n.attr = leaf ? 2 : 0;
  n.keyLen = tagRef(tag).keyLen;
  n.pad = tagRef(tag).pad;
  n.dirty = true;
  return cache_.insert_or_assign(offset, std::move(n)).first->second;
}

void CdxFile::writeTagHeader(const CdxTag& t) {
  uint8_t h[1024] = {};
  putLe32(h, t.root);
  putLe32(h + 4, t.header == 0 && freeStable_ > 0 ? free_[freeStable_ - 1] : kCdxNone);
  putLe16(h + 12, static_cast<uint32_t>(t.keyLen));
  h[14] = t.options;
  h[15] = 0x01;
  if (t.header == 0) {
    std::memcpy(h + 16, kStampMagic, 4);
    putLe32(h + 20, stamp_);
    putLe32(h + 24, stampCount_);
  }
  putLe16(h + 502, t.descending ? 1 : 0);
  size_t keyLen = t.keyExpr.empty() ? 0 : t.keyExpr.size() + 1;
  size_t forLen = t.forExpr.empty() ? 0 : t.forExpr.size() + 1;
  if (keyLen + forLen > 512) failWith(xbBadArgument, "index expressions too long");
  putLe16(h + 504, static_cast<uint32_t>(forLen ? keyLen : 0));
  putLe16(h + 506, static_cast<uint32_t>(forLen));
  putLe16(h + 508, 0);
  putLe16(h + 510, static_cast<uint32_t>(keyLen));
  std::memcpy(h + 512, t.keyExpr.data(), t.keyExpr.size());
  std::memcpy(h + 512 + keyLen, t.forExpr.data(), t.forExpr.size());
  if (pwriteAll(fd_, h, sizeof h, t.header) != 0) failWith(xbIoError, "cannot write a tag header");
}

void CdxFile::writeStamp(uint32_t stamp, uint32_t count) {
  stamp_ = stamp;
  stampCount_ = count;
  hasStamp_ = true;
  uint8_t s[12];
  std::memcpy(s, kStampMagic, 4);
  putLe32(s + 4, stamp);
  putLe32(s + 8, count);
  if (pwriteAll(fd_, s, sizeof s, 16) != 0) failWith(xbIoError, "cannot write the index header");
}

void CdxFile::reloadStamp() {
  uint8_t s[12];
  if (preadAll(fd_, s, sizeof s, 16) != 0) failWith(xbIoError, "cannot read the index header");
  hasStamp_ = std::memcmp(s, kStampMagic, 4) == 0;
  stamp_ = hasStamp_ ? le32(s + 4) : 0;
  stampCount_ = hasStamp_ ? le32(s + 8) : 0;
}

void CdxFile::flush() {
  if (fd_ < 0) return;
  uint8_t page[kCdxPage];
  for (auto& [off, n] : cache_) {
    if (!n.dirty) continue;
    encodePage(n, page);
    if (pwriteAll(fd_, page, sizeof page, off) != 0) failWith(xbIoError, "cannot write index page");
    n.dirty = false;
  }
  writeFreeList();
  std::sort(dirtyHeaders_.begin(), dirtyHeaders_.end());
  dirtyHeaders_.erase(std::unique(dirtyHeaders_.begin(), dirtyHeaders_.end()), dirtyHeaders_.end());
  for (uint32_t h : dirtyHeaders_) {
    if (h == 0) writeTagHeader(directory_);
    for (const auto& t : tags_)
      if (t.header == h) writeTagHeader(t);
  }
  dirtyHeaders_.clear();
  if (cache_.size() > kCdxCacheLimit) trimCache();
}

void CdxFile::trimCache() {
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (it->second.leaf && !it->second.dirty)
      it = cache_.erase(it);
    else
      ++it;
  }
  if (cache_.size() > kCdxCacheLimit / 2) cache_.clear();
}

void CdxFile::dropCache() {
  cache_.clear();
  ++modCount_;
  struct stat st {};
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0) fileEnd_ = static_cast<uint64_t>(st.st_size) / kCdxPage * kCdxPage;
}

void CdxFile::sync() {
  if (fd_ >= 0 && writable_) ::fdatasync(fd_);
}

// ---- B-tree ------------------------------------------------------------------------

void CdxFile::descend(size_t tag, const uint8_t* key, uint32_t recno, std::vector<std::pair<uint32_t, int>>& path) {
  path.clear();
  const CdxTag& t = tagRef(tag);
  uint32_t off = t.root;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    CdxNode& n = node(off, tag);
    size_t lo = 0, hi = n.count();
    while (lo < hi) {
      size_t mid = (lo + hi) / 2;
      if (compareEntry(n.key(mid), n.recnos[mid], key, recno, t.keyLen) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    if (n.leaf) {
      path.emplace_back(off, static_cast<int>(lo));
      return;
    }
    if (n.count() == 0) failWith(xbBadIndex, "empty interior page");
    if (lo == n.count()) lo = n.count() - 1;
    path.emplace_back(off, static_cast<int>(lo));
    off = n.children[lo];
  }
  failWith(xbBadIndex, "index tree too deep (a loop?)");
}

void CdxFile::fixMaxKeys(size_t tag, std::vector<std::pair<uint32_t, int>>& path, uint32_t) {
  int keyLen = tagRef(tag).keyLen;
  for (size_t l = path.size() - 1; l > 0; --l) {
    CdxNode& child = node(path[l].first, tag);
    if (child.count() == 0) return;
    CdxNode& parent = node(path[l - 1].first, tag);
    size_t idx = static_cast<size_t>(path[l - 1].second);
    if (idx >= parent.count()) return;
    size_t last = child.count() - 1;
    uint8_t* pk = &parent.keys[idx * static_cast<size_t>(keyLen)];
    if (std::memcmp(pk, child.key(last), static_cast<size_t>(keyLen)) == 0 && parent.recnos[idx] == child.recnos[last])
      return;
    std::memcpy(pk, child.key(last), static_cast<size_t>(keyLen));
    parent.recnos[idx] = child.recnos[last];
    parent.dirty = true;
    if (idx + 1 != parent.count()) return;
  }
}

static bool overflows(const CdxNode& n) {
  if (n.leaf) return CdxFile::leafBytes(n) > kCdxPage;
  return n.count() > interiorCapacity(n.keyLen);
}

void CdxFile::splitUp(size_t tag, std::vector<std::pair<uint32_t, int>>& path, uint32_t level) {
  uint32_t off = path[level].first;
  CdxNode& n = node(off, tag);
  size_t count = n.count();
  if (count < 2) failWith(xbBadIndex, "index page cannot be split");
  const int keyLen = n.keyLen;
  auto part = [&](size_t from, size_t to) {
    CdxNode p;
    p.leaf = n.leaf;
    p.keyLen = keyLen;
    p.pad = n.pad;
    p.keys.assign(n.keys.begin() + from * keyLen, n.keys.begin() + to * keyLen);
    p.recnos.assign(n.recnos.begin() + from, n.recnos.begin() + to);
    if (!n.leaf) p.children.assign(n.children.begin() + from, n.children.begin() + to);
    return p;
  };
  size_t mid = count / 2, k = mid;
  for (size_t step = 0; step < count; ++step) {
    size_t cand = (step % 2) ? mid + (step + 1) / 2 : mid - step / 2;
    if (cand < 1 || cand >= count) continue;
    if (!overflows(part(0, cand)) && !overflows(part(cand, count))) {
      k = cand;
      break;
    }
  }
  CdxNode right = part(k, count);
  uint32_t rightOff;
  CdxNode& r = newNode(tag, n.leaf, rightOff);
  r.keys = std::move(right.keys);
  r.recnos = std::move(right.recnos);
  r.children = std::move(right.children);
  n.keys.resize(k * static_cast<size_t>(keyLen));
  n.recnos.resize(k);
  if (!n.leaf) n.children.resize(k);
  r.left = off;
  r.right = n.right;
  if (n.right != kCdxNone) {
    CdxNode& after = node(n.right, tag);
    after.left = rightOff;
    after.dirty = true;
  }
  n.right = rightOff;
  n.dirty = true;
  if (level == 0) {
    uint32_t rootOff;
    CdxNode& root = newNode(tag, false, rootOff);
    root.attr = 1;
    n.attr = r.attr = n.leaf ? 2 : 0;
    for (auto [src, srcOff] : {std::pair<CdxNode*, uint32_t>{&n, off}, {&r, rightOff}}) {
      size_t last = src->count() - 1;
      root.keys.insert(root.keys.end(), src->key(last), src->key(last) + keyLen);
      root.recnos.push_back(src->recnos[last]);
      root.children.push_back(srcOff);
    }
    CdxTag& t = tag == kDirectory ? directory_ : tags_[tag];
    t.root = rootOff;
    dirtyHeaders_.push_back(t.header);
    return;
  }
  r.attr = n.attr;
  CdxNode& parent = node(path[level - 1].first, tag);
  size_t idx = static_cast<size_t>(path[level - 1].second);
  size_t lastN = n.count() - 1, lastR = r.count() - 1;
  std::memcpy(&parent.keys[idx * keyLen], n.key(lastN), static_cast<size_t>(keyLen));
  parent.recnos[idx] = n.recnos[lastN];
  parent.keys.insert(parent.keys.begin() + (idx + 1) * keyLen, r.key(lastR), r.key(lastR) + keyLen);
  parent.recnos.insert(parent.recnos.begin() + idx + 1, r.recnos[lastR]);
  parent.children.insert(parent.children.begin() + idx + 1, rightOff);
  parent.dirty = true;
  if (overflows(parent)) splitUp(tag, path, level - 1);
}

void CdxFile::insertInto(size_t tag, const uint8_t* key, uint32_t recno) {
  std::vector<std::pair<uint32_t, int>> path;
  descend(tag, key, recno, path);
  CdxNode& leaf = node(path.back().first, tag);
  size_t i = static_cast<size_t>(path.back().second);
  int keyLen = leaf.keyLen;
  if (i < leaf.count() && compareEntry(leaf.key(i), leaf.recnos[i], key, recno, keyLen) == 0) return;
  leaf.keys.insert(leaf.keys.begin() + i * keyLen, key, key + keyLen);
  leaf.recnos.insert(leaf.recnos.begin() + i, recno);
  leaf.dirty = true;
  ++modCount_;
  fixMaxKeys(tag, path, 0);
  if (overflows(leaf)) splitUp(tag, path, static_cast<uint32_t>(path.size() - 1));
}

void CdxFile::insert(size_t tag, const uint8_t* key, uint32_t recno) {
  insertInto(tag, key, recno);
}

void CdxFile::removeChild(size_t tag, std::vector<std::pair<uint32_t, int>>& path) {
  size_t level = path.size() - 1;
  uint32_t off = path[level].first;
  CdxNode& n = node(off, tag);
  if (n.left != kCdxNone) {
    CdxNode& l = node(n.left, tag);
    l.right = n.right;
    l.dirty = true;
  }
  if (n.right != kCdxNone) {
    CdxNode& r = node(n.right, tag);
    r.left = n.left;
    r.dirty = true;
  }
  freePage(off);  // the page is no longer referenced
  path.pop_back();
  CdxNode& parent = node(path.back().first, tag);
  size_t idx = static_cast<size_t>(path.back().second);
  int keyLen = parent.keyLen;
  parent.keys.erase(parent.keys.begin() + idx * keyLen, parent.keys.begin() + (idx + 1) * keyLen);
  parent.recnos.erase(parent.recnos.begin() + idx);
  parent.children.erase(parent.children.begin() + idx);
  parent.dirty = true;
  if (parent.count() == 0) {
    if (path.size() == 1) {  // the root is now empty: it becomes an empty root leaf
      parent.leaf = true;
      parent.attr = 3;
      parent.left = parent.right = kCdxNone;
      return;
    }
    removeChild(tag, path);
    return;
  }
  fixMaxKeys(tag, path, 0);
}

void CdxFile::remove(size_t tag, const uint8_t* key, uint32_t recno) {
  std::vector<std::pair<uint32_t, int>> path;
  descend(tag, key, recno, path);
  CdxNode& leaf = node(path.back().first, tag);
  size_t i = static_cast<size_t>(path.back().second);
  int keyLen = leaf.keyLen;
  if (i >= leaf.count() || compareEntry(leaf.key(i), leaf.recnos[i], key, recno, keyLen) != 0) return;
  leaf.keys.erase(leaf.keys.begin() + i * keyLen, leaf.keys.begin() + (i + 1) * keyLen);
  leaf.recnos.erase(leaf.recnos.begin() + i);
  leaf.dirty = true;
  ++modCount_;
  if (leaf.count() == 0 && path.size() > 1)
    removeChild(tag, path);
  else if (path.size() < 2 || leafBytes(leaf) >= kCdxPage / 3 || !mergeLeaf(tag, path))
    fixMaxKeys(tag, path, 0);
}

// A leaf under a third full gives its entries to a sibling under the same
// parent when they fit there, and its page goes to the free list: leaves
// thinned by deletions do not pile up.
bool CdxFile::mergeLeaf(size_t tag, std::vector<std::pair<uint32_t, int>>& path) {
  CdxNode& leaf = node(path.back().first, tag);
  CdxNode& parent = node(path[path.size() - 2].first, tag);
  const size_t idx = static_cast<size_t>(path[path.size() - 2].second);
  const size_t keyLen = static_cast<size_t>(leaf.keyLen);
  auto joined = [](const CdxNode& a, const CdxNode& b) {
    CdxNode n;
    n.leaf = true;
    n.keyLen = a.keyLen;
    n.pad = a.pad;
    n.keys = a.keys;
    n.keys.insert(n.keys.end(), b.keys.begin(), b.keys.end());
    n.recnos = a.recnos;
    n.recnos.insert(n.recnos.end(), b.recnos.begin(), b.recnos.end());
    return n;
  };
  // The sibling that stays takes the joined entries; the emptied leaf goes.
  auto giveTo = [&](CdxNode& keep, CdxNode& both) {
    keep.keys = std::move(both.keys);
    keep.recnos = std::move(both.recnos);
    keep.dirty = true;
    leaf.keys.clear();
    leaf.recnos.clear();
    removeChild(tag, path);
  };
  if (idx + 1 < parent.count()) {
    CdxNode& right = node(parent.children[idx + 1], tag);
    CdxNode both = joined(leaf, right);
    if (leafBytes(both) <= kCdxPage) {
      giveTo(right, both);
      return true;
    }
  }
  if (idx > 0) {
    CdxNode& left = node(parent.children[idx - 1], tag);
    CdxNode both = joined(left, leaf);
    if (leafBytes(both) <= kCdxPage) {
      std::memcpy(&parent.keys[(idx - 1) * keyLen], leaf.key(leaf.count() - 1), keyLen);
      parent.recnos[idx - 1] = leaf.recnos.back();
      giveTo(left, both);
      return true;
    }
  }
  return false;
}

// ---- positions ------------------------------------------------------------------------

CdxPos CdxFile::lowerBound(size_t tag, const uint8_t* key, uint32_t recno) {
  std::vector<std::pair<uint32_t, int>> path;
  descend(tag, key, recno, path);
  CdxPos p{tag, path.back().first, path.back().second};
  CdxNode& n = node(p.page, tag);
  if (static_cast<size_t>(p.index) < n.count()) return p;
  p.index = static_cast<int>(n.count()) - 1;
  if (p.index < 0) {  // empty leaf: only an empty root leaf, or walk right
    p.index = 0;
    if (n.right == kCdxNone) return CdxPos{tag};
  }
  return next(p);
}

CdxPos CdxFile::first(size_t tag) {
  uint32_t off = tagRef(tag).root;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    CdxNode& n = node(off, tag);
    if (n.leaf) {
      if (n.count() > 0) return CdxPos{tag, off, 0};
      return n.right == kCdxNone ? CdxPos{tag} : next(CdxPos{tag, off, -1});
    }
    if (n.count() == 0) failWith(xbBadIndex, "empty interior page");
    off = n.children.front();
  }
  failWith(xbBadIndex, "index tree too deep (a loop?)");
}

CdxPos CdxFile::last(size_t tag) {
  uint32_t off = tagRef(tag).root;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    CdxNode& n = node(off, tag);
    if (n.leaf) {
      if (n.count() > 0) return CdxPos{tag, off, static_cast<int>(n.count()) - 1};
      return n.left == kCdxNone ? CdxPos{tag} : prev(CdxPos{tag, off, 0});
    }
    if (n.count() == 0) failWith(xbBadIndex, "empty interior page");
    off = n.children.back();
  }
  failWith(xbBadIndex, "index tree too deep (a loop?)");
}

CdxPos CdxFile::next(CdxPos p) {
  if (!p.valid()) return p;
  const uint64_t maxSteps = fileEnd_ / kCdxPage + 1;
  CdxNode* n = &node(p.page, p.tag);
  int idx = p.index + 1;
  for (uint64_t steps = 0; static_cast<size_t>(idx) >= n->count(); ++steps) {
    if (n->right == kCdxNone) return CdxPos{p.tag};
    if (steps > maxSteps) failWith(xbBadIndex, "loop in the leaf chain");
    p.page = n->right;
    n = &node(p.page, p.tag);
    if (!n->leaf) failWith(xbBadIndex, "leaf chain reaches an interior page");
    idx = 0;
  }
  p.index = idx;
  return p;
}

CdxPos CdxFile::prev(CdxPos p) {
  if (!p.valid()) return p;
  const uint64_t maxSteps = fileEnd_ / kCdxPage + 1;
  CdxNode* n = &node(p.page, p.tag);
  int idx = p.index - 1;
  for (uint64_t steps = 0; idx < 0; ++steps) {
    if (n->left == kCdxNone) return CdxPos{p.tag};
    if (steps > maxSteps) failWith(xbBadIndex, "loop in the leaf chain");
    p.page = n->left;
    n = &node(p.page, p.tag);
    if (!n->leaf) failWith(xbBadIndex, "leaf chain reaches an interior page");
    idx = static_cast<int>(n->count()) - 1;
  }
  p.index = idx;
  return p;
}

const uint8_t* CdxFile::keyAt(CdxPos p) {
  CdxNode& n = node(p.page, p.tag);
  if (p.index < 0 || static_cast<size_t>(p.index) >= n.count()) failWith(xbBadIndex, "stale index position");
  return n.key(static_cast<size_t>(p.index));
}

uint32_t CdxFile::recnoAt(CdxPos p) {
  CdxNode& n = node(p.page, p.tag);
  if (p.index < 0 || static_cast<size_t>(p.index) >= n.count()) failWith(xbBadIndex, "stale index position");
  return n.recnos[static_cast<size_t>(p.index)];
}

void CdxFile::collect(size_t tag, std::vector<uint8_t>& keys, std::vector<uint32_t>& recnos) {
  keys.clear();
  recnos.clear();
  const int keyLen = tagRef(tag).keyLen;
  const uint64_t maxPages = fileEnd_ / kCdxPage + 1;
  CdxPos p = first(tag);
  if (!p.valid()) return;
  uint32_t page = p.page;
  for (uint64_t pages = 0; page != kCdxNone; ++pages) {
    if (pages > maxPages) failWith(xbBadIndex, "loop in the leaf chain");
    CdxNode& n = node(page, tag);
    if (!n.leaf) failWith(xbBadIndex, "leaf chain reaches an interior page");
    for (size_t i = 0; i < n.count(); ++i) {
      if (!recnos.empty() &&
          compareEntry(&keys[keys.size() - keyLen], recnos.back(), n.key(i), n.recnos[i], keyLen) >= 0)
        failWith(xbBadIndex, "keys out of order in tag " + tagRef(tag).name);
      keys.insert(keys.end(), n.key(i), n.key(i) + keyLen);
      recnos.push_back(n.recnos[i]);
    }
    page = n.right;
  }
}

// ---- building a tag -------------------------------------------------------------------

void CdxFile::buildTree(size_t tag, const std::vector<uint8_t>& keys, const std::vector<uint32_t>& recnos,
                        const std::vector<uint32_t>& order) {
  CdxTag& t = tags_[tag];
  const int keyLen = t.keyLen;
  uint32_t maxRec = 0;
  for (uint32_t r : recnos) maxRec = std::max(maxRec, r);
  const size_t bpe = static_cast<size_t>(leafBits(keyLen, maxRec).bytesPerEntry);
  // Leaves: as many entries as fit, in key order.
  std::vector<std::pair<size_t, size_t>> leaves;  // [from, to) in order
  size_t from = 0, bytes = kLeafHeader;
  for (size_t i = 0; i < order.size(); ++i) {
    const uint8_t* k = &keys[order[i] * static_cast<size_t>(keyLen)];
    const uint8_t* prev = i > from ? &keys[order[i - 1] * static_cast<size_t>(keyLen)] : nullptr;
    size_t need = bpe + static_cast<size_t>(storedBytes(k, prev, keyLen, t.pad));
    if (bytes + need > kCdxPage && i > from) {
      leaves.emplace_back(from, i);
      from = i;
      bytes = kLeafHeader + bpe + static_cast<size_t>(storedBytes(k, nullptr, keyLen, t.pad));
    } else {
      bytes += need;
    }
  }
  if (from < order.size() || leaves.empty()) leaves.emplace_back(from, order.size());
  struct Child {
    uint32_t offset;
    size_t lastEntry;
  };
  std::vector<Child> level;
  uint32_t first = allocPages(static_cast<uint32_t>(leaves.size()));
  std::vector<uint8_t> batch;
  const size_t kBatch = 256;
  batch.reserve(kBatch * kCdxPage);
  uint32_t batchStart = first;
  for (size_t li = 0; li < leaves.size(); ++li) {
    CdxNode n;
    n.leaf = true;
    n.attr = leaves.size() == 1 ? 3 : 2;
    n.keyLen = keyLen;
    n.pad = t.pad;
    uint32_t off = first + static_cast<uint32_t>(li) * kCdxPage;
    n.left = li ? off - kCdxPage : kCdxNone;
    n.right = li + 1 < leaves.size() ? off + kCdxPage : kCdxNone;
    for (size_t i = leaves[li].first; i < leaves[li].second; ++i) {
      const uint8_t* k = &keys[order[i] * static_cast<size_t>(keyLen)];
      n.keys.insert(n.keys.end(), k, k + keyLen);
      n.recnos.push_back(recnos[order[i]]);
    }
    batch.resize(batch.size() + kCdxPage);
    encodePage(n, &batch[batch.size() - kCdxPage]);
    if (leaves[li].second > leaves[li].first)
      level.push_back({off, leaves[li].second - 1});
    else
      level.push_back({off, SIZE_MAX});
    if (batch.size() == kBatch * kCdxPage || li + 1 == leaves.size()) {
      if (pwriteAll(fd_, batch.data(), batch.size(), batchStart) != 0) failWith(xbIoError, "cannot write index pages");
      batchStart += static_cast<uint32_t>(batch.size());
      batch.clear();
    }
  }
  // Interior levels up to a single root.
  const size_t cap = interiorCapacity(keyLen);
  while (level.size() > 1) {
    size_t groups = (level.size() + cap - 1) / cap;
    // Spread children evenly so that no interior page is nearly empty.
    size_t per = (level.size() + groups - 1) / groups;
    uint32_t base = allocPages(static_cast<uint32_t>(groups));
    std::vector<Child> up;
    for (size_t g = 0; g < groups; ++g) {
      CdxNode n;
      n.leaf = false;
      n.attr = groups == 1 ? 1 : 0;
      n.keyLen = keyLen;
      uint32_t off = base + static_cast<uint32_t>(g) * kCdxPage;
      n.left = g ? off - kCdxPage : kCdxNone;
      n.right = g + 1 < groups ? off + kCdxPage : kCdxNone;
      size_t end = std::min(level.size(), (g + 1) * per);
      for (size_t c = g * per; c < end; ++c) {
        const uint8_t* k = &keys[order[level[c].lastEntry] * static_cast<size_t>(keyLen)];
        n.keys.insert(n.keys.end(), k, k + keyLen);
        n.recnos.push_back(recnos[order[level[c].lastEntry]]);
        n.children.push_back(level[c].offset);
      }
      uint8_t page[kCdxPage];
      encodePage(n, page);
      if (pwriteAll(fd_, page, sizeof page, off) != 0) failWith(xbIoError, "cannot write index pages");
      up.push_back({off, level[end - 1].lastEntry});
    }
    level = std::move(up);
  }
  t.root = level.front().offset;
}

void CdxFile::addTag(const CdxTag& def, const std::vector<uint8_t>& keys, const std::vector<uint32_t>& recnos,
                     const std::vector<uint32_t>& order) {
  if (!writable_) failWith(xbReadOnly, "index is open read-only");
  for (const auto& t : tags_)
    if (t.name == def.name) failWith(xbExists, "tag " + def.name + " exists already");
  flush();
  CdxTag t = def;
  t.header = allocPages(2);
  tags_.push_back(t);
  size_t index = tags_.size() - 1;
  buildTree(index, keys, recnos, order);
  writeTagHeader(tags_[index]);
  uint8_t name[10];
  std::memset(name, ' ', sizeof name);
  std::memcpy(name, def.name.data(), std::min<size_t>(10, def.name.size()));
  insertInto(kDirectory, name, tags_[index].header);
  ++modCount_;
  flush();
}

}  // namespace xb
