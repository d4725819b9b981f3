#include "cover_objects.h"

#include <QActionGroup>
#include <QFontDialog>
#include <QFontMetrics>
#include <QPainter>
#include <QTimer>
#include <cmath>
#include <functional>

#include "cover_dialogs.h"
#include "covers/cover_render.h"

namespace covers {

using design::PublishedProperty;
using design::TGGraphicControl;

namespace {

constexpr int kWhite = 0xFFFFFF;

QStringList FontStyleIdents() {
  return {QStringLiteral("fsBold"), QStringLiteral("fsItalic"), QStringLiteral("fsUnderline"),
          QStringLiteral("fsStrikeOut")};
}
QStringList FontPitchIdents() {
  return {QStringLiteral("fpDefault"), QStringLiteral("fpVariable"), QStringLiteral("fpFixed")};
}

bool IsText(const QVariant& v) {
  return v.typeId() == QMetaType::QString;
}
bool IsInt(const QVariant& v) {
  return v.typeId() == QMetaType::Int;
}

// The value's index among the identifiers; -1 when it is not one of them.
int IdentIndex(const QVariant& v, const QStringList& idents) {
  return IsText(v) ? idents.indexOf(v.toString()) : -1;
}

QString OneLine(QString s) {
  for (QChar& c : s)
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) c = QLatin1Char(' ');
  return s;
}

QList<PublishedProperty> PenProperties() {
  using P = PublishedProperty;
  return {{QStringLiteral("Pen.Color"), P::Color, {}, 0},
          {QStringLiteral("Pen.Mode"), P::Ident, {}, QStringLiteral("pmCopy")},
          {QStringLiteral("Pen.Style"), P::Ident, {}, QStringLiteral("psSolid")},
          {QStringLiteral("Pen.Width"), P::Integer, {}, 1}};
}

QVariant GetPen(const CoverPen& pen, const QString& name) {
  if (name == QLatin1String("Pen.Color")) return pen.color;
  if (name == QLatin1String("Pen.Mode")) return pen.mode;
  if (name == QLatin1String("Pen.Style")) return pen.style;
  if (name == QLatin1String("Pen.Width")) return pen.width;
  return {};
}

// 1: set; 0: not a pen property; -1: a pen property with a value of the wrong kind.
int SetPen(CoverPen& pen, const QString& name, const QVariant& v) {
  if (!name.startsWith(QLatin1String("Pen."))) return 0;
  if (name == QLatin1String("Pen.Color") || name == QLatin1String("Pen.Width")) {
    if (!IsInt(v)) return -1;
    (name == QLatin1String("Pen.Color") ? pen.color : pen.width) = v.toInt();
    return 1;
  }
  if (name == QLatin1String("Pen.Mode") || name == QLatin1String("Pen.Style")) {
    if (!IsText(v) || v.toString().isEmpty()) return -1;
    (name == QLatin1String("Pen.Mode") ? pen.mode : pen.style) = v.toString();
    return 1;
  }
  return 0;
}

// "Line Thickness": ten items "1 Point" ... "10 Point", checked by width.
QList<QAction*> AddThicknessMenu(QMenu* menu, std::function<void(int)> set) {
  QMenu* sub = menu->addMenu(QStringLiteral("Line Thickness"));
  auto* group = new QActionGroup(sub);
  QList<QAction*> actions;
  for (int n = 1; n <= 10; ++n) {
    QAction* a = sub->addAction(QString::number(n) + QStringLiteral(" Point"), [set, n] { set(n); });
    a->setCheckable(true);
    group->addAction(a);
    actions << a;
  }
  return actions;
}

void CheckIndex(const QList<QAction*>& actions, int index) {
  for (int i = 0; i < actions.size(); ++i) actions[i]->setChecked(i == index);
}

}  // namespace

QStringList CoverFieldIdents() {
  return {QStringLiteral("cfDate"),          QStringLiteral("cfTime"),         QStringLiteral("cfRegarding"),
          QStringLiteral("cfRecipient"),     QStringLiteral("cfRecipientFax"), QStringLiteral("cfSender"),
          QStringLiteral("cfSenderCompany"), QStringLiteral("cfSenderFax"),    QStringLiteral("cfSenderVoice")};
}
QStringList ShapeFillIdents() {
  return {QStringLiteral("sftTransparent"), QStringLiteral("sftFilledWhite"), QStringLiteral("sftFilledBlack")};
}
QStringList ShapeTypeIdents() {
  return {QStringLiteral("stRectangle"),   QStringLiteral("stSquare"),  QStringLiteral("stRoundRect"),
          QStringLiteral("stRoundSquare"), QStringLiteral("stEllipse"), QStringLiteral("stCircle")};
}
QStringList LineStyleIdents() {
  return {QStringLiteral("stHorizontal"), QStringLiteral("stVertical"), QStringLiteral("stAngleSlopingUp"),
          QStringLiteral("stAngleSlopingDown")};
}

