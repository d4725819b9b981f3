// Joins the Fax Viewer's printing buttons to the fax printer: each viewer window
// gets a printer of its own (a child of the window, header "File: $F").
#pragma once

namespace qn {

// Fills ViewerPrinting() (viewer_seam.h); call once at start-up.
void InstallViewerPrinting();

}  // namespace qn
