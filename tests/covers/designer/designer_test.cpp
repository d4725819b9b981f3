// The Cover Sheet Template Designer driven as a user drives it: drawing with
// the tools, saving through the save-as dialog, reopening, the unsaved-changes
// question, recent files, zoom, the clipboard between two designers, clone,
// damaged design sources; the files a save writes, flattened and rendered.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include "common/folders.h"
#include "common/ini_file.h"
#include "covers/cover_render.h"
#include "covers/designer/cover_designer.h"
#include "covers/designer/designer_dialogs.h"
#include "covers/designer/object_bridge.h"
#include "covers/designer/template_io.h"
#include "covers/objects/cover_objects.h"
#include "covers/cover_description.h"
#include "covers/shipped_covers.h"
#include "covers/stream/cover_source.h"
#include "faxprep/quick_fax.h"
#include "modal_script.h"

using namespace covers;
using qntest::ModalScript;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const std::string& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) &&
         f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

// Drags a rectangle on the panel with the left button.
void Drag(QWidget* panel, QPoint from, QPoint to) {
  QTest::mousePress(panel, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(panel, (from + to) / 2, 20);
  QTest::mouseMove(panel, to, 20);
  QTest::mouseRelease(panel, Qt::LeftButton, Qt::NoModifier, to, 200);
}

// An object of the class through the stream layer, with the given bounds.
design::TGGraphicControl* Add(design::TGBasePanel& panel, const char* cls, int left, int top, int width, int height,
                              std::vector<StreamProperty> more = {}) {
  StreamObject s{cls, "x", {{"Left", left}, {"Top", top}, {"Width", width}, {"Height", height}}, {}};
  for (auto& p : more) s.properties.push_back(std::move(p));
  QList<design::TGGraphicControl*> added;
  const TemplateResult r = LoadObjects(panel, WriteObjectList({s}), 0, 0, &added);
  if (!r.ok || added.size() != 1) qWarning() << r.error;
  return added.value(0);
}

}  // namespace

class DesignerTest : public QObject {
  Q_OBJECT
  QString home_;

  QString Covers(const QString& name) const { return home_ + QStringLiteral("Covers/") + name; }
  std::string Ini(const char* section, const char* key) const {
    return qn::IniFile(qn::SettingsFile()).ReadString(section, key, "");
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    qn::ResetProgramFolder();
  }