// ---------------------------------------------------------------------------
// CoverFont

int CoverFont::Size() const {
  return static_cast<int>(std::lround(-height * 72.0 / 96.0));
}

void CoverFont::SetSize(int points) {
  height = -static_cast<int>(std::lround(points * 96.0 / 72.0));
}

QFont CoverFont::ToQFont(float zoom) const {
  int points = Size();
  if (zoom != 1.0F) points = static_cast<int>(std::lround(points * static_cast<double>(zoom)));
  // The same resolution and pixel sizing as printed covers: the record's size
  // is taken as points here (no doubling: the panel is at 96 per inch).
  TemplateRecord r;
  r.fontName = name.toStdString();
  r.fontSize = std::max(points, 1);
  r.bold = bold;
  r.italic = italic;
  r.underline = underline;
  QFont f = TemplateFont(r, 1);
  f.setStrikeOut(strikeOut);
  return f;
}

CoverFont CoverFont::FromQFont(const QFont& f, int color) {
  CoverFont c;
  c.name = f.family();
  const int points = f.pointSize() > 0 ? f.pointSize() : static_cast<int>(std::lround(f.pixelSize() * 72.0 / 96.0));
  c.SetSize(std::max(points, 1));
  c.bold = f.bold();
  c.italic = f.italic();
  c.underline = f.underline();
  c.strikeOut = f.strikeOut();
  c.color = color;
  return c;
}

int ZoomedPenWidth(int width, float zoom) {
  if (zoom == 1.0F) return width;
  return static_cast<int>(std::trunc(width * static_cast<double>(zoom)));
}

// ---------------------------------------------------------------------------
// TFaxCoverBaseLabel

TFaxCoverBaseLabel::TFaxCoverBaseLabel() : caption_(QStringLiteral("Text")) {
  SetBoundsQuiet(QRect(0, 0, 142, 33));
}

void TFaxCoverBaseLabel::SetCaption(const QString& c) {
  caption_ = c;
  ContentChanged();
}

void TFaxCoverBaseLabel::SetFont(const CoverFont& f) {
  font_ = f;
  ContentChanged();
}

void TFaxCoverBaseLabel::ContentChanged() {
  if (!Loading()) {
    if (GrowsToFit()) GrowToFit();
    SetBounds(BoundsRect());
  }
  Changed();
}

void TFaxCoverBaseLabel::ApplyEditedFont(const CoverFont& f) {
  CoverFont font = f;
  // Fax pages are black and white: any other colour prints as black.
  if (font.color != 0 && font.color != kWhite) font.color = 0;
  SetFont(font);
}

void TFaxCoverBaseLabel::EditFont() {
  QFont start(font_.name);
  start.setPointSize(std::max(font_.Size(), 1));
  start.setBold(font_.bold);
  start.setItalic(font_.italic);
  start.setUnderline(font_.underline);
  start.setStrikeOut(font_.strikeOut);
  bool ok = false;
  const QFont f = QFontDialog::getFont(&ok, start, DialogParent(), QString(), QFontDialog::DontUseNativeDialog);
  if (ok) ApplyEditedFont(CoverFont::FromQFont(f, font_.color));
}

QList<PublishedProperty> TFaxCoverBaseLabel::PublishedProperties() const {
  using P = PublishedProperty;
  QList<P> list = TGGraphicControl::PublishedProperties();
  list << P{QStringLiteral("Caption"), P::Text, {}, QString()} << P{QStringLiteral("Font.Color"), P::Color, {}, {}}
       << P{QStringLiteral("Font.Height"), P::Integer, {}, {}} << P{QStringLiteral("Font.Name"), P::Text, {}, {}}
       << P{QStringLiteral("Font.Pitch"), P::Ident, FontPitchIdents(), QStringLiteral("fpDefault")}
       << P{QStringLiteral("Font.Style"), P::Set, FontStyleIdents(), {}};
  return list;
}

