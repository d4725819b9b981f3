#include "prep_files.h"

#include "common/folders.h"
#include "common/ini_file.h"
#include "covers/cover_template.h"

namespace faxprep {

namespace {

// Lines end at CR LF, LF or a lone CR, as text files from either system do.
std::vector<std::string> SplitLines(std::string_view bytes) {
  std::vector<std::string> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find_first_of("\r\n");
    lines.emplace_back(bytes.substr(0, end));
    if (end == std::string_view::npos) break;
    const std::size_t next = bytes.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
    bytes.remove_prefix(next);
  }
  return lines;
}

std::string NamePart(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

CoverInputs ParseCoverData(std::string_view bytes) {
  CoverInputs in;
  std::vector<std::string> lines = SplitLines(bytes);
  if (!lines.empty()) {
    const std::string name = NamePart(lines[0]);
    if (!name.empty() && name != "." && name != "..") in.templateName = name;
  }
  if (lines.size() > 1) in.flags = lines[1];
  if (lines.size() > 2) in.message.assign(lines.begin() + 2, lines.end());
  return in;
}

std::string SerializeCoverData(const CoverInputs& in) {
  std::string out = in.templateName + "\r\n" + in.flags + "\r\n";
  for (const std::string& line : in.message) out += line + "\r\n";
  return out;
}

bool ReadCoverDataFile(const std::string& path, CoverInputs& in) {
  std::string bytes;
  if (!covers::ReadWholeFile(qn::ResolvePath(path), bytes, 16u << 20)) return false;
  in = ParseCoverData(bytes);
  return true;
}

bool WriteCoverDataFile(const std::string& path, const CoverInputs& in) {
  return covers::WriteWholeFile(path, SerializeCoverData(in));
}

std::string FlagsText(const std::array<bool, 5>& flags) {
  std::string s;
  for (bool f : flags) s.push_back(f ? 'X' : ' ');
  return s;
}

std::array<bool, 5> ParseFlags(const std::string& text) {
  std::array<bool, 5> flags{};
  if (text.size() != flags.size()) return flags;
  for (std::size_t i = 0; i < flags.size(); ++i) flags[i] = text[i] == 'X';
  return flags;
}

bool ParseJobDescription(std::string_view bytes, JobDescription& out, std::string& why) {
  if (bytes.size() > kMaxJobDescriptionBytes) {
    why = "its description file is too large";
    return false;
  }
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\t' && c != '\r' && c != '\n') {
      why = "its description file is not a text file";
      return false;
    }
  }
  const std::vector<std::string> lines = SplitLines(bytes);
  if (lines.size() < 3) {
    why = "its description file has fewer than three lines";
    return false;
  }
  out = {lines[0], lines[1], lines[2]};
  return true;
}

bool WriteHandOffFile(const std::string& executable) {
  const std::string folder = qn::HandOffFolder();
  if (!qn::ForceFolder(folder)) return false;
  std::string send = qn::SendFolder();
  if (send.empty() || send.back() != '/') send += '/';
  qn::IniFile ini(qn::ResolvePath(folder + kHandOffFileName));
  ini.WriteString("Location", "QNOutPath", send);
  ini.WriteString("Location", "QNExecutable", executable);
  return ini.Flush();
}

}  // namespace faxprep
