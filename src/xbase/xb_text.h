// Text in the tables: one encoding for every character field, index key and
// expression.
//
// Conventions (the ones callers rely on):
//  - Every string the engine takes or gives for a character field, key or
//    expression is UTF-8. Tables we create or write carry kUtf8LanguageByte in
//    header byte 29 (the language byte, which other xBase tools read as "no
//    code page they know" and otherwise ignore).
//  - Field bytes that are not valid UTF-8 (tables written by older programs)
//    are read as Windows-1252, so their accents survive; such a value becomes
//    UTF-8 when it is written again.
//  - Text given to a field that is not valid UTF-8 is likewise taken as
//    Windows-1252. A value longer than its field is cut at the last whole
//    character that fits: widths count bytes, and no character is split.
//  - UPPER() and LOWER() change ASCII, Latin-1, Latin Extended-A, Greek and
//    Cyrillic letters whose other case has the same encoded length (so fixed
//    key widths hold); letters without such a partner (German sharp s, dotless
//    i, long s) stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace xb {

struct FieldDef;

inline constexpr uint8_t kUtf8LanguageByte = 0xF0;

bool isUtf8(std::string_view text);
// UTF-8 text of stored bytes: as they are when valid UTF-8, else read as Windows-1252.
std::string textFromBytes(std::string_view bytes);
void textFromBytes(std::string_view bytes, std::string& out);
// Length of the longest prefix of UTF-8 text within limit bytes that ends
// between two characters.
size_t fitText(std::string_view text, size_t limit);
std::string upperText(std::string_view text);
std::string lowerText(std::string_view text);
void upperInPlace(std::string& text);
void lowerInPlace(std::string& text);

// A field's text as the engine sees it (any field type; character fields
// decoded as above, trailing blanks kept): for views that read raw records.
std::string fieldText(const FieldDef& field, const uint8_t* record);

}  // namespace xb
