// qnfax convert: text, image and document (PDF, PostScript) files into APF fax files.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "command.h"
#include "fe_exceptions.h"
#include "fe_fax_converter.h"

namespace {

const char kUsage[] =
    "usage: qnfax convert IN -o OUT.APF [--type text|textex|tiff|pcx|dcx|bmp|pdf|ps]\n"
    "  --fine                 high resolution (about 196 lines per inch)\n"
    "  --wide                 2048-pixel lines instead of 1728\n"
    "  --small-font           the 12x8 built-in font instead of 20x16 (text)\n"
    "  --font FAMILY[,SIZE]   screen font for --type textex (size in points)\n"
    "  --lines-per-page N     text lines per page, 0 = no limit (60)\n"
    "  --tab N                tab stop interval in characters (4)\n"
    "  --left-margin PIXELS   white pixels at the left of every line (50;\n"
    "                         PDF and PostScript pages keep their own margins)\n"
    "  --top-margin LINES     blank lines at the top of every page (0)\n"
    "  --station ID           station identifier stored in the file\n"
    "  --options LIST         comma list of double-width, half-height, center,\n"
    "                         or none (double-width,center)\n"
    "PDF and PostScript are converted in a separate process with limits:\n"
    "  --time-limit SECONDS   longest time for the whole document (120)\n"
    "  --memory-limit MB      memory the conversion may use (1024)\n"
    "  --max-pages N          refuse documents with more pages, 0 = no limit (1000)\n";

bool ExtensionType(const std::string& name, fe::TFaxInputDocumentType& type) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "txt" || ext == "text")
    type = fe::idText;
  else if (ext == "tif" || ext == "tiff")
    type = fe::idTiff;
  else if (ext == "pcx")
    type = fe::idPcx;
  else if (ext == "dcx")
    type = fe::idDcx;
  else if (ext == "bmp")
    type = fe::idBmp;
  else if (ext == "pdf")
    type = fe::idPdf;
  else if (ext == "ps" || ext == "eps")
    type = fe::idPostScript;
  else
    return false;
  return true;
}

bool TypeName(const std::string& s, fe::TFaxInputDocumentType& type) {
  static const struct {
    const char* name;
    fe::TFaxInputDocumentType type;
  } kTypes[] = {{"text", fe::idText}, {"textex", fe::idTextEx}, {"tiff", fe::idTiff}, {"pcx", fe::idPcx},
                {"dcx", fe::idDcx},   {"bmp", fe::idBmp},       {"pdf", fe::idPdf},   {"ps", fe::idPostScript}};
  for (const auto& t : kTypes)
    if (s == t.name) {
      type = t.type;
      return true;
    }
  return false;
}

bool ParseUnsigned(const std::string& s, unsigned& out) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(s.c_str(), &end, 10);
  if (s.empty() || *end || v > 1000000) return false;
  out = unsigned(v);
  return true;
}

bool ParseOptions(const std::string& list, unsigned& options) {
  options = 0;
  if (list == "none") return true;
  std::size_t from = 0;
  while (from <= list.size()) {
    const std::size_t comma = std::min(list.find(',', from), list.size());
    const std::string word = list.substr(from, comma - from);
    if (word == "double-width")
      options |= fe::coDoubleWidth;
    else if (word == "half-height")
      options |= fe::coHalfHeight;
    else if (word == "center")
      options |= fe::coCenterImage;
    else
      return false;
    from = comma + 1;
  }
  return true;
}

int RunConvert(const std::vector<std::string>& args) {
  fe::TFeFaxConverter cvt;
  cvt.Options = fe::coDoubleWidth | fe::coCenterImage;  // no event loop to serve here
  bool typeGiven = false;
  std::string font;
  std::vector<std::string> inputs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    auto number = [&](unsigned& out) {
      std::string v;
      return value(v) && ParseUnsigned(v, out);
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-o" || a == "--output") {
      if (!value(cvt.OutFileName)) return qnfax::fail("-o needs a file name");
    } else if (a == "--type") {
      if (!value(v) || !TypeName(v, cvt.InputDocumentType)) return qnfax::fail("unknown --type; see --help");
      typeGiven = true;
    } else if (a == "--fine") {
      cvt.Resolution = fe::frHigh;
    } else if (a == "--wide") {
      cvt.Width = fe::fwWide;
    } else if (a == "--small-font") {
      cvt.FontType = fe::ffSmall;
    } else if (a == "--font") {
      if (!value(font)) return qnfax::fail("--font needs FAMILY[,SIZE]");
    } else if (a == "--lines-per-page") {
      if (!number(cvt.LinesPerPage)) return qnfax::fail("--lines-per-page needs a number");
    } else if (a == "--tab") {
      if (!number(cvt.TabStop)) return qnfax::fail("--tab needs a number");
    } else if (a == "--left-margin") {
      if (!number(cvt.LeftMargin)) return qnfax::fail("--left-margin needs a number");
    } else if (a == "--top-margin") {
      if (!number(cvt.TopMargin)) return qnfax::fail("--top-margin needs a number");
    } else if (a == "--station") {
      if (!value(cvt.StationID)) return qnfax::fail("--station needs an identifier");
    } else if (a == "--time-limit") {
      if (!number(cvt.DocLimits.seconds) || cvt.DocLimits.seconds == 0)
        return qnfax::fail("--time-limit needs a number of seconds");
    } else if (a == "--memory-limit") {
      unsigned mb = 0;
      if (!number(mb) || mb < 16) return qnfax::fail("--memory-limit needs a number of megabytes (16 or more)");
      cvt.DocLimits.memoryBytes = std::uint64_t(mb) << 20;
    } else if (a == "--max-pages") {
      if (!number(cvt.DocLimits.maxPages)) return qnfax::fail("--max-pages needs a number");
    } else if (a == "--options") {
      if (!value(v) || !ParseOptions(v, cvt.Options)) return qnfax::fail("bad --options; see --help");
    } else if (!a.empty() && a[0] == '-') {
      return qnfax::fail("unknown option " + a + "\n" + kUsage, 2);
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.size() != 1 || cvt.OutFileName.empty()) return qnfax::fail(kUsage, 2);
  cvt.DocumentFile = inputs[0];
  if (!typeGiven && !ExtensionType(cvt.DocumentFile, cvt.InputDocumentType)) cvt.InputDocumentType = fe::idText;

  // Screen fonts need a GUI application; no display is needed for that.
  std::unique_ptr<QGuiApplication> app;
  if (cvt.InputDocumentType == fe::idTextEx) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "qnfax";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QGuiApplication>(argc, argv);
    if (!font.empty()) {
      const std::size_t comma = font.find(',');
      cvt.EnhFont = QFont(QString::fromStdString(font.substr(0, comma)));
      unsigned size = 0;
      if (comma != std::string::npos && ParseUnsigned(font.substr(comma + 1), size) && size > 0)
        cvt.EnhFont.setPointSize(int(size));
    }
  }
  try {
    cvt.ConvertToFile();
  } catch (const fe::EFeException& e) {
    return qnfax::fail(std::to_string(-e.ErrorCode()) + " " + e.what());
  }
  std::printf("%s\n", cvt.OutputFileName().c_str());
  return 0;
}

}  // namespace

QNFAX_COMMAND(convert, "convert IN -o OUT.APF [--type text|textex|tiff|pcx|dcx|bmp|pdf|ps]",
              "convert a text, image, PDF or PostScript file into an APF fax file", RunConvert);
