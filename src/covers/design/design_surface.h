// The design surface: a panel (TGBasePanel) holding design objects
// (TGGraphicControl descendants) that the user selects, moves, resizes, aligns,
// locks and deletes through a selection frame (TGHandle). It knows nothing of
// what the objects mean; a concrete panel derives from TGBasePanel and creates
// its objects when the user draws one with a tool.
//
// Conventions callers rely on:
//  - Units are screen pixels at 96 per inch at zoom 1.0, whatever the real
//    screen density. Objects paint in their own pixel coordinates; the zoom
//    factor scales their bounds (done by the panel) and their font sizes and pen
//    widths (done by each object when it paints).
//  - Design objects are not widgets. The panel owns them (QObject children) and
//    keeps them in a list whose order is the z-order, bottom first ("child
//    order"): that is the order objects are painted, saved and flattened in.
//    The selection frame is a child widget of the panel and never in that list.
//  - Published properties: every design object lists the properties it stores
//    through PublishedProperties(), in the order they are written, and reads and
//    writes them by name with GetPublished()/SetPublished(), so a stream layer
//    can save and load any object without knowing its class. A nested property
//    is named "Owner.Inner" ("Font.Height", "Pen.Width"). Values are QVariants
//    by kind:
//        Integer -> int            Text  -> QString
//        Flag    -> bool           Ident -> QString (an enumeration identifier,
//                                           one of PublishedProperty::idents, or
//                                           any identifier when idents is empty)
//        Color   -> int (a colour number, 0x00BBGGRR as stored)
//        Set     -> QStringList (member identifiers, each one of idents)
//    PublishedProperty::suppressed, when not null, is the value for which the
//    property is not written; a null QVariant means "always written".
//    SetPublished() returns false for an unknown name or a value of the wrong
//    kind (an identifier that is not one of idents, a text for an integer) and
//    then changes nothing. ClassName() is the name an object stream carries.
//  - Every change of the design (bounds, properties through the menus and
//    dialogs, adding or freeing objects) emits TGBasePanel::labelChanged, except
//    while the zoom is being changed.
//  - Clipboard operations (cut, copy, paste, clone) are not done here: the panel
//    emits cutRequested/copyRequested/pasteRequested/cloneRequested with the
//    objects concerned and a stream layer connected to them does the work.
//  - Menus are built once and popped up without blocking (QMenu::popup), so
//    nothing here runs a nested event loop except the font dialog.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <functional>

class QPainter;
class QPainterPath;

namespace design {

class TGBasePanel;
class TGHandle;

struct PublishedProperty {
  enum Kind { Integer, Text, Flag, Ident, Color, Set };
  QString name;  // "Left", "Font.Height", ...
  Kind kind = Integer;
  QStringList idents;   // Ident: the enumeration's identifiers; Set: the possible members
  QVariant suppressed;  // not written when the value equals this; null: always written
};

// A colour number as design objects store it: 0x00BBGGRR.
int ColorNumber(const QColor& c);
QColor ColorFromNumber(int number);

// Base of every design object: bounds on the panel, Locked, Unselectable, its
// zoom factor and its right-click menu.
class TGGraphicControl {
 public:
  TGGraphicControl();
  virtual ~TGGraphicControl();
  TGGraphicControl(const TGGraphicControl&) = delete;
  TGGraphicControl& operator=(const TGGraphicControl&) = delete;

  // The class name an object stream carries ("TFaxCoverLabel").
  virtual QString ClassName() const = 0;

  QString Name() const { return name_; }
  void SetName(const QString& name) { name_ = name; }
  TGBasePanel* Panel() const { return panel_; }

  int Left() const { return bounds_.x(); }
  int Top() const { return bounds_.y(); }
  int Width() const { return bounds_.width(); }
  int Height() const { return bounds_.height(); }
  QRect BoundsRect() const { return bounds_; }
  // Sets the bounds, lets the object fit its size to its content, repaints and,
  // when the bounds really changed, refits the selection frame and reports a change.
  void SetBounds(int left, int top, int width, int height);
  void SetBounds(const QRect& r) { SetBounds(r.x(), r.y(), r.width(), r.height()); }

  bool Locked() const { return locked_; }
  void SetLocked(bool on);
  bool Unselectable() const { return unselectable_; }
  void SetUnselectable(bool on);
  int Tag() const { return tag_; }
  void SetTag(int v) { tag_ = v; }
  int Cursor() const { return cursor_; }
  void SetCursor(int v) { cursor_ = v; }
  QString Hint() const { return hint_; }
  void SetHint(const QString& h) { hint_ = h; }