QVariant TFaxCoverBaseLabel::GetPublished(const QString& name) const {
  if (name == QLatin1String("Caption")) return caption_;
  if (name == QLatin1String("Font.Color")) return font_.color;
  if (name == QLatin1String("Font.Height")) return font_.height;
  if (name == QLatin1String("Font.Name")) return font_.name;
  if (name == QLatin1String("Font.Pitch")) return FontPitchIdents().at(font_.pitch);
  if (name == QLatin1String("Font.Style")) {
    QStringList set;
    const QStringList ids = FontStyleIdents();
    if (font_.bold) set << ids[0];
    if (font_.italic) set << ids[1];
    if (font_.underline) set << ids[2];
    if (font_.strikeOut) set << ids[3];
    return set;
  }
  return TGGraphicControl::GetPublished(name);
}

bool TFaxCoverBaseLabel::SetPublished(const QString& name, const QVariant& v) {
  CoverFont f = font_;
  if (name == QLatin1String("Caption")) {
    if (!IsText(v)) return false;
    SetCaption(v.toString());
    return true;
  }
  if (name == QLatin1String("Font.Color") || name == QLatin1String("Font.Height")) {
    if (!IsInt(v)) return false;
    (name == QLatin1String("Font.Color") ? f.color : f.height) = v.toInt();
  } else if (name == QLatin1String("Font.Name")) {
    if (!IsText(v)) return false;
    f.name = v.toString();
  } else if (name == QLatin1String("Font.Pitch")) {
    const int i = IdentIndex(v, FontPitchIdents());
    if (i < 0) return false;
    f.pitch = static_cast<CoverFont::Pitch>(i);
  } else if (name == QLatin1String("Font.Style")) {
    if (v.typeId() != QMetaType::QStringList) return false;
    const QStringList set = v.toStringList(), ids = FontStyleIdents();
    for (const QString& m : set)
      if (!ids.contains(m)) return false;
    f.bold = set.contains(ids[0]);
    f.italic = set.contains(ids[1]);
    f.underline = set.contains(ids[2]);
    f.strikeOut = set.contains(ids[3]);
  } else {
    return TGGraphicControl::SetPublished(name, v);
  }
  SetFont(f);
  return true;
}

QSize TFaxCoverBaseLabel::TextExtent() const {
  const QFontMetrics fm(font_.ToQFont(Zoom()));
  return {fm.horizontalAdvance(OneLine(caption_) + QLatin1Char(' ')), fm.height()};
}

void TFaxCoverBaseLabel::GrowToFit() {
  const QSize need = TextExtent();
  QRect b = BoundsRect();
  b.setWidth(std::max(b.width(), need.width()));
  b.setHeight(std::max(b.height(), need.height()));
  SetBoundsQuiet(b);
}

void TFaxCoverBaseLabel::FitToContent() {
  QRect b = BoundsRect();
  b.setWidth(std::max(b.width(), 1));
  b.setHeight(std::max(b.height(), 1));
  SetBoundsQuiet(b);
}

void TFaxCoverBaseLabel::TakeFont(const QFont& font) {
  SetFont(CoverFont::FromQFont(font, font_.color));
}

void TFaxCoverBaseLabel::Paint(QPainter& p) {
  const QFont f = font_.ToQFont(Zoom());
  p.setFont(f);
  p.setBrush(Qt::NoBrush);
  p.setPen(design::ColorFromNumber(font_.color));
  p.drawText(QPoint(0, QFontMetrics(f).ascent()), OneLine(caption_));
}

void TFaxCoverBaseLabel::BuildMenu(QMenu* menu) {
  menu->addSeparator();
  menu->addAction(QStringLiteral("Font"), [this] { EditFont(); });
}

// ---------------------------------------------------------------------------

bool TFaxCoverLabel::EditText() {
  TCoverTextDialog d(caption_, DialogParent());
  if (d.exec() != QDialog::Accepted) return false;
  SetCaption(d.Text());
  return true;
}

void TFaxCoverLabel::BuildMenu(QMenu* menu) {
  TFaxCoverBaseLabel::BuildMenu(menu);
  menu->addAction(QStringLiteral("Text"), [this] { EditText(); });
}

TFaxCoverSymbol::TFaxCoverSymbol() {
  font_.name = QStringLiteral("WingDings");
  font_.SetSize(24);
  caption_ = QStringLiteral("[");
}

