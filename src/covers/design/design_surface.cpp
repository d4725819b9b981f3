#include "design_surface.h"

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

namespace design {

namespace {

QString StripAmp(QString s) {
  return s.remove(QLatin1Char('&'));
}

QAction* FindAction(QMenu* menu, const QStringList& path) {
  if (!menu || path.isEmpty()) return nullptr;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator() || StripAmp(a->text()) != path.front()) continue;
    if (path.size() == 1) return a;
    return FindAction(a->menu(), path.mid(1));
  }
  return nullptr;
}

bool IsArrow(int key) {
  return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

}  // namespace

int ColorNumber(const QColor& c) {
  return (c.blue() << 16) | (c.green() << 8) | c.red();
}

QColor ColorFromNumber(int number) {
  // Negative numbers name system colours; on paper they are the text colour.
  if (number < 0) return Qt::black;
  return QColor(number & 0xFF, (number >> 8) & 0xFF, (number >> 16) & 0xFF);
}

// ---------------------------------------------------------------------------
// TGGraphicControl

TGGraphicControl::TGGraphicControl() = default;

TGGraphicControl::~TGGraphicControl() {
  // An object may be freed by a command of its own menu: the menu goes once
  // that command has returned.
  if (menu_) menu_->deleteLater();
}

void TGGraphicControl::SetBounds(int left, int top, int width, int height) {
  bounds_ = QRect(left, top, width, height);
  if (!loading_) FitToContent();
  if (bounds_ == lastBounds_) return;
  lastBounds_ = bounds_;
  if (!panel_) return;
  panel_->update();
  panel_->RequestFit();
  panel_->NotifyChanged();
}

void TGGraphicControl::SetLocked(bool on) {
  if (locked_ == on) return;
  locked_ = on;
  if (panel_) panel_->handle_->Fit();
  Changed();
}

void TGGraphicControl::SetUnselectable(bool on) {
  if (unselectable_ == on) return;
  unselectable_ = on;
  if (on && panel_) panel_->RemoveFromSelection(this);
  Changed();
}

bool TGGraphicControl::Selected() const {
  return panel_ && panel_->Selection().contains(this);
}

QList<PublishedProperty> TGGraphicControl::PublishedProperties() const {
  using P = PublishedProperty;
  return {
      {QStringLiteral("Tag"), P::Integer, {}, 0},        {QStringLiteral("Left"), P::Integer, {}, {}},
      {QStringLiteral("Top"), P::Integer, {}, {}},       {QStringLiteral("Width"), P::Integer, {}, {}},
      {QStringLiteral("Height"), P::Integer, {}, {}},    {QStringLiteral("Cursor"), P::Integer, {}, 0},
      {QStringLiteral("Hint"), P::Text, {}, QString()},  {QStringLiteral("Locked"), P::Flag, {}, {}},
      {QStringLiteral("Unselectable"), P::Flag, {}, {}},
  };
}

QVariant TGGraphicControl::GetPublished(const QString& name) const {
  if (name == QLatin1String("Tag")) return tag_;
  if (name == QLatin1String("Left")) return Left();
  if (name == QLatin1String("Top")) return Top();
  if (name == QLatin1String("Width")) return Width();
  if (name == QLatin1String("Height")) return Height();
  if (name == QLatin1String("Cursor")) return cursor_;
  if (name == QLatin1String("Hint")) return hint_;
  if (name == QLatin1String("Locked")) return locked_;
  if (name == QLatin1String("Unselectable")) return unselectable_;
  return {};
}

bool TGGraphicControl::SetPublished(const QString& name, const QVariant& value) {
  const bool isInt = value.typeId() == QMetaType::Int;
  const bool isBool = value.typeId() == QMetaType::Bool;
  if (name == QLatin1String("Hint")) {
    if (value.typeId() != QMetaType::QString) return false;
    hint_ = value.toString();
    return true;
  }
  if (name == QLatin1String("Locked") || name == QLatin1String("Unselectable")) {
    if (!isBool) return false;
    if (name == QLatin1String("Locked"))
      SetLocked(value.toBool());
    else
      SetUnselectable(value.toBool());
    return true;
  }
  if (!isInt) return false;
  const int v = value.toInt();
  if (name == QLatin1String("Tag"))
    tag_ = v;
  else if (name == QLatin1String("Cursor"))
    cursor_ = v;
  else if (name == QLatin1String("Left"))
    SetBounds(v, Top(), Width(), Height());
  else if (name == QLatin1String("Top"))
    SetBounds(Left(), v, Width(), Height());
  else if (name == QLatin1String("Width"))
    SetBounds(Left(), Top(), v, Height());
  else if (name == QLatin1String("Height"))
    SetBounds(Left(), Top(), Width(), v);
  else
    return false;
  return true;
}

