// PDF and PostScript documents through qnfax convert: pages come out at their
// true size on the fax grid, ink lands where the document put it (checked
// against poppler's own pdftoppm), text stays solid and pictures are screened.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <fstream>

#include "fe_document_child.h"
#include "fe_exceptions.h"
#include "fe_fax_converter.h"
#include "test_util.h"

namespace {

const std::string kQnfax = std::string(QN_BINARY_DIR) + "/bin/qnfax";

// An A4 page (595 x 842 points): a one-inch black square whose top-left corner is
// one inch from the top and left edges, a line of text, and a 50% grey box.
const char kA4Page[] =
    "%!PS\n<< /PageSize [595 842] >> setpagedevice\n"
    "0 setgray 72 698 72 72 rectfill\n"
    "/Helvetica findfont 28 scalefont setfont 72 500 moveto (Fax the quick brown fox 0123) show\n"
    "0.5 setgray 300 100 200 200 rectfill\nshowpage\n";

// A grey PGM (P5) as pdftoppm -gray writes it.
struct Grey {
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> px;
  bool black(unsigned x, unsigned y) const { return px[std::size_t(y) * width + x] < 128; }
};

bool ReadPgm(const std::string& path, Grey& g) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  unsigned maxval = 0;
  in >> magic >> g.width >> g.height >> maxval;
  in.get();
  if (magic != "P5" || maxval != 255) return false;
  g.px.resize(std::size_t(g.width) * g.height);
  in.read(reinterpret_cast<char*>(g.px.data()), std::streamsize(g.px.size()));
  return bool(in);
}

struct Box {
  unsigned x0 = ~0u, y0 = ~0u, x1 = 0, y1 = 0;  // inclusive; empty when x0 > x1
  template <class Img>
  static Box Of(const Img& img, unsigned fx, unsigned fy, unsigned tx, unsigned ty) {
    Box b;
    for (unsigned y = fy; y < ty; ++y)
      for (unsigned x = fx; x < tx; ++x)
        if (img.black(x, y)) {
          b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
          b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
        }
    return b;
  }
};

double BlackShare(const fe_test::Page& p, unsigned fx, unsigned fy, unsigned tx, unsigned ty) {
  unsigned black = 0;
  for (unsigned y = fy; y < ty; ++y)
    for (unsigned x = fx; x < tx; ++x) black += p.black(x, y);
  return double(black) / ((tx - fx) * (ty - fy));
}

class Documents : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fe_test::TempDir("documents").string();
    fe_test::WriteFile(dir_ + "/a4.ps", kA4Page);
    ASSERT_EQ(fe_test::Run("ps2pdf " + dir_ + "/a4.ps " + dir_ + "/a4.pdf"), 0);
  }
  std::vector<fe_test::Page> Convert(const std::string& in, const std::string& flags = "--fine") {
    const std::string out = dir_ + "/out.apf";
    std::remove(out.c_str());
    if (fe_test::Run(kQnfax + " convert " + in + " -o " + out + " " + flags + " > /dev/null") != 0) return {};
    return fe_test::DecodeApf(out);
  }
  std::string dir_;
};

