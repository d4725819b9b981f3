// UTF-8 text in the tables: validation, the Windows-1252 fallback for older
// tables, cutting between characters, and the letter cases of UPPER()/LOWER().
#include "xb_text.h"

#include "xb_expr.h"

namespace xb {

namespace {

// Windows-1252 bytes 0x80-0x9F; the five unassigned ones keep their C1 code point.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the valid UTF-8 sequence at p (1..4), or 0 when it is not one.
size_t sequenceLength(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  size_t n;
  char32_t min;
  char32_t cp;
  if ((c & 0xE0) == 0xC0) {
    n = 2, min = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, min = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool asciiOnly(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Case partners among the two-byte code points, chosen so that both have the
// same encoded length. Returns cp when the letter has no such partner.
char32_t upperOf(char32_t cp) {
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
  if (cp == 0xFF) return 0x178;
  if (cp >= 0x100 && cp <= 0x17F) {
    if ((cp >= 0x100 && cp <= 0x12F) || (cp >= 0x132 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
      return (cp & 1) ? cp - 1 : cp;
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp & 1) ? cp : cp - 1;
    return cp;
  }
  if (cp >= 0x3B1 && cp <= 0x3CB) return cp == 0x3C2 ? 0x3A3 : cp - 0x20;  // final sigma is a sigma
  switch (cp) {
    case 0x3AC:
      return 0x386;
    case 0x3AD:
      return 0x388;
    case 0x3AE:
      return 0x389;
    case 0x3AF:
      return 0x38A;
    case 0x3CC:
      return 0x38C;
    case 0x3CD:
      return 0x38E;
    case 0x3CE:
      return 0x38F;
    default:
      break;
  }
  if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
  if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
  return cp;
}

char32_t lowerOf(char32_t cp) {
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  if (cp == 0x178) return 0xFF;
  if (cp >= 0x100 && cp <= 0x17F) {
    if ((cp >= 0x100 && cp <= 0x12F) || (cp >= 0x132 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
      return (cp & 1) ? cp : cp + 1;
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp & 1) ? cp + 1 : cp;
    return cp;
  }
  if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 0x20;
  switch (cp) {
    case 0x386:
      return 0x3AC;
    case 0x388:
      return 0x3AD;
    case 0x389:
      return 0x3AE;
    case 0x38A:
      return 0x3AF;
    case 0x38C:
      return 0x3CC;
    case 0x38E:
      return 0x3CD;
    case 0x38F:
      return 0x3CE;
    default:
      break;
  }
  if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;
  if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
  return cp;
}

template <bool Up>
void changeCase(std::string& s) {
  auto* p = reinterpret_cast<unsigned char*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    if (c < 0x80) {
      if (Up && c >= 'a' && c <= 'z') p[i] = static_cast<unsigned char>(c - 32);
      if (!Up && c >= 'A' && c <= 'Z') p[i] = static_cast<unsigned char>(c + 32);
      ++i;
      continue;
    }
    size_t len = sequenceLength(p + i, n - i);
    if (len == 2) {
      char32_t cp = (static_cast<char32_t>(c & 0x1F) << 6) | (p[i + 1] & 0x3F);
      char32_t to = Up ? upperOf(cp) : lowerOf(cp);
      p[i] = static_cast<unsigned char>(0xC0 | (to >> 6));
      p[i + 1] = static_cast<unsigned char>(0x80 | (to & 0x3F));
    }
    i += len ? len : 1;
  }
}

}  // namespace

bool isUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    size_t len = sequenceLength(p + i, text.size() - i);
    if (!len) return false;
    i += len;
  }
  return true;
}

void textFromBytes(std::string_view bytes, std::string& out) {
  if (asciiOnly(bytes) || isUtf8(bytes)) {
    out.assign(bytes.data(), bytes.size());
    return;
  }
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80)
      out += ch;
    else
      appendUtf8(out, c < 0xA0 ? kCp1252High[c - 0x80] : c);
  }
}

std::string textFromBytes(std::string_view bytes) {
  std::string out;
  textFromBytes(bytes, out);
  return out;
}

size_t fitText(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

void upperInPlace(std::string& text) {
  changeCase<true>(text);
}
void lowerInPlace(std::string& text) {
  changeCase<false>(text);
}

std::string upperText(std::string_view text) {
  std::string s(text);
  upperInPlace(s);
  return s;
}

std::string lowerText(std::string_view text) {
  std::string s(text);
  lowerInPlace(s);
  return s;
}

std::string fieldText(const FieldDef& field, const uint8_t* record) {
  std::string_view raw(reinterpret_cast<const char*>(record + field.offset), static_cast<size_t>(field.width));
  if (field.type != 'C') return std::string(raw);
  return textFromBytes(raw);
}

}  // namespace xb
