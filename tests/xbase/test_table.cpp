// Table handle behaviour: navigation, orders, filters, deletion, seek, pack, and
// the index kept in step with random edits (checked against a plain model).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "test_util.h"
#include "xbase/xb_env.h"
#include "xbase/xb_table.h"

using xbtest::TempDir;

namespace {

struct EnvReset {
  EnvReset() { xb::env() = xb::Env{}; }
  ~EnvReset() { xb::env() = xb::Env{}; }
};

void addPerson(xb::Table& t, const std::string& name, const std::string& born, bool active, double score) {
  ASSERT_EQ(t.appendBlank(), 0) << t.lastError();
  ASSERT_EQ(t.setString("name", name), 0);
  ASSERT_EQ(t.setDate("BORN", born), 0) << t.lastError();
  ASSERT_EQ(t.setLogical("Active", active), 0);
  ASSERT_EQ(t.setNumber("SCORE", score), 0) << t.lastError();
  ASSERT_EQ(t.post(), 0) << t.lastError();
}

std::vector<std::string> namesInOrder(xb::Table& t) {
  std::vector<std::string> out;
  for (t.goTop(); !t.eof(); t.skip()) out.push_back(t.getTrimString("NAME"));
  return out;
}

std::vector<std::string> namesBackwards(xb::Table& t) {
  std::vector<std::string> out;
  for (t.goBottom(); !t.bof() && !t.eof(); t.skip(-1)) out.push_back(t.getTrimString("NAME"));
  return out;
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("PEOPLE.DBF");
    ASSERT_EQ(xb::Table::create(path, xbtest::peopleFields()), 0);
    ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0) << t.lastError();
    addPerson(t, "smith", "19700101", true, 1.5);
    addPerson(t, "Adams", "19650505", false, 2);
    addPerson(t, "osmith", "", true, -3.25);
    addPerson(t, "Baker", "20011231", true, 10);
  }
  EnvReset reset;
  TempDir dir;
  std::string path;
  xb::Table t;
};

TEST_F(TableTest, NaturalOrderRecnoConventionsAndFieldValues) {
  EXPECT_EQ(t.recCount(), 4u);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"smith", "Adams", "osmith", "Baker"}));
  EXPECT_EQ(namesBackwards(t), (std::vector<std::string>{"Baker", "osmith", "Adams", "smith"}));
  // At end of file the record number is count + 1 and the buffer is blank.
  ASSERT_EQ(t.goBottom(), 0);
  ASSERT_EQ(t.skip(), 0);
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.recNo(), 5u);
  EXPECT_EQ(t.getTrimString("NAME"), "");
  // Skipping back before the first record sets bof and stays on record 1.
  ASSERT_EQ(t.goTop(), 0);
  ASSERT_EQ(t.skip(-1), 0);
  EXPECT_TRUE(t.bof());
  EXPECT_EQ(t.recNo(), 1u);
  ASSERT_EQ(t.go(3), 0);
  EXPECT_EQ(t.getDate("BORN"), "        ");
  EXPECT_EQ(t.getDateString("BORN"), "");
  EXPECT_TRUE(t.getLogical("ACTIVE"));
  EXPECT_DOUBLE_EQ(t.getNumber("SCORE"), -3.25);
  EXPECT_EQ(t.getString("SCORE"), " -3.25");
  ASSERT_EQ(t.go(1), 0);
  xb::setCentury(true);
  EXPECT_EQ(t.getDateString("BORN"), "01/01/1970");
  EXPECT_EQ(t.go(9), -xb::xbNoRecord);
  EXPECT_TRUE(t.eof());
  // Bad values are refused without touching the record.
  ASSERT_EQ(t.go(1), 0);
  EXPECT_EQ(t.setNumber("SCORE", 1e9), -xb::xbBadArgument);
  EXPECT_EQ(t.setDate("BORN", "02/30/2001"), -xb::xbBadArgument);
  EXPECT_EQ(t.setString("NOPE", "x"), -xb::xbNoSuchField);
  t.cancel();
  EXPECT_DOUBLE_EQ(t.getNumber("SCORE"), 1.5);
}

