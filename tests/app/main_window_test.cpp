// The main window driven through its buttons, menus and keys on the offscreen
// platform, each case on a fresh program folder.
#include <unistd.h>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <memory>
#include <vector>

#include "app/main/autostart.h"
#include "app/main/delete_what.h"
#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "app/main/single_instance.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "common/instance_channel.h"
#include "grid_columns.h"
#include "modal_script.h"
#include "records/ui/editors.h"
#include "records/ui/record_grid.h"
#include "sessions/settings.h"

using namespace qn;
using qntest::ModalScript;

namespace {

struct Fax {
  const char* subject;
  const char* recipient = "";
  const char* dateSent = "";  // CCYYMMDD or empty
  const char* doc = "";
  const char* cover = "";
  bool archived = false;
  const char* time = "";
};

void AddOut(xb::Table& t, const Fax& f) {
  QCOMPARE(t.appendBlank(), 0);
  t.setString("SUBJECT", f.subject);
  t.setString("RECIPIENT", f.recipient);
  t.setString("PHONE", "555-0100");
  t.setDate("DATESENT", f.dateSent);
  t.setString("TIMESENT", f.time);
  t.setString("FAXDOC", f.doc);
  t.setString("FAXCOVER", f.cover);
  t.setLogical("ARCHIVED", f.archived);
  QCOMPARE(t.post(), 0);
}

void AddRec(xb::Table& t, const char* from, const char* file, const char* date = "20261201") {
  QCOMPARE(t.appendBlank(), 0);
  t.setDate("DATEREC", date);
  t.setString("TIMEREC", "10:00");
  t.setString("FROM", from);
  t.setNumber("PAGES", 1);
  t.setString("FAXFILE", file);
  QCOMPARE(t.post(), 0);
}

void Touch(const QString& path) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write("APF test data");
}

