// A whole fax exported as PDF and as Group 4 TIFF: poppler's pdftoppm and
// libtiff's tools give back the fax raster bit for bit at the page's resolution.
#include <gtest/gtest.h>

#include "fe_fax_converter.h"
#include "fe_fax_unpacker.h"
#include "test_util.h"

namespace {

const std::string kQnfax = std::string(QN_BINARY_DIR) + "/bin/qnfax";

// Two one-page faxes from test patterns: a fine page and a normal page.
std::string MakeFax(const std::string& dir) {
  EXPECT_TRUE(fe_test::WritePbm(dir + "/a.pbm", fe_test::Pattern(1728, 700)));
  EXPECT_TRUE(fe_test::WritePbm(dir + "/b.pbm", fe_test::Pattern(1500, 333)));
  EXPECT_EQ(fe_test::Run("convert " + dir + "/a.pbm " + dir + "/a.tif && convert " + dir + "/b.pbm " + dir + "/b.tif"),
            0);
  for (const char* name : {"a", "b"}) {
    fe::TFeFaxConverter c;
    c.InputDocumentType = fe::idTiff;
    c.DocumentFile = dir + "/" + name + ".tif";
    c.OutFileName = dir + "/" + name + ".apf";
    c.Options = 0;
    c.LeftMargin = 0;
    c.Resolution = name[0] == 'a' ? fe::frHigh : fe::frNormal;
    c.ConvertToFile();
  }
  return dir;
}

void ExpectSame(const fe_test::Page& want, const fe_test::Bitmap& got, const std::string& what) {
  ASSERT_EQ(got.width, want.width) << what;
  ASSERT_EQ(got.height, want.rows.size()) << what;
  unsigned wrong = 0;
  for (unsigned y = 0; y < got.height; ++y)
    for (unsigned x = 0; x < got.width; ++x) wrong += got.black(x, y) != want.black(x, y);
  EXPECT_EQ(wrong, 0u) << what;
}

TEST(FaxExports, PdfAndTiffGiveBackTheFaxRaster) {
  const std::string d = fe_test::TempDir("exports").string();
  MakeFax(d);
  for (const char* name : {"a", "b"}) {
    const std::string apf = d + "/" + name + ".apf";
    const auto pages = fe_test::DecodeApf(apf);
    ASSERT_EQ(pages.size(), 1u);
    const unsigned dpiY = pages[0].highRes ? 196 : 98;
    const std::string ry = " -rx 204 -ry " + std::to_string(dpiY) + " ";

    ASSERT_EQ(fe_test::Run(kQnfax + " unpack " + apf + " -o " + d + "/out.pdf"), 0) << name;
    EXPECT_EQ(fe_test::Run("pdfinfo " + d + "/out.pdf | grep -q '^Pages: *1$'"), 0);
    ASSERT_EQ(fe_test::Run("pdftoppm -mono -aa no -aaVector no" + ry + d + "/out.pdf " + d + "/pdfpage"), 0);
    fe_test::Bitmap fromPdf;
    ASSERT_TRUE(fe_test::ReadPbm(d + "/pdfpage-1.pbm", fromPdf));
    ExpectSame(pages[0], fromPdf, std::string("pdf ") + name);

    ASSERT_EQ(fe_test::Run(kQnfax + " unpack " + apf + " -o " + d + "/out.tif"), 0) << name;
    EXPECT_EQ(fe_test::Run("tiffinfo " + d + "/out.tif | grep -q 'Compression Scheme: CCITT Group 4'"), 0);
    EXPECT_EQ(fe_test::Run("tiffinfo " + d + "/out.tif | grep -q 'Resolution: 204, " + std::to_string(dpiY) +
                           " pixels/inch'"),
              0);
    ASSERT_EQ(fe_test::Run("tiffcp -c none " + d + "/out.tif " + d + "/plain.tif && tifftopnm " + d + "/plain.tif > " +
                           d + "/tifpage.pbm"),
              0);
    fe_test::Bitmap fromTiff;
    ASSERT_TRUE(fe_test::ReadPbm(d + "/tifpage.pbm", fromTiff));
    ExpectSame(pages[0], fromTiff, std::string("tiff ") + name);
  }
}

TEST(FaxExports, EveryPageAndNothingHalfWritten) {
  const std::string d = fe_test::TempDir("exports-multi").string();
  fe_test::WriteFile(d + "/doc.txt", std::string(150, 'x') + "\n\f" + "page two\n\fpage three\n");
  ASSERT_EQ(fe_test::Run(kQnfax + " convert " + d + "/doc.txt -o " + d + "/doc.apf --fine > /dev/null"), 0);
  const auto pages = fe_test::DecodeApf(d + "/doc.apf");
  ASSERT_EQ(pages.size(), 3u);
  ASSERT_EQ(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/doc.pdf"), 0);
  ASSERT_EQ(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/doc.tif"), 0);
  EXPECT_EQ(fe_test::Run("pdfinfo " + d + "/doc.pdf | grep -q '^Pages: *3$'"), 0);
  EXPECT_EQ(fe_test::Run("test $(tiffinfo " + d + "/doc.tif | grep -c 'TIFF Directory') -eq 3"), 0);
  ASSERT_EQ(fe_test::Run("pdftoppm -mono -aa no -aaVector no -rx 204 -ry 196 -f 3 -l 3 " + d + "/doc.pdf " + d + "/p"),
            0);
  fe_test::Bitmap third;
  ASSERT_TRUE(fe_test::ReadPbm(d + "/p-3.pbm", third));
  ExpectSame(pages[2], third, "page 3");

  // A damaged fax: the export fails and leaves neither the file nor its temporary.
  std::string apf = fe_test::ReadFile(d + "/doc.apf");
  fe_test::WriteFile(d + "/bad.apf", apf.substr(0, 40));
  EXPECT_NE(fe_test::Run(kQnfax + " unpack " + d + "/bad.apf -o " + d + "/bad.pdf"), 0);
  EXPECT_NE(fe_test::Run(kQnfax + " unpack " + d + "/bad.apf -o " + d + "/bad.tif"), 0);
  EXPECT_FALSE(std::filesystem::exists(d + "/bad.pdf"));
  EXPECT_FALSE(std::filesystem::exists(d + "/bad.tif"));
  EXPECT_FALSE(std::filesystem::exists(d + "/bad.pdf.part"));
  EXPECT_FALSE(std::filesystem::exists(d + "/bad.tif.part"));
  EXPECT_NE(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/doc.pdf --page 2"), 0);
}

}  // namespace
