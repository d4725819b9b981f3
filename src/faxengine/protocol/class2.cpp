// Class 2 / 2.0 command tables and modem reply parsing; see class2.h.
#include "class2.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "t30.h"

namespace fe {

namespace {
const TClass2Commands kClass2 = {"AT+FCLASS=2", "AT+FMDL?", "AT+FMFR?", "AT+FREV?", "AT+FDIS", "AT+FLID", "AT+FDCC",
                                 "+FCON",       "+FDCS",    "+FTSI",    "+FCSI",    "+FPTS",   "+FHNG"};
const TClass2Commands kClass2_0 = {"AT+FCLASS=2.0", "AT+FMI?", "AT+FMM?", "AT+FMR?", "AT+FIS", "AT+FLI", "AT+FCC",
                                   "+FCO",          "+FCS",    "+FTI",    "+FCI",    "+FPS",   "+FHS"};

bool Has(std::string_view s, std::string_view what) {
  return s.find(what) != std::string_view::npos;
}
}  // namespace

const TClass2Commands& Class2Commands(TFaxClass c) {
  return c == TFaxClass::fcClass2_0 ? kClass2_0 : kClass2;
}

TModemReply ClassifyReply(std::string_view line) {
  // Order matters: "NO ANSWER" must not read as something else, "VCON" before
  // "CONNECT"-like words, and reports like "+FCON" are not "CONNECT".
  if (line.empty()) return TModemReply::None;
  if (Has(line, "NO DIAL")) return TModemReply::NoDialTone;
  if (Has(line, "BUSY")) return TModemReply::Busy;
  if (Has(line, "ANSWER")) return TModemReply::NoAnswer;
  if (Has(line, "VOICE") || Has(line, "VCON")) return TModemReply::Voice;
  if (Has(line, "RRIER")) return TModemReply::NoCarrier;
  if (Has(line, "ERROR")) return TModemReply::Error;
  if (Has(line, "CONNECT")) return TModemReply::Connect;
  if (Has(line, "RING")) return TModemReply::Ring;
  if (Has(line, "OK")) return TModemReply::Ok;
  return TModemReply::None;
}

std::optional<std::string> ReportValue(std::string_view line, std::string_view prefix) {
  size_t at = line.find(prefix);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(at + prefix.size());
  // The prefix must end the report name: "+FCS" must not match "+FCSI".
  if (!rest.empty() && std::isalpha(static_cast<unsigned char>(rest[0]))) return std::nullopt;
  if (!rest.empty() && rest[0] == ':') rest.remove_prefix(1);
  while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r' || rest.back() == '\n')) rest.remove_suffix(1);
  return std::string(rest);
}

std::vector<int> ReportFields(std::string_view value) {
  std::vector<int> out;
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t comma = value.find(',', pos);
    if (comma == std::string_view::npos) comma = value.size();
    std::string_view f = value.substr(pos, comma - pos);
    while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
    // Class 2.0 modems may report hexadecimal fields; digits read as decimal. A
    // field that is no number, or too large for one, is -1: modem output is
    // outside data and never stops the parse.
    const bool digits =
        std::all_of(f.begin(), f.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    int v = -1;
    if (!f.empty()) {
      int parsed = 0;
      const auto r = std::from_chars(f.data(), f.data() + f.size(), parsed, digits ? 10 : 16);
      if (r.ec == std::errc() && r.ptr == f.data() + f.size() && parsed >= 0) v = parsed;
    }
    out.push_back(v);
    pos = comma + 1;
  }
  return out;
}

std::string FirstReportField(std::string_view value) {
  std::string_view f = value.substr(0, value.find(','));
  while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
  while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
  return std::string(f);
}

bool IsReportLine(std::string_view line) {
  const size_t at = line.find_first_not_of(' ');
  return at != std::string_view::npos && line.size() > at + 1 && line[at] == '+' && line[at + 1] == 'F';
}

std::optional<TClass2Params> ParseClass2Params(std::string_view value) {
  auto f = ReportFields(value);
  if (f.size() < 3 || f[0] < 0 || f[1] < 0 || f[2] < 0) return std::nullopt;
  TClass2Params p;
  p.fine = f[0] >= 1;
  p.bps = 2400;
  for (const auto& s : t30::Speeds())
    if (s.class2Char - '0' == f[1]) p.bps = s.bps;
  if (f[1] > 5) p.bps = 14400;
  p.wide = f[2] >= 1;
  p.ecm = f.size() > 5 && f[5] > 0;
  return p;
}

std::string Class2CapsCommand(const TClass2Commands& t, bool fine, int bps, bool wide, bool ecm) {
  std::string s = t.modemCaps;
  s += '=';
  s += fine ? '1' : '0';
  s += ',';
  s += t30::Class2SpeedChar(bps);
  s += ',';
  s += wide ? '1' : '0';
  s += ",2,0,";
  s += ecm ? '1' : '0';
  s += ",0,0";
  return s;
}

std::string ParseClass2Id(std::string_view value) {
  size_t q1 = value.find('"');
  std::string_view id = value;
  if (q1 != std::string_view::npos) {
    size_t q2 = value.find('"', q1 + 1);
    id = value.substr(q1 + 1, q2 == std::string_view::npos ? std::string_view::npos : q2 - q1 - 1);
  }
  std::string s(id.substr(0, 20));
  size_t b = s.find_first_not_of(' ');
  size_t e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

TClassSupport ParseClassSupport(std::string answer) {
  // The answer lists classes separated by commas ("0,1,2,2.0"), sometimes in
  // parentheses. Whole entries are compared, so "2.0" alone does not also claim
  // Class 2 and the order of the entries does not matter.
  TClassSupport r;
  std::string token;
  auto take = [&] {
    if (token == "1" || token == "1.0") r.class1 = true;
    if (token == "2") r.class2 = true;
    if (token == "2.0") r.class2_0 = true;
    token.clear();
  };
  for (char c : answer) {
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.')
      token += c;
    else
      take();
  }
  take();
  return r;
}

}  // namespace fe
