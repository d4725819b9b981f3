// The design panel: its settings, the objects on it, selection, z-order,
// alignment, locking, fonts, its menu and shortcuts.
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

}  // namespace design
