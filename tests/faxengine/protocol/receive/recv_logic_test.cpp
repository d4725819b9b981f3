// Receive-side logic that needs no modem: file naming, DLE decoding, training check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "rx_dle.h"
#include "rx_naming.h"

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

std::vector<std::uint8_t> DecodeInPieces(const std::vector<std::uint8_t>& in, const std::vector<std::size_t>& cuts,
                                         std::size_t* used, bool* ended) {
  fe::DleDecoder dec;
  std::vector<std::uint8_t> out;
  std::size_t pos = 0;
  *used = 0;
  for (std::size_t k = 0; k <= cuts.size() && !dec.Ended(); ++k) {
    const std::size_t end = k < cuts.size() ? cuts[k] : in.size();
    *used += dec.Feed(in.data() + pos, end - pos, out);
    pos = end;
  }
  *ended = dec.Ended();
  return out;
}

TEST(RecvDle, SequencesAcrossEveryFragmentBoundary) {
  // 'a' DLE DLE 'b' DLE 'c' DLE ETX then the modem's reply.
  const std::vector<std::uint8_t> in = {'a', 0x10, 0x10, 'b', 0x10, 'c', 0x10, 0x03, '\r', '\n', 'O', 'K'};
  const std::vector<std::uint8_t> want = {'a', 0x10, 'b', 'c'};
  for (std::size_t c1 = 0; c1 <= in.size(); ++c1) {
    for (std::size_t c2 = c1; c2 <= in.size(); ++c2) {
      std::size_t used;
      bool ended;
      auto out = DecodeInPieces(in, {c1, c2}, &used, &ended);
      ASSERT_TRUE(ended) << c1 << "," << c2;
      EXPECT_EQ(out, want) << c1 << "," << c2;
      EXPECT_EQ(used, 8u) << "the reply after DLE ETX must stay unread (" << c1 << "," << c2 << ")";
    }
  }
  // Byte by byte: a lone trailing DLE waits for the next byte.
  fe::DleDecoder dec;
  std::vector<std::uint8_t> out;
  std::uint8_t b = 0x10;
  EXPECT_EQ(dec.Feed(&b, 1, out), 1u);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(dec.Feed(&b, 1, out), 1u);
  EXPECT_EQ(out, std::vector<std::uint8_t>{0x10});
  EXPECT_FALSE(dec.Ended());
}

TEST(RecvDle, RandomStuffedDataRoundTrips) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> page(20000);
  for (auto& v : page) v = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0x10 : rng());
  std::vector<std::uint8_t> stuffed;
  for (auto v : page) {
    stuffed.push_back(v);
    if (v == 0x10) stuffed.push_back(0x10);
  }
  stuffed.push_back(0x10);
  stuffed.push_back(0x03);
  fe::DleDecoder dec;
  std::vector<std::uint8_t> out;
  std::size_t pos = 0;
  while (!dec.Ended()) {
    std::size_t n = std::min<std::size_t>(1 + rng() % 997, stuffed.size() - pos);
    pos += dec.Feed(stuffed.data() + pos, n, out);
  }
  EXPECT_EQ(pos, stuffed.size());
  EXPECT_EQ(out, page);
}

TEST(RecvTraining, TenPercentRule) {
  auto judge = [](std::size_t bytes, std::size_t nonZero) {
    std::vector<std::uint8_t> data(bytes, 0);
    for (std::size_t i = 0; i < nonZero; ++i) data[i * bytes / nonZero] = 0xff;
    fe::TrainingCheck t;
    t.Add(data.data(), data.size() / 2);
    t.Add(data.data() + data.size() / 2, data.size() - data.size() / 2);
    EXPECT_EQ(t.Bytes(), bytes);
    EXPECT_EQ(t.NonZero(), nonZero);
    return t.Good();
  };
  EXPECT_TRUE(judge(1000, 99));
  EXPECT_FALSE(judge(1000, 100));
  EXPECT_TRUE(judge(1728, 0));
  EXPECT_FALSE(judge(10, 1));
  fe::TrainingCheck none;
  EXPECT_FALSE(none.Good()) << "an empty training check must fail, not divide by zero";
}

}  // namespace
