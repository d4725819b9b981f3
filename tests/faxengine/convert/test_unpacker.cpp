// The unpacker: aspect correction, whitespace compression, scaling, bitmaps,
// exported images read back by ImageMagick and netpbm, both page data forms.
#include <gtest/gtest.h>

#include <cstring>

#include "apf_writer.h"
#include "fe_exceptions.h"
#include "fe_fax_unpacker.h"
#include "mh_codec.h"
#include "test_util.h"

using namespace fe;
namespace fs = std::filesystem;

namespace {

using Raster = std::vector<std::uint8_t>;

// Line y of a test page: a short bar whose position follows y, or blank.
Raster TestLine(unsigned y, unsigned width = 1728) {
  Raster line(width / 8, 0);
  line[(y * 7) % (width / 8)] = 0xF0;
  line[0] |= 0x80;
  return line;
}

// Writes pages of line records; each page is a list of raster lines.
void WriteApf(const fs::path& path, const std::vector<std::vector<Raster>>& pages, std::uint16_t flags) {
  TApfWriter w;
  ASSERT_EQ(w.Create(path), 0);
  for (const auto& page : pages) {
    ASSERT_EQ(w.BeginPage(std::uint16_t(flags | pfLineRecords)), 0);
    for (const auto& line : page) ASSERT_EQ(w.AppendRasterLine(line.data(), unsigned(line.size() * 8)), 0);
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Close(), 0);
}

std::vector<Raster> Lines(unsigned count) {
  std::vector<Raster> lines;
  for (unsigned y = 0; y < count; ++y) lines.push_back(TestLine(y));
  return lines;
}

fe_test::Bitmap FromImage(const QImage& img) {
  fe_test::Bitmap b;
  b.width = unsigned(img.width());
  b.height = unsigned(img.height());
  const unsigned stride = (b.width + 7) / 8;
  for (unsigned y = 0; y < b.height; ++y) {
    const uchar* s = img.constScanLine(int(y));
    b.bits.insert(b.bits.end(), s, s + stride);
  }
  return b;
}

bool Same(const fe_test::Bitmap& a, const fe_test::Bitmap& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (unsigned y = 0; y < a.height; ++y)
    for (unsigned x = 0; x < a.width; ++x)
      if (a.black(x, y) != b.black(x, y)) return false;
  return true;
}

}  // namespace

TEST(Unpacker, AspectCorrectionAndBitmap) {
  const auto dir = fe_test::TempDir("aspect");
  const auto lines = Lines(1100);
  WriteApf(dir / "std.apf", {lines}, 0);
  TFeFaxUnpacker u;
  u.InFileName = dir / "std.apf";
  EXPECT_EQ(u.NumPages(), 1u);
  EXPECT_EQ(u.PageResolution(), frNormal);
  EXPECT_EQ(u.PageWidth(), fwNormal);
  auto img = u.UnpackPageToBitmap(1);  // asDoubleHeight by default
  ASSERT_EQ(img->height(), 2200);
  ASSERT_EQ(img->width(), 1728);
  EXPECT_EQ(qGray(img->pixel(0, 0)), 0);  // black shows as black
  EXPECT_EQ(qGray(img->pixel(4, 0)), 255);
  for (unsigned y = 0; y < 1100; y += 97)
    for (unsigned k = 0; k < 2; ++k)
      EXPECT_EQ(std::memcmp(img->constScanLine(int(2 * y + k)), lines[y].data(), 216), 0) << y;
  u.AutoScaleMode = asHalfWidth;
  img = u.UnpackPageToBitmap(1);
  EXPECT_EQ(img->height(), 1100);
  EXPECT_EQ(img->width(), 864);
  EXPECT_EQ(qGray(img->pixel(0, 0)), 0);
  u.AutoScaleMode = asNone;
  EXPECT_EQ(u.UnpackPageToBitmap(1)->height(), 1100);
  // High-resolution pages are never corrected.
  WriteApf(dir / "fine.apf", {Lines(10)}, pfHighRes | pfWide);
  u.InFileName = dir / "fine.apf";
  u.AutoScaleMode = asDoubleHeight;
  EXPECT_EQ(u.PageResolution(), frHigh);
  EXPECT_EQ(u.PageWidth(), fwWide);
  img = u.UnpackPageToBitmap(1);
  EXPECT_EQ(img->height(), 10);
  EXPECT_EQ(img->width(), 2048);
  // Taller than 32767 lines: 8054. Page out of range: 8001.
  WriteApf(dir / "tall.apf", {std::vector<Raster>(16400, Raster(216, 0))}, 0);
  u.InFileName = dir / "tall.apf";
  try {
    u.UnpackPageToBitmap(1);
    FAIL();
  } catch (const EFeException& e) {
    EXPECT_EQ(e.ErrorCode(), -8054);
  }
  EXPECT_THROW(u.UnpackPageToBitmap(2), EFaxBadFormat);
}

