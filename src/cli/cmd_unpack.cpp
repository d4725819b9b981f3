// qnfax unpack: APF fax pages into BMP, PCX or DCX images, or a whole fax as PDF or TIFF.
#include <cstdio>
#include <cstdlib>

#include "command.h"
#include "fe_exceptions.h"
#include "fe_fax_unpacker.h"

namespace {

const char kUsage[] =
    "usage: qnfax unpack IN.APF -o OUT.(bmp|pcx|dcx|pdf|tif) [--page N]\n"
    "  --page N                 page to write (bmp, pcx: 1; dcx, pdf, tif: every page)\n"
    "  --aspect MODE            none, double-height (default; none for pdf and tif,\n"
    "                           which keep each page's resolution) or half-width:\n"
    "                           how standard-resolution pages are corrected\n"
    "  --whitespace FROM,TO     runs of at least FROM blank lines become TO lines\n"
    "  --scale HM/HD,VM/VD      scale width by HM/HD and height by VM/VD\n";

bool ParseNumber(const std::string& s, std::size_t& at, char stop, unsigned& out) {
  const std::size_t end = stop ? s.find(stop, at) : s.size();
  if (end == std::string::npos || end == at) return false;
  const std::string part = s.substr(at, end - at);
  char* tail = nullptr;
  const unsigned long v = std::strtoul(part.c_str(), &tail, 10);
  if (*tail || v > 100000) return false;
  out = unsigned(v);
  at = end + 1;
  return true;
}

int RunUnpack(const std::vector<std::string>& args) {
  fe::TFeFaxUnpacker unpacker;
  unpacker.Options = 0;
  unsigned page = 0;
  bool aspectGiven = false;
  std::vector<std::string> inputs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    std::size_t at = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-o" || a == "--output") {
      if (!hasValue) return qnfax::fail("-o needs a file name");
      unpacker.OutFileName = args[++i];
    } else if (a == "--page") {
      if (!hasValue || !ParseNumber(args[++i], at, 0, page) || page == 0) return qnfax::fail("--page needs N >= 1");
    } else if (a == "--aspect") {
      const std::string v = hasValue ? args[++i] : "";
      aspectGiven = true;
      if (v == "none")
        unpacker.AutoScaleMode = fe::asNone;
      else if (v == "double-height")
        unpacker.AutoScaleMode = fe::asDoubleHeight;
      else if (v == "half-width")
        unpacker.AutoScaleMode = fe::asHalfWidth;
      else
        return qnfax::fail("--aspect is none, double-height or half-width");
    } else if (a == "--whitespace") {
      const std::string v = hasValue ? args[++i] : "";
      if (!ParseNumber(v, at, ',', unpacker.WhitespaceFrom) || !ParseNumber(v, at, 0, unpacker.WhitespaceTo))
        return qnfax::fail("--whitespace needs FROM,TO");
      unpacker.WhitespaceCompression = true;
    } else if (a == "--scale") {
      const std::string v = hasValue ? args[++i] : "";
      if (!ParseNumber(v, at, '/', unpacker.HorizMult) || !ParseNumber(v, at, ',', unpacker.HorizDiv) ||
          !ParseNumber(v, at, '/', unpacker.VertMult) || !ParseNumber(v, at, 0, unpacker.VertDiv))
        return qnfax::fail("--scale needs HM/HD,VM/VD");
      unpacker.Scaling = true;
    } else if (!a.empty() && a[0] == '-') {
      return qnfax::fail("unknown option " + a + "\n" + kUsage, 2);
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.size() != 1 || unpacker.OutFileName.empty()) return qnfax::fail(kUsage, 2);
  unpacker.InFileName = inputs[0];
  std::string ext = unpacker.OutFileName.substr(unpacker.OutFileName.find_last_of('.') + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  try {
    const unsigned pages = unpacker.NumPages();
    if (ext == "pdf" || ext == "tif" || ext == "tiff") {
      if (page) return qnfax::fail("--page does not apply to " + ext + ", which holds every page");
      if (!aspectGiven) unpacker.AutoScaleMode = fe::asNone;
      if (ext == "pdf")
        unpacker.UnpackFileToPdf();
      else
        unpacker.UnpackFileToTiff();
    } else if (ext == "dcx") {
      if (page) return qnfax::fail("--page does not apply to dcx, which holds every page");
      unpacker.UnpackFileToDcx();
    } else if (ext == "bmp" || ext == "pcx") {
      if (ext == "bmp")
        unpacker.UnpackPageToBmp(page ? page : 1);
      else
        unpacker.UnpackPageToPcx(page ? page : 1);
      if (!page && pages > 1)
        std::fprintf(stderr, "qnfax: page 1 of %u written; --page N picks another, .dcx takes them all\n", pages);
    } else {
      return qnfax::fail("the output must end in .bmp, .pcx, .dcx, .pdf or .tif");
    }
  } catch (const fe::EFeException& e) {
    return qnfax::fail(std::to_string(-e.ErrorCode()) + " " + e.what());
  }
  return 0;
}

}  // namespace

QNFAX_COMMAND(unpack, "unpack IN.APF -o OUT.(bmp|pcx|dcx|pdf|tif) [--page N]",
              "write fax pages as BMP, PCX, multi-page DCX, PDF or G4 TIFF", RunUnpack);
