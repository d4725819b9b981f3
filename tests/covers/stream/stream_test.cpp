// Object streams and design source files: the byte layout of values, default
// suppression, round trips of every class, flattening into flat-template
// records, and damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "covers/stream/cover_source.h"
#include "covers/stream/object_stream.h"

using namespace covers;

namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}
std::string Short(std::string_view s) {
  return std::string(1, static_cast<char>(s.size())) + std::string(s);
}

// The bytes one property value is written as.
std::string ValueBytes(const StreamValue& v) {
  StreamObject o{"T", "", {{"P", v}}, {}};
  std::string out;
  WriteObjectStream(out, o);
  const std::string head = "TPF0" + Short("T") + Short("") + Short("P");
  EXPECT_EQ(out.substr(0, head.size()), head);
  return out.substr(head.size(), out.size() - head.size() - 2);
}

std::vector<std::string> Names(const StreamObject& o) {
  std::vector<std::string> n;
  for (const auto& p : o.properties) n.push_back(p.name);
  return n;
}

CoverObjectData Make(const char* cls, int left = 10, int top = 20, int width = 30, int height = 40) {
  CoverObjectData o;
  o.className = cls;
  o.name = "Component1";
  o.left = left;
  o.top = top;
  o.width = width;
  o.height = height;
  return o;
}

// An object of the class with every stored property away from its default.
CoverObjectData Unusual(const char* cls, int n) {
  CoverObjectData o = Make(cls, 11 + n, 300 + n, 200, 70000);
  o.name = "Special" + std::to_string(n);
  o.tag = -40000;
  o.cursor = -21;
  o.hint = std::string(300, 'h');
  o.locked = true;
  o.unselectable = true;
  if (IsTextLikeKind(o.Kind())) {
    o.caption = "Caption \xC3\xA9 & more";
    o.hasFont = true;
    o.font = {0x123456, -37, "Courier New", fpFixed, true, true, true, true};
    if (o.Kind() == okField) o.fieldType = cfSenderVoice;
  } else {
    o.pen = {0x0000FF, pmXor, psDashDot, 7};
    if (o.Kind() == okShape) {
      o.fillType = sftFilledBlack;
      o.roundPerc = 60;
      o.shape = stCircle;
    } else {
      o.lineStyle = stAngleSlopingDown;
    }
  }
  return o;
}

std::vector<CoverObjectData> EveryClassUnusual() {
  std::vector<CoverObjectData> all;
  int n = 1;
  for (const char* cls : kCoverClassNames) all.push_back(Unusual(cls, n++));
  return all;
}

}  // namespace

TEST(ObjectStream, ValuesUseTheirTags) {
  // Integers take the smallest tag that holds them.
  EXPECT_EQ(ValueBytes(127), Bytes({2, 127}));
  EXPECT_EQ(ValueBytes(-128), Bytes({2, 0x80}));
  EXPECT_EQ(ValueBytes(128), Bytes({3, 0x80, 0}));
  EXPECT_EQ(ValueBytes(-129), Bytes({3, 0x7F, 0xFF}));
  EXPECT_EQ(ValueBytes(32767), Bytes({3, 0xFF, 0x7F}));
  EXPECT_EQ(ValueBytes(32768), Bytes({4, 0, 0x80, 0, 0}));
  EXPECT_EQ(ValueBytes(INT32_MIN), Bytes({4, 0, 0, 0, 0x80}));
  // Texts: one length byte up to 255 characters, four from 256 on.
  EXPECT_EQ(ValueBytes(std::string(255, 'a')), Bytes({6, 255}) + std::string(255, 'a'));
  EXPECT_EQ(ValueBytes(std::string(256, 'a')), Bytes({12, 0, 1, 0, 0}) + std::string(256, 'a'));
  EXPECT_EQ(ValueBytes(std::string()), Bytes({6, 0}));
  EXPECT_EQ(ValueBytes(true), Bytes({9}));
  EXPECT_EQ(ValueBytes(false), Bytes({8}));
  EXPECT_EQ(ValueBytes(StreamIdent{"clRed"}), Bytes({7}) + Short("clRed"));
  EXPECT_EQ(ValueBytes(StreamSet{{"fsBold", "fsItalic"}}),
            Bytes({11}) + Short("fsBold") + Short("fsItalic") + Short(""));
  EXPECT_EQ(ValueBytes(StreamSet{}), Bytes({11, 0}));
}

