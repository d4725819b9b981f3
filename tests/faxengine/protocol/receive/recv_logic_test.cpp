// Receive-side logic that needs no modem: file naming, DLE decoding, training check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "mh_codec.h"
#include "modem_reader.h"
#include "rx_naming.h"
#include "rx_t30.h"
#include "t30.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("qn-recv-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  void Touch(const std::string& name) const { std::ofstream(path / name) << "x"; }
};

TEST(RecvNaming, FirstFreeNumberAndFallback) {
  TempDir d;
  const std::string dir = d.path.string();
  EXPECT_EQ(fe::ReceiveFileName(dir, "APF"), dir + "/FAX0001.APF");
  EXPECT_EQ(fe::ReceiveFileName(dir + "/", "APF"), dir + "/FAX0001.APF");
  d.Touch("FAX0001.APF");
  d.Touch("FAX0002.APF");
  d.Touch("FAX0003.APF");
  fs::remove(d.path / "FAX0002.APF");
  EXPECT_EQ(fe::ReceiveFileName(dir, "APF"), dir + "/FAX0002.APF");
  // A name that differs only in letter case is taken too, and other extensions are not.
  d.Touch("fax0002.apf");
  d.Touch("FAX0004.TIF");
  EXPECT_EQ(fe::ReceiveFileName(dir, "APF"), dir + "/FAX0004.APF");
  for (int n = 1; n <= 9999; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "FAX%04d.APF", n);
    std::ofstream(d.path / name);
  }
  EXPECT_EQ(fe::ReceiveFileName(dir, "APF"), dir + "/NONAME.APF");
  EXPECT_EQ(fe::ReceiveFileName(dir, "APF", fe::TReceiveNaming::rnOther), dir + "/noname.apf");

  // Every overflow fax gets a file of its own: a name that is taken is never
  // reused, the next numbered one is created instead.
  std::vector<std::string> claimed;
  for (int i = 0; i < 3; ++i) {
    std::string name = fe::ReceiveFileName(dir, "APF");
    ASSERT_EQ(fe::ClaimReceiveFileName(name), 0);
    claimed.push_back(name);
  }
  EXPECT_EQ(claimed, (std::vector<std::string>{dir + "/NONAME.APF", dir + "/NONAME2.APF", dir + "/NONAME3.APF"}));
  d.Touch("NONAME.APF");  // the first overflow fax's contents
  std::string again = dir + "/NONAME.APF";
  ASSERT_EQ(fe::ClaimReceiveFileName(again), 0);
  EXPECT_EQ(again, dir + "/NONAME4.APF");
  std::ifstream first(d.path / "NONAME.APF");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(first), {}), "x");
}

TEST(RecvNaming, MonthDaySchemeAndEmptyFolder) {
  TempDir d;
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 2;
  tm.tm_mday = 7;
  tm.tm_hour = 12;
  const std::time_t t = std::mktime(&tm);
  d.Touch("03070001.APF");
  EXPECT_EQ(fe::ReceiveFileName(d.path.string(), "APF", fe::TReceiveNaming::rnMonthDay, t),
            d.path.string() + "/03070002.APF");
  EXPECT_EQ(fe::JoinDir("", "FAX0001.APF"), "FAX0001.APF");
}

// Page data reaches the engine in pieces cut anywhere; the modem reader must give
// the same page and leave the modem's reply after DLE ETX unread.
std::vector<std::uint8_t> DecodeInPieces(const std::vector<std::uint8_t>& in, const std::vector<std::size_t>& cuts,
                                         std::string* after, bool* ended) {
  fe::TModemReader r;
  std::vector<std::uint8_t> out;
  std::size_t pos = 0;
  *ended = false;
  for (std::size_t k = 0; k <= cuts.size(); ++k) {
    const std::size_t end = k < cuts.size() ? cuts[k] : in.size();
    r.Feed(in.data() + pos, end - pos);
    pos = end;
    if (!*ended) *ended = r.TakeBlock(out);
  }
  after->clear();
  r.TakeLine(*after);
  return out;
}

TEST(RecvDle, SequencesAcrossEveryFragmentBoundary) {
  // 'a' DLE DLE 'b' DLE 'c' DLE ETX then the modem's reply.
  const std::vector<std::uint8_t> in = {'a', 0x10, 0x10, 'b', 0x10, 'c', 0x10, 0x03, '\r', '\n', 'O', 'K', '\r', '\n'};
  const std::vector<std::uint8_t> want = {'a', 0x10, 'b', 'c'};
  for (std::size_t c1 = 0; c1 <= in.size(); ++c1) {
    for (std::size_t c2 = c1; c2 <= in.size(); ++c2) {
      std::string after;
      bool ended;
      auto out = DecodeInPieces(in, {c1, c2}, &after, &ended);
      ASSERT_TRUE(ended) << c1 << "," << c2;
      EXPECT_EQ(out, want) << c1 << "," << c2;
      EXPECT_EQ(after, "OK") << "the reply after DLE ETX must stay unread (" << c1 << "," << c2 << ")";
    }
  }
}

