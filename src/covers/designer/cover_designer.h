// The Cover Sheet Template Designer window (TCoverDesMainScreen): one cover
// design panel in a scroll box, the drawing tools, grid and zoom controls, the
// File menu with the recent templates and the default font, and the dialogs to
// open, preview, save as and delete templates.
//
// Conventions callers rely on:
//  - Shown modally by RunCoverDesigner; everything it keeps between runs is in
//    the settings file: the default font (section "CD Default Font"), the recent
//    files ("CDMRU") and the window's placement.
//  - A drawing is never dropped without a question: leaving the window, "&New",
//    "&Open" and a recent file ask "Save changes?" while there are unsaved
//    changes, and a cancelled save-as keeps the window open with the drawing.
//  - A template that cannot be read completely is shown with what could be read
//    and is not taken as the current file, so a later save cannot overwrite it
//    with less than it holds.
#pragma once

#include <QDialog>
#include <QHash>
#include <QPair>
#include <QRect>
#include <QString>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollArea;
class QToolButton;
class QButtonGroup;

namespace design {
class TGGraphicControl;
}

namespace covers {

class TFaxCoverPanel;
class TMRUFileList;
class TCoverClipboard;

class TCoverDesMainScreen : public QDialog {
  Q_OBJECT
 public:
  explicit TCoverDesMainScreen(QWidget* parent = nullptr);
  ~TCoverDesMainScreen() override;

  // Toolbar.
  QWidget* Panel2;
  QToolButton *Pointerbutton, *DrawLabelButton, *DrawSymbolButton, *DrawRectanglebutton, *DrawEllipseButton,
      *DrawRoundrectbutton, *DrawLinebutton, *FieldBoxButton, *DrawMessageButton, *DrawImportanceButton;
  QWidget* ZoomSpinner;
  QToolButton *ZoomUpButton, *ZoomDownButton, *ShowGrid, *SnapToGrid;
  QLabel* ZoomCaption;
  // Page.
  QScrollArea* ScrollBox;
  TFaxCoverPanel* LabelPanel;
  // Button bar.
  QPushButton *CancelButton, *SaveButton, *HelpButton, *CloseButton, *Assistbutton;
  // Menu.
  QMenuBar* MainMenu;
  QMenu* FileMenu;
  QAction *New1, *Open1, *Delete1, *Save1, *SaveAs1, *PreviewTemplates1, *DefaultFont1, *Exit1;
  TMRUFileList* MRU;
  TCoverClipboard* Clipboard;

  QString CurrentFile() const { return currentFile_; }
  QString CurrentDescription() const { return currentDescription_; }
  bool ChangesMade() const { return changesMade_; }
  int ZoomPercent() const { return zoomPercent_; }

  // Opens a ".FCS" (full path) onto the cleared panel.
  void OpenLabelFile(const QString& path);
  // Saves the panel as the template's four files; false (after telling why) on failure.
  bool SaveLabelFile(const QString& path, const QString& description);

  void NewClick();
  void OpenClick();
  void DeleteClick();
  void SaveClick();
  // The save-as dialog; true when the template was saved.
  bool SaveAsClick();
  void PreviewClick();
  void DefaultFontClick();
  void CancelClick();
  void ZoomIn();
  void ZoomOut();
  void RecentFileClick(const QString& path);

  // "Default Font: Arial, 10 pt" with ", bold" / ", italic".
  QString DefaultFontCaption() const;
  // Asks "Save changes?" when there are unsaved changes; false when the drawing
  // would be lost (a cancelled or failed save).
  bool AskSaveChanges();

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  QToolButton* ToolButton(const QString& text, const QString& hint, int state);
  void ReadDefaultFont();
  void SaveDefaultFont() const;
  void SetChanged(bool on);
  void Refresh();
  void SetZoomPercent(int percent);
  void ShowError(const QString& text) const;

  QButtonGroup* tools_;
  QString currentFile_, currentDescription_;
  bool changesMade_ = false;
  bool loading_ = true;
  bool activated_ = false;
  int zoomPercent_ = 100;
  // Per object: the bounds the last zoom gave it and its bounds at 100 %.
  QHash<design::TGGraphicControl*, QPair<QRect, QRect>> designBounds_;
};

// Opens the designer modally over the parent.
void RunCoverDesigner(QWidget* parent);

}  // namespace covers