TEST(ObjectStream, ListLayoutAndGenericTreeRoundTrip) {
  EXPECT_EQ(WriteObjectList({}), Bytes({1, 0}));
  const StreamObject line{"TFaxCoverLine", "Component1", {{"Left", 5}}, {}};
  EXPECT_EQ(WriteObjectList({line}), Bytes({1}) + "TPF0" + Short("TFaxCoverLine") + Short("Component1") +
                                         Short("Left") + Bytes({2, 5, 0, 0, 0}));

  // Children nest inside their parent and read back as written.
  StreamObject tree{"TOuter", "a", {{"X", 1}}, {{"TInner", "b", {}, {{"TLeaf", "c", {{"S", StreamSet{{"m"}}}}, {}}}}}};
  const StreamReadResult back = ReadObjectList(WriteObjectList({tree, line}));
  ASSERT_TRUE(back.ok) << back.error;
  ASSERT_EQ(back.objects.size(), 2u);
  EXPECT_EQ(back.objects[0], tree);
  // With no nesting allowed the nested object fails; the reading stops there.
  const StreamReadResult flat = ReadObjectList(WriteObjectList({line, tree, line}), 0);
  EXPECT_FALSE(flat.ok);
  EXPECT_NE(flat.error.find("nested deeper"), std::string::npos) << flat.error;
  EXPECT_EQ(flat.objects.size(), 1u);
}

TEST(ObjectStream, DeepNestingStopsAtTheLimit) {
  // 10 000 levels of children: refused at the limit without exhausting the stack.
  std::string bytes = Bytes({1}) + "TPF0";
  for (int i = 0; i < 10000; ++i) bytes += Short("TX") + Short("") + Bytes({0});
  const StreamReadResult r = ReadObjectList(bytes);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("nested deeper"), std::string::npos);
}

TEST(DesignSource, DefaultsAreLeftOut) {
  CoverObjectData shape = Make("TFaxCoverShapes");
  EXPECT_EQ(Names(ToStreamObject(shape)),
            (std::vector<std::string>{"Left", "Top", "Width", "Height", "Locked", "Unselectable", "ShapeFilltype"}));
  CoverObjectData line = Make("TFaxCoverLine");
  EXPECT_EQ(Names(ToStreamObject(line)),
            (std::vector<std::string>{"Left", "Top", "Width", "Height", "Locked", "Unselectable"}));
  line.lineStyle = stVertical;
  line.pen.width = 3;
  EXPECT_EQ(Names(ToStreamObject(line)), (std::vector<std::string>{"Left", "Top", "Width", "Height", "Locked",
                                                                   "Unselectable", "Pen.Width", "LineStyle"}));
  // A text object without a font of its own and without caption: no Font, no Caption.
  CoverObjectData label = Make("TFaxCoverLabel");
  EXPECT_EQ(Names(ToStreamObject(label)),
            (std::vector<std::string>{"Left", "Top", "Width", "Height", "Locked", "Unselectable"}));
  // Once it has a font, four font properties always; the pitch only when not fpDefault.
  label.hasFont = true;
  label.caption = "Hi";
  EXPECT_EQ(Names(ToStreamObject(label)),
            (std::vector<std::string>{"Left", "Top", "Width", "Height", "Locked", "Unselectable", "Caption",
                                      "Font.Color", "Font.Height", "Font.Name", "Font.Style"}));
  CoverObjectData field = Make("TFaxCoverField");
  EXPECT_EQ(Names(ToStreamObject(field)).back(), "CoverFieldType");
  // Unusual values are written in the class's order.
  EXPECT_EQ(Names(ToStreamObject(Unusual("TFaxCoverShapes", 1))),
            (std::vector<std::string>{"Tag", "Left", "Top", "Width", "Height", "Cursor", "Hint", "Locked",
                                      "Unselectable", "ShapeFilltype", "Pen.Color", "Pen.Mode", "Pen.Style",
                                      "Pen.Width", "RoundPerc", "Shape"}));
  EXPECT_EQ(Names(ToStreamObject(Unusual("TFaxCoverField", 1))),
            (std::vector<std::string>{"Tag", "Left", "Top", "Width", "Height", "Cursor", "Hint", "Locked",
                                      "Unselectable", "Caption", "Font.Color", "Font.Height", "Font.Name", "Font.Pitch",
                                      "Font.Style", "CoverFieldType"}));
}

