// Keeps typing from being lost: a dialog takes the state of its input fields
// when it opens, and asks "Discard your changes?" before it closes by Escape,
// Cancel or its close button with something changed. Closing unchanged stays
// silent.
//
//   void TMyDialog::showEvent(QShowEvent* e) { QDialog::showEvent(e); guard_.Take(); }
//   void TMyDialog::reject() { if (guard_.MayClose()) QDialog::reject(); }
//
// QDialog sends Escape and its close button through reject(), so overriding it
// covers all three ways out.
#pragma once

#include <QPointer>
#include <QStringList>
#include <functional>

class QWidget;

namespace qn {

// What the window's own input fields hold: line and text edits, check boxes
// and radio buttons, lists to choose from, spin boxes (fields of windows opened
// from it are not counted).
QStringList FieldState(const QWidget* window);

// Asks "Discard your changes?" (No is the default); true to close without them.
bool AskDiscardChanges(const QString& caption);

class TChangeGuard {
 public:
  explicit TChangeGuard(QWidget* window) : window_(window) {}
  // Values the fields do not show (a chosen template's name) that count as input.
  void SetExtra(std::function<QStringList()> extra) { extra_ = std::move(extra); }
  // The state now counts as unchanged.
  void Take();
  bool Changed() const;
  // True when the window may close: nothing changed, or the user chose to discard.
  bool MayClose() const;

 private:
  QStringList State() const;
  QPointer<QWidget> window_;
  std::function<QStringList()> extra_;
  QStringList taken_;
  bool haveTaken_ = false;
};

}  // namespace qn
