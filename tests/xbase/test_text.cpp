// Text in every language: UTF-8 in fields, keys and expressions, tables from
// older programs in Windows-1252, fields cut between characters, letter cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "test_util.h"
#include "xbase/xb_env.h"
#include "xbase/xb_table.h"
#include "xbase/xb_text.h"

using xbtest::TempDir;

namespace {

const std::vector<std::string> kNames = {"Łukasz Dvořák", "Ελένη Παπαδοπούλου", "Jürgen Weiß",
                                         "山田太郎",      "Zoë Ångström",       "łucja Żak"};

std::vector<uint8_t> bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<std::string> inOrder(xb::Table& t) {
  std::vector<std::string> out;
  for (t.goTop(); !t.eof(); t.skip()) out.push_back(t.getTrimString("NAME"));
  return out;
}

struct Names {
  TempDir dir;
  std::string path = dir.file("NAMES.DBF");
  xb::Table t;
  Names() {
    xb::env() = xb::Env{};
    EXPECT_EQ(xb::Table::create(path, {{"NAME", 'C', 40, 0, 0}, {"CODE", 'C', 10, 0, 0}}), 0);
    EXPECT_EQ(t.open(path, xb::OpenMode::Exclusive), 0) << t.lastError();
  }
  void add(const std::string& name, const std::string& code = "") {
    ASSERT_EQ(t.appendBlank(), 0);
    ASSERT_EQ(t.setString("NAME", name), 0);
    ASSERT_EQ(t.setString("CODE", code), 0);
    ASSERT_EQ(t.post(), 0) << t.lastError();
  }
};

}  // namespace

TEST(TableText, NamesInEveryLanguageRoundTripAndSortAsTheirKeysSay) {
  Names n;
  for (const auto& name : kNames) n.add(name);
  ASSERT_EQ(n.t.createTag("NAME", "NAME", "", false), 0) << n.t.lastError();
  ASSERT_EQ(n.t.createTag("UNAME", "UPPER(NAME)", "", false), 0) << n.t.lastError();
  n.t.close();

  // Other xBase tools read the same bytes.
  std::string cmd = "dbview -b -t -d '|' " + n.path + " 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
  ASSERT_TRUE(pipe);
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe.get())) out += buf;
  for (const auto& name : kNames) EXPECT_NE(out.find(name), std::string::npos) << out;
  EXPECT_EQ(bytesOf(n.path)[29], xb::kUtf8LanguageByte);

  ASSERT_EQ(n.t.open(n.path, xb::OpenMode::Shared), 0);
  n.t.setOrder("NAME");
  std::vector<std::string> bytewise = kNames;
  std::sort(bytewise.begin(), bytewise.end());
  EXPECT_EQ(inOrder(n.t), bytewise);

  // UPPER() folds Polish, Greek and German letters: "łucja" files beside "Łukasz".
  n.t.setOrder("UNAME");
  std::vector<std::string> folded = kNames;
  std::sort(folded.begin(), folded.end(),
            [](const std::string& a, const std::string& b) { return xb::upperText(a) < xb::upperText(b); });
  EXPECT_EQ(inOrder(n.t), folded);
  auto got = inOrder(n.t);
  auto lukasz = std::find(got.begin(), got.end(), "Łukasz Dvořák");
  ASSERT_NE(lukasz, got.end());
  EXPECT_EQ(*(lukasz - 1), "łucja Żak");
  EXPECT_EQ(n.t.seek("ΕΛΈΝΗ"), 1);
  EXPECT_EQ(n.t.getTrimString("NAME"), "Ελένη Παπαδοπούλου");

  bool match = false;
  n.t.setOrder(0);
  n.t.goTop();
  ASSERT_EQ(n.t.evalLogical("\"ŁUKASZ\" $ UPPER(NAME) .or. UPPER(NAME) = \"JÜRGEN WEISS\"", match), 0);
  EXPECT_TRUE(match);
  ASSERT_EQ(n.t.setFilter("UPPER(NAME) = \"JÜRGEN WEIß\""), 0);
  EXPECT_EQ(n.t.countVisible(), 1u);
  EXPECT_EQ(n.t.checkIndex(), 0) << n.t.lastError();
}

