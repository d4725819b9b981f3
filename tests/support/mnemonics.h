// Collects the Alt+letter keys of a window as a user meets them: the visible
// buttons, check boxes, radio buttons, labels of fields, group boxes, tabs and
// the menu bar's titles share one set per window; each menu is a set of its own.
// Reports a letter used twice in one set, and a control that has none.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStackedWidget>
#include <QStringList>
#include <QTabBar>
#include <QWidget>
#include <algorithm>
#include <map>

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
    for (const QWidget* w : window->findChildren<QWidget*>()) {
      if (w->window() != window || !w->isVisibleTo(window) || !OnShownPage(w, window)) continue;
      if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
        if (b->inherits("QToolButton") && b->text().isEmpty()) continue;
        if (b->parentWidget() && b->parentWidget()->inherits("QTabBar")) continue;  // a tab's close button
        take(b->text(), QStringLiteral("button"), !b->inherits("QRadioButton") && !b->inherits("QToolButton"));
      } else if (auto* l = qobject_cast<const QLabel*>(w)) {
        if (l->buddy()) take(l->text(), QStringLiteral("label"));
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

}  // namespace qntest
