// Header line tokens and text rendering for sent pages; see send_text.h.
#include "send_text.h"

#include <cctype>
#include <cstring>

#include "mh_codec.h"

namespace fe {

namespace {
std::string FormatNow(std::time_t when, const char* fmt) {
  if (when == 0) when = std::time(nullptr);
  std::tm tm{};
  localtime_r(&when, &tm);
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
  return std::string(buf, n);
}
}  // namespace

std::string ExpandHeaderLine(const std::string& text, const THeaderValues& v) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '$') {
      out += text[i++];
      continue;
    }
    size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    char letter = end > i + 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1]))) : 0;
    switch (letter) {
      case 'D': out += FormatNow(v.when, "%x"); break;
      case 'T': out += FormatNow(v.when, "%X"); break;
      case 'I': out += v.stationId; break;
      case 'N': out += std::to_string(v.pages); break;
      case 'P': out += std::to_string(v.page); break;
      case 'F': out += v.sender; break;
      case 'R': out += v.recipient; break;
      case 'S': out += v.title; break;
      default: break;
    }
    i = end;
  }
  return out;
}

void AppendCodedLine(std::vector<uint8_t>& out, const uint8_t* raster, unsigned widthPixels, int minLine) {
  uint8_t coded[kMaxCodedLine];
  size_t n = MhEncodeLine(raster, widthPixels, widthPixels, false, coded);
  out.insert(out.end(), coded, coded + n);
  for (size_t k = n; static_cast<int>(k) < minLine; ++k) out.push_back(0);
}

int AppendTextLines(std::vector<uint8_t>& out, TextLineRenderer& r, const std::u32string& text, unsigned widthPixels,
                    int minLine) {
  std::vector<uint8_t> rows(static_cast<size_t>(r.Rows()) * kTextRowBytes);
  std::vector<unsigned> lens(r.Rows());
  std::u32string line = text;
  if (r.MaxChars() && line.size() > r.MaxChars()) line.resize(r.MaxChars());
  int rc = r.Render(line, rows.data(), lens.data());
  if (rc < 0) return rc;
  std::vector<uint8_t> raster(widthPixels / 8);
  for (unsigned i = 0; i < r.Rows(); ++i) {
    std::memset(raster.data(), 0, raster.size());
    std::memcpy(raster.data(), rows.data() + i * kTextRowBytes, std::min<size_t>(lens[i], raster.size()));
    AppendCodedLine(out, raster.data(), widthPixels, minLine);
  }
  return 0;
}

int BuildHeaderBlock(std::vector<uint8_t>& out, const std::string& text, bool fine, bool wide, int minLine,
                     TextLineRenderer* enhanced) {
  const unsigned width = wide ? 2048 : 1728;
  // Blank lines are coded at the page's own width: a 1728-pixel line on a wide
  // page would be a short line to the receiver.
  std::vector<uint8_t> blank(width / 8, 0);
  for (int i = 0; i < 8; ++i) {
    uint8_t coded[kMaxCodedLine];
    size_t n = MhEncodeLine(blank.data(), width, width, false, coded);
    out.insert(out.end(), coded, coded + n);
    if (minLine >= 7) out.insert(out.end(), static_cast<size_t>(minLine - 5), 0);
  }
  FontLineRenderer builtin;
  TextLineRenderer* r = enhanced;
  if (!r) {
    int rc = builtin.Init(ffSmall, fine, width, 0);
    if (rc < 0) return rc;
    r = &builtin;
  }
  return AppendTextLines(out, *r, DecodeTextBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()), width,
                         minLine);
}

}  // namespace fe
