#include "viewer_entry.h"

#include <QFileInfo>

#include "viewing/fax_viewer_window.h"

namespace qn {

int RunFaxViewerOnFile(const QString& file) {
  TFaxViewer viewer;
  viewer.SetFile(file, QString(), QFileInfo(file).fileName());
  viewer.exec();
  return 0;
}

}  // namespace qn
