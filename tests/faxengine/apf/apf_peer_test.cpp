// Our Modified Huffman coding against libtiff's: our pages decoded by fax2tiff,
// and libtiff's Group 3 one-dimensional strips decoded by us, on real-looking pages.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "apf_reader.h"
#include "apf_writer.h"
#include "mh_codec.h"
#include "test_pages.h"

namespace fe {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Pages as a user would fax them: rendered text, a dithered photo, a blank page,
// lines that begin black.
std::vector<std::pair<std::string, TRasterImage>> PeerPages(const testing::TempDir& dir, unsigned width) {
  std::vector<std::pair<std::string, TRasterImage>> pages;
  std::string pbm = dir.file("text.pbm");
  std::string cmd = "convert -size " + std::to_string(width) +
                    "x260 xc:white -fill black -font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "
                    "-pointsize 26 -annotate +60+50 \"Quillon fax test: The quick brown fox jumps over 0123456789\" "
                    "-pointsize 48 -annotate +60+160 \"Invoice No. 4711 - Total 1,234.56\" -monochrome pbm:" +
                    pbm;
  std::vector<TRasterImage> text;
  if (testing::Run(cmd) == 0 && ReadPbmFile(pbm, &text) == 0 && text.size() == 1 && text[0].width == width)
    pages.emplace_back("text", text[0]);
  else
    ADD_FAILURE() << "ImageMagick could not render the text page";
  pages.emplace_back("photo", testing::DitheredPhoto(width, 300));
  pages.emplace_back("blank", testing::BlankPage(width, 100));
  pages.emplace_back("black start", testing::BlackStartPage(width, 80));
  pages.emplace_back("strokes", testing::StrokePage(width, 200));
  return pages;
}

// Reads every row of a TIFF as raster lines with 1 = black.
bool ReadTiffRaster(const std::string& path, TRasterImage* img) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return false;
  std::uint32_t w = 0, h = 0;
  std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  img->resize(w, h);
  bool ok = true;
  for (std::uint32_t y = 0; y < h && ok; ++y) {
    ok = TIFFReadScanline(tif, img->row(y), y, 0) >= 0;
    if (photometric == PHOTOMETRIC_MINISBLACK)
      for (std::size_t i = 0; i < img->stride(); ++i) img->row(y)[i] = static_cast<std::uint8_t>(~img->row(y)[i]);
  }
  TIFFClose(tif);
  return ok;
}

bool WriteUncompressedTiff(const std::string& path, const TRasterImage& img) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, img.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, img.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, img.height);
  bool ok = true;
  for (unsigned y = 0; y < img.height && ok; ++y)
    ok = TIFFWriteScanline(tif, const_cast<std::uint8_t*>(img.row(y)), y, 0) >= 0;
  TIFFClose(tif);
  return ok;
}

// The raw coded stream of a page as stored: line records lose their length words.
Bytes PageStream(const std::string& apf, unsigned page) {
  TApfReader r;
  TApfPageInfo info;
  Bytes data;
  EXPECT_EQ(r.Open(apf), 0);
  EXPECT_EQ(r.ReadPage(page, &info, &data), 0);
  if (!info.lineRecords()) return data;
  Bytes stream;
  for (std::size_t at = 0; at + 2 <= data.size();) {
    std::size_t n = data[at] | (data[at + 1] << 8);
    stream.insert(stream.end(), data.begin() + static_cast<long>(at) + 2,
                  data.begin() + static_cast<long>(std::min(at + 2 + n, data.size())));
    at += 2 + n;
  }
  return stream;
}

