// What goes out as a page: header line tokens, the header block, cover pages
// (APF or text) and the byte stream of a page.
#include <gtest/gtest.h>

#include <fstream>

#include "fe_errors.h"
#include "mh_codec.h"
#include "send_pages.h"
#include "send_rig.h"
#include "send_text.h"
#include "t30.h"

namespace fe::test {
namespace {

std::vector<std::vector<uint8_t>> Decode(const std::vector<uint8_t>& data, unsigned width, TMhDecodeStats* stats) {
  std::vector<std::vector<uint8_t>> lines;
  *stats = MhDecodePage(data.data(), data.size(), false, width, [&](const uint8_t* l, unsigned n) {
    lines.emplace_back(l, l + n);
    return true;
  });
  return lines;
}

// Everything a stream hands out, with the modem's DLE doubling undone.
std::vector<uint8_t> Drain(TPageStream& s) {
  std::vector<uint8_t> all, block;
  while (s.Next(block) == 1) {
    for (size_t i = 0; i < block.size(); ++i) {
      all.push_back(block[i]);
      if (block[i] == t30::kDLE) {
        EXPECT_LT(i + 1, block.size());
        EXPECT_EQ(block[i + 1], t30::kDLE) << "single DLE at " << i;
        ++i;
      }
    }
  }
  return all;
}

TEST(HeaderLine, TokensAndUnknownTokensWithTheirWord) {
  THeaderValues v;
  v.stationId = "QN 1";
  v.sender = "Ann";
  v.recipient = "Bob";
  v.title = "Offer";
  v.page = 1;
  v.pages = 3;
  // A token runs to the next space, so what follows its letter goes with it.
  EXPECT_EQ(ExpandHeaderLine("From $F to $r: $S page $P of $n ($I)", v), "From Ann to Bob Offer page 1 of 3 (QN 1");
  EXPECT_EQ(ExpandHeaderLine("$Page/$N x $Qwerty y $ z", v), "1 x  y  z");
  EXPECT_EQ(ExpandHeaderLine("id $i", v), "id QN 1");
  EXPECT_EQ(ExpandHeaderLine("$", v), "");
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 11;
  tm.tm_mday = 7;
  tm.tm_hour = 9;
  tm.tm_min = 5;
  v.when = std::mktime(&tm);
  std::string dt = ExpandHeaderLine("$D $T", v);
  EXPECT_NE(dt.find("07"), std::string::npos) << dt;
  EXPECT_NE(dt.find("09:05"), std::string::npos) << dt;
}

TEST(HeaderLine, CoverIsPageOneOfThreeOnATwoPageFax) {
  std::vector<TSendPage> pages(3);
  pages[0].number = 0;
  pages[1].number = 1;
  pages[2].number = 2;
  EXPECT_EQ(HeaderPageNumber(pages, 0), 1);
  EXPECT_EQ(HeaderPageNumber(pages, 1), 2);
  EXPECT_EQ(HeaderPageNumber(pages, 2), 3);
  pages.erase(pages.begin());
  EXPECT_EQ(HeaderPageNumber(pages, 0), 1);
}

TEST(HeaderLine, BlockIsBlankLinesThenTextAtThePageWidth) {
  for (bool wide : {false, true}) {
    for (bool fine : {false, true}) {
      std::vector<uint8_t> block;
      ASSERT_EQ(BuildHeaderBlock(block, "QUILLON 123", fine, wide, 30, nullptr), 0);
      const unsigned width = wide ? 2048 : 1728;
      TMhDecodeStats stats;
      auto lines = Decode(block, width, &stats);
      EXPECT_TRUE(stats.clean()) << wide << fine;
      ASSERT_EQ(lines.size(), 8u + (fine ? 16u : 8u));
      for (int i = 0; i < 8; ++i) EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), 0), width / 8);
      size_t ink = 0;
      for (size_t i = 8; i < lines.size(); ++i) ink += width / 8 - std::count(lines[i].begin(), lines[i].end(), 0);
      EXPECT_GT(ink, 10u);
      // Eight blank lines of (6 + 25) bytes, the text lines padded to 30 bytes at least.
      EXPECT_GE(block.size(), 8u * 31u + (lines.size() - 8) * 30u);
    }
  }
}

struct Pages : ::testing::Test {
  std::string dir = TempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  ~Pages() override { std::filesystem::remove_all(dir); }
};

