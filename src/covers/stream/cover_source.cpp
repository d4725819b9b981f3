#include "cover_source.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace covers {

namespace {

using Names = std::vector<const char*>;
const Names kFieldTypes = {"cfDate",   "cfTime",          "cfRegarding", "cfRecipient",  "cfRecipientFax",
                           "cfSender", "cfSenderCompany", "cfSenderFax", "cfSenderVoice"};
const Names kFillTypes = {"sftTransparent", "sftFilledWhite", "sftFilledBlack"};
const Names kShapes = {"stRectangle", "stSquare", "stRoundRect", "stRoundSquare", "stEllipse", "stCircle"};
const Names kLineStyles = {"stHorizontal", "stVertical", "stAngleSlopingUp", "stAngleSlopingDown"};
const Names kPenModes = {"pmBlack",       "pmWhite",      "pmNop",         "pmNot",        "pmCopy",  "pmNotCopy",
                         "pmMergePenNot", "pmMaskPenNot", "pmMergeNotPen", "pmMaskNotPen", "pmMerge", "pmNotMerge",
                         "pmMask",        "pmNotMask",    "pmXor",         "pmNotXor"};
const Names kPenStyles = {"psSolid", "psDash", "psDot", "psDashDot", "psDashDotDot", "psClear", "psInsideFrame"};
const Names kPitches = {"fpDefault", "fpVariable", "fpFixed"};

// An identifier for an enumeration value; values outside the list are written
// as the first identifier so the file always reads back.
StreamIdent Ident(const Names& names, std::int32_t v) {
  return {names[v >= 0 && static_cast<std::size_t>(v) < names.size() ? static_cast<std::size_t>(v) : 0]};
}

std::int32_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  const std::int64_t num = a * b;
  const std::int64_t q = (std::llabs(num) * 2 + std::llabs(c)) / (2 * std::llabs(c));
  const std::int64_t r = (num < 0) != (c < 0) ? -q : q;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(r, INT32_MIN, INT32_MAX));
}

// The checks of one object's properties.
class Converter {
 public:
  Converter(const StreamObject& s, CoverObjectData& o, std::string& error) : s_(s), o_(o), error_(error) {}

  bool Wrong(const StreamProperty& p, const char* wanted) {
    error_ =
        "Property " + p.name + " of " + Who() + " holds " + StreamValueKind(p.value) + " where " + wanted + " belongs";
    return false;
  }
  std::string Who() const { return (s_.name.empty() ? std::string() : s_.name + " ") + "(" + s_.className + ")"; }

  bool Int(const StreamProperty& p, std::int32_t& v) {
    if (const auto* i = std::get_if<std::int32_t>(&p.value)) {
      v = *i;
      return true;
    }
    return Wrong(p, "an integer");
  }
  bool Text(const StreamProperty& p, std::string& v) {
    if (const auto* t = std::get_if<std::string>(&p.value)) {
      v = *t;
      return true;
    }
    return Wrong(p, "a text");
  }
  bool Flag(const StreamProperty& p, bool& v) {
    if (const auto* b = std::get_if<bool>(&p.value)) {
      v = *b;
      return true;
    }
    return Wrong(p, "a flag");
  }
  bool Enum(const StreamProperty& p, const Names& names, std::int32_t& v) {
    const auto* id = std::get_if<StreamIdent>(&p.value);
    if (!id) return Wrong(p, "an identifier");
    for (std::size_t i = 0; i < names.size(); ++i)
      if (id->name == names[i]) {
        v = static_cast<std::int32_t>(i);
        return true;
      }
    error_ = "Property " + p.name + " of " + Who() + " has the unknown value " + id->name;
    return false;
  }
  bool Color(const StreamProperty& p, std::int32_t& v) {
    if (const auto* i = std::get_if<std::int32_t>(&p.value)) {
      v = *i;
      return true;
    }
    const auto* id = std::get_if<StreamIdent>(&p.value);
    if (!id) return Wrong(p, "a color");
    if (auto c = ColorFromIdent(id->name)) {
      v = *c;
      return true;
    }
    error_ = "Property " + p.name + " of " + Who() + " names the unknown color " + id->name;
    return false;
  }
  bool Style(const StreamProperty& p, FontData& f) {
    const auto* set = std::get_if<StreamSet>(&p.value);
    if (!set) return Wrong(p, "a set");
    f.bold = f.italic = f.underline = f.strikeOut = false;
    for (const std::string& m : set->members) {
      if (m == "fsBold")
        f.bold = true;
      else if (m == "fsItalic")
        f.italic = true;
      else if (m == "fsUnderline")
        f.underline = true;
      else if (m == "fsStrikeOut")
        f.strikeOut = true;
      else {
        error_ = "Property " + p.name + " of " + Who() + " has the unknown member " + m;
        return false;
      }
    }
    return true;
  }

