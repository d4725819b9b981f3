// Our MR and MMR coding against libtiff's Group 3 2-D and Group 4 coders: our
// streams read by libtiff and by fax2tiff, libtiff's strips read by us, on text,
// form and halftone pages and on the awkward line endings and long runs.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <random>

#include "apf_format.h"
#include "document_pages.h"
#include "mr_codec.h"
#include "test_pages.h"

namespace fe {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Page {
  std::string name;
  TRasterImage img;
  bool fine;
};

std::vector<Page> Pages(unsigned width) {
  return {{"text", testing::TextPage(testing::SampleText(), width, 2200, true), true},
          {"form", testing::FormPage(width, 1100, false), false},
          {"halftone", testing::HalftonePage(width, 2200, true), true},
          {"blank", testing::BlankPage(width, 100), false}};
}

// Stores `stream` as the single strip of a Group 3 2-D (coding MR) or Group 4
// TIFF, bits filled from the least significant bit.
bool WriteCodedTiff(const std::string& path, const Bytes& stream, TFaxCoding coding, unsigned width, unsigned height,
                    bool fine) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, fine ? 196.0 : 98.0);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (coding == TFaxCoding::MMR) {
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  } else {
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
  }
  bool ok =
      TIFFWriteRawStrip(tif, 0, const_cast<std::uint8_t*>(stream.data()), static_cast<tmsize_t>(stream.size())) >= 0;
  TIFFClose(tif);
  return ok;
}

bool ReadTiffRows(const std::string& path, TRasterImage* img) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return false;
  std::uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  img->resize(w, h);
  bool ok = true;
  for (std::uint32_t y = 0; y < h && ok; ++y) ok = TIFFReadScanline(tif, img->row(y), y, 0) >= 0;
  TIFFClose(tif);
  return ok;
}

// libtiff codes the page (K from the vertical resolution: 4 when fine, 2 when
// not) and hands back its raw strip.
Bytes LibtiffStrip(const std::string& path, const TRasterImage& img, TFaxCoding coding, bool fine) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, img.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, img.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, img.height);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, fine ? 196.0 : 98.0);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (coding == TFaxCoding::MMR) {
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  } else {
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
  }
  TIFFWriteEncodedStrip(tif, 0, const_cast<std::uint8_t*>(img.bits.data()), static_cast<tmsize_t>(img.bits.size()));
  TIFFClose(tif);
  tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return {};
  Bytes raw(static_cast<std::size_t>(TIFFRawStripSize(tif, 0)));
  raw.resize(static_cast<std::size_t>(TIFFReadRawStrip(tif, 0, raw.data(), static_cast<tmsize_t>(raw.size()))));
  TIFFClose(tif);
  return raw;
}

void ExpectLibtiffReadsOurs(const testing::TempDir& dir, const TRasterImage& img, bool fine, const std::string& what) {
  for (TFaxCoding coding : {TFaxCoding::MR, TFaxCoding::MMR}) {
    Bytes stream = EncodePage2d(coding, img.bits.data(), img.height, img.width, fine ? 4 : 2);
    std::string tif = dir.file("ours.tif");
    ASSERT_TRUE(WriteCodedTiff(tif, stream, coding, img.width, img.height, fine));
    TRasterImage back;
    ASSERT_TRUE(ReadTiffRows(tif, &back)) << what;
    EXPECT_EQ(back.bits, img.bits) << what << (coding == TFaxCoding::MMR ? " MMR" : " MR");
  }
}

TEST(MrPeer, LibtiffReadsOurStreams) {
  TIFFSetWarningHandler(nullptr);
  testing::TempDir dir;
  for (unsigned width : {kStandardWidth, kWideWidth})
    for (const Page& p : Pages(width)) ExpectLibtiffReadsOurs(dir, p.img, p.fine, p.name + " " + std::to_string(width));
}