TEST_F(TableTest, OrdersAscendingDescendingAndSeek) {
  ASSERT_EQ(t.createTag("NAME", "UPPER(NAME)", ".not. deleted()", false), 0) << t.lastError();
  ASSERT_EQ(t.createTag("BORN", "DTOS(BORN)", ".not. deleted()", true), 0) << t.lastError();
  ASSERT_EQ(t.createTag("SCORE", "SCORE", "", false), 0) << t.lastError();
  ASSERT_EQ(t.createTag("ACTIVE", "ACTIVE", "", false), 0) << t.lastError();
  EXPECT_EQ(t.tagCount(), 4);
  EXPECT_EQ(t.tagArea("born"), 2);
  EXPECT_EQ(t.tagArea("missing"), 0);
  ASSERT_EQ(t.setOrder("NAME"), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Adams", "Baker", "osmith", "smith"}));
  EXPECT_EQ(namesBackwards(t), (std::vector<std::string>{"smith", "osmith", "Baker", "Adams"}));
  ASSERT_EQ(t.setOrder(2), 0);  // newest first, blank date last
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Baker", "smith", "Adams", "osmith"}));
  EXPECT_EQ(namesBackwards(t), (std::vector<std::string>{"osmith", "Adams", "smith", "Baker"}));
  ASSERT_EQ(t.setOrder("SCORE"), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"osmith", "smith", "Adams", "Baker"}));
  ASSERT_EQ(t.setOrder("ACTIVE"), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Adams", "smith", "osmith", "Baker"}));

  ASSERT_EQ(t.setOrder("NAME"), 0);
  EXPECT_EQ(t.seek("OSM"), 1);  // partial key
  EXPECT_EQ(t.getTrimString("NAME"), "osmith");
  EXPECT_EQ(t.seek("CARTER"), 0);
  EXPECT_TRUE(t.eof());
  xb::env().softSeek = true;
  EXPECT_EQ(t.seek("CARTER"), 0);
  EXPECT_EQ(t.getTrimString("NAME"), "osmith");
  xb::env().softSeek = false;
  ASSERT_EQ(t.setOrder("BORN"), 0);
  EXPECT_EQ(t.seek("1970"), 1);
  EXPECT_EQ(t.getTrimString("NAME"), "smith");
  ASSERT_EQ(t.setOrder("SCORE"), 0);
  EXPECT_EQ(t.seek("10"), 1);
  EXPECT_EQ(t.getTrimString("NAME"), "Baker");
  ASSERT_EQ(t.setOrder("ACTIVE"), 0);
  EXPECT_EQ(t.seek("T"), 1);
  EXPECT_EQ(t.getTrimString("NAME"), "smith");
  // Scope limits the order to a key range.
  ASSERT_EQ(t.setOrder("NAME"), 0);
  ASSERT_EQ(t.setScope("B", "OZ"), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Baker", "osmith"}));
  EXPECT_EQ(t.countVisible(), 2u);
  t.clearScope();
  EXPECT_EQ(t.setOrder(7), -xb::xbNoSuchTag);
  EXPECT_EQ(t.createTag("NAME", "NAME", "", false), -xb::xbExists);
  EXPECT_EQ(t.createTag("BAD", "UPPER(NOFIELD)", "", false), -xb::xbUnknownName);
  EXPECT_NE(t.lastError().find("NOFIELD"), std::string::npos);
}

TEST_F(TableTest, EditsMoveRecordsWithinOrdersAndDeletedRecordsLeaveThem) {
  ASSERT_EQ(t.createTag("NAME", "UPPER(NAME)", ".not. deleted()", false), 0);
  xb::setDeleted(true);
  ASSERT_EQ(t.seek("ADAMS"), 1);
  ASSERT_EQ(t.setString("NAME", "Zed"), 0);
  ASSERT_EQ(t.post(), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Baker", "osmith", "smith", "Zed"}));
  ASSERT_EQ(t.seek("OSMITH"), 1);
  ASSERT_EQ(t.deleteRecord(), 0);
  EXPECT_TRUE(t.isDeleted());
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Baker", "smith", "Zed"}));
  EXPECT_EQ(t.countVisible(), 3u);
  EXPECT_EQ(t.recCount(), 4u);
  ASSERT_EQ(t.setOrder(0), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"smith", "Zed", "Baker"}));
  xb::setDeleted(false);
  EXPECT_EQ(t.countVisible(), 4u);
  // The marked record is still in the file, and no tag holds it.
  ASSERT_EQ(t.go(3), 0);
  EXPECT_TRUE(t.isDeleted());
  ASSERT_EQ(t.setOrder("NAME"), 0);
  EXPECT_EQ(t.visibleRecNos(), (std::vector<uint32_t>{4, 1, 2}));
  // Moving away posts a pending edit.
  ASSERT_EQ(t.go(1), 0);
  ASSERT_EQ(t.setString("NAME", "Aaron"), 0);
  ASSERT_EQ(t.goTop(), 0);
  EXPECT_EQ(t.getTrimString("NAME"), "Aaron");
  // Pack removes marked records for good and keeps the tags right.
  int last = -1;
  ASSERT_EQ(t.pack([&](int pct) { last = pct; }), 0) << t.lastError();
  EXPECT_EQ(last, 100);
  EXPECT_EQ(t.recCount(), 3u);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Aaron", "Baker", "Zed"}));
  t.close();
  EXPECT_EQ(std::filesystem::file_size(path), 32u + 4 * 32 + 1 + 3 * 36 + 1);
}