  bool Property(const StreamProperty& p, int kind) {
    const std::string& n = p.name;
    const bool textLike = IsTextLikeKind(kind);
    const bool drawn = kind == okShape || kind == okLine;
    if (n == "Tag") return Int(p, o_.tag);
    if (n == "Left") return Int(p, o_.left);
    if (n == "Top") return Int(p, o_.top);
    if (n == "Width") return Int(p, o_.width);
    if (n == "Height") return Int(p, o_.height);
    if (n == "Cursor") return Int(p, o_.cursor);
    if (n == "Hint") return Text(p, o_.hint);
    if (n == "Locked") return Flag(p, o_.locked);
    if (n == "Unselectable") return Flag(p, o_.unselectable);
    if (textLike && n == "Caption") return Text(p, o_.caption);
    if (textLike && n.rfind("Font.", 0) == 0) {
      o_.hasFont = true;
      if (n == "Font.Color") return Color(p, o_.font.color);
      if (n == "Font.Height") return Int(p, o_.font.height);
      if (n == "Font.Name") return Text(p, o_.font.name);
      if (n == "Font.Pitch") return Enum(p, kPitches, o_.font.pitch);
      if (n == "Font.Style") return Style(p, o_.font);
    }
    if (kind == okField && n == "CoverFieldType") return Enum(p, kFieldTypes, o_.fieldType);
    if (kind == okShape && n == "ShapeFilltype") return Enum(p, kFillTypes, o_.fillType);
    if (kind == okShape && n == "RoundPerc") return Int(p, o_.roundPerc);
    if (kind == okShape && n == "Shape") return Enum(p, kShapes, o_.shape);
    if (kind == okLine && n == "LineStyle") return Enum(p, kLineStyles, o_.lineStyle);
    if (drawn && n == "Pen.Color") return Color(p, o_.pen.color);
    if (drawn && n == "Pen.Mode") return Enum(p, kPenModes, o_.pen.mode);
    if (drawn && n == "Pen.Style") return Enum(p, kPenStyles, o_.pen.style);
    if (drawn && n == "Pen.Width") return Int(p, o_.pen.width);
    error_ = Who() + " has no property " + n;
    return false;
  }

 private:
  const StreamObject& s_;
  CoverObjectData& o_;
  std::string& error_;
};

}  // namespace

int CoverClassKind(std::string_view className) {
  for (int i = 0; i < 7; ++i)
    if (className == kCoverClassNames[i]) return i;
  return -1;
}

bool IsTextLikeKind(int kind) {
  return kind == okText || kind == okSymbol || kind == okImportance || kind == okField || kind == okMessage;
}

std::int32_t FontHeightForSize(std::int32_t points, int pixelsPerInch) {
  return -MulDivRound(points, pixelsPerInch, 72);
}

std::int32_t FontSizeForHeight(std::int32_t height, int pixelsPerInch) {
  if (pixelsPerInch <= 0) pixelsPerInch = kDesignPixelsPerInch;
  return MulDivRound(std::llabs(std::int64_t{height}), 72, pixelsPerInch);
}

