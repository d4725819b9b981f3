// The selection handle: the frame around the selected objects, dragging to move
// and resize them, and the keys that nudge them.
#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QFontDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <algorithm>
#include <cmath>

#include "common/folders.h"
#include "design_detail.h"
#include "design_surface.h"

namespace design {

using detail::FindAction;
using detail::IsArrow;

// ---------------------------------------------------------------------------
// TGHandle

TGHandle::TGHandle(TGBasePanel* panel) : QWidget(panel), panel_(panel) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  resize(24, 24);
  setEnabled(false);
  hide();
}

void TGHandle::SetLocked(bool on) {
  locked_ = on;
  UpdateCursor();
}

int TGHandle::ModeAt(const QPoint& pos) const {
  if (selection_.size() != 1) return mMove;
  const int x = pos.x(), y = pos.y(), w = width(), h = height();
  const bool left = x < 8, right = x >= w - 8, top = y < 8, bottom = y >= h - 8;
  const bool midX = std::abs(x - w / 2) <= 6, midY = std::abs(y - h / 2) <= 6;
  int mode = mMove;
  if (left && top) mode = mTopLeft;
  if (right && bottom) mode = mBottomRight;
  if (right && top) mode = mTopRight;
  if (left && bottom) mode = mBottomLeft;
  if (midX && top) mode = mTop;
  if (midX && bottom) mode = mBottom;
  if (midY && left) mode = mLeft;
  if (midY && right) mode = mRight;
  return mode;
}

QRect TGHandle::DraggedBounds(const QRect& b, int mode, int dx, int dy) const {
  const int gx = snap_ ? gridX_ : 1, gy = snap_ ? gridY_ : 1;
  auto snapX = [gx](int v) { return gx * (v / gx); };
  auto snapY = [gy](int v) { return gy * (v / gy); };
  const int L = b.x(), T = b.y(), W = b.width(), H = b.height();
  int l = L, t = T, w = W, h = H;
  switch (mode) {
    case mMove:
      l = snapX(L + dx);
      t = snapY(T + dy);
      break;
    case mTopLeft:
      l = snapX(L + dx);
      t = snapY(T + dy);
      w = W + L - l;
      h = H + T - t;
      break;
    case mTopRight:
      t = snapY(T + dy);
      w = snapX(W + dx) - 1;
      h = H + T - t;
      break;
    case mBottomLeft:
      l = snapX(L + dx);
      w = W + L - l;
      h = snapY(H + dy) - 1;
      break;
    case mBottomRight:
      w = snapX(W + dx) - 1;
      h = snapY(H + dy) - 1;
      break;
    case mTop:
      t = snapY(T + dy);
      h = H + T - t;
      break;
    case mLeft:
      l = snapX(L + dx);
      w = W + L - l;
      break;
    case mBottom:
      h = snapY(H + dy) - 1;
      break;
    case mRight:
      w = snapX(W + dx) - 1;
      break;
    default:
      break;
  }
  return QRect(l, t, std::max(w, 5), std::max(h, 5));
}

void TGHandle::Add(TGGraphicControl* obj) {
  if (!obj || obj->Unselectable() || selection_.contains(obj)) return;
  selection_.append(obj);
  Fit();
  setEnabled(true);
  show();
  raise();
  setFocus();
  UpdateCursor();
}

void TGHandle::Remove(TGGraphicControl* obj) {
  selection_.removeAll(obj);
  Fit();
}

void TGHandle::Clear() {
  selection_.clear();
  Fit();
}

void TGHandle::Fit() {
  if (selection_.isEmpty()) {
    hide();
    setEnabled(false);
    resize(24, 24);
    locked_ = false;
    dragging_ = armed_ = keyMoving_ = false;
    panel_->update();
    return;
  }
  QRect u;
  bool allLocked = true;
  for (TGGraphicControl* o : selection_) {
    u = u.isNull() ? o->BoundsRect() : u.united(o->BoundsRect());
    allLocked = allLocked && o->Locked();
  }
  setGeometry(u.adjusted(-2, -2, 3, 3));
  // Nothing in the selection can move: the frame refuses to.
  locked_ = allLocked;
  UpdateCursor();
  panel_->update();
}