// A tag without a FOR clause keeps the keys of records marked deleted: with SET
// DELETED on they must still vanish from every way of listing that order, also
// for the first and last keys, for seeks and after a reopen; with it off they
// come back.
TEST_F(TableTest, DeletedRecordsVanishFromATagWithoutForClause) {
  ASSERT_EQ(t.createTag("SCORE", "SCORE", "", false), 0) << t.lastError();
  ASSERT_EQ(t.createTag("NAMEU", "UPPER(NAME)", "", false), 0) << t.lastError();
  xb::setDeleted(true);
  ASSERT_EQ(t.setOrder("SCORE"), 0);
  // The record holding the lowest key (osmith, -3.25), the highest (Baker, 10)
  // and one between (Adams, 2) are marked.
  ASSERT_EQ(t.goTop(), 0);
  ASSERT_EQ(t.getTrimString("NAME"), "osmith");
  ASSERT_EQ(t.deleteRecord(), 0) << t.lastError();
  ASSERT_EQ(t.goBottom(), 0);
  ASSERT_EQ(t.getTrimString("NAME"), "Baker");
  ASSERT_EQ(t.deleteRecord(), 0) << t.lastError();
  ASSERT_EQ(t.go(2), 0);
  ASSERT_EQ(t.deleteRecord(), 0) << t.lastError();

  auto expectOnlySmith = [&](const char* when) {
    SCOPED_TRACE(when);
    for (const char* tag : {"SCORE", "NAMEU"}) {
      SCOPED_TRACE(tag);
      ASSERT_EQ(t.setOrder(tag), 0);
      EXPECT_EQ(namesInOrder(t), std::vector<std::string>{"smith"});
      EXPECT_EQ(namesBackwards(t), std::vector<std::string>{"smith"});
      EXPECT_EQ(t.visibleRecNos(), std::vector<uint32_t>{1});
      EXPECT_EQ(t.countVisible(), 1u);
      ASSERT_EQ(t.goTop(), 0);
      EXPECT_EQ(t.recNo(), 1u);
      ASSERT_EQ(t.goBottom(), 0);
      EXPECT_EQ(t.recNo(), 1u);
      ASSERT_EQ(t.skip(), 0);
      EXPECT_TRUE(t.eof());
    }
    // A filtered order is listed another way (one pass over the table).
    ASSERT_EQ(t.setFilter("SCORE > -100"), 0);
    EXPECT_EQ(t.visibleRecNos(), std::vector<uint32_t>{1});
    EXPECT_EQ(t.countVisible(), 1u);
    EXPECT_EQ(namesInOrder(t), std::vector<std::string>{"smith"});
    ASSERT_EQ(t.setFilter(""), 0);
    ASSERT_EQ(t.setOrder("NAMEU"), 0);
    EXPECT_EQ(t.seek("BAKER"), 0);  // the key is there, the record is not listed
    EXPECT_EQ(t.seek("ADAMS"), 0);
    EXPECT_EQ(t.seek("SMITH"), 1);
    ASSERT_EQ(t.setOrder("SCORE"), 0);
    EXPECT_EQ(t.seek("10"), 0);
  };
  expectOnlySmith("after deleting");
  t.close();
  ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0) << t.lastError();
  expectOnlySmith("after a reopen");

  xb::setDeleted(false);
  ASSERT_EQ(t.setOrder("SCORE"), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"osmith", "smith", "Adams", "Baker"}));
  EXPECT_EQ(t.countVisible(), 4u);
  ASSERT_EQ(t.setOrder("NAMEU"), 0);
  EXPECT_EQ(t.visibleRecNos(), (std::vector<uint32_t>{2, 4, 3, 1}));
}

