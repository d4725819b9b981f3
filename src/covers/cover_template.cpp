#include "cover_template.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

namespace covers {

const std::array<const char*, kCoverFieldCount> kCoverFieldNames = {"Date",           "Time",          "Regarding",
                                                                    "Recipient",      "Recipient Fax", "Sender",
                                                                    "Sender Company", "Sender Fax",    "Sender Phone"};

bool CoverData::AnyFlag() const {
  for (bool f : flags)
    if (f) return true;
  return false;
}

// ---- writing --------------------------------------------------------------------

namespace {
void PutLE(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
}  // namespace

void TaggedWriter::Int(std::int32_t v) {
  if (v >= -128 && v <= 127) {
    Raw(tagInt8);
    PutLE(out_, static_cast<std::uint32_t>(v), 1);
  } else if (v >= -32768 && v <= 32767) {
    Raw(tagInt16);
    PutLE(out_, static_cast<std::uint32_t>(v), 2);
  } else {
    Raw(tagInt32);
    PutLE(out_, static_cast<std::uint32_t>(v), 4);
  }
}

void TaggedWriter::ShortText(std::string_view s) {
  if (s.size() > 255) s = s.substr(0, 255);
  out_.push_back(static_cast<char>(s.size()));
  out_.append(s);
}

void TaggedWriter::Text(std::string_view s) {
  if (s.size() < 256) {
    Raw(tagShortText);
    ShortText(s);
  } else {
    Raw(tagLongText);
    PutLE(out_, static_cast<std::uint32_t>(s.size()), 4);
    out_.append(s);
  }
}

void TaggedWriter::Ident(std::string_view s) {
  Raw(tagIdent);
  ShortText(s);
}

// ---- reading --------------------------------------------------------------------

bool TaggedReader::Take(std::size_t count, const std::uint8_t*& at) {
  if (count > n_ - pos_) return false;
  at = p_ + pos_;
  pos_ += count;
  return true;
}

bool TaggedReader::Expect(std::uint8_t tag) {
  if (AtEnd() || p_[pos_] != tag) return false;
  ++pos_;
  return true;
}

bool TaggedReader::Int(std::int32_t& v) {
  const std::size_t start = pos_;
  const std::uint8_t* at = nullptr;
  if (!Take(1, at)) return false;
  const std::uint8_t tag = *at;
  const int bytes = tag == tagInt8 ? 1 : tag == tagInt16 ? 2 : tag == tagInt32 ? 4 : 0;
  if (bytes == 0 || !Take(bytes, at)) {
    pos_ = start;
    return false;
  }
  std::uint32_t u = 0;
  for (int i = 0; i < bytes; ++i) u |= std::uint32_t{at[i]} << (8 * i);
  if (bytes == 1)
    v = static_cast<std::int8_t>(u);
  else if (bytes == 2)
    v = static_cast<std::int16_t>(u);
  else
    v = static_cast<std::int32_t>(u);
  return true;
}

bool TaggedReader::ShortText(std::string& s) {
  const std::size_t start = pos_;
  const std::uint8_t* at = nullptr;
  if (!Take(1, at)) return false;
  const std::size_t len = *at;
  if (!Take(len, at)) {
    pos_ = start;
    return false;
  }
  s.assign(reinterpret_cast<const char*>(at), len);
  return true;
}

bool TaggedReader::Text(std::string& s) {
  const std::size_t start = pos_;
  if (Expect(tagShortText)) {
    if (ShortText(s)) return true;
  } else if (Expect(tagLongText)) {
    const std::uint8_t* at = nullptr;
    if (Take(4, at)) {
      const std::size_t len =
          std::size_t{at[0]} | std::size_t{at[1]} << 8 | std::size_t{at[2]} << 16 | std::size_t{at[3]} << 24;
      if (Take(len, at)) {
        s.assign(reinterpret_cast<const char*>(at), len);
        return true;
      }
    }
  }
  pos_ = start;
  return false;
}

bool TaggedReader::Flag(bool& b) {
  if (Expect(tagTrue)) {
    b = true;
    return true;
  }
  if (Expect(tagFalse)) {
    b = false;
    return true;
  }
  // Any other whole value counts as false.
  if (PeekTag() == tagEnd || PeekTag() == tagStart || !SkipValue()) return false;
  b = false;
  return true;
}

bool TaggedReader::Ident(std::string& s) {
  const std::size_t start = pos_;
  if (Expect(tagIdent) && ShortText(s)) return true;
  pos_ = start;
  return false;
}

bool TaggedReader::SkipValue() {
  const std::size_t start = pos_;
  std::int32_t i = 0;
  std::string s;
  switch (PeekTag()) {
    case tagInt8:
    case tagInt16:
    case tagInt32:
      return Int(i);
    case tagShortText:
    case tagLongText:
      return Text(s);
    case tagFalse:
    case tagTrue:
      ++pos_;
      return true;
    case tagIdent:
      return Ident(s);
    case tagSet:
      ++pos_;
      while (ShortText(s))
        if (s.empty()) return true;
      pos_ = start;
      return false;
    default:
      return false;
  }
}

// ---- template records ---------------------------------------------------------------

void WriteTemplateRecord(TaggedWriter& w, const TemplateRecord& r) {
  w.Start();
  w.Int(r.kind);
  w.Int(r.left);
  w.Int(r.top);
  w.Int(r.width);
  w.Int(r.height);
  w.Text(r.caption);
  w.Text(r.fontName);
  w.Int(r.fontSize);
  w.Flag(r.bold);
  w.Flag(r.italic);
  w.Flag(r.underline);
  w.Int(r.shapeType);
  w.Int(r.fillType);
  w.Int(r.penWidth);
  w.Int(r.lineStyle);
  w.Int(r.roundPerc);
  w.Int(r.fieldKind);
  w.End();
}

bool ReadTemplateRecord(TaggedReader& r, TemplateRecord& out) {
  TemplateRecord rec;
  const bool ok = r.Expect(tagStart) && r.Int(rec.kind) && r.Int(rec.left) && r.Int(rec.top) && r.Int(rec.width) &&
                  r.Int(rec.height) && r.Text(rec.caption) && r.Text(rec.fontName) && r.Int(rec.fontSize) &&
                  r.Flag(rec.bold) && r.Flag(rec.italic) && r.Flag(rec.underline) && r.Int(rec.shapeType) &&
                  r.Int(rec.fillType) && r.Int(rec.penWidth) && r.Int(rec.lineStyle) && r.Int(rec.roundPerc) &&
                  r.Int(rec.fieldKind) && r.Expect(tagEnd);
  if (ok) out = std::move(rec);
  return ok;
}

std::vector<TemplateRecord> ParseTemplate(std::string_view bytes) {
  std::vector<TemplateRecord> records;
  TaggedReader r(bytes);
  TemplateRecord rec;
  while (!r.AtEnd() && ReadTemplateRecord(r, rec)) records.push_back(rec);
  return records;
}

std::string SerializeTemplate(const std::vector<TemplateRecord>& records) {
  std::string out;
  TaggedWriter w(out);
  for (const auto& r : records) WriteTemplateRecord(w, r);
  return out;
}

// ---- files ---------------------------------------------------------------------------

bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.clear();
  char buf[65536];
  while (bytes.size() < maxBytes) {
    in.read(buf, sizeof buf);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    bytes.append(buf, std::min(got, maxBytes - bytes.size()));
  }
  return !in.bad();
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  const std::string temp = path + ".tmp~";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      ::unlink(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool ReadTemplateFile(const std::string& fctPath, std::vector<TemplateRecord>& records) {
  std::string bytes;
  if (!ReadWholeFile(fctPath, bytes)) return false;
  records = ParseTemplate(bytes);
  return true;
}

bool WriteTemplateFile(const std::string& fctPath, const std::vector<TemplateRecord>& records) {
  return WriteWholeFile(fctPath, SerializeTemplate(records));
}

std::string DescriptionLine(std::string_view bytes) {
  return std::string(bytes.substr(0, bytes.find_first_of("\r\n")));
}

std::string ReadDescription(const std::string& desPath) {
  std::string bytes;
  if (!ReadWholeFile(desPath, bytes, 64 * 1024)) return {};
  return DescriptionLine(bytes);
}

bool WriteDescription(const std::string& desPath, const std::string& description) {
  std::string line = description.substr(0, description.find_first_of("\r\n"));
  return WriteWholeFile(desPath, line + "\r\n");
}

std::int32_t PixelsToFaxUnits(std::int64_t pixels, int pixelsPerInch) {
  if (pixelsPerInch <= 0) pixelsPerInch = kDesignPixelsPerInch;
  const std::int64_t num = pixels * kFaxUnitsPerInch, den = pixelsPerInch;
  std::int64_t q = num / den, r = num % den;
  if (r < 0) {  // floor division
    q -= 1;
    r += den;
  }
  if (2 * r > den || (2 * r == den && (q & 1) != 0)) ++q;
  if (q > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (q < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(q);
}

}  // namespace covers