void TFaxCoverSymbol::FitToContent() {
  TFaxCoverBaseLabel::FitToContent();
  if (Loading() || !Panel()) return;
  const QFontMetrics fm(font_.ToQFont(Zoom()));
  QRect b = BoundsRect();
  b.setWidth(static_cast<int>(std::lround(fm.horizontalAdvance(OneLine(caption_)) * 1.1)));
  b.setHeight(static_cast<int>(std::lround(fm.height() * 1.1)));
  b.setWidth(std::max(b.width(), 1));
  b.setHeight(std::max(b.height(), 1));
  SetBoundsQuiet(b);
}

bool TFaxCoverSymbol::EditSymbol() {
  QFont start(font_.name);
  start.setPointSize(std::max(font_.Size(), 1));
  start.setBold(font_.bold);
  start.setItalic(font_.italic);
  start.setUnderline(font_.underline);
  const int code = caption_.isEmpty() ? 32 : caption_.at(0).unicode();
  TRuneboardDialog d(start, code, DialogParent());
  if (d.exec() != QDialog::Accepted) return false;
  caption_ = QString(QChar(d.Character()));
  SetFont(CoverFont::FromQFont(d.ChosenFont(), font_.color));
  return true;
}

void TFaxCoverSymbol::BuildMenu(QMenu* menu) {
  TFaxCoverBaseLabel::BuildMenu(menu);
  const QList<QAction*> actions = menu->actions();
  for (QAction* a : actions)
    if (a->text() == QLatin1String("Font")) menu->removeAction(a);
  menu->addAction(QStringLiteral("Runeboard"), [this] { EditSymbol(); });
}

TFaxCoverImportance::TFaxCoverImportance() {
  caption_ = QString::fromLatin1(kImportanceText);
}

TFaxCoverField::TFaxCoverField() {
  caption_ = QStringLiteral("[Date]");
}

void TFaxCoverField::SetCoverFieldType(TCoverFieldType t) {
  fieldType_ = t;
  caption_ = QStringLiteral("[") + QString::fromLatin1(kCoverFieldNames.at(t)) + QStringLiteral("]");
  ContentChanged();
}

QList<PublishedProperty> TFaxCoverField::PublishedProperties() const {
  QList<PublishedProperty> list = TFaxCoverBaseLabel::PublishedProperties();
  list << PublishedProperty{QStringLiteral("CoverFieldType"), PublishedProperty::Ident, CoverFieldIdents(), {}};
  return list;
}

QVariant TFaxCoverField::GetPublished(const QString& name) const {
  if (name == QLatin1String("CoverFieldType")) return CoverFieldIdents().at(fieldType_);
  return TFaxCoverBaseLabel::GetPublished(name);
}

bool TFaxCoverField::SetPublished(const QString& name, const QVariant& v) {
  if (name != QLatin1String("CoverFieldType")) return TFaxCoverBaseLabel::SetPublished(name, v);
  const int i = IdentIndex(v, CoverFieldIdents());
  if (i < 0) return false;
  // A stored caption stays as stored: only the kind is read.
  fieldType_ = static_cast<TCoverFieldType>(i);
  Changed();
  return true;
}

void TFaxCoverField::BuildMenu(QMenu* menu) {
  TFaxCoverBaseLabel::BuildMenu(menu);
  QMenu* sub = menu->addMenu(QStringLiteral("Field"));
  auto* group = new QActionGroup(sub);
  for (int i = 0; i < kCoverFieldCount; ++i) {
    QAction* a = sub->addAction(QString::fromLatin1(kCoverFieldNames.at(i)),
                                [this, i] { SetCoverFieldType(static_cast<TCoverFieldType>(i)); });
    a->setCheckable(true);
    group->addAction(a);
    fieldActions_ << a;
  }
}

void TFaxCoverField::UpdateMenu() {
  CheckIndex(fieldActions_, fieldType_);
}

TFaxCoverMessage::TFaxCoverMessage() {
  caption_ = QStringLiteral("[Fax Message]");
}

void TFaxCoverMessage::Paint(QPainter& p) {
  TFaxCoverBaseLabel::Paint(p);
  p.setPen(QPen(Qt::black, 1, Qt::DotLine));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(0, 0, Width() - 1, Height() - 1));
}

// ---------------------------------------------------------------------------
// TFaxCoverShapes

TFaxCoverShapes::TFaxCoverShapes() {
  SetBoundsQuiet(QRect(0, 0, 25, 25));
}