TEST_F(TableTest, FilterIsKeptAcrossReopenAndBadExpressionsAreRefused) {
  ASSERT_EQ(t.setFilter(".not. active"), 0);
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Adams"}));
  EXPECT_EQ(t.countVisible(), 1u);
  t.close();
  ASSERT_EQ(t.open(path), 0);
  EXPECT_EQ(t.filter(), ".not. active");
  EXPECT_EQ(namesInOrder(t), (std::vector<std::string>{"Adams"}));
  EXPECT_EQ(t.setFilter("name = "), -xb::xbExprSyntax);
  EXPECT_EQ(t.filter(), ".not. active");  // unchanged
  EXPECT_EQ(t.setFilter("name"), -xb::xbTypeMismatch);
  ASSERT_EQ(t.setFilter(""), 0);
  EXPECT_EQ(t.countVisible(), 4u);
  bool r = false;
  ASSERT_EQ(t.goTop(), 0);
  ASSERT_EQ(t.evalLogical("\"SMI\"$ALLTRIM(UPPER(NAME))", r), 0);
  EXPECT_TRUE(r);
  EXPECT_EQ(t.evalLogical("FOO(1)", r), -xb::xbUnknownName);
  EXPECT_NE(t.lastError().find("position 1"), std::string::npos) << t.lastError();
}

TEST_F(TableTest, TwoHandlesSeeEachOthersPosts) {
  xb::Table other;
  ASSERT_EQ(other.open(path), 0) << other.lastError();
  ASSERT_EQ(other.go(2), 0);
  ASSERT_EQ(t.go(2), 0);
  ASSERT_EQ(t.setString("NAME", "Changed"), 0);
  ASSERT_EQ(t.post(), 0);
  EXPECT_EQ(other.getTrimString("NAME"), "Changed");
  ASSERT_EQ(other.appendBlank(), 0);
  ASSERT_EQ(other.setString("NAME", "New"), 0);
  ASSERT_EQ(other.post(), 0);
  EXPECT_EQ(t.recCount(), 5u);
  ASSERT_EQ(t.goBottom(), 0);
  EXPECT_EQ(t.getTrimString("NAME"), "New");
}

