// The main window with fax preparation linked in: start-up writes the hand-off
// file and installs the shipped templates, printed faxes are picked up, "&New"
// and "&Edit" go through the Fax Cover Sheet Editor into the outgoing list.
#include "app/main/faxprep_hooks.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "apf_writer.h"
#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "faxprep/quick_fax.h"
#include "grid_columns.h"
#include "modal_script.h"
#include "records/ui/editors.h"
#include "records/ui/record_grid.h"
#include "sessions/settings.h"

using namespace qn;
using qntest::ModalScript;

namespace {

void WriteFax(const QString& path) {
  fe::TApfWriter w;
  QCOMPARE(w.Create(path.toStdString()), 0);
  QCOMPARE(w.BeginPage(fe::pfHighRes | fe::pfLineRecords), 0);
  std::uint8_t line[216] = {0xF0};
  QCOMPARE(w.AppendRasterLine(line, 1728), 0);
  QCOMPARE(w.EndPage(), 0);
  QCOMPARE(w.Close(), 0);
}

void WriteText(const QString& path, const QByteArray& text) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(text);
}

}  // namespace

class FaxPrepHooksTest : public QObject {
  Q_OBJECT
  QString home_;

  std::unique_ptr<TMainScreen> Start() {
    auto w = std::make_unique<TMainScreen>();
    QSignalSpy done(w.get(), &TMainScreen::FirstActivationDone);
    w->show();
    if (done.isEmpty()) done.wait(10000);
    return w;
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    qputenv("XDG_CONFIG_HOME", (home_ + QStringLiteral("config")).toLocal8Bit());
    ResetProgramFolder();
    Hooks() = MainHooks{};
    Settings() = FaxSettings{};
    InstallFaxPrepHooks();
    // Tables of the current layout, so that the start does not rebuild them.
    IniFile ini((home_ + "QN.INI").toStdString());
    ini.WriteInteger("Modem", "ComPort", 1);
    QVERIFY(ini.Flush());
    auto w = Start();
    w->close();
    QDir(home_ + "Covers").removeRecursively();
  }

