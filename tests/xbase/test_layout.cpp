// File layouts checked from the raw bytes with a decoder written here from the
// published layout (not the engine's own), and the DBF side through dbview.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <set>

#include "test_util.h"
#include "xbase/xb_env.h"
#include "xbase/xb_table.h"

using xbtest::TempDir;

namespace {

std::vector<uint8_t> bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t le16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

struct RawEntry {
  std::string key;
  uint32_t recno;
};

// Reads every entry of the B-tree rooted at root, checking on the way what
// other tools rely on: attributes, sibling links, interior keys equal to the
// highest key of their child, leaf compression fields.
class RawCdx {
 public:
  explicit RawCdx(std::vector<uint8_t> file) : f_(std::move(file)) {}

  std::vector<RawEntry> entries(uint32_t root, int keyLen, char pad) {
    std::vector<RawEntry> out;
    leaves_.clear();
    walk(root, keyLen, pad, true, out);
    // The leaves must also be chained left to right in the same order.
    for (size_t i = 0; i < leaves_.size(); ++i) {
      const uint8_t* p = &f_[leaves_[i]];
      EXPECT_EQ(le32(p + 4), i ? leaves_[i - 1] : 0xFFFFFFFFu) << "left sibling of leaf " << i;
      EXPECT_EQ(le32(p + 8), i + 1 < leaves_.size() ? leaves_[i + 1] : 0xFFFFFFFFu) << "right sibling of leaf " << i;
    }
    return out;
  }

  const uint8_t* at(uint32_t off) const { return &f_.at(off); }
  const std::vector<uint32_t>& pagesSeen() const { return pages_; }  // by every entries() call
  size_t size() const { return f_.size(); }

 private:
  void walk(uint32_t off, int keyLen, char pad, bool root, std::vector<RawEntry>& out) {
    ASSERT_EQ(off % 512, 0u);
    ASSERT_LE(off + 512, f_.size());
    pages_.push_back(off);
    const uint8_t* p = &f_[off];
    uint32_t attr = le16(p), n = le16(p + 2);
    bool leaf = attr & 2;
    EXPECT_EQ((attr & 1) != 0, root) << "root bit at page " << off;
    if (!leaf) {
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* e = p + 12 + i * (keyLen + 8);
        std::string key(reinterpret_cast<const char*>(e), keyLen);
        uint32_t rec = be32(e + keyLen), child = be32(e + keyLen + 4);
        size_t before = out.size();
        walk(child, keyLen, pad, false, out);
        ASSERT_GT(out.size(), before);
        EXPECT_EQ(out.back().key, key) << "interior key is not the highest key of its child";
        EXPECT_EQ(out.back().recno, rec);
      }
      return;
    }
    leaves_.push_back(off);
    uint32_t freeSpace = le16(p + 12), recMask = le32(p + 14);
    int dupMask = p[18], trailMask = p[19], recBits = p[20], dupBits = p[21], trailBits = p[22], bpe = p[23];
    EXPECT_EQ(recMask, recBits == 32 ? 0xFFFFFFFFu : (1u << recBits) - 1);
    EXPECT_EQ(dupMask, (1 << dupBits) - 1);
    EXPECT_EQ(trailMask, (1 << trailBits) - 1);
    EXPECT_LE(recBits + dupBits + trailBits, bpe * 8);
    std::string prev(keyLen, pad);
    size_t keyEnd = 512, stored = 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint64_t v = 0;
      for (int k = bpe - 1; k >= 0; --k) v = (v << 8) | p[24 + i * bpe + k];
      uint32_t rec = uint32_t(v & recMask);
      int dup = int((v >> recBits) & dupMask), trail = int((v >> (recBits + dupBits)) & trailMask);
      int len = keyLen - dup - trail;
      ASSERT_GE(len, 0);
      keyEnd -= len;
      stored += len;
      std::string key =
          prev.substr(0, dup) + std::string(reinterpret_cast<const char*>(p + keyEnd), len) + std::string(trail, pad);
      out.push_back({key, rec});
      prev = key;
    }
    EXPECT_EQ(freeSpace, 512 - 24 - n * bpe - stored);
  }
  std::vector<uint8_t> f_;
  std::vector<uint32_t> leaves_, pages_;
};

