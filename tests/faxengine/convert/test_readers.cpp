// Image inputs made by other tools (libtiff's tiffcp, netpbm, ImageMagick) and
// bad files of every kind.
#include <gtest/gtest.h>

#include "fe_bmp_reader.h"
#include "fe_exceptions.h"
#include "fe_fax_converter.h"
#include "fe_pcx_reader.h"
#include "fe_tiff_reader.h"
#include "test_util.h"

using namespace fe;
namespace fs = std::filesystem;

namespace {

// Converts an image file at high resolution with no margin or placement, so the
// fax page holds the image's pixels from column 0.
std::vector<fe_test::Page> ConvertImage(const fs::path& in, TFaxInputDocumentType type) {
  TFeFaxConverter c;
  c.InputDocumentType = type;
  c.DocumentFile = in;
  c.OutFileName = in.string() + ".apf";
  c.Options = 0;
  c.LeftMargin = 0;
  c.Resolution = frHigh;
  c.ConvertToFile();
  return fe_test::DecodeApf(c.OutputFileName());
}

void ExpectSameImage(const fe_test::Bitmap& want, const fe_test::Page& got, const std::string& what) {
  ASSERT_EQ(got.rows.size(), want.height) << what;
  unsigned wrong = 0;
  for (unsigned y = 0; y < want.height; ++y)
    for (unsigned x = 0; x < got.width; ++x) wrong += got.black(x, y) != (x < want.width && want.black(x, y));
  EXPECT_EQ(wrong, 0u) << what;
}

int ConvertError(const fs::path& in, TFaxInputDocumentType type) {
  try {
    ConvertImage(in, type);
  } catch (const EFeException& e) {
    return -e.ErrorCode();
  }
  return 0;
}

// Feeds every line of a reader until the end; returns the first error or 0.
int Drain(RasterReader& r) {
  if (int rc = r.open()) return rc;
  std::vector<std::uint8_t> buf(kMaxRasterBytes);
  for (int lines = 0; lines < 1000000; ++lines) {
    unsigned len = 0;
    bool eop = false, more = false;
    if (int rc = r.readLine(buf.data(), len, eop, more)) return rc;
    if (len > kMaxRasterBytes) return -1;
    if (eop && !more) return 0;
  }
  return -1;
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

TEST(ImageInputs, TiffFromTiffcp) {
  const auto dir = fe_test::TempDir("tiff");
  const auto pattern = fe_test::Pattern(300, 97);
  ASSERT_TRUE(fe_test::WritePbm(dir / "p.pbm", pattern));
  ASSERT_EQ(fe_test::Run("convert " + (dir / "p.pbm").string() + " -compress none " + (dir / "src.tif").string()), 0);
  // Every compression, byte order, fill order and layout libtiff's own tool
  // writes gives back the same pixels.
  const struct {
    const char* name;
    const char* args;
  } kinds[] = {{"none", "-c none"},
               {"packbits", "-c packbits"},
               {"strips", "-c packbits -r 7"},
               {"bigendian", "-c none -B -r 10"},
               {"bigendian-packbits", "-c packbits -B -r 1"},
               {"lsb2msb", "-c none -L"},
               {"g3-1d", "-c g3:1d"},
               {"g3-2d", "-c g3:2d"},
               {"g3-2d-lsb2msb", "-c g3:2d:fill -L"},
               {"g4", "-c g4"},
               {"g4-lsb2msb", "-c g4 -L -r 5"},
               {"lzw", "-c lzw"},
               {"deflate", "-c zip -B"},
               {"tiles", "-c g4 -t -w 16 -l 16"},
               {"tiles-lzw", "-c lzw -t -w 32 -l 48"}};
  for (const auto& k : kinds) {
    const fs::path out = dir / (std::string(k.name) + ".tif");
    ASSERT_EQ(fe_test::Run(std::string("tiffcp ") + k.args + " " + (dir / "src.tif").string() + " " + out.string()), 0)
        << k.name;
    const auto pages = ConvertImage(out, idTiff);
    ASSERT_EQ(pages.size(), 1u) << k.name;
    ExpectSameImage(pattern, pages[0], k.name);
  }
  // Several pages: one fax page per directory, whatever each one's compression.
  ASSERT_EQ(fe_test::Run("tiffcp " + (dir / "g4.tif").string() + " " + (dir / "none.tif").string() + " " +
                         (dir / "lzw.tif").string() + " " + (dir / "multi.tif").string()),
            0);
  const auto pages = ConvertImage(dir / "multi.tif", idTiff);
  ASSERT_EQ(pages.size(), 3u);
  for (unsigned i = 0; i < 3; ++i) ExpectSameImage(pattern, pages[i], "page " + std::to_string(i + 1));
}

TEST(ImageInputs, TiffResolutionIsScaledToTheFaxGrid) {
  const auto dir = fe_test::TempDir("tiffres");
  const auto pattern = fe_test::Pattern(300, 98);
  ASSERT_TRUE(fe_test::WritePbm(dir / "p.pbm", pattern));
  const std::string pbm = (dir / "p.pbm").string();
  // A normal-resolution fax page (204 x 98): every line twice on a fine page.
  ASSERT_EQ(fe_test::Run("convert " + pbm + " -units PixelsPerInch -density 204x98 -compress Group4 " +
                         (dir / "normal.tif").string()),
            0);
  auto pages = ConvertImage(dir / "normal.tif", idTiff);
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].rows.size(), 196u);
  for (unsigned y = 0; y < 196; ++y) ASSERT_EQ(pages[0].rows[y], pages[0].rows[y & ~1u]) << y;
  // A 102 x 98 dpi image in centimetres: twice as wide, twice as tall on the fine grid.
  ASSERT_EQ(fe_test::Run("convert " + pbm + " -units PixelsPerCentimeter -density 40.157x38.583 " +
                         (dir / "coarse.tif").string()),
            0);
  pages = ConvertImage(dir / "coarse.tif", idTiff);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].rows.size(), 196u);
  unsigned wrong = 0;
  for (unsigned y = 0; y < 196; ++y)
    for (unsigned x = 0; x < 600; ++x) wrong += pages[0].black(x, y) != pattern.black(x / 2, y / 2);
  EXPECT_LT(wrong, 600u * 196 / 100);
  // A 600 dpi scan four inches wide... shrinks to 816 pixels; a page wider than
  // the fax line shrinks as a whole to 1728.
  const auto wide = fe_test::Pattern(2400, 300);
  ASSERT_TRUE(fe_test::WritePbm(dir / "w.pbm", wide));
  ASSERT_EQ(fe_test::Run("convert " + (dir / "w.pbm").string() + " -units PixelsPerInch -density 600 " +
                         (dir / "scan.tif").string()),
            0);
  pages = ConvertImage(dir / "scan.tif", idTiff);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NEAR(pages[0].rows.size(), 98.0, 1);
  ASSERT_EQ(fe_test::Run("convert " + (dir / "w.pbm").string() + " -units PixelsPerInch -density 100 " +
                         (dir / "big.tif").string()),
            0);
  pages = ConvertImage(dir / "big.tif", idTiff);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NEAR(pages[0].rows.size(), 300.0 * 1.96 * 1728 / (2400 * 2.04), 2);
}