TEST(TableText, LimitsCountBytesAndNeverSplitACharacter) {
  Names n;
  n.add("x", "ŁŁŁŁŁŁ");  // 12 bytes for a 10-byte field: five letters fit
  EXPECT_EQ(n.t.getTrimString("CODE"), "ŁŁŁŁŁ");
  n.add("x", "abcdefghiŁ");  // the last letter would need bytes 10 and 11
  EXPECT_EQ(n.t.getTrimString("CODE"), "abcdefghi");
  n.add("x", "山田太郎");  // 3 bytes each: three fit
  EXPECT_EQ(n.t.getTrimString("CODE"), "山田太");
  EXPECT_TRUE(xb::isUtf8(n.t.getString("CODE")));

  // Bytes that are not UTF-8 are taken as Windows-1252 and stored as UTF-8.
  n.add("M\xfcller \x80 \x8a");
  EXPECT_EQ(n.t.getTrimString("NAME"), "Müller € Š");
}

TEST(TableText, TablesFromOlderProgramsKeepTheirAccentsAndGetAFreshIndex) {
  Names n;
  n.add("Zeller");
  n.add("Amsel");
  n.add("PLACEHOLDER1");
  ASSERT_EQ(n.t.createTag("UNAME", "UPPER(NAME)", "", false), 0);
  n.t.close();

  // As an older program wrote it: Windows-1252 bytes, no UTF-8 mark, and an
  // index whose keys came from those bytes (stamp still matching).
  auto raw = bytesOf(n.path);
  raw[29] = 0;
  const uint32_t headerLen = raw[8] | (raw[9] << 8), recLen = raw[10] | (raw[11] << 8);
  const std::string legacy = "\xd6sterreich \xe9t\xe9 \x9c";  // Österreich été œ
  uint8_t* third = &raw[headerLen + 2 * recLen + 1];
  std::memset(third, ' ', 40);
  std::memcpy(third, legacy.data(), legacy.size());
  writeBytes(n.path, raw);

  xb::Table ro;
  ASSERT_EQ(ro.open(n.path, xb::OpenMode::ReadOnly), 0) << ro.lastError();
  ro.go(3);
  EXPECT_EQ(ro.getTrimString("NAME"), "Österreich été œ");
  ro.close();
  EXPECT_EQ(bytesOf(n.path)[29], 0) << "a read-only opening changes nothing";

  ASSERT_EQ(n.t.open(n.path, xb::OpenMode::Exclusive), 0) << n.t.lastError();
  EXPECT_EQ(bytesOf(n.path)[29], xb::kUtf8LanguageByte);
  EXPECT_EQ(n.t.checkIndex(), 0) << n.t.lastError();
  n.t.setOrder("UNAME");
  EXPECT_EQ(n.t.seek("ÖSTERREICH"), 1);
  EXPECT_EQ(n.t.recNo(), 3u);
  EXPECT_EQ(inOrder(n.t), (std::vector<std::string>{"Amsel", "Zeller", "Österreich été œ"}));
  // Written again, the value becomes UTF-8 and the index follows.
  ASSERT_EQ(n.t.go(3), 0);
  ASSERT_EQ(n.t.setString("NAME", n.t.getTrimString("NAME") + "!"), 0);
  ASSERT_EQ(n.t.post(), 0);
  EXPECT_TRUE(xb::isUtf8(std::string(reinterpret_cast<const char*>(n.t.recordBuffer().data()) + 1, 40)));
  EXPECT_EQ(n.t.checkIndex(), 0) << n.t.lastError();
}

TEST(TableText, UpperAndLowerChangeTheLettersTheySupportAndKeepTheLength) {
  const std::string mixed = "straße łódź ŽŠČ ωμέγα ς ÿ ёж İı ſ 山";
  const std::string up = xb::upperText(mixed);
  EXPECT_EQ(up, "STRAßE ŁÓDŹ ŽŠČ ΩΜΈΓΑ Σ Ÿ ЁЖ İı ſ 山");
  EXPECT_EQ(xb::lowerText("ŁÓDŹ ΆΣΤΡΑ ЁЖ Ÿ ĹĽ"), "łódź άστρα ёж ÿ ĺľ");
  EXPECT_EQ(up.size(), mixed.size());
  EXPECT_EQ(xb::textFromBytes("caf\xe9"), "café");
  EXPECT_EQ(xb::textFromBytes("café"), "café");
  EXPECT_FALSE(xb::isUtf8("\xc3"));          // cut sequence
  EXPECT_FALSE(xb::isUtf8("\xc0\xaf"));      // overlong
  EXPECT_FALSE(xb::isUtf8("\xed\xa0\x80"));  // surrogate
  EXPECT_EQ(xb::fitText("aé", 2), 1u);
}
