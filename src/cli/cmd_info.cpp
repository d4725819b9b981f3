// qnfax info: what an APF file holds, page by page.
#include <cstdio>
#include <string>

#include "apf_reader.h"
#include "command.h"
#include "fe_faxlog.h"
#include "fe_texts.h"
#include "mh_codec.h"

namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string FileDateText(std::uint32_t packed) {
  std::tm t{};
  if (!fe::UnpackFileDate(packed, &t)) return "";
  return fe::FormatDateTime(std::mktime(&t));
}

int RunInfo(const std::vector<std::string>& args) {
  std::string path;
  bool json = false;
  for (const auto& a : args) {
    if (a == "--json") {
      json = true;
    } else if (a == "--help" || a == "-h") {
      std::printf("usage: qnfax info FILE.APF [--json]\n");
      return 0;
    } else if (path.empty() && a.rfind("--", 0) != 0) {
      path = a;
    } else {
      return qnfax::fail("info: unexpected argument '" + a + "'", 2);
    }
  }
  if (path.empty()) return qnfax::fail("info: no file given (usage: qnfax info FILE.APF [--json])", 2);

  fe::TApfReader reader;
  if (int rc = reader.Open(path); rc < 0) return qnfax::fail(path + ": " + fe::FormatError(rc));
  const fe::TApfFileHeader& h = reader.Header();
  std::vector<fe::TApfPageInfo> pages;
  int walk = reader.ScanPages(&pages);

  std::string text;
  if (json) {
    text = "{\"file\": " + JsonString(path) + ", \"station_id\": " + JsonString(h.stationId) +
           ", \"date_time\": " + JsonString(FileDateText(h.fileDate)) +
           ", \"page_count\": " + std::to_string(h.pageCount) + ", \"pages\": [";
  } else {
    text = "File:       " + path + "\nStation id: " + h.stationId + "\nDate/time:  " + FileDateText(h.fileDate) +
           "\nPages:      " + std::to_string(h.pageCount) + "\n";
  }
  std::vector<std::uint8_t> data;
  for (const auto& p : pages) {
    if (int rc = reader.ReadPageData(p, &data); rc < 0) return qnfax::fail(path + ": " + fe::FormatError(rc));
    fe::TMhDecodeStats st = fe::MhDecodePage(data.data(), data.size(), p.lineRecords(), p.widthPixels(), nullptr);
    const char* res = p.highRes() ? "fine" : "standard";
    const char* form = p.lineRecords() ? "line records" : "raw stream";
    std::string problems;
    if (p.truncated) problems += " truncated";
    if (st.badLines) problems += " bad-lines=" + std::to_string(st.badLines);
    if (st.longLines) problems += " long-lines=" + std::to_string(st.longLines);
    if (st.badRecords) problems += " bad-records=" + std::to_string(st.badRecords);
    if (json) {
      text += std::string(p.number > 1 ? ", " : "") + "{\"page\": " + std::to_string(p.number) +
              ", \"resolution\": \"" + res + "\", \"width\": " + std::to_string(p.widthPixels()) + ", \"form\": \"" +
              form + "\", \"image_length\": " + std::to_string(p.header.imageLength) +
              ", \"lines\": " + std::to_string(st.lines) + ", \"truncated\": " + (p.truncated ? "true" : "false") +
              ", \"bad_lines\": " + std::to_string(st.badLines) + "}";
    } else {
      char buf[200];
      std::snprintf(buf, sizeof buf, "Page %u:     %s, %u pixels, %s, %u bytes, %u lines%s\n", p.number, res,
                    p.widthPixels(), form, p.header.imageLength, st.lines, problems.c_str());
      text += buf;
    }
  }
  if (json) text += "]}\n";
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  if (walk < 0) return qnfax::fail(path + ": page " + std::to_string(pages.size() + 1) + ": " + fe::FormatError(walk));
  return 0;
}

}  // namespace

QNFAX_COMMAND(info, "info FILE.APF [--json]", "show the header and the pages of an APF fax file", RunInfo);
