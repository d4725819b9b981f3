#include "object_stream.h"

#include <array>

#include "covers/cover_template.h"

namespace covers {

namespace {

constexpr std::string_view kSignature = "TPF0";

struct NamedColor {
  const char* name;
  std::int32_t value;
};
constexpr std::array<NamedColor, 16> kColors = {{{"clBlack", 0x000000},
                                                 {"clMaroon", 0x000080},
                                                 {"clGreen", 0x008000},
                                                 {"clOlive", 0x008080},
                                                 {"clNavy", 0x800000},
                                                 {"clPurple", 0x800080},
                                                 {"clTeal", 0x808000},
                                                 {"clGray", 0x808080},
                                                 {"clSilver", 0xC0C0C0},
                                                 {"clRed", 0x0000FF},
                                                 {"clLime", 0x00FF00},
                                                 {"clYellow", 0x00FFFF},
                                                 {"clBlue", 0xFF0000},
                                                 {"clFuchsia", 0xFF00FF},
                                                 {"clAqua", 0xFFFF00},
                                                 {"clWhite", 0xFFFFFF}}};

void PutShortText(std::string& out, std::string_view s) {
  if (s.size() > 255) s = s.substr(0, 255);
  out.push_back(static_cast<char>(s.size()));
  out.append(s);
}

void WriteValue(std::string& out, const StreamValue& value) {
  TaggedWriter w(out);
  if (const auto* i = std::get_if<std::int32_t>(&value))
    w.Int(*i);
  else if (const auto* s = std::get_if<std::string>(&value))
    w.Text(*s);
  else if (const auto* b = std::get_if<bool>(&value))
    w.Flag(*b);
  else if (const auto* id = std::get_if<StreamIdent>(&value))
    w.Ident(id->name);
  else if (const auto* set = std::get_if<StreamSet>(&value)) {
    w.Raw(tagSet);
    for (const std::string& m : set->members)
      if (!m.empty()) PutShortText(out, m);
    PutShortText(out, {});
  }
}

void WriteObject(std::string& out, const StreamObject& object) {
  PutShortText(out, object.className);
  PutShortText(out, object.name);
  for (const StreamProperty& p : object.properties) {
    PutShortText(out, p.name);
    WriteValue(out, p.value);
  }
  out.push_back(static_cast<char>(tagEnd));
  for (const StreamObject& child : object.children) WriteObject(out, child);
  out.push_back(static_cast<char>(tagEnd));
}

// Reads the list with a message for the first thing that is wrong.
class Reader {
 public:
  Reader(std::string_view bytes, int maxDepth) : b_(bytes), maxDepth_(maxDepth) {}

  StreamReadResult Run() {
    StreamReadResult result;
    if (!Byte(tagStart, "the start of an object list")) return Finish(result);
    for (;;) {
      if (pos_ >= b_.size()) {
        Fail("the file ends before the end of the object list");
        break;
      }
      if (Peek() == tagEnd) {
        ++pos_;
        break;
      }
      if (b_.substr(pos_, kSignature.size()) != kSignature) {
        Fail(b_.size() - pos_ < kSignature.size() ? "the file ends inside an object's signature"
                                                  : "an object does not start with the signature TPF0");
        break;
      }
      pos_ += kSignature.size();
      StreamObject object;
      if (!Object(object, 0)) break;
      result.objects.push_back(std::move(object));
    }
    return Finish(result);
  }

 private:
  StreamReadResult& Finish(StreamReadResult& r) {
    r.ok = error_.empty();
    r.error = error_;
    r.offset = errorAt_;
    return r;
  }
  bool Fail(std::string message) {
    if (error_.empty()) {
      error_ = std::move(message);
      errorAt_ = pos_;
    }
    return false;
  }
  std::uint8_t Peek() const { return static_cast<std::uint8_t>(b_[pos_]); }
  std::size_t Left() const { return b_.size() - pos_; }

  bool Byte(std::uint8_t want, const char* what) {
    if (pos_ >= b_.size()) return Fail(std::string("the file ends before ") + what);
    if (Peek() != want) return Fail(std::string("unexpected byte ") + std::to_string(Peek()) + " at " + what);
    ++pos_;
    return true;
  }

  bool ShortText(std::string& s, const std::string& what) {
    if (pos_ >= b_.size()) return Fail("the file ends before " + what);
    const std::size_t len = Peek();
    if (len > Left() - 1)
      return Fail("the file ends inside " + what + " (" + std::to_string(len) + " characters announced, " +
                  std::to_string(Left() - 1) + " bytes left)");
    s.assign(b_.substr(pos_ + 1, len));
    pos_ += 1 + len;
    return true;
  }

  bool Le(int bytes, std::uint32_t& v, const std::string& what) {
    if (Left() < static_cast<std::size_t>(bytes)) return Fail("the file ends inside " + what);
    v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint32_t{static_cast<std::uint8_t>(b_[pos_ + i])} << (8 * i);
    pos_ += bytes;
    return true;
  }

