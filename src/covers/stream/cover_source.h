// The cover objects as stored in a design source file (".FCS") and on the
// designer's clipboard: one plain record per object (CoverObjectData), its
// object stream with the properties each class writes, reading back with type
// checks, and the flattening of an object into a flat-template record.
//
// Conventions callers rely on:
//  - No Qt. Positions and sizes are unzoomed screen pixels; Font.Height is a
//    negative character height in pixels at the screen density the caller gives.
//  - A property is written only when it differs from its class default (the
//    position, size, flags, font and the field, fill kinds always), in one fixed
//    order, so saving what was loaded gives the same bytes.
//  - Reading stops at the first fault (unknown class or property, wrong value
//    type, unknown identifier, children, truncation) with a message; the objects
//    before it are kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "covers/cover_template.h"
#include "object_stream.h"

namespace covers {

// The seven cover object classes, in the order their flat-template kinds run.
inline constexpr const char* kCoverClassNames[] = {"TFaxCoverLabel",  "TFaxCoverSymbol",     "TFaxCoverShapes",
                                                   "TFaxCoverLine",   "TFaxCoverImportance", "TFaxCoverField",
                                                   "TFaxCoverMessage"};
// The flat-template kind of a class name (okText ... okMessage), or -1.
int CoverClassKind(std::string_view className);
bool IsTextLikeKind(int kind);  // text, symbol, importance, field, message

enum TPenMode : std::int32_t {
  pmBlack,
  pmWhite,
  pmNop,
  pmNot,
  pmCopy,
  pmNotCopy,
  pmMergePenNot,
  pmMaskPenNot,
  pmMergeNotPen,
  pmMaskNotPen,
  pmMerge,
  pmNotMerge,
  pmMask,
  pmNotMask,
  pmXor,
  pmNotXor
};
enum TPenStyle : std::int32_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TFontPitch : std::int32_t { fpDefault, fpVariable, fpFixed };

struct FontData {
  std::int32_t color = clBlack;
  std::int32_t height = -13;  // Arial 10 points at 96 pixels per inch
  std::string name = "Arial";
  std::int32_t pitch = fpDefault;
  bool bold = false, italic = false, underline = false, strikeOut = false;
  bool operator==(const FontData&) const = default;
};

struct PenData {
  std::int32_t color = clBlack;
  std::int32_t mode = pmCopy;
  std::int32_t style = psSolid;
  std::int32_t width = 1;
  bool operator==(const PenData&) const = default;
};

// Font.Height for a size in points, and back: -round(size x ppi / 72); the
// size of a height is round(|height| x 72 / ppi). Halves round away from zero.
std::int32_t FontHeightForSize(std::int32_t points, int pixelsPerInch);
std::int32_t FontSizeForHeight(std::int32_t height, int pixelsPerInch);

// Everything a cover object stores. Which fields a class uses follows its kind.
struct CoverObjectData {
  std::string className = "TFaxCoverLabel";
  std::string name;
  std::int32_t tag = 0;
  std::int32_t left = 0, top = 0, width = 0, height = 0;
  std::int32_t cursor = 0;
  std::string hint;
  bool locked = false, unselectable = false;
  // Text-like classes.
  std::string caption;
  bool hasFont = false;  // false: the object shows the panel's font
  FontData font;
  std::int32_t fieldType = cfDate;
  // Shapes and lines.
  std::int32_t fillType = sftTransparent;
  PenData pen;
  std::int32_t roundPerc = 25;
  std::int32_t shape = stRectangle;
  std::int32_t lineStyle = stHorizontal;

  int Kind() const { return CoverClassKind(className); }
  bool operator==(const CoverObjectData&) const = default;
};

StreamObject ToStreamObject(const CoverObjectData& object);
// Checks and converts one object; an object with Font properties takes the
// missing ones from inheritedFont. False with a message on any fault.
bool FromStreamObject(const StreamObject& stream, CoverObjectData& out, std::string& error,
                      const FontData& inheritedFont = {});

// A whole object list (".FCS" or the clipboard file).
std::string WriteDesignSource(const std::vector<CoverObjectData>& objects);
struct DesignSourceResult {
  std::vector<CoverObjectData> objects;  // the objects read before any fault
  bool ok = true;
  std::string error;  // a sentence for the user when !ok
};
DesignSourceResult ReadDesignSource(std::string_view bytes, const FontData& inheritedFont = {});
// Reads a file; a missing file or one larger than the format's limit is an error.
DesignSourceResult ReadDesignSourceFile(const std::string& path, const FontData& inheritedFont = {});
bool WriteDesignSourceFile(const std::string& path, const std::vector<CoverObjectData>& objects);
inline constexpr std::size_t kMaxDesignSourceBytes = std::size_t{16} << 20;

// The flat-template record of an object (panelFont stands in for an object
// without a font of its own); positions converted at pixelsPerInch.
TemplateRecord FlattenObject(const CoverObjectData& object, const FontData& panelFont, int pixelsPerInch);
std::vector<TemplateRecord> FlattenObjects(const std::vector<CoverObjectData>& objects, const FontData& panelFont,
                                           int pixelsPerInch);

// The design objects that flatten into the records (FlattenObjects undone):
// positions and sizes back in whole pixels at pixelsPerInch, every text-like
// object with its own font, objects named "Component" + their position from 0.
// Exact for records made from whole pixels and whole points, as the shipped
// templates' descriptions are; this is how those templates get their ".FCS".
std::vector<CoverObjectData> ObjectsOfRecords(const std::vector<TemplateRecord>& records, int pixelsPerInch);

// Whether an object stays on a page of that size when a template is saved: its
// top at most height - 10, its left at most width - 10, both sizes at least 1.
bool LiesOnPage(const CoverObjectData& object, int pageWidth, int pageHeight);

// prefix + the first number from first to last that no name in used carries
// (names compared without letter case); empty when every number is taken.
std::string UniqueObjectName(std::string_view prefix, int first, int last, const std::vector<std::string>& used);

}  // namespace covers