void TFaxCoverShapes::SetShapeFilltype(TShapeFillType f) {
  fill_ = f;
  Changed();
}

void TFaxCoverShapes::SetPenWidth(int w) {
  pen_.width = w;
  Changed();
}

void TFaxCoverShapes::SetRoundPerc(int p) {
  roundPerc_ = p;
  Changed();
}

void TFaxCoverShapes::SetShape(TShapeType s) {
  shape_ = s;
  Changed();
}

QList<PublishedProperty> TFaxCoverShapes::PublishedProperties() const {
  using P = PublishedProperty;
  QList<P> list = TGGraphicControl::PublishedProperties();
  list << P{QStringLiteral("ShapeFilltype"), P::Ident, ShapeFillIdents(), {}};
  list << PenProperties();
  list << P{QStringLiteral("RoundPerc"), P::Integer, {}, 25}
       << P{QStringLiteral("Shape"), P::Ident, ShapeTypeIdents(), QStringLiteral("stRectangle")};
  return list;
}

QVariant TFaxCoverShapes::GetPublished(const QString& name) const {
  if (name == QLatin1String("ShapeFilltype")) return ShapeFillIdents().at(fill_);
  if (name == QLatin1String("RoundPerc")) return roundPerc_;
  if (name == QLatin1String("Shape")) return ShapeTypeIdents().at(shape_);
  const QVariant pen = GetPen(pen_, name);
  return pen.isValid() ? pen : TGGraphicControl::GetPublished(name);
}

bool TFaxCoverShapes::SetPublished(const QString& name, const QVariant& v) {
  if (name == QLatin1String("ShapeFilltype")) {
    const int i = IdentIndex(v, ShapeFillIdents());
    if (i < 0) return false;
    SetShapeFilltype(static_cast<TShapeFillType>(i));
    return true;
  }
  if (name == QLatin1String("Shape")) {
    const int i = IdentIndex(v, ShapeTypeIdents());
    if (i < 0) return false;
    SetShape(static_cast<TShapeType>(i));
    return true;
  }
  if (name == QLatin1String("RoundPerc")) {
    if (!IsInt(v)) return false;
    SetRoundPerc(v.toInt());
    return true;
  }
  const int pen = SetPen(pen_, name, v);
  if (pen != 0) {
    Changed();
    return pen > 0;
  }
  return TGGraphicControl::SetPublished(name, v);
}

void TFaxCoverShapes::Paint(QPainter& p) {
  const int w = Width(), h = Height();
  int pw = ZoomedPenWidth(pen_.width, Zoom());
  if (pen_.width >= 1) pw = std::max(pw, 1);
  const int half = pw / 2;
  QPen pen(Qt::black);
  pen.setWidth(pw);
  pen.setJoinStyle(Qt::MiterJoin);
  p.setPen(pw > 0 ? pen : QPen(Qt::NoPen));
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  switch (fill_) {
    case sftFilledWhite:
      p.setBrush(Qt::white);
      break;
    case sftFilledBlack:
      p.setBrush(Qt::black);
      break;
    default:
      p.setBrush(Qt::NoBrush);
  }
  // The figure's exclusive corners (half, half)-(w - pw + half + 1, h - pw + half + 1)
  // keep the whole stroke inside the object; Qt rectangles are inclusive.
  const QRect r(half, half, std::max(w - pw, 0), std::max(h - pw, 0));
  switch (shape_) {
    case stRectangle:
    case stSquare:
      p.drawRect(r);
      break;
    case stRoundRect:
    case stRoundSquare: {
      const double rr = std::round(roundPerc_ * 0.01 * std::max(w, h));
      p.drawRoundedRect(r, rr / 2, rr / 2);
      break;
    }
    case stEllipse:
    case stCircle:
      p.drawEllipse(r);
      break;
  }
}

