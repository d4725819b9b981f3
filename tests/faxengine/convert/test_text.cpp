// Text input: page breaks, line cutting, tabs, line heights, the built-in font.
#include <gtest/gtest.h>

#include <QFont>
#include <QGuiApplication>
#include <QTimer>

#include "fe_exceptions.h"
#include "fe_fax_converter.h"
#include "test_util.h"

using namespace fe;
using fe_test::Page;

namespace {

std::vector<Page> ConvertText(const std::string& name, const std::string& text,
                              const std::function<void(TFeFaxConverter&)>& setup = {}) {
  const auto dir = fe_test::TempDir("text-" + name);
  fe_test::WriteFile(dir / "in.txt", text);
  TFeFaxConverter c;
  c.InputDocumentType = idText;
  c.DocumentFile = dir / "in.txt";
  c.OutFileName = dir / "out.apf";
  if (setup) setup(c);
  c.ConvertToFile();
  return fe_test::DecodeApf(c.OutputFileName());
}

// Pixel columns with ink in rows [from, to) of a page.
unsigned InkColumns(const Page& p, unsigned from, unsigned to) {
  unsigned n = 0;
  for (unsigned x = 0; x < p.width; ++x)
    for (unsigned y = from; y < to; ++y)
      if (p.black(x, y)) {
        ++n;
        break;
      }
  return n;
}

bool SameRows(const Page& a, const Page& b) {
  return a.rows == b.rows;
}

}  // namespace

TEST(TextConvert, PageBreaksByFormFeedAndLineCount) {
  // A form feed mid-line: the text before it ends page 1, the text after it opens page 2.
  auto pages = ConvertText("ff", "first\nsecond\fthird\n");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].rows.size(), 32u);  // two text lines of 16 raster lines
  EXPECT_EQ(pages[1].rows.size(), 16u);
  EXPECT_GT(InkColumns(pages[1], 0, 16), 0u);

  // CR LF and a lone CR end lines as LF does.
  EXPECT_EQ(ConvertText("crlf", "a\r\nb\rc\n")[0].rows, ConvertText("lf", "a\nb\nc\n")[0].rows);

  // With 60 lines per page the 61st line starts page 2.
  std::string sixtyOne;
  for (int i = 1; i <= 61; ++i) sixtyOne += "line " + std::to_string(i) + "\n";
  pages = ConvertText("lpp", sixtyOne);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].rows.size(), 60u * 16);
  EXPECT_EQ(pages[1].rows.size(), 16u);

  // 0 lines per page: no limit.
  pages = ConvertText("lpp0", sixtyOne, [](TFeFaxConverter& c) { c.LinesPerPage = 0; });
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].rows.size(), 61u * 16);

  // A form feed that ends a full page, or opens or closes the document, adds no blank page.
  std::string sixty;
  for (int i = 1; i <= 60; ++i) sixty += "x\n";
  pages = ConvertText("ffquiet", "\f" + sixty + "\fnext\f\n");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].rows.size(), 60u * 16);
  EXPECT_EQ(pages[1].rows.size(), 16u);
}

TEST(TextConvert, EmptyDocumentIsOneBlankLine) {
  const auto pages = ConvertText("empty", "");
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].rows.size(), 1u);
  EXPECT_TRUE(pages[0].blankRow(0));
  EXPECT_EQ(pages[0].width, 1728u);
}

TEST(TextConvert, LongLinesAreCutNotWrapped) {
  // 1728/20 - 50/20 = 84 characters fit; 200 give one text line all the same.
  const auto pages = ConvertText("cut", std::string(200, 'H') + "\n");
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].rows.size(), 16u);
  const auto exact = ConvertText("cut84", std::string(84, 'H') + "\n");
  EXPECT_TRUE(SameRows(pages[0], exact[0]));
  // Wide pages and the small font hold more: 2048/12 - 50/12 = 166 characters.
  const auto wide = ConvertText("cutwide", std::string(300, 'H') + "\n", [](TFeFaxConverter& c) {
    c.Width = fwWide;
    c.FontType = ffSmall;
  });
  const auto wide166 = ConvertText("cutwide166", std::string(166, 'H') + "\n", [](TFeFaxConverter& c) {
    c.Width = fwWide;
    c.FontType = ffSmall;
  });
  ASSERT_EQ(wide[0].rows.size(), 8u);
  EXPECT_EQ(wide[0].width, 2048u);
  EXPECT_TRUE(SameRows(wide[0], wide166[0]));
  EXPECT_FALSE(SameRows(wide[0], ConvertText("cutwide165", std::string(165, 'H') + "\n", [](TFeFaxConverter& c) {
                          c.Width = fwWide;
                          c.FontType = ffSmall;
                        })[0]));
}

