// The designer's lists and dialogs: the recent-files list (TMRUFileList), the
// save-as dialog (TSaveTemplateAs) and the template chooser (TPreviewCovers).
//
// Conventions callers rely on:
//  - Paths are full paths; template file names compare without letter case.
//  - The recent files live in section "CDMRU" of the settings file (F0 the most
//    recent); Save() rewrites the whole section.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QObject>
#include <QStringList>
#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollArea;

namespace covers {

class TMRUFileList : public QObject {
  Q_OBJECT
 public:
  explicit TMRUFileList(int maxEntries = 5, QObject* parent = nullptr);

  const QStringList& Files() const { return files_; }
  // Moves the path to the top (or inserts it there), dropping entries beyond the limit.
  void Add(const QString& path);
  void Remove(const QString& path);
  void Load(const std::string& iniPath);
  bool Save(const std::string& iniPath) const;

  // The menu the entries are listed at the end of (after a separator); rebuilt
  // after every change. A click removes the entry and raises clicked.
  void AttachTo(QMenu* menu);

 signals:
  void clicked(const QString& path);

 private:
  void Rebuild();
  int max_;
  QStringList files_;
  QMenu* menu_ = nullptr;
  QList<QAction*> items_;
};

// Whether a template of that base name is in the folder: its ".FCS" or its
// ".FCT" (a shipped template may have only the latter), any letter case.
bool TemplateExists(const std::string& fcsPath);
// "QN" + the last four digits of the first number from 10001 to 99999 under
// which no template exists (QN0001.FCS, QN0002.FCS, ...), so that a new design
// never takes the name of a template in use.
QString NextTemplateName(const std::string& coversFolder);
// 1 to 12 characters, ".FCS" at the end in any case, and before it a letter or
// underscore followed by letters, digits or underscores.
bool ValidTemplateName(const QString& name);

class TSaveTemplateAs : public QDialog {
  Q_OBJECT
 public:
  explicit TSaveTemplateAs(QWidget* parent = nullptr);
  QLineEdit *TemplateName, *TemplateDescription;
  QListWidget* ExistingTemplates;
  QPushButton *OkButton, *CancelButton, *HelpButton;

 private:
  void CheckOk();
  void ExistingClicked();
};

class TPreviewCovers : public QDialog {
  Q_OBJECT
 public:
  // browseOnly: "Preview Saved Templates" (no Ok; Cancel takes its place).
  TPreviewCovers(const QString& currentFile, bool browseOnly, QWidget* parent = nullptr);
  QListWidget* FileList;
  QLabel *Preview, *Description;
  QScrollArea* PreviewBox;
  QPushButton *OkButton, *HelpButton, *CancelButton;
  // The chosen ".FCS", a full path; empty when none.
  QString Chosen() const { return chosen_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void SelectionChanged();
  void OkClick();
  // The whole page, scaled to fit the preview box with its proportions kept.
  void FitPicture();
  QString current_, chosen_;
  QPixmap picture_;
};

// Line 1 of the ".DES" beside a template file; empty when there is none.
QString ReadTemplateDescription(const QString& anyTemplateFile);

// The files of the Covers folder with the extension (any case), sorted without case.
QStringList CoverFiles(const QString& extension);

}  // namespace covers