void TFaxCoverShapes::BuildMenu(QMenu* menu) {
  menu->addSeparator();
  widthActions_ = AddThicknessMenu(menu, [this](int n) { SetPenWidth(n); });
  menu->addSeparator();
  auto* group = new QActionGroup(menu);
  const char* fills[] = {"Transparent", "Filled - White", "Filled - Black"};
  for (int i = 0; i < 3; ++i) {
    QAction* a =
        menu->addAction(QString::fromLatin1(fills[i]), [this, i] { SetShapeFilltype(static_cast<TShapeFillType>(i)); });
    a->setCheckable(true);
    group->addAction(a);
    fillActions_ << a;
  }
  roundSeparator_ = menu->addSeparator();
  roundMenu_ = menu->addMenu(QStringLiteral("Degree of Rounding"));
  for (int perc = 20; perc <= 80; perc += 10) {
    QAction* a =
        roundMenu_->addAction(QString::number(perc) + QStringLiteral(" %"), [this, perc] { SetRoundPerc(perc); });
    a->setCheckable(true);
    roundActions_ << a;
  }
  UpdateMenu();
}

void TFaxCoverShapes::UpdateMenu() {
  CheckIndex(widthActions_, pen_.width - 1);
  CheckIndex(fillActions_, fill_);
  CheckIndex(roundActions_, roundPerc_ % 10 == 0 ? roundPerc_ / 10 - 2 : -1);
  // Only rounded shapes have a degree of rounding.
  const bool rounded = shape_ == stRoundRect || shape_ == stRoundSquare;
  roundSeparator_->setVisible(rounded);
  roundMenu_->menuAction()->setVisible(rounded);
}

// ---------------------------------------------------------------------------
// TFaxCoverLine

TFaxCoverLine::TFaxCoverLine() {
  SetBoundsQuiet(QRect(0, 0, 10, 10));
}

void TFaxCoverLine::SetLineStyle(TLineStyle s) {
  style_ = s;
  Changed();
}

void TFaxCoverLine::SetPenWidth(int w) {
  pen_.width = w;
  Changed();
}

void TFaxCoverLine::StretchToEdges() {
  if (!Panel()) return;
  if (style_ == stHorizontal)
    SetBounds(0, Top(), Panel()->width(), Height());
  else if (style_ == stVertical)
    SetBounds(Left(), 0, Width(), Panel()->height());
}

QList<PublishedProperty> TFaxCoverLine::PublishedProperties() const {
  QList<PublishedProperty> list = TGGraphicControl::PublishedProperties();
  list << PenProperties();
  list << PublishedProperty{QStringLiteral("LineStyle"), PublishedProperty::Ident, LineStyleIdents(),
                            QStringLiteral("stHorizontal")};
  return list;
}

QVariant TFaxCoverLine::GetPublished(const QString& name) const {
  if (name == QLatin1String("LineStyle")) return LineStyleIdents().at(style_);
  const QVariant pen = GetPen(pen_, name);
  return pen.isValid() ? pen : TGGraphicControl::GetPublished(name);
}

bool TFaxCoverLine::SetPublished(const QString& name, const QVariant& v) {
  if (name == QLatin1String("LineStyle")) {
    const int i = IdentIndex(v, LineStyleIdents());
    if (i < 0) return false;
    SetLineStyle(static_cast<TLineStyle>(i));
    return true;
  }
  const int pen = SetPen(pen_, name, v);
  if (pen != 0) {
    Changed();
    return pen > 0;
  }
  return TGGraphicControl::SetPublished(name, v);
}

void TFaxCoverLine::Paint(QPainter& p) {
  const int w = Width(), h = Height();
  const int pw = ZoomedPenWidth(pen_.width, Zoom());
  const int half = pw / 2;
  QPen pen(Qt::black);
  pen.setWidth(std::max(pw, 0));
  pen.setCapStyle(Qt::FlatCap);
  p.setPen(pen);
  switch (style_) {
    case stHorizontal:
      p.drawLine(half, half, w + half - pw + 1, half);
      break;
    case stVertical:
      p.drawLine(half, half, half, h + half - pw + 1);
      break;
    case stAngleSlopingUp:
      p.drawLine(w, 0, 0, h);
      break;
    case stAngleSlopingDown:
      p.drawLine(0, 0, w, h);
      break;
  }
}

void TFaxCoverLine::BuildMenu(QMenu* menu) {
  menu->addSeparator();
  QMenu* sub = menu->addMenu(QStringLiteral("Style"));
  auto* group = new QActionGroup(sub);
  const char* styles[] = {"Horizontal", "Vertical", "Angled Sloping Up", "Angled Sloping Down"};
  for (int i = 0; i < 4; ++i) {
    QAction* a =
        sub->addAction(QString::fromLatin1(styles[i]), [this, i] { SetLineStyle(static_cast<TLineStyle>(i)); });
    a->setCheckable(true);
    group->addAction(a);
    styleActions_ << a;
  }
  widthActions_ = AddThicknessMenu(menu, [this](int n) { SetPenWidth(n); });
  menu->addSeparator();
  menu->addAction(QStringLiteral("Stretch To Edges"), [this] { StretchToEdges(); });
}