TEST(Unpacker, WhitespaceCompressionAndScaling) {
  const auto dir = fe_test::TempDir("whitespace");
  const Raster ink = TestLine(3), blank(216, 0);
  std::vector<Raster> page{ink};
  page.insert(page.end(), 30, blank);
  page.push_back(ink);
  page.insert(page.end(), 10, blank);
  page.push_back(ink);
  page.insert(page.end(), 25, blank);  // a gap at the page end is shortened too
  WriteApf(dir / "ws.apf", {page}, pfHighRes);
  TFeFaxUnpacker u;
  u.InFileName = dir / "ws.apf";
  u.WhitespaceCompression = true;
  u.WhitespaceFrom = 20;
  u.WhitespaceTo = 5;
  auto img = u.UnpackPageToBitmap(1);
  EXPECT_EQ(img->height(), 1 + 5 + 1 + 10 + 1 + 5);
  // Refused settings: 1002.
  for (auto [from, to] : {std::pair{3u, 5u}, std::pair{0u, 2u}}) {
    u.WhitespaceFrom = from;
    u.WhitespaceTo = to;
    try {
      u.UnpackPageToBitmap(1);
      FAIL();
    } catch (const EBadArgument& e) {
      EXPECT_EQ(e.ErrorCode(), -1002);
    }
  }
  u.WhitespaceCompression = false;
  // Scaling: half the width (a 1-pixel column survives the reduction), 3/2 the height.
  u.Scaling = true;
  u.HorizMult = 1;
  u.HorizDiv = 2;
  u.VertMult = 3;
  u.VertDiv = 2;
  img = u.UnpackPageToBitmap(1);
  EXPECT_EQ(img->width(), 864);
  EXPECT_EQ(img->height(), int(page.size() * 3 / 2));
  EXPECT_EQ(qGray(img->pixel(0, 0)), 0);
  // Factors of 0 count as 1.
  u.HorizMult = u.HorizDiv = u.VertMult = u.VertDiv = 0;
  EXPECT_EQ(u.UnpackPageToBitmap(1)->height(), int(page.size()));
}

TEST(Unpacker, RawStreamAndLineRecordsDecodeAlike) {
  const auto dir = fe_test::TempDir("raw");
  const auto lines = Lines(50);
  TApfWriter w;
  ASSERT_EQ(w.Create(dir / "both.apf"), 0);
  ASSERT_EQ(w.BeginPage(pfLineRecords), 0);
  for (const auto& l : lines) ASSERT_EQ(w.AppendRasterLine(l.data(), 1728), 0);
  ASSERT_EQ(w.EndPage(), 0);
  ASSERT_EQ(w.BeginPage(0), 0);  // as a modem delivers it: coded lines, no length words
  std::vector<std::uint8_t> coded(kMaxCodedLine);
  for (const auto& l : lines) {
    const std::size_t n = MhEncodeLine(l.data(), 1728, 1728, false, coded.data());
    ASSERT_EQ(w.AppendRaw(coded.data(), n), 0);
  }
  ASSERT_EQ(w.AppendRaw(coded.data(), MhEncodeRtc(coded.data())), 0);
  ASSERT_EQ(w.EndPage(), 0);
  ASSERT_EQ(w.Close(), 0);
  const auto pages = fe_test::DecodeApf(dir / "both.apf");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].rows, lines);
  EXPECT_EQ(pages[1].rows, lines);
}

