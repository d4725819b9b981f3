// CdxFile: a compound index file in the compact layout other xBase tools use.
//
// 512-byte pages. The tag directory's 1024-byte header is at offset 0; its
// B-tree maps tag names (10 bytes, upper case, blank padded) to the offsets of
// the tags' own 1024-byte headers. Every tag is a B-tree: interior pages hold
// full keys + record number + child offset (the key of an entry is the highest
// key of its child); leaf pages hold compressed keys (bytes shared with the
// previous key and trailing pad bytes are dropped). Keys ascend within a tag
// (equal keys by record number); a descending tag is only read backwards.
//
// Pages emptied by deletions go to a free list that new pages are taken from
// before the file grows: the directory header's free-list offset (bytes 4..7)
// names the first free page, and each free page's bytes 0..3 the next one
// (-1 ends the list). A rebuild writes a new file without free pages.
//
// Bytes 16..31 of the directory header (reserved, ignored by other tools) hold
// "QNX1", the table's change stamp and record count as of the last update of
// this index: an index whose stamp disagrees with its table is out of date.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace xb {

inline constexpr uint32_t kCdxPage = 512;
inline constexpr uint32_t kCdxNone = 0xFFFFFFFFu;
inline constexpr int kCdxMaxKey = 240;
// Decoded pages kept before a write-back trims the cache (leaves first: the
// interior pages every search passes through stay). Some 2 KB each decoded:
// the index of 100 000 records fits whole; at a million records the cache
// holds about half of it (bench-xbase peaks at 46 MB and 415 MB of memory).
inline constexpr size_t kCdxCacheLimit = 131072;

struct CdxNode {
  bool leaf = true;
  uint16_t attr = 3;  // 0 branch, 1 root, 2 leaf, 3 root leaf
  uint32_t left = kCdxNone, right = kCdxNone;
  std::vector<uint8_t> keys;  // count * keyLen bytes
  std::vector<uint32_t> recnos;
  std::vector<uint32_t> children;  // interior pages only
  int keyLen = 0;
  uint8_t pad = ' ';
  bool dirty = false;
  size_t count() const { return recnos.size(); }
  const uint8_t* key(size_t i) const { return keys.data() + i * keyLen; }
};

struct CdxTag {
  std::string name;
  uint32_t header = 0;  // file offset of the tag header
  uint32_t root = 0;
  int keyLen = 0;
  uint8_t options = 0;
  bool descending = false;
  std::string keyExpr, forExpr;
  uint8_t pad = ' ';  // blank for character and logical keys, 0 for numeric and date keys
};

// A position in a tag: a leaf page and an entry index in it.
struct CdxPos {
  size_t tag = 0;
  uint32_t page = kCdxNone;
  int index = -1;
  bool valid() const { return page != kCdxNone; }
};

class CdxFile {
 public:
  CdxFile() = default;
  ~CdxFile();
  CdxFile(const CdxFile&) = delete;
  CdxFile& operator=(const CdxFile&) = delete;

  // Page codecs, also used directly by the fuzz target. They throw Failure.
  static void parseTagHeader(const uint8_t* header, size_t size, CdxTag& out);
  static void decodePage(const uint8_t* page, int keyLen, uint8_t pad, CdxNode& out);
  static void encodePage(const CdxNode& node, uint8_t* page);
  static size_t leafBytes(const CdxNode& node);  // bytes the node needs as a leaf page

  // These throw Failure (xbBadIndex, xbIoError ...).
  void open(const std::string& path, bool writable);
  void create(const std::string& path);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  const std::vector<CdxTag>& tags() const { return tags_; }  // creation order
  void setPad(size_t tag, uint8_t pad) { tags_[tag].pad = pad; }

  // Builds a new tag from entries sorted by (key, recno); keys are keyLen bytes each.
  void addTag(const CdxTag& def, const std::vector<uint8_t>& keys, const std::vector<uint32_t>& recnos,
              const std::vector<uint32_t>& sortedOrder);
  void insert(size_t tag, const uint8_t* key, uint32_t recno);
  void remove(size_t tag, const uint8_t* key, uint32_t recno);

  // Positions: first entry >= (key, recno); or end (invalid) when none.
  CdxPos lowerBound(size_t tag, const uint8_t* key, uint32_t recno);
  CdxPos first(size_t tag);
  CdxPos last(size_t tag);
  CdxPos next(CdxPos p);
  CdxPos prev(CdxPos p);
  const uint8_t* keyAt(CdxPos p);
  uint32_t recnoAt(CdxPos p);

  // Writes dirty pages and headers. Keeps the cache small.
  void flush();
  void dropCache();
  uint64_t modCount() const { return modCount_; }
  size_t cacheSize() const { return cache_.size(); }
  size_t freePages() const { return free_.size(); }

  bool hasStamp() const { return hasStamp_; }
  uint32_t stamp() const { return stamp_; }
  uint32_t stampCount() const { return stampCount_; }
  void writeStamp(uint32_t stamp, uint32_t count);
  void reloadStamp();
  void sync();

  // Walks a tag's leaves in order checking structure and order; returns the
  // entries found (or throws xbBadIndex describing the first fault).
  void collect(size_t tag, std::vector<uint8_t>& keys, std::vector<uint32_t>& recnos);

 private:
  CdxNode& node(uint32_t offset, size_t tag);
  CdxNode& newNode(size_t tag, bool leaf, uint32_t& offset);
  uint32_t allocPages(uint32_t count);
  void freePage(uint32_t offset);
  void readFreeList(uint32_t head);
  void writeFreeList();
  void trimCache();
  void readDirectory();
  void writeTagHeader(const CdxTag& tag);
  void insertInto(size_t tag, const uint8_t* key, uint32_t recno);
  void buildTree(size_t tag, const std::vector<uint8_t>& keys, const std::vector<uint32_t>& recnos,
                 const std::vector<uint32_t>& order);
  void fixMaxKeys(size_t tag, std::vector<std::pair<uint32_t, int>>& path, uint32_t child);
  void splitUp(size_t tagIndex, std::vector<std::pair<uint32_t, int>>& path, uint32_t offset);
  void removeChild(size_t tagIndex, std::vector<std::pair<uint32_t, int>>& path);
  bool mergeLeaf(size_t tag, std::vector<std::pair<uint32_t, int>>& path);
  void descend(size_t tag, const uint8_t* key, uint32_t recno, std::vector<std::pair<uint32_t, int>>& path);
  const CdxTag& tagRef(size_t tag) const { return tag == kDirectory ? directory_ : tags_[tag]; }
  static constexpr size_t kDirectory = static_cast<size_t>(-1);

  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
  uint64_t fileEnd_ = 0;
  CdxTag directory_;
  std::vector<CdxTag> tags_;
  std::unordered_map<uint32_t, CdxNode> cache_;
  std::vector<uint32_t> dirtyHeaders_;
  std::vector<uint32_t> free_;  // free pages; back() is the head of the list on disk
  size_t freeStable_ = 0;       // entries of free_ whose links are on disk
  bool freeHeadDirty_ = false;
  uint64_t modCount_ = 0;
  bool hasStamp_ = false;
  uint32_t stamp_ = 0, stampCount_ = 0;
};

}  // namespace xb
