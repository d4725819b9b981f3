// quillon-viewer FILE: shows one fax file in the Fax Viewer window. The desktop
// entry for fax files starts it, so that a double click in the file manager opens
// the fax; the main program itself takes no file arguments.
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>

#include "viewing/viewer_entry.h"
#include "viewing/viewer_printing.h"

namespace {

// What `quillon-viewer --help` prints; the manual page is made from this text too.
constexpr char kUsage[] =
    "usage: quillon-viewer FILE.APF\n"
    "\n"
    "Shows a Quillon fax file in the Fax Viewer window, page by page, to zoom,\n"
    "turn, print or export as BMP, PCX or DCX. A file that cannot be read is reported\n"
    "in a message and the window stays empty.\n"
    "\n"
    "options:\n"
    "  --help, -h     show this text and exit\n"
    "  --version      show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("quillon-viewer (Quillon) %s\n", QN_VERSION);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillon"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quillon Fax Viewer"));
  const QStringList files = QApplication::arguments().mid(1);  // Qt's own options are gone
  if (files.size() != 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  qn::InstallViewerPrinting();
  return qn::RunFaxViewerOnFile(files.front());
}
