#include "change_guard.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBrowser>
#include <QTextEdit>
#include <QWidget>

#include "common/dialogs.h"

namespace qn {

QStringList FieldState(const QWidget* window) {
  QStringList out;
  if (!window) return out;
  for (const QWidget* w : window->findChildren<QWidget*>()) {
    if (w->window() != window) continue;  // a window of its own opened from this one
    if (auto* e = qobject_cast<const QLineEdit*>(w)) {
      // The line edit inside a combo box is counted with the box.
      if (!e->isReadOnly() && !qobject_cast<const QComboBox*>(e->parentWidget())) out << e->text();
    } else if (auto* p = qobject_cast<const QPlainTextEdit*>(w)) {
      if (!p->isReadOnly()) out << p->toPlainText();
    } else if (auto* t = qobject_cast<const QTextEdit*>(w)) {
      if (!t->isReadOnly() && !qobject_cast<const QTextBrowser*>(w)) out << t->toPlainText();
    } else if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
      if (b->isCheckable()) out << QString::number(b->isChecked());
    } else if (auto* c = qobject_cast<const QComboBox*>(w)) {
      out << QString::number(c->currentIndex()) + QLatin1Char(':') + c->currentText();
    } else if (auto* s = qobject_cast<const QAbstractSpinBox*>(w)) {
      out << s->text();
    }
  }
  return out;
}

bool AskDiscardChanges(const QString& caption) {
  return AskYesNoDefaultNo(QStringLiteral("Discard your changes?"), caption);
}

QStringList TChangeGuard::State() const {
  QStringList state = FieldState(window_);
  if (extra_) state << extra_();
  return state;
}

void TChangeGuard::Take() {
  taken_ = State();
  haveTaken_ = true;
}

bool TChangeGuard::Changed() const { return haveTaken_ && State() != taken_; }

bool TChangeGuard::MayClose() const {
  if (!Changed()) return true;
  return AskDiscardChanges(window_ ? window_->windowTitle() : QString());
}

}  // namespace qn
