// The design surface driven as a user drives it: presses, drags and keys on the
// panel and on the selection frame, with plain rectangles as design objects.
#include "covers/design/design_surface.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "design_test_util.h"

using design::TGBasePanel;
using design::TGGraphicControl;
using design::TGHandle;
using qntest::Click;
using qntest::Drag;

namespace {

class Box : public TGGraphicControl {
 public:
  QString ClassName() const override { return QStringLiteral("Box"); }
  void Paint(QPainter& p) override { p.fillRect(QRect(0, 0, Width(), Height()), Qt::gray); }
  QList<QFont> fonts;
  void TakeFont(const QFont& f) override { fonts << f; }
};

class DrawPanel : public TGBasePanel {
 public:
  QList<QRect> drawn;

 protected:
  void CreateObjectFor(const QRect& r) override { drawn << r; }
};

}  // namespace

class DesignSurfaceTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<DrawPanel> panel_;

  Box* Add(QRect r) {
    auto* b = new Box;
    panel_->PlaceObject(b, r);
    b->SetBounds(r);  // PlaceObject keeps at least 10 x 15
    return b;
  }

 private slots:
  void initTestCase() { qputenv("QUILLON_HOME", QDir::tempPath().toUtf8() + "/qn-design-test/"); }
  void init() {
    panel_ = std::make_unique<DrawPanel>();
    panel_->resize(768, 960);
    panel_->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
  }
  void cleanup() { panel_.reset(); }

  void placingNamesAndMinimumSize() {
    auto* a = new Box;
    panel_->PlaceObject(a, QRect(10, 20, 3, 4));
    QCOMPARE(a->BoundsRect(), QRect(10, 20, 10, 15));
    QCOMPARE(a->Name(), QStringLiteral("Special1"));
    auto* b = new Box;
    panel_->PlaceObject(b, QRect(40, 20, 30, 30));
    QCOMPARE(b->Name(), QStringLiteral("Special2"));
    panel_->DeleteObject(a);
    QCOMPARE(panel_->UniqueName(QStringLiteral("Special"), 1, 1000), QStringLiteral("Special1"));
  }

  void clickSelectsAndFrameSurroundsSelection() {
    Box* a = Add({100, 100, 50, 40});
    Box* b = Add({300, 200, 20, 30});
    Click(panel_.get(), {120, 120});
    QCOMPARE(panel_->Selection(), QList<TGGraphicControl*>{a});
    TGHandle* h = panel_->Handle();
    QVERIFY(h->isVisible());
    QCOMPARE(h->geometry(), QRect(98, 98, 55, 45));
    QVERIFY(h->hasFocus());
    // Shift-click adds; the frame is the union of both.
    Click(panel_.get(), {310, 210}, Qt::ShiftModifier);
    QCOMPARE(panel_->Selection(), (QList<TGGraphicControl*>{a, b}));
    QCOMPARE(h->geometry(), QRect(98, 98, 225, 135));
    // Shift+press on the frame over one object removes only that object.
    Click(panel_.get(), {120, 120}, Qt::ShiftModifier);
    QCOMPARE(panel_->Selection(), QList<TGGraphicControl*>{b});
    // A plain click elsewhere on the page clears the selection and hides the frame.
    Click(panel_.get(), {600, 700});
    QVERIFY(panel_->Selection().isEmpty());
    QVERIFY(!h->isVisible());
    QCOMPARE(h->size(), QSize(24, 24));
  }

  void unselectableObjectsPassClicksToThePanel() {
    Box* a = Add({100, 100, 50, 40});
    a->SetUnselectable(true);
    Click(panel_.get(), {120, 120});
    QVERIFY(panel_->Selection().isEmpty());
    panel_->SelectAll();
    QVERIFY(panel_->Selection().isEmpty());
    panel_->MarkAllSelectable();
    panel_->SelectAll();
    QCOMPARE(panel_->Selection().size(), 1);
    // Marking it unselectable from its own menu also drops it from the selection.
    a->MenuAction(QStringLiteral("Unselectable"))->trigger();
    QVERIFY(panel_->Selection().isEmpty());
  }

  void rightPressesAndDoubleClicksOpenMenus() {
    Box* a = Add({100, 100, 50, 40});
    Box* b = Add({300, 100, 50, 40});
    // A right press on an object selects it and opens its menu.
    Click(panel_.get(), {120, 120}, {}, Qt::RightButton);
    QCOMPARE(panel_->Selection(), QList<TGGraphicControl*>{a});
    QTRY_VERIFY(a->Menu()->isVisible());
    a->Menu()->hide();
    // On the frame: within 2 pixels of the object its menu, else the panel's.
    Click(panel_.get(), {99, 99}, {}, Qt::RightButton);
    QTRY_VERIFY(a->Menu()->isVisible());
    a->Menu()->hide();
    panel_->AddToSelection(b);
    Click(panel_.get(), {200, 120}, {}, Qt::RightButton);
    QTRY_VERIFY(panel_->Menu()->isVisible());
    QVERIFY(panel_->MenuAction(QStringLiteral("Delete"))->isEnabled());
    panel_->Menu()->hide();
    // A double click on the single selected object opens its menu; with two
    // selected the frame ignores it.
    QTest::mouseDClick(panel_->Handle(), Qt::LeftButton, {}, panel_->Handle()->mapFrom(panel_.get(), QPoint(310, 110)));
    QVERIFY(!b->Menu()->isVisible());
    panel_->ClearSelection();
    QTest::mouseDClick(panel_.get(), Qt::LeftButton, {}, QPoint(310, 110));
    QTRY_VERIFY(b->Menu()->isVisible());
    b->Menu()->hide();
    QCOMPARE(b->BoundsRect(), QRect(300, 100, 50, 40));
  }

  void rubberBandSelectsAndToggles() {
    Box* a = Add({100, 100, 40, 40});
    Box* b = Add({200, 100, 40, 40});
    Box* c = Add({400, 400, 40, 40});
    Drag(panel_.get(), {90, 90}, {210, 150});
    QCOMPARE(panel_->Selection(), (QList<TGGraphicControl*>{a, b}));
    QVERIFY(panel_->BandRect().isNull());
    // With Shift the band toggles: b leaves, c joins.
    Drag(panel_.get(), {190, 90}, {420, 420}, Qt::ShiftModifier);
    QCOMPARE(panel_->Selection(), (QList<TGGraphicControl*>{a, c}));
    // Without Shift it replaces.
    Drag(panel_.get(), {600, 600}, {300, 300});
    QCOMPARE(panel_->Selection(), QList<TGGraphicControl*>{c});
  }

  void drawingToolBandCreatesForTheRectangle() {
    QSignalSpy dropped(panel_.get(), &TGBasePanel::droppedObject);
    Box* a = Add({100, 100, 40, 40});
    panel_->AddToSelection(a);
    panel_->SetPointing(false);
    // A press on an object while drawing starts a band too.
    Drag(panel_.get(), {150, 130}, {110, 105});
    QCOMPARE(panel_->drawn, QList<QRect>{QRect(110, 105, 40, 25)});
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(dropped[0][0].toRect(), QRect(110, 105, 40, 25));
    QCOMPARE(a->BoundsRect(), QRect(100, 100, 40, 40));
  }

  void handleDragsInEveryDirectionWithSnapping_data() {
    QTest::addColumn<QPoint>("grip");  // in frame coordinates; the frame is 55 x 45
    QTest::addColumn<int>("mode");
    QTest::addColumn<QRect>("expected");
    // Object (100, 100, 50, 40), frame (98, 98, 55, 45), drag by (13, 11) on an 8 x 8 grid.
    QTest::newRow("move") << QPoint(20, 15) << 0 << QRect(106, 106, 50, 40);
    QTest::newRow("top-left") << QPoint(2, 2) << 1 << QRect(106, 106, 44, 34);
    QTest::newRow("top-right") << QPoint(52, 2) << 2 << QRect(100, 106, 58, 34);
    QTest::newRow("bottom-left") << QPoint(2, 42) << 3 << QRect(106, 100, 44, 50);
    QTest::newRow("bottom-right") << QPoint(52, 42) << 4 << QRect(100, 100, 58, 50);
    QTest::newRow("top") << QPoint(27, 2) << 5 << QRect(100, 106, 50, 34);
    QTest::newRow("left") << QPoint(2, 22) << 6 << QRect(106, 100, 44, 40);
    QTest::newRow("bottom") << QPoint(27, 42) << 7 << QRect(100, 100, 50, 50);
    QTest::newRow("right") << QPoint(52, 22) << 8 << QRect(100, 100, 58, 40);
  }
  void handleDragsInEveryDirectionWithSnapping() {
    QFETCH(QPoint, grip);
    QFETCH(int, mode);
    QFETCH(QRect, expected);
    panel_->SetGridSize(TGBasePanel::gs8x8);
    panel_->SetSnapToGrid(true);
    Box* a = Add({100, 100, 50, 40});
    Click(panel_.get(), {125, 120});
    TGHandle* h = panel_->Handle();
    QCOMPARE(h->ModeAt(grip), mode);
    const QPoint from = h->mapToParent(grip);
    Drag(panel_.get(), from, from + QPoint(13, 11));
    QCOMPARE(a->BoundsRect(), expected);
    QCOMPARE(h->geometry(), expected.adjusted(-2, -2, 3, 3));
    QCOMPARE(h->geometry().left() % 8, mode == 0 || mode == 1 || mode == 3 || mode == 6 ? 0 : 2);
  }

  void resizingNeverGoesBelowFivePixels() {
    Box* a = Add({100, 100, 50, 40});
    Click(panel_.get(), {125, 120});
    const QPoint grip = panel_->Handle()->mapToParent(QPoint(52, 42));
    Drag(panel_.get(), grip, grip - QPoint(200, 200));
    // The frame keeps 5 x 5; the object keeps one pixel rather than none.
    QCOMPARE(a->BoundsRect(), QRect(100, 100, 1, 1));
  }

  void pressOnAnObjectSelectsAndDragsIt() {
    Box* a = Add({100, 100, 50, 40});
    Box* b = Add({300, 300, 50, 40});
    // No snapping: the object follows the pointer from where the drag started.
    Drag(panel_.get(), {110, 110}, {140, 95});
    QCOMPARE(panel_->Selection(), QList<TGGraphicControl*>{a});
    QCOMPARE(a->BoundsRect(), QRect(130, 85, 50, 40));
    QCOMPARE(b->BoundsRect(), QRect(300, 300, 50, 40));
    // The drag is clamped to the panel.
    Drag(panel_.get(), {150, 100}, {-100, -100});
    QCOMPARE(a->BoundsRect(), QRect(0, 0, 50, 40).translated(130 - 150, 85 - 100));
  }

  void shortPressIsNoMove() {
    Box* a = Add({100, 100, 50, 40});
    Click(panel_.get(), {110, 110});
    QWidget* h = panel_->Handle();
    QTest::mousePress(h, Qt::LeftButton, {}, QPoint(20, 15));
    QTest::mouseMove(h, QPoint(60, 55), 20);
    QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(60, 55), 50);
    QCOMPARE(a->BoundsRect(), QRect(100, 100, 50, 40));
  }

  void lockedObjectsStayPut() {
    Box* a = Add({100, 100, 50, 40});
    Box* b = Add({200, 100, 50, 40});
    b->MenuAction(QStringLiteral("Locked"))->trigger();
    QVERIFY(b->Locked());
    panel_->SelectAll();
    Drag(panel_.get(), {120, 120}, {140, 150});
    QCOMPARE(a->BoundsRect(), QRect(120, 130, 50, 40));
    QCOMPARE(b->BoundsRect(), QRect(200, 100, 50, 40));
    // Alone, a locked object neither moves nor resizes: by mouse or by keys.
    Click(panel_.get(), {600, 600});
    Click(panel_.get(), {220, 120});
    QVERIFY(panel_->Handle()->Locked());
    const QPoint grip = panel_->Handle()->mapToParent(QPoint(52, 42));
    Drag(panel_.get(), grip, grip + QPoint(30, 30));
    QTest::keyClick(panel_->Handle(), Qt::Key_Right);
    QTest::keyClick(panel_->Handle(), Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(b->BoundsRect(), QRect(200, 100, 50, 40));
    panel_->UnlockAll();
    QVERIFY(!b->Locked());
    QVERIFY(!panel_->Handle()->Locked());
    panel_->LockAll();
    QVERIFY(a->Locked() && b->Locked());
  }

  void keyboardMovesAndResizes() {
    Box* a = Add({100, 100, 11, 40});
    Click(panel_.get(), {105, 110});
    QWidget* h = panel_->Handle();
    QTest::keyClick(h, Qt::Key_Right);
    QTest::keyClick(h, Qt::Key_Down);
    QTest::keyClick(h, Qt::Key_Down);
    QCOMPARE(a->BoundsRect(), QRect(101, 102, 11, 40));
    QTest::keyClick(h, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(a->Width(), 10);
    QTest::keyClick(h, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(a->Width(), 10);
    QTest::keyClick(h, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(h, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(h, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(a->BoundsRect(), QRect(101, 102, 10, 39));
    // Moving stops at the panel's left and top edges.
    a->SetBounds(1, 0, 20, 20);
    QCoreApplication::processEvents();
    QTest::keyClick(h, Qt::Key_Left);
    QTest::keyClick(h, Qt::Key_Left);
    QTest::keyClick(h, Qt::Key_Up);
    QCOMPARE(a->BoundsRect(), QRect(0, 0, 20, 20));
    // ... and at the right edge.
    a->SetBounds(panel_->width() - 21, 0, 20, 20);
    QCoreApplication::processEvents();
    QTest::keyClick(h, Qt::Key_Right);
    QTest::keyClick(h, Qt::Key_Right);
    QCOMPARE(a->Left(), panel_->width() - 20);
  }

  void shiftArrowMovesSeveralObjects() {
    Box* a = Add({100, 100, 20, 20});
    Box* b = Add({200, 100, 20, 20});
    panel_->SelectAll();
    QTest::keyClick(panel_->Handle(), Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(a->BoundsRect(), QRect(99, 100, 20, 20));
    QCOMPARE(b->BoundsRect(), QRect(199, 100, 20, 20));
  }

  void alignmentOfThreeObjects() {
    Box* a = Add({100, 50, 30, 20});
    Box* b = Add({160, 90, 50, 40});
    Box* c = Add({130, 200, 20, 10});
    panel_->SelectAll();
    panel_->MenuAction(QStringLiteral("Align Left"))->trigger();
    QCOMPARE(QList<int>({a->Left(), b->Left(), c->Left()}), QList<int>({100, 100, 100}));
    panel_->MenuAction(QStringLiteral("Align Right"))->trigger();
    QCOMPARE(QList<int>({a->Left() + a->Width(), b->Left() + b->Width(), c->Left() + c->Width()}),
             QList<int>({150, 150, 150}));
    panel_->MenuAction(QStringLiteral("Align Tops"))->trigger();
    QCOMPARE(QList<int>({a->Top(), b->Top(), c->Top()}), QList<int>({50, 50, 50}));
    panel_->MenuAction(QStringLiteral("Align Bottoms"))->trigger();
    QCOMPARE(QList<int>({a->Top(), b->Top(), c->Top()}), QList<int>({70, 50, 80}));
    QCOMPARE(a->Width(), 30);
    panel_->MenuAction(QStringLiteral("Center Horizontally"))->trigger();
    QCOMPARE(QList<int>({a->Left(), b->Left(), c->Left()}), QList<int>({369, 359, 374}));
    panel_->MenuAction(QStringLiteral("Center Vertically"))->trigger();
    QCOMPARE(QList<int>({a->Top(), b->Top(), c->Top()}), QList<int>({470, 460, 475}));
    // The frame follows the objects.
    QCoreApplication::processEvents();
    QCOMPARE(panel_->Handle()->geometry(), QRect(357, 458, 55, 45));
  }

  void zOrderAndTopmostHit() {
    Box* a = Add({100, 100, 50, 50});
    Box* b = Add({120, 120, 50, 50});
    Box* c = Add({400, 400, 20, 20});
    QCOMPARE(panel_->ObjectAt({130, 130}), b);
    panel_->AddToSelection(a);
    panel_->MenuAction(QStringLiteral("Bring To Front"))->trigger();
    QCOMPARE(panel_->Objects(), (QList<TGGraphicControl*>{b, c, a}));
    QCOMPARE(panel_->ObjectAt({130, 130}), a);
    panel_->MenuAction(QStringLiteral("Send To Back"))->trigger();
    QCOMPARE(panel_->Objects(), (QList<TGGraphicControl*>{a, b, c}));
    QVERIFY(panel_->Selection().isEmpty());
    // An object's own menu acts on that object when it is not selected.
    c->MenuAction(QStringLiteral("Send To Back"))->trigger();
    QCOMPARE(panel_->Objects(), (QList<TGGraphicControl*>{c, a, b}));
  }

  void deleteKeyAndObjectMenu() {
    QSignalSpy changed(panel_.get(), &TGBasePanel::labelChanged);
    Box* a = Add({100, 100, 20, 20});
    Box* b = Add({200, 100, 20, 20});
    Box* c = Add({300, 100, 20, 20});
    Click(panel_.get(), {105, 105});
    Click(panel_.get(), {205, 105}, Qt::ShiftModifier);
    changed.clear();
    QTest::keyClick(panel_->Handle(), Qt::Key_Delete);
    QCOMPARE(panel_->Objects(), QList<TGGraphicControl*>{c});
    QVERIFY(panel_->Selection().isEmpty());
    QVERIFY(changed.size() >= 2);
    Q_UNUSED(a);
    Q_UNUSED(b);
    Box* d = Add({400, 100, 20, 20});
    panel_->AddToSelection(d);
    // Delete on an unselected object's menu frees only that object.
    c->MenuAction(QStringLiteral("Delete"))->trigger();
    QCOMPARE(panel_->Objects(), QList<TGGraphicControl*>{d});
    QCOMPARE(panel_->Selection(), QList<TGGraphicControl*>{d});
  }

  void clipboardKeysAskTheStreamLayer() {
    QSignalSpy copy(panel_.get(), &TGBasePanel::copyRequested);
    QSignalSpy cut(panel_.get(), &TGBasePanel::cutRequested);
    QSignalSpy paste(panel_.get(), &TGBasePanel::pasteRequested);
    Box* a = Add({100, 100, 20, 20});
    Click(panel_.get(), {105, 105});
    QTest::keyClick(panel_->Handle(), Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(panel_->Handle(), Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(panel_->Handle(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(copy.size(), 1);
    QCOMPARE(cut.size(), 1);
    QCOMPARE(paste.size(), 1);
    QCOMPARE(copy[0][0].value<QList<TGGraphicControl*>>(), QList<TGGraphicControl*>{a});
  }

  void panelMenuEnablesByState() {
    QAction* front = panel_->MenuAction(QStringLiteral("Bring To Front"));
    QAction* paste = panel_->MenuAction(QStringLiteral("Paste"));
    QAction* lockAll = panel_->MenuAction(QStringLiteral("Lock All"));
    QFile::remove(panel_->ClipboardFileName());
    panel_->PopupMenu({10, 10});
    QVERIFY(!front->isEnabled());
    QVERIFY(!paste->isEnabled());
    QVERIFY(!lockAll->isEnabled());
    panel_->Menu()->hide();
    Add({100, 100, 20, 20});
    panel_->SelectAll();
    QFile f(panel_->ClipboardFileName());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    panel_->PopupMenu({10, 10});
    QVERIFY(front->isEnabled());
    QVERIFY(paste->isEnabled());
    QVERIFY(lockAll->isEnabled());
    panel_->Menu()->hide();
    // The clipboard and work files go with the panel.
    const QString clip = panel_->ClipboardFileName();
    panel_.reset();
    QVERIFY(!QFile::exists(clip));
  }

  void zoomScalesPanelAndObjects() {
    QSignalSpy changed(panel_.get(), &TGBasePanel::labelChanged);
    Box* a = Add({101, 51, 33, 21});
    changed.clear();
    panel_->SetZoom(2.0F);
    QCOMPARE(panel_->size(), QSize(1536, 1920));
    QCOMPARE(a->BoundsRect(), QRect(202, 102, 66, 42));
    QCOMPARE(a->Zoom(), 2.0F);
    panel_->SetZoom(0.75F);
    QCOMPARE(a->BoundsRect(), QRect(75, 38, 24, 15));
    panel_->SetZoom(1.0F);
    QCOMPARE(a->BoundsRect(), QRect(100, 50, 32, 20));
    QCOMPARE(panel_->size(), QSize(768, 960));
    QCOMPARE(changed.size(), 0);
  }

  void gridDotsAndSelectionMarks() {
    panel_->SetShape(TGBasePanel::lsRectangle);
    panel_->SetShowGrid(true);
    const QRgb green = qRgb(0, 0x80, 0);
    QImage img = panel_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.pixel(2, 2), green);
    QCOMPARE(img.pixel(6, 6), green);
    QCOMPARE(img.pixel(6, 2), green);
    QCOMPARE(img.pixel(3, 2), qRgb(255, 255, 255));
    panel_->SetGridSize(TGBasePanel::gs8x8);
    img = panel_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.pixel(10, 10), green);
    QCOMPARE(img.pixel(6, 6), qRgb(255, 255, 255));
    panel_->SetShowGrid(false);
    // One selected object: eight black handles; two: gray corners only.
    Box* a = Add({100, 100, 40, 40});
    Box* b = Add({300, 100, 40, 40});
    panel_->AddToSelection(a);
    img = panel_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.pixel(98, 98), qRgb(0, 0, 0));
    QCOMPARE(img.pixel(120, 98), qRgb(0, 0, 0));
    panel_->AddToSelection(b);
    img = panel_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.pixel(98, 98), qRgb(0x80, 0x80, 0x80));
    QCOMPARE(img.pixel(120, 98), qRgb(255, 255, 255));
  }

  void fontCommandGivesTheFontToTheSelection() {
    Box* a = Add({100, 100, 20, 20});
    Box* b = Add({200, 100, 20, 20});
    panel_->AddToSelection(b);
    panel_->ApplyFontToSelection(QFont(QStringLiteral("Courier"), 14));
    QVERIFY(a->fonts.isEmpty());
    QCOMPARE(b->fonts.size(), 1);
    QCOMPARE(b->fonts[0].pointSize(), 14);
  }

  void dropObjectsOutsideThePage() {
    Box* keep = Add({0, 950, 20, 20});
    Box* low = Add({0, 951, 20, 20});
    Box* right = Add({759, 0, 20, 20});
    Box* edge = Add({758, 0, 20, 20});
    Q_UNUSED(low);
    Q_UNUSED(right);
    panel_->DropObjectsOutside();
    QCOMPARE(panel_->Objects(), (QList<TGGraphicControl*>{keep, edge}));
  }
};

QTEST_MAIN(DesignSurfaceTest)
#include "design_surface_test.moc"
