// qnfax encode: PBM images become the pages of an APF fax file.
#include <cstdio>
#include <string>

#include "apf_writer.h"
#include "command.h"
#include "fe_texts.h"
#include "raster_pbm.h"

namespace {

constexpr const char* kUsage = "encode IN.pbm -o OUT.APF [--fine] [--wide] [--station-id ID]";

int RunEncode(const std::vector<std::string>& args) {
  std::string in, out, station;
  std::uint16_t flags = fe::pfLineRecords;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::printf("usage: qnfax %s\n", kUsage);
      return 0;
    } else if (a == "--fine") {
      flags |= fe::pfHighRes;
    } else if (a == "--wide") {
      flags |= fe::pfWide;
    } else if ((a == "-o" || a == "--station-id") && i + 1 < args.size()) {
      (a == "-o" ? out : station) = args[++i];
    } else if (in.empty() && a.rfind("-", 0) != 0) {
      in = a;
    } else {
      return qnfax::fail("encode: unexpected argument '" + a + "' (usage: qnfax " + kUsage + ")", 2);
    }
  }
  if (in.empty() || out.empty()) return qnfax::fail(std::string("encode: usage: qnfax ") + kUsage, 2);

  std::vector<fe::TRasterImage> images;
  if (int rc = fe::ReadPbmFile(in, &images); rc < 0) return qnfax::fail(in + ": " + fe::FormatError(rc));
  fe::TApfWriter w;
  int rc = w.Create(out);
  if (rc == 0) w.SetStationId(station);
  for (std::size_t p = 0; p < images.size() && rc == 0; ++p) {
    rc = w.BeginPage(flags);
    for (unsigned y = 0; y < images[p].height && rc == 0; ++y)
      rc = w.AppendRasterLine(images[p].row(y), images[p].width);  // cut or padded with white
    if (rc == 0) rc = w.EndPage();
  }
  if (rc == 0) rc = w.Close();
  if (rc < 0) return qnfax::fail(out + ": " + fe::FormatError(rc));
  std::printf("%s: %zu page%s\n", out.c_str(), images.size(), images.size() == 1 ? "" : "s");
  return 0;
}

}  // namespace

QNFAX_COMMAND(encode, kUsage, "turn the images of a PBM file into the pages of an APF fax file", RunEncode);
