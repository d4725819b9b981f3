// Rendering templates into fine fax pages: where the ink lands, what each merge
// field prints, the page's size and resolution as our decoder and libtiff's
// fax2tiff read it, previews, the shipped templates, and hostile templates.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/folders.h"
#include "covers/cover_description.h"
#include "covers/cover_render.h"
#include "covers/shipped_covers.h"
#include "covers_test_util.h"

using namespace covers;
using covers_test::Page;

namespace {

constexpr int kMargin = 98;

TemplateRecord Object(int kind, int left, int top, int width, int height) {
  TemplateRecord r;
  r.kind = kind;
  r.left = left;
  r.top = top;
  r.width = width;
  r.height = height;
  if (kind == okShape || kind == okLine) {
    r.penWidth = 2;
  } else {
    r.fontName = "Arial";
    r.fontSize = 24;
  }
  return r;
}

TemplateRecord Field(int kind, int top) {
  TemplateRecord r = Object(okField, 100, top, 1400, 60);
  r.fieldKind = kind;
  return r;
}

struct Rect {
  int x1, y1, x2, y2;  // page pixels, x2/y2 exclusive
};
Rect PageRect(const TemplateRecord& r) {
  return {r.left + kMargin, r.top + kMargin, r.left + kMargin + r.width, r.top + kMargin + r.height};
}

long InkOutside(const Page& p, const std::vector<Rect>& allowed) {
  long n = 0;
  for (unsigned y = 0; y < p.rows.size(); ++y)
    for (unsigned x = 0; x < p.width; ++x) {
      if (!p.black(x, y)) continue;
      if (x == 1727 && y == 2155) continue;  // the corner pixel that keeps the page's height
      bool inside = false;
      for (const Rect& r : allowed)
        inside = inside || (static_cast<int>(x) >= r.x1 && static_cast<int>(x) < r.x2 && static_cast<int>(y) >= r.y1 &&
                            static_cast<int>(y) < r.y2);
      if (!inside) ++n;
    }
  return n;
}

// Rightmost black column inside a rectangle, -1 when it holds no ink.
int RightmostInk(const Page& p, const Rect& r) {
  for (int x = r.x2 - 1; x >= r.x1; --x)
    for (int y = r.y1; y < r.y2; ++y)
      if (p.black(static_cast<unsigned>(x), static_cast<unsigned>(y))) return x;
  return -1;
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    covers_test::EnsureApp();
    dir_ = covers_test::TempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string File(const std::string& name) const { return (dir_ / name).string(); }

  Page RenderPage(const std::vector<TemplateRecord>& records, const CoverData& data, const QStringList& message = {}) {
    const std::string fct = File("T.FCT");
    EXPECT_TRUE(WriteTemplateFile(fct, records));
    const std::string apf = RenderCover(File("COV.APF"), fct, data, message);
    Page page;
    EXPECT_TRUE(covers_test::DecodeFirstPage(apf, page));
    return page;
  }

  std::filesystem::path dir_;
};

CoverData NumberedData() {
  // Text i is i+1 letters long, so each field's ink ends further right.
  CoverData d;
  for (int i = 0; i < kCoverFieldCount; ++i)
    d.texts[static_cast<std::size_t>(i)] = std::string(static_cast<std::size_t>(i + 1), 'M');
  return d;
}

}  // namespace

TEST_F(Render, MergeFieldsPrintTheirDataInsideTheirRectangles) {
  std::vector<TemplateRecord> records;
  std::vector<Rect> rects;
  for (int k = 0; k < kCoverFieldCount; ++k) {
    records.push_back(Field(k, 100 + 120 * k));
    rects.push_back(PageRect(records.back()));
  }
  const Page page = RenderPage(records, NumberedData());
  ASSERT_EQ(page.width, 1728u);
  EXPECT_TRUE(page.highRes);
  ASSERT_EQ(page.rows.size(), 2156u);
  EXPECT_TRUE(page.black(1727, 2155));
  EXPECT_EQ(InkOutside(page, rects), 0);
  int previous = -1;
  for (int k = 0; k < kCoverFieldCount; ++k) {
    const int right = RightmostInk(page, rects[static_cast<std::size_t>(k)]);
    EXPECT_GT(right, previous) << "field kind " << k << " prints the wrong text";
    previous = right;
  }
  // Empty data leaves the fields blank.
  const Page empty = RenderPage(records, CoverData{});
  EXPECT_EQ(empty.Ink(0, 0, 1728, 2156), 1);
}