  float Zoom() const { return zoom_; }
  void SetZoom(float z) { zoom_ = z; }

  bool Selected() const;

  // Published properties (see the header's conventions). The base lists Tag,
  // Left, Top, Width, Height, Cursor, Hint, Locked, Unselectable; classes append.
  virtual QList<PublishedProperty> PublishedProperties() const;
  virtual QVariant GetPublished(const QString& name) const;
  virtual bool SetPublished(const QString& name, const QVariant& value);
  // True while SetPublished calls of a load are under way (objects do not fit
  // their size to their content then); the stream layer brackets a load with it.
  void SetLoading(bool on) { loading_ = on; }
  bool Loading() const { return loading_; }

  // The right-click menu (built on first use: the common items, then the class's).
  QMenu* Menu();
  // The action of the menu whose text (without "&") is the given path, submenus
  // separated by "/" ("Field/Sender"); null when there is none.
  QAction* MenuAction(const QString& path);
  void PopupMenu(const QPoint& panelPos);

  // Paints the object into a painter whose origin is the object's top left and
  // whose clip is its bounds.
  virtual void Paint(QPainter& p) = 0;
  // Fits the size to the content after a change of bounds, text or font.
  virtual void FitToContent() {}
  // Takes the panel's "Font" command's font (text-like objects only).
  virtual void TakeFont(const QFont& /*font*/) {}
  // Edits the object right after it was drawn with a tool.
  virtual void EditAfterCreate() {}
  // A double click handler of the object's own; false when it has none (the
  // panel then opens the menu).
  virtual bool DoubleClicked() { return false; }

  // Repaints the object's area on the panel.
  void Repaint();
  // Reports a change of the design to the panel.
  void Changed();

 protected:
  // Appends the class's items to the menu after the common ones.
  virtual void BuildMenu(QMenu* /*menu*/) {}
  // Sets the check marks just before the menu pops up.
  virtual void UpdateMenu() {}
  // Keeps the bounds without any notification (for fitting inside SetBounds).
  void SetBoundsQuiet(const QRect& r) { bounds_ = r; }
  QWidget* DialogParent() const;

 private:
  friend class TGBasePanel;
  void BuildCommonMenu();

  TGBasePanel* panel_ = nullptr;
  QString name_;
  QRect bounds_{0, 0, 10, 10};
  QRect lastBounds_;
  bool locked_ = false;
  bool unselectable_ = false;
  int tag_ = 0;
  int cursor_ = 0;
  QString hint_;
  float zoom_ = 1.0F;
  bool loading_ = false;
  QPointer<QMenu> menu_;  // a child of the panel once placed, so it never outlives it
  QAction* lockedAction_ = nullptr;
  QAction* unselectableAction_ = nullptr;
};

// The selection frame: a transparent child of the panel around the selected
// objects (2 pixels left and above, 3 right and below), which takes the
// keyboard focus and moves or resizes the selection.
class TGHandle : public QWidget {
  Q_OBJECT
 public:
  // Resize modes: 0 move, 1 top-left, 2 top-right, 3 bottom-left, 4 bottom-right,
  // 5 top edge, 6 left edge, 7 bottom edge, 8 right edge.
  enum Mode { mMove, mTopLeft, mTopRight, mBottomLeft, mBottomRight, mTop, mLeft, mBottom, mRight };

  explicit TGHandle(TGBasePanel* panel);

  QColor Color() const { return color_; }
  void SetColor(const QColor& c) { color_ = c; }
  QColor SecondaryColor() const { return secondaryColor_; }
  void SetSecondaryColor(const QColor& c) { secondaryColor_ = c; }
  bool Locked() const { return locked_; }
  void SetLocked(bool on);
  int GridX() const { return gridX_; }
  void SetGridX(int v) { gridX_ = v < 1 ? 1 : v; }
  int GridY() const { return gridY_; }
  void SetGridY(int v) { gridY_ = v < 1 ? 1 : v; }
  bool SnapToGrid() const { return snap_; }
  void SetSnapToGrid(bool on) { snap_ = on; }
  int DragCursor() const { return dragCursor_; }
  void SetDragCursor(int v) { dragCursor_ = v; }

  // The selected objects in selection order.
  const QList<TGGraphicControl*>& Selection() const { return selection_; }
  int ResizeMode() const { return mode_; }
  // The resize mode for a point in frame coordinates (one object selected).
  int ModeAt(const QPoint& framePos) const;

