// The flat template's bytes: tagged values, record layout, unit conversion,
// description files and the readable template language.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "covers/cover_description.h"
#include "covers/cover_template.h"
#include "covers_test_util.h"

using namespace covers;

namespace {

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

std::string IntBytes(std::int32_t v) {
  std::string out;
  TaggedWriter(out).Int(v);
  return out;
}

TemplateRecord FieldRecord() {
  TemplateRecord r;
  r.kind = okField;
  r.left = 98;
  r.top = 300;
  r.width = 40000;
  r.height = 49;
  r.fontName = "Arial";
  r.fontSize = 20;
  r.bold = true;
  r.fieldKind = cfRecipient;
  return r;
}

}  // namespace

TEST(TaggedValues, IntegersUseTheSmallestTagLittleEndian) {
  EXPECT_EQ(IntBytes(127), Bytes({2, 0x7F}));
  EXPECT_EQ(IntBytes(128), Bytes({3, 0x80, 0x00}));
  EXPECT_EQ(IntBytes(-128), Bytes({2, 0x80}));
  EXPECT_EQ(IntBytes(-129), Bytes({3, 0x7F, 0xFF}));
  EXPECT_EQ(IntBytes(32767), Bytes({3, 0xFF, 0x7F}));
  EXPECT_EQ(IntBytes(32768), Bytes({4, 0x00, 0x80, 0x00, 0x00}));
  EXPECT_EQ(IntBytes(-32769), Bytes({4, 0xFF, 0x7F, 0xFF, 0xFF}));
  for (std::int32_t v : {0, -1, 127, 128, -128, -129, 32767, 32768, -32768, -32769, INT32_MAX, INT32_MIN}) {
    const std::string b = IntBytes(v);
    TaggedReader r(b);
    std::int32_t back = 0;
    ASSERT_TRUE(r.Int(back)) << v;
    EXPECT_EQ(back, v);
    EXPECT_TRUE(r.AtEnd());
  }
  // A reader takes any integer tag, whatever size the writer should have used.
  const std::string wideBytes = Bytes({4, 5, 0, 0, 0, 3, 0xFE, 0xFF});
  TaggedReader wide(wideBytes);
  std::int32_t a = 0, b = 0;
  EXPECT_TRUE(wide.Int(a) && wide.Int(b));
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, -2);
}

