// The configuration report: the computer, its serial devices and modems, every
// fax setting, the running programs and the last send and receive session logs,
// as plain-text lines; and the window that shows, copies and saves them.
//
// Conventions callers rely on:
//  - A section title stands alone in square brackets, settings groups are words
//    in braces, label and value are separated by a tab, booleans are "Yes"/"No".
//  - Building the report never fails: a probe that cannot be read leaves its
//    line out or its value empty.
#pragma once

#include <QDialog>
#include <QStringList>

#include "sessions/modem/system_facts.h"
#include "sessions/settings.h"

class QPlainTextEdit;
class QPushButton;

namespace qn {

// The screen and locale facts of the [Environment] section (from Qt).
struct DisplayFacts {
  int width = 0, height = 0, depth = 0, logicalDpi = 96;
};
DisplayFacts CurrentDisplay();

// Lines of each part of the report.
QStringList EnvironmentLines(const SystemFacts& facts, const DisplayFacts& display);
QStringList ModemLines(const SystemFacts& facts);
QStringList SettingsLines(const FaxSettings& s);  // from "[<settings file>]" to the program path
QStringList RunningProgramLines(const SystemFacts& facts);
QStringList LastSessionLines();
// The whole report.
QStringList ConfigurationReport(const FaxSettings& s, const SystemFacts& facts, const DisplayFacts& display);

// "65,536" in the locale's way of grouping thousands.
QString GroupedNumber(unsigned long long n);

class TConfigurationInfo : public QDialog {
  Q_OBJECT
 public:
  explicit TConfigurationInfo(const QStringList& lines, QWidget* parent = nullptr);

  // Writes the report to `path` (as "Save As..." does after its dialog).
  bool SaveTo(const QString& path);

  QPlainTextEdit* Memo = nullptr;
  QPushButton* CopyButton = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* SaveButton = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void CopyButtonClick();
  void SaveButtonClick();

  QStringList lines_;  // the report as built, for copying and saving
};

// The main window's "Configuration Information" command.
void ShowConfigurationInformation(QWidget* parent);

}  // namespace qn
