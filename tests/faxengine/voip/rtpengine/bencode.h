// Bencode, the encoding of rtpengine's ng control protocol: integers
// (i42e), byte strings (4:spam), lists (l...e) and dictionaries (d...e, keys
// are byte strings in sorted order). A value tree, a writer and a reader that
// never reads past its input and refuses nesting deeper than a fixed limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fe::voip::test {

class TBValue {
 public:
  enum class TKind { Integer, String, List, Dict };

  TBValue() : kind_(TKind::String) {}
  TBValue(const char* s) : kind_(TKind::String), string_(s) {}
  TBValue(std::string s) : kind_(TKind::String), string_(std::move(s)) {}
  static TBValue Int(int64_t v);
  static TBValue List(std::vector<TBValue> items = {});
  static TBValue Dict();

  TKind Kind() const { return kind_; }
  bool IsString() const { return kind_ == TKind::String; }
  bool IsDict() const { return kind_ == TKind::Dict; }
  bool IsList() const { return kind_ == TKind::List; }
  int64_t Integer() const { return integer_; }
  const std::string& String() const { return string_; }
  const std::vector<TBValue>& Items() const { return items_; }
  const std::map<std::string, TBValue>& Entries() const { return entries_; }

  // Dictionary access: Set adds or replaces; Get is null when the key is absent.
  TBValue& Set(const std::string& key, TBValue value);
  const TBValue* Get(const std::string& key) const;
  // The string under key, or empty when absent or not a string.
  std::string Text(const std::string& key) const;
  void Append(TBValue item) { items_.push_back(std::move(item)); }

  std::string Encode() const;

 private:
  void EncodeTo(std::string& out) const;

  TKind kind_;
  int64_t integer_ = 0;
  std::string string_;
  std::vector<TBValue> items_;
  std::map<std::string, TBValue> entries_;  // sorted, as bencode wants its keys
};

// Reads one value from data; the whole input must be that value. False with a
// reason (and the offset it refers to) in error on anything else.
bool BDecode(const uint8_t* data, size_t size, TBValue& out, std::string* error = nullptr);
inline bool BDecode(const std::string& text, TBValue& out, std::string* error = nullptr) {
  return BDecode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out, error);
}

}  // namespace fe::voip::test