  void startUpPicksUpHandsOffAndInstallsTemplates() {
    QDir().mkpath(home_ + "SEND");
    WriteFax(home_ + "SEND/JOB1.APF");
    WriteText(home_ + "SEND/JOB1.JFD", "555-0100\r\nPrinted Person\r\nPrinted report\r\n");
    WriteText(home_ + "SEND/BROKEN.JFD", "just one line");
    ModalScript script;
    script.Answer(QMessageBox::Ok);  // the refused description, told once
    auto w = Start();
    QTRY_VERIFY(script.Done());
    QCOMPARE(script.seen().size(), std::size_t{1});
    QVERIFY(script.seen()[0].text.contains(QStringLiteral("BROKEN.JFD")));
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), QStringList{QStringLiteral("Printed report")});
    QVERIFY(!QFile::exists(home_ + "SEND/JOB1.JFD"));
    QVERIFY(QFile::exists(home_ + "SEND/BROKEN.JFD"));

    const std::string qnpd = (home_ + "config/quillon/QNPD.INI").toStdString();
    QCOMPARE(ReadProfileString(qnpd, "Location", "QNOutPath", ""), SendFolder());
    QVERIFY(!ReadProfileString(qnpd, "Location", "QNExecutable", "").empty());
    for (const char* f : {"QN0001.FCT", "QN0001.DES", "QN0001.bmp", "QN0002.FCT", "QN0003.FCT"})
      QVERIFY2(QFile::exists(home_ + "Covers/" + f), f);

    // A later activation takes a new pair and does not tell the old refusal again.
    WriteFax(home_ + "SEND/JOB2.APF");
    WriteText(home_ + "SEND/JOB2.JFD", "555-0101\nSecond\nSecond report\n");
    QCOMPARE(Hooks().ProcessExtraPDFaxFiles(*w), 1);
    QCOMPARE(Column(w->FaxGrid, "SUBJECT").size(), 2);
    w->close();
  }

  // A fax printed while the program runs without a number brings the Fax
  // Information Editor up for it; one printed meanwhile waits in the list.
  void printedFaxWithoutNumberAsksForIt() {
    auto w = Start();
    QDir().mkpath(home_ + "SEND");
    WriteFax(home_ + "SEND/JOB3.APF");
    WriteText(home_ + "SEND/JOB3.JFD", "\n\nNo number yet\n");
    int editors = 0, nested = -1;
    ModalScript script;
    script.Then([&](QWidget* d) {
      auto* e = qobject_cast<TFaxEditor*>(d);
      QVERIFY(e);
      ++editors;
      QCOMPARE(e->Subject->text(), QStringLiteral("No number yet"));
      // Another printed fax arrives while the editor is open: no second editor.
      WriteFax(home_ + "SEND/JOB4.APF");
      WriteText(home_ + "SEND/JOB4.JFD", "\nWaiting\nSecond\n");
      nested = Hooks().ProcessExtraPDFaxFiles(*w);
      e->FaxNumber->setText(QStringLiteral("555-0142"));
      QTest::mouseClick(e->AcceptButton, Qt::LeftButton);
    });
    QCOMPARE(Hooks().ProcessExtraPDFaxFiles(*w), 1);
    QVERIFY(script.Done());
    QCOMPARE(editors, 1);
    QCOMPARE(nested, 1);
    QStringList phones = Column(w->FaxGrid, "PHONE"), subjects = Column(w->FaxGrid, "SUBJECT");
    QCOMPARE(subjects.size(), 2);
    QCOMPARE(phones.at(subjects.indexOf(QStringLiteral("No number yet"))), QStringLiteral("555-0142"));
    QCOMPARE(phones.at(subjects.indexOf(QStringLiteral("Second"))), QString());

    // A printed fax with its number goes into the list without a question.
    WriteFax(home_ + "SEND/JOB5.APF");
    WriteText(home_ + "SEND/JOB5.JFD", "555-0177\nKnown\nThird\n");
    QCOMPARE(Hooks().ProcessExtraPDFaxFiles(*w), 1);
    QCOMPARE(Column(w->FaxGrid, "SUBJECT").size(), 3);
    w->close();
  }

  void newAndEditGoThroughTheEditorIntoTheList() {
    auto w = Start();
    QVERIFY(QFile::exists(home_ + "Covers/QN0002.FCT"));
    ModalScript script;
    script.Then([](QWidget* d) {
      auto* e = qobject_cast<faxprep::TCreateEditQuickFax*>(d);
      QVERIFY(e);
      QTest::keyClicks(e->Recipient, QStringLiteral("Jane Doe"));
      QTest::keyClicks(e->RecipientFax, QStringLiteral("555-0100"));
      QTest::keyClicks(e->Regarding, QStringLiteral("Quick note"));
      QTest::mouseClick(e->OkButton, Qt::LeftButton);
    });
    QTest::mouseClick(w->Newbutton, Qt::LeftButton);
    QVERIFY(script.Done());
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), QStringList{QStringLiteral("Quick note")});
    QCOMPARE(QString::fromStdString(w->FaxTable.getTrimString("FAXCOVER")), QStringLiteral("COV00000.APF"));
    QVERIFY(!w->AddCoverButton->isEnabled());  // it has a cover already
    QVERIFY(QFile::exists(home_ + "SEND/COV00000.FCD"));

    ModalScript edit;
    edit.Then([](QWidget* d) {
      auto* e = qobject_cast<faxprep::TCreateEditQuickFax*>(d);
      QVERIFY(e);
      QCOMPARE(e->Recipient->text(), QStringLiteral("Jane Doe"));
      e->Regarding->clear();
      QTest::keyClicks(e->Regarding, QStringLiteral("Edited note"));
      QTest::mouseClick(e->OkButton, Qt::LeftButton);
    });
    QTest::mouseClick(w->EditButton, Qt::LeftButton);
    QVERIFY(edit.Done());
    QCOMPARE(Column(w->FaxGrid, "SUBJECT"), QStringList{QStringLiteral("Edited note")});
    QVERIFY(!QFile::exists(home_ + "SEND/COV00001.APF"));

    // In receive mode the editor does not open.
    w->InReceiveMode = true;
    ModalScript refused;
    refused.Answer(QMessageBox::Ok);
    QTest::mouseClick(w->Newbutton, Qt::LeftButton);
    QVERIFY(refused.Done());
    QVERIFY(refused.seen()[0].text.contains(QStringLiteral("Fax Receive mode")));
    w->InReceiveMode = false;
    w->close();
  }
};

QTEST_MAIN(FaxPrepHooksTest)
#include "faxprep_hooks_test.moc"