QMenu* TGGraphicControl::Menu() {
  if (!menu_) {
    menu_ = new QMenu(panel_);
    BuildCommonMenu();
    BuildMenu(menu_);
  }
  return menu_;
}

QAction* TGGraphicControl::MenuAction(const QString& path) {
  return FindAction(Menu(), path.split(QLatin1Char('/')));
}

void TGGraphicControl::PopupMenu(const QPoint& panelPos) {
  QMenu* m = Menu();
  lockedAction_->setChecked(locked_);
  unselectableAction_->setChecked(unselectable_);
  UpdateMenu();
  m->popup(panel_ ? panel_->mapToGlobal(panelPos) : panelPos);
}

void TGGraphicControl::BuildCommonMenu() {
  // Every command looks the panel up when it runs: the object may have been
  // placed after its menu was built.
  auto onPanel = [this](auto fn) {
    return [this, fn] {
      if (panel_) fn(panel_);
    };
  };
  menu_->addAction(QStringLiteral("Bring To Front"),
                   onPanel([this](TGBasePanel* p) { p->BringToFront(p->Targets(this)); }));
  menu_->addAction(QStringLiteral("Send To Back"),
                   onPanel([this](TGBasePanel* p) { p->SendToBack(p->Targets(this)); }));
  menu_->addAction(QStringLiteral("Cut"), onPanel([this](TGBasePanel* p) { emit p->cutRequested(p->Targets(this)); }));
  menu_->addAction(QStringLiteral("Copy"),
                   onPanel([this](TGBasePanel* p) { emit p->copyRequested(p->Targets(this)); }));
  menu_->addAction(QStringLiteral("Delete"), onPanel([this](TGBasePanel* p) { p->DeleteObjects(p->Targets(this)); }));
  menu_->addAction(QStringLiteral("Clone"), onPanel([this](TGBasePanel* p) { emit p->cloneRequested(this); }));
  menu_->addSeparator();
  lockedAction_ = menu_->addAction(QStringLiteral("Locked"), [this] { SetLocked(!locked_); });
  lockedAction_->setCheckable(true);
  unselectableAction_ = menu_->addAction(QStringLiteral("Unselectable"), [this] { SetUnselectable(true); });
  unselectableAction_->setCheckable(true);
  menu_->addSeparator();
  menu_->addAction(QStringLiteral("Center Vertically"),
                   onPanel([this](TGBasePanel* p) { p->CenterVertically({this}); }));
  menu_->addAction(QStringLiteral("Center Horizontally"),
                   onPanel([this](TGBasePanel* p) { p->CenterHorizontally({this}); }));
}

void TGGraphicControl::Repaint() {
  if (panel_) panel_->update();
}

void TGGraphicControl::Changed() {
  Repaint();
  if (panel_) panel_->NotifyChanged();
}

QWidget* TGGraphicControl::DialogParent() const {
  return panel_ ? panel_->window() : nullptr;
}

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

// ---------------------------------------------------------------------------
// TGBasePanel

TGBasePanel::TGBasePanel(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  const QString folder = QString::fromStdString(qn::ProgramFolder());
  clipboardFile_ = folder + QStringLiteral("Clipbrd.tmp");
  tempFile_ = folder + QStringLiteral("TempFile.tmp");
  handle_ = new TGHandle(this);
  SetGridSize(gs4x4);
  BuildMenu();
}

TGBasePanel::~TGBasePanel() {
  handle_->selection_.clear();
  qDeleteAll(objects_);
  objects_.clear();
  delete menu_;
  QFile::remove(clipboardFile_);
  QFile::remove(tempFile_);
}

void TGBasePanel::SetPointing(bool on) {
  pointing_ = on;
  // While a drawing tool is active, presses over the selection draw too.
  handle_->setAttribute(Qt::WA_TransparentForMouseEvents, !on);
  if (on)
    unsetCursor();
  else
    setCursor(Qt::CrossCursor);
}