TEST(DesignSource, ColorsAreNamedWhenTheyHaveAName) {
  CoverObjectData label = Make("TFaxCoverLabel");
  label.hasFont = true;
  label.font.color = clWhite;
  EXPECT_EQ(ToStreamObject(label).Find("Font.Color")->value, StreamValue(StreamIdent{"clWhite"}));
  label.font.color = 0x123456;
  EXPECT_EQ(ToStreamObject(label).Find("Font.Color")->value, StreamValue(std::int32_t{0x123456}));
  CoverObjectData shape = Make("TFaxCoverShapes");
  shape.pen.color = 0x0000FF;
  EXPECT_EQ(ToStreamObject(shape).Find("Pen.Color")->value, StreamValue(StreamIdent{"clRed"}));
}

TEST(DesignSource, EveryPropertyOfEveryClassSurvivesSaveLoadSave) {
  const auto dir = std::filesystem::temp_directory_path() / "qn-stream-roundtrip";
  std::filesystem::create_directories(dir);
  const std::string first = (dir / "A.FCS").string(), second = (dir / "B.FCS").string();
  const auto objects = EveryClassUnusual();
  ASSERT_TRUE(WriteDesignSourceFile(first, objects));
  const DesignSourceResult loaded = ReadDesignSourceFile(first);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.objects, objects);
  ASSERT_TRUE(WriteDesignSourceFile(second, loaded.objects));
  std::ifstream a(first, std::ios::binary), b(second, std::ios::binary);
  const std::string ba((std::istreambuf_iterator<char>(a)), {}), bb((std::istreambuf_iterator<char>(b)), {});
  EXPECT_EQ(ba, bb);
  EXPECT_GT(ba.size(), 1000u);
  std::filesystem::remove_all(dir);
}