struct RawTag {
  std::string name;
  uint32_t header;
};

std::vector<RawTag> rawTags(RawCdx& cdx) {
  const uint8_t* h = cdx.at(0);
  EXPECT_EQ(le16(h + 12), 10u);  // tag names
  EXPECT_EQ(h[14], 0xE0);
  EXPECT_EQ(h[15], 0x01);
  std::vector<RawTag> out;
  for (auto& e : cdx.entries(le32(h), 10, ' ')) {
    std::string name = e.key.substr(0, e.key.find_last_not_of(' ') + 1);
    out.push_back({name, e.recno});
  }
  std::sort(out.begin(), out.end(), [](const RawTag& a, const RawTag& b) { return a.header < b.header; });
  return out;
}

std::string expr(const uint8_t* h, int offField, int lenField) {
  uint32_t off = le16(h + offField), len = le16(h + lenField);
  if (!len) return "";
  return std::string(reinterpret_cast<const char*>(h + 512 + off));
}

TEST(FileLayout, DbfHeaderDescriptorsRecordsAndDbview) {
  TempDir dir;
  std::string path = dir.file("PEOPLE.DBF");
  ASSERT_EQ(xb::Table::create(path, xbtest::peopleFields()), 0);
  {
    xb::Table t;
    ASSERT_EQ(t.open(path), 0);
    for (auto [name, born, active, score] :
         {std::tuple{"smith", "19700101", true, 1.5}, std::tuple{"Adams|x", "", false, -22.25}}) {
      ASSERT_EQ(t.appendBlank(), 0);
      t.setString("NAME", name);
      t.setDate("BORN", born);
      t.setLogical("ACTIVE", active);
      t.setNumber("SCORE", score);
      ASSERT_EQ(t.post(), 0);
    }
    ASSERT_EQ(t.go(2), 0);
    ASSERT_EQ(t.deleteRecord(), 0);
  }
  auto b = bytesOf(path);
  ASSERT_GE(b.size(), 32u);
  EXPECT_EQ(b[0], 0x03);
  EXPECT_EQ(le32(&b[4]), 2u);
  uint32_t headerLen = le16(&b[8]), recLen = le16(&b[10]);
  EXPECT_EQ(headerLen, 32u + 4 * 32 + 1);
  EXPECT_EQ(recLen, 1u + 20 + 8 + 1 + 6);
  EXPECT_EQ(b[28] & 1, 0);  // no index yet
  EXPECT_EQ(b[32 + 4 * 32], 0x0D);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[32 + 3 * 32])), "SCORE");
  EXPECT_EQ(b[32 + 3 * 32 + 11], 'N');
  EXPECT_EQ(b[32 + 3 * 32 + 16], 6);
  EXPECT_EQ(b[32 + 3 * 32 + 17], 2);
  EXPECT_EQ(le32(&b[32 + 12]), 0u);
  std::string rec1(reinterpret_cast<const char*>(&b[headerLen]), recLen);
  EXPECT_EQ(rec1, " smith               19700101T  1.50");
  EXPECT_EQ(b[headerLen + recLen], '*');
  EXPECT_EQ(b.size(), headerLen + 2 * recLen + 1);
  EXPECT_EQ(b.back(), 0x1A);

  std::string cmd = "dbview -b -t -d '|' -D " + path + " 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::string out;
  char buf[256];
  while (fgets(buf, sizeof buf, pipe.get())) out += buf;
  EXPECT_EQ(out, " |smith|19700101|T|1.50|\n*|Adams|x||F|-22.25|\n");
}

