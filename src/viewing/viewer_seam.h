// What the Fax Viewer's printing buttons do. The printing side fills these
// entries when it is linked in (as the main window's hooks are filled); while an
// entry is empty its button stays disabled.
//
// Each entry gets the viewer window, which offers what printing needs: the file
// shown (`FileName`), `PageCount`, `CurrentPage`, `HeadingText`, `StatusPrefix`
// and the flag `RangeInitialised` (false until the first print or printer setup
// has set the printer's range to 1 .. page count).
#pragma once

#include <functional>

namespace qn {

class TFaxViewer;

struct ViewerPrintingHooks {
  std::function<void(TFaxViewer&)> PrinterSetup;      // "Printer setup"
  std::function<void(TFaxViewer&)> Print;             // "Print"
  std::function<void(TFaxViewer&)> PrintCurrentPage;  // "Print current page"
};

ViewerPrintingHooks& ViewerPrinting();

}  // namespace qn