TEST(ImageInputs, PcxDcxAndBmpFromOtherTools) {
  const auto dir = fe_test::TempDir("pcxbmp");
  const auto pattern = fe_test::Pattern(333, 61);
  const std::string pbm = (dir / "p.pbm").string();
  ASSERT_TRUE(fe_test::WritePbm(pbm, pattern));
  // netpbm writes one-bit PCX for a two-colour image.
  ASSERT_EQ(fe_test::Run("ppmtopcx " + pbm + " > " + (dir / "p.pcx").string()), 0);
  ExpectSameImage(pattern, ConvertImage(dir / "p.pcx", idPcx).at(0), "pcx");
  // A DCX of two of those pages.
  std::string pcx = fe_test::ReadFile(dir / "p.pcx");
  std::string dcx(4 + 4 * 1024, '\0');
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) dcx[at + i] = char(v >> (8 * i));
  };
  put32(0, 987654321);
  put32(4, std::uint32_t(dcx.size()));
  put32(8, std::uint32_t(dcx.size() + pcx.size()));
  dcx += pcx + pcx;
  fe_test::WriteFile(dir / "p.dcx", dcx);
  const auto dpages = ConvertImage(dir / "p.dcx", idDcx);
  ASSERT_EQ(dpages.size(), 2u);
  ExpectSameImage(pattern, dpages[1], "dcx page 2");
  // ImageMagick's one-bit BMP, and a palette BMP thresholded to the same pixels.
  ASSERT_EQ(fe_test::Run("convert " + pbm + " -type bilevel BMP3:" + (dir / "p1.bmp").string()), 0);
  ExpectSameImage(pattern, ConvertImage(dir / "p1.bmp", idBmp).at(0), "bmp 1-bit");
  for (const char* type : {"truecolor", "palette", "truecolormatte"}) {
    const fs::path out = dir / (std::string("p-") + type + ".bmp");
    ASSERT_EQ(fe_test::Run("convert " + pbm + " -type " + type + " " + out.string()), 0) << type;
    const auto page = ConvertImage(out, idBmp).at(0);
    // Black pixels come out black except where the dither threshold is 0 (one-bit files keep them all).
    fe_test::Bitmap want = pattern;
    const bool oneBit = fe_test::ReadFile(out).at(28) == 1;
    for (unsigned y = 0; y < want.height; ++y)
      for (unsigned x = 0; x < want.width; ++x)
        if (!oneBit && DitherThreshold(x, y) == 0) want.bits[y * ((want.width + 7) / 8) + x / 8] &= ~(0x80 >> (x % 8));
    ExpectSameImage(want, page, type);
  }
}