TEST(MrPeer, LibtiffReadsOurLineEndsAndLongRuns) {
  TIFFSetWarningHandler(nullptr);
  testing::TempDir dir;
  // Lines ending black, ending in a one-pixel change, and their successors.
  for (unsigned width : {kStandardWidth, kWideWidth}) {
    TRasterImage img;
    img.resize(width, 64);
    std::mt19937 rng(3);
    for (unsigned y = 0; y < img.height; ++y) {
      unsigned from = width - 1 - rng() % 12, to = y % 3 ? width : width - rng() % 3;
      for (unsigned x = from; x < to; ++x) img.row(y)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
      if (y % 5 == 0) img.row(y)[0] = 0x80;
    }
    ExpectLibtiffReadsOurs(dir, img, true, "ends " + std::to_string(width));
  }
  TRasterImage wide;
  wide.resize(kMax2dLineWidth, 6);
  for (unsigned x = 0; x < wide.width; ++x) {
    if (x >= 2600) wide.row(0)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    wide.row(2)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    if (x < 5000 - 2561) wide.row(4)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
  }
  ExpectLibtiffReadsOurs(dir, wide, false, "long runs");
}

TEST(MrPeer, WeReadLibtiffStrips) {
  TIFFSetWarningHandler(nullptr);
  testing::TempDir dir;
  for (unsigned width : {kStandardWidth, kWideWidth}) {
    for (const Page& p : Pages(width)) {
      for (TFaxCoding coding : {TFaxCoding::MR, TFaxCoding::MMR}) {
        std::string what = p.name + " " + std::to_string(width) + (coding == TFaxCoding::MMR ? " G4" : " G3-2D");
        Bytes strip = LibtiffStrip(dir.file("lt.tif"), p.img, coding, p.fine);
        ASSERT_FALSE(strip.empty()) << what;
        T2dPageDecoder dec(strip.data(), strip.size(), coding, width);
        TRasterImage back;
        back.resize(width, 0);
        Bytes line(width / 8);
        while (dec.NextLine(line.data())) {
          back.bits.insert(back.bits.end(), line.begin(), line.end());
          ++back.height;
        }
        EXPECT_EQ(back.height, p.img.height) << what;
        EXPECT_EQ(back.bits, p.img.bits) << what;
        EXPECT_EQ(dec.Stats().badLines, 0u) << what;
        // libtiff ends G4 with EOFB; its G3 strips in TIFF files have no RTC.
        EXPECT_TRUE(coding != TFaxCoding::MMR || dec.Stats().eofb) << what;
      }
    }
  }
}

TEST(MrPeer, Fax2tiffReadsOurRawStreams) {
  testing::TempDir dir;
  TRasterImage img = testing::TextPage(testing::SampleText(), kStandardWidth, 1200, true);
  for (TFaxCoding coding : {TFaxCoding::MR, TFaxCoding::MMR}) {
    Bytes stream = EncodePage2d(coding, img.bits.data(), img.height, img.width, 4);
    testing::WriteBytes(dir.file("page.raw"), stream);
    std::string tif = dir.file("page.tif");
    std::string mode = coding == TFaxCoding::MMR ? "-4" : "-2";
    ASSERT_EQ(testing::Run("fax2tiff " + mode + " -L -X " + std::to_string(kStandardWidth) + " -u -o " + tif + " " +
                           dir.file("page.raw")),
              0);
    TRasterImage back;
    ASSERT_TRUE(ReadTiffRows(tif, &back));
    // fax2tiff goes on past the end of the page into the end code and the
    // padding, adding blank rows: the page is what comes before them.
    ASSERT_GE(back.height, img.height);
    EXPECT_TRUE(std::equal(img.bits.begin(), img.bits.end(), back.bits.begin())) << mode;
    EXPECT_TRUE(std::all_of(back.bits.begin() + static_cast<std::ptrdiff_t>(img.bits.size()), back.bits.end(),
                            [](std::uint8_t b) { return b == 0; }))
        << mode;
  }
}

}  // namespace
}  // namespace fe
