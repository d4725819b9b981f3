// The design panel on screen: the rubber band, painting, and mouse and key handling.
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

void TGBasePanel::SetBand(const QRect& r) {
  band_ = r;
  update();
}

void TGBasePanel::NotifyChanged() {
  if (!changing_) emit labelChanged();
}

void TGBasePanel::RequestFit() {
  if (fitPosted_) return;
  fitPosted_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        fitPosted_ = false;
        handle_->Fit();
      },
      Qt::QueuedConnection);
}

QPainterPath TGBasePanel::ShapePath() const {
  QPainterPath path;
  const QRectF r = rect();
  switch (shape_) {
    case lsRectangle:
      path.addRect(r);
      break;
    case lsRoundRect:
      path.addRoundedRect(r, 12, 12);
      break;
    case lsEllipse:
      path.addEllipse(r);
      break;
  }
  return path;
}

void TGBasePanel::PaintBackground(QPainter& p) {
  p.fillRect(rect(), Qt::white);
  const QPainterPath shape = ShapePath();
  for (const QImage* pic : {&picture_, &colorPicture_}) {
    if (pic->isNull()) continue;
    p.save();
    p.setClipPath(shape);
    p.drawImage(rect(), *pic);
    p.restore();
  }
  if (drawOutline_) {
    p.save();
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.restore();
  }
  if (showGrid_) {
    // One green dot at column 2, row 2 of every grid cell.
    const int step = gridSize_ == gs8x8 ? 8 : 4;
    QImage cell(step, step, QImage::Format_RGB32);
    cell.fill(Qt::white);
    cell.setPixel(2, 2, qRgb(0, 0x80, 0));
    p.save();
    p.setClipPath(shape);
    p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    p.fillRect(rect(), QBrush(cell));
    p.restore();
  }
}

void TGBasePanel::PaintMarks(QPainter& p, TGGraphicControl* obj) {
  const QList<TGGraphicControl*>& sel = Selection();
  const bool single = sel.size() == 1;
  const QColor c = single ? handle_->Color() : handle_->SecondaryColor();
  const QRect r = obj->BoundsRect().adjusted(-2, -2, 2, 2);
  const int l = r.left(), t = r.top(), rt = r.left() + r.width() - 5, bt = r.top() + r.height() - 5;
  const int mx = r.left() + r.width() / 2 - 2, my = r.top() + r.height() / 2 - 2;
  QList<QPoint> at = {{l, t}, {rt, t}, {l, bt}, {rt, bt}};
  if (single) at += {{mx, t}, {mx, bt}, {l, my}, {rt, my}};
  for (const QPoint& q : at) p.fillRect(QRect(q, QSize(5, 5)), c);
}

void TGBasePanel::paintEvent(QPaintEvent*) {
  // Everything is drawn into one off-screen image and copied at once.
  QImage buffer(size(), QImage::Format_RGB32);
  {
    QPainter p(&buffer);
    PaintBackground(p);
    for (TGGraphicControl* o : objects_) {
      const QRect b = o->BoundsRect();
      p.save();
      p.translate(b.topLeft());
      p.setClipRect(QRect(0, 0, b.width(), b.height()));
      o->Paint(p);
      p.restore();
    }
    for (TGGraphicControl* o : Selection()) PaintMarks(p, o);
    if (!band_.isNull()) {
      p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      p.setPen(QPen(Qt::white, 1, Qt::DotLine));
      p.setBrush(Qt::NoBrush);
      p.drawRect(band_.adjusted(0, 0, -1, -1));
    }
  }
  QPainter(this).drawImage(0, 0, buffer);
}

void TGBasePanel::mousePressEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (e->button() != Qt::LeftButton && e->button() != Qt::RightButton) return;
  setFocus();
  if (pointing_) {
    TGGraphicControl* obj = ObjectAt(pos);
    if (obj && !obj->Unselectable()) {
      if (!(e->modifiers() & Qt::ShiftModifier)) ClearSelection();
      AddToSelection(obj);
      if (e->button() == Qt::RightButton) {
        if (Selection().size() == 1) obj->PopupMenu(pos);
        return;
      }
      forwardToHandle_ = true;
      handle_->ArmDragAfterSelect(pos, e->timestamp());
      return;
    }
    if (e->button() == Qt::RightButton) {
      PopupMenu(pos);
      return;
    }
  } else if (e->button() != Qt::LeftButton) {
    return;
  }
  banding_ = true;
  bandStart_ = pos;
  setCursor(Qt::PointingHandCursor);
  SetBand(QRect(pos, QSize(0, 0)));
}

void TGBasePanel::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (forwardToHandle_) {
    handle_->DragMove(pos, e->timestamp());
    return;
  }
  if (banding_) {
    SetBand(QRect(QPoint(std::min(pos.x(), bandStart_.x()), std::min(pos.y(), bandStart_.y())),
                  QSize(std::abs(pos.x() - bandStart_.x()), std::abs(pos.y() - bandStart_.y()))));
    return;
  }
  if (!pointing_)
    setCursor(Qt::CrossCursor);
  else if (ObjectAt(pos))
    setCursor(Qt::PointingHandCursor);
  else
    unsetCursor();
}

void TGBasePanel::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (forwardToHandle_) {
    forwardToHandle_ = false;
    handle_->DragRelease(pos, e->timestamp());
    return;
  }
  if (!banding_) return;
  banding_ = false;
  const QRect r(QPoint(std::min(pos.x(), bandStart_.x()), std::min(pos.y(), bandStart_.y())),
                QSize(std::abs(pos.x() - bandStart_.x()), std::abs(pos.y() - bandStart_.y())));
  SetBand(QRect());
  if (pointing_) {
    unsetCursor();
    const bool toggle = e->modifiers() & Qt::ShiftModifier;
    if (!toggle) ClearSelection();
    const QList<TGGraphicControl*> objs = objects_;
    for (TGGraphicControl* o : objs) {
      if (!o->BoundsRect().intersects(r)) continue;
      if (toggle && o->Selected())
        RemoveFromSelection(o);
      else
        AddToSelection(o);
    }
    return;
  }
  setCursor(Qt::CrossCursor);
  CreateObjectFor(r);
  emit droppedObject(r);
}

void TGBasePanel::mouseDoubleClickEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  forwardToHandle_ = false;
  handle_->armed_ = handle_->dragging_ = false;
  if (!pointing_) return;
  TGGraphicControl* obj = ObjectAt(pos);
  if (!obj || obj->Unselectable()) return;
  if (!obj->DoubleClicked()) obj->PopupMenu(pos);
}

void TGBasePanel::keyPressEvent(QKeyEvent* e) {
  if (!HandleShortcut(e)) QWidget::keyPressEvent(e);
}

void TGBasePanel::contextMenuEvent(QContextMenuEvent* e) {
  // A right press already opened the menu; the menu key opens it here.
  e->accept();
  if (e->reason() == QContextMenuEvent::Keyboard) PopupMenu(e->pos());
}

}  // namespace design
