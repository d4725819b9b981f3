// The shared layer: folders and file names, copying, message boxes, centring,
// placement, print options and the help window.
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QUrl>

#include "common/dialogs.h"
#include "common/folders.h"
#include "common/help.h"
#include "common/ini_file.h"
#include "common/print_options.h"
#include "modal_script.h"

using namespace qn;
using qntest::ModalScript;

// Stands in for the main window: placement and centring go by the class name.
class TMainScreen : public QMainWindow {
  Q_OBJECT
};

class SharedLayerTest : public QObject {
  Q_OBJECT
  QString home_;

  static void Touch(const QString& path, const QByteArray& data = "x") {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
  }

  void foldersResolveWhateverTheCase() {
    QCOMPARE(QString::fromStdString(ProgramFolder()), home_);
    // An existing folder in another spelling is used as it is, never doubled.
    QVERIFY(QDir().mkpath(home_ + "send"));
    QCOMPARE(QString::fromStdString(SendFolder()), home_ + "send/");
    MakeDataFolders();
    QVERIFY(!QDir(home_ + "SEND").exists() || QDir(home_ + "SEND").canonicalPath() == QDir(home_ + "send").canonicalPath());
    QVERIFY(QDir(home_ + "Receive").exists());
    QVERIFY(FolderExists(home_.toStdString() + "RECEIVE"));
    QVERIFY(!FolderExists(home_.toStdString() + "QN.INI"));
    // A file named in upper case by a record is found in lower case.
    Touch(home_ + "Receive/fax00001.apf");
    QVERIFY(FileExists(home_.toStdString() + "RECEIVE/FAX00001.APF"));
    QVERIFY(DeleteFileCI(home_.toStdString() + "RECEIVE/FAX00001.APF"));
    QVERIFY(!QFile::exists(home_ + "Receive/fax00001.apf"));
    // Nested folders are created, parents first.
    QVERIFY(ForceFolder(home_.toStdString() + "Covers/a/b/"));
    QVERIFY(QDir(home_ + "Covers/a/b").exists());
  }

  void newFileNamesSkipTakenOnes() {
    MakeDataFolders();
    QCOMPARE(QString::fromStdString(FileNameOnly(NewSendFileName("FAX"))), QStringLiteral("FAX00000.APF"));
    Touch(home_ + "SEND/FAX00000.APF");
    Touch(home_ + "SEND/fax00001.apf");  // taken in any letter case
    QCOMPARE(QString::fromStdString(NewSendFileName("FAX")), home_ + "SEND/FAX00002.APF");
    QCOMPARE(QString::fromStdString(NewTempFileName("Temp")), home_ + "Temp00000.APF");
    QCOMPARE(QString::fromStdString(ChangeFileExt("/a/COV00001.APF", ".fcd")), QStringLiteral("/a/COV00001.fcd"));
    QCOMPARE(QString::fromStdString(ChangeFileExt("/a.b/COV", ".fcd")), QStringLiteral("/a.b/COV.fcd"));
  }

