// Pictures of the Fax Viewer's buttons, drawn at run time so that they look the
// same on every desktop, whatever icon theme it has.
#pragma once

#include <QIcon>

namespace qn {

enum class ViewerIcon { First, Previous, Next, Last, ZoomIn, ZoomOut, PrinterSetup, Print, PrintPage };

QIcon MakeViewerIcon(ViewerIcon kind);

}  // namespace qn