void TFaxCoverLine::UpdateMenu() {
  CheckIndex(styleActions_, style_);
  CheckIndex(widthActions_, pen_.width - 1);
}

// ---------------------------------------------------------------------------

std::unique_ptr<TGGraphicControl> CreateCoverObject(const QString& className) {
  if (className == QLatin1String("TFaxCoverLabel")) return std::make_unique<TFaxCoverLabel>();
  if (className == QLatin1String("TFaxCoverSymbol")) return std::make_unique<TFaxCoverSymbol>();
  if (className == QLatin1String("TFaxCoverImportance")) return std::make_unique<TFaxCoverImportance>();
  if (className == QLatin1String("TFaxCoverField")) return std::make_unique<TFaxCoverField>();
  if (className == QLatin1String("TFaxCoverMessage")) return std::make_unique<TFaxCoverMessage>();
  if (className == QLatin1String("TFaxCoverShapes")) return std::make_unique<TFaxCoverShapes>();
  if (className == QLatin1String("TFaxCoverLine")) return std::make_unique<TFaxCoverLine>();
  return nullptr;
}

// ---------------------------------------------------------------------------
// TFaxCoverPanel

TFaxCoverPanel::TFaxCoverPanel(QWidget* parent) : TGBasePanel(parent) {
  resize(kPageWidth, kPageHeight);
  QFont f(QStringLiteral("Arial"));
  f.setPointSize(10);
  SetPanelFont(f);
}

void TFaxCoverPanel::SetPanelState(TLPanelState s) {
  state_ = s;
  SetPointing(s == psPointing);
}

TGGraphicControl* TFaxCoverPanel::LastCreated() const {
  return lastCreated_.isEmpty() ? nullptr : FindObject(lastCreated_);
}

void TFaxCoverPanel::CreateObjectFor(const QRect& rect) {
  int l = rect.x(), t = rect.y(), r = rect.x() + rect.width(), b = rect.y() + rect.height();
  if (r - l < 25) r = l + 50;
  if (b - t < 15) b = t + 15;
  std::unique_ptr<TGGraphicControl> obj;
  switch (state_) {
    case psLabel: {
      auto label = std::make_unique<TFaxCoverLabel>();
      label->SetLoading(true);  // no fitting before the drawn bounds are set
      label->SetCaption(QStringLiteral("<text>"));
      label->SetFont(CoverFont::FromQFont(PanelFont()));
      label->SetLoading(false);
      obj = std::move(label);
      break;
    }
    case psSymbolLabel:
      obj = std::make_unique<TFaxCoverSymbol>();
      break;
    case psRectangle:
    case psEllipse:
    case psRoundRectangle: {
      auto shape = std::make_unique<TFaxCoverShapes>();
      shape->SetShape(state_ == psRectangle ? stRectangle : state_ == psEllipse ? stEllipse : stRoundRect);
      obj = std::move(shape);
      break;
    }
    case psLine: {
      // The drag's longer side gives the direction: a wide drag draws a
      // horizontal line, a tall one a vertical line.
      auto line = std::make_unique<TFaxCoverLine>();
      line->SetLineStyle(rect.height() > rect.width() ? stVertical : stHorizontal);
      obj = std::move(line);
      break;
    }
    case psMessage: {
      auto msg = std::make_unique<TFaxCoverMessage>();
      msg->SetLoading(true);
      msg->SetFont(CoverFont::FromQFont(PanelFont()));
      msg->SetLoading(false);
      obj = std::move(msg);
      break;
    }
    case psImportance:
      obj = std::make_unique<TFaxCoverImportance>();
      break;
    case psField:
      obj = std::make_unique<TFaxCoverField>();
      break;
    default:
      return;
  }
  TGGraphicControl* placed = obj.release();
  PlaceObject(placed, QRect(l, t, r - l, b - t));
  lastCreated_ = placed->Name();
  if (!editAfterCreate_) return;
  // The dialog opens once the mouse release that drew the object is done.
  const QString name = placed->Name();
  QTimer::singleShot(0, this, [this, name] {
    if (TGGraphicControl* o = FindObject(name)) o->EditAfterCreate();
  });
}

}  // namespace covers
