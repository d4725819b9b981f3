// The cover objects on the cover design panel: drawing each kind with its tool,
// the editing dialogs and menus, the published properties a stream layer saves
// and loads, and what the objects paint.
#include "covers/objects/cover_objects.h"

#include <QAction>
#include <QDir>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "covers/objects/cover_dialogs.h"
#include "design_test_util.h"
#include "modal_script.h"

using namespace covers;
using design::PublishedProperty;
using design::TGGraphicControl;
using qntest::Drag;
using qntest::ModalScript;

namespace {

// A value of the property's kind that differs from every default.
QVariant OtherValue(const PublishedProperty& p) {
  switch (p.kind) {
    case PublishedProperty::Integer:
      return p.name == QLatin1String("Font.Height") ? -19 : 37;
    case PublishedProperty::Text:
      return QStringLiteral("Zz \u00e9");
    case PublishedProperty::Flag:
      return true;
    case PublishedProperty::Color:
      return 0x0000FF;
    case PublishedProperty::Ident:
      return p.idents.isEmpty() ? QStringLiteral("pmXor") : p.idents.back();
    case PublishedProperty::Set:
      return p.idents;
  }
  return {};
}

QStringList AllClasses() {
  return {QStringLiteral("TFaxCoverLabel"), QStringLiteral("TFaxCoverSymbol"),  QStringLiteral("TFaxCoverImportance"),
          QStringLiteral("TFaxCoverField"), QStringLiteral("TFaxCoverMessage"), QStringLiteral("TFaxCoverShapes"),
          QStringLiteral("TFaxCoverLine")};
}

}  // namespace

class CoverObjectsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TFaxCoverPanel> panel_;

  template <class T>
  T* Place(QRect r) {
    auto* o = new T;
    panel_->PlaceObject(o, r);
    return o;
  }

 private slots:
  void initTestCase() { qputenv("QUILLON_HOME", QDir::tempPath().toUtf8() + "/qn-cover-objects-test/"); }
  void init() {
    panel_ = std::make_unique<TFaxCoverPanel>();
    panel_->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
  }
  void cleanup() { panel_.reset(); }

  void defaults() {
    QCOMPARE(panel_->size(), QSize(768, 960));
    TFaxCoverLabel label;
    QCOMPARE(label.BoundsRect().size(), QSize(142, 33));
    QCOMPARE(label.Caption(), QStringLiteral("Text"));
    QCOMPARE(label.Font().name, QStringLiteral("Arial"));
    QCOMPARE(label.Font().Size(), 10);
    QCOMPARE(label.Font().height, -13);
    TFaxCoverSymbol symbol;
    QCOMPARE(symbol.Font().height, -32);
    QCOMPARE(symbol.Caption(), QStringLiteral("["));
    QCOMPARE(TFaxCoverMessage().Caption(), QStringLiteral("[Fax Message]"));
    QCOMPARE(TFaxCoverImportance().Caption(), QString::fromLatin1(kImportanceText));
    QCOMPARE(TFaxCoverField().Caption(), QStringLiteral("[Date]"));
    TFaxCoverShapes shape;
    QCOMPARE(shape.BoundsRect().size(), QSize(25, 25));
    QCOMPARE(shape.RoundPerc(), 25);
    QCOMPARE(shape.Pen().width, 1);
    QCOMPARE(TFaxCoverLine().BoundsRect().size(), QSize(10, 10));
    QVERIFY(CreateCoverObject(QStringLiteral("TFaxCoverPanel")) == nullptr);
    for (const QString& c : AllClasses()) QCOMPARE(CreateCoverObject(c)->ClassName(), c);
  }

  void drawEachKindWithItsTool_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("value");
    using P = TFaxCoverPanel;
    QTest::newRow("text") << int(P::psLabel) << "TFaxCoverLabel"
                          << "Caption" << QVariant(QStringLiteral("<text>"));
    QTest::newRow("rectangle") << int(P::psRectangle) << "TFaxCoverShapes"
                               << "Shape" << QVariant(QStringLiteral("stRectangle"));
    QTest::newRow("ellipse") << int(P::psEllipse) << "TFaxCoverShapes"
                             << "Shape" << QVariant(QStringLiteral("stEllipse"));
    QTest::newRow("round rectangle") << int(P::psRoundRectangle) << "TFaxCoverShapes"
                                     << "Shape" << QVariant(QStringLiteral("stRoundRect"));
    QTest::newRow("line") << int(P::psLine) << "TFaxCoverLine"
                          << "LineStyle" << QVariant(QStringLiteral("stHorizontal"));
    QTest::newRow("message") << int(P::psMessage) << "TFaxCoverMessage"
                             << "Caption" << QVariant(QStringLiteral("[Fax Message]"));
    QTest::newRow("importance") << int(P::psImportance) << "TFaxCoverImportance"
                                << "Caption" << QVariant(QString::fromLatin1(kImportanceText));
    QTest::newRow("field") << int(P::psField) << "TFaxCoverField"
                           << "CoverFieldType" << QVariant(QStringLiteral("cfDate"));
  }
  void drawEachKindWithItsTool() {
    QFETCH(int, state);
    QFETCH(QString, className);
    QFETCH(QString, property);
    QFETCH(QVariant, value);
    panel_->SetEditAfterCreate(false);
    panel_->SetPanelState(static_cast<TFaxCoverPanel::TLPanelState>(state));
    QVERIFY(!panel_->Pointing());
    QSignalSpy dropped(panel_.get(), &design::TGBasePanel::droppedObject);
    Drag(panel_.get(), {300, 160}, {100, 100});
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(panel_->Objects().size(), 1);
    TGGraphicControl* o = panel_->LastCreated();
    QVERIFY(o);
    QCOMPARE(o->ClassName(), className);
    QCOMPARE(o->Name(), QStringLiteral("Special1"));
    QCOMPARE(o->GetPublished(property), value);
    if (className == QLatin1String("TFaxCoverImportance") || className == QLatin1String("TFaxCoverField")) {
      // Text objects placed on the drawn rectangle keep at least its size.
      QCOMPARE(o->Left(), 100);
      QVERIFY(o->Width() >= 200);
    } else {
      QCOMPARE(o->BoundsRect(), QRect(100, 100, 200, 60));
    }
    panel_->SetPanelState(TFaxCoverPanel::psPointing);
    QVERIFY(panel_->Pointing());
  }

  // The Line tool follows the drag: taller than wide draws a vertical line,
  // either way round; wider than tall a horizontal one.
  void lineToolFollowsTheDragsDirection() {
    panel_->SetEditAfterCreate(false);
    panel_->SetPanelState(TFaxCoverPanel::psLine);
    Drag(panel_.get(), {100, 300}, {110, 100});
    QCOMPARE(panel_->LastCreated()->GetPublished(QStringLiteral("LineStyle")), QVariant(QStringLiteral("stVertical")));
    Drag(panel_.get(), {400, 100}, {200, 104});
    QCOMPARE(panel_->LastCreated()->GetPublished(QStringLiteral("LineStyle")), QVariant(QStringLiteral("stHorizontal")));
  }

  void tinyRectanglesGrowBeforePlacing() {
    panel_->SetEditAfterCreate(false);
    panel_->SetPanelState(TFaxCoverPanel::psLabel);
    Drag(panel_.get(), {100, 100}, {103, 103});
    QCOMPARE(panel_->LastCreated()->BoundsRect(), QRect(100, 100, 50, 15));
    // The label takes the panel's font (the designer's default font).
    QFont f(QStringLiteral("Courier New"));
    f.setPointSize(14);
    panel_->SetPanelFont(f);
    Drag(panel_.get(), {300, 100}, {320, 110});
    auto* label = static_cast<TFaxCoverLabel*>(panel_->LastCreated());
    QCOMPARE(label->Font().name, QStringLiteral("Courier New"));
    QCOMPARE(label->Font().Size(), 14);
    QCOMPARE(label->BoundsRect(), QRect(300, 100, 50, 15));
  }

  void textToolOpensTheTextDialog() {
    panel_->SetPanelState(TFaxCoverPanel::psLabel);
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* d = qobject_cast<TCoverTextDialog*>(w);
      QVERIFY(d);
      QCOMPARE(d->windowTitle(), QStringLiteral("Text"));
      QVERIFY(d->findChild<QLabel*>()->text().remove(QLatin1Char('&')) == QStringLiteral("Enter Text"));
      QCOMPARE(d->Edit()->text(), QStringLiteral("<text>"));
      d->Edit()->clear();
      QTest::keyClicks(d->Edit(), QStringLiteral("Quarterly report for the board"));
      QTest::keyClick(d->Edit(), Qt::Key_Return);
    });
    Drag(panel_.get(), {100, 100}, {130, 120});
    QTRY_VERIFY(script.Done());
    QTRY_COMPARE(static_cast<TFaxCoverLabel*>(panel_->LastCreated())->Caption(),
                 QStringLiteral("Quarterly report for the board"));
    auto* label = static_cast<TFaxCoverLabel*>(panel_->LastCreated());
    // The label grew to hold its text and one blank.
    QCOMPARE(label->Width(), label->TextExtent().width());
    QVERIFY(label->Width() > 50);
    QCOMPARE(label->Height(), std::max(20, label->TextExtent().height()));
    // "Text" on its menu edits again; Cancel keeps the caption.
    ModalScript cancel;
    cancel.Then([](QWidget* w) {
      auto* d = qobject_cast<TCoverTextDialog*>(w);
      d->Edit()->setText(QStringLiteral("ignored"));
      d->reject();
    });
    label->MenuAction(QStringLiteral("Text"))->trigger();
    QVERIFY(cancel.Done());
    QCOMPARE(label->Caption(), QStringLiteral("Quarterly report for the board"));
  }

  void symbolToolOpensTheRuneboard() {
    panel_->SetPanelState(TFaxCoverPanel::psSymbolLabel);
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* d = qobject_cast<TRuneboardDialog*>(w);
      QVERIFY(d);
      QCOMPARE(d->windowTitle(), QStringLiteral("Runeboard"));
      // 24 points: eight columns, "[" preselected.
      QCOMPARE(d->Table()->columnCount(), 8);
      QCOMPARE(d->Table()->currentRow() * 8 + d->Table()->currentColumn(), '[' - 32);
      QCOMPARE(d->FontButton()->text(), QStringLiteral("WingDings, 24pt "));
      QFont bigger(QStringLiteral("WingDings"));
      bigger.setPointSize(48);
      d->SetChosenFont(bigger);
      QCOMPARE(d->Table()->columnCount(), 4);
      d->Table()->setCurrentCell(('A' - 32) / 4, ('A' - 32) % 4);
      d->accept();
    });
    Drag(panel_.get(), {100, 100}, {130, 120});
    QTRY_VERIFY(script.Done());
    auto* symbol = static_cast<TFaxCoverSymbol*>(panel_->LastCreated());
    QTRY_COMPARE(symbol->Caption(), QStringLiteral("A"));
    QCOMPARE(symbol->Font().Size(), 48);
    // Exactly ten per cent larger than its character, both ways.
    const QFontMetrics fm(symbol->Font().ToQFont());
    QCOMPARE(symbol->Width(), qRound(fm.horizontalAdvance(QStringLiteral("A")) * 1.1));
    QCOMPARE(symbol->Height(), qRound(fm.height() * 1.1));
    // Symbols ignore the panel's "Font" command and have no "Font" item.
    panel_->AddToSelection(symbol);
    panel_->ApplyFontToSelection(QFont(QStringLiteral("Arial"), 8));
    QCOMPARE(symbol->Font().Size(), 48);
    QVERIFY(!symbol->MenuAction(QStringLiteral("Font")));
    QVERIFY(symbol->MenuAction(QStringLiteral("Runeboard")));
  }

  void runeboardLayout() {
    const QList<QPair<int, int>> cases = {{5, 1},  {6, 14}, {10, 14}, {11, 10}, {20, 10}, {21, 8}, {30, 8}, {31, 6},
                                          {40, 6}, {41, 4}, {50, 4},  {51, 3},  {60, 3},  {61, 2}, {72, 2}, {73, 1}};
    for (const auto& [points, cols] : cases) QCOMPARE(TRuneboardDialog::ColumnsForSize(points), cols);
    QFont f(QStringLiteral("Arial"));
    f.setPointSize(12);
    f.setBold(true);
    QCOMPARE(TRuneboardDialog::FontButtonText(f), QStringLiteral("Arial, 12pt Bold "));
    f.setItalic(true);
    QCOMPARE(TRuneboardDialog::FontButtonText(f), QStringLiteral("Arial, 12pt Italic "));
  }

  void fontEditing() {
    auto* label = Place<TFaxCoverLabel>({100, 100, 20, 20});
    CoverFont red = label->Font();
    red.color = 0x0000FF;
    label->ApplyEditedFont(red);
    QCOMPARE(label->Font().color, 0);
    CoverFont white = label->Font();
    white.color = 0xFFFFFF;
    label->ApplyEditedFont(white);
    QCOMPARE(label->Font().color, 0xFFFFFF);
    // Through the font dialog on the object's menu: a bigger font grows the label.
    const int before = label->Width();
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* d = qobject_cast<QFontDialog*>(w);
      QVERIFY(d);
      QFont f = d->currentFont();
      f.setPointSize(28);
      d->setCurrentFont(f);
      d->accept();
    });
    label->MenuAction(QStringLiteral("Font"))->trigger();
    QVERIFY(script.Done());
    QCOMPARE(label->Font().Size(), 28);
    QCOMPARE(label->Font().height, -37);
    QVERIFY(label->Width() > before);
    // A message box keeps the size the user gave it.
    auto* msg = Place<TFaxCoverMessage>({300, 300, 30, 20});
    CoverFont big = msg->Font();
    big.SetSize(40);
    msg->SetFont(big);
    QCOMPARE(msg->BoundsRect(), QRect(300, 300, 30, 20));
  }

  void fieldMenuChoosesTheKind() {
    auto* field = Place<TFaxCoverField>({100, 100, 50, 20});
    field->MenuAction(QStringLiteral("Field/Sender Phone"))->trigger();
    QCOMPARE(field->CoverFieldType(), cfSenderVoice);
    QCOMPARE(field->Caption(), QStringLiteral("[Sender Phone]"));
    QCOMPARE(field->GetPublished(QStringLiteral("CoverFieldType")).toString(), QStringLiteral("cfSenderVoice"));
    QVERIFY(field->Width() >= field->TextExtent().width());
    field->PopupMenu({110, 110});
    QVERIFY(field->MenuAction(QStringLiteral("Field/Sender Phone"))->isChecked());
    QVERIFY(!field->MenuAction(QStringLiteral("Field/Date"))->isChecked());
    field->Menu()->hide();
  }

  void shapeMenus() {
    auto* rect = Place<TFaxCoverShapes>({100, 100, 50, 50});
    rect->MenuAction(QStringLiteral("Line Thickness/3 Point"))->trigger();
    rect->MenuAction(QStringLiteral("Filled - Black"))->trigger();
    QCOMPARE(rect->Pen().width, 3);
    QCOMPARE(rect->ShapeFilltype(), sftFilledBlack);
    rect->PopupMenu({110, 110});
    QVERIFY(rect->MenuAction(QStringLiteral("Line Thickness/3 Point"))->isChecked());
    QVERIFY(rect->MenuAction(QStringLiteral("Filled - Black"))->isChecked());
    QVERIFY(!rect->MenuAction(QStringLiteral("Transparent"))->isChecked());
    // Rounding only for rounded shapes; its items are 20 to 80 with no 25.
    QVERIFY(!rect->MenuAction(QStringLiteral("Degree of Rounding"))->isVisible());
    rect->Menu()->hide();
    auto* round = Place<TFaxCoverShapes>({300, 100, 50, 50});
    round->SetShape(stRoundRect);
    round->PopupMenu({310, 110});
    QAction* rounding = round->MenuAction(QStringLiteral("Degree of Rounding"));
    QVERIFY(rounding->isVisible());
    QStringList items;
    for (QAction* a : rounding->menu()->actions()) items << a->text();
    QCOMPARE(items, QStringList({"20 %", "30 %", "40 %", "50 %", "60 %", "70 %", "80 %"}));
    round->Menu()->hide();
    round->MenuAction(QStringLiteral("Degree of Rounding/60 %"))->trigger();
    QCOMPARE(round->RoundPerc(), 60);
  }

  void lineMenus() {
    auto* line = Place<TFaxCoverLine>({100, 200, 50, 15});
    line->MenuAction(QStringLiteral("Style/Horizontal"))->trigger();
    line->MenuAction(QStringLiteral("Stretch To Edges"))->trigger();
    QCOMPARE(line->BoundsRect(), QRect(0, 200, 768, 15));
    line->MenuAction(QStringLiteral("Style/Vertical"))->trigger();
    line->MenuAction(QStringLiteral("Line Thickness/10 Point"))->trigger();
    line->MenuAction(QStringLiteral("Stretch To Edges"))->trigger();
    QCOMPARE(line->BoundsRect(), QRect(0, 0, 768, 960));
    QCOMPARE(line->Pen().width, 10);
    line->SetBounds(10, 20, 30, 40);
    line->MenuAction(QStringLiteral("Style/Angled Sloping Up"))->trigger();
    line->MenuAction(QStringLiteral("Stretch To Edges"))->trigger();
    QCOMPARE(line->BoundsRect(), QRect(10, 20, 30, 40));
    line->PopupMenu({15, 25});
    QVERIFY(line->MenuAction(QStringLiteral("Style/Angled Sloping Up"))->isChecked());
    line->Menu()->hide();
  }

  void editsReportChanges() {
    auto* shape = Place<TFaxCoverShapes>({100, 100, 50, 50});
    QSignalSpy changed(panel_.get(), &design::TGBasePanel::labelChanged);
    shape->MenuAction(QStringLiteral("Transparent"))->trigger();
    shape->MenuAction(QStringLiteral("Locked"))->trigger();
    QCOMPARE(changed.size(), 2);
  }

  void publishedPropertiesSurviveACopy_data() {
    QTest::addColumn<QString>("className");
    for (const QString& c : AllClasses()) QTest::newRow(qPrintable(c)) << c;
  }
  void publishedPropertiesSurviveACopy() {
    QFETCH(QString, className);
    auto source = CreateCoverObject(className);
    const QList<PublishedProperty> props = source->PublishedProperties();
    for (const PublishedProperty& p : props) {
      const QVariant v = OtherValue(p);
      QVERIFY2(v != p.suppressed, qPrintable(p.name));
      QVERIFY2(source->SetPublished(p.name, v), qPrintable(p.name));
      QCOMPARE(source->GetPublished(p.name), v);
    }
    // A load on a panel: no fitting while the values come in.
    auto copy = CreateCoverObject(className);
    TGGraphicControl* target = copy.release();
    panel_->AdoptObject(target);
    target->SetLoading(true);
    for (const PublishedProperty& p : props) QVERIFY(target->SetPublished(p.name, source->GetPublished(p.name)));
    target->SetLoading(false);
    for (const PublishedProperty& p : props) QCOMPARE(target->GetPublished(p.name), source->GetPublished(p.name));
  }

  void publishedPropertiesRefuseWrongValues() {
    auto shape = CreateCoverObject(QStringLiteral("TFaxCoverShapes"));
    auto field = CreateCoverObject(QStringLiteral("TFaxCoverField"));
    QVERIFY(!shape->SetPublished(QStringLiteral("Left"), QStringLiteral("12")));
    QVERIFY(!shape->SetPublished(QStringLiteral("Shape"), QStringLiteral("stTriangle")));
    QVERIFY(!shape->SetPublished(QStringLiteral("Shape"), 2));
    QVERIFY(!shape->SetPublished(QStringLiteral("Pen.Width"), true));
    QVERIFY(!shape->SetPublished(QStringLiteral("Caption"), QStringLiteral("x")));
    QVERIFY(!field->SetPublished(QStringLiteral("Font.Style"), QStringList{QStringLiteral("fsBlink")}));
    QVERIFY(!field->SetPublished(QStringLiteral("CoverFieldType"), QStringLiteral("cfNothing")));
    QVERIFY(!field->SetPublished(QStringLiteral("Locked"), 1));
    QVERIFY(!field->SetPublished(QStringLiteral("NoSuchThing"), 1));
    QCOMPARE(shape->GetPublished(QStringLiteral("Left")), QVariant(0));
    QCOMPARE(shape->GetPublished(QStringLiteral("Shape")), QVariant(QStringLiteral("stRectangle")));
    QCOMPARE(field->GetPublished(QStringLiteral("Font.Style")), QVariant(QStringList()));
    QCOMPARE(field->GetPublished(QStringLiteral("CoverFieldType")), QVariant(QStringLiteral("cfDate")));
    QVERIFY(!field->GetPublished(QStringLiteral("NoSuchThing")).isValid());
    // The properties come in writing order.
    QStringList names;
    for (const PublishedProperty& p : shape->PublishedProperties()) names << p.name;
    QCOMPARE(names,
             QStringList({"Tag", "Left", "Top", "Width", "Height", "Cursor", "Hint", "Locked", "Unselectable",
                          "ShapeFilltype", "Pen.Color", "Pen.Mode", "Pen.Style", "Pen.Width", "RoundPerc", "Shape"}));
  }

  void painting() {
    panel_->SetShape(design::TGBasePanel::lsRectangle);
    auto* black = Place<TFaxCoverShapes>({100, 100, 40, 30});
    black->SetShapeFilltype(sftFilledBlack);
    auto* frame = Place<TFaxCoverShapes>({200, 100, 40, 30});
    frame->SetPenWidth(3);
    auto* line = Place<TFaxCoverLine>({300, 100, 50, 15});
    const QRgb k = qRgb(0, 0, 0), w = qRgb(255, 255, 255);
    const QImage img = panel_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.pixel(100, 100), k);
    QCOMPARE(img.pixel(120, 115), k);
    QCOMPARE(img.pixel(139, 129), k);
    QCOMPARE(img.pixel(140, 130), w);
    // A 3-pixel stroke lies wholly inside the object.
    QCOMPARE(img.pixel(200, 115), k);
    QCOMPARE(img.pixel(202, 115), k);
    QCOMPARE(img.pixel(203, 115), w);
    QCOMPARE(img.pixel(239, 115), k);
    QCOMPARE(img.pixel(199, 115), w);
    QCOMPARE(img.pixel(220, 115), w);
    // A horizontal line runs along the object's top.
    QCOMPARE(img.pixel(300, 100), k);
    QCOMPARE(img.pixel(349, 100), k);
    QCOMPARE(img.pixel(325, 110), w);
    Q_UNUSED(line);
  }

  void zoomScalesFontsAndPens() {
    auto* label = Place<TFaxCoverLabel>({100, 100, 20, 20});
    label->SetCaption(QStringLiteral("Zoom me please"));
    const QSize one = label->TextExtent();
    panel_->SetZoom(2.0F);
    const QSize two = label->TextExtent();
    QVERIFY(two.width() > one.width() * 17 / 10 && two.width() < one.width() * 23 / 10);
    QCOMPARE(ZoomedPenWidth(3, 2.0F), 6);
    QCOMPARE(ZoomedPenWidth(1, 0.5F), 0);
    QCOMPARE(ZoomedPenWidth(3, 1.0F), 3);
  }
};

QTEST_MAIN(CoverObjectsTest)
#include "cover_objects_test.moc"
