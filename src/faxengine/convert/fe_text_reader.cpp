// Lays text out on pages. A form feed ends its page; the text after it starts
// the next one. Form feeds on a page that has no lines yet are ignored, so a
// file that starts with one, or ends every page with one, gives no blank pages.
#include "fe_text_reader.h"

#include <algorithm>
#include <cstring>

namespace fe {

namespace {
// No line shows more characters than this (2048 pixels); longer pieces of a
// file line are decoded only this far, so a file without line ends costs no
// more memory than a short line.
constexpr std::size_t kMaxLineBytes = 8192;

constexpr char32_t kCp1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                  0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

char32_t ByteChar(std::uint8_t b) {
  return b >= 0x80 && b < 0xA0 ? kCp1252[b - 0x80] : b;
}

// Length of a valid UTF-8 sequence at p (2-4), or 0.
unsigned Utf8Sequence(const std::uint8_t* p, std::size_t n, char32_t& c) {
  const std::uint8_t b = p[0];
  unsigned len;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    c = b & 0x07;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (unsigned i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = c << 6 | (p[i] & 0x3F);
  }
  if ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return len;
}
}  // namespace

std::u32string DecodeTextBytes(const std::uint8_t* p, std::size_t n) {
  std::u32string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n;) {
    char32_t c;
    if (p[i] >= 0x80) {
      if (unsigned len = Utf8Sequence(p + i, n - i, c)) {
        out.push_back(c);
        i += len;
        continue;
      }
    }
    out.push_back(ByteChar(p[i++]));
  }
  return out;
}

std::uint8_t FontCodeOf(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return std::uint8_t(c);
  for (unsigned i = 0; i < 32; ++i)
    if (kCp1252[i] == c) return std::uint8_t(0x80 + i);
  return '?';
}

TextReader::TextReader(std::span<const std::uint8_t> text, TextLineRenderer& renderer, unsigned linesPerPage,
                       unsigned tabStop)
    : text_(text), renderer_(renderer), linesPerPage_(linesPerPage), tabStop_(tabStop) {}

int TextReader::open() {
  rows_.assign(std::size_t(renderer_.Rows()) * kTextRowBytes, 0);
  lens_.assign(renderer_.Rows(), 0);
  return 0;
}

bool TextReader::nextItem(Item& item) {
  if (pendingAt_ < pending_.size()) {
    item = std::move(pending_[pendingAt_++]);
    return true;
  }
  if (pos_ >= text_.size()) return false;
  // One file line: up to LF, CR LF or a lone CR.
  const std::uint8_t* data = text_.data();
  std::size_t end = pos_;
  while (end < text_.size() && data[end] != '\n' && data[end] != '\r') ++end;
  const std::size_t start = pos_;
  pos_ = end;
  if (pos_ < text_.size() && data[pos_] == '\r') ++pos_;
  if (pos_ < text_.size() && data[pos_] == '\n' && (pos_ == end || data[end] == '\r')) ++pos_;
  // Split at form feeds; empty pieces next to a form feed are no lines.
  pending_.clear();
  pendingAt_ = 0;
  const std::uint8_t* ff = static_cast<const std::uint8_t*>(std::memchr(data + start, '\f', end - start));
  if (!ff) {
    item = {false, DecodeTextBytes(data + start, std::min(end - start, kMaxLineBytes))};
    return true;
  }
  std::size_t from = start;
  while (true) {
    const std::size_t to = ff ? std::size_t(ff - data) : end;
    if (to > from) pending_.push_back({false, DecodeTextBytes(data + from, std::min(to - from, kMaxLineBytes))});
    if (!ff) break;
    pending_.push_back({true, {}});
    from = to + 1;
    ff = static_cast<const std::uint8_t*>(std::memchr(data + from, '\f', end - from));
  }
  item = std::move(pending_[pendingAt_++]);
  return true;
}

bool TextReader::nextLine(std::u32string& text, bool& newPage) {
  Item item;
  while (nextItem(item)) {
    if (item.pageBreak) {
      if (linesOnPage_ > 0) breakPending_ = true;
      continue;
    }
    newPage = breakPending_ || (linesPerPage_ != 0 && linesOnPage_ >= linesPerPage_);
    if (newPage) {
      linesOnPage_ = 0;
      breakPending_ = false;
    }
    ++linesOnPage_;
    text = std::move(item.text);
    return true;
  }
  return false;
}

std::u32string TextReader::expandTabs(const std::u32string& in) const {
  // A tab stop of 0 would swallow every tab's line; such tabs count as one column.
  const unsigned stop = std::max(1u, tabStop_);
  const std::size_t limit = renderer_.MaxChars() ? renderer_.MaxChars() : in.size() * stop;
  std::u32string out;
  for (char32_t c : in) {
    if (out.size() >= limit) break;
    if (c == '\t') {
      out.append(stop - out.size() % stop, U' ');
    } else {
      out.push_back(c);
    }
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}

int TextReader::render(const std::u32string& text) {
  row_ = 0;
  return renderer_.Render(expandTabs(text), rows_.data(), lens_.data());
}

int TextReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  endOfPage = morePages = false;
  len = 0;
  if (!started_) {
    started_ = true;
    std::u32string text;
    bool newPage;
    if (!nextLine(text, newPage)) {
      empty_ = true;  // an empty document is one blank line
    } else if (int rc = render(text)) {
      return rc;
    }
  }
  if (empty_) {
    endOfPage = true;
    return 0;
  }
  len = lens_[row_];
  std::memcpy(buf, rows_.data() + std::size_t(row_) * kTextRowBytes, len);
  if (++row_ < renderer_.Rows()) return 0;
  std::u32string text;
  bool newPage = false;
  if (!nextLine(text, newPage)) {
    endOfPage = true;
    return 0;
  }
  endOfPage = morePages = newPage;
  return render(text);
}

}  // namespace fe
