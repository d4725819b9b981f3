#include "ini_file.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qn {
namespace {

std::string Trim(const std::string& s) {
  const char* ws = " \t\r\n";
  const size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// A value enclosed in matching quotes is read without them.
std::string Unquote(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

// The text written for a value: one that reading would change (spaces at either
// end, or enclosed in matching quotes) is written in quotes, which reading drops.
std::string QuoteForWrite(const std::string& v) {
  if (v.empty()) return v;
  auto space = [](char c) { return c == ' ' || c == '\t'; };
  const bool padded = space(v.front()) || space(v.back());
  if (padded || Unquote(v).size() != v.size()) return '"' + v + '"';
  return v;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    readable_ = false;  // a folder or device in the settings file's place
    return;
  }
  if (st.st_size > static_cast<off_t>(kMaxBytes)) {
    readable_ = false;
    return;
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    readable_ = access(path_.c_str(), F_OK) != 0;  // missing is fine, present but unreadable is not
    return;
  }
  std::string text;
  std::size_t current = 0;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    Line line{text, current, {}, false};
    const std::string t = Trim(text);
    if (!t.empty() && t.front() == '[') {
      const size_t close = t.find(']');
      sections_.push_back(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      current = sections_.size() - 1;
      line.section = current;
      line.header = true;
    } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
      const size_t eq = t.find('=');
      if (eq != std::string::npos && eq > 0) line.key = Trim(t.substr(0, eq));
    }
    lines_.push_back(std::move(line));
  }
  if (in.bad()) readable_ = false;
}

int IniFile::FindKey(const std::string& section, const std::string& key) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (!lines_[i].header && !lines_[i].key.empty() && SameName(SectionOf(lines_[i]), section) &&
        SameName(lines_[i].key, key))
      return static_cast<int>(i);
  return -1;
}

int IniFile::FindSectionEnd(const std::string& section) const {
  int end = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (!SameName(SectionOf(lines_[i]), section)) continue;
    if (lines_[i].header || !Trim(lines_[i].text).empty()) end = static_cast<int>(i) + 1;
  }
  return end;
}

bool IniFile::HasKey(const std::string& section, const std::string& key) const {
  return FindKey(section, key) >= 0;
}

bool IniFile::HasSection(const std::string& section) const {
  for (const Line& l : lines_)
    if (l.header && SameName(SectionOf(l), section)) return true;
  return false;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  const int i = FindKey(section, key);
  if (i < 0) return def;
  const std::string& text = lines_[i].text;
  return Unquote(Trim(text.substr(text.find('=') + 1)));
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  const int i = FindKey(section, key);
  if (i < 0) return def;
  std::string v = ReadString(section, key, "");
  int base = 10;
  std::string digits = v;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.erase(0, 1);
  }
  if (digits.size() > 1 && digits[0] == '$') {
    base = 16;
    digits.erase(0, 1);
  } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  if (digits.empty() || digits[0] == '-' || digits[0] == '+' || digits[0] == ' ') return def;
  errno = 0;
  char* end = nullptr;
  const long long n = std::strtoll(digits.c_str(), &end, base);
  if (errno != 0 || *end != '\0') return def;
  const long long value = negative ? -n : n;
  if (value < INT_MIN || value > INT_MAX) return def;
  return static_cast<int>(value);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  // Line breaks would split the entry into lines the next read takes apart.
  std::string clean = value;
  for (char& c : clean)
    if (c == '\n' || c == '\r') c = ' ';
  const std::string text = key + "=" + QuoteForWrite(clean);
  const int i = FindKey(section, key);
  if (i >= 0) {
    if (lines_[i].text != text) {
      lines_[i].text = text;
      dirty_ = true;
    }
    return;
  }
  const int end = FindSectionEnd(section);
  if (end >= 0) {
    lines_.insert(lines_.begin() + end, Line{text, lines_[end - 1].section, key, false});
  } else {
    // A new section goes at the end, after a blank line when the file has content.
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back({"", lines_.back().section, {}, false});
    sections_.push_back(section);
    lines_.push_back({"[" + section + "]", sections_.size() - 1, {}, true});
    lines_.push_back({text, sections_.size() - 1, key, false});
  }
  dirty_ = true;
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(const std::string& section) {
  const size_t before = lines_.size();
  std::erase_if(lines_, [&](const Line& l) { return SameName(SectionOf(l), section) && (l.header || !l.key.empty()); });
  if (lines_.size() != before) dirty_ = true;
}

bool IniFile::Flush() {
  if (!dirty_) return true;
  const std::string tmp = path_ + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const Line& l : lines_) out << l.text << "\n";
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  dirty_ = false;
  return true;
}

std::string ReadProfileString(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& def) {
  return IniFile(file).ReadString(section, key, def);
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  IniFile ini(file);
  if (!ini.readable()) return false;  // never replace a file whose other sections could not be read
  ini.WriteString(section, key, value);
  return ini.Flush();
}

}  // namespace qn
