// Design objects: bounds, locking, published properties and the menu they share.
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

namespace detail {

namespace {
QString StripAmp(QString s) {
  return s.remove(QLatin1Char('&'));
}
}  // namespace

QAction* FindAction(QMenu* menu, const QStringList& path) {
  if (!menu || path.isEmpty()) return nullptr;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator() || StripAmp(a->text()) != path.front()) continue;
    if (path.size() == 1) return a;
    return FindAction(a->menu(), path.mid(1));
  }
  return nullptr;
}

}  // namespace detail

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

}  // namespace design