TEST(DesignSource, FlatteningFollowsTheUnits) {
  for (int ppi : {96, 120}) {
    SCOPED_TRACE(ppi);
    auto units = [ppi](int px) { return PixelsToFaxUnits(px, ppi); };
    FontData panel;
    panel.name = "Times New Roman";
    panel.height = FontHeightForSize(14, ppi);
    panel.italic = true;

    CoverObjectData text = Make("TFaxCoverLabel", 48, 13, 142, 33);
    text.caption = "Hello";
    text.hasFont = true;
    text.font.height = FontHeightForSize(12, ppi);
    text.font.bold = true;
    TemplateRecord r = FlattenObject(text, panel, ppi);
    EXPECT_EQ(r, (TemplateRecord{okText, units(48), units(13), units(142), units(33), "Hello", "Arial", 24, true, false,
                                 false, -1, -1, -1, -1, -1, -1}));
    // Without its own font the object is flattened with the panel's.
    text.hasFont = false;
    r = FlattenObject(text, panel, ppi);
    EXPECT_EQ(r.fontName, "Times New Roman");
    EXPECT_EQ(r.fontSize, 28);
    EXPECT_TRUE(r.italic);

    CoverObjectData symbol = Make("TFaxCoverSymbol");
    symbol.caption = "[";
    symbol.hasFont = true;
    symbol.font.name = "WingDings";
    symbol.font.height = FontHeightForSize(24, ppi);
    EXPECT_EQ(FlattenObject(symbol, panel, ppi),
              (TemplateRecord{okSymbol, units(10), units(20), units(30), units(40), "[", "WingDings", 48, false, false,
                              false, -1, -1, -1, -1, -1, -1}));

    CoverObjectData shape = Make("TFaxCoverShapes", 0, 959, 768, 1);
    shape.shape = stRoundRect;
    shape.fillType = sftFilledBlack;
    shape.pen.width = 3;
    shape.roundPerc = 40;
    EXPECT_EQ(FlattenObject(shape, panel, ppi),
              (TemplateRecord{okShape, 0, units(959), units(768), units(1), "", "", -1, false, false, false,
                              stRoundRect, sftFilledBlack, 6, -1, 40, -1}));

    CoverObjectData line = Make("TFaxCoverLine");
    line.lineStyle = stAngleSlopingUp;
    line.pen.width = 10;
    EXPECT_EQ(FlattenObject(line, panel, ppi),
              (TemplateRecord{okLine, units(10), units(20), units(30), units(40), "", "", -1, false, false, false, -1,
                              -1, 20, stAngleSlopingUp, -1, -1}));

    for (const char* cls : {"TFaxCoverImportance", "TFaxCoverMessage", "TFaxCoverField"}) {
      CoverObjectData o = Make(cls);
      o.caption = "[Fax Message]";  // the designer's caption is not stored in the flat record
      o.hasFont = true;
      o.font.height = FontHeightForSize(10, ppi);
      o.font.underline = true;
      o.fieldType = cfRecipientFax;
      const bool field = o.Kind() == okField;
      EXPECT_EQ(FlattenObject(o, panel, ppi),
                (TemplateRecord{o.Kind(), units(10), units(20), units(30), units(40), "", "Arial", 20, false, false,
                                true, -1, -1, -1, -1, -1, field ? cfRecipientFax : -1}))
          << cls;
    }
  }
  // The units themselves: 48 pixels are half an inch at 96, 98 fax units.
  EXPECT_EQ(PixelsToFaxUnits(48, 96), 98);
  EXPECT_EQ(PixelsToFaxUnits(48, 120), 78);  // 78.4
  EXPECT_EQ(FontHeightForSize(10, 96), -13);
  EXPECT_EQ(FontSizeForHeight(-13, 96), 10);
  EXPECT_EQ(FontHeightForSize(10, 120), -17);
  EXPECT_EQ(FontSizeForHeight(-17, 120), 10);
}