TEST_F(Documents, PdfPageLandsOnTheFaxGridWhereTheDocumentPutsIt) {
  const auto pages = Convert(dir_ + "/a4.pdf");
  ASSERT_EQ(pages.size(), 1u);
  const auto& p = pages[0];
  EXPECT_TRUE(p.highRes);
  EXPECT_EQ(p.width, 1728u);
  EXPECT_EQ(p.rows.size(), 2292u);  // 842 points at 196 lines per inch
  // The square: 204 pixels from the left, 196 lines from the top, 204 x 196.
  const Box sq = Box::Of(p, 0, 0, 600, 600);
  EXPECT_NEAR(sq.x0, 204, 2);
  EXPECT_NEAR(sq.y0, 196, 2);
  EXPECT_NEAR(sq.x1 - sq.x0 + 1, 204, 2);
  EXPECT_NEAR(sq.y1 - sq.y0 + 1, 196, 2);

  // The text against pdftoppm at the same resolution, thresholded at half grey.
  ASSERT_EQ(fe_test::Run("pdftoppm -gray -rx 204 -ry 196 -singlefile " + dir_ + "/a4.pdf " + dir_ + "/ref"), 0);
  Grey ref;
  ASSERT_TRUE(ReadPgm(dir_ + "/ref.pgm", ref));
  // Text band: baseline at 342 points from the top, 28-point letters.
  const unsigned ty0 = (842 - 500 - 30) * 196 / 72, ty1 = (842 - 500 + 10) * 196 / 72;
  const Box ours = Box::Of(p, 0, ty0, 1600, ty1), theirs = Box::Of(ref, 0, ty0, 1600, ty1);
  ASSERT_LE(ours.x0, ours.x1) << "no text on the page";
  EXPECT_NEAR(ours.x0, theirs.x0, 3);
  EXPECT_NEAR(ours.x1, theirs.x1, 3);
  EXPECT_NEAR(ours.y0, theirs.y0, 3);
  EXPECT_NEAR(ours.y1, theirs.y1, 3);
  unsigned differ = 0, inked = 0;
  for (unsigned y = ty0; y < ty1; ++y)
    for (unsigned x = 0; x < 1600; ++x) {
      inked += ref.black(x, y);
      differ += ref.black(x, y) != p.black(x, y);
    }
  ASSERT_GT(inked, 2000u);
  EXPECT_LT(differ, inked / 10) << "the text differs from the reference in " << differ << " of " << inked << " pixels";

  // The grey box is screened, neither solid nor white; the paper stays white.
  const unsigned gx = 300 * 204 / 72, gy = (842 - 300) * 196 / 72;
  EXPECT_NEAR(BlackShare(p, gx + 10, gy + 10, gx + 500, gy + 500), 0.5, 0.15);
  EXPECT_EQ(BlackShare(p, 1000, 100, 1700, 400), 0.0);
}

TEST_F(Documents, SizesAndResolutions) {
  // Normal resolution: half the lines, the resolution flag clear.
  auto pages = Convert(dir_ + "/a4.pdf", "");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_FALSE(pages[0].highRes);
  EXPECT_EQ(pages[0].rows.size(), 1146u);
  EXPECT_NEAR(Box::Of(pages[0], 0, 0, 600, 400).y0, 98, 2);

  // Letter is wider than the fax line: the page shrinks as a whole to fit 1728.
  // A landscape page is turned so that its long side runs down the page.
  fe_test::WriteFile(dir_ + "/mixed.ps",
                     "%!PS\n<< /PageSize [612 792] >> setpagedevice 0 setgray 0 0 612 792 rectfill showpage\n"
                     "<< /PageSize [842 595] >> setpagedevice 0 setgray 0 0 100 100 rectfill showpage\n");
  pages = Convert(dir_ + "/mixed.ps", "--fine");  // by extension, through the PostScript interpreter
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_NEAR(pages[0].rows.size(), 792.0 / 72 * 196 * 1728 / (612.0 / 72 * 204), 2);
  EXPECT_EQ(Box::Of(pages[0], 0, 0, 1728, 100).x1, 1727u);  // ink up to the fax line's edge
  EXPECT_EQ(pages[1].rows.size(), 2292u);
  EXPECT_LT(Box::Of(pages[1], 0, 0, 1728, 2292).x1, 1728u);

  // --type wins over the extension.
  std::filesystem::copy_file(dir_ + "/a4.ps", dir_ + "/a4.doc");
  EXPECT_EQ(Convert(dir_ + "/a4.doc", "--fine --type ps").size(), 1u);
}

TEST_F(Documents, PostScriptMatchesThePdfOfTheSamePage) {
  const auto fromPs = Convert(dir_ + "/a4.ps");
  const auto fromPdf = Convert(dir_ + "/a4.pdf");
  ASSERT_EQ(fromPs.size(), 1u);
  ASSERT_EQ(fromPdf.size(), 1u);
  ASSERT_EQ(fromPs[0].rows.size(), fromPdf[0].rows.size());
  unsigned differ = 0;
  for (unsigned y = 0; y < 2292; ++y)
    for (unsigned x = 0; x < 1728; ++x) differ += fromPs[0].black(x, y) != fromPdf[0].black(x, y);
  EXPECT_LT(differ, 2000u);
}

