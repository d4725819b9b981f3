// Cover sheet templates as files: the tagged value encoding, the flat template
// (".FCT": one fixed-shape record per object, in fax units of 1/196 inch), the
// description (".DES"), the merge data (CoverData) and the unit conversion.
//
// Conventions callers rely on:
//  - No Qt and no exceptions. Texts are bytes as stored; the renderer decodes
//    them (UTF-8 where valid, else Windows-1252).
//  - Readers never trust a length or a count from the file: every read is
//    checked against the bytes that are there, and a failed read leaves the
//    reader's position where the failing value began.
//  - A flat template is read record by record; damage ends the reading and the
//    records before it stay (ParseTemplate). There is no header or count.
//  - Writers write whole files through a temporary file renamed into place, so a
//    failed write never leaves half a template behind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace covers {

// One-byte tags of the tagged value encoding (also used by the designer's
// object streams, which add identifiers and sets).
enum Tag : std::uint8_t {
  tagEnd = 0,
  tagStart = 1,
  tagInt8 = 2,
  tagInt16 = 3,
  tagInt32 = 4,
  tagShortText = 6,
  tagIdent = 7,
  tagFalse = 8,
  tagTrue = 9,
  tagSet = 11,
  tagLongText = 12,
};

class TaggedWriter {
 public:
  explicit TaggedWriter(std::string& out) : out_(out) {}
  void Raw(std::uint8_t tag) { out_.push_back(static_cast<char>(tag)); }
  void Start() { Raw(tagStart); }
  void End() { Raw(tagEnd); }
  // The smallest of tags 2, 3, 4 that holds the value.
  void Int(std::int32_t v);
  // Tag 6 with one length byte below 256 characters, else tag 12 with four.
  void Text(std::string_view s);
  void Flag(bool b) { Raw(b ? tagTrue : tagFalse); }
  // Tag 7: an identifier as a short text (at most 255 characters are written).
  void Ident(std::string_view s);

 private:
  void ShortText(std::string_view s);
  std::string& out_;
};

class TaggedReader {
 public:
  TaggedReader(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
  explicit TaggedReader(std::string_view s) : TaggedReader(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()) {}
  bool AtEnd() const { return pos_ >= n_; }
  std::size_t Position() const { return pos_; }
  // The next tag without taking it; -1 at the end.
  int PeekTag() const { return AtEnd() ? -1 : p_[pos_]; }
  // Takes the tag when it is the expected one.
  bool Expect(std::uint8_t tag);
  bool Int(std::int32_t& v);       // tags 2, 3, 4
  bool Text(std::string& s);       // tags 6, 12
  bool Flag(bool& b);              // true only for tag 9; any other whole value reads false
  bool ShortText(std::string& s);  // one length byte, then the characters (no tag)
  bool Ident(std::string& s);      // tag 7
  // Skips one whole value of any known tag (a set with its members).
  bool SkipValue();

 private:
  bool Take(std::size_t count, const std::uint8_t*& at);
  const std::uint8_t* p_;
  std::size_t n_;
  std::size_t pos_ = 0;
};

// Object kinds of a flat template record.
enum ObjectKind : std::int32_t {
  okText = 0,
  okSymbol = 1,
  okShape = 2,
  okLine = 3,
  okImportance = 4,
  okField = 5,
  okMessage = 6,
};

// Merge field kinds: the index of the CoverData text a field prints.
enum TCoverFieldType : std::int32_t {
  cfDate = 0,
  cfTime = 1,
  cfRegarding = 2,
  cfRecipient = 3,
  cfRecipientFax = 4,
  cfSender = 5,
  cfSenderCompany = 6,
  cfSenderFax = 7,
  cfSenderVoice = 8,
};
inline constexpr int kCoverFieldCount = 9;
// The designer's name of each field kind ("Date" ... "Sender Phone").
extern const std::array<const char*, kCoverFieldCount> kCoverFieldNames;

// Shape types, fill types and line styles as the designer numbers them.
enum TShapeType : std::int32_t { stRectangle, stSquare, stRoundRect, stRoundSquare, stEllipse, stCircle };
enum TShapeFillType : std::int32_t { sftTransparent, sftFilledWhite, sftFilledBlack };
enum TLineStyle : std::int32_t { stHorizontal, stVertical, stAngleSlopingUp, stAngleSlopingDown };

// The text an importance row prints, and the five labels in order.
inline constexpr const char* kImportanceText =
    "[  ]Urgent     [  ]For Review     [  ]Please Comment     [  ]Please Reply     [  ]Please Recycle";
inline constexpr int kImportanceCount = 5;

// The data merged into a template: nine texts indexed by TCoverFieldType, then
// the flags Urgent, For Review, Please Comment, Please Reply, Please Recycle.
struct CoverData {
  std::array<std::string, kCoverFieldCount> texts;
  std::array<bool, kImportanceCount> flags{};
  bool AnyFlag() const;
};

// One object of a flat template: seventeen values, always in this order.
struct TemplateRecord {
  std::int32_t kind = okText;
  std::int32_t left = 0, top = 0, width = 0, height = 0;  // fax units
  std::string caption;
  std::string fontName;
  std::int32_t fontSize = -1;  // points x 2; -1 for shapes and lines
  bool bold = false, italic = false, underline = false;
  std::int32_t shapeType = -1, fillType = -1, penWidth = -1, lineStyle = -1, roundPerc = -1, fieldKind = -1;

  bool operator==(const TemplateRecord&) const = default;
};

void WriteTemplateRecord(TaggedWriter& w, const TemplateRecord& r);
// Reads start tag, seventeen values, end tag. False on any mismatch or a short read.
bool ReadTemplateRecord(TaggedReader& r, TemplateRecord& out);

// The records of a flat template up to the first one that cannot be read.
std::vector<TemplateRecord> ParseTemplate(std::string_view bytes);
std::string SerializeTemplate(const std::vector<TemplateRecord>& records);

// Reads a whole file (at most maxBytes; a larger file is read only that far).
// False when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxBytes = std::size_t{64} << 20);
// Writes through a temporary file in the same folder renamed over the target.
bool WriteWholeFile(const std::string& path, std::string_view bytes);

// False when the file does not exist or cannot be read.
bool ReadTemplateFile(const std::string& fctPath, std::vector<TemplateRecord>& records);
bool WriteTemplateFile(const std::string& fctPath, const std::vector<TemplateRecord>& records);

// Line 1 of a description's bytes (up to the first line end).
std::string DescriptionLine(std::string_view bytes);
// Line 1 of a description file; empty when the file is missing or has no lines.
std::string ReadDescription(const std::string& desPath);
bool WriteDescription(const std::string& desPath, const std::string& description);

// Design pixels to fax units: round(pixels / pixelsPerInch x 196), halves to even.
std::int32_t PixelsToFaxUnits(std::int64_t pixels, int pixelsPerInch);

// The design screen's resolution: 96 logical pixels per inch.
inline constexpr int kDesignPixelsPerInch = 96;
// Fax units per inch and the half-inch margin every object is moved by.
inline constexpr int kFaxUnitsPerInch = 196;
inline constexpr int kPageMargin = 98;

}  // namespace covers