TEST(TaggedValues, TextsFlagsAndShortReads) {
  std::string out;
  TaggedWriter w(out);
  w.Text("");
  w.Text(std::string(255, 'a'));
  w.Text(std::string(256, 'b'));
  w.Flag(true);
  w.Flag(false);
  ASSERT_EQ(out.size(), 2u + 2u + 255u + 5u + 256u + 2u);
  EXPECT_EQ(out.substr(0, 2), Bytes({6, 0}));
  EXPECT_EQ(out.substr(2, 2), Bytes({6, 0xFF}));
  EXPECT_EQ(out.substr(259, 5), Bytes({12, 0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(out.substr(out.size() - 2), Bytes({9, 8}));

  TaggedReader r(out);
  std::string s;
  bool f = false;
  EXPECT_TRUE(r.Text(s) && s.empty());
  EXPECT_TRUE(r.Text(s) && s == std::string(255, 'a'));
  EXPECT_TRUE(r.Text(s) && s == std::string(256, 'b'));
  EXPECT_TRUE(r.Flag(f) && f);
  EXPECT_TRUE(r.Flag(f) && !f);

  // Only tag 9 reads true: another whole value reads false and is passed over.
  const std::string otherBytes = Bytes({2, 1, 9});
  TaggedReader other(otherBytes);
  EXPECT_TRUE(other.Flag(f));
  EXPECT_FALSE(f);
  EXPECT_TRUE(other.Flag(f) && f);

  // A length beyond the data fails without moving the position.
  const std::string lyingBytes = Bytes({12, 0xFF, 0xFF, 0xFF, 0x7F, 'x'});
  TaggedReader lying(lyingBytes);
  EXPECT_FALSE(lying.Text(s));
  EXPECT_EQ(lying.Position(), 0u);
  const std::string cutBytes = Bytes({3, 0x01});
  TaggedReader cut(cutBytes);
  std::int32_t v = 0;
  EXPECT_FALSE(cut.Int(v));
  EXPECT_EQ(cut.Position(), 0u);
}

TEST(FlatTemplate, RecordLayoutIsSeventeenValuesBetweenStartAndEnd) {
  const std::string bytes = SerializeTemplate({FieldRecord()});
  // clang-format off
  const std::string expected = Bytes({1,                                  // start
                                      2, 5,                               // kind: merge field
                                      2, 98,                              // left
                                      3, 0x2C, 0x01,                      // top 300
                                      4, 0x40, 0x9C, 0x00, 0x00,          // width 40000
                                      2, 49,                              // height
                                      6, 0,                               // caption
                                      6, 5, 'A', 'r', 'i', 'a', 'l',      // font name
                                      2, 20,                              // font size x 2
                                      9, 8, 8,                            // bold, italic, underline
                                      2, 0xFF, 2, 0xFF, 2, 0xFF, 2, 0xFF, 2, 0xFF,  // five unused: -1
                                      2, 3,                               // field kind: recipient
                                      0});                                // end
  // clang-format on
  EXPECT_EQ(bytes, expected);
  const auto back = ParseTemplate(bytes);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], FieldRecord());
}

TEST(FlatTemplate, DamageKeepsTheRecordsBeforeIt) {
  EXPECT_TRUE(ParseTemplate("").empty());
  TemplateRecord text;
  text.caption = "Hello";
  text.fontName = "Arial";
  text.fontSize = 24;
  const std::string two = SerializeTemplate({text, FieldRecord()});
  for (std::size_t cut = 0; cut < two.size(); ++cut) {
    const auto back = ParseTemplate(std::string_view(two).substr(0, cut));
    const std::size_t first = SerializeTemplate({text}).size();
    EXPECT_EQ(back.size(), cut < first ? 0u : 1u) << cut;
  }
  // A record with a text where an integer belongs ends the reading there.
  std::string bad = SerializeTemplate({text});
  bad[1] = 6;
  EXPECT_TRUE(ParseTemplate(bad + two).empty());
  // A record without its end tag is damage too.
  std::string noEnd = SerializeTemplate({text});
  noEnd.back() = 1;
  EXPECT_TRUE(ParseTemplate(noEnd).empty());
}

TEST(FlatTemplate, FilesRoundTripAndDescriptions) {
  const auto dir = covers_test::TempDir("files");
  const std::string fct = (dir / "T.FCT").string();
  EXPECT_TRUE(WriteTemplateFile(fct, {}));
  EXPECT_EQ(std::filesystem::file_size(fct), 0u);
  std::vector<TemplateRecord> records{FieldRecord(), FieldRecord()};
  records[1].kind = okMessage;
  records[1].caption = std::string(300, 'c');
  ASSERT_TRUE(WriteTemplateFile(fct, records));
  std::vector<TemplateRecord> back;
  ASSERT_TRUE(ReadTemplateFile(fct, back));
  EXPECT_EQ(back, records);
  EXPECT_FALSE(ReadTemplateFile((dir / "none.FCT").string(), back));

  EXPECT_EQ(ReadDescription((dir / "none.DES").string()), "");
  ASSERT_TRUE(WriteDescription((dir / "T.DES").string(), "Business cover\nsecond"));
  EXPECT_EQ(ReadDescription((dir / "T.DES").string()), "Business cover");
  std::ofstream((dir / "W.DES").string(), std::ios::binary) << "From Windows\r\nmore\r\n";
  EXPECT_EQ(ReadDescription((dir / "W.DES").string()), "From Windows");
  std::ofstream((dir / "E.DES").string(), std::ios::binary);
  EXPECT_EQ(ReadDescription((dir / "E.DES").string()), "");
  std::filesystem::remove_all(dir);
}

TEST(Units, PixelsToFaxUnitsRoundsHalvesToEven) {
  EXPECT_EQ(PixelsToFaxUnits(48, 96), 98);
  EXPECT_EQ(PixelsToFaxUnits(0, 96), 0);
  EXPECT_EQ(PixelsToFaxUnits(768, 96), 1568);
  EXPECT_EQ(PixelsToFaxUnits(12, 96), 24);    // 24.5 -> 24
  EXPECT_EQ(PixelsToFaxUnits(36, 96), 74);    // 73.5 -> 74
  EXPECT_EQ(PixelsToFaxUnits(-12, 96), -24);  // -24.5 -> -24
  EXPECT_EQ(PixelsToFaxUnits(-36, 96), -74);
  EXPECT_EQ(PixelsToFaxUnits(1, 96), 2);   // 2.04
  EXPECT_EQ(PixelsToFaxUnits(5, 120), 8);  // 8.1666
  EXPECT_EQ(PixelsToFaxUnits(INT64_C(1) << 40, 96), INT32_MAX);
}

TEST(TemplateLanguage, CompilesObjectsInDesignPixels) {
  CoverDescription d;
  std::string error;
  ASSERT_TRUE(CompileCoverDescription(R"(# comment
description  A plain cover
font "Times New Roman" 12 italic
text 48 0 100 20 "To: \"you\""
field 48 24 200 20 recipientfax font "Arial" 9 bold
roundrect 0 0 768 90 pen 3 fill black round 40
line 0 100 768 4 up
importance 0 120 700 20
)",
                                      d, error))
      << error;
  EXPECT_EQ(d.description, "A plain cover");
  ASSERT_EQ(d.records.size(), 5u);
  EXPECT_EQ(d.records[0].kind, okText);
  EXPECT_EQ(d.records[0].left, 98);
  EXPECT_EQ(d.records[0].caption, "To: \"you\"");
  EXPECT_EQ(d.records[0].fontName, "Times New Roman");
  EXPECT_EQ(d.records[0].fontSize, 24);
  EXPECT_TRUE(d.records[0].italic);
  EXPECT_EQ(d.records[1].fieldKind, cfRecipientFax);
  EXPECT_EQ(d.records[1].fontName, "Arial");
  EXPECT_TRUE(d.records[1].bold);
  EXPECT_FALSE(d.records[1].italic);
  EXPECT_EQ(d.records[2].shapeType, stRoundRect);
  EXPECT_EQ(d.records[2].fillType, sftFilledBlack);
  EXPECT_EQ(d.records[2].penWidth, 6);
  EXPECT_EQ(d.records[2].roundPerc, 40);
  EXPECT_EQ(d.records[2].fontSize, -1);
  EXPECT_EQ(d.records[3].lineStyle, stAngleSlopingUp);
  EXPECT_EQ(d.records[4].kind, okImportance);
  EXPECT_EQ(d.records[4].fontName, "Times New Roman");  // the default font of the lines above

  for (const char* bad : {"text 1 2 3 \"x\"", "field 0 0 10 10 nobody", "circle 0 0 10 10 fill grey",
                          "text 0 0 10 10 \"open", "blob 0 0 1 1", "font Arial 10"}) {
    EXPECT_FALSE(CompileCoverDescription(std::string("description x\n") + bad, d, error)) << bad;
    EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
  }
}