TEST_F(Documents, BrokenDocumentsAreRefusedWithAClearError) {
  auto refused = [&](const std::string& name, const std::string& bytes, const std::string& type) {
    fe_test::WriteFile(dir_ + "/" + name, bytes);
    const std::string cmd = kQnfax + " convert " + dir_ + "/" + name + " -o " + dir_ + "/bad.apf --type " + type +
                            " 2>&1 | grep -q '^qnfax: 8002 '";
    return fe_test::Run(cmd) == 0;
  };
  EXPECT_TRUE(refused("empty.pdf", "", "pdf"));
  EXPECT_TRUE(refused("junk.pdf", "%PDF-1.4\nthis is not a document\n%%EOF\n", "pdf"));
  const std::string whole = fe_test::ReadFile(dir_ + "/a4.pdf");
  EXPECT_TRUE(refused("cut.pdf", whole.substr(0, whole.size() / 3), "pdf"));
  EXPECT_TRUE(refused("empty.ps", "", "ps"));
  EXPECT_TRUE(refused("error.ps", "%!PS\n1 0 div\nshowpage\n", "ps"));
  EXPECT_TRUE(refused("nopages.ps", "%!PS\n1 2 add pop\n", "ps"));
  // Safe mode: a PostScript job cannot delete files.
  fe_test::WriteFile(dir_ + "/victim.txt", "keep me");
  refused("delete.ps", "%!PS\n(" + dir_ + "/victim.txt) deletefile\nshowpage\n", "ps");
  EXPECT_EQ(fe_test::ReadFile(dir_ + "/victim.txt"), "keep me");
}

TEST_F(Documents, FileNamesAreNeverCommandsToTheInterpreter) {
  // The interpreter reads a name starting "%pipe%" as a shell command, safe
  // mode or not; the converter never hands it the name.
  const std::string name = "%pipe%touch MARKER";
  fe_test::WriteFile(dir_ + "/" + name, kA4Page);
  const std::string cmd = "cd '" + dir_ + "' && " + kQnfax + " convert '" + name + "' --type ps -o out.apf > /dev/null";
  EXPECT_EQ(fe_test::Run(cmd), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/MARKER"));
  EXPECT_EQ(fe_test::DecodeApf(dir_ + "/out.apf").size(), 1u);
  // Nor for a PDF named like one.
  std::filesystem::copy_file(dir_ + "/a4.pdf", dir_ + "/%pipe%touch PDFMARKER");
  EXPECT_EQ(fe_test::Run("cd '" + dir_ + "' && " + kQnfax +
                         " convert '%pipe%touch PDFMARKER' --type pdf -o p.apf >/dev/null"),
            0);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/PDFMARKER"));
  // A temporary folder whose name holds '%' (the interpreter reads "%d" in an
  // output file name as the page number).
  const std::string tmp = dir_ + "/tmp%d%s";
  std::filesystem::create_directories(tmp);
  EXPECT_EQ(fe_test::Run("cd '" + dir_ + "' && TMPDIR='" + tmp + "' " + kQnfax +
                         " convert a4.ps --type ps -o t.apf >/dev/null"),
            0);
  EXPECT_EQ(fe_test::DecodeApf(dir_ + "/t.apf").size(), 1u);
}

// A 700-byte PDF whose page is filled with a tiling pattern of `step` points: a
// tiny step makes the renderer draw without end.
std::string TilingPdf(const std::string& step) {
  const std::string content = "/Pattern cs /P0 scn 0 0 595 842 re f", tile = "q 0 0 0.5 0.5 re f Q";
  const std::string objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Pattern << /P0 5 0 R >> >> /Contents 4 0 R "
      ">>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 " + step + " " + step + "] /XStep " +
          step + " /YStep " + step + " /Resources << >> /Length " + std::to_string(tile.size()) + " >>\nstream\n" +
          tile + "\nendstream"};
  std::string pdf = "%PDF-1.4\n", xref = "xref\n0 6\n0000000000 65535 f \n";
  for (int i = 0; i < 5; ++i) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
    xref += entry;
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t at = pdf.size();
  return pdf + xref + "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
}