// Random appends, key changes and deletions against a model: every tag must
// list exactly the model's live records in order, forwards and backwards,
// and survive a close and reopen.
TEST(TableIndexUpkeep, RandomEditsKeepEveryTagInStepWithTheTable) {
  EnvReset reset;
  TempDir dir;
  std::string path = dir.file("R.DBF");
  ASSERT_EQ(xb::Table::create(path, {{"K", 'C', 12, 0, 0}, {"N", 'N', 8, 0, 0}}), 0);
  xb::Table t;
  ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0);
  ASSERT_EQ(t.createTag("K", "K", ".not. deleted()", false), 0);
  ASSERT_EQ(t.createTag("KD", "UPPER(K)", ".not. deleted()", true), 0);
  ASSERT_EQ(t.createTag("N", "N", "", false), 0);
  xb::setDeleted(true);
  std::mt19937 rng(7);
  std::map<uint32_t, std::pair<std::string, int>> live;
  std::set<uint32_t> dead;
  auto randomKey = [&] {
    std::string s;
    int len = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < len; ++i) s += static_cast<char>('A' + rng() % 4);  // many shared prefixes
    return s;
  };
  for (int step = 0; step < 6000; ++step) {
    unsigned op = rng() % 10;
    if (op < 6 || live.empty()) {
      ASSERT_EQ(t.appendBlank(), 0);
      std::string k = randomKey();
      int n = static_cast<int>(rng() % 2000) - 1000;
      ASSERT_EQ(t.setString("K", k), 0);
      ASSERT_EQ(t.setNumber("N", n), 0);
      ASSERT_EQ(t.post(), 0) << t.lastError();
      live[t.recNo()] = {k, n};
    } else {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      ASSERT_EQ(t.go(it->first), 0);
      if (op < 8) {
        std::string k = randomKey();
        ASSERT_EQ(t.setString("K", k), 0);
        ASSERT_EQ(t.post(), 0);
        it->second.first = k;
      } else {
        ASSERT_EQ(t.deleteRecord(), 0);
        dead.insert(it->first);
        live.erase(it);
      }
    }
  }
  auto check = [&] {
    std::vector<std::pair<std::string, uint32_t>> byKey;
    std::vector<std::pair<int, uint32_t>> byNum;
    for (auto& [r, v] : live) {
      std::string padded = v.first + std::string(12 - v.first.size(), ' ');
      byKey.push_back({padded, r});
      byNum.push_back({v.second, r});
    }
    std::sort(byKey.begin(), byKey.end());
    std::sort(byNum.begin(), byNum.end());
    std::vector<uint32_t> want, wantDesc, wantNum;
    for (auto& p : byKey) want.push_back(p.second);
    for (auto it = byKey.rbegin(); it != byKey.rend(); ++it) wantDesc.push_back(it->second);
    for (auto& p : byNum) wantNum.push_back(p.second);
    ASSERT_EQ(t.setOrder("K"), 0);
    EXPECT_EQ(t.visibleRecNos(), want);
    std::vector<uint32_t> walked;
    for (t.goBottom(); !t.eof() && !t.bof(); t.skip(-1)) walked.push_back(t.recNo());
    std::reverse(walked.begin(), walked.end());
    EXPECT_EQ(walked, want);
    ASSERT_EQ(t.setOrder("KD"), 0);
    walked.clear();
    for (t.goTop(); !t.eof(); t.skip()) walked.push_back(t.recNo());
    EXPECT_EQ(walked, wantDesc);
    ASSERT_EQ(t.setOrder("N"), 0);  // no FOR: SET DELETED hides the marked ones
    EXPECT_EQ(t.visibleRecNos(), wantNum);
  };
  check();
  t.close();
  ASSERT_EQ(t.open(path, xb::OpenMode::Exclusive), 0) << t.lastError();
  check();
  ASSERT_EQ(t.pack(), 0);
  EXPECT_EQ(t.recCount(), live.size());
  EXPECT_EQ(t.countVisible(), live.size());
}

}  // namespace