TEST(TextConvert, TabsExpandToTabStops) {
  const auto tab = ConvertText("tab", "\tX\nab\tY\nabcd\tZ\n");
  const auto spaces = ConvertText("spaces", "    X\nab  Y\nabcd    Z\n");
  EXPECT_TRUE(SameRows(tab[0], spaces[0]));
  const auto tab8 = ConvertText("tab8", "a\tX\n", [](TFeFaxConverter& c) { c.TabStop = 8; });
  EXPECT_TRUE(SameRows(tab8[0], ConvertText("spaces8", "a       X\n")[0]));
  // A tab stop of 0 must not swallow the line: each tab is one column.
  const auto tab0 = ConvertText("tab0", "a\tX\n", [](TFeFaxConverter& c) { c.TabStop = 0; });
  EXPECT_TRUE(SameRows(tab0[0], ConvertText("spaces0", "a X\n")[0]));
}

TEST(TextConvert, LineHeightsFollowFontAndResolution) {
  auto fine = ConvertText("fine", "one\ntwo\n", [](TFeFaxConverter& c) { c.Resolution = frHigh; });
  ASSERT_EQ(fine.size(), 1u);
  EXPECT_EQ(fine[0].rows.size(), 64u);  // 32 raster lines per standard-font line
  // Every glyph row appears twice at high resolution.
  const auto normal = ConvertText("normal", "one\ntwo\n");
  for (unsigned y = 0; y < 32; ++y) EXPECT_EQ(fine[0].rows[2 * y], normal[0].rows[y]) << y;
  EXPECT_EQ(ConvertText("small", "one\n", [](TFeFaxConverter& c) { c.FontType = ffSmall; })[0].rows.size(), 8u);
  // Top margin: blank lines before the text on every page.
  const auto top = ConvertText("top", "a\fb\n", [](TFeFaxConverter& c) { c.TopMargin = 7; });
  ASSERT_EQ(top.size(), 2u);
  for (const auto& p : top) {
    ASSERT_EQ(p.rows.size(), 23u);
    for (unsigned y = 0; y < 7; ++y) EXPECT_TRUE(p.blankRow(y));
  }
}

TEST(TextConvert, GlyphsLandInTheirCells) {
  // "I" at column 2: its ink lies inside cell 2 after the 50-pixel margin.
  const auto pages = ConvertText("cells", "  I\n", [](TFeFaxConverter& c) { c.LeftMargin = 40; });
  const Page& p = pages[0];
  unsigned minX = p.width, maxX = 0;
  for (unsigned y = 0; y < p.rows.size(); ++y)
    for (unsigned x = 0; x < p.width; ++x)
      if (p.black(x, y)) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
  EXPECT_GE(minX, 40u + 2 * 20);
  EXPECT_LT(maxX, 40u + 3 * 20);
  // Printable ASCII and Latin-1 letters all have ink; UTF-8 and Latin-1 bytes give the same glyph.
  for (int c = 0x21; c < 0x7F; ++c) {
    const auto g = ConvertText("ascii", std::string(1, char(c)) + "\n");
    EXPECT_GT(InkColumns(g[0], 0, 16), 0u) << c;
  }
  const auto utf8 = ConvertText("utf8", "\xC3\x84\xC3\xA9\xC3\x9F\n");
  const auto latin1 = ConvertText("latin1", "\xC4\xE9\xDF\n");
  EXPECT_TRUE(SameRows(utf8[0], latin1[0]));
  EXPECT_GT(InkColumns(utf8[0], 0, 16), 20u);
}