StreamObject ToStreamObject(const CoverObjectData& o) {
  StreamObject s;
  s.className = o.className;
  s.name = o.name;
  auto put = [&s](const char* name, StreamValue v) { s.properties.push_back({name, std::move(v)}); };
  const int kind = o.Kind();
  if (o.tag != 0) put("Tag", o.tag);
  put("Left", o.left);
  put("Top", o.top);
  put("Width", o.width);
  put("Height", o.height);
  if (o.cursor != 0) put("Cursor", o.cursor);
  if (!o.hint.empty()) put("Hint", o.hint);
  put("Locked", o.locked);
  put("Unselectable", o.unselectable);
  if (IsTextLikeKind(kind)) {
    if (!o.caption.empty()) put("Caption", o.caption);
    if (o.hasFont) {
      put("Font.Color", ColorValue(o.font.color));
      put("Font.Height", o.font.height);
      put("Font.Name", o.font.name);
      if (o.font.pitch != fpDefault) put("Font.Pitch", Ident(kPitches, o.font.pitch));
      StreamSet style;
      if (o.font.bold) style.members.push_back("fsBold");
      if (o.font.italic) style.members.push_back("fsItalic");
      if (o.font.underline) style.members.push_back("fsUnderline");
      if (o.font.strikeOut) style.members.push_back("fsStrikeOut");
      put("Font.Style", std::move(style));
    }
    if (kind == okField) put("CoverFieldType", Ident(kFieldTypes, o.fieldType));
  }
  if (kind == okShape) put("ShapeFilltype", Ident(kFillTypes, o.fillType));
  if (kind == okShape || kind == okLine) {
    if (o.pen.color != clBlack) put("Pen.Color", ColorValue(o.pen.color));
    if (o.pen.mode != pmCopy) put("Pen.Mode", Ident(kPenModes, o.pen.mode));
    if (o.pen.style != psSolid) put("Pen.Style", Ident(kPenStyles, o.pen.style));
    if (o.pen.width != 1) put("Pen.Width", o.pen.width);
  }
  if (kind == okShape) {
    if (o.roundPerc != 25) put("RoundPerc", o.roundPerc);
    if (o.shape != stRectangle) put("Shape", Ident(kShapes, o.shape));
  }
  if (kind == okLine && o.lineStyle != stHorizontal) put("LineStyle", Ident(kLineStyles, o.lineStyle));
  return s;
}

bool FromStreamObject(const StreamObject& stream, CoverObjectData& out, std::string& error,
                      const FontData& inheritedFont) {
  const int kind = CoverClassKind(stream.className);
  if (kind < 0) {
    error = "Unknown object class " + stream.className;
    return false;
  }
  if (!stream.children.empty()) {
    error = stream.className + " " + stream.name + " holds other objects, which a cover template cannot";
    return false;
  }
  CoverObjectData o;
  o.className = stream.className;
  o.name = stream.name;
  o.font = inheritedFont;
  Converter c(stream, o, error);
  for (const StreamProperty& p : stream.properties)
    if (!c.Property(p, kind)) return false;
  if (!o.hasFont) o.font = FontData{};
  out = std::move(o);
  return true;
}

std::string WriteDesignSource(const std::vector<CoverObjectData>& objects) {
  std::vector<StreamObject> streams;
  streams.reserve(objects.size());
  for (const CoverObjectData& o : objects) streams.push_back(ToStreamObject(o));
  return WriteObjectList(streams);
}

DesignSourceResult ReadDesignSource(std::string_view bytes, const FontData& inheritedFont) {
  DesignSourceResult result;
  // Cover objects hold no children: any nesting is already a fault.
  const StreamReadResult read = ReadObjectList(bytes, 0);
  for (const StreamObject& s : read.objects) {
    CoverObjectData o;
    std::string error;
    if (!FromStreamObject(s, o, error, inheritedFont)) {
      result.ok = false;
      result.error = error + ".";
      return result;
    }
    result.objects.push_back(std::move(o));
  }
  if (!read.ok) {
    result.ok = false;
    result.error = "Byte " + std::to_string(read.offset) + ": " + read.error + ".";
  }
  return result;
}

DesignSourceResult ReadDesignSourceFile(const std::string& path, const FontData& inheritedFont) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes, kMaxDesignSourceBytes + 1)) {
    DesignSourceResult r;
    r.ok = false;
    r.error = "The file cannot be read.";
    return r;
  }
  if (bytes.size() > kMaxDesignSourceBytes) {
    DesignSourceResult r;
    r.ok = false;
    r.error = "The file is larger than any cover template (" + std::to_string(kMaxDesignSourceBytes >> 20) + " MB).";
    return r;
  }
  return ReadDesignSource(bytes, inheritedFont);
}

bool WriteDesignSourceFile(const std::string& path, const std::vector<CoverObjectData>& objects) {
  return WriteWholeFile(path, WriteDesignSource(objects));
}