TEST(ApfPeer, Fax2tiffDecodesOurPagesExactly) {
  testing::TempDir dir;
  for (unsigned width : {kStandardWidth, kWideWidth}) {
    auto pages = PeerPages(dir, width);
    std::string apf = dir.file("OUT.APF");
    TApfWriter w;
    ASSERT_EQ(w.Create(apf), 0);
    for (const auto& [name, img] : pages) {
      for (std::uint16_t form : {pfLineRecords, std::uint16_t{0}}) {
        ASSERT_EQ(w.BeginPage(static_cast<std::uint16_t>(pfHighRes | form | (width == kWideWidth ? pfWide : 0))), 0);
        for (unsigned y = 0; y < img.height; ++y) ASSERT_EQ(w.AppendRasterLine(img.row(y), img.width), 0);
        ASSERT_EQ(w.EndPage(), 0);
      }
    }
    ASSERT_EQ(w.Close(), 0);
    unsigned page = 0;
    for (const auto& [name, img] : pages) {
      for (int form = 0; form < 2; ++form) {
        ++page;
        // fax2tiff turns each end-of-line code of the return to control into a blank
        // row, so it gets the lines only.
        Bytes stream = PageStream(apf, page);
        ASSERT_GT(stream.size(), kRtcRecordLength);
        stream.resize(stream.size() - kRtcRecordLength);
        testing::WriteBytes(dir.file("page.raw"), stream);
        std::string tif = dir.file("page.tif");
        ASSERT_EQ(testing::Run("fax2tiff -1 -L -W -X " + std::to_string(width) + " -u -o " + tif + " " +
                               dir.file("page.raw")),
                  0)
            << name;
        TRasterImage back;
        ASSERT_TRUE(ReadTiffRaster(tif, &back)) << name;
        EXPECT_EQ(back.width, width) << name;
        // fax2tiff may add one blank row for the zero bits that end the data.
        ASSERT_GE(back.height, img.height) << name;
        EXPECT_LE(back.height, img.height + 1) << name;
        EXPECT_TRUE(std::equal(img.bits.begin(), img.bits.end(), back.bits.begin()))
            << name << " width " << width << " form " << form;
        EXPECT_TRUE(std::all_of(back.bits.begin() + static_cast<long>(img.bits.size()), back.bits.end(),
                                [](std::uint8_t b) { return b == 0; }));
      }
    }
  }
}

TEST(ApfPeer, WeDecodeLibtiffGroup3Strips) {
  testing::TempDir dir;
  for (unsigned width : {kStandardWidth, kWideWidth}) {
    for (const auto& [name, img] : PeerPages(dir, width)) {
      std::string plain = dir.file("plain.tif"), g3 = dir.file("g3.tif");
      ASSERT_TRUE(WriteUncompressedTiff(plain, img));
      ASSERT_EQ(testing::Run("tiffcp -c g3:1d -f lsb2msb -r 100000 " + plain + " " + g3), 0) << name;
      TIFF* tif = TIFFOpen(g3.c_str(), "r");
      ASSERT_NE(tif, nullptr);
      std::uint16_t fill = 0, compression = 0;
      std::uint32_t options = 0;
      TIFFGetField(tif, TIFFTAG_FILLORDER, &fill);
      TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
      TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &options);
      EXPECT_EQ(fill, FILLORDER_LSB2MSB);
      EXPECT_EQ(compression, COMPRESSION_CCITTFAX3);
      EXPECT_EQ(options & GROUP3OPT_2DENCODING, 0u);
      Bytes stream;
      for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        Bytes strip(static_cast<std::size_t>(TIFFRawStripSize(tif, s)));
        tmsize_t got = TIFFReadRawStrip(tif, s, strip.data(), static_cast<tmsize_t>(strip.size()));
        ASSERT_GE(got, 0);
        stream.insert(stream.end(), strip.begin(), strip.begin() + got);
      }
      TIFFClose(tif);
      TRasterImage back;
      back.width = width;
      TMhDecodeStats st =
          MhDecodePage(stream.data(), stream.size(), false, width, [&](const std::uint8_t* l, unsigned n) {
            back.bits.insert(back.bits.end(), l, l + n);
            ++back.height;
            return true;
          });
      EXPECT_EQ(back.height, img.height) << name;
      EXPECT_TRUE(back.bits == img.bits) << name << " width " << width;
      EXPECT_EQ(st.badLines + st.longLines, 0u) << name;
    }
  }
}

}  // namespace
}  // namespace fe