TEST(ImageInputs, BadFilesFailCleanly) {
  const auto dir = fe_test::TempDir("bad");
  const auto pattern = fe_test::Pattern(64, 40);
  const std::string pbm = (dir / "p.pbm").string();
  ASSERT_TRUE(fe_test::WritePbm(pbm, pattern));
  ASSERT_EQ(fe_test::Run("convert " + pbm + " -compress none " + (dir / "t.tif").string()), 0);
  ASSERT_EQ(fe_test::Run("ppmtopcx " + pbm + " > " + (dir / "p.pcx").string()), 0);
  ASSERT_EQ(fe_test::Run("convert " + pbm + " -type truecolor " + (dir / "b.bmp").string()), 0);
  const std::string tif = fe_test::ReadFile(dir / "t.tif"), pcx = fe_test::ReadFile(dir / "p.pcx"),
                    bmp = fe_test::ReadFile(dir / "b.bmp");
  // Every truncation of each file gives 8002 (or converts, for a cut that keeps the image).
  for (std::size_t n = 0; n < tif.size(); n += 7) {
    const std::string cut = tif.substr(0, n);
    TiffReader r(Bytes(cut));
    const int rc = Drain(r);
    EXPECT_TRUE(rc == 0 || rc == -8002) << n;
  }
  for (std::size_t n = 0; n + 1 < pcx.size(); n += 3) {
    const std::string cut = pcx.substr(0, n);
    PcxReader r(Bytes(cut), 1728, false);
    EXPECT_EQ(Drain(r), -8002) << n;
  }
  for (std::size_t n = 0; n + 1 < bmp.size(); n += 11) {
    const std::string cut = bmp.substr(0, n);
    BmpReader r(Bytes(cut));
    EXPECT_EQ(Drain(r), -8002) << n;
  }
  // Lying headers: absurd sizes are refused before anything is allocated for them.
  std::string big = bmp;
  big[18] = big[19] = big[20] = char(0xFF);  // width
  big[21] = 0x7F;
  BmpReader wide(Bytes(big));
  EXPECT_EQ(Drain(wide), -8002);
  big = bmp;
  big[22] = big[23] = big[24] = char(0xFF);  // height
  big[25] = 0x7F;
  BmpReader tall(Bytes(big));
  EXPECT_EQ(Drain(tall), -8002);
  std::string widePcx = pcx;
  widePcx[8] = widePcx[9] = char(0xFF);  // x max 65535: wider than the fax line
  PcxReader pw(Bytes(widePcx), 1728, false);
  EXPECT_EQ(Drain(pw), -8002);
  std::string tallPcx = pcx;
  tallPcx[10] = tallPcx[11] = char(0xFF);  // y max 65535 with data for 40 lines
  PcxReader pt(Bytes(tallPcx), 1728, false);
  EXPECT_EQ(Drain(pt), -8002);
  // DCX whose page table points outside the file or at itself.
  std::string dcx(12, '\0');
  dcx[0] = char(0xB1), dcx[1] = 0x68, dcx[2] = char(0xDE), dcx[3] = 0x3A;
  dcx[4] = char(0xFF), dcx[5] = char(0xFF);
  PcxReader dr(Bytes(dcx), 1728, true);
  EXPECT_EQ(Drain(dr), -8002);
  // A TIFF whose directory chain loops back on itself: its one page, read once.
  std::string loop = tif;
  const std::uint32_t ifd = std::uint8_t(tif[4]) | std::uint8_t(tif[5]) << 8 | std::uint8_t(tif[6]) << 16 |
                            std::uint32_t(std::uint8_t(tif[7])) << 24;
  const unsigned entries = std::uint8_t(tif[ifd]) | std::uint8_t(tif[ifd + 1]) << 8;
  for (int i = 0; i < 4; ++i) loop[ifd + 2 + entries * 12 + i] = tif[4 + i];
  TiffReader lr(Bytes(loop));
  EXPECT_EQ(Drain(lr), 0);
  // Through the component: a missing file is 2, a text file named .bmp is 8002.
  EXPECT_EQ(ConvertError(dir / "missing.bmp", idBmp), 2);
  fe_test::WriteFile(dir / "text.bmp", "hello");
  EXPECT_EQ(ConvertError(dir / "text.bmp", idBmp), 8002);
}