TEST_F(Render, PagePeersAgreeWithOurDecoder) {
  CoverDescription d;
  std::string error;
  ASSERT_TRUE(CompileCoverDescription(ShippedCovers()[1].text, d, error)) << error;
  const std::string fct = File("T.FCT");
  ASSERT_TRUE(WriteTemplateFile(fct, d.records));
  CoverData data = SampleCoverData();
  data.flags = {true, false, true, false, true};
  const std::string apf = RenderCover(File("PEER.APF"), fct, data, {"Line one", "Line two & more"});
  Page ours, theirs;
  ASSERT_TRUE(covers_test::DecodeFirstPage(apf, ours));
  ASSERT_TRUE(covers_test::DecodeWithFax2tiff(apf, dir_.string(), theirs));
  ASSERT_EQ(theirs.width, 1728u);
  ASSERT_GE(theirs.rows.size(), 2156u);
  ASSERT_EQ(ours.rows.size(), 2156u);
  for (unsigned y = 0; y < 2156; ++y) ASSERT_EQ(ours.rows[y], theirs.rows[y]) << "row " << y;
  EXPECT_GT(ours.Ink(0, 0, 1728, 2156), 5000);
}

TEST_F(Render, PlacementOrderAndBlankPages) {
  // A design object at 48 pixels is stored at 98 fax units and drawn at 196.
  TemplateRecord box = Object(okShape, PixelsToFaxUnits(48, 96), PixelsToFaxUnits(48, 96), 98, 98);
  box.shapeType = stRectangle;
  box.fillType = sftFilledBlack;
  box.penWidth = 1;  // a one-pixel pen lies exactly on the object's edge
  TemplateRecord text = Object(okText, 400, 98, 600, 60);
  text.caption = "Hidden";
  TemplateRecord cover = Object(okShape, 390, 90, 700, 90);
  cover.shapeType = stRectangle;
  cover.fillType = sftFilledBlack;
  cover.penWidth = 1;
  const Page page = RenderPage({box, text, cover}, CoverData{});
  EXPECT_EQ(page.Ink(196, 196, 294, 294), 98 * 98);
  EXPECT_EQ(page.Ink(195, 196, 196, 294), 0);
  EXPECT_EQ(page.Ink(196, 195, 294, 196), 0);
  // The rectangle written after the text hides it: solid black, nothing around it.
  EXPECT_EQ(page.Ink(488, 188, 488 + 700, 188 + 90), 700 * 90);
  EXPECT_EQ(InkOutside(page, {{196, 196, 294, 294}, {488, 188, 1188, 278}}), 0);

  // No template, an empty template: the corner pixel only, full height.
  for (const bool exists : {false, true}) {
    const std::string fct = File(exists ? "EMPTY.FCT" : "NONE.FCT");
    if (exists) std::ofstream(fct, std::ios::binary);
    Page blank;
    ASSERT_TRUE(covers_test::DecodeFirstPage(RenderCover(File("B.APF"), fct, SampleCoverData(), {}), blank));
    ASSERT_EQ(blank.rows.size(), 2156u);
    EXPECT_EQ(blank.Ink(0, 0, 1728, 2156), 1);
    EXPECT_TRUE(blank.black(1727, 2155));
  }
}