TEST(FileLayout, CdxTagDirectoryHeadersAndCompressedLeavesReadFromRawBytes) {
  xb::env() = xb::Env{};
  TempDir dir;
  std::string path = dir.file("OUT.DBF");
  ASSERT_EQ(xb::Table::create(path, {{"SUBJECT", 'C', 50, 0, 0},
                                     {"DATESENT", 'D', 8, 0, 0},
                                     {"TIMESENT", 'C', 5, 0, 0},
                                     {"ARCHIVED", 'L', 1, 0, 0}}),
            0);
  std::mt19937 rng(3);
  const char* words[] = {"Invoice", "Order", "invoice", "Quote", "Re: order", ""};
  std::vector<std::array<std::string, 4>> rows;
  {
    xb::Table t;
    ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0);
    ASSERT_EQ(t.createTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true), 0);
    ASSERT_EQ(t.createTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false), 0);
    ASSERT_EQ(t.createTag("ARCHIVED", "ARCHIVED", ".not. deleted()", false), 0);
    for (int i = 0; i < 3000; ++i) {
      std::string subject = std::string(words[rng() % 6]) + " " + std::to_string(rng() % 500);
      std::string date = rng() % 4 ? "2024" + std::to_string(10 + rng() % 3) + std::to_string(10 + rng() % 18) : "";
      std::string time = date.empty() ? "" : std::to_string(10 + rng() % 14) + ":" + std::to_string(10 + rng() % 50);
      bool archived = rng() % 3 == 0;
      ASSERT_EQ(t.appendBlank(), 0);
      t.setString("SUBJECT", subject);
      t.setDate("DATESENT", date);
      t.setString("TIMESENT", time);
      t.setLogical("ARCHIVED", archived);
      ASSERT_EQ(t.post(), 0);
      rows.push_back({subject, date, time, archived ? "T" : "F"});
    }
    for (uint32_t r = 5; r <= 3000; r += 7) {  // deleted records are in no tag
      ASSERT_EQ(t.go(r), 0);
      ASSERT_EQ(t.deleteRecord(), 0);
      rows[r - 1][0] = "<deleted>";
    }
  }
  EXPECT_EQ(bytesOf(path)[28] & 1, 1);  // structural index flag
  // Once as maintained record by record, once as built in one pass.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      xb::Table t;
      ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0);
      ASSERT_EQ(t.reindex(), 0);
    }
    RawCdx cdx(bytesOf(dir.file("OUT.CDX")));
    ASSERT_EQ(cdx.size() % 512, 0u);
    auto tags = rawTags(cdx);
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_EQ(tags[0].name, "DATESENT");  // creation order by header position
    EXPECT_EQ(tags[1].name, "SUBJECT");
    EXPECT_EQ(tags[2].name, "ARCHIVED");
    struct Want {
      const char* key;
      int keyLen;
      bool desc;
    } want[] = {{"DTOS(DATESENT)+TIMESENT", 13, true}, {"UPPER(SUBJECT)", 50, false}, {"ARCHIVED", 1, false}};
    for (size_t t = 0; t < 3; ++t) {
      const uint8_t* h = cdx.at(tags[t].header);
      EXPECT_EQ(le16(h + 12), uint32_t(want[t].keyLen));
      EXPECT_EQ(h[14], 0x68);
      EXPECT_EQ(h[15], 0x01);
      EXPECT_EQ(le16(h + 502), want[t].desc ? 1u : 0u);
      EXPECT_EQ(expr(h, 508, 510), want[t].key);
      EXPECT_EQ(expr(h, 504, 506), ".not. deleted()");
      EXPECT_EQ(le16(h + 510), std::strlen(want[t].key) + 1);
      // Expected entries from the rows, ascending by key then record number.
      std::vector<RawEntry> expected;
      for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i][0] == "<deleted>") continue;
        std::string key;
        if (t == 0)
          key = (rows[i][1].empty() ? std::string(8, ' ') : rows[i][1]) + rows[i][2] +
                std::string(5 - rows[i][2].size(), ' ');
        if (t == 1) {
          key = rows[i][0];
          for (auto& c : key) c = char(std::toupper(static_cast<unsigned char>(c)));
          key.resize(50, ' ');
        }
        if (t == 2) key = rows[i][3];
        expected.push_back({key, uint32_t(i + 1)});
      }
      std::sort(expected.begin(), expected.end(), [](const RawEntry& a, const RawEntry& b) {
        return a.key != b.key ? a.key < b.key : a.recno < b.recno;
      });
      auto got = cdx.entries(le32(h), want[t].keyLen, ' ');
      ASSERT_EQ(got.size(), expected.size()) << tags[t].name;
      for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].key, expected[i].key) << tags[t].name << " entry " << i;
        ASSERT_EQ(got[i].recno, expected[i].recno) << tags[t].name << " entry " << i;
      }
    }
  }
}

