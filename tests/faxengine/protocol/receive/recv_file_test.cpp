// The received-fax file: page bookkeeping, retransmitted pages, failures half-way.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fe_errors.h"
#include "mh_codec.h"
#include "rx_file.h"

namespace fs = std::filesystem;

namespace {

struct Page {
  std::uint16_t flags;
  std::vector<std::uint8_t> data;
};

std::uint32_t Get(const std::vector<std::uint8_t>& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
  return v;
}

// Walks the file the way every reader does and checks that the walk ends exactly at
// the end of the file.
std::vector<Page> ReadPages(const std::string& name, std::string* id = nullptr, bool exactEnd = true) {
  std::ifstream in(name, std::ios::binary);
  std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  EXPECT_GE(b.size(), 64u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 6), std::string("APF10\x1a"));
  EXPECT_EQ(Get(b, 34, 4), 64u);
  if (id) *id = std::string(b.begin() + 11, b.begin() + 11 + b[10]);
  std::vector<Page> pages;
  std::size_t pos = 64;
  for (unsigned n = Get(b, 32, 2); n > 0; --n) {
    const std::uint32_t len = Get(b, pos, 4);
    Page p{static_cast<std::uint16_t>(Get(b, pos + 4, 2)), {}};
    p.data.assign(b.begin() + pos + 16, b.begin() + pos + 16 + len);
    pages.push_back(p);
    pos += 16 + len;
  }
  EXPECT_LE(pos, b.size());
  if (exactEnd) {
    EXPECT_EQ(pos, b.size()) << "bytes behind the last page";
  }
  return pages;
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t v) {
  return std::vector<std::uint8_t>(n, v);
}

struct RecvFileTest : ::testing::Test {
  std::string name = (fs::temp_directory_path() / ("qn-rxfile-" + std::to_string(::getpid()) + ".apf")).string();
  void TearDown() override { fs::remove(name); }
};

TEST_F(RecvFileTest, PagesRetransmissionAndHeader) {
  fe::RxFaxFile f;
  ASSERT_EQ(f.Create(name, "REMOTE 1"), 0);
  ASSERT_EQ(f.BeginPage(fe::RxFaxFile::kFine), 0);
  auto p1 = Bytes(3000, 0x11);
  ASSERT_EQ(f.Append(p1.data(), 1000), 0);
  ASSERT_EQ(f.Append(p1.data() + 1000, 2000), 0);
  ASSERT_EQ(f.EndPage(), 0);
  // The header is true after every finished page, before the file is closed.
  auto mid = ReadPages(name);
  ASSERT_EQ(mid.size(), 1u);
  // Page 2 refused, then sent again shorter: the second copy replaces the first.
  ASSERT_EQ(f.BeginPage(fe::RxFaxFile::kWide), 0);
  auto bad = Bytes(5000, 0x22);
  ASSERT_EQ(f.Append(bad.data(), bad.size()), 0);
  ASSERT_EQ(f.RestartPage(), 0);
  auto p2 = Bytes(700, 0x33);
  ASSERT_EQ(f.Append(p2.data(), p2.size()), 0);
  ASSERT_EQ(f.EndPage(), 0);
  // A page that ended without data (a page carrier with no image) is no page,
  // whether it is ended or cut off at close.
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.EndPage(), 0);
  EXPECT_EQ(f.Pages(), 2u);
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.Close(), 0);
  std::string id;
  auto pages = ReadPages(name, &id);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].flags, 1);
  EXPECT_EQ(pages[0].data, p1);
  EXPECT_EQ(pages[1].flags, 2);
  EXPECT_EQ(pages[1].data, p2);
  EXPECT_EQ(id, "REMOTE 1            ");
}

TEST_F(RecvFileTest, UnfinishedPageIsKeptOnClose) {
  fe::RxFaxFile f;
  ASSERT_EQ(f.Create(name, ""), 0);
  auto p = Bytes(100, 0x44);
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.Append(p.data(), p.size()), 0);
  ASSERT_EQ(f.Close(), 0);
  auto pages = ReadPages(name);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].data, p);
}