TEST_F(Render, ImportanceRowMessageBoxAndUnknownFields) {
  const TemplateRecord row = Object(okImportance, 0, 0, 1600, 60);
  TemplateRecord unknown = Field(9, 200);
  const TemplateRecord message = Object(okMessage, 0, 400, 500, 200);
  CoverData data;
  data.texts[0] = "should not print";
  const Page none = RenderPage({row, unknown}, data);
  EXPECT_EQ(none.Ink(0, 0, 1728, 2156), 1) << "no flags: not even the empty boxes";

  data.flags = {true, false, false, false, false};
  const Page first = RenderPage({row}, data);
  data.flags = {false, false, false, false, true};
  const Page last = RenderPage({row}, data);
  // The pixels that differ: the X of the first item lies left of the X of the last.
  int firstOnly = 2000, lastOnly = -1;
  for (unsigned y = 98; y < 158; ++y)
    for (unsigned x = 0; x < 1728; ++x) {
      if (first.black(x, y) && !last.black(x, y)) firstOnly = std::min(firstOnly, static_cast<int>(x));
      if (last.black(x, y) && !first.black(x, y)) lastOnly = std::max(lastOnly, static_cast<int>(x));
    }
  EXPECT_LT(firstOnly, 250);
  EXPECT_GT(lastOnly, 1000);
  EXPECT_EQ(InkOutside(first, {PageRect(row)}), 0);

  // A long message wraps inside its box and is cut at its bottom edge.
  QStringList lines;
  for (int i = 0; i < 60; ++i) lines << QStringLiteral("word & word and more words to wrap %1").arg(i);
  const Page wrapped = RenderPage({message}, CoverData{}, lines);
  const Rect box = PageRect(message);
  EXPECT_GT(wrapped.Ink(box.x1, box.y2 - 40, box.x2, box.y2), 0) << "the box is filled to its bottom";
  EXPECT_EQ(InkOutside(wrapped, {box}), 0);
}

TEST_F(Render, HostileTemplatesDrawWhatTheyCan) {
  TemplateRecord good = Object(okShape, 0, 0, 100, 100);
  good.shapeType = stRectangle;
  good.fillType = sftFilledBlack;
  std::vector<TemplateRecord> hostile;
  TemplateRecord huge = Object(okText, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX);
  huge.caption = std::string(100000, 'W');
  huge.fontSize = INT32_MAX;
  hostile.push_back(huge);
  TemplateRecord longFont = Object(okField, -500, -500, 3000, 3000);
  longFont.fontName = std::string(300, 'F');
  longFont.fieldKind = cfRecipient;
  hostile.push_back(longFont);
  for (int shape = -1; shape <= 6; ++shape) {
    TemplateRecord s = Object(okShape, -100000, 50, INT32_MAX, 1 << 30);
    s.shapeType = shape;
    s.fillType = shape;
    s.penWidth = INT32_MAX;
    s.roundPerc = INT32_MIN;
    hostile.push_back(s);
  }
  for (int style = -1; style <= 4; ++style) {
    TemplateRecord l = Object(okLine, 10, 10, -5000, INT32_MIN);
    l.lineStyle = style;
    l.penWidth = -7;
    hostile.push_back(l);
  }
  TemplateRecord odd = Object(77, 0, 0, 10, 10);
  hostile.push_back(odd);
  TemplateRecord msg = Object(okMessage, 0, 0, INT32_MAX, -20);
  hostile.push_back(msg);

  const std::string fct = File("BAD.FCT");
  std::string bytes = SerializeTemplate({good});
  bytes += SerializeTemplate(hostile);
  bytes += SerializeTemplate({good}).substr(0, 9);  // a truncated last record
  ASSERT_TRUE(WriteWholeFile(fct, bytes));
  CoverData data = NumberedData();
  data.flags.fill(true);
  Page page;
  ASSERT_TRUE(covers_test::DecodeFirstPage(RenderCover(File("BAD.APF"), fct, data, {"x"}), page));
  ASSERT_EQ(page.rows.size(), 2156u);
  EXPECT_EQ(page.Ink(98, 98, 198, 198), 100 * 100) << "the record before the damage is drawn";

  // Random damage anywhere in a real template never crashes the drawing.
  CoverDescription d;
  std::string error;
  ASSERT_TRUE(CompileCoverDescription(ShippedCovers()[0].text, d, error));
  const std::string real = SerializeTemplate(d.records);
  std::srand(7);
  for (int round = 0; round < 40; ++round) {
    std::string damaged = real;
    for (int k = 0; k < 8; ++k)
      damaged[static_cast<std::size_t>(std::rand()) % damaged.size()] = static_cast<char>(std::rand());
    QImage canvas = BlankCanvas(kPreviewWidth, kPreviewHeight);
    QPainter p(&canvas);
    DrawTemplateRecords(p, ParseTemplate(damaged), data, {"m"}, 1);
  }
}