// Keys that come and go (faxes added, then deleted) empty whole leaves; their
// pages go to the free list and come back as new pages, so the file stops
// growing, and every tag stays readable from the raw bytes.
TEST(FileLayout, EmptiedIndexPagesAreReusedSoTheFileStopsGrowing) {
  xb::env() = xb::Env{};
  TempDir dir;
  std::string path = dir.file("OUT.DBF");
  ASSERT_EQ(xb::Table::create(path, {{"SUBJECT", 'C', 50, 0, 0}, {"CODE", 'C', 8, 0, 0}}), 0);
  std::mt19937 rng(11);
  std::vector<size_t> sizes;
  xb::Table t;
  ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0);
  ASSERT_EQ(t.createTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false), 0);
  ASSERT_EQ(t.createTag("CODE", "CODE", ".not. deleted()", false), 0);
  uint32_t firstNew = 1;
  std::vector<uint32_t> live;
  for (int cycle = 0; cycle < 30; ++cycle) {
    for (int i = 0; i < 800; ++i) {
      ASSERT_EQ(t.appendBlank(), 0);
      t.setString("SUBJECT", "Invoice " + std::to_string(rng() % 100000));
      t.setString("CODE", "C" + std::to_string(cycle * 1000 + i));
      ASSERT_EQ(t.post(), 0) << t.lastError();
    }
    // Delete, in random order, all but five of the live records.
    std::vector<uint32_t> recs = live;
    for (uint32_t r = firstNew; r <= t.recCount(); ++r) recs.push_back(r);
    std::shuffle(recs.begin(), recs.end(), rng);
    for (size_t i = 5; i < recs.size(); ++i) {
      ASSERT_EQ(t.go(recs[i]), 0);
      ASSERT_EQ(t.deleteRecord(), 0);
    }
    live.assign(recs.begin(), recs.begin() + 5);
    firstNew = t.recCount() + 1;
    ASSERT_EQ(t.commit(), 0);
    sizes.push_back(std::filesystem::file_size(dir.file("OUT.CDX")));
  }
  EXPECT_EQ(t.checkIndex(), 0) << t.lastError();
  t.close();
  // Without reuse every round adds its 60-odd pages; with it the size settles
  // at the most the rounds ever needed at once.
  EXPECT_LE(sizes.back(), sizes[9] + 4 * 512u) << "after round 10: " << sizes[9] << ", after 30: " << sizes.back();

  RawCdx cdx(bytesOf(dir.file("OUT.CDX")));
  auto tags = rawTags(cdx);
  ASSERT_EQ(tags.size(), 2u);
  for (const auto& tag : tags) {
    const uint8_t* h = cdx.at(tag.header);
    EXPECT_EQ(cdx.entries(le32(h), le16(h + 12), ' ').size(), 5u) << tag.name;
  }
  // The free list: pages of the file that no tree reaches, each named once.
  std::set<uint32_t> used(cdx.pagesSeen().begin(), cdx.pagesSeen().end());
  std::set<uint32_t> freePages;
  for (uint32_t p = le32(cdx.at(0) + 4); p != 0xFFFFFFFFu; p = le32(cdx.at(p))) {
    ASSERT_EQ(p % 512, 0u);
    ASSERT_LT(p, cdx.size());
    ASSERT_TRUE(freePages.insert(p).second) << "free list loops at " << p;
    EXPECT_EQ(used.count(p), 0u) << "page " << p << " is free and in use";
  }
  EXPECT_GT(freePages.size(), 0u);

  // Reopened, the list is read back and used before the file grows.
  ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0);
  const size_t before = std::filesystem::file_size(dir.file("OUT.CDX"));
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(t.appendBlank(), 0);
    t.setString("SUBJECT", "Order " + std::to_string(rng() % 100000));
    ASSERT_EQ(t.post(), 0);
  }
  ASSERT_EQ(t.commit(), 0);
  EXPECT_EQ(std::filesystem::file_size(dir.file("OUT.CDX")), before);
  EXPECT_EQ(t.checkIndex(), 0) << t.lastError();
}

}  // namespace