TEST_F(RecvFileTest, FullDiskLeavesValidFileWithFinishedPages) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  fe::RxFaxFile f;
  auto p = Bytes(1500, 0x55);
  int rc = f.Create(name, "X");
  if (rc == 0) rc = f.BeginPage(0);
  if (rc == 0) rc = f.Append(p.data(), p.size());
  if (rc == 0) rc = f.EndPage();
  const int firstPage = rc;
  if (rc == 0) rc = f.BeginPage(1);
  for (int i = 0; i < 10 && rc == 0; ++i) rc = f.Append(p.data(), p.size());
  // The writer may notice the full disk only when it writes out its buffer.
  const int closed = f.Close();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(firstPage, 0);
  EXPECT_TRUE(rc == -fe::ecDiskFull || closed == -fe::ecDiskFull) << rc << " " << closed;
  // Whatever did not fit, the header describes exactly the page that was finished.
  auto pages = ReadPages(name, nullptr, false);
  ASSERT_GE(pages.size(), 1u);
  EXPECT_LE(pages.size(), 2u);
  EXPECT_EQ(pages[0].data, p);
}

TEST_F(RecvFileTest, CreateFailures) {
  fe::RxFaxFile f;
  EXPECT_LT(f.Create("/nonexistent-dir/FAX0001.APF", "X"), 0);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(fs::exists("/nonexistent-dir"));
  EXPECT_EQ(f.Create("", "X"), -fe::ecFileNotFound);
  EXPECT_EQ(f.Create("/dev/full", "X"), -fe::ecDiskFull);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.Close(), 0);
}

}  // namespace

namespace {

// An MMR page of a wide fax and an MR page with a damaged line: both are
// stored as MH lines of the page's width (2048 for wide), the damaged line as a
// copy of the one before, and nothing is written without an open page.
TEST_F(RecvFileTest, TwoDimensionalPagesAreStoredAsMhLines) {
  auto raster = [](unsigned width, unsigned lines) {
    std::vector<std::uint8_t> r(width / 8 * lines, 0);
    for (unsigned y = 0; y < lines; ++y)
      for (unsigned x = (y * 53) % (width - 300); x < (y * 53) % (width - 300) + 40 + y % 200; ++x)
        r[y * (width / 8) + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    // The last line ends black at the right edge: a colour change at the line end.
    r[lines * (width / 8) - 1] = 0xFF;
    return r;
  };
  const auto wide = raster(2048, 30), narrow = raster(1728, 30);
  const auto mmr = fe::EncodePage2d(fe::TFaxCoding::MMR, wide.data(), 30, 2048);
  auto mr = fe::EncodePage2d(fe::TFaxCoding::MR, narrow.data(), 30, 1728, 2);
  mr[mr.size() / 2] ^= 0xFF;  // a damaged line somewhere in the middle

  fe::RxFaxFile f;
  ASSERT_EQ(f.Create(name, "ID"), 0);
  EXPECT_EQ(f.AppendDecoded(mmr.data(), mmr.size(), fe::TFaxCoding::MMR), -fe::ecFileNotOpenForOutput);
  ASSERT_EQ(f.BeginPage(fe::RxFaxFile::kWide), 0);
  fe::T2dDecodeStats st;
  ASSERT_EQ(f.AppendDecoded(mmr.data(), mmr.size(), fe::TFaxCoding::MMR, &st), 0);
  EXPECT_TRUE(st.clean() && st.eofb);
  ASSERT_EQ(f.EndPage(), 0);
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.AppendDecoded(mr.data(), mr.size(), fe::TFaxCoding::MR, &st), 0);
  EXPECT_GT(st.badLines, 0u);
  EXPECT_GE(st.lines, 28u);  // the damage may merge lines: the decoder resumes at the next EOL
  ASSERT_EQ(f.EndPage(), 0);
  ASSERT_EQ(f.Close(), 0);

  const auto pages = ReadPages(name);
  ASSERT_EQ(pages.size(), 2u);
  auto decode = [](const Page& p, unsigned width) {
    std::vector<std::uint8_t> out;
    fe::MhDecodePage(p.data.data(), p.data.size(), false, width, [&](const std::uint8_t* line, unsigned bytes) {
      out.insert(out.end(), line, line + bytes);
      return true;
    });
    return out;
  };
  EXPECT_EQ(pages[0].flags, fe::RxFaxFile::kWide);
  EXPECT_EQ(decode(pages[0], 2048), wide);
  const auto back = decode(pages[1], 1728);
  ASSERT_EQ(back.size(), st.lines * 216u);
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 216, narrow.begin())) << "the first line is intact";
  EXPECT_TRUE(std::equal(back.end() - 216, back.end(), narrow.end() - 216)) << "the last line is intact";
}

}  // namespace
