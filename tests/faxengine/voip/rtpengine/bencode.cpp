// Bencode values: writing and bounded reading.
#include "bencode.h"

#include <limits>

namespace fe::voip::test {

TBValue TBValue::Int(int64_t v) {
  TBValue b;
  b.kind_ = TKind::Integer;
  b.integer_ = v;
  return b;
}

TBValue TBValue::List(std::vector<TBValue> items) {
  TBValue b;
  b.kind_ = TKind::List;
  b.items_ = std::move(items);
  return b;
}

TBValue TBValue::Dict() {
  TBValue b;
  b.kind_ = TKind::Dict;
  return b;
}

TBValue& TBValue::Set(const std::string& key, TBValue value) {
  return entries_[key] = std::move(value);
}

const TBValue* TBValue::Get(const std::string& key) const {
  const auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

std::string TBValue::Text(const std::string& key) const {
  const TBValue* v = Get(key);
  return v && v->IsString() ? v->String() : std::string();
}

std::string TBValue::Encode() const {
  std::string out;
  EncodeTo(out);
  return out;
}

void TBValue::EncodeTo(std::string& out) const {
  switch (kind_) {
    case TKind::Integer:
      out += 'i' + std::to_string(integer_) + 'e';
      break;
    case TKind::String:
      out += std::to_string(string_.size()) + ':' + string_;
      break;
    case TKind::List:
      out += 'l';
      for (const TBValue& item : items_) item.EncodeTo(out);
      out += 'e';
      break;
    case TKind::Dict:
      out += 'd';
      for (const auto& [key, value] : entries_) {
        out += std::to_string(key.size()) + ':' + key;
        value.EncodeTo(out);
      }
      out += 'e';
      break;
  }
}

namespace {

constexpr int kMaxDepth = 32;

class TReader {
 public:
  TReader(const uint8_t* data, size_t size) : p_(data), end_(data + size), begin_(data) {}

  bool Value(TBValue& out, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    if (p_ == end_) return Fail("input ends where a value should start");
    const uint8_t c = *p_;
    if (c == 'i') {
      ++p_;
      int64_t v = 0;
      if (!Number(v, 'e', true)) return false;
      out = TBValue::Int(v);
      return true;
    }
    if (c >= '0' && c <= '9') {
      std::string s;
      if (!String(s)) return false;
      out = TBValue(std::move(s));
      return true;
    }
    if (c == 'l') {
      ++p_;
      out = TBValue::List();
      while (true) {
        if (p_ == end_) return Fail("list not closed");
        if (*p_ == 'e') break;
        TBValue item;
        if (!Value(item, depth + 1)) return false;
        out.Append(std::move(item));
      }
      ++p_;
      return true;
    }
    if (c == 'd') {
      ++p_;
      out = TBValue::Dict();
      while (true) {
        if (p_ == end_) return Fail("dictionary not closed");
        if (*p_ == 'e') break;
        std::string key;
        if (!String(key)) return false;
        TBValue value;
        if (!Value(value, depth + 1)) return false;
        out.Set(key, std::move(value));
      }
      ++p_;
      return true;
    }
    return Fail("unexpected byte");
  }

  bool AtEnd() const { return p_ == end_; }
  bool Fail(const char* why) {
    error_ = std::string(why) + " at offset " + std::to_string(p_ - begin_);
    return false;
  }
  const std::string& Error() const { return error_; }

 private:
  // Decimal digits up to the terminator; a sign only where allowed.
  bool Number(int64_t& v, uint8_t terminator, bool sign) {
    bool negative = false;
    if (sign && p_ != end_ && *p_ == '-') {
      negative = true;
      ++p_;
    }
    const uint8_t* start = p_;
    uint64_t n = 0;
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
      if (n > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - (*p_ - '0')) / 10)
        return Fail("number too large");
      n = n * 10 + (*p_ - '0');
      ++p_;
    }
    if (p_ == start) return Fail("digits expected");
    if (p_ == end_ || *p_ != terminator) return Fail("number not terminated");
    ++p_;
    v = negative ? -static_cast<int64_t>(n) : static_cast<int64_t>(n);
    return true;
  }

  bool String(std::string& s) {
    int64_t length = 0;
    if (p_ == end_ || *p_ < '0' || *p_ > '9') return Fail("string length expected");
    if (!Number(length, ':', false)) return false;
    if (static_cast<uint64_t>(length) > static_cast<uint64_t>(end_ - p_)) return Fail("string runs past the end");
    s.assign(reinterpret_cast<const char*>(p_), static_cast<size_t>(length));
    p_ += length;
    return true;
  }

  const uint8_t* p_;
  const uint8_t* end_;
  const uint8_t* begin_;
  std::string error_;
};

}  // namespace

bool BDecode(const uint8_t* data, size_t size, TBValue& out, std::string* error) {
  TReader reader(data, size);
  bool ok = reader.Value(out, 0);
  if (ok && !reader.AtEnd()) ok = reader.Fail("bytes after the value");
  if (!ok && error) *error = reader.Error();
  return ok;
}

}  // namespace fe::voip::test
