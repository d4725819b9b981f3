// The cover sheet's design objects and the cover design panel: static text,
// symbol, importance row, merge field, message box, shape and line on a
// TFaxCoverPanel, with their defaults, painting, menus and editing dialogs.
//
// Conventions callers rely on:
//  - Objects follow the design surface's published-property convention
//    (design_surface.h). Each class lists, in writing order, the properties
//    an object stream stores: the base's Tag, Left, Top, Width, Height, Cursor,
//    Hint, Locked, Unselectable, then
//      text-like:  Caption (Text, suppressed ""), Font.Color (Color, always),
//                  Font.Height (Integer, always), Font.Name (Text, always),
//                  Font.Pitch (Ident, suppressed "fpDefault"), Font.Style (Set,
//                  always); TFaxCoverField adds CoverFieldType (Ident, always);
//      shapes:     ShapeFilltype (Ident, always), Pen.Color (suppressed black 0),
//                  Pen.Mode ("pmCopy"), Pen.Style ("psSolid"), Pen.Width (1),
//                  RoundPerc (25), Shape ("stRectangle");
//      lines:      Pen.Color, Pen.Mode, Pen.Style, Pen.Width as shapes,
//                  LineStyle ("stHorizontal").
//    Pen.Mode and Pen.Style accept any identifier and keep it as read (the
//    objects always paint black, copy, solid).
//  - Font.Height is the font size as a negative pixel height at 96 per inch;
//    the size in points follows from it (CoverFont::Size).
//  - Every text in an object is a QString; the flat template stores it as the
//    stream layer encodes it.
//  - CreateCoverObject(className) makes an object of any of the seven classes
//    with its defaults (null for an unknown name), for reading streams back.
#pragma once

#include <QString>
#include <memory>

#include "covers/cover_template.h"
#include "covers/design/design_surface.h"

namespace covers {

// A text object's font as stored: name, negative pixel height at 96 per inch,
// pitch, style and colour number.
struct CoverFont {
  enum Pitch { fpDefault, fpVariable, fpFixed };
  QString name = QStringLiteral("Arial");
  int height = -13;  // 10 points
  Pitch pitch = fpDefault;
  bool bold = false, italic = false, underline = false, strikeOut = false;
  int color = 0;  // black

  // Size in points: -height x 72 / 96, rounded.
  int Size() const;
  void SetSize(int points);
  // The font to paint with (name resolved through fontconfig), in pixels,
  // scaled by the zoom factor (size rounded).
  QFont ToQFont(float zoom = 1.0F) const;
  // Takes name, size and style of a QFont (the colour stays).
  static CoverFont FromQFont(const QFont& f, int color = 0);
  bool operator==(const CoverFont&) const = default;
};

struct CoverPen {
  int color = 0;
  QString mode = QStringLiteral("pmCopy");
  QString style = QStringLiteral("psSolid");
  int width = 1;
  bool operator==(const CoverPen&) const = default;
};

// Identifiers of the merge field kinds ("cfDate" ... "cfSenderVoice"), of the
// fill types, shape types and line styles, in the order of their values.
QStringList CoverFieldIdents();
QStringList ShapeFillIdents();
QStringList ShapeTypeIdents();
QStringList LineStyleIdents();

class TFaxCoverBaseLabel : public design::TGGraphicControl {
 public:
  TFaxCoverBaseLabel();
  QString Caption() const { return caption_; }
  void SetCaption(const QString& c);
  const CoverFont& Font() const { return font_; }
  void SetFont(const CoverFont& f);
  // The font dialog's result: a colour other than white or black becomes
  // black; text, importance and field objects then grow to fit.
  void ApplyEditedFont(const CoverFont& f);
  // Opens the font dialog on the object's font.
  void EditFont();

  QList<design::PublishedProperty> PublishedProperties() const override;
  QVariant GetPublished(const QString& name) const override;
  bool SetPublished(const QString& name, const QVariant& value) override;
  void Paint(QPainter& p) override;
  void FitToContent() override;
  void TakeFont(const QFont& font) override;

  // Width of the caption plus one blank and height of the caption, zoomed font.
  QSize TextExtent() const;

 protected:
  void BuildMenu(QMenu* menu) override;
  // Text, importance and field objects grow to fit their text.
  virtual bool GrowsToFit() const { return true; }
  void GrowToFit();
  // After a text or font change: grow or fit, refit the frame, report the change.
  void ContentChanged();

  QString caption_;
  CoverFont font_;
};

class TFaxCoverLabel : public TFaxCoverBaseLabel {
 public:
  TFaxCoverLabel() = default;
  QString ClassName() const override { return QStringLiteral("TFaxCoverLabel"); }
  // The "Text" dialog on the caption; true on OK.
  bool EditText();
  void EditAfterCreate() override { EditText(); }

 protected:
  void BuildMenu(QMenu* menu) override;
};

class TFaxCoverSymbol : public TFaxCoverBaseLabel {
 public:
  TFaxCoverSymbol();
  QString ClassName() const override { return QStringLiteral("TFaxCoverSymbol"); }
  // The "Runeboard" dialog; true on OK.
  bool EditSymbol();
  void EditAfterCreate() override { EditSymbol(); }
  void FitToContent() override;
  void TakeFont(const QFont&) override {}

