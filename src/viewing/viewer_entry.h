// The Fax Viewer as a program of its own: what quillon-viewer (the program a file
// manager starts for a fax file) calls once its QApplication exists.
//
// Conventions: the file is shown as given (never copied, changed or deleted); a
// file that does not exist or is no fax file gets the viewer's own error message
// and an empty window, never a crash. Runs on the interface thread and returns
// when the user closes the window.
#pragma once

#include <QString>

namespace qn {

// Shows `file` in the Fax Viewer window, modal, with the file's name as heading,
// and returns the program's exit status once the window is closed (0).
int RunFaxViewerOnFile(const QString& file);

}  // namespace qn