TemplateRecord FlattenObject(const CoverObjectData& o, const FontData& panelFont, int ppi) {
  TemplateRecord r;
  const int kind = o.Kind();
  r.kind = kind;
  r.left = PixelsToFaxUnits(o.left, ppi);
  r.top = PixelsToFaxUnits(o.top, ppi);
  r.width = PixelsToFaxUnits(o.width, ppi);
  r.height = PixelsToFaxUnits(o.height, ppi);
  if (IsTextLikeKind(kind)) {
    const FontData& f = o.hasFont ? o.font : panelFont;
    if (kind == okText || kind == okSymbol) r.caption = o.caption;
    r.fontName = f.name;
    r.fontSize = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(std::int64_t{FontSizeForHeight(f.height, ppi)} * 2, 0, INT32_MAX));
    r.bold = f.bold;
    r.italic = f.italic;
    r.underline = f.underline;
    if (kind == okField) r.fieldKind = o.fieldType;
  } else {
    const std::int32_t pen =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{o.pen.width} * 2, INT32_MIN, INT32_MAX));
    r.penWidth = pen;
    if (kind == okShape) {
      r.shapeType = o.shape;
      r.fillType = o.fillType;
      r.roundPerc = o.roundPerc;
    } else {
      r.lineStyle = o.lineStyle;
    }
  }
  return r;
}

std::vector<TemplateRecord> FlattenObjects(const std::vector<CoverObjectData>& objects, const FontData& panelFont,
                                           int pixelsPerInch) {
  std::vector<TemplateRecord> records;
  for (const CoverObjectData& o : objects)
    if (o.Kind() >= 0) records.push_back(FlattenObject(o, panelFont, pixelsPerInch));
  return records;
}

namespace {
// The whole number of pixels that converts to the fax units, or the nearest one.
std::int32_t PixelsOfFaxUnits(std::int32_t units, int ppi) {
  const std::int32_t guess = MulDivRound(units, ppi, kFaxUnitsPerInch);
  for (const std::int32_t x : {guess, guess - 1, guess + 1})
    if (PixelsToFaxUnits(x, ppi) == units) return x;
  return guess;
}
}  // namespace

std::vector<CoverObjectData> ObjectsOfRecords(const std::vector<TemplateRecord>& records, int ppi) {
  if (ppi <= 0) ppi = kDesignPixelsPerInch;
  std::vector<CoverObjectData> objects;
  objects.reserve(records.size());
  for (const TemplateRecord& r : records) {
    if (r.kind < okText || r.kind > okMessage) continue;
    CoverObjectData o;
    o.className = kCoverClassNames[r.kind];
    o.name = "Component" + std::to_string(objects.size());
    o.left = PixelsOfFaxUnits(r.left, ppi);
    o.top = PixelsOfFaxUnits(r.top, ppi);
    o.width = PixelsOfFaxUnits(r.width, ppi);
    o.height = PixelsOfFaxUnits(r.height, ppi);
    if (IsTextLikeKind(r.kind)) {
      if (r.kind == okText || r.kind == okSymbol) o.caption = r.caption;
      o.hasFont = true;
      o.font.name = r.fontName;
      o.font.height = FontHeightForSize(std::max(r.fontSize, 0) / 2, ppi);
      o.font.bold = r.bold;
      o.font.italic = r.italic;
      o.font.underline = r.underline;
      if (r.kind == okField) o.fieldType = std::clamp(r.fieldKind, 0, kCoverFieldCount - 1);
    } else {
      o.pen.width = r.penWidth / 2;
      if (r.kind == okShape) {
        o.shape = r.shapeType;
        o.fillType = r.fillType;
        o.roundPerc = r.roundPerc;
      } else {
        o.lineStyle = r.lineStyle;
      }
    }
    objects.push_back(std::move(o));
  }
  return objects;
}

bool LiesOnPage(const CoverObjectData& o, int pageWidth, int pageHeight) {
  return o.top <= pageHeight - 10 && o.left <= pageWidth - 10 && o.width >= 1 && o.height >= 1;
}

std::string UniqueObjectName(std::string_view prefix, int first, int last, const std::vector<std::string>& used) {
  auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (int n = first; n <= last; ++n) {
    const std::string candidate = std::string(prefix) + std::to_string(n);
    if (std::none_of(used.begin(), used.end(), [&](const std::string& u) { return same(u, candidate); }))
      return candidate;
  }
  return {};
}

}  // namespace covers