void TGHandle::UpdateCursor() {
  if (locked_) {
    setCursor(Qt::ForbiddenCursor);
    return;
  }
  switch (mode_) {
    case mTopLeft:
    case mBottomRight:
      setCursor(Qt::SizeFDiagCursor);
      break;
    case mTopRight:
    case mBottomLeft:
      setCursor(Qt::SizeBDiagCursor);
      break;
    case mTop:
    case mBottom:
      setCursor(Qt::SizeVerCursor);
      break;
    case mLeft:
    case mRight:
      setCursor(Qt::SizeHorCursor);
      break;
    default:
      setCursor(dragging_ ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
  }
}

void TGHandle::BeginDrag(const QPoint& panelPos) {
  start_ = last_ = panelPos;
  dragging_ = true;
  moved_ = false;
}

void TGHandle::ArmDragAfterSelect(const QPoint& panelPos, quint64 time) {
  if (locked_ || !panel_->Pointing()) return;
  armed_ = true;
  dragging_ = false;
  mode_ = mMove;
  start_ = last_ = panelPos;
  pressTime_ = time;
}

void TGHandle::DragMove(const QPoint& panelPos, quint64 time) {
  if (armed_) {
    // The press that selected the object starts a drag once the pointer moves
    // a little later, from where it then is.
    if (time - pressTime_ > 10) {
      armed_ = false;
      BeginDrag(panelPos);
    }
    return;
  }
  if (!dragging_) return;
  const QRect area = panel_->rect();
  last_ = QPoint(std::clamp(panelPos.x(), 0, area.right()), std::clamp(panelPos.y(), 0, area.bottom()));
  moved_ = last_ != start_;
  const QRect nf = DraggedBounds(geometry(), mode_, last_.x() - start_.x(), last_.y() - start_.y());
  panel_->SetBand(nf.adjusted(2, 2, -3, -3));
}

void TGHandle::DragRelease(const QPoint& panelPos, quint64 time) {
  if (armed_) {
    armed_ = false;
    return;
  }
  if (!dragging_) return;
  DragMove(panelPos, time);
  dragging_ = false;
  panel_->SetBand(QRect());
  // A short press is a click, never a move.
  if (moved_ && time - pressTime_ >= 150)
    ApplyFrame(DraggedBounds(geometry(), mode_, last_.x() - start_.x(), last_.y() - start_.y()));
  moved_ = false;
  if (!selection_.isEmpty()) setFocus();
  UpdateCursor();
}

void TGHandle::ApplyFrame(const QRect& nf) {
  const QRect old = geometry();
  const QList<TGGraphicControl*> objs = selection_;
  for (TGGraphicControl* o : objs) {
    if (o->Locked()) continue;
    const QRect b = o->BoundsRect();
    // An object never shrinks below one pixel: one without area would be
    // dropped from the page at the next save.
    o->SetBounds(nf.x() + (b.x() - old.x()), nf.y() + (b.y() - old.y()),
                 std::max(nf.width() + (b.width() - old.width()), 1),
                 std::max(nf.height() + (b.height() - old.height()), 1));
  }
  Fit();
}

void TGHandle::mousePressEvent(QMouseEvent* e) {
  const QPoint local = e->position().toPoint();
  const QPoint pos = mapToParent(local);
  if (e->button() == Qt::RightButton) {
    if (selection_.size() == 1 && selection_.front()->BoundsRect().adjusted(-2, -2, 2, 2).contains(pos))
      selection_.front()->PopupMenu(pos);
    else
      panel_->PopupMenu(pos);
    return;
  }
  if (e->button() != Qt::LeftButton || !panel_->Pointing()) return;
  if (e->modifiers() & Qt::ShiftModifier) {
    const QList<TGGraphicControl*> objs = selection_;
    for (TGGraphicControl* o : objs)
      if (o->BoundsRect().contains(pos)) panel_->RemoveFromSelection(o);
    return;
  }
  if (locked_) return;
  mode_ = ModeAt(local);
  pressTime_ = e->timestamp();
  BeginDrag(pos);
  UpdateCursor();
}

void TGHandle::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_ || armed_) {
    DragMove(mapToParent(e->position().toPoint()), e->timestamp());
    return;
  }
  if (e->buttons() == Qt::NoButton) {
    mode_ = ModeAt(e->position().toPoint());
    UpdateCursor();
  }
}

void TGHandle::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) DragRelease(mapToParent(e->position().toPoint()), e->timestamp());
}

void TGHandle::mouseDoubleClickEvent(QMouseEvent* e) {
  dragging_ = armed_ = false;
  const QPoint pos = mapToParent(e->position().toPoint());
  if (selection_.size() != 1) return;
  TGGraphicControl* o = selection_.front();
  if (!o->BoundsRect().contains(pos)) return;
  if (!o->DoubleClicked()) o->PopupMenu(pos);
}

void TGHandle::keyPressEvent(QKeyEvent* e) {
  if (panel_->HandleShortcut(e)) return;
  if (!IsArrow(e->key()) || selection_.isEmpty()) {
    QWidget::keyPressEvent(e);
    return;
  }
  if (!keyMoving_) {
    keyMoving_ = true;
    keyRect_ = geometry().adjusted(2, 2, -3, -3);
  }
  const bool resize = (e->modifiers() & Qt::ShiftModifier) && selection_.size() == 1;
  const QRect area = panel_->rect();
  QRect& r = keyRect_;
  switch (e->key()) {
    case Qt::Key_Left:
      if (resize) {
        if (r.width() > 10) r.setWidth(r.width() - 1);
      } else if (r.left() > 0) {
        r.translate(-1, 0);
      }
      break;
    case Qt::Key_Up:
      if (resize) {
        if (r.height() > 10) r.setHeight(r.height() - 1);
      } else if (r.top() > 0) {
        r.translate(0, -1);
      }
      break;
    case Qt::Key_Right:
      if (resize) {
        if (r.x() + r.width() < area.width()) r.setWidth(r.width() + 1);
      } else if (r.x() + r.width() < area.width()) {
        r.translate(1, 0);
      }
      break;
    case Qt::Key_Down:
      if (resize) {
        if (r.y() + r.height() < area.height()) r.setHeight(r.height() + 1);
      } else if (r.y() + r.height() < area.height()) {
        r.translate(0, 1);
      }
      break;
    default:
      break;
  }
  panel_->SetBand(r);
}

void TGHandle::keyReleaseEvent(QKeyEvent* e) {
  if (!IsArrow(e->key()) || e->isAutoRepeat() || !keyMoving_) {
    QWidget::keyReleaseEvent(e);
    return;
  }
  keyMoving_ = false;
  panel_->SetBand(QRect());
  ApplyFrame(keyRect_.adjusted(-2, -2, 3, 3));
}

void TGHandle::contextMenuEvent(QContextMenuEvent* e) {
  // A right press already opened the menu; the menu key opens it here.
  e->accept();
  if (e->reason() != QContextMenuEvent::Keyboard) return;
  if (selection_.size() == 1)
    selection_.front()->PopupMenu(selection_.front()->BoundsRect().center());
  else
    panel_->PopupMenu(geometry().center());
}

}  // namespace design