  // Draw with the tools, save through the save-as dialog, reopen in a new
  // window: the same objects, and saving again writes the same bytes.
  void drawSaveReopen() {
    auto* w = new TCoverDesMainScreen;
    w->LabelPanel->SetEditAfterCreate(false);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QVERIFY(!w->SaveButton->isVisible());

    QTest::mouseClick(w->DrawRectanglebutton, Qt::LeftButton);
    Drag(w->LabelPanel, {100, 120}, {300, 220});
    QCOMPARE(w->LabelPanel->Objects().size(), 1);
    QVERIFY(w->Pointerbutton->isChecked());  // back to the selection tool
    QTest::mouseClick(w->DrawLinebutton, Qt::LeftButton);
    Drag(w->LabelPanel, {400, 100}, {410, 400});
    QTest::mouseClick(w->FieldBoxButton, Qt::LeftButton);
    Drag(w->LabelPanel, {100, 500}, {250, 530});
    QCOMPARE(w->LabelPanel->Objects().size(), 3);
    QVERIFY(w->ChangesMade());
    QVERIFY(w->SaveButton->isVisible());
    QCOMPARE(w->SaveButton->text(), QStringLiteral("&Save As"));
    QVERIFY(!w->Save1->isEnabled());
    const QRect rect = w->LabelPanel->Objects()[0]->BoundsRect();
    QCOMPARE(rect, QRect(100, 120, 200, 100));

    ModalScript script;
    script.Then([](QWidget* d) {
      auto* s = qobject_cast<TSaveTemplateAs*>(d);
      QVERIFY(s);
      QCOMPARE(s->windowTitle(), QStringLiteral("Save fax cover template as"));
      QCOMPARE(s->TemplateName->text(), QStringLiteral("QN0001.FCS"));
      QCOMPARE(s->TemplateDescription->text(), QStringLiteral("[Description]"));
      s->TemplateDescription->selectAll();
      QTest::keyClicks(s->TemplateDescription, QStringLiteral("Drawn cover"));
      QTest::mouseClick(s->OkButton, Qt::LeftButton);
    });
    QTest::mouseClick(w->SaveButton, Qt::LeftButton);
    QVERIFY(script.Done());
    const QString fcs = Covers(QStringLiteral("QN0001.FCS"));
    for (const char* ext : {"FCS", "FCT", "bmp", "DES"})
      QVERIFY2(QFile::exists(Covers(QStringLiteral("QN0001.") + QLatin1String(ext))), ext);
    QCOMPARE(w->CurrentFile(), fcs);
    QCOMPARE(w->windowTitle(), QStringLiteral("Cover Sheet Template Designer - Drawn cover"));
    QVERIFY(!w->ChangesMade());
    QVERIFY(!w->SaveButton->isVisible());
    QVERIFY(w->Save1->isEnabled());
    QCOMPARE(QString::fromStdString(Ini("CDMRU", "F0")), fcs);
    QCOMPARE(QString::fromStdString(ReadDescription(qn::ChangeFileExt(fcs.toStdString(), ".DES"))),
             QStringLiteral("Drawn cover"));
    const QByteArray firstSave = ReadAll(fcs);
    std::vector<TemplateRecord> records;
    QVERIFY(ReadTemplateFile(qn::ChangeFileExt(fcs.toStdString(), ".FCT"), records));
    QCOMPARE(records.size(), std::size_t{3});
    QCOMPARE(records[0].kind, int{okShape});
    QCOMPARE(records[0].left, PixelsToFaxUnits(100, 96));
    QCOMPARE(records[1].kind, int{okLine});
    QCOMPARE(records[2].kind, int{okField});
    w->close();
    delete w;

    // A new designer opens the most recent template by itself.
    TCoverDesMainScreen again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.CurrentFile(), fcs);
    QCOMPARE(again.LabelPanel->Objects().size(), 3);
    QCOMPARE(again.LabelPanel->Objects()[0]->BoundsRect(), rect);
    QVERIFY(!again.ChangesMade());
    // Loaded objects are renamed as pasted ones; apart from that the bytes are
    // the same, and saving what was loaded again changes nothing.
    QTest::keyClick(&again, Qt::Key_S, Qt::ControlModifier);
    const QByteArray secondSave = ReadAll(fcs);
    QCOMPARE(secondSave.size(), firstSave.size() + 3 * 2);  // "Component0" is two longer than "Special1"
    again.OpenLabelFile(fcs);
    QTest::keyClick(&again, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(ReadAll(fcs), secondSave);

    // The quick-fax editor's chooser offers the new template with its preview.
    faxprep::TPreviewQuickFaxForms chooser(QStringLiteral("QN0001.FCT"));
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    QVERIFY(chooser.FileList->currentItem());
    QCOMPARE(chooser.FileList->currentItem()->text(), QStringLiteral("QN0001.FCT"));
    QVERIFY(!chooser.Preview->pixmap().isNull());
    QCOMPARE(chooser.Description->text(), QStringLiteral("Drawn cover"));
  }

  // Leaving, "&New" and a cancelled save-as never drop a drawing unasked.
  void unsavedChangesAreAskedFor() {
    TCoverDesMainScreen w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Add(*w.LabelPanel, "TFaxCoverShapes", 10, 10, 50, 50);
    w.LabelPanel->NotifyChanged();
    QVERIFY(w.ChangesMade());

    // Exit, answer Yes, then cancel the save-as: the window stays with the drawing.
    ModalScript script;
    script.Answer(QMessageBox::Yes).Then([](QWidget* d) {
      QVERIFY(qobject_cast<TSaveTemplateAs*>(d));
      QTest::mouseClick(qobject_cast<TSaveTemplateAs*>(d)->CancelButton, Qt::LeftButton);
    });
    QTest::mouseClick(w.CloseButton, Qt::LeftButton);
    QVERIFY(script.Done());
    QCOMPARE(script.seen().at(0).caption, QStringLiteral("Save"));
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Save changes?"));
    QVERIFY(w.isVisible());
    QCOMPARE(w.LabelPanel->Objects().size(), 1);

    // "&New" asks too; No discards.
    ModalScript discard;
    discard.Answer(QMessageBox::No);
    w.New1->trigger();
    QVERIFY(discard.Done());
    QCOMPARE(w.LabelPanel->Objects().size(), 0);
    QVERIFY(!w.ChangesMade());

    // Without changes Exit closes at once.
    QTest::mouseClick(w.CloseButton, Qt::LeftButton);
    QVERIFY(!w.isVisible());
  }