void TGBasePanel::SetDrawOutline(bool on) {
  drawOutline_ = on;
  update();
}

void TGBasePanel::SetPicture(const QImage& img) {
  picture_ = img;
  update();
}

void TGBasePanel::SetColorPicture(const QImage& img) {
  colorPicture_ = img;
  update();
}

void TGBasePanel::SetShape(TLabelShapeType s) {
  shape_ = s;
  update();
}

void TGBasePanel::SetGridSize(TGridSize g) {
  gridSize_ = g;
  const int step = g == gs8x8 ? 8 : 4;
  handle_->SetGridX(step);
  handle_->SetGridY(step);
  update();
}

void TGBasePanel::SetShowGrid(bool on) {
  showGrid_ = on;
  update();
}

void TGBasePanel::SetSnapToGrid(bool on) {
  snapToGrid_ = on;
  handle_->SetSnapToGrid(on);
}

void TGBasePanel::SetZoom(float z) {
  if (z <= 0 || z == zoom_) return;
  const double z0 = zoom_ == 0 ? 1.0 : zoom_;
  changing_ = true;
  auto scale = [z, z0](int v) { return static_cast<int>(std::trunc(v * static_cast<double>(z) / z0)); };
  resize(scale(width()), scale(height()));
  for (TGGraphicControl* o : objects_) {
    o->SetZoom(z);
    const QRect b = o->BoundsRect();
    o->SetBounds(scale(b.x()), scale(b.y()), scale(b.width()), scale(b.height()));
  }
  zoom_ = z;
  changing_ = false;
  handle_->Fit();
  update();
}

TGGraphicControl* TGBasePanel::FindObject(const QString& name) const {
  for (TGGraphicControl* o : objects_)
    if (o->Name().compare(name, Qt::CaseInsensitive) == 0) return o;
  return nullptr;
}

TGGraphicControl* TGBasePanel::ObjectAt(const QPoint& p) const {
  for (auto it = objects_.crbegin(); it != objects_.crend(); ++it)
    if ((*it)->BoundsRect().contains(p)) return *it;
  return nullptr;
}

const QList<TGGraphicControl*>& TGBasePanel::Selection() const {
  return handle_->Selection();
}

void TGBasePanel::AddToSelection(TGGraphicControl* obj) {
  if (obj && obj->panel_ == this) handle_->Add(obj);
}

void TGBasePanel::RemoveFromSelection(TGGraphicControl* obj) {
  handle_->Remove(obj);
}

void TGBasePanel::ClearSelection() {
  handle_->Clear();
}

void TGBasePanel::SelectAll() {
  ClearSelection();
  for (TGGraphicControl* o : objects_) AddToSelection(o);
}

void TGBasePanel::ClearPanel() {
  ClearSelection();
  const QList<TGGraphicControl*> objs = objects_;
  for (TGGraphicControl* o : objs) {
    emit objectDeleting(o);
    Detach(o);
    delete o;
  }
  update();
}

void TGBasePanel::DropObjectsOutside() {
  const QList<TGGraphicControl*> objs = objects_;
  for (TGGraphicControl* o : objs)
    if (o->Top() > height() - 10 || o->Left() > width() - 10 || o->Width() < 1 || o->Height() < 1) DeleteObject(o);
}

void TGBasePanel::Attach(TGGraphicControl* obj) {
  obj->panel_ = this;
  obj->zoom_ = zoom_;
  obj->lastBounds_ = obj->bounds_;
  if (obj->menu_ && !obj->menu_->parent()) obj->menu_->setParent(this, obj->menu_->windowFlags());
  objects_.append(obj);
}

void TGBasePanel::Detach(TGGraphicControl* obj) {
  objects_.removeAll(obj);
  obj->panel_ = nullptr;
}

void TGBasePanel::PlaceObject(TGGraphicControl* obj, const QRect& rect) {
  Attach(obj);
  obj->SetName(UniqueName(QStringLiteral("Special"), 1, 1000));
  obj->SetBounds(rect.x(), rect.y(), std::max(rect.width(), 10), std::max(rect.height(), 15));
  update();
  NotifyChanged();
}