// Stands in for the desktop's browser: records the addresses it is asked to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  explicit UrlCatcher(QList<QUrl>* opened) : opened_(opened) {}
 public slots:
  void Open(const QUrl& url) { opened_->append(url); }

 private:
  QList<QUrl>* opened_;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
  QString home_;

  std::unique_ptr<TMainScreen> Start() {
    auto w = std::make_unique<TMainScreen>();
    QSignalSpy done(w.get(), &TMainScreen::FirstActivationDone);
    w->show();
    if (w->TablesOpen()) {
      if (done.isEmpty()) done.wait(10000);
      if (done.isEmpty()) qWarning("first activation did not finish");
    }
    return w;
  }

  // A program folder with tables that already have their layout (no rebuild at start).
  void Prepare() {
    IniFile ini((home_ + "QN.INI").toStdString());
    ini.WriteInteger("Modem", "ComPort", 1);
    QVERIFY(ini.Flush());
    auto w = Start();
    w->close();
  }

  void Select(TMainScreen& w, TRecordGrid* grid, const char* field, const QString& value) {
    auto* m = grid->recordModel();
    for (int r = 0; r < m->rowCount(); ++r)
      if (m->CellText(r, m->ColumnOf(QLatin1String(field))) == value) {
        grid->setCurrentIndex(m->index(r, 0));
        QCOMPARE(QString::fromStdString((grid == w.FaxGrid ? w.FaxTable : w.RecTable).getTrimString(field)), value);
        return;
      }
    QFAIL(qPrintable(QStringLiteral("no row with ") + value));
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    Hooks() = MainHooks{};
    Settings() = FaxSettings{};
  }

  void freshStartCreatesTablesRunsQuickSetupAndRebuilds() {
    int quickSetups = 0;
    Hooks().RunQuickSetup = [&](TMainScreen&) {
      ++quickSetups;
      Settings().ComPort = 2;  // what the Quick Setup window stores on OK
      SaveSettings();
      return true;
    };
    {
      auto w = Start();
      QVERIFY(w->TablesOpen());
      QCOMPARE(quickSetups, 1);
      QVERIFY(!w->FirstRun);
      for (const char* f : {"QNOUT.DBF", "QNOUT.CDX", "QNREC.DBF", "QNREC.CDX", "QNPB.DBF", "QNPB.CDX"})
        QVERIFY2(QFile::exists(home_ + f), f);
      QVERIFY(QDir(home_ + "SEND").exists() && QDir(home_ + "Receive").exists());
      QVERIFY(w->FaxTable.tagArea("DATEND") > 0);  // the first start ended in a rebuild
      QVERIFY(w->RecTable.tagArea("DATEND") > 0);
      QCOMPARE(w->FaxTable.tagArea("DATESENT"), 1);
      QCOMPARE(w->windowTitle(), QStringLiteral("Quillon"));
      w->close();
    }
    const IniFile ini((home_ + "QN.INI").toStdString());
    QCOMPARE(ini.ReadString("Version", "Version", ""), std::string("2.9s"));
    QCOMPARE(ini.ReadInteger("Modem", "ComPort", -1), 2);
    QCOMPARE(ini.ReadInteger("Modem", "FaxClassReceive", -1), 1);
    QVERIFY(ini.HasKey("TMainScreen_Placement", "Bottom") || ini.HasKey("TMainScreen_Placement96", "Bottom") ||
            ini.HasSection("TMainScreen_Placement120") || ini.HasSection("TMainScreen_Placement144"));
    QVERIFY(QFile::exists(home_ + "Out.gco") && QFile::exists(home_ + "Out.gcs"));

    // The next start neither asks again nor rebuilds.
    const QDateTime cdxTime = QFileInfo(home_ + "QNOUT.CDX").lastModified();
    QTest::qWait(1100);
    auto w = Start();
    QCOMPARE(quickSetups, 1);
    QCOMPARE(QFileInfo(home_ + "QNOUT.CDX").lastModified(), cdxTime);
  }

  void corruptTableIsReportedAndTheWindowCloses() {
    QFile f(home_ + "QNOUT.DBF");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(300, '\x7f'));
    f.close();
    IniFile ini((home_ + "QN.INI").toStdString());
    ini.WriteString("User", "Name", "Keep Me");
    QVERIFY(ini.Flush());
    ModalScript script;
    script.Answer(QMessageBox::Ok).Answer(QMessageBox::Ok);
    auto w = std::make_unique<TMainScreen>();
    QVERIFY(!w->TablesOpen());
    QVERIFY(!script.seen().empty());
    QCOMPARE(script.seen()[0].text, QStringLiteral("Unable to open/create the FAX datafile - closing program"));
    // Commands reaching the window before it closes find no fax and do nothing.
    for (QAction* a : {w->mnuArchive, w->mnuClone, w->mnuDelete, w->mnuEdit}) {
      a->setEnabled(true);
      a->trigger();
    }
    w->show();
    QTRY_VERIFY(!w->isVisible());
    // The user's settings are not replaced by defaults on the way out.
    QCOMPARE(IniFile((home_ + "QN.INI").toStdString()).ReadString("User", "Name", ""), std::string("Keep Me"));
    QVERIFY(!IniFile((home_ + "QN.INI").toStdString()).HasKey("Version", "Version"));
  }

  void buttonStatesFollowTheListsAndPages() {
    Prepare();
    auto w = Start();
    for (QPushButton* b :
         {w->SendButton, w->DeleteButton, w->EditButton, w->ButtonviewPrint, w->Printbutton, w->AddCoverButton})
      QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
    QVERIFY(!w->mnuClone->isEnabled() && !w->mnuArchive->isEnabled() && !w->mnuPrint->isEnabled());
    QVERIFY(w->Newbutton->isEnabled() && w->OrderButton->isEnabled() && w->mnuNewCover->isEnabled());
    QVERIFY(!w->FaxGrid->isEnabled());

    AddOut(w->FaxTable, {"with cover", "A", "", "FAX00000.APF", "COV00000.APF"});
    w->FaxTable.goTop();
    w->SetButtons();
    for (QPushButton* b : {w->SendButton, w->DeleteButton, w->EditButton, w->ButtonviewPrint, w->Printbutton})
      QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
    QVERIFY(!w->AddCoverButton->isEnabled());  // it has a cover already
    QVERIFY(w->mnuClone->isEnabled() && w->mnuArchive->isEnabled() && w->FaxGrid->isEnabled());
    QVERIFY(!w->mnuForward->isEnabled());
    AddOut(w->FaxTable, {"no cover", "B", "", "FAX00001.APF"});
    w->SetButtons();
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("no cover"));
    QVERIFY(w->AddCoverButton->isEnabled() && w->mnuAddCover->isEnabled());

    // Ctrl+Tab shows the other page exactly as a click on its tab.
    QTest::keyClick(w->FaxGrid, Qt::Key_Tab, Qt::ControlModifier);
    QVERIFY(!w->OutgoingPageShown());
    QCOMPARE(w->TabSet1->currentIndex(), 1);
    QVERIFY(!w->Newbutton->isEnabled() && !w->AddCoverButton->isEnabled() && !w->mnuClone->isEnabled());
    QVERIFY(!w->EditButton->isEnabled() && !w->mnuForward->isEnabled());
    AddRec(w->RecTable, "Sender", "REC00000.APF");
    w->RecTable.goTop();
    w->SetButtons();
    QVERIFY(w->EditButton->isEnabled() && w->DeleteButton->isEnabled() && w->mnuForward->isEnabled());
    QVERIFY(w->OrderButton->isEnabled() && w->Printbutton->isEnabled());
    QTest::keyClick(w->RecFaxGrid, Qt::Key_Tab, Qt::ControlModifier);
    QVERIFY(w->OutgoingPageShown());
  }

  void receiveModeGuardsItsCommands() {
    Prepare();
    auto w = Start();
    AddRec(w->RecTable, "Sender", "REC00000.APF");
    Touch(home_ + "Receive/REC00000.APF");
    w->RecTable.goTop();
    w->SetButtons();
    int hookCalls = 0;
    Hooks().NewCoverSheet = Hooks().AddCoverSheet = Hooks().Preferences =
        Hooks().CoverDesigner = [&](TMainScreen&) { ++hookCalls; };
    w->InReceiveMode = true;
    const QList<QAction*> guarded = {w->mnuNewCover,    w->mnuAddCover,       w->mnuPhoneBook,
                                     w->mnuPreferences, w->mnuRebuildIndexes, w->mnuCleanup,
                                     w->mnuForward,     w->mnuDesigner,       w->mnuOnLine};
    ModalScript script;
    for (int i = 0; i < guarded.size(); ++i) script.Answer(QMessageBox::Ok);
    for (QAction* a : guarded) {
      a->setEnabled(true);
      a->trigger();
    }
    QVERIFY(script.Done());
    QCOMPARE(hookCalls, 0);
    for (const auto& s : script.seen()) {
      QCOMPARE(s.caption, QStringLiteral("Information"));
      QCOMPARE(s.text,
               QStringLiteral("You are in Fax Receive mode. This operation cannot be done\nwhile in Fax Receive "
                              "mode. Click the Stop button to end\nFax Receive mode"));
    }
    QVERIFY(script.unexpected().isEmpty());
    w->InReceiveMode = false;
    w->mnuNewCover->trigger();
    QCOMPARE(hookCalls, 1);
  }

  void sortingAndArchiving() {
    Prepare();
    auto w = Start();
    AddOut(w->FaxTable, {"Bravo", "Zed", "20261101", "F1.APF", "", false, "09:00"});
    AddOut(w->FaxTable, {"alpha", "Yan", "", "F2.APF"});
    AddOut(w->FaxTable, {"Charlie", "Xu", "20261120", "F3.APF", "", false, "08:00"});
    w->SetButtons();
    // Date Sent: newest first, never-sent last.
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), (QStringList{"Charlie", "Bravo", "alpha"}));
    w->mnuSubject->trigger();
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), (QStringList{"alpha", "Bravo", "Charlie"}));
    QVERIFY(w->mnuSubject->isChecked() && !w->mnuDateSent->isChecked());
    w->mnuRecipient->trigger();
    QCOMPARE(Column(w->FaxGrid, "RECIPIENT"), (QStringList{"Xu", "Yan", "Zed"}));

    // Archive "Yan": asked with No as the default, then gone from the list.
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("alpha"));
    QCOMPARE(w->mnuArchive->text(), QStringLiteral("&Archive"));
    ModalScript script;
    script.Answer(QMessageBox::Yes);
    w->mnuArchive->trigger();
    QCOMPARE(script.seen().at(0).caption, QStringLiteral("Archive"));
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Archive the current fax?\n(subject: alpha)"));
    QCOMPARE(script.seen().at(0).defaultButton, QMessageBox::No);
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), (QStringList{"Charlie", "Bravo"}));

    // Shown again with Show Archived, in red, with the UnArchive caption.
    w->mnuShowArchives->trigger();
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 3);
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("alpha"));
    const int row = w->FaxGrid->currentIndex().row();
    QVERIFY(w->FaxGrid->recordModel()->IsArchivedRow(row));
    QCOMPARE(
        w->FaxGrid->recordModel()->data(w->FaxGrid->recordModel()->index(row, 0), Qt::ForegroundRole).value<QColor>(),
        QColor(Qt::red));
    QCOMPARE(w->mnuArchive->text(), QStringLiteral("Un&Archive"));
    w->mnuShowArchives->trigger();
    QCOMPARE(w->ListFilter, QStringLiteral(".not. ARCHIVED"));
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 2);
  }

  void deletePathsRemoveTheRightFiles() {
    Prepare();
    auto w = Start();
    for (const char* f : {"FAX00000.APF", "COV00000.APF", "COV00000.fcd", "FAX00001.APF", "COV00001.APF",
                          "COV00001.fcd", "COV00002.APF", "COV00002.fcd"})
      Touch(home_ + "SEND/" + f);
    AddOut(w->FaxTable, {"both", "", "20261101", "FAX00000.APF", "COV00000.APF"});
    AddOut(w->FaxTable, {"both2", "", "20261102", "FAX00001.APF", "COV00001.APF"});
    AddOut(w->FaxTable, {"cover only", "", "20261103", "", "COV00002.APF"});
    w->SetButtons();

    // Both halves: the three-way window; "Delete Fax Cover" keeps the record and body.
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("both"));
    ModalScript script;
    script.Then([](QWidget* d) {
      auto* what = qobject_cast<TDeleteWhat*>(d);
      QVERIFY(what);
      QCOMPARE(what->windowTitle(), QStringLiteral("Delete Fax"));
      what->SetItemIndex(0);
      what->accept();
    });
    w->DeleteButton->click();
    QVERIFY(script.Done());
    QVERIFY(!QFile::exists(home_ + "SEND/COV00000.APF") && !QFile::exists(home_ + "SEND/COV00000.fcd"));
    QVERIFY(QFile::exists(home_ + "SEND/FAX00000.APF"));
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 3);
    QVERIFY(w->FaxTable.getTrimString("FAXCOVER").empty());

    // Cancel changes nothing; "both" deletes record and files.
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("both2"));
    script.Then([](QWidget* d) { qobject_cast<QDialog*>(d)->reject(); });
    w->mnuDelete->trigger();
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 3);
    script.Then([](QWidget* d) {
      qobject_cast<TDeleteWhat*>(d)->SetItemIndex(2);
      qobject_cast<QDialog*>(d)->accept();
    });
    w->mnuDelete->trigger();
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 2);
    for (const char* f : {"FAX00001.APF", "COV00001.APF", "COV00001.fcd"}) QVERIFY(!QFile::exists(home_ + "SEND/" + f));
    QCOMPARE(w->FaxTable.recCount(), 3u);  // marked, still in the file until a rebuild

    // A cover-only fax gets the plain question, No by default.
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("cover only"));
    script.Answer(QMessageBox::Yes);
    w->DeleteButton->click();
    QCOMPARE(script.seen().back().text, QStringLiteral("Delete the current fax?\n(subject: \"cover only\")"));
    QCOMPARE(script.seen().back().defaultButton, QMessageBox::No);
    QVERIFY(!QFile::exists(home_ + "SEND/COV00002.APF") && !QFile::exists(home_ + "SEND/COV00002.fcd"));
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 1);

    // Incoming: the question names the sender; the file goes with the record.
    Touch(home_ + "Receive/REC00000.APF");
    AddRec(w->RecTable, "ACME", "REC00000.APF");
    w->ShowPage(false);
    w->RecTable.goTop();
    w->SetButtons();
    script.Answer(QMessageBox::No);
    w->DeleteButton->click();
    QVERIFY(QFile::exists(home_ + "Receive/REC00000.APF"));
    script.Answer(QMessageBox::Yes);
    w->DeleteButton->click();
    QCOMPARE(script.seen().back().text, QStringLiteral("Delete the current fax?\n(from: \"ACME\")"));
    QVERIFY(!QFile::exists(home_ + "Receive/REC00000.APF"));
    QCOMPARE(w->RecFaxGrid->recordModel()->rowCount(), 0);
    QVERIFY(!w->DeleteButton->isEnabled());
  }

  void cloneCopiesFilesAndLeavesOutACoverWithoutItsFcd() {
    Prepare();
    auto w = Start();
    for (const char* f : {"FAX00000.APF", "COV00000.APF", "COV00000.fcd", "COV00001.APF"}) Touch(home_ + "SEND/" + f);
    AddOut(w->FaxTable, {"full", "Ann", "20261101", "FAX00000.APF", "COV00000.APF"});
    AddOut(w->FaxTable, {"no fcd", "Bob", "20261102", "", "COV00001.APF"});
    w->SetButtons();
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("full"));
    ModalScript script;
    script.Answer(QMessageBox::Yes);
    w->mnuClone->trigger();
    QCOMPARE(script.seen().at(0).caption, QStringLiteral("Clone"));
    QVERIFY(QFile::exists(home_ + "SEND/FAX00001.APF"));
    QVERIFY(QFile::exists(home_ + "SEND/COV00002.APF") && QFile::exists(home_ + "SEND/COV00002.fcd"));
    QVERIFY(Column(w->FaxGrid, "SUBJECT").contains(QStringLiteral("[clone]full")));
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("[clone]full"));
    QCOMPARE(w->FaxTable.getTrimString("FAXDOC"), std::string("FAX00001.APF"));
    QCOMPARE(w->FaxTable.getTrimString("FAXCOVER"), std::string("COV00002.APF"));
    QCOMPARE(w->FaxTable.getTrimString("RECIPIENT"), std::string("Ann"));
    QVERIFY(w->FaxTable.getTrimString("NOTES").empty());

    // A cover without its .fcd is left out and the document cloned alone; a fax
    // with nothing else is not cloned at all (no record would name a file).
    Touch(home_ + "SEND/FAX00002.APF");
    Touch(home_ + "SEND/COV00003.APF");
    AddOut(w->FaxTable, {"doc and bare cover", "Cy", "20261103", "FAX00002.APF", "COV00003.APF"});
    w->SetButtons();
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("doc and bare cover"));
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    w->mnuClone->trigger();
    QVERIFY(script.Done());
    QVERIFY(script.seen().back().text.startsWith(QStringLiteral("The fax was cloned without its cover sheet")));
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("[clone]doc and bare cover"));
    QCOMPARE(w->FaxTable.getTrimString("FAXDOC"), std::string("FAX00003.APF"));
    QVERIFY(w->FaxTable.getTrimString("FAXCOVER").empty());
    QCOMPARE(w->FaxTable.getTrimString("RECIPIENT"), std::string("Cy"));
    QVERIFY(QFile::exists(home_ + "SEND/FAX00003.APF"));
    QVERIFY(!QFile::exists(home_ + "SEND/COV00004.APF"));

    const int before = w->FaxGrid->recordModel()->rowCount();
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("no fcd"));
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    w->mnuClone->trigger();
    QVERIFY(script.Done());
    QVERIFY(script.seen().back().text.startsWith(QStringLiteral("The fax could not be cloned")));
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), before);
    QVERIFY(!Column(w->FaxGrid, "SUBJECT").contains(QStringLiteral("[clone]no fcd")));
    QVERIFY(!QFile::exists(home_ + "SEND/COV00004.APF"));
    // A body that is gone: the cover, complete with its .fcd, is cloned alone.
    QVERIFY(QFile::remove(home_ + "SEND/FAX00000.APF"));
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("full"));
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    w->mnuClone->trigger();
    QVERIFY(script.Done());
    QVERIFY(script.seen().back().text.startsWith(QStringLiteral("The fax was cloned without its document")));
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), before + 1);
    QVERIFY(QFile::exists(home_ + "SEND/COV00004.APF") && QFile::exists(home_ + "SEND/COV00004.fcd"));
    // Answering No clones nothing.
    const int rows = w->FaxGrid->recordModel()->rowCount();
    script.Answer(QMessageBox::No);
    w->mnuClone->trigger();
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), rows);
  }

  // Reopens a table of the window so that it refuses every write.
  static void MakeReadOnly(xb::Table& t) {
    const std::string path = t.path();
    t.close();
    QCOMPARE(t.open(path, xb::OpenMode::ReadOnly), 0);
    t.goTop();
  }

  void deletingKeepsTheFilesWhenTheTableRefuses() {
    Prepare();
    auto w = Start();
    for (const char* f : {"FAX00000.APF", "COV00000.APF", "COV00000.fcd"}) Touch(home_ + "SEND/" + f);
    Touch(home_ + "Receive/REC00000.APF");
    AddOut(w->FaxTable, {"both", "", "20261101", "FAX00000.APF", "COV00000.APF"});
    AddRec(w->RecTable, "ACME", "REC00000.APF");
    MakeReadOnly(w->FaxTable);
    MakeReadOnly(w->RecTable);
    w->SetButtons();
    QVERIFY(w->DeleteButton->isEnabled());
    ModalScript script;
    for (int item : {0, 1, 2}) {
      script.Then([item](QWidget* d) {
        qobject_cast<TDeleteWhat*>(d)->SetItemIndex(item);
        qobject_cast<QDialog*>(d)->accept();
      });
      script.Answer(QMessageBox::Ok);
      w->DeleteButton->click();
      QVERIFY(script.Done());
      QCOMPARE(script.seen().back().caption, QStringLiteral("Error"));
    }
    w->ShowPage(false);
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    w->DeleteButton->click();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().back().caption, QStringLiteral("Error"));
    for (const char* f : {"SEND/FAX00000.APF", "SEND/COV00000.APF", "SEND/COV00000.fcd", "Receive/REC00000.APF"})
      QVERIFY2(QFile::exists(home_ + f), f);
    QCOMPARE(w->RecFaxGrid->recordModel()->rowCount(), 1);
    w->ShowPage(true);
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 1);
    QCOMPARE(w->FaxTable.getTrimString("FAXCOVER"), std::string("COV00000.APF"));
  }

  void recordsNamingFilesOutsideTheirFolderDeleteNothing() {
    Prepare();
    auto w = Start();
    QVERIFY(QFile::exists(home_ + "QN.INI"));
    AddOut(w->FaxTable, {"escape", "", "20261101", "../QN.INI", "/etc/hostname"});
    AddRec(w->RecTable, "up", "../QN.INI");
    AddRec(w->RecTable, "root", "/etc/hostname");
    w->SetButtons();
    ModalScript script;
    script.Then([](QWidget* d) {
      qobject_cast<TDeleteWhat*>(d)->SetItemIndex(2);
      qobject_cast<QDialog*>(d)->accept();
    });
    w->DeleteButton->click();
    QVERIFY(script.Done());
    QCOMPARE(w->FaxGrid->recordModel()->rowCount(), 0);
    w->ShowPage(false);
    for (int i = 0; i < 2; ++i) {
      script.Answer(QMessageBox::Yes);
      w->DeleteButton->click();
      QVERIFY(script.Done());
    }
    QCOMPARE(w->RecFaxGrid->recordModel()->rowCount(), 0);
    QVERIFY(QFile::exists(home_ + "QN.INI"));
    QVERIFY(QFile::exists(QStringLiteral("/etc/hostname")));
  }

  void bothTablesFailingAreBothReported() {
    for (const char* name : {"QNOUT.DBF", "QNREC.DBF"}) {
      QFile f(home_ + name);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(300, '\x7f'));
    }
    ModalScript script;
    script.Answer(QMessageBox::Ok).Answer(QMessageBox::Ok);
    auto w = std::make_unique<TMainScreen>();
    QVERIFY(!w->TablesOpen());
    w->show();
    QTRY_VERIFY(!w->isVisible());
    QVERIFY(script.Done());
    QCOMPARE(script.seen().size(), size_t(2));
    QCOMPARE(script.seen()[0].text, QStringLiteral("Unable to open/create the FAX datafile - closing program"));
    QCOMPARE(script.seen()[1].text, QStringLiteral("Unable to open/create the FAX RECEIVE datafile - closing program"));
  }

  void failedForwardIsReportedAndLeavesNoCopy() {
    Prepare();
    auto w = Start();
    Touch(home_ + "Receive/REC00007.APF");
    AddRec(w->RecTable, "Head Office", "REC00007.APF");
    MakeReadOnly(w->FaxTable);
    w->ShowPage(false);
    w->RecTable.goTop();
    w->SetButtons();
    ModalScript script;
    script.Answer(QMessageBox::Yes).Then([](QWidget* d) { qobject_cast<TFaxEditor*>(d)->AcceptButton->click(); });
    script.Answer(QMessageBox::Ok);
    w->mnuForward->trigger();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().back().caption, QStringLiteral("Error"));
    QVERIFY(script.seen().back().text.startsWith(QStringLiteral("The fax could not be forwarded.")));
    QVERIFY(!QFile::exists(home_ + "SEND/FWD00000.APF"));
    QCOMPARE(w->FaxTable.recCount(), 0u);
  }

  void faxFileColumnShowsTheFileAsItIs() {
    Prepare();
    auto w = Start();
    Touch(home_ + "SEND/FAX00000.APF");
    Touch(home_ + "Receive/Rec00001.apf");
    AddOut(w->FaxTable, {"one", "", "20261101", "fax00000.apf"});
    AddOut(w->FaxTable, {"cover", "", "20261102", "", "COV00000.APF"});
    AddRec(w->RecTable, "ACME", "REC00001.APF");
    w->SetButtons();
    const QStringList out = Column(w->FaxGrid, "calcFaxFile");
    QVERIFY(out.contains(home_ + "SEND/FAX00000.APF"));
    QVERIFY(out.contains(QStringLiteral("(Cover only)")));
    QCOMPARE(Column(w->RecFaxGrid, "calcFaxfile"), QStringList{home_ + "Receive/Rec00001.apf"});
  }

  void statusTipsFollowTheHintsSetting() {
    Prepare();
    auto w = Start();
    QVERIFY(w->mnuShowHint->isChecked());
    w->mnuEdit->showStatusText(w->FaxGrid);
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Edit the currently selected fax"));
    w->mnuShowHint->trigger();  // hints off
    QVERIFY(!Settings().HintsOn);
    w->statusBar()->clearMessage();
    w->mnuEdit->showStatusText(w->FaxGrid);
    QCOMPARE(w->statusBar()->currentMessage(), QString());
    w->mnuShowHint->trigger();
    w->mnuEdit->showStatusText(w->FaxGrid);
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Edit the currently selected fax"));
  }

  void forwardMakesAnOutgoingCopy() {
    Prepare();
    auto w = Start();
    Touch(home_ + "Receive/REC00007.APF");
    AddRec(w->RecTable, "Head Office", "REC00007.APF");
    w->ShowPage(false);
    w->RecTable.goTop();
    w->SetButtons();
    ModalScript script;
    script.Answer(QMessageBox::Yes).Then([](QWidget* d) {
      auto* editor = qobject_cast<TFaxEditor*>(d);
      QVERIFY(editor);
      QCOMPARE(editor->windowTitle(), QStringLiteral("Forward fax from: Head Office"));
      QVERIFY(editor->Recipient->text().isEmpty());
      editor->Recipient->setText(QStringLiteral("Branch"));
      editor->FaxNumber->setText(QStringLiteral("555-0177"));
      editor->Subject->setText(QStringLiteral("FYI"));
      editor->AcceptButton->click();
    });
    w->mnuForward->trigger();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Forward the current fax to be sent?\n(from: Head Office)"));
    QVERIFY(w->OutgoingPageShown());
    QVERIFY(QFile::exists(home_ + "SEND/FWD00000.APF"));
    QVERIFY(QFile::exists(home_ + "Receive/REC00007.APF"));
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("FYI"));
    QCOMPARE(w->FaxTable.getTrimString("FAXDOC"), std::string("FWD00000.APF"));
    QCOMPARE(w->FaxTable.getTrimString("PHONE"), std::string("555-0177"));
    QCOMPARE(w->RecTable.recCount(), 1u);
  }

  void missingFoldersAndUnreadableSettingsNeverCrash() {
    // A folder where QN.INI should be: defaults, first run, and nothing overwritten.
    QVERIFY(QDir().mkpath(home_ + "QN.INI"));
    {
      auto w = Start();
      QVERIFY(w->TablesOpen());
      QVERIFY(w->FirstRun);
      QCOMPARE(Settings().DialAttempts, 3);
      // The SEND folder vanishes under the running program: forwarding reports it
      // and adds no record that names a missing file.
      Touch(home_ + "Receive/REC00001.APF");
      AddRec(w->RecTable, "X", "REC00001.APF");
      w->ShowPage(false);
      w->RecTable.goTop();
      w->SetButtons();
      QVERIFY(QDir(home_ + "SEND").removeRecursively());
      ModalScript script;
      script.Answer(QMessageBox::Yes).Then([](QWidget* d) { qobject_cast<TFaxEditor*>(d)->AcceptButton->click(); });
      script.Answer(QMessageBox::Ok);
      w->mnuForward->trigger();
      QVERIFY(script.Done());
      QCOMPARE(script.seen().back().caption, QStringLiteral("Information"));
      QCOMPARE(w->FaxTable.recCount(), 0u);
      w->close();
    }
    QVERIFY(QFileInfo(home_ + "QN.INI").isDir());
  }

  void editingAnOutgoingFaxWithoutCover() {
    Prepare();
    auto w = Start();
    AddOut(w->FaxTable, {"old subject", "Ann", "", "FAX00000.APF"});
    w->SetButtons();
    ModalScript script;
    script.Then([](QWidget* d) {
      auto* editor = qobject_cast<TFaxEditor*>(d);
      QVERIFY(editor);
      QCOMPARE(editor->Subject->text(), QStringLiteral("old subject"));
      editor->Subject->setText(QStringLiteral("new subject"));
      editor->AcceptButton->click();
    });
    const QPoint cell = w->FaxGrid->visualRect(w->FaxGrid->recordModel()->index(0, 0)).center();
    QTest::mouseClick(w->FaxGrid->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(w->FaxGrid->viewport(), Qt::LeftButton, {}, cell);
    QVERIFY(script.Done());
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), QStringList{QStringLiteral("new subject")});
  }

  // A fax that went out already: Edit warns that the log entry would no longer
  // match and offers Clone; Cancel changes nothing, Clone edits nothing, and
  // "Edit Anyway" opens the editor.
  void editingASentFaxWarnsAndOffersClone() {
    Prepare();
    auto w = Start();
    Touch(home_ + "SEND/FAX00000.APF");
    AddOut(w->FaxTable, {"went out", "Ann", "20261101", "FAX00000.APF", "", false, "10:15"});
    w->SetButtons();
    auto press = [](const QString& caption, QString* text) {
      return [caption, text](QWidget* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QStringLiteral("Edit Fax"));
        *text = box->text();
        for (QAbstractButton* b : box->buttons())
          if (b->text() == caption) return b->click();
        box->close();
        QFAIL(qPrintable(QStringLiteral("no button ") + caption));
      };
    };
    QString text;
    ModalScript cancel;
    cancel.Then(press(QStringLiteral("Cancel"), &text));
    w->EditButton->click();
    QVERIFY(cancel.Done());
    QVERIFY2(text.contains(QLatin1String("no longer match")) && text.contains(QLatin1String("10:15")), qPrintable(text));
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), QStringList{QStringLiteral("went out")});

    ModalScript clone;
    clone.Then(press(QStringLiteral("&Clone"), &text));
    w->EditButton->click();
    QVERIFY(clone.Done());
    QVERIFY(clone.unexpected().isEmpty());
    QVERIFY(Column(w->FaxGrid, "SUBJECT").contains(QStringLiteral("[clone]went out")));
    QVERIFY(QFile::exists(home_ + "SEND/FAX00001.APF"));

    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("went out"));
    ModalScript edit;
    edit.Then(press(QStringLiteral("&Edit Anyway"), &text));
    edit.Then([](QWidget* d) {
      auto* editor = qobject_cast<TFaxEditor*>(d);
      QVERIFY(editor);
      editor->Subject->setText(QStringLiteral("changed after sending"));
      editor->AcceptButton->click();
    });
    w->EditButton->click();
    QVERIFY(edit.Done());
    QVERIFY(Column(w->FaxGrid, "SUBJECT").contains(QStringLiteral("changed after sending")));
  }

  // Enter on a row does what a double click does: edits an outgoing fax, views
  // a received one; on an empty list it does nothing.
  void enterChoosesTheCurrentRow() {
    Prepare();
    int views = 0;
    Hooks().ViewPrintFax = [&views](TMainScreen&) { ++views; };
    auto w = Start();
    QTest::keyClick(w->FaxGrid, Qt::Key_Return);  // nothing to edit yet: no window
    AddOut(w->FaxTable, {"typed", "Ann", "", "FAX00000.APF"});
    w->SetButtons();
    Select(*w, w->FaxGrid, "SUBJECT", QStringLiteral("typed"));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      QString seen;
      ModalScript script;
      script.Then([&seen](QWidget* d) {
        auto* editor = qobject_cast<TFaxEditor*>(d);
        QVERIFY(editor);
        seen = editor->Subject->text();
        editor->CancelButton->click();
      });
      w->FaxGrid->setFocus();
      QTest::keyClick(w->FaxGrid, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
      QVERIFY(script.Done());
      QCOMPARE(seen, QStringLiteral("typed"));
    }
    QCOMPARE(views, 0);

    w->ShowPage(false);
    w->SetButtons();
    QTest::keyClick(w->RecFaxGrid, Qt::Key_Return);
    QCOMPARE(views, 0);  // no received fax yet
    AddRec(w->RecTable, "ACME", "REC00000.APF");
    w->RecTable.goTop();
    w->RecFaxGrid->Refresh();
    w->SetButtons();
    w->RecFaxGrid->setFocus();
    QTest::keyClick(w->RecFaxGrid, Qt::Key_Return);
    QCOMPARE(views, 1);
    QVERIFY(!QApplication::activeModalWidget());
    w->close();
  }

  // "Visit Our Internet Website" opens the address of [Program] Website, or the
  // page shipped with the help when none is set.
  void websiteFollowsTheSetting() {
    Prepare();
    QList<QUrl> opened;
    UrlCatcher catcher(&opened);
    for (const char* scheme : {"file", "https", "http"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &catcher, "Open");
    auto w = Start();
    w->mnuOnLine->trigger();
    QCOMPARE(opened.size(), 1);
    QVERIFY(opened.front().isLocalFile());
    QCOMPARE(QFileInfo(opened.front().toLocalFile()).fileName(), QStringLiteral("readme.html"));
    QVERIFY2(QFileInfo::exists(opened.front().toLocalFile()), qPrintable(opened.front().toString()));

    {
      IniFile ini((home_ + "QN.INI").toStdString());
      ini.WriteString("Program", "Website", "https://support.example.net/fax");
      QVERIFY(ini.Flush());
    }
    w->mnuOnLine->trigger();
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened.back(), QUrl(QStringLiteral("https://support.example.net/fax")));
    // Saving the settings keeps the address.
    SaveSettings();
    QCOMPARE(IniFile((home_ + "QN.INI").toStdString()).ReadString("Program", "Website", ""),
             std::string("https://support.example.net/fax"));
    for (const char* scheme : {"file", "https", "http"}) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    w->close();
  }

  // quillon --minimized (as the autostart entry starts it) comes up minimised
  // with the tables open; without it the window is shown normally.
  void startsMinimisedWhenAsked() {
    QVERIFY(StartMinimizedRequested({QStringLiteral("quillon"), QStringLiteral("--minimized")}));
    QVERIFY(!StartMinimizedRequested({QStringLiteral("quillon")}));
    QVERIFY(!StartMinimizedRequested({QStringLiteral("--minimized")}));  // the program's own name
    Prepare();
    auto w = std::make_unique<TMainScreen>();
    w->StartMinimized = true;
    QSignalSpy done(w.get(), &TMainScreen::FirstActivationDone);
    w->showMinimized();
    if (done.isEmpty()) done.wait(10000);
    QCOMPARE(done.size(), 1);
    QVERIFY(w->windowState() & Qt::WindowMinimized);
    QVERIFY(w->TablesOpen());
    w->close();
    auto normal = Start();
    QVERIFY(!(normal->windowState() & Qt::WindowMinimized));
    normal->close();
  }

  void columnLayoutSurvivesARestart() {
    Prepare();
    {
      auto w = Start();
      QHeaderView* h = w->FaxGrid->horizontalHeader();
      const int subject = w->FaxGrid->recordModel()->ColumnOf(QStringLiteral("SUBJECT"));
      h->moveSection(h->visualIndex(subject), 0);
      h->resizeSection(subject, 333);
      w->close();
    }
    QFile gco(home_ + "Out.gco");
    QVERIFY(gco.open(QIODevice::ReadOnly));
    const QStringList names = QString::fromLatin1(gco.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(names.first(), QStringLiteral("SUBJECT"));
    QVERIFY(!names.contains(QStringLiteral("calcFaxFile")));
    QVERIFY(names.contains(QStringLiteral("FAXDOC")));
    auto w = Start();
    QHeaderView* h = w->FaxGrid->horizontalHeader();
    const int subject = w->FaxGrid->recordModel()->ColumnOf(QStringLiteral("SUBJECT"));
    QCOMPARE(h->visualIndex(subject), 0);
    QCOMPARE(h->sectionSize(subject), 333);
  }

  void secondCopyAsksTheFirstToComeForward() {
    TJustOne first;
    QVERIFY(first.Claim());
    QSignalSpy forward(&first, &TJustOne::ComeForward);
    QProcess second;
    second.start(qEnvironmentVariable("QN_BINARY_DIR") + QStringLiteral("/bin/quillon"), {});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(forward.count() == 1 || forward.wait(3000));
    QVERIFY(!QFile::exists(home_ + "QNOUT.DBF"));  // the second copy opened nothing
  }

  // Another user's socket under the program's name in a shared folder (or in a
  // runtime folder others may write to) is never taken for a running Quillon.
  void squattedChannelDoesNotStopTheProgram() {
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QString open = home_ + QStringLiteral("open-runtime");
    QVERIFY(QDir().mkpath(open));
    QVERIFY(QFile::setPermissions(open, QFileDevice::Permissions(0x7777)));
    const QString name = qn::InstanceChannelName(qn::ProgramFolder(), getuid());
    std::vector<std::unique_ptr<QLocalServer>> squatters;
    for (const QString& place : {QStringLiteral("/tmp/") + name, open + QLatin1Char('/') + name}) {
      QLocalServer::removeServer(place);
      squatters.push_back(std::make_unique<QLocalServer>());
      QVERIFY(squatters.back()->listen(place));
    }
    qputenv("XDG_RUNTIME_DIR", open.toLocal8Bit());
    TJustOne first;
    const QString path = TJustOne::ServerName();
    QVERIFY(!path.isEmpty());
    QVERIFY2(!path.startsWith(open) && path != QStringLiteral("/tmp/") + name, qPrintable(path));
    QVERIFY(first.Claim());  // it listens itself instead of asking a squatter to come forward
    for (auto& s : squatters) QVERIFY(!s->hasPendingConnections());
    QLocalSocket later;
    later.connectToServer(path);
    QVERIFY(later.waitForConnected(3000));
    if (savedRuntime.isNull())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", savedRuntime);
  }

  // A later copy's "fax" request hands over absolute file names (any bytes,
  // percent-encoded); relative names are dropped, and a request too large to
  // be file names is cut off without handing anything over.
  void faxRequestHandsOverAbsoluteNames() {
    TJustOne first;
    QVERIFY(first.Claim());
    QSignalSpy fax(&first, &TJustOne::FaxRequested);
    auto send = [](const QByteArray& request) {
      QLocalSocket later;
      later.connectToServer(TJustOne::ServerName());
      QVERIFY(later.waitForConnected(3000));
      later.write(request);
      QTRY_COMPARE_WITH_TIMEOUT(later.bytesToWrite(), qint64(0), 10000);
      later.disconnectFromServer();
    };
    const QString odd = QStringLiteral("/tmp/a letter\nwith 100% odd ü name.pdf");
    send("fax\n" + QFile::encodeName(odd).toPercentEncoding() + "\nrelative.pdf\n" +
         QFile::encodeName(QStringLiteral("/srv/b.ps")).toPercentEncoding() + "\n");
    QVERIFY(fax.count() == 1 || fax.wait(3000));
    QCOMPARE(fax.at(0).at(0).toStringList(), (QStringList{odd, QStringLiteral("/srv/b.ps")}));
    send("fax\n" + QByteArray(5 << 20, 'x') + "\n");
    QTest::qWait(500);
    QCOMPARE(fax.count(), 1);
  }

  // The print queue's backend asks for a pick-up; that is no request to come forward.
  void printQueueAsksForAPickUp() {
    TJustOne first;
    QVERIFY(first.Claim());
    QSignalSpy forward(&first, &TJustOne::ComeForward), pickUp(&first, &TJustOne::PickUpRequested);
    QLocalSocket backend;
    backend.connectToServer(TJustOne::ServerName());
    QVERIFY(backend.waitForConnected(3000));
    backend.write("pickup\n");
    QVERIFY(backend.waitForBytesWritten(3000));
    backend.disconnectFromServer();
    QVERIFY(pickUp.count() == 1 || pickUp.wait(3000));
    QCOMPARE(forward.count(), 0);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
