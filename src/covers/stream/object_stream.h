// Object streams: objects written as a class name, an object name, the
// properties that differ from their defaults and a list of children, each value
// in the tagged value encoding of the flat templates plus identifiers (tag 7)
// and sets (tag 11). A design source file (".FCS") and the designer's clipboard
// file are a start tag, one stream per object, and an end tag.
//
// Conventions callers rely on:
//  - No Qt, no widgets, no exceptions: the tree is plain data (StreamObject), so
//    the format is read and written without any window.
//  - Writing is deterministic: the same tree gives the same bytes, property by
//    property in the order the object lists them.
//  - Reading never trusts the file: every length is checked against the bytes
//    that are there, nesting is limited, and a failure stops the reading with a
//    message naming the place. The objects read completely before the failure
//    are kept in the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace covers {

// One property value as stored: an integer, a text, a flag, an identifier or a
// set of identifiers.
struct StreamIdent {
  std::string name;
  bool operator==(const StreamIdent&) const = default;
};
struct StreamSet {
  std::vector<std::string> members;
  bool operator==(const StreamSet&) const = default;
};
using StreamValue = std::variant<std::int32_t, std::string, bool, StreamIdent, StreamSet>;

// Readable name of a value's type ("an integer", "a text", ...), for messages.
const char* StreamValueKind(const StreamValue& v);

struct StreamProperty {
  std::string name;  // nested properties are named "Font.Height"
  StreamValue value;
  bool operator==(const StreamProperty&) const = default;
};

struct StreamObject {
  std::string className;
  std::string name;
  std::vector<StreamProperty> properties;
  std::vector<StreamObject> children;
  bool operator==(const StreamObject&) const = default;

  // The first property of that name, or null.
  const StreamProperty* Find(std::string_view propertyName) const;
};

// Writes one object stream: the signature "TPF0", then the object. Children are
// written inside their parent without the signature.
void WriteObjectStream(std::string& out, const StreamObject& object);
// A start tag, one object stream per object, an end tag.
std::string WriteObjectList(const std::vector<StreamObject>& objects);

// Colors are stored as 0x00BBGGRR; the named ones are written as identifiers.
inline constexpr std::int32_t clBlack = 0x000000;
inline constexpr std::int32_t clWhite = 0xFFFFFF;
// The identifier of a color ("clBlack"), or empty when it has none.
std::string ColorIdent(std::int32_t color);
std::optional<std::int32_t> ColorFromIdent(std::string_view ident);
// A color as a property value: its identifier, else the number.
StreamValue ColorValue(std::int32_t color);

// Deepest nesting of children the reader follows by default. The cover classes
// have no children at all; their files are read with a depth of 0.
inline constexpr int kMaxStreamNesting = 32;

struct StreamReadResult {
  std::vector<StreamObject> objects;  // every object read completely
  bool ok = true;
  std::string error;       // what went wrong, when !ok
  std::size_t offset = 0;  // byte offset where it went wrong
};

// Reads a list written by WriteObjectList. maxDepth is how deep children may
// nest (0: objects may have no children).
StreamReadResult ReadObjectList(std::string_view bytes, int maxDepth = kMaxStreamNesting);

}  // namespace covers
