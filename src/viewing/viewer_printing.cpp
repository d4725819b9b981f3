#include "viewer_printing.h"

#include "fax_printer.h"
#include "fax_printing.h"
#include "fax_viewer_window.h"
#include "fe_fax_viewer.h"
#include "viewer_seam.h"

namespace qn {

namespace {
// The viewer window's own printer, made on first use.
fe::TFeFaxPrinter& ViewerPrinter(TFaxViewer& viewer) {
  auto* printer = viewer.findChild<fe::TFeFaxPrinter*>(QStringLiteral("feFaxPrinter1"), Qt::FindDirectChildrenOnly);
  return printer ? *printer : *MakeViewerFaxPrinter(&viewer);
}

void PrintFromViewerWindow(TFaxViewer& v, bool currentPageOnly) {
  fe::TFeFaxPrinter& printer = ViewerPrinter(v);
  printer.Rotation = v.FaxViewer->Rotation();  // the pages print as they show
  PrintFromViewer(&v, printer, v.FileName().toStdString(), v.HeadingText(), currentPageOnly, v.CurrentPage(),
                  v.RangeInitialised);
}
}  // namespace

void InstallViewerPrinting() {
  ViewerPrinting().Print = [](TFaxViewer& v) { PrintFromViewerWindow(v, false); };
  ViewerPrinting().PrintCurrentPage = [](TFaxViewer& v) { PrintFromViewerWindow(v, true); };
  ViewerPrinting().PrinterSetup = [](TFaxViewer& v) {
    PrinterSetupFromViewer(&v, ViewerPrinter(v), v.FileName().toStdString(), v.RangeInitialised);
  };
}

}  // namespace qn