TEST(RecvDle, RandomStuffedDataRoundTrips) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> page(20000);
  for (auto& v : page) v = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0x10 : rng());
  std::vector<std::uint8_t> stuffed;
  fe::t30::AppendStuffed(stuffed, page.data(), page.size());
  stuffed.push_back(0x10);
  stuffed.push_back(0x03);
  fe::TModemReader r;
  std::vector<std::uint8_t> out;
  std::size_t pos = 0;
  bool ended = false;
  while (!ended && pos < stuffed.size()) {
    std::size_t n = std::min<std::size_t>(1 + rng() % 997, stuffed.size() - pos);
    r.Feed(stuffed.data() + pos, n);
    pos += n;
    ended = r.TakeBlock(out);
  }
  EXPECT_TRUE(ended);
  EXPECT_EQ(out, page);
}

TEST(RecvTraining, TenPercentRuleAndModulation) {
  EXPECT_TRUE(fe::t30::TrainingGood(99, 1000));
  EXPECT_FALSE(fe::t30::TrainingGood(100, 1000));
  EXPECT_TRUE(fe::t30::TrainingGood(0, 1728));
  EXPECT_FALSE(fe::t30::TrainingGood(0, 0)) << "an empty training check must fail, not divide by zero";
  // The receiver listens with the modulation the caller's DCS names: V.17 at
  // 9600 is not V.29 at 9600.
  auto dcs = [](int bps, bool v17) {
    fe::t30::DcsParams p;
    p.bps = bps;
    auto fif = fe::t30::BuildDcs(p);
    if (v17 && bps <= 9600) fif[1] |= 0x20;
    return fif;
  };
  EXPECT_EQ(fe::RxModulationCode(dcs(9600, false), 9600, true), "96");
  EXPECT_EQ(fe::RxModulationCode(dcs(9600, true), 9600, true), "97");
  EXPECT_EQ(fe::RxModulationCode(dcs(9600, true), 9600, false), "98");
  EXPECT_EQ(fe::RxModulationCode(dcs(7200, true), 7200, false), "74");
  EXPECT_EQ(fe::RxModulationCode(dcs(14400, true), 14400, true), "145");
  EXPECT_EQ(fe::RxModulationCode(dcs(14400, true), 14400, false), "146");
  EXPECT_EQ(fe::RxModulationCode(dcs(4800, false), 4800, false), "48");
  auto parsed = fe::t30::ParseDcs(dcs(9600, true));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->bps, 9600);
}

// Class 2 modems hand page data over in either bit order; the receiver must tell
// which from the start of a page, and never take clean data for reversed.
TEST(RecvBitOrder, TellsReversedPageData) {
  std::vector<std::uint8_t> line(216), coded(fe::kMaxCodedLine), page;
  std::mt19937 rng(3);
  for (int y = 0; y < 40; ++y) {
    std::fill(line.begin(), line.end(), 0);
    for (int k = 0; k < 6; ++k) line[rng() % 216] = static_cast<std::uint8_t>(rng());
    const std::size_t n = fe::MhEncodeLine(line.data(), 1728, 1728, false, coded.data());
    page.insert(page.end(), coded.begin(), coded.begin() + static_cast<long>(n));
  }
  EXPECT_FALSE(fe::PageDataLooksReversed(page.data(), page.size()));
  auto reversed = page;
  fe::ReverseBits(reversed.data(), reversed.size());
  EXPECT_TRUE(fe::PageDataLooksReversed(reversed.data(), reversed.size()));
  fe::ReverseBits(reversed.data(), reversed.size());
  EXPECT_EQ(reversed, page);
  EXPECT_FALSE(fe::PageDataLooksReversed(page.data(), 0));
  const std::vector<std::uint8_t> zeros(500, 0);
  EXPECT_FALSE(fe::PageDataLooksReversed(zeros.data(), zeros.size()));
}

// A Class 1 sender that pauses after CONNECT leaves ones (and stray bits) on the
// line before its first end of line; the page starts at that end of line's zeros.
TEST(RecvPageStart, FirstEndOfLineAfterFill) {
  using Bytes = std::vector<std::uint8_t>;
  Bytes data = {0xFF, 0xFF, 0x00, 0x80, 0xB2, 0x59};
  EXPECT_TRUE(fe::TrimToFirstEol(data));
  EXPECT_EQ(data, (Bytes{0x00, 0x80, 0xB2, 0x59}));
  // A clean page is kept as it came.
  data = {0x00, 0x80, 0xB2};
  EXPECT_TRUE(fe::TrimToFirstEol(data));
  EXPECT_EQ(data, (Bytes{0x00, 0x80, 0xB2}));
  // Fill bits sharing a byte with the zeros become zeros.
  data = {0x0F, 0x00, 0x01, 0x55};
  EXPECT_TRUE(fe::TrimToFirstEol(data));
  EXPECT_EQ(data, (Bytes{0x00, 0x00, 0x01, 0x55}));
  // Ten zeros then a one is no end of line; an unfinished run is kept for later.
  data = {0xFF, 0x00, 0x04, 0x00};
  EXPECT_FALSE(fe::TrimToFirstEol(data));
  EXPECT_EQ(data, (Bytes{0x04, 0x00}));
  data.push_back(0x08);
  EXPECT_TRUE(fe::TrimToFirstEol(data));
  EXPECT_EQ(data, (Bytes{0x00, 0x00, 0x08}));
  data = {0xFF, 0xFF};
  EXPECT_FALSE(fe::TrimToFirstEol(data));
  EXPECT_TRUE(data.empty());
}

}  // namespace