void TGBasePanel::AdoptObject(TGGraphicControl* obj) {
  Attach(obj);
  update();
  NotifyChanged();
}

void TGBasePanel::DeleteObject(TGGraphicControl* obj) {
  if (!obj || obj->panel_ != this) return;
  RemoveFromSelection(obj);
  emit objectDeleting(obj);
  Detach(obj);
  delete obj;
  update();
  NotifyChanged();
}

void TGBasePanel::DeleteObjects(const QList<TGGraphicControl*>& objs) {
  for (auto it = objs.crbegin(); it != objs.crend(); ++it) DeleteObject(*it);
}

QString TGBasePanel::UniqueName(const QString& prefix, int first, int last) const {
  for (int n = first; n <= last; ++n) {
    const QString name = prefix + QString::number(n);
    if (!FindObject(name)) return name;
  }
  return {};
}

void TGBasePanel::BringToFront() {
  BringToFront(Selection());
}

void TGBasePanel::BringToFront(const QList<TGGraphicControl*>& objs) {
  if (handle_->Locked()) return;
  const QList<TGGraphicControl*> list = objs;
  for (TGGraphicControl* o : list) {
    objects_.removeAll(o);
    objects_.append(o);
  }
  handle_->raise();
  update();
  NotifyChanged();
}

void TGBasePanel::SendToBack() {
  SendToBack(Selection());
}

void TGBasePanel::SendToBack(const QList<TGGraphicControl*>& objs) {
  if (handle_->Locked()) return;
  const QList<TGGraphicControl*> list = objs;
  for (TGGraphicControl* o : list) {
    objects_.removeAll(o);
    objects_.prepend(o);
  }
  ClearSelection();
  update();
  NotifyChanged();
}

void TGBasePanel::DeleteSelection() {
  DeleteObjects(Selection());
}

void TGBasePanel::AlignLefts() {
  const QList<TGGraphicControl*> sel = Selection();
  if (sel.isEmpty()) return;
  int v = sel.front()->Left();
  for (auto* o : sel) v = std::min(v, o->Left());
  for (auto* o : sel) o->SetBounds(v, o->Top(), o->Width(), o->Height());
}

void TGBasePanel::AlignRights() {
  const QList<TGGraphicControl*> sel = Selection();
  if (sel.isEmpty()) return;
  int v = sel.front()->Left() + sel.front()->Width();
  for (auto* o : sel) v = std::max(v, o->Left() + o->Width());
  for (auto* o : sel) o->SetBounds(v - o->Width(), o->Top(), o->Width(), o->Height());
}

void TGBasePanel::AlignTops() {
  const QList<TGGraphicControl*> sel = Selection();
  if (sel.isEmpty()) return;
  int v = sel.front()->Top();
  for (auto* o : sel) v = std::min(v, o->Top());
  for (auto* o : sel) o->SetBounds(o->Left(), v, o->Width(), o->Height());
}

void TGBasePanel::AlignBottoms() {
  const QList<TGGraphicControl*> sel = Selection();
  if (sel.isEmpty()) return;
  int v = sel.front()->Top() + sel.front()->Height();
  for (auto* o : sel) v = std::max(v, o->Top() + o->Height());
  for (auto* o : sel) o->SetBounds(o->Left(), v - o->Height(), o->Width(), o->Height());
}

void TGBasePanel::CenterVertically(const QList<TGGraphicControl*>& objs) {
  const QList<TGGraphicControl*> list = objs;
  for (auto* o : list) o->SetBounds(o->Left(), height() / 2 - o->Height() / 2, o->Width(), o->Height());
}

void TGBasePanel::CenterHorizontally(const QList<TGGraphicControl*>& objs) {
  const QList<TGGraphicControl*> list = objs;
  for (auto* o : list) o->SetBounds(width() / 2 - o->Width() / 2, o->Top(), o->Width(), o->Height());
}

void TGBasePanel::LockAll() {
  for (auto* o : objects_)
    if (!o->Locked()) o->SetLocked(true);
}

void TGBasePanel::UnlockAll() {
  for (auto* o : objects_)
    if (o->Locked()) o->SetLocked(false);
}

void TGBasePanel::MarkAllSelectable() {
  for (auto* o : objects_) o->SetUnselectable(false);
}