TEST_F(Render, NewCoversTakeTheFirstFreeNameAndReplaceWhole) {
  setenv("QUILLON_HOME", dir_.c_str(), 1);
  qn::ResetProgramFolder();
  const std::string fct = File("NONE.FCT");
  const std::string a = RenderCover("", fct, CoverData{}, {});
  const std::string b = RenderCover("", fct, CoverData{}, {});
  EXPECT_EQ(std::filesystem::path(a).filename(), "COV00000.APF");
  EXPECT_EQ(std::filesystem::path(b).filename(), "COV00001.APF");
  EXPECT_EQ(std::filesystem::path(a).parent_path().filename(), "SEND");
  // Rendering over an existing cover keeps its name and leaves no temporary file.
  TemplateRecord box = Object(okShape, 0, 0, 50, 50);
  box.shapeType = stRectangle;
  box.fillType = sftFilledBlack;
  ASSERT_TRUE(WriteTemplateFile(File("BOX.FCT"), {box}));
  EXPECT_EQ(RenderCover(a, File("BOX.FCT"), CoverData{}, {}), a);
  Page page;
  ASSERT_TRUE(covers_test::DecodeFirstPage(a, page));
  EXPECT_EQ(page.Ink(98, 98, 148, 148), 2500);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(a).parent_path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

TEST_F(Render, ShippedTemplatesInstallWithPreviewsAndDescriptions) {
  ASSERT_GE(ShippedCovers().size(), 3u);
  EXPECT_EQ(InstallShippedCovers(dir_.string()), static_cast<int>(ShippedCovers().size()));
  bool importance = false, bigMessage = false;
  for (const ShippedCover& c : ShippedCovers()) {
    const std::string base = (dir_ / c.baseName).string();
    std::vector<TemplateRecord> records;
    ASSERT_TRUE(ReadTemplateFile(base + ".FCT", records));
    EXPECT_GT(records.size(), 5u);
    EXPECT_FALSE(ReadDescription(base + ".DES").empty());
    QImage preview(QString::fromStdString(base + ".bmp"));
    ASSERT_FALSE(preview.isNull()) << c.baseName;
    EXPECT_EQ(preview.size(), QSize(kPreviewWidth, kPreviewHeight));
    EXPECT_EQ(preview.depth(), 1);
    for (const TemplateRecord& r : records) {
      importance = importance || r.kind == okImportance;
      bigMessage = bigMessage || (r.kind == okMessage && r.height > 1400);
      // Every object lies on the 8 by 10 inch design page.
      EXPECT_GE(r.left, 0);
      EXPECT_LE(r.left + r.width, 1568 + 2) << c.baseName;
      EXPECT_LE(r.top + r.height, 1960 + 2) << c.baseName;
    }
  }
  EXPECT_TRUE(importance);
  EXPECT_TRUE(bigMessage);
  // Installing again keeps what is there (a user's changes survive).
  std::ofstream(dir_ / "QN0001.FCT", std::ios::binary | std::ios::trunc);
  EXPECT_EQ(InstallShippedCovers(dir_.string()), 0);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "QN0001.FCT"), 0u);
}

TEST(Fonts, TemplateFontNamesResolveToMetricCompatibleFamilies) {
  covers_test::EnsureApp();
  EXPECT_EQ(ResolveFontFamily(QStringLiteral("Arial")), QStringLiteral("Liberation Sans"));
  EXPECT_EQ(ResolveFontFamily(QStringLiteral("Times New Roman")), QStringLiteral("Liberation Serif"));
  EXPECT_EQ(ResolveFontFamily(QStringLiteral("Courier New")), QStringLiteral("Liberation Mono"));
  TemplateRecord r;
  r.fontName = "Arial";
  r.fontSize = 24;  // 12 points on the design page, doubled
  EXPECT_EQ(TemplateFont(r, 1).pixelSize(), 32);
  EXPECT_EQ(TemplateFont(r, 2).pixelSize(), 16);
  EXPECT_TRUE(TemplateFont(r, 1).styleStrategy() & QFont::NoAntialias);
}
