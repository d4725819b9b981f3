// The cover objects' editing dialogs: the "Text" dialog of a text object and
// the "Runeboard" of a symbol (a character table in the symbol's font).
//
// Conventions callers rely on: both are ordinary modal dialogs (exec()); the
// caller reads the result after Accepted and nothing changes on Cancel. "Help"
// opens the dialog's help topic without closing it.
#pragma once

#include <QDialog>
#include <QFont>

class QLineEdit;
class QTableWidget;
class QLabel;
class QPushButton;

namespace covers {

class TCoverTextDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TCoverTextDialog(const QString& text, QWidget* parent = nullptr);
  QString Text() const;
  QLineEdit* Edit() const { return edit_; }

 private:
  QLineEdit* edit_;
};

class TRuneboardDialog : public QDialog {
  Q_OBJECT
 public:
  // font: the symbol's font (a stored name and size in points); character: its code.
  TRuneboardDialog(const QFont& font, int character, QWidget* parent = nullptr);
  // The chosen character's code (32-255) and the dialog's font.
  int Character() const;
  QFont ChosenFont() const { return font_; }
  void SetChosenFont(const QFont& f);
  void SetCharacter(int code);
  QTableWidget* Table() const { return table_; }
  QPushButton* FontButton() const { return fontButton_; }

  // Columns of the table for a font size in points.
  static int ColumnsForSize(int points);
  // The font button's text: name, ", ", size, "pt " and "Bold " or "Italic ".
  static QString FontButtonText(const QFont& f);

 private:
  void Fill();
  void ShowSample();

  QFont font_;
  QTableWidget* table_;
  QLabel* sample_;
  QPushButton* fontButton_;
  int character_;
};

}  // namespace covers