  bool Value(StreamValue& value, const std::string& what) {
    if (pos_ >= b_.size()) return Fail("the file ends before the value of " + what);
    const std::size_t at = pos_;
    const std::uint8_t tag = Peek();
    ++pos_;
    std::uint32_t u = 0;
    switch (tag) {
      case tagInt8:
        if (!Le(1, u, what)) return false;
        value = std::int32_t{static_cast<std::int8_t>(u)};
        return true;
      case tagInt16:
        if (!Le(2, u, what)) return false;
        value = std::int32_t{static_cast<std::int16_t>(u)};
        return true;
      case tagInt32:
        if (!Le(4, u, what)) return false;
        value = static_cast<std::int32_t>(u);
        return true;
      case tagShortText: {
        std::string s;
        if (!ShortText(s, what)) return false;
        value = std::move(s);
        return true;
      }
      case tagLongText: {
        if (!Le(4, u, what)) return false;
        if (u > Left())
          return Fail("the text of " + what + " claims " + std::to_string(u) + " bytes, but only " +
                      std::to_string(Left()) + " follow");
        value = std::string(b_.substr(pos_, u));
        pos_ += u;
        return true;
      }
      case tagFalse:
      case tagTrue:
        value = tag == tagTrue;
        return true;
      case tagIdent: {
        StreamIdent id;
        if (!ShortText(id.name, what)) return false;
        value = std::move(id);
        return true;
      }
      case tagSet: {
        StreamSet set;
        for (;;) {
          std::string m;
          if (!ShortText(m, "a member of the set " + what)) return false;
          if (m.empty()) break;
          set.members.push_back(std::move(m));
        }
        value = std::move(set);
        return true;
      }
      default:
        pos_ = at;
        return Fail("unknown value type " + std::to_string(tag) + " for " + what);
    }
  }

  bool Object(StreamObject& o, int depth) {
    if (!ShortText(o.className, "a class name")) return false;
    if (o.className.empty()) return Fail("an object without a class name");
    if (!ShortText(o.name, "the name of a " + o.className)) return false;
    const std::string who = o.name.empty() ? o.className : o.name + " (" + o.className + ")";
    for (;;) {
      if (pos_ >= b_.size()) return Fail("the file ends inside the properties of " + who);
      if (Peek() == tagEnd) {
        ++pos_;
        break;
      }
      StreamProperty p;
      if (!ShortText(p.name, "a property name of " + who)) return false;
      if (!Value(p.value, p.name + " of " + who)) return false;
      o.properties.push_back(std::move(p));
    }
    for (;;) {
      if (pos_ >= b_.size()) return Fail("the file ends inside the children of " + who);
      if (Peek() == tagEnd) {
        ++pos_;
        return true;
      }
      if (depth >= maxDepth_)
        return Fail("objects nested deeper than the format allows (" + std::to_string(maxDepth_) + " levels) inside " +
                    who);
      StreamObject child;
      if (!Object(child, depth + 1)) return false;
      o.children.push_back(std::move(child));
    }
  }

  std::string_view b_;
  int maxDepth_;
  std::size_t pos_ = 0;
  std::string error_;
  std::size_t errorAt_ = 0;
};

}  // namespace

const char* StreamValueKind(const StreamValue& v) {
  switch (v.index()) {
    case 0:
      return "an integer";
    case 1:
      return "a text";
    case 2:
      return "a flag";
    case 3:
      return "an identifier";
    default:
      return "a set";
  }
}

std::string ColorIdent(std::int32_t color) {
  for (const NamedColor& c : kColors)
    if (c.value == color) return c.name;
  return {};
}

std::optional<std::int32_t> ColorFromIdent(std::string_view ident) {
  for (const NamedColor& c : kColors)
    if (ident == c.name) return c.value;
  return std::nullopt;
}

StreamValue ColorValue(std::int32_t color) {
  std::string id = ColorIdent(color);
  if (!id.empty()) return StreamIdent{std::move(id)};
  return color;
}

const StreamProperty* StreamObject::Find(std::string_view propertyName) const {
  for (const StreamProperty& p : properties)
    if (p.name == propertyName) return &p;
  return nullptr;
}

void WriteObjectStream(std::string& out, const StreamObject& object) {
  out.append(kSignature);
  WriteObject(out, object);
}

std::string WriteObjectList(const std::vector<StreamObject>& objects) {
  std::string out;
  out.push_back(static_cast<char>(tagStart));
  for (const StreamObject& o : objects) WriteObjectStream(out, o);
  out.push_back(static_cast<char>(tagEnd));
  return out;
}

StreamReadResult ReadObjectList(std::string_view bytes, int maxDepth) {
  if (maxDepth < 0) maxDepth = 0;
  if (maxDepth > kMaxStreamNesting) maxDepth = kMaxStreamNesting;
  return Reader(bytes, maxDepth).Run();
}

}  // namespace covers
