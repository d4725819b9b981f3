// Mouse gestures on a design panel for widget tests: presses reach the widget
// that lies on top at that point (the selection frame over the selection), and
// a drag's moves and release go to the widget that took the press, as the
// implicit mouse grab does.
#pragma once

#include <QTest>

#include "covers/design/design_surface.h"

namespace qntest {

using design::TGBasePanel;

// The widget a press at a panel point reaches: the frame when it lies on top.
inline QWidget* At(TGBasePanel* panel, QPoint p) {
  QWidget* w = panel->childAt(p);
  return w ? w : panel;
}

// Press, move and release as one gesture on the widget that took the press
// (the implicit mouse grab), slow enough to count as a drag.
inline void Drag(TGBasePanel* panel, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
  QWidget* w = At(panel, from);
  auto local = [&](QPoint p) { return w == panel ? p : w->mapFrom(panel, p); };
  QTest::mousePress(w, Qt::LeftButton, mods, local(from));
  QTest::mouseMove(w, local(from), 20);
  QTest::mouseMove(w, local((from + to) / 2), 20);
  QTest::mouseMove(w, local(to), 20);
  QTest::mouseRelease(w, Qt::LeftButton, mods, local(to), 200);
}

inline void Click(TGBasePanel* panel, QPoint p, Qt::KeyboardModifiers mods = {}, Qt::MouseButton b = Qt::LeftButton) {
  QWidget* w = At(panel, p);
  QTest::mouseClick(w, b, mods, w == panel ? p : w->mapFrom(panel, p));
}

}  // namespace qntest