  void copyFaxFileReportsEveryFailure() {
    QByteArray data;
    for (int i = 0; i < 5000; ++i) data.append(static_cast<char>(i * 7));  // more than two blocks, not a multiple
    Touch(home_ + "src.apf", data);
    const std::string src = (home_ + "src.apf").toStdString();
    QVERIFY(CopyFaxFile(src, (home_ + "dst.apf").toStdString()));
    QFile copy(home_ + "dst.apf");
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), data);
    QVERIFY(!CopyFaxFile(src, src));  // onto itself: nothing done
    QCOMPARE(QFileInfo(home_ + "src.apf").size(), qint64(data.size()));
    // Nor onto another spelling of itself: letter case, "./", a link.
    QVERIFY(QDir().mkpath(home_ + "SEND"));
    Touch(home_ + "SEND/a.apf", data);
    QVERIFY(QFile::link(home_ + "SEND/a.apf", home_ + "link.apf"));
    for (const QString& other : {home_ + "send/A.APF", home_ + "SEND/./a.apf", home_ + "link.apf"}) {
      QVERIFY2(!CopyFaxFile((home_ + "SEND/a.apf").toStdString(), other.toStdString()), qPrintable(other));
      QFile kept(home_ + "SEND/a.apf");
      QVERIFY(kept.open(QIODevice::ReadOnly));
      QCOMPARE(kept.readAll(), data);
    }
    QVERIFY(!CopyFaxFile((home_ + "missing.apf").toStdString(), (home_ + "x.apf").toStdString()));
    QVERIFY(!QFile::exists(home_ + "x.apf"));
    QVERIFY(!CopyFaxFile(src, (home_ + "no/such/folder/x.apf").toStdString()));
    QVERIFY(!CopyFaxFile(home_.toStdString(), (home_ + "y.apf").toStdString()));  // a folder is no fax file
    QVERIFY(!QFile::exists(home_ + "y.apf"));
  }

  void boxesHaveTheirCaptionsAndDefaults() {
    ModalScript script;
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::No).Answer(QMessageBox::Ok).Answer(QMessageBox::Yes);
    QVERIFY(AskYesNoDefaultNo(QStringLiteral("Delete the current fax?\r\n(subject: \"x\")"), QStringLiteral("Delete")));
    QVERIFY(!AskYesNo(QStringLiteral("Sure?"), QStringLiteral("DELETE")));
    ShowInfo(QStringLiteral("line one\rline two"));
    QCOMPARE(MessageBoxText(QStringLiteral("t"), QStringLiteral("c"), mbYesNoCancel | mbDefButton3), int(idYes));
    QVERIFY(script.Done());
    const auto& seen = script.seen();
    QCOMPARE(seen[0].caption, QStringLiteral("Delete"));
    QCOMPARE(seen[0].text, QStringLiteral("Delete the current fax?\n(subject: \"x\")"));
    QCOMPARE(seen[0].defaultButton, QMessageBox::No);
    QCOMPARE(seen[1].defaultButton, QMessageBox::Yes);
    QCOMPARE(seen[2].caption, QStringLiteral("Information"));
    QCOMPARE(seen[2].text, QStringLiteral("line one\nline two"));
    QCOMPARE(seen[3].defaultButton, QMessageBox::Cancel);
  }

  void dialogsCentreOverTheMainWindow() {
    QCOMPARE(CentredOver(QRect(100, 50, 601, 401), QSize(200, 100)), QPoint(100 + 200, 50 + 150));
    TMainScreen main;
    main.setGeometry(40, 60, 700, 500);
    main.show();
    SetMainWindow(&main);
    QDialog dialog;
    dialog.resize(300, 200);
    CentreForm(&dialog);
    const QRect mf = main.frameGeometry();
    const QPoint expect = CentredOver(mf, dialog.frameGeometry().size());
    QCOMPARE(dialog.pos(), expect);
    // The main window itself goes to the middle of the screen.
    CentreForm(&main);
    const QRect screen = main.screen()->geometry();
    QCOMPARE(main.pos(), CentredOver(screen, main.frameGeometry().size()));
    SetMainWindow(nullptr);
  }

  void placementIsPulledBackOntoTheScreen() {
    QCOMPARE(PlacementSection(QStringLiteral("TMainScreen"), 96), QStringLiteral("TMainScreen_Placement"));
    QCOMPARE(PlacementSection(QStringLiteral("TMainScreen"), 120), QStringLiteral("TMainScreen_Placement120"));
    const QRect screen(0, 0, 800, 600);
    QCOMPARE(PullOntoScreen(QRect(700, 500, 300, 200), screen), QRect(500, 400, 300, 200));
    QCOMPARE(PullOntoScreen(QRect(-50, -20, 300, 200), screen), QRect(1, 1, 300, 200));
    QCOMPARE(PullOntoScreen(QRect(100, 0, 1000, 200), screen), QRect(1, 0, 1000, 200));  // wider than the screen
    // A second screen to the right of the first: a place on it stays there, and
    // one beyond its edges comes back onto it, not onto the first.
    const QRect second(800, 0, 1280, 1024);
    QCOMPARE(PullOntoScreen(QRect(900, 100, 400, 300), second), QRect(900, 100, 400, 300));
    QCOMPARE(PullOntoScreen(QRect(1900, 900, 400, 300), second), QRect(1680, 724, 400, 300));
    QCOMPARE(PullOntoScreen(QRect(700, -10, 400, 300), second), QRect(801, 1, 400, 300));

    // A placement stored on a larger screen comes back inside this one.
    TMainScreen w;
    const QRect scr = w.screen()->geometry();
    const int dpi = qRound(w.screen()->logicalDotsPerInch());
    const std::string section = PlacementSection(QStringLiteral("TMainScreen"), dpi).toStdString();
    IniFile ini(SettingsFile());
    ini.WriteInteger(section, "Left", scr.width() + 400);
    ini.WriteInteger(section, "Top", 100);
    ini.WriteInteger(section, "Right", scr.width() + 900);
    ini.WriteInteger(section, "Bottom", 500);
    ini.WriteBool(section, "Maximized", false);
    QVERIFY(ini.Flush());
    RestorePlacement(&w);
    QCOMPARE(w.geometry(), QRect(scr.width() - 500, 100, 500, 400));
    // Saved and restored again it stays where it was.
    w.setGeometry(20, 30, 400, 300);
    SavePlacement(&w);
    TMainScreen again;
    RestorePlacement(&again);
    QCOMPARE(again.geometry(), QRect(20, 30, 400, 300));
    const IniFile saved(SettingsFile());
    QCOMPARE(saved.ReadInteger(section, "Right", 0), 420);
    QCOMPARE(saved.ReadInteger(section, "Bottom", 0), 330);
  }

  void printOptionsRoundTrip() {
    LoadPrintOptions();
    PrintOptions& p = SharedPrintOptions();
    QVERIFY(!p.MultiPage && p.Header && p.Footer && p.Stretch);
    p.MultiPage = true;
    p.Footer = false;
    SavePrintOptions();
    p = PrintOptions{};
    LoadPrintOptions();
    QVERIFY(p.MultiPage && !p.Footer && p.Header);
    QCOMPARE(QString::fromStdString(ReadProfileString(SettingsFile(), "printing", "multipage", "")), QStringLiteral("1"));
  }

  void helpShowsTopicsAndTheProblemSolver() {
    SetApplicationHelpFile(home_ + "QN.hlp");
    QVERIFY(QFile::exists(HelpTopicPage(1009)));
    QVERIFY(HelpTopicPage(1019).endsWith(QStringLiteral("qn/1019.html")));
    QVERIFY(HelpTopicPage(424242).endsWith(QStringLiteral("qn/missing.html")));
    ShowProblemSolver();
    QVERIFY(HelpWindow() && HelpWindow()->isVisible());
    auto* browser = HelpWindow()->findChild<QTextBrowser*>();
    QVERIFY(browser->source().toLocalFile().endsWith(QStringLiteral("faxps/1.html")));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Fax Problem Solver")));
    QCOMPARE(ApplicationHelpFile(), home_ + "QN.hlp");  // put back afterwards
    ShowHelpTopic(1031);
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Delete Fax Cover")));
    HelpWindow()->close();
  }

  // Help opened from a modal dialog takes keys while the dialog's exec() runs
  // (keys go in through the window system, where blocked windows drop them),
  // outlives the dialog, and follows a dialog opened later.
  void helpStaysUsableBesideModalDialogs() {
    SetApplicationHelpFile(home_ + "QN.hlp");
    QWidget owner;
    auto* ownerEdit = new QLineEdit(&owner);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    QDialog dialog(&owner);
    auto* dialogEdit = new QLineEdit(&dialog);
    SetHelpTopic(&dialog, 1019);
    bool scrolled = false, escaped = false, dialogTyped = false, ownerBlocked = false;
    ModalScript script;
    script.Then([&](QWidget* w) {
      QCOMPARE(w, &dialog);
      dialogEdit->setFocus();
      QTest::keyClick(dialog.windowHandle(), Qt::Key_F1);  // F1 in the dialog: its own topic
      QWidget* help = HelpWindow();
      QVERIFY(help && help->isVisible());
      auto* browser = help->findChild<QTextBrowser*>();
      QVERIFY(browser->source().toLocalFile().endsWith(QStringLiteral("qn/1019.html")));
      browser->setSource(QUrl::fromLocalFile(HelpTopicPage(1009)));  // a long page
      help->resize(300, 150);
      QCoreApplication::processEvents();
      help->activateWindow();
      browser->setFocus();
      QScrollBar* bar = browser->verticalScrollBar();
      QVERIFY(bar->maximum() > 0);
      QTest::keyClick(help->windowHandle(), Qt::Key_PageDown);
      scrolled = bar->value() > 0;
      // The dialog stays usable too, the window under it stays blocked.
      dialog.activateWindow();
      dialogEdit->setFocus();
      QTest::keyClick(dialog.windowHandle(), Qt::Key_A);
      dialogTyped = dialogEdit->text() == QStringLiteral("a");
      owner.activateWindow();
      ownerEdit->setFocus();
      QTest::keyClick(owner.windowHandle(), Qt::Key_B);
      ownerBlocked = ownerEdit->text().isEmpty();
      QPointer<QWidget> guard(help);
      help->activateWindow();
      QTest::keyClick(help->windowHandle(), Qt::Key_Escape);
      QCoreApplication::processEvents();
      escaped = !guard || !guard->isVisible();
      // Opened again, it outlives the dialog.
      ShowHelpTopic(1031);
      dialog.reject();
    });
    dialog.exec();
    QVERIFY(script.Done());
    QVERIFY2(scrolled, "Page Down did not reach the help window");
    QVERIFY2(escaped, "Escape did not close the help window");
    QVERIFY(dialogTyped);
    QVERIFY(ownerBlocked);
    QVERIFY(HelpWindow() && HelpWindow()->isVisible());
    QCOMPARE(HelpWindow()->parentWidget(), nullptr);

    // A dialog opened while the help shows takes the help along.
    QDialog second(&owner);
    bool usable = false;
    ModalScript script2;
    script2.Then([&](QWidget*) {
      QWidget* help = HelpWindow();
      QVERIFY(help && help->isVisible());
      help->activateWindow();
      QTest::keyClick(help->windowHandle(), Qt::Key_Escape);
      QCoreApplication::processEvents();
      usable = !HelpWindow() || !HelpWindow()->isVisible();
      second.reject();
    });
    second.exec();
    QVERIFY(script2.Done());
    QVERIFY2(usable, "help was blocked by a dialog opened after it");
  }

  // F1 opens the topic of the window in front; a window without one gets the contents.
  void f1OpensTheTopicOfTheFocusedWindow() {
    SetApplicationHelpFile(home_ + "QN.hlp");
    QWidget plain;
    auto* edit = new QLineEdit(&plain);
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    plain.activateWindow();
    edit->setFocus();
    InstallHelpKey();
    QTest::keyClick(plain.windowHandle(), Qt::Key_F1);
    QVERIFY(HelpWindow() && HelpWindow()->isVisible());
    auto* browser = HelpWindow()->findChild<QTextBrowser*>();
    QVERIFY(browser->source().toLocalFile().endsWith(QStringLiteral("qn/1009.html")));
    int page = 3501;
    SetHelpTopic(&plain, [&page] { return page; });
    plain.activateWindow();
    QTest::keyClick(plain.windowHandle(), Qt::Key_F1);
    QVERIFY(browser->source().toLocalFile().endsWith(QStringLiteral("qn/3501.html")));
    page = 3503;  // the topic may follow what the window shows
    plain.activateWindow();
    QTest::keyClick(plain.windowHandle(), Qt::Key_F1);
    QVERIFY(browser->source().toLocalFile().endsWith(QStringLiteral("qn/3503.html")));
    HelpWindow()->close();
  }

  // Without QUILLON_DATA the help comes from the data folder beside the program,
  // which the build tree lays out as an installation does (bin/../share/quillon).
  void dataFolderBesideTheProgram() {
    const QByteArray given = qgetenv("QUILLON_DATA");
    qunsetenv("QUILLON_DATA");
    const QString folder = QString::fromStdString(DataFolder());
    qputenv("QUILLON_DATA", given);
    QCOMPARE(folder, QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/quillon") + "/");
    QVERIFY(QFile::exists(folder + "help/qn/1009.html"));
    QCOMPARE(QString::fromStdString(DataFolder()), QString::fromLocal8Bit(given) + "/");
  }
};

QTEST_MAIN(SharedLayerTest)
#include "common_test.moc"