void TGBasePanel::MarkAllUnselectable() {
  const QList<TGGraphicControl*> objs = objects_;
  for (auto* o : objs) o->SetUnselectable(true);
}

void TGBasePanel::ChooseFont() {
  bool ok = false;
  const QFont f = QFontDialog::getFont(&ok, panelFont_, this, QString(), QFontDialog::DontUseNativeDialog);
  if (ok) ApplyFontToSelection(f);
}

void TGBasePanel::ApplyFontToSelection(const QFont& f) {
  const QList<TGGraphicControl*> sel = Selection();
  for (auto* o : sel) o->TakeFont(f);
  handle_->Fit();
}

void TGBasePanel::BuildMenu() {
  menu_ = new QMenu;
  auto add = [this](const QString& text, auto fn) { return menu_->addAction(text, this, fn); };
  add(QStringLiteral("Bring To Front"), [this] { BringToFront(); });
  add(QStringLiteral("Send To Back"), [this] { SendToBack(); });
  menu_->addSeparator();
  add(QStringLiteral("Cut"), [this] { emit cutRequested(Selection()); });
  add(QStringLiteral("Copy"), [this] { emit copyRequested(Selection()); });
  add(QStringLiteral("Paste"), [this] { emit pasteRequested(); });
  menu_->addSeparator();
  add(QStringLiteral("Delete"), [this] { DeleteSelection(); });
  menu_->addSeparator();
  add(QStringLiteral("Align Left"), [this] { AlignLefts(); });
  add(QStringLiteral("Align Right"), [this] { AlignRights(); });
  add(QStringLiteral("Align Tops"), [this] { AlignTops(); });
  add(QStringLiteral("Align Bottoms"), [this] { AlignBottoms(); });
  menu_->addSeparator();
  add(QStringLiteral("Center Vertically"), [this] { CenterVertically(Selection()); });
  add(QStringLiteral("Center Horizontally"), [this] { CenterHorizontally(Selection()); });
  menu_->addSeparator();
  add(QStringLiteral("Lock All"), [this] { LockAll(); });
  add(QStringLiteral("Unlock All"), [this] { UnlockAll(); });
  menu_->addSeparator();
  add(QStringLiteral("Mark All Selectable"), [this] { MarkAllSelectable(); });
  add(QStringLiteral("Mark All Unselectable"), [this] { MarkAllUnselectable(); });
  add(QStringLiteral("Select All"), [this] { SelectAll(); });
  menu_->addSeparator();
  add(QStringLiteral("Font"), [this] { ChooseFont(); });
}

QAction* TGBasePanel::MenuAction(const QString& text) const {
  return FindAction(menu_, {text});
}

void TGBasePanel::UpdateMenuState() {
  const bool sel = !Selection().isEmpty();
  for (const char* t : {"Bring To Front", "Send To Back", "Cut", "Copy", "Delete", "Align Left", "Align Right",
                        "Align Tops", "Align Bottoms", "Center Vertically", "Center Horizontally", "Font"})
    MenuAction(QString::fromLatin1(t))->setEnabled(sel);
  MenuAction(QStringLiteral("Paste"))->setEnabled(QFile::exists(clipboardFile_));
  const bool any = !objects_.isEmpty();
  MenuAction(QStringLiteral("Lock All"))->setEnabled(any);
  MenuAction(QStringLiteral("Unlock All"))->setEnabled(any);
}

void TGBasePanel::PopupMenu(const QPoint& panelPos) {
  UpdateMenuState();
  menu_->popup(mapToGlobal(panelPos));
}

QList<TGGraphicControl*> TGBasePanel::Targets(TGGraphicControl* obj) const {
  if (obj->Selected()) return Selection();
  return {obj};
}

bool TGBasePanel::HandleShortcut(QKeyEvent* e) {
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  if (ctrl && e->key() == Qt::Key_C) {
    if (!Selection().isEmpty()) emit copyRequested(Selection());
    return true;
  }
  if (ctrl && e->key() == Qt::Key_X) {
    if (!Selection().isEmpty()) emit cutRequested(Selection());
    return true;
  }
  if (ctrl && e->key() == Qt::Key_V) {
    emit pasteRequested();
    return true;
  }
  if (e->key() == Qt::Key_Delete) {
    DeleteSelection();
    return true;
  }
  return false;
}

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