TEST_F(Documents, HostileDocumentsEndAtTheirLimitsWithAClearMessage) {
  auto refused = [&](const std::string& ps, const std::string& flags, const std::string& words) {
    fe_test::WriteFile(dir_ + "/hostile.ps", ps);
    std::remove((dir_ + "/h.apf").c_str());
    const auto start = std::chrono::steady_clock::now();
    const std::string cmd = "{ " + kQnfax + " convert " + dir_ + "/hostile.ps -o " + dir_ + "/h.apf " + flags + " 2> " +
                            dir_ + "/err.txt; }";
    EXPECT_NE(fe_test::Run(cmd), 0) << words;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << words;
    EXPECT_NE(fe_test::ReadFile(dir_ + "/err.txt").find(words), std::string::npos)
        << fe_test::ReadFile(dir_ + "/err.txt");
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/h.apf"));
  };
  refused("%!PS\n{} loop\n", "--time-limit 2", "qnfax: 8003 the document took longer than 2 seconds to convert");
  fe_test::WriteFile(dir_ + "/tiles.pdf", TilingPdf("0.05"));
  EXPECT_NE(fe_test::Run("{ " + kQnfax + " convert " + dir_ + "/tiles.pdf -o " + dir_ + "/t.apf --time-limit 2 2> " +
                         dir_ + "/err.txt; }"),
            0);
  EXPECT_NE(fe_test::ReadFile(dir_ + "/err.txt").find("took longer than 2 seconds"), std::string::npos);
  refused("%!PS\n{ showpage } loop\n", "--max-pages 20", "the document has more than 20 pages; a fax takes at most 20");
  refused("%!PS\n/l 0 def { /l [ l 1000000 array ] def } loop\n", "--memory-limit 200",
          "the document needs more than 200 MB of memory");
}

TEST_F(Documents, TheCallerStaysSmallWhenTheConverterRunsOutOfMemoryOrFileSize) {
  fe_test::WriteFile(dir_ + "/eater.ps", "%!PS\n/l 0 def { /l [ l 1000000 array ] def } loop\n");
  fe::TFeFaxConverter cvt;
  cvt.InputDocumentType = fe::idPostScript;
  cvt.DocumentFile = dir_ + "/eater.ps";
  cvt.OutFileName = dir_ + "/eater.apf";
  cvt.DocLimits.memoryBytes = std::uint64_t(400) << 20;
  try {
    cvt.ConvertToFile();
    ADD_FAILURE() << "converted";
  } catch (const fe::EFeException& e) {
    EXPECT_STREQ(e.what(), "the document needs more than 400 MB of memory");
  }
  // A page whose intermediate file outgrows the file size limit.
  fe_test::WriteFile(dir_ + "/big.ps",
                     "%!PS\n612 792 scale\n/s 2000 string def\n2000 2000 8 [2000 0 0 2000 0 0]\n"
                     "{ 0 1 1999 { s exch rand -7 bitshift 255 and put } for s } image showpage\n");
  cvt.DocumentFile = dir_ + "/big.ps";
  cvt.DocLimits.fileBytes = std::uint64_t(1) << 20;
  try {
    cvt.ConvertToFile();
    ADD_FAILURE() << "converted";
  } catch (const fe::EFeException& e) {
    EXPECT_STREQ(e.what(), "the document made a file larger than 1 MB while it was converted");
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/eater.apf"));
  rusage self{};
  ::getrusage(RUSAGE_SELF, &self);
  EXPECT_LT(self.ru_maxrss, 300 * 1024) << "kB";  // the memory was the converter's, not ours
  // The converter's private folder went with it.
  for (const auto& e : std::filesystem::directory_iterator(fe::WorkTempFolder()))
    EXPECT_NE(e.path().filename().string().rfind("qnps-" + std::to_string(::getpid()) + "-", 0), 0u) << e.path();
}

}  // namespace