// The decoder's damage counts reach the unpacker's caller: a received page with
// a line too long for it is told apart from a clean one, page by page.
TEST(Unpacker, TellsDamagedPages) {
  const auto dir = fe_test::TempDir("damage");
  const auto lines = Lines(20);
  std::vector<std::uint8_t> coded(kMaxCodedLine);
  TApfWriter w;
  ASSERT_EQ(w.Create(dir / "rx.apf"), 0);
  for (int page = 0; page < 2; ++page) {
    ASSERT_EQ(w.BeginPage(0), 0);
    for (const auto& l : lines)
      ASSERT_EQ(w.AppendRaw(coded.data(), MhEncodeLine(l.data(), 1728, 1728, false, coded.data())), 0);
    if (page == 1) {
      // A line of a wider page: its runs go past the 1728 pixels.
      Raster wide(256, 0);
      wide[250] = 0xFF;
      ASSERT_EQ(w.AppendRaw(coded.data(), MhEncodeLine(wide.data(), 2048, 2048, false, coded.data())), 0);
    }
    ASSERT_EQ(w.AppendRaw(coded.data(), MhEncodeRtc(coded.data())), 0);
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Close(), 0);

  TFeFaxUnpacker u;
  u.InFileName = (dir / "rx.apf").string();
  ASSERT_TRUE(u.UnpackPageToBitmap(1));
  EXPECT_FALSE(u.LastPageDamaged());
  ASSERT_TRUE(u.UnpackPageToBitmap(2));
  EXPECT_TRUE(u.LastPageDamaged());
  EXPECT_GE(u.LastPageStats().longLines, 1u);
  EXPECT_EQ(u.LastPageStats().lines, 21u);  // still unpacked as far as it reads

  std::vector<bool> damaged;
  u.OnOutputLine = [&](TFeFaxUnpacker& self, bool, bool ending, const std::uint8_t*, unsigned, unsigned) {
    if (ending) damaged.push_back(self.LastPageDamaged());
  };
  ASSERT_EQ(u.DoUnpack(1, 0), 0);
  EXPECT_EQ(damaged, (std::vector<bool>{false, true}));
}

TEST(Unpacker, AbortAndStatus) {
  const auto dir = fe_test::TempDir("abort");
  WriteApf(dir / "a.apf", {Lines(300), Lines(300)}, 0);
  TFeFaxUnpacker u;
  u.InFileName = dir / "a.apf";
  std::uint64_t last = 0, total = 0;
  unsigned calls = 0, starts = 0, ends = 0;
  u.OnStatus = [&](TFeFaxUnpacker& s, const std::string&, unsigned page, std::uint64_t done, std::uint64_t all) {
    EXPECT_GE(done, last);
    last = done;
    total = all;
    if (++calls == 400) s.Abort();
    EXPECT_GE(page, 1u);
  };
  u.OnOutputLine = [&](TFeFaxUnpacker&, bool s, bool e, const std::uint8_t*, unsigned, unsigned) {
    starts += s;
    ends += e;
  };
  u.UnpackFile();  // without uoAbort the request is ignored
  EXPECT_EQ(starts, 2u);
  EXPECT_EQ(ends, 2u);
  EXPECT_EQ(total, fs::file_size(dir / "a.apf"));
  EXPECT_LE(last, total);
  u.Options = uoAbort;
  calls = 0;
  last = 0;
  EXPECT_THROW(u.UnpackFile(), EUnpackAbort);
  EXPECT_EQ(calls, 400u);
}

