// qnfax convert and qnfax unpack from the command line.
#include <gtest/gtest.h>

#include "test_util.h"

namespace {
const std::string kQnfax = std::string(QN_BINARY_DIR) + "/bin/qnfax";
}

TEST(QnfaxConvert, TextToFaxToImages) {
  const auto dir = fe_test::TempDir("cli");
  std::string text;
  for (int i = 1; i <= 70; ++i) text += "line " + std::to_string(i) + "\n";
  fe_test::WriteFile(dir / "doc.txt", text);
  const std::string d = dir.string();
  // Type from the extension, fine resolution, 30 lines per page: 3 pages.
  ASSERT_EQ(fe_test::Run(kQnfax + " convert " + d + "/doc.txt -o " + d + "/doc.apf --fine --lines-per-page 30 " +
                         "--station '+1 555 0100' > /dev/null"),
            0);
  const auto pages = fe_test::DecodeApf(d + "/doc.apf");
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].rows.size(), 30u * 32);
  EXPECT_EQ(fe_test::ReadFile(d + "/doc.apf").substr(10, 21), std::string("\x14+1 555 0100") + std::string(9, ' '));
  // Every page into a DCX that ImageMagick reads, one page as BMP.
  ASSERT_EQ(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/doc.dcx"), 0);
  EXPECT_EQ(fe_test::Run("test $(identify " + d + "/doc.dcx | wc -l) -eq 3"), 0);
  ASSERT_EQ(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/p3.bmp --page 3"), 0);
  EXPECT_EQ(fe_test::Run("identify -format '%w %h' " + d + "/p3.bmp | grep -qx '1728 320'"), 0);
  // Blank gaps between text lines (12 raster lines at fine resolution) shrink to 2.
  ASSERT_EQ(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/w.bmp --page 3 --whitespace 10,2"), 0);
  EXPECT_EQ(fe_test::Run("identify -format '%w %h' " + d + "/w.bmp | grep -qx '1728 230'"), 0);
  // Failures: a clear message with the code and a non-zero status.
  EXPECT_NE(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/x.bmp --page 9"), 0);
  EXPECT_EQ(fe_test::Run(kQnfax + " convert " + d + "/missing.txt -o " + d + "/m.apf 2>&1 | grep -q '^qnfax: 2 '"), 0);
  fe_test::WriteFile(dir / "bad.pcx", "not a pcx");
  EXPECT_EQ(fe_test::Run(kQnfax + " convert " + d + "/bad.pcx -o " + d + "/b.apf 2>&1 | grep -q '8002'"), 0);
  EXPECT_EQ(fe_test::Run(kQnfax + " unpack " + d + "/doc.apf -o " + d + "/w.bmp --whitespace 2,5 2>&1 | grep -q 1002"),
            0);
}
