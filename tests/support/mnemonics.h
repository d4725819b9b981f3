// Collects the Alt+letter keys of a window as a user meets them: the visible
// buttons, check boxes, radio buttons, labels of fields, group boxes, tabs and
// the menu bar's titles share one set per window; each menu is a set of its own.
// Reports a letter used twice in one set, and a control that has none.
// TextFitCheck: reports a visible caption cut off by its control (buttons, check
// boxes, labels that do not wrap, group titles, tabs and list headers).
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QAbstractItemView>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStringList>
#include <QTabBar>
#include <QWidget>
#include <algorithm>
#include <map>
#include <vector>

namespace qntest {

// The mnemonic letter of a caption ("Cance&l" -> 'l'), lower case; 0 when none
// ("&&" is a plain ampersand).
inline QChar MnemonicOf(const QString& text) {
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) continue;
    if (text[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return text[i + 1].toLower();
  }
  return QChar();
}

class MnemonicCheck {
 public:
  // Checks one window's visible controls (and its menu bar's titles and menus).
  void Window(const QWidget* window, const QString& name) {
    std::map<QChar, QString> used;
    // Radio buttons are reached with the arrow keys inside their group and tool
    // buttons with the mouse, so only a letter they have must not clash.
    auto take = [&](const QString& caption, const QString& kind, bool required = true) {
      const QString shown = QString(caption).remove(QLatin1Char('&'));
      if (std::none_of(shown.begin(), shown.end(), [](QChar c) { return c.isLetterOrNumber(); })) return;
      const QChar m = MnemonicOf(caption);
      if (m.isNull()) {
        if (!required) return;
        problems_ << QStringLiteral("%1: %2 \"%3\" has no mnemonic").arg(name, kind, caption);
        return;
      }
      auto [it, fresh] = used.emplace(m, caption);
      if (!fresh)
        problems_ << QStringLiteral("%1: Alt+%2 is both \"%3\" and \"%4\"").arg(name, QString(m).toUpper(), it->second,
                                                                               caption);
    };
    // A control a label with a letter leads to is reached by that letter.
    std::vector<const QWidget*> labelled;
    for (const QLabel* l : window->findChildren<QLabel*>())
      if (l->buddy() && !MnemonicOf(l->text()).isNull()) labelled.push_back(l->buddy());
    for (const QWidget* w : window->findChildren<QWidget*>()) {
      if (w->window() != window || !w->isVisibleTo(window) || !OnShownPage(w, window)) continue;
      if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
        if (std::find(labelled.begin(), labelled.end(), w) != labelled.end()) continue;
        if (b->inherits("QToolButton") && b->text().isEmpty()) continue;
        if (b->parentWidget() && b->parentWidget()->inherits("QTabBar")) continue;  // a tab's close button
        // A dialog's default button answers Enter and its Cancel answers Escape:
        // a letter is welcome there but not needed.
        auto* push = qobject_cast<const QPushButton*>(b);
        const bool keyed = window->inherits("QDialog") && push &&
                           (push->isDefault() || QString(push->text()).remove(QLatin1Char('&')).trimmed() ==
                                                     QLatin1String("Cancel"));
        take(b->text(), QStringLiteral("button"),
             !keyed && !b->inherits("QRadioButton") && !b->inherits("QToolButton"));
      } else if (auto* l = qobject_cast<const QLabel*>(w)) {
        // A label that names a value shown read-only leads nowhere a key could go.
        auto* shownOnly = qobject_cast<const QLineEdit*>(l->buddy());
        if (l->buddy() && l->buddy()->focusPolicy() != Qt::NoFocus && !l->buddy()->inherits("QLabel") &&
            !(shownOnly && shownOnly->isReadOnly()))
          take(l->text(), QStringLiteral("label"));
      } else if (auto* g = qobject_cast<const QGroupBox*>(w)) {
        if (g->title().contains(QLatin1Char('&'))) take(g->title(), QStringLiteral("group"));
      } else if (auto* t = qobject_cast<const QTabBar*>(w)) {
        for (int i = 0; i < t->count(); ++i)
          if (t->isTabVisible(i)) take(t->tabText(i), QStringLiteral("tab"));
      } else if (auto* bar = qobject_cast<const QMenuBar*>(w)) {
        for (QAction* a : bar->actions()) {
          if (!a->isVisible()) continue;
          take(a->text(), QStringLiteral("menu"));
          if (a->menu()) Menu(a->menu(), name + QStringLiteral(" / ") + QString(a->text()).remove(QLatin1Char('&')));
        }
      }
    }
  }