TEST(Unpacker, ExportsReadBackByPeers) {
  const auto dir = fe_test::TempDir("export");
  // A page with detail at both edges, and a wide fine page.
  auto pattern = fe_test::Pattern(1728, 300);
  std::vector<Raster> page;
  for (unsigned y = 0; y < pattern.height; ++y)
    page.emplace_back(pattern.bits.begin() + y * 216, pattern.bits.begin() + (y + 1) * 216);
  WriteApf(dir / "p.apf", {page}, 0);
  TFeFaxUnpacker u;
  u.InFileName = dir / "p.apf";
  const auto expected = FromImage(*u.UnpackPageToBitmap(1));
  ASSERT_EQ(expected.height, 600u);

  u.OutFileName = dir / "out";  // extension added
  u.UnpackPageToBmp(1);
  ASSERT_TRUE(fs::exists(dir / "out.BMP"));
  ASSERT_EQ(fe_test::Run("convert " + (dir / "out.BMP").string() + " pbm:" + (dir / "bmp.pbm").string()), 0);
  fe_test::Bitmap got;
  ASSERT_TRUE(fe_test::ReadPbm(dir / "bmp.pbm", got));
  EXPECT_TRUE(Same(expected, got)) << "BMP via ImageMagick";

  u.OutFileName = dir / "out.pcx";
  u.UnpackPageToPcx(1);
  const std::string toPbm = " | ppmtopgm | pgmtopbm -threshold > ";
  ASSERT_EQ(fe_test::Run("pcxtoppm " + (dir / "out.pcx").string() + toPbm + (dir / "pcx.pbm").string()), 0);
  ASSERT_TRUE(fe_test::ReadPbm(dir / "pcx.pbm", got));
  EXPECT_TRUE(Same(expected, got)) << "PCX via netpbm";

  // DCX: every page, each a PCX image the page table points at.
  std::vector<Raster> fine;
  for (unsigned y = 0; y < 40; ++y) fine.push_back(TestLine(y, 2048));
  WriteApf(dir / "two.apf", {page, fine}, 0);
  u.InFileName = dir / "two.apf";
  u.OutFileName = dir / "out.dcx";
  u.UnpackFileToDcx();
  const std::string dcx = fe_test::ReadFile(dir / "out.dcx");
  ASSERT_GT(dcx.size(), 4108u);
  auto at = [&](std::size_t i) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | std::uint8_t(dcx[i + k]);
    return v;
  };
  EXPECT_EQ(at(0), 987654321u);
  ASSERT_NE(at(4), 0u);
  ASSERT_NE(at(8), 0u);
  EXPECT_EQ(at(12), 0u);
  fe_test::WriteFile(dir / "d1.pcx", dcx.substr(at(4), at(8) - at(4)));
  fe_test::WriteFile(dir / "d2.pcx", dcx.substr(at(8)));
  ASSERT_EQ(fe_test::Run("pcxtoppm " + (dir / "d1.pcx").string() + toPbm + (dir / "d1.pbm").string()), 0);
  ASSERT_TRUE(fe_test::ReadPbm(dir / "d1.pbm", got));
  EXPECT_TRUE(Same(expected, got)) << "DCX page 1";
  ASSERT_EQ(fe_test::Run("pcxtoppm " + (dir / "d2.pcx").string() + toPbm + (dir / "d2.pbm").string()), 0);
  ASSERT_TRUE(fe_test::ReadPbm(dir / "d2.pbm", got));
  EXPECT_EQ(got.width, 1728u);  // the 2048-pixel lines cut to the standard page
  EXPECT_EQ(got.height, 80u);   // a standard page, doubled
  // ImageMagick counts the pages of the DCX too.
  ASSERT_EQ(fe_test::Run("test $(identify " + (dir / "out.dcx").string() + " | wc -l) -eq 2"), 0);
}
