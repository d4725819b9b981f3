// INI files with private-profile semantics: section and key names compare
// without regard to case, a missing key yields the caller's default, writing a
// key updates it in place (or appends it to its section, or appends the section)
// and keeps every other line of the file as it was.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qn {

class IniFile {
 public:
  // Reads the file; a missing or unreadable file reads as empty. A file larger
  // than kMaxBytes is no settings file: it reads as empty and unreadable, so it
  // is never written over.
  explicit IniFile(std::string path);
  static constexpr std::size_t kMaxBytes = std::size_t{4} << 20;

  const std::string& path() const { return path_; }
  // False when the file existed but could not be read.
  bool readable() const { return readable_; }

  bool HasKey(const std::string& section, const std::string& key) const;
  bool HasSection(const std::string& section) const;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // A decimal integer (optionally signed, or hexadecimal after "0x" or "$");
  // a value that is not a whole number yields the default.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // Any non-zero integer is true.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void EraseSection(const std::string& section);

  // Writes the file if anything changed (to a temporary file renamed over the
  // old one, so a failed write never leaves a half-written settings file).
  bool Flush();

 private:
  struct Line {
    std::string text;  // the line as it stands in the file
    // The section it belongs to: an index into sections_ (0 = before the first
    // header), so a long section name is held once, not once per line.
    std::size_t section = 0;
    std::string key;  // key of a "key=value" line, else empty
    bool header = false;
  };
  const std::string& SectionOf(const Line& l) const { return sections_[l.section]; }

  int FindKey(const std::string& section, const std::string& key) const;
  int FindSectionEnd(const std::string& section) const;  // index after the section's last line, -1 if absent

  std::string path_;
  std::vector<std::string> sections_{std::string()};  // names of the headers, in file order
  std::vector<Line> lines_;
  bool readable_ = true;
  bool dirty_ = false;
};

// One-call helpers that open, read or write and flush, like the system calls.
std::string ReadProfileString(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& def);
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace qn