  // Checks the items of a menu (and its sub-menus) as one set each.
  void Menu(const QMenu* menu, const QString& name) {
    std::map<QChar, QString> used;
    for (QAction* a : menu->actions()) {
      if (a->isSeparator() || !a->isVisible() || a->text().isEmpty()) continue;
      const QChar m = MnemonicOf(a->text());
      if (m.isNull()) {
        problems_ << QStringLiteral("%1: item \"%2\" has no mnemonic").arg(name, a->text());
      } else if (auto [it, fresh] = used.emplace(m, a->text()); !fresh) {
        problems_ << QStringLiteral("%1: %2 is both \"%3\" and \"%4\"").arg(name, QString(m).toUpper(), it->second,
                                                                          a->text());
      }
      if (a->menu()) Menu(a->menu(), name + QStringLiteral(" / ") + QString(a->text()).remove(QLatin1Char('&')));
    }
  }

  const QStringList& problems() const { return problems_; }

 private:
  // Controls on a page of a stacked widget count only while that page shows.
  static bool OnShownPage(const QWidget* w, const QWidget* window) {
    for (const QWidget* p = w; p && p != window; p = p->parentWidget()) {
      if (auto* stack = qobject_cast<const QStackedWidget*>(p->parentWidget()))
        if (stack->currentWidget() != p) return false;
    }
    return true;
  }

  QStringList problems_;
};

// Captions cut off by their controls, as a window shows them at its size.
class TextFitCheck {
 public:
  void Window(const QWidget* window, const QString& name) {
    // A window the screen cannot hold cuts everything beyond its edge.
    if (window->width() > 800 || window->height() > 600)
      problems_ << QStringLiteral("%1: %2x%3 does not fit 800x600").arg(name).arg(window->width()).arg(window->height());
    for (const QWidget* w : window->findChildren<QWidget*>()) {
      if (w->window() != window || !w->isVisibleTo(window)) continue;
      auto cut = [&](const QString& kind, const QString& text, int need, int have) {
        problems_ << QStringLiteral("%1: %2 \"%3\" needs %4 px, has %5").arg(name, kind, text).arg(need).arg(have);
      };
      if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
        if (b->text().isEmpty() || (b->parentWidget() && b->parentWidget()->inherits("QTabBar"))) continue;
        // A push button may narrow down to its caption (and icon) with a little
        // room on both sides; other buttons ask for what they need exactly.
        if (InsideCalendar(b)) continue;  // the calendar's own month and year buttons
        const int need = b->inherits("QPushButton")
                             ? b->fontMetrics().horizontalAdvance(QString(b->text()).remove(QLatin1Char('&'))) +
                                   (b->icon().isNull() ? 0 : b->iconSize().width() + 4) + 8
                             : b->sizeHint().width();
        if (b->width() + 1 < need) cut(QStringLiteral("button"), b->text(), need, b->width());
      } else if (auto* l = qobject_cast<const QLabel*>(w)) {
        if (l->wordWrap() || l->text().isEmpty() || l->textFormat() == Qt::RichText || !l->pixmap().isNull()) continue;
        if (Qt::mightBeRichText(l->text()) && l->textFormat() != Qt::PlainText) continue;
        const int need = l->minimumSizeHint().width();
        if (l->width() + 1 < need) cut(QStringLiteral("label"), l->text(), need, l->width());
      } else if (auto* h = qobject_cast<const QHeaderView*>(w)) {
        if (h->orientation() != Qt::Horizontal || !h->model()) continue;
        for (int i = 0; i < h->count(); ++i) {
          if (h->isSectionHidden(i) || h->sectionSize(i) == 0) continue;
          const QString text = h->model()->headerData(i, Qt::Horizontal).toString();
          if (text.isEmpty()) continue;
          // The section's margins and sort arrow, as QHeaderView reserves them.
          const int need = h->fontMetrics().horizontalAdvance(text) + 8;
          const int visibleEnd = h->sectionViewportPosition(i) + h->sectionSize(i);
          if (visibleEnd > h->viewport()->width() && h->sectionViewportPosition(i) >= h->viewport()->width()) continue;
          if (h->sectionSize(i) < need) cut(QStringLiteral("column"), text, need, h->sectionSize(i));
        }
      } else if (auto* t = qobject_cast<const QTabBar*>(w)) {
        for (int i = 0; i < t->count(); ++i) {
          const QString text = QString(t->tabText(i)).remove(QLatin1Char('&'));
          const int need = t->fontMetrics().horizontalAdvance(text);
          if (t->isTabVisible(i) && t->tabRect(i).width() < need) cut(QStringLiteral("tab"), text, need, t->tabRect(i).width());
        }
      } else if (auto* g = qobject_cast<const QGroupBox*>(w)) {
        const QString text = QString(g->title()).remove(QLatin1Char('&'));
        const int need = g->fontMetrics().horizontalAdvance(text) + 8;
        if (!text.isEmpty() && g->width() < need) cut(QStringLiteral("group"), text, need, g->width());
      }
    }
  }
  const QStringList& problems() const { return problems_; }

 private:
  static bool InsideCalendar(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
      if (p->inherits("QCalendarWidget")) return true;
    return false;
  }

  QStringList problems_;
};

}  // namespace qntest