TEST(DesignSource, DamagedFilesKeepWhatCameBefore) {
  std::vector<CoverObjectData> objects = EveryClassUnusual();
  const std::string good = WriteDesignSource(objects);

  // Cut at every length: never a crash, never more objects than were complete.
  std::size_t lastCount = 0;
  for (std::size_t n = 0; n < good.size(); ++n) {
    const DesignSourceResult r = ReadDesignSource(std::string_view(good).substr(0, n));
    ASSERT_FALSE(r.ok) << n;
    ASSERT_FALSE(r.error.empty());
    ASSERT_GE(r.objects.size(), lastCount);
    for (std::size_t i = 0; i < r.objects.size(); ++i) ASSERT_EQ(r.objects[i], objects[i]);
    lastCount = r.objects.size();
  }
  EXPECT_EQ(lastCount, objects.size());  // only the final end tag missing

  auto withSecond = [&](const StreamObject& bad) {
    return WriteObjectList({ToStreamObject(objects[0]), bad, ToStreamObject(objects[1])});
  };
  struct Case {
    const char* what;
    StreamObject bad;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"unknown class", {"TFaxCoverBalloon", "Component9", {{"Left", 1}}, {}}, "Unknown object class TFaxCoverBalloon"},
      {"wrong type",
       {"TFaxCoverLabel", "Component9", {{"Left", std::string("ten")}}, {}},
       "holds a text where an integer"},
      {"flag as integer", {"TFaxCoverLine", "Component9", {{"Locked", 1}}, {}}, "where a flag"},
      {"property of another class",
       {"TFaxCoverLine", "Component9", {{"Caption", std::string("x")}}, {}},
       "has no property Caption"},
      {"unknown identifier",
       {"TFaxCoverShapes", "Component9", {{"Shape", StreamIdent{"stStar"}}}, {}},
       "unknown value stStar"},
      {"unknown color",
       {"TFaxCoverLabel", "Component9", {{"Font.Color", StreamIdent{"clMauve"}}}, {}},
       "unknown color clMauve"},
      {"unknown style",
       {"TFaxCoverLabel", "Component9", {{"Font.Style", StreamSet{{"fsShadow"}}}}, {}},
       "unknown member fsShadow"},
  };
  for (const Case& c : cases) {
    const DesignSourceResult r = ReadDesignSource(withSecond(c.bad));
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
    ASSERT_EQ(r.objects.size(), 1u) << c.what;
    EXPECT_EQ(r.objects[0], objects[0]);
  }

  // A cover object holding another object: deeper than the format allows.
  StreamObject nested = ToStreamObject(objects[2]);
  nested.children.push_back(ToStreamObject(objects[3]));
  DesignSourceResult r = ReadDesignSource(withSecond(nested));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("nested deeper than the format allows"), std::string::npos) << r.error;
  EXPECT_EQ(r.objects.size(), 1u);

  // A caption claiming 2 GB in a small file.
  std::string claim = WriteObjectList({ToStreamObject(objects[0])});
  claim.pop_back();
  claim += "TPF0" + Short("TFaxCoverLabel") + Short("Component9") + Short("Caption") +
           Bytes({12, 0xFF, 0xFF, 0xFF, 0x7F}) + "short";
  r = ReadDesignSource(claim);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("claims 2147483647 bytes"), std::string::npos) << r.error;
  EXPECT_EQ(r.objects.size(), 1u);

  // Not an object list at all, and an unknown value tag.
  EXPECT_FALSE(ReadDesignSource("BM....").ok);
  r = ReadDesignSource(Bytes({1}) + "TPF0" + Short("TFaxCoverLine") + Short("c") + Short("Left") + Bytes({5, 1}));
  EXPECT_NE(r.error.find("unknown value type 5"), std::string::npos) << r.error;
}

TEST(DesignSource, OnlyObjectsOnThePageAreKept) {
  EXPECT_TRUE(LiesOnPage(Make("TFaxCoverLine", 0, 950), 768, 960));
  EXPECT_FALSE(LiesOnPage(Make("TFaxCoverLine", 0, 951), 768, 960));
  EXPECT_TRUE(LiesOnPage(Make("TFaxCoverLine", 758, 0), 768, 960));
  EXPECT_FALSE(LiesOnPage(Make("TFaxCoverLine", 759, 0), 768, 960));
  EXPECT_TRUE(LiesOnPage(Make("TFaxCoverLine", -500, -500, 1, 1), 768, 960));
  EXPECT_FALSE(LiesOnPage(Make("TFaxCoverLine", 0, 0, 0, 5), 768, 960));
  EXPECT_FALSE(LiesOnPage(Make("TFaxCoverLine", 0, 0, 5, 0), 768, 960));
}

TEST(DesignSource, UniqueNames) {
  EXPECT_EQ(UniqueObjectName("Component", 0, 1000, {}), "Component0");
  EXPECT_EQ(UniqueObjectName("Component", 0, 1000, {"Component0", "COMPONENT1", "Special2", "Component3"}),
            "Component2");
  std::vector<std::string> all;
  for (int i = 1; i <= 3; ++i) all.push_back("Special" + std::to_string(i));
  EXPECT_EQ(UniqueObjectName("Special", 1, 3, all), "");
}