 protected:
  void BuildMenu(QMenu* menu) override;
};

class TFaxCoverImportance : public TFaxCoverBaseLabel {
 public:
  TFaxCoverImportance();
  QString ClassName() const override { return QStringLiteral("TFaxCoverImportance"); }
};

class TFaxCoverField : public TFaxCoverBaseLabel {
 public:
  TFaxCoverField();
  QString ClassName() const override { return QStringLiteral("TFaxCoverField"); }
  TCoverFieldType CoverFieldType() const { return fieldType_; }
  // Sets the kind and the caption "[" + its menu text + "]", then grows to fit.
  void SetCoverFieldType(TCoverFieldType t);

  QList<design::PublishedProperty> PublishedProperties() const override;
  QVariant GetPublished(const QString& name) const override;
  bool SetPublished(const QString& name, const QVariant& value) override;

 protected:
  void BuildMenu(QMenu* menu) override;
  void UpdateMenu() override;

 private:
  TCoverFieldType fieldType_ = cfDate;
  QList<QAction*> fieldActions_;
};

class TFaxCoverMessage : public TFaxCoverBaseLabel {
 public:
  TFaxCoverMessage();
  QString ClassName() const override { return QStringLiteral("TFaxCoverMessage"); }
  void Paint(QPainter& p) override;

 protected:
  bool GrowsToFit() const override { return false; }
};

// Line width in pixels when painting at zoom z: trunc(width x z) when z is not 1.
int ZoomedPenWidth(int width, float zoom);

class TFaxCoverShapes : public design::TGGraphicControl {
 public:
  TFaxCoverShapes();
  QString ClassName() const override { return QStringLiteral("TFaxCoverShapes"); }
  TShapeFillType ShapeFilltype() const { return fill_; }
  void SetShapeFilltype(TShapeFillType f);
  const CoverPen& Pen() const { return pen_; }
  void SetPenWidth(int w);
  int RoundPerc() const { return roundPerc_; }
  void SetRoundPerc(int p);
  TShapeType Shape() const { return shape_; }
  void SetShape(TShapeType s);

  QList<design::PublishedProperty> PublishedProperties() const override;
  QVariant GetPublished(const QString& name) const override;
  bool SetPublished(const QString& name, const QVariant& value) override;
  void Paint(QPainter& p) override;

 protected:
  void BuildMenu(QMenu* menu) override;
  void UpdateMenu() override;

 private:
  TShapeFillType fill_ = sftTransparent;
  CoverPen pen_;
  int roundPerc_ = 25;
  TShapeType shape_ = stRectangle;
  QList<QAction*> widthActions_, fillActions_, roundActions_;
  QMenu* roundMenu_ = nullptr;
  QAction* roundSeparator_ = nullptr;
};

class TFaxCoverLine : public design::TGGraphicControl {
 public:
  TFaxCoverLine();
  QString ClassName() const override { return QStringLiteral("TFaxCoverLine"); }
  TLineStyle LineStyle() const { return style_; }
  void SetLineStyle(TLineStyle s);
  const CoverPen& Pen() const { return pen_; }
  void SetPenWidth(int w);
  // A horizontal line spans the panel's width, a vertical one its height.
  void StretchToEdges();

  QList<design::PublishedProperty> PublishedProperties() const override;
  QVariant GetPublished(const QString& name) const override;
  bool SetPublished(const QString& name, const QVariant& value) override;
  void Paint(QPainter& p) override;

 protected:
  void BuildMenu(QMenu* menu) override;
  void UpdateMenu() override;

 private:
  TLineStyle style_ = stHorizontal;
  CoverPen pen_;
  QList<QAction*> styleActions_, widthActions_;
};

// A new object of one of the seven classes by its stream class name; null for
// any other name.
std::unique_ptr<design::TGGraphicControl> CreateCoverObject(const QString& className);

// The cover sheet's design panel: 768 x 960 pixels (8 x 10 inches) at zoom 1,
// with the drawing tools.
class TFaxCoverPanel : public design::TGBasePanel {
  Q_OBJECT
 public:
  enum TLPanelState {
    psPointing,
    psLabel,
    psSymbolLabel,
    psRectangle,
    psEllipse,
    psRoundRectangle,
    psLine,
    psMessage,
    psImportance,
    psField
  };
  Q_ENUM(TLPanelState)
  static constexpr int kPageWidth = 768;
  static constexpr int kPageHeight = 960;

  explicit TFaxCoverPanel(QWidget* parent = nullptr);
  TLPanelState PanelState() const { return state_; }
  // Anything but psPointing turns pointing off (drawing cursor); psPointing on.
  void SetPanelState(TLPanelState s);
  // Whether new objects open their editing dialog right after they are drawn
  // (on by default).
  void SetEditAfterCreate(bool on) { editAfterCreate_ = on; }

  // The object last made with a drawing tool (null when none yet or freed).
  design::TGGraphicControl* LastCreated() const;

 protected:
  void CreateObjectFor(const QRect& rect) override;

 private:
  TLPanelState state_ = psPointing;
  bool editAfterCreate_ = true;
  QString lastCreated_;
};

}  // namespace covers