TEST(TextConvert, StatusAbortAndOutputLineHook) {
  const auto dir = fe_test::TempDir("status");
  fe_test::WriteFile(dir / "in.txt", "a\nb\nc\n");
  TFeFaxConverter c;
  c.InputDocumentType = idText;
  c.DocumentFile = dir / "in.txt";
  unsigned calls = 0, starts = 0, ends = 0;
  c.OnStatus = [&](TFeFaxConverter&, bool s, bool e, unsigned, unsigned, std::uint64_t, std::uint64_t, bool& abort) {
    ++calls;
    starts += s;
    ends += e;
    abort = calls == 20;
  };
  try {
    c.ConvertToFile();
    FAIL() << "no abort";
  } catch (const EConvertAbort& e) {
    EXPECT_EQ(e.ErrorCode(), -8003);
  }
  EXPECT_EQ(starts, 1u);
  EXPECT_EQ(ends, 0u);
  // OnOutputLine takes the coded lines instead of a file: 48 lines and the page end.
  c.OnStatus = nullptr;
  c.OutFileName = dir / "never.apf";
  unsigned lines = 0, pageEnds = 0;
  c.OnOutputLine = [&](TFeFaxConverter&, const std::uint8_t* data, unsigned len, bool eop, bool more) {
    EXPECT_GE(len, 6u);
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(data[1], 0x80);  // the 16-bit end-of-line code
    if (eop) {
      ++pageEnds;
      EXPECT_FALSE(more);
    } else {
      ++lines;
    }
  };
  c.ConvertToFile();
  EXPECT_EQ(lines, 48u);
  EXPECT_EQ(pageEnds, 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "never.apf"));
}

QGuiApplication& App() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QGuiApplication app(argc, argv);
  return app;
}

TEST(TextConvert, QuitWhileYieldingStopsWith1003) {
  App();
  const auto dir = fe_test::TempDir("quit");
  fe_test::WriteFile(dir / "in.txt", std::string(500, '\n'));
  TFeFaxConverter c;
  c.InputDocumentType = idText;
  c.DocumentFile = dir / "in.txt";
  c.OnStatus = [](TFeFaxConverter&, bool, bool, unsigned, unsigned lines, std::uint64_t, std::uint64_t, bool&) {
    if (lines == 5) QCoreApplication::quit();
  };
  int code = 0;
  QTimer::singleShot(0, [&] {
    try {
      c.ConvertToFile();
    } catch (const EFeException& e) {
      code = e.ErrorCode();
    }
  });
  QCoreApplication::exec();
  EXPECT_EQ(code, -1003);
  // Without coYield the conversion does not look at the event loop.
  c.Options = coDoubleWidth | coCenterImage;
  c.OnStatus = nullptr;
  EXPECT_NO_THROW(c.ConvertToFile());
}

TEST(TextConvert, ScreenFontLinesAreAsHighAsWy) {
  App();
  auto heightOf = [](bool fine) {
    const auto pages = ConvertText(fine ? "tx-fine" : "tx", "Hello\nWorld\n", [&](TFeFaxConverter& c) {
      c.InputDocumentType = idTextEx;
      c.EnhFont = QFont("DejaVu Sans Mono", 10);
      if (fine) c.Resolution = frHigh;
    });
    EXPECT_EQ(pages.size(), 1u);
    unsigned ink = 0;
    for (unsigned y = 0; y < pages[0].rows.size(); ++y) ink += !pages[0].blankRow(y);
    EXPECT_GT(ink, 0u);
    return pages[0].rows.size() / 2;
  };
  const auto normal = heightOf(false), fine = heightOf(true);
  EXPECT_GT(normal, 5u);
  EXPECT_NEAR(double(fine), 2.0 * normal, 3.0);
  // A font too large for the 65536-byte line bitmap fails with 8055.
  const auto dir = fe_test::TempDir("textex-big");
  fe_test::WriteFile(dir / "in.txt", "x\n");
  TFeFaxConverter c;
  c.InputDocumentType = idTextEx;
  c.DocumentFile = dir / "in.txt";
  c.EnhFont = QFont("DejaVu Sans", 300);
  EXPECT_THROW(c.ConvertToFile(), EFeException);
}