TEST_F(Pages, CoverKindFollowsTheExtensionAndPagesAreListedInOrder) {
  MakeFax(dir + "/body.apf", {pfHighRes, 0}, 4);
  MakeFax(dir + "/cover.Apf", {pfWide}, 4);
  std::ofstream(dir + "/cover.txt") << "Hello\n";
  std::vector<TSendPage> pages;
  ASSERT_EQ(ListFaxPages(dir + "/body.apf", dir + "/cover.Apf", "APF", pages), 0);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].kind, TSendPage::kApfPage);
  EXPECT_TRUE(pages[0].wide);
  EXPECT_EQ(pages[0].number, 0);
  EXPECT_TRUE(pages[1].fine);
  EXPECT_FALSE(pages[2].fine);
  EXPECT_EQ(pages[2].number, 2);
  ASSERT_EQ(ListFaxPages(dir + "/body.apf", dir + "/cover.txt", "APF", pages), 0);
  EXPECT_EQ(pages[0].kind, TSendPage::kTextCover);
  EXPECT_TRUE(pages[0].fine);  // the resolution of the fax's first page
  ASSERT_EQ(ListFaxPages("", dir + "/cover.txt", "APF", pages), 0);
  EXPECT_EQ(pages.size(), 1u);
  EXPECT_EQ(ListFaxPages("", "", "APF", pages), -ecNoFilename);
  std::ofstream(dir + "/bad.apf") << "APF11\x1a and more";
  EXPECT_EQ(ListFaxPages(dir + "/bad.apf", "", "APF", pages), -ecFaxBadFormat);
  EXPECT_EQ(ListFaxPages(dir + "/missing.apf", "", "APF", pages), -ecFileNotFound);
}

TEST_F(Pages, ApfPageStreamDropsLengthWordsPadsLinesAndDoublesDle) {
  MakeFax(dir + "/f.apf", {0}, 40, 3);
  std::vector<TSendPage> pages;
  ASSERT_EQ(ListFaxPages(dir + "/f.apf", "", "APF", pages), 0);
  TPageStream s;
  ASSERT_EQ(s.Open(pages[0], "", 20, nullptr, nullptr), 0);
  auto data = Drain(s);
  EXPECT_EQ(s.Done(), s.Length());
  TMhDecodeStats stats;
  auto lines = Decode(data, 1728, &stats);
  EXPECT_TRUE(stats.clean());
  EXPECT_TRUE(stats.rtc);
  ASSERT_EQ(lines.size(), 40u);
  for (unsigned l = 0; l < 40; ++l) EXPECT_EQ(lines[l], TestLine(1728, l, 3)) << l;
  EXPECT_GE(data.size(), 40u * 20u);
  // Without a minimum the same page is shorter: padding is what made the difference.
  TPageStream plain;
  ASSERT_EQ(plain.Open(pages[0], "", 0, nullptr, nullptr), 0);
  EXPECT_LT(Drain(plain).size(), data.size());
}

TEST_F(Pages, TextCoverIsRenderedLineByLineAndEndsWithRtc) {
  std::ofstream(dir + "/cover.txt") << "Dear Bob,\r\n\tthe offer:\n\nQuillon\n";
  TSendPage page;
  page.kind = TSendPage::kTextCover;
  page.file = dir + "/cover.txt";
  TPageStream s;
  ASSERT_EQ(s.Open(page, "HDR $P", 0, nullptr, nullptr), 0);
  auto data = Drain(s);
  TMhDecodeStats stats;
  auto lines = Decode(data, 1728, &stats);
  EXPECT_TRUE(stats.clean());
  EXPECT_TRUE(stats.rtc);
  // Header: 8 blank + 8 rows; then four text lines of the 16-row standard font.
  ASSERT_EQ(lines.size(), 16u + 4u * 16u);
  auto inkOf = [&](size_t from, size_t n) {
    size_t ink = 0;
    for (size_t i = from; i < from + n; ++i) ink += 216 - std::count(lines[i].begin(), lines[i].end(), 0);
    return ink;
  };
  EXPECT_GT(inkOf(16, 16), 0u);
  EXPECT_GT(inkOf(32, 16), 0u);
  EXPECT_EQ(inkOf(48, 16), 0u);  // the empty line
  EXPECT_GT(inkOf(64, 16), 0u);
}

}  // namespace
}  // namespace fe::test
