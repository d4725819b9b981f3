// Small helpers the design surface's files share (not part of its interface).
#pragma once

#include <QAction>
#include <QMenu>
#include <QString>
#include <QStringList>

namespace design::detail {

// The action at `path` (captions without their '&') in a menu and its submenus.
QAction* FindAction(QMenu* menu, const QStringList& path);

inline bool IsArrow(int key) {
  return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

}  // namespace design::detail