  // New frame bounds for a drag by (dx, dy) in the given mode from bounds b.
  QRect DraggedBounds(const QRect& b, int mode, int dx, int dy) const;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  friend class TGBasePanel;
  friend class TGGraphicControl;
  void Add(TGGraphicControl* obj);
  void Remove(TGGraphicControl* obj);
  void Clear();
  void Fit();
  // Drag steps in panel coordinates (also driven by the panel right after a
  // press selected an object).
  void BeginDrag(const QPoint& panelPos);
  void ArmDragAfterSelect(const QPoint& panelPos, quint64 time);
  void DragMove(const QPoint& panelPos, quint64 time);
  void DragRelease(const QPoint& panelPos, quint64 time);
  // Gives the selection the frame's new bounds (extended frame coordinates).
  void ApplyFrame(const QRect& newFrame);
  void UpdateCursor();

  TGBasePanel* panel_;
  QColor color_ = Qt::black;
  QColor secondaryColor_ = QColor(0x80, 0x80, 0x80);
  bool locked_ = false;
  int gridX_ = 8, gridY_ = 8;
  bool snap_ = false;
  int dragCursor_ = -12;
  QList<TGGraphicControl*> selection_;
  int mode_ = mMove;
  bool dragging_ = false;
  bool armed_ = false;  // selected by a press, waiting 10 ms for a move
  bool moved_ = false;
  QPoint start_;
  QPoint last_;
  quint64 pressTime_ = 0;
  bool keyMoving_ = false;
  QRect keyRect_;
};

// The design panel: white page of a shape, dot grid, the objects, the
// selection frame, the rubber band and the panel's right-click menu.
class TGBasePanel : public QWidget {
  Q_OBJECT
 public:
  enum TLabelShapeType { lsRectangle, lsRoundRect, lsEllipse };
  Q_ENUM(TLabelShapeType)
  enum TGridSize { gs4x4, gs8x8 };
  Q_ENUM(TGridSize)

  explicit TGBasePanel(QWidget* parent = nullptr);
  ~TGBasePanel() override;

  bool Pointing() const { return pointing_; }
  void SetPointing(bool on);
  bool DrawOutline() const { return drawOutline_; }
  void SetDrawOutline(bool on);
  QImage Picture() const { return picture_; }
  void SetPicture(const QImage& img);
  QImage ColorPicture() const { return colorPicture_; }
  void SetColorPicture(const QImage& img);
  bool Printing() const { return printing_; }
  void SetPrinting(bool on) { printing_ = on; }
  TLabelShapeType Shape() const { return shape_; }
  void SetShape(TLabelShapeType s);
  TGridSize GridSize() const { return gridSize_; }
  void SetGridSize(TGridSize g);
  bool ShowGrid() const { return showGrid_; }
  void SetShowGrid(bool on);
  bool SnapToGrid() const { return snapToGrid_; }
  void SetSnapToGrid(bool on);

  float Zoom() const { return zoom_; }
  // Scales the panel and every object by z / current zoom (bounds truncated).
  void SetZoom(float z);

  // The font the panel's "Font" command starts with (and a concrete panel's
  // default font for new text objects).
  QFont PanelFont() const { return panelFont_; }
  void SetPanelFont(const QFont& f) { panelFont_ = f; }

  // Clipboard and work files: program folder + "Clipbrd.tmp" / "TempFile.tmp";
  // both are deleted when the panel is destroyed.
  QString ClipboardFileName() const { return clipboardFile_; }
  QString TempFileName() const { return tempFile_; }
  // Time (ms since epoch) of the last paste, kept for the stream layer's
  // one-second rule.
  qint64 LastPasteTime() const { return lastPaste_; }
  void SetLastPasteTime(qint64 t) { lastPaste_ = t; }

  // Design objects in child order (bottom first).
  const QList<TGGraphicControl*>& Objects() const { return objects_; }
  TGGraphicControl* FindObject(const QString& name) const;
  // The topmost object whose bounds contain the point; null when none.
  TGGraphicControl* ObjectAt(const QPoint& p) const;
  TGHandle* Handle() const { return handle_; }
  const QList<TGGraphicControl*>& Selection() const;

