#include "view_command.h"

#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

#include "common/dialogs.h"
#include "common/fax_files.h"
#include "common/folders.h"
#include "fax_viewer_window.h"
#include "records/ui/fax_actions.h"
#include "records/ui/record_grid.h"

namespace qn {

void ViewFaxCommand(QMainWindow* main, const xb::Table& table, bool outgoing) {
  if (!main || !main->isVisible()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  main->statusBar()->showMessage(QStringLiteral("Preparing files for viewing..."));
  ChosenFaxFile file = ChooseFaxFile(table, outgoing);
  if (file.empty()) {
    QApplication::restoreOverrideCursor();
    main->statusBar()->clearMessage();
    MessageBoxText(QStringLiteral("Error - fax file missing"), QStringLiteral("Information"), mbOk | mbIconInformation);
    return;
  }
  main->statusBar()->showMessage(QStringLiteral("Loading viewer..."));
  {
    TFaxViewer viewer(main);
    viewer.SetFile(QString::fromStdString(file.path()), QStringLiteral("Fax printout"),
                   FaxHeadingText(table, outgoing));
    QApplication::restoreOverrideCursor();
    // "Loading viewer..." is over once the viewer is up.
    QTimer::singleShot(0, main->statusBar(), &QStatusBar::clearMessage);
    viewer.exec();
  }
  file = ChosenFaxFile();  // the joined temporary file goes now
  main->statusBar()->clearMessage();
}

}  // namespace qn