  void recentFiles() {
    // The list keeps five, most recent first, and lives in CDMRU.
    TMRUFileList mru;
    QMenu menu;
    mru.AttachTo(&menu);
    for (int i = 0; i < 7; ++i) mru.Add(QStringLiteral("/t/F%1.FCS").arg(i));
    mru.Add(QStringLiteral("/t/F4.FCS"));
    QCOMPARE(mru.Files(), (QStringList{"/t/F4.FCS", "/t/F6.FCS", "/t/F5.FCS", "/t/F3.FCS", "/t/F2.FCS"}));
    QCOMPARE(menu.actions().size(), 6);  // separator and five entries
    QCOMPARE(menu.actions()[1]->text(), QStringLiteral("&1 /t/F4.FCS"));
    QVERIFY(mru.Save(qn::SettingsFile()));
    TMRUFileList loaded;
    loaded.Load(qn::SettingsFile());
    QCOMPARE(loaded.Files(), mru.Files());

    // A recent file that was deleted: its path and " no longer exists"; it leaves the list.
    const QString gone = Covers(QStringLiteral("GONE.FCS"));
    TMRUFileList seed;
    seed.Add(gone);
    seed.Save(qn::SettingsFile());
    TCoverDesMainScreen w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAction* entry = nullptr;
    for (QAction* a : w.FileMenu->actions())
      if (a->text().endsWith(gone)) entry = a;
    QVERIFY(entry);
    ModalScript script;
    script.Answer(QMessageBox::Ok);
    entry->trigger();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().at(0).text, gone + QStringLiteral(" no longer exists"));
    QVERIFY(w.MRU->Files().isEmpty());
    QCOMPARE(Ini("CDMRU", "F0"), std::string());
  }

  void saveAsNames() {
    QVERIFY(ValidTemplateName(QStringLiteral("A_1.fcs")));
    QVERIFY(ValidTemplateName(QStringLiteral("_X.FCS")));
    QVERIFY(!ValidTemplateName(QStringLiteral("1ABC.FCS")));
    QVERIFY(!ValidTemplateName(QStringLiteral("ABCDEFGHI.FCS")));  // 13 characters
    QVERIFY(ValidTemplateName(QStringLiteral("ABCDEFGH.FCS")));
    QVERIFY(!ValidTemplateName(QStringLiteral("AB.FCT")));
    QVERIFY(!ValidTemplateName(QStringLiteral(".FCS")));
    QVERIFY(!ValidTemplateName(QStringLiteral("A-B.FCS")));
    qn::ForceFolder(qn::CoversFolder());
    WriteAll(Covers(QStringLiteral("QN0001.FCS")), "x");
    WriteAll(Covers(QStringLiteral("qn0003.fcs")), "x");
    QCOMPARE(NextTemplateName(qn::CoversFolder()), QStringLiteral("QN0002.FCS"));

    TSaveTemplateAs d;
    d.TemplateName->setText(QStringLiteral("1ABC.FCS"));
    d.TemplateDescription->setText(QStringLiteral("d"));
    QVERIFY(!d.OkButton->isEnabled());
    d.TemplateName->setText(QStringLiteral("A_1.fcs"));
    QVERIFY(d.OkButton->isEnabled());
    d.TemplateDescription->clear();
    QVERIFY(!d.OkButton->isEnabled());
  }

  // Saving at 150 % writes what 100 % writes and comes back to 150 %.
  void zoomDoesNotChangeTheFiles() {
    TCoverDesMainScreen w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Add(*w.LabelPanel, "TFaxCoverShapes", 33, 47, 101, 59);
    Add(*w.LabelPanel, "TFaxCoverLabel", 71, 13, 142, 33, {{"Caption", std::string("Zoom me")}});
    qn::ForceFolder(qn::CoversFolder());
    const QString a = Covers(QStringLiteral("A.FCS")), b = Covers(QStringLiteral("B.FCS"));
    QVERIFY(w.SaveLabelFile(a, QStringLiteral("d")));
    for (int i = 0; i < 5; ++i) w.ZoomIn();
    QCOMPARE(w.ZoomPercent(), 150);
    QCOMPARE(w.ZoomCaption->text(), QStringLiteral("150%"));
    QVERIFY(w.SaveLabelFile(b, QStringLiteral("d")));
    QCOMPARE(w.ZoomPercent(), 150);
    QCOMPARE(w.LabelPanel->Zoom(), 1.5F);
    QCOMPARE(ReadAll(a), ReadAll(b));
    QCOMPARE(ReadAll(Covers(QStringLiteral("A.FCT"))), ReadAll(Covers(QStringLiteral("B.FCT"))));
    // Zoom stops at 160 % and 40 %.
    w.ZoomIn();
    w.ZoomIn();
    QCOMPARE(w.ZoomPercent(), 160);
    for (int i = 0; i < 20; ++i) w.ZoomOut();
    QCOMPARE(w.ZoomPercent(), 40);
  }

  // Copy in one designer, paste in another through the clipboard file; a paste
  // within a second is ignored; clones get names of their own.
  void clipboardBetweenDesigners() {
    TCoverDesMainScreen one;
    one.show();
    auto* shape = Add(*one.LabelPanel, "TFaxCoverShapes", 40, 50, 60, 70);
    auto* label = Add(*one.LabelPanel, "TFaxCoverLabel", 200, 210, 100, 20, {{"Caption", std::string("Copied")}});
    QVERIFY(shape && label);
    one.LabelPanel->AddToSelection(label);
    one.LabelPanel->AddToSelection(shape);
    QVERIFY(one.Clipboard->Copy(one.LabelPanel->Selection()));
    QVERIFY(QFile::exists(one.LabelPanel->ClipboardFileName()));
    QCOMPARE(one.LabelPanel->ClipboardFileName(), home_ + QStringLiteral("Clipbrd.tmp"));

    TCoverDesMainScreen two;
    two.show();
    QVERIFY(QTest::qWaitForWindowExposed(&two));
    QVERIFY(two.Clipboard->Paste());
    QCOMPARE(two.LabelPanel->Objects().size(), 2);
    // In selection order: the label first, then the shape, each 15 right and down.
    QCOMPARE(two.LabelPanel->Objects()[0]->BoundsRect().topLeft(), QPoint(215, 225));
    QCOMPARE(two.LabelPanel->Objects()[0]->GetPublished(QStringLiteral("Caption")).toString(),
             QStringLiteral("Copied"));
    QCOMPARE(two.LabelPanel->Objects()[1]->BoundsRect(), QRect(55, 65, 60, 70));
    QVERIFY(two.ChangesMade());
    QVERIFY(!two.Clipboard->Paste());  // within a second
    QCOMPARE(two.LabelPanel->Objects().size(), 2);
    two.LabelPanel->SetLastPasteTime(two.LabelPanel->LastPasteTime() - 1500);
    QVERIFY(two.Clipboard->Paste());
    QCOMPARE(two.LabelPanel->Objects().size(), 4);
    QCOMPARE(two.LabelPanel->Objects()[3]->BoundsRect(), QRect(55, 65, 60, 70));  // the same place again
    QStringList names;
    for (auto* o : two.LabelPanel->Objects()) names << o->Name();
    QCOMPARE(names, (QStringList{"Component0", "Component1", "Component2", "Component3"}));

    // Clone: 25 lower, in front, a new name, and in the selection in place of its source.
    auto* source = two.LabelPanel->Objects()[1];
    two.LabelPanel->ClearSelection();
    two.LabelPanel->AddToSelection(source);
    auto* clone = two.Clipboard->Clone(source);
    QVERIFY(clone);
    QCOMPARE(clone->BoundsRect(), QRect(55, 90, 60, 70));
    QCOMPARE(two.LabelPanel->Objects().back(), clone);
    QCOMPARE(clone->Name(), QStringLiteral("Component4"));
    QCOMPARE(two.LabelPanel->Selection(), (QList<design::TGGraphicControl*>{clone}));
    auto* second = two.Clipboard->Clone(clone);
    QCOMPARE(second->Name(), QStringLiteral("Component5"));

    // Cut: written, then gone.
    QVERIFY(two.Clipboard->Cut({second}));
    QCOMPARE(two.LabelPanel->Objects().size(), 5);
  }

  // Damaged design sources: a message, what could be read stays on the page,
  // the file itself is left alone and is not the current file afterwards.
  void damagedFiles() {
    qn::ForceFolder(qn::CoversFolder());
    StreamObject good1{"TFaxCoverShapes", "Special1", {{"Left", 1}, {"Top", 2}, {"Width", 30}, {"Height", 40}}, {}};
    StreamObject good2{"TFaxCoverLine", "Special2", {{"Left", 5}, {"Top", 6}, {"Width", 70}, {"Height", 10}}, {}};
    StreamObject nested = good2;
    nested.children.push_back(good1);
    std::string claim = WriteObjectList({good1, good2});
    claim.pop_back();
    claim += std::string("TPF0") + char(14) + "TFaxCoverLabel" + char(1) + "c" + char(7) + "Caption" + char(12) +
             "\xFF\xFF\xFF\x7F" + "tiny";
    std::string truncated = WriteObjectList({good1, good2, good1});
    truncated.resize(truncated.size() - 9);
    const std::vector<std::pair<std::string, QString>> cases = {
        {WriteObjectList({good1, good2, {"TFaxCoverBalloon", "b", {}, {}}}), "Unknown object class TFaxCoverBalloon"},
        {WriteObjectList({good1, good2, {"TFaxCoverLine", "b", {{"Width", std::string("wide")}}, {}}}),
         "holds a text where an integer"},
        {WriteObjectList({good1, good2, nested}), "nested deeper than the format allows"},
        {claim, "claims 2147483647 bytes"},
        {truncated, "the file ends"},
    };
    for (const auto& [bytes, message] : cases) {
      const QString path = Covers(QStringLiteral("BAD.FCS"));
      QVERIFY(WriteAll(path, bytes));
      TCoverDesMainScreen w;
      w.show();
      ModalScript script;
      script.Answer(QMessageBox::Ok);
      w.OpenLabelFile(path);
      QVERIFY(script.Done());
      QVERIFY2(script.seen().at(0).text.contains(message), qPrintable(script.seen().at(0).text));
      QVERIFY(script.seen().at(0).text.contains(QStringLiteral("2 object(s) could be read")));
      QCOMPARE(w.LabelPanel->Objects().size(), 2);
      QCOMPARE(w.LabelPanel->Objects()[1]->BoundsRect(), QRect(5, 6, 70, 10));
      QVERIFY(w.CurrentFile().isEmpty());
      QCOMPARE(w.SaveButton->text(), QStringLiteral("&Save As"));
      QCOMPARE(ReadAll(path), QByteArray::fromStdString(bytes));
      ModalScript leave;
      leave.Answer(QMessageBox::No);
      w.close();
      QVERIFY(leave.Done());
    }
  }

  // A design file of thousands of objects opens in well under a second with the
  // first kMaxDesignObjects of them, each with its own name, and says so.
  void aDesignOfThousandsOfObjectsOpensAtOnce() {
    qn::ForceFolder(qn::CoversFolder());
    std::vector<StreamObject> many;
    for (int i = 0; i < 8000; ++i)
      many.push_back({"TFaxCoverLine", "l", {{"Left", i % 500}, {"Top", i % 700}, {"Width", 20}, {"Height", 10}}, {}});
    const QString path = Covers(QStringLiteral("MANY.FCS"));
    QVERIFY(WriteAll(path, WriteObjectList(many)));
    TCoverDesMainScreen w;
    w.show();
    ModalScript script;
    script.Answer(QMessageBox::Ok);
    QElapsedTimer clock;
    clock.start();
    w.OpenLabelFile(path);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed()) + " ms"));
    QVERIFY(script.Done());
    QVERIFY2(script.seen().at(0).text.contains(QStringLiteral("more than 1000 objects")),
             qPrintable(script.seen().at(0).text));
    QCOMPARE(w.LabelPanel->Objects().size(), kMaxDesignObjects);
    QSet<QString> names;
    for (const design::TGGraphicControl* o : w.LabelPanel->Objects()) names.insert(o->Name());
    QCOMPARE(names.size(), kMaxDesignObjects);
    QVERIFY(names.contains(QStringLiteral("Component0")) && names.contains(QStringLiteral("Component999")));
    ModalScript leave;
    leave.Answer(QMessageBox::No);
    w.close();
    QVERIFY(leave.Done());
  }

  // The flat template follows the unit formulas at another density too, and the
  // rendered cover has each object where its design position says.
  void flatteningAndRendering() {
    design::TGBasePanel* panel = nullptr;
    TCoverDesMainScreen w;
    panel = w.LabelPanel;
    Add(*panel, "TFaxCoverShapes", 48, 96, 96, 48, {{"ShapeFilltype", StreamIdent{"sftFilledBlack"}}});
    Add(*panel, "TFaxCoverLine", 300, 400, 120, 30, {{"Pen.Width", 3}, {"LineStyle", StreamIdent{"stVertical"}}});
    qn::ForceFolder(qn::CoversFolder());
    const std::string fcs = Covers(QStringLiteral("UNITS.FCS")).toStdString();
    for (int ppi : {96, 120}) {
      QVERIFY(SaveTemplate(*panel, fcs, "units", ppi).ok);
      std::vector<TemplateRecord> r;
      QVERIFY(ReadTemplateFile(qn::ChangeFileExt(fcs, ".FCT"), r));
      QCOMPARE(r.size(), std::size_t{2});
      QCOMPARE(r[0], (TemplateRecord{okShape, PixelsToFaxUnits(48, ppi), PixelsToFaxUnits(96, ppi),
                                     PixelsToFaxUnits(96, ppi), PixelsToFaxUnits(48, ppi), "", "", -1, false, false,
                                     false, stRectangle, sftFilledBlack, 2, -1, 25, -1}));
      QCOMPARE(r[1], (TemplateRecord{okLine, PixelsToFaxUnits(300, ppi), PixelsToFaxUnits(400, ppi),
                                     PixelsToFaxUnits(120, ppi), PixelsToFaxUnits(30, ppi), "", "", -1, false, false,
                                     false, -1, -1, 6, stVertical, -1, -1}));
    }
    QVERIFY(SaveTemplate(*panel, fcs, "units").ok);
    // At 96 per inch: 48 pixels are 98 fax units, drawn 98 further in: the black
    // rectangle covers x 196..392, y 294..392 of the page.
    const QImage page = RenderCoverPage(qn::ChangeFileExt(fcs, ".FCT"), SampleCoverData(), {});
    auto black = [&page](int x, int y) { return page.pixelIndex(x, y) == 1; };
    QVERIFY(black(200, 300) && black(388, 388) && black(300, 340));
    QVERIFY(!black(190, 300) && !black(398, 340) && !black(300, 288) && !black(300, 398));
    // The vertical line at 300 pixels left: 612 fax units, drawn from x 710.
    const int lineX = PixelsToFaxUnits(300, 96) + kPageMargin;
    const int lineY = PixelsToFaxUnits(400, 96) + kPageMargin + 20;
    QVERIFY(black(lineX, lineY) || black(lineX + 1, lineY));
    QVERIFY(!black(lineX - 8, lineY) && !black(lineX + 10, lineY));

    // An empty page writes an empty flat template.
    panel->ClearPanel();
    QVERIFY(SaveTemplate(*panel, fcs, "empty").ok);
    QCOMPARE(ReadAll(QString::fromStdString(qn::ChangeFileExt(fcs, ".FCT"))).size(), 0);
    QCOMPARE(ReadAll(QString::fromStdString(fcs)), QByteArray("\x01\x00", 2));
  }

  // "&Delete" removes the four files of the chosen template, whatever their
  // case, after asking with No as the default; "&Cancel" reopens the saved state.
  void deleteAndCancel() {
    TCoverDesMainScreen w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Add(*w.LabelPanel, "TFaxCoverShapes", 10, 10, 50, 50);
    qn::ForceFolder(qn::CoversFolder());
    const QString fcs = Covers(QStringLiteral("DEL.FCS"));
    QVERIFY(w.SaveLabelFile(fcs, QStringLiteral("to delete")));
    QFile::rename(Covers(QStringLiteral("DEL.bmp")), Covers(QStringLiteral("del.BMP")));
    WriteAll(Covers(QStringLiteral("KEEP.FCT")), "");

    w.OpenLabelFile(fcs);
    Add(*w.LabelPanel, "TFaxCoverLine", 100, 100, 50, 10);
    w.LabelPanel->NotifyChanged();
    QVERIFY(w.CancelButton->isVisible());
    ModalScript cancel;
    cancel.Answer(QMessageBox::Yes);
    QTest::mouseClick(w.CancelButton, Qt::LeftButton);
    QVERIFY(cancel.Done());
    QCOMPARE(cancel.seen().at(0).text, QStringLiteral("Cancel all changes?"));
    QCOMPARE(w.LabelPanel->Objects().size(), 1);
    QVERIFY(!w.ChangesMade());

    ModalScript script;
    script
        .Then([&fcs](QWidget* d) {
          auto* dialog = qobject_cast<QFileDialog*>(d);
          QVERIFY(dialog);
          QCOMPARE(dialog->windowTitle(), QStringLiteral("Delete Fax Cover Template File"));
          auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
          QVERIFY(name);
          name->setText(QFileInfo(fcs).fileName());
          QTest::keyClick(name, Qt::Key_Return);
        })
        .Answer(QMessageBox::Yes);
    w.Delete1->trigger();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().at(0).caption, QStringLiteral("CONFIRM"));
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Delete ") + fcs + QStringLiteral("?"));
    QCOMPARE(script.seen().at(0).defaultButton, QMessageBox::No);
    QCOMPARE(QDir(Covers(QString())).entryList(QDir::Files), QStringList{QStringLiteral("KEEP.FCT")});
    QCOMPARE(w.CurrentFile(), fcs);  // the open drawing stays
  }

  // The shipped templates open in the designer through File, Open and show what
  // they print; a new design's first Save As never takes a shipped name, and
  // choosing one asks before the default cover is replaced.
  void shippedTemplatesOpenAndAreReplacedOnlyWhenAsked() {
    QCOMPARE(InstallShippedCovers(qn::CoversFolder()), static_cast<int>(ShippedCovers().size()));
    TCoverDesMainScreen w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (const ShippedCover& cover : ShippedCovers()) {
      const QString fcs = QString::fromLatin1(cover.baseName) + QStringLiteral(".FCS");
      ModalScript open;
      open.Then([&fcs](QWidget* d) {
        auto* chooser = qobject_cast<TPreviewCovers*>(d);
        QVERIFY(chooser);
        const auto items = chooser->FileList->findItems(fcs, Qt::MatchFixedString);
        QCOMPARE(items.size(), 1);
        chooser->FileList->setCurrentItem(items.front());
        // The preview shows the whole page: scaled into the box, proportions kept.
        const QPixmap shown = chooser->Preview->pixmap();
        QVERIFY(!shown.isNull());
        const QSize room = chooser->PreviewBox->viewport()->size();
        QVERIFY2(shown.width() <= room.width() && shown.height() <= room.height(),
                 qPrintable(QStringLiteral("%1x%2 in %3x%4").arg(shown.width()).arg(shown.height())
                                .arg(room.width()).arg(room.height())));
        QVERIFY(shown.width() >= room.width() - 8 || shown.height() >= room.height() - 8);
        QVERIFY(qAbs(double(shown.width()) / shown.height() - 816.0 / 1056.0) < 0.02);
        QTest::mouseClick(chooser->OkButton, Qt::LeftButton);
      });
      w.Open1->trigger();
      QVERIFY(open.Done());
      QCOMPARE(QFileInfo(w.CurrentFile()).fileName(), fcs);
      QVERIFY(w.LabelPanel->Objects().size() > 5);
      // What the designer would save is what the shipped template holds.
      QString error;
      const std::string flat = FlattenPanel(*w.LabelPanel, 96, &error);
      QVERIFY2(error.isEmpty(), qPrintable(error));
      QCOMPARE(QByteArray::fromStdString(flat), ReadAll(Covers(QString::fromLatin1(cover.baseName) + ".FCT")));
    }

    w.New1->trigger();
    Add(*w.LabelPanel, "TFaxCoverShapes", 10, 10, 50, 50);
    w.LabelPanel->NotifyChanged();
    const QByteArray shipped = ReadAll(Covers(QStringLiteral("QN0001.FCT")));
    // A folder from before the sources were shipped: only the ".FCT" is there.
    QVERIFY(QFile::remove(Covers(QStringLiteral("QN0001.FCS"))));
    QString offered;
    QStringList asked;
    ModalScript saveAs;
    auto nameIt = [&offered](QWidget* d) {
      auto* s = qobject_cast<TSaveTemplateAs*>(d);
      QVERIFY(s);
      if (offered.isEmpty()) offered = s->TemplateName->text();
      s->TemplateName->setText(QStringLiteral("qn0001.fcs"));
      s->TemplateDescription->setText(QStringLiteral("Mine"));
      QTest::mouseClick(s->OkButton, Qt::LeftButton);
    };
    auto answer = [&asked](QMessageBox::StandardButton button) {
      return [&asked, button](QWidget* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        QVERIFY(box);
        asked << box->windowTitle() + QLatin1Char('|') + box->text();
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        box->button(button)->click();
      };
    };
    saveAs.Then(nameIt).Then(answer(QMessageBox::No)).Then([](QWidget* d) {
      auto* s = qobject_cast<TSaveTemplateAs*>(d);
      QVERIFY(s);
      QCOMPARE(s->TemplateName->text(), QStringLiteral("qn0001.fcs"));  // the dialog comes back as it was
      QTest::mouseClick(s->CancelButton, Qt::LeftButton);
    });
    QTest::mouseClick(w.SaveButton, Qt::LeftButton);
    QVERIFY(saveAs.Done());
    QCOMPARE(offered, QStringLiteral("QN0004.FCS"));
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.front(), QStringLiteral("Save fax cover template as|The template qn0001.fcs already exists.\n"
                                           "Do you want to replace it?"));
    QCOMPARE(ReadAll(Covers(QStringLiteral("QN0001.FCT"))), shipped);
    QVERIFY(w.CurrentFile().isEmpty());
    QVERIFY(w.ChangesMade());

    ModalScript replace;
    replace.Then(nameIt).Then(answer(QMessageBox::Yes));
    QTest::mouseClick(w.SaveButton, Qt::LeftButton);
    QVERIFY(replace.Done());
    QVERIFY(ReadAll(Covers(QStringLiteral("QN0001.FCT"))) != shipped);
    QCOMPARE(QDir(Covers(QString())).entryList({QStringLiteral("qn0001.*")}, QDir::Files).size(), 4);  // no doubles
    QVERIFY(!w.ChangesMade());
  }

  // An older Covers folder gets the design sources of the shipped templates it
  // holds unchanged; a template the user changed under a shipped name keeps its files.
  void olderCoversFoldersGetTheShippedSources() {
    const std::string folder = qn::CoversFolder();
    QCOMPARE(InstallShippedCovers(folder), static_cast<int>(ShippedCovers().size()));
    for (const char* name : {"QN0001.FCS", "QN0002.FCS", "QN0003.FCS"}) QVERIFY(QFile::remove(Covers(name)));
    QVERIFY(QFile::rename(Covers(QStringLiteral("QN0003.FCT")), Covers(QStringLiteral("qn0003.fct"))));
    QVERIFY(WriteAll(Covers(QStringLiteral("QN0002.FCT")), ""));
    QCOMPARE(NextTemplateName(folder), QStringLiteral("QN0004.FCS"));
    QCOMPARE(AddShippedDesignSources(folder), 2);
    QVERIFY(QFile::exists(Covers(QStringLiteral("QN0001.FCS"))));
    QVERIFY(!QFile::exists(Covers(QStringLiteral("QN0002.FCS"))));
    QVERIFY(QFile::exists(Covers(QStringLiteral("QN0003.FCS"))));
    QCOMPARE(AddShippedDesignSources(folder), 0);
  }

  // Every stored property of every class, away from its default, goes through
  // the real objects and comes back as the same bytes.
  void everyPropertyThroughTheObjects() {
    std::vector<StreamObject> streams;
    int n = 0;
    for (const char* cls : kCoverClassNames) {
      CoverObjectData o;
      o.className = cls;
      o.name = "Component" + std::to_string(n++);
      o.tag = -40000;
      o.left = 11 + n;
      o.top = 300;
      o.width = 200;
      o.height = 40;
      o.cursor = -21;
      o.hint = std::string(300, 'h');
      o.locked = o.unselectable = true;
      if (IsTextLikeKind(o.Kind())) {
        o.caption = "Caption \xC3\xA9 & more";
        o.hasFont = true;
        o.font = {0x123456, -37, "Courier New", fpFixed, true, true, true, true};
        if (o.Kind() == okField) o.fieldType = cfSenderVoice;
      } else {
        o.pen = {0x0000FF, pmXor, psDashDot, 7};
        o.fillType = sftFilledBlack;
        o.roundPerc = 60;
        o.shape = stCircle;
        o.lineStyle = stAngleSlopingDown;
      }
      streams.push_back(ToStreamObject(o));
    }
    const std::string bytes = WriteObjectList(streams);
    TCoverDesMainScreen w;
    const TemplateResult r = LoadObjects(*w.LabelPanel, bytes, 0, 0);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.objects, 7);
    QList<design::TGGraphicControl*> objects(w.LabelPanel->Objects().begin(), w.LabelPanel->Objects().end());
    QCOMPARE(QByteArray::fromStdString(WriteObjects(objects)), QByteArray::fromStdString(bytes));
  }

  // Saving drops objects that lie off the page, at the edges the rule gives.
  void saveKeepsOnlyObjectsOnThePage() {
    TCoverDesMainScreen w;
    auto& p = *w.LabelPanel;
    Add(p, "TFaxCoverLine", 0, 950, 20, 10);
    Add(p, "TFaxCoverLine", 0, 951, 20, 10);
    Add(p, "TFaxCoverLine", 758, 0, 20, 10);
    Add(p, "TFaxCoverLine", 759, 0, 20, 10);
    qn::ForceFolder(qn::CoversFolder());
    QVERIFY(SaveTemplate(p, Covers(QStringLiteral("EDGE.FCS")).toStdString(), "edge").ok);
    QCOMPARE(p.Objects().size(), 2);
    QCOMPARE(p.Objects()[0]->Top(), 950);
    QCOMPARE(p.Objects()[1]->Left(), 758);
  }
};

QTEST_MAIN(DesignerTest)
#include "designer_test.moc"
