// quillon-view FILE [PREFIX]: shows one APF fax file in the Fax Viewer window.
#include <QApplication>
#include <cstdio>

#include "viewing/fax_viewer_window.h"
#include "viewing/viewer_printing.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: quillon-view FILE [STATUS-PREFIX]\n");
    return 2;
  }
  qn::InstallViewerPrinting();
  qn::TFaxViewer viewer;
  viewer.SetFile(QString::fromLocal8Bit(argv[1]), argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString(), QString());
  viewer.exec();
  return 0;
}
