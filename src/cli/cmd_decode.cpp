// qnfax decode: the pages of an APF fax file back to PBM images.
#include <cstdio>
#include <fstream>
#include <string>

#include "apf_reader.h"
#include "command.h"
#include "fe_errors.h"
#include "fe_texts.h"
#include "mh_codec.h"
#include "raster_pbm.h"

namespace {

constexpr const char* kUsage = "decode IN.APF -o OUT.pbm [--page N]";

int RunDecode(const std::vector<std::string>& args) {
  std::string in, out;
  unsigned only = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::printf("usage: qnfax %s\n", kUsage);
      return 0;
    } else if (a == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (a == "--page" && i + 1 < args.size()) {
      const std::string& n = args[++i];
      if (n.empty() || n.size() > 5 || n.find_first_not_of("0123456789") != std::string::npos)
        return qnfax::fail("decode: bad page number '" + n + "'", 2);
      only = static_cast<unsigned>(std::stoul(n));
      if (only == 0) return qnfax::fail("decode: " + fe::FormatError(-fe::ecFaxBadFormat));
    } else if (in.empty() && a.rfind("-", 0) != 0) {
      in = a;
    } else {
      return qnfax::fail("decode: unexpected argument '" + a + "' (usage: qnfax " + kUsage + ")", 2);
    }
  }
  if (in.empty() || out.empty()) return qnfax::fail(std::string("decode: usage: qnfax ") + kUsage, 2);

  fe::TApfReader reader;
  if (int rc = reader.Open(in); rc < 0) return qnfax::fail(in + ": " + fe::FormatError(rc));
  std::vector<fe::TApfPageInfo> pages;
  if (only) {
    fe::TApfPageInfo p;
    if (int rc = reader.LocatePage(only, &p); rc < 0) return qnfax::fail(in + ": " + fe::FormatError(rc));
    pages.push_back(p);
  } else if (int rc = reader.ScanPages(&pages); rc < 0) {
    return qnfax::fail(in + ": " + fe::FormatError(rc));
  }

  std::string pbm;
  std::vector<std::uint8_t> data;
  for (const auto& p : pages) {
    if (int rc = reader.ReadPageData(p, &data); rc < 0) return qnfax::fail(in + ": " + fe::FormatError(rc));
    fe::TRasterImage img;
    img.width = p.widthPixels();
    fe::TMhDecodeStats st = fe::MhDecodePage(data.data(), data.size(), p.lineRecords(), p.widthPixels(),
                                             [&](const std::uint8_t* line, unsigned n) {
                                               img.bits.insert(img.bits.end(), line, line + n);
                                               ++img.height;
                                               return true;
                                             });
    if (!st.clean() || p.truncated)
      std::fprintf(stderr, "qnfax: %s: page %u is damaged; %u lines decoded\n", in.c_str(), p.number, st.lines);
    if (img.height == 0) {  // PBM has no empty images: a page without lines is one white line
      img.height = 1;
      img.bits.assign(img.stride(), 0);
    }
    pbm += fe::EncodePbm(img);
  }
  std::ofstream f(out, std::ios::binary | std::ios::trunc);
  f.write(pbm.data(), static_cast<std::streamsize>(pbm.size()));
  f.close();
  if (!f) return qnfax::fail(out + ": " + fe::FormatError(-fe::ecDeviceWriteError));
  std::printf("%s: %zu page%s\n", out.c_str(), pages.size(), pages.size() == 1 ? "" : "s");
  return 0;
}

}  // namespace

QNFAX_COMMAND(decode, kUsage, "decode the pages of an APF fax file to PBM images", RunDecode);