  void AddToSelection(TGGraphicControl* obj);
  void RemoveFromSelection(TGGraphicControl* obj);
  void ClearSelection();
  void SelectAll();
  // Deselects and frees every object.
  void ClearPanel();
  // Frees every object lying outside the page: top > height - 10,
  // left > width - 10, or width or height below 1.
  void DropObjectsOutside();

  // Places a new object drawn for the rectangle: panel as parent, a new
  // "Special" name, bounds from the rectangle (at least 10 x 15), the panel's
  // zoom; shows it and reports the change. The panel takes ownership.
  void PlaceObject(TGGraphicControl* obj, const QRect& rect);
  // Adds an object read from a stream (its bounds and name already set) on top;
  // it gets the panel's zoom. The panel takes ownership.
  void AdoptObject(TGGraphicControl* obj);
  // Frees one object (deselecting it first).
  void DeleteObject(TGGraphicControl* obj);
  // prefix + the first number from first to last not used by any object's name.
  QString UniqueName(const QString& prefix, int first, int last) const;

  // The panel's commands (also on its menu). The list forms serve the
  // objects' own menus.
  void BringToFront();
  void BringToFront(const QList<TGGraphicControl*>& objs);
  void SendToBack();
  void SendToBack(const QList<TGGraphicControl*>& objs);
  void DeleteSelection();
  // Frees the objects, last first.
  void DeleteObjects(const QList<TGGraphicControl*>& objs);
  void AlignLefts();
  void AlignRights();
  void AlignTops();
  void AlignBottoms();
  void CenterVertically(const QList<TGGraphicControl*>& objs);
  void CenterHorizontally(const QList<TGGraphicControl*>& objs);
  void LockAll();
  void UnlockAll();
  void MarkAllSelectable();
  void MarkAllUnselectable();
  // Opens the font dialog on the panel's font; on OK every selected object takes it.
  void ChooseFont();
  // Gives the font to every selected object (the font dialog's OK).
  void ApplyFontToSelection(const QFont& f);

  QMenu* Menu() const { return menu_; }
  // The panel menu's action with that text (without "&"); null when none.
  QAction* MenuAction(const QString& text) const;
  void PopupMenu(const QPoint& panelPos);

  // The rubber band (XOR-style dotted rectangle) being shown; empty when none.
  QRect BandRect() const { return band_; }

  // Reports a change of the design (labelChanged) unless zooming.
  void NotifyChanged();
  // Asks (through a posted call) for the frame to be refitted around the selection.
  void RequestFit();

 signals:
  void droppedObject(const QRect& rect);
  void labelChanged();
  void cutRequested(const QList<design::TGGraphicControl*>& objects);
  void copyRequested(const QList<design::TGGraphicControl*>& objects);
  void pasteRequested();
  void cloneRequested(design::TGGraphicControl* object);
  // An object is about to be freed (after it left the selection).
  void objectDeleting(design::TGGraphicControl* object);

 protected:
  // Creates the object a drawing tool makes for the (normalized) rectangle;
  // the base panel makes none.
  virtual void CreateObjectFor(const QRect& /*rect*/) {}

  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  friend class TGGraphicControl;
  friend class TGHandle;
  void BuildMenu();
  void UpdateMenuState();
  bool HandleShortcut(QKeyEvent* e);
  // Runs a command of an object's own menu on the selection when the object is
  // selected, else on the object alone.
  QList<TGGraphicControl*> Targets(TGGraphicControl* obj) const;
  void SetBand(const QRect& r);
  QPainterPath ShapePath() const;
  void PaintBackground(QPainter& p);
  void PaintMarks(QPainter& p, TGGraphicControl* obj);
  void Detach(TGGraphicControl* obj);
  void Attach(TGGraphicControl* obj);

  bool pointing_ = true;
  bool drawOutline_ = false;
  QImage picture_, colorPicture_;
  bool printing_ = false;
  TLabelShapeType shape_ = lsRoundRect;
  TGridSize gridSize_ = gs4x4;
  bool showGrid_ = false;
  bool snapToGrid_ = false;
  float zoom_ = 1.0F;
  bool changing_ = false;
  QFont panelFont_;
  QString clipboardFile_, tempFile_;
  qint64 lastPaste_ = 0;
  QList<TGGraphicControl*> objects_;
  TGHandle* handle_ = nullptr;
  QMenu* menu_ = nullptr;
  QRect band_;
  bool banding_ = false;
  QPoint bandStart_;
  bool fitPosted_ = false;
  bool forwardToHandle_ = false;  // a press selected an object: moves go to the frame
};

}  // namespace design
