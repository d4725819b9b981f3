#include "view_command.h"

#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>

#include "common/dialogs.h"
#include "common/fax_files.h"
#include "common/folders.h"
#include "fax_viewer_window.h"
#include "records/ui/fax_actions.h"
#include "records/ui/record_grid.h"

namespace qn {

ChosenFaxFile::ChosenFaxFile(ChosenFaxFile&& other) noexcept
    : path_(std::move(other.path_)), temporary_(other.temporary_) {
  other.path_.clear();
  other.temporary_ = false;
}

ChosenFaxFile& ChosenFaxFile::operator=(ChosenFaxFile&& other) noexcept {
  if (this != &other) {
    if (temporary_ && !path_.empty()) DeleteFileCI(path_);
    path_ = std::move(other.path_);
    temporary_ = other.temporary_;
    other.path_.clear();
    other.temporary_ = false;
  }
  return *this;
}

ChosenFaxFile::~ChosenFaxFile() {
  if (temporary_ && !path_.empty()) DeleteFileCI(path_);
}

namespace {
bool HasRecord(const xb::Table& table) {
  return table.isOpen() && table.recNo() != table.recCount() + 1;
}

// folder + the file a field names, when the field is filled and the file exists.
std::string ExistingFile(const std::string& folder, const std::string& name) {
  if (name.empty()) return {};
  const std::string path = ResolvePath(folder + name);
  return FileExists(path) ? path : std::string();
}
}  // namespace

ChosenFaxFile ChooseFaxFile(const xb::Table& table, bool outgoing) {
  if (!HasRecord(table)) return {};
  if (!outgoing) return {ExistingFile(ProgramFolder() + "RECEIVE/", table.getTrimString("FAXFILE")), false};
  const std::string cover = ExistingFile(SendFolder(), table.getTrimString("FAXCOVER"));
  const std::string body = ExistingFile(SendFolder(), table.getTrimString("FAXDOC"));
  if (!cover.empty() && !body.empty()) {
    std::string joined = NewTempFileName("Temp");
    AppendFaxFile(joined, cover, body);  // a failure shows when the file is opened
    return {joined, true};
  }
  return {body.empty() ? cover : body, false};
}

QString FaxHeadingText(const xb::Table& table, bool outgoing) {
  const QString when = GetDatetimeAsString(table, outgoing);
  const QString gap(13, QLatin1Char(' '));
  if (outgoing)
    return QStringLiteral("To: ") + FromField(table.getTrimString("RECIPIENT")) + gap + QStringLiteral("Sent: ") + when;
  return QStringLiteral("From: ") + FromField(table.getTrimString("FROM")).trimmed() + gap +
         QStringLiteral("Received: ") + when;
}

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
    viewer.exec();
  }
  file = ChosenFaxFile();  // the joined temporary file goes now
  main->statusBar()->clearMessage();
}

}  // namespace qn
