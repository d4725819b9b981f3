// What a person relies on in every window the main window opens: no Alt+letter
// does two things in one window or menu, every control has one, F1 opens the
// topic of the window in front, number fields take what a modem dials, and
// the error window speaks plainly.
#include <QAction>
#include <QCheckBox>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolTip>

#include "app/main/designer_hooks.h"
#include "app/main/faxprep_hooks.h"
#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "app/main/prefs_hooks.h"
#include "app/main/session_hooks.h"
#include "app/main/viewing_hooks.h"
#include "common/folders.h"
#include "common/field_input.h"
#include "common/help.h"
#include "common/ini_file.h"
#include "covers/designer/cover_designer.h"
#include "faxprep/quick_fax.h"
#include "mnemonics.h"
#include "modal_script.h"
#include "records/ui/editors.h"
#include "sessions/prefs/preferences.h"
#include "sessions/error_box.h"
#include "sessions/send_fax_form.h"
#include "fe_texts.h"
#include <QPlainTextEdit>
#include "sessions/settings.h"
#include "viewing/fax_viewer_window.h"
#include "viewing/pre_print_form.h"
#include "app/main/about.h"
#include "app/main/delete_what.h"
#include "covers/designer/designer_dialogs.h"
#include "covers/objects/cover_dialogs.h"
#include "records/ui/cleanup.h"
#include "sessions/fax_status.h"
#include "sessions/modem/config_info.h"
#include "sessions/modem/init_string_helper.h"
#include "sessions/prefs/quick_setup.h"
#include "sessions/starting_fax_form.h"

using namespace qn;
using qntest::MnemonicCheck;

namespace {

std::unique_ptr<TMainScreen> Start() {
  auto w = std::make_unique<TMainScreen>();
  QSignalSpy done(w.get(), &TMainScreen::FirstActivationDone);
  w->show();
  if (w->TablesOpen() && done.isEmpty()) done.wait(10000);
  return w;
}

template <class T>
void Shown(T& w) {
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
}

QString HelpPage() {
  auto* browser = HelpWindow() ? HelpWindow()->findChild<QTextBrowser*>() : nullptr;
  return browser ? browser->source().fileName() : QString();
}

}  // namespace

class KeysTest : public QObject {
  Q_OBJECT
  QString home_;

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    MakeDataFolders();
    IniFile ini((home_ + "QN.INI").toStdString());
    ini.WriteInteger("Modem", "ComPort", 1);
    QVERIFY(ini.Flush());
    Hooks() = MainHooks{};
    g_FirstRun = false;
    InstallViewingHooks();
    InstallSessionHooks();
    InstallFaxPrepHooks();
    InstallPrefsHooks();
    InstallDesignerHooks();
  }

  // Each window of the program in turn, shown at its own size but never larger
  // than an 800x600 screen (the main window at exactly that), handed to visit.
  // The main window's sort menus go to visitMenu.
  void EachWindow(const std::function<void(QWidget&, const QString&)>& visit,
                  const std::function<void(QMenu*, const QString&)>& visitMenu = {}) {
    auto shown = [&](QWidget& w, const QString& name) {
      w.show();
      w.resize(std::min(w.width(), 800), std::min(w.height(), 600));
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QCoreApplication::processEvents();
      visit(w, name);
      w.hide();
    };
    {
      auto w = Start();
      w->resize(800, 600);
      QCoreApplication::processEvents();
      visit(*w, QStringLiteral("main window"));
      if (visitMenu) {
        visitMenu(w->FaxSortMenu, QStringLiteral("sort menu (outgoing)"));
        visitMenu(w->RecSortMenu, QStringLiteral("sort menu (incoming)"));
      }
      w->ShowPage(false);
      QCoreApplication::processEvents();
      visit(*w, QStringLiteral("main window (incoming)"));
      {
        TDMForm cleanup(w->FaxTable, w->RecTable);
        shown(cleanup, QStringLiteral("Fax Log Cleanup"));
      }
      w->close();
    }
    {
      TSendFaxForm send;
      shown(send, QStringLiteral("Send Fax"));
      TFeFaxStatus status;
      shown(status, QStringLiteral("Fax Status"));
      TStartingFaxForm starting;
      shown(starting, QStringLiteral("Receive mode notification"));
      TShowErrorForm error(QStringLiteral("Fax Failure"), ErrorWindowText(-8065), false, false);
      shown(error, QStringLiteral("Fax Failure"));
    }
    {
      faxprep::TCreateEditQuickFax editor;
      shown(editor, QStringLiteral("Fax Cover Sheet Editor"));
      faxprep::TSenderInfo sender;
      shown(sender, QStringLiteral("Sender Information"));
      faxprep::TPreviewQuickFaxForms chooser(QString{});
      shown(chooser, QStringLiteral("Select Fax Cover Template"));
    }
    {
      TFaxEditor editor;
      shown(editor, QStringLiteral("Fax Information Editor"));
      editor.AddCover->setVisible(true);  // as for a document just made into a fax
      shown(editor, QStringLiteral("Fax Information Editor (document)"));
      TEditReceiveNotes notes(QStringLiteral("+1 555 0100"), QString{});
      shown(notes, QStringLiteral("Received fax notes"));
      TPhoneBookEditor pbEditor;
      shown(pbEditor, QStringLiteral("Phone Book Editor"));
      TPhoneBook book;
      QVERIFY(book.OpenTable());
      shown(book, QStringLiteral("Phone Book Browser"));
      book.SetPicking(true);
      shown(book, QStringLiteral("Phone Book Browser (picking)"));
      TDateSelector dates;
      shown(dates, QStringLiteral("Date selector"));
      TDeleteWhat what;
      shown(what, QStringLiteral("Delete what"));
      TDeleteForConditions conditions(true, QString{}, QStringLiteral("Ada"), QStringLiteral("555 0100"));
      shown(conditions, QStringLiteral("Delete faxes meeting conditions"));
    }
    {
      TFaxViewer viewer;
      shown(viewer, QStringLiteral("Fax Viewer"));
      TPrePrintForm print;
      shown(print, QStringLiteral("Print"));
    }
    {
      TPreferences prefs;
      prefs.show();
      QVERIFY(QTest::qWaitForWindowExposed(&prefs));
      for (int page = 0; page < prefs.Pages->count(); ++page) {
        prefs.SetPage(page);
        QCoreApplication::processEvents();
        visit(prefs, QStringLiteral("Preferences Wizard page %1").arg(page));
      }
      prefs.hide();
      TQuickSetupForm quick;
      shown(quick, QStringLiteral("Quick Setup"));
      TModemInitStringHelperForm init;
      shown(init, QStringLiteral("Init string helper"));
      TConfigurationInfo config(QStringList{QStringLiteral("Quillon")});
      shown(config, QStringLiteral("Configuration Information"));
      TQuickStart start;
      shown(start, QStringLiteral("Quick Start"));
      TSplashform splash;
      shown(splash, QStringLiteral("About"));
    }
    {
      covers::TCoverDesMainScreen designer;
      shown(designer, QStringLiteral("Cover Sheet Template Designer"));
      covers::TSaveTemplateAs saveAs;
      shown(saveAs, QStringLiteral("Save Template As"));
      covers::TPreviewCovers preview(QString{}, false);
      shown(preview, QStringLiteral("Select Fax Cover Template (designer)"));
      covers::TCoverTextDialog text(QStringLiteral("<text>"));
      shown(text, QStringLiteral("Text"));
      covers::TRuneboardDialog symbols(QFont(QStringLiteral("DejaVu Sans")), 'A');
      shown(symbols, QStringLiteral("Symbol"));
    }
  }

  // Walks the main window and its menus, then each window it opens.
  void mnemonicsAreUniqueAndPresent() {
    MnemonicCheck check;
    EachWindow([&](QWidget& w, const QString& name) { check.Window(&w, name); },
               [&](QMenu* m, const QString& name) { check.Menu(m, name); });
    for (const QString& p : check.problems()) qInfo("%s", qPrintable(p));
    QVERIFY2(check.problems().isEmpty(), "mnemonics missing or shared (listed above)");
  }

  // No caption, label or column header is cut off at 800x600.
  void nothingIsCutAt800x600() {
    qntest::TextFitCheck check;
    EachWindow([&](QWidget& w, const QString& name) { check.Window(&w, name); });
    for (const QString& p : check.problems()) qInfo("%s", qPrintable(p));
    QVERIFY2(check.problems().isEmpty(), "texts cut off (listed above)");
  }

  // F1 in every window opens a help page (the window's own topic where it has
  // one, else the program's contents), never nothing.
  void f1OpensHelpInEveryWindow() {
    SetApplicationHelpFile(home_ + "QN.hlp");
    QStringList silent;
    EachWindow([&](QWidget& w, const QString& name) {
      if (HelpWindow()) HelpWindow()->close();  // it goes away once the loop runs
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      w.activateWindow();
      QTest::keyClick(w.windowHandle(), Qt::Key_F1);
      if (!HelpWindow() || !HelpWindow()->isVisible() || HelpPage().isEmpty()) silent << name;
    });
    if (HelpWindow()) HelpWindow()->close();
    QVERIFY2(silent.isEmpty(), qPrintable(QStringLiteral("F1 opened no help in: ") + silent.join(QStringLiteral(", "))));
  }

  // The fax number fields of the send window, the cover sheet editor, the fax
  // information editor and the phone book editor take what a modem dials;
  // a letter is refused with a note at the field, and so is a key past the
  // limit, where a name field says it is full.
  void numberFieldsTakeWhatAModemDials() {
    TSendFaxForm send;
    faxprep::TCreateEditQuickFax cover;
    TFaxEditor editor;
    TPhoneBookEditor pbEditor;
    const std::pair<QWidget*, QLineEdit*> fields[] = {{&send, send.sfPhoneNumber},
                                                     {&cover, cover.RecipientFax},
                                                     {&editor, editor.FaxNumber},
                                                     {&pbEditor, pbEditor.Number}};
    for (const auto& [window, field] : fields) {
      const QString name = window->windowTitle();
      Shown(*window);
      window->activateWindow();
      field->setFocus();
      field->clear();
      QTest::keyClicks(field, QStringLiteral("+1 (555) 010-0199"));
      QCOMPARE(field->text(), QStringLiteral("+1 (555) 010-0199"));
      QTest::keyClicks(field, QStringLiteral("x"));
      QCOMPARE(field->text(), QStringLiteral("+1 (555) 010-0199"));
      QVERIFY2(QToolTip::isVisible() && QToolTip::text() == FaxNumberNote(), qPrintable(name));
      field->clear();
      QTest::keyClicks(field, QStringLiteral("9,W*70#p555.01t12 FAX"));
      QCOMPARE(field->text(), QStringLiteral("9,W*70#p555.01t12 "));
      QVERIFY2(field->toolTip().contains(QLatin1String("up to 25 characters")), qPrintable(name));
      field->clear();
      QTest::keyClicks(field, QString(30, QLatin1Char('5')));
      QCOMPARE(field->text().size(), 25);
      QVERIFY2(QToolTip::isVisible() && QToolTip::text() == FieldFullNote(25), qPrintable(name));
      QToolTip::hideText();
      window->hide();
    }
    // A name stops at its limit and says so.
    Shown(pbEditor);
    pbEditor.Name->setFocus();
    QTest::keyClicks(pbEditor.Name, QString(40, QLatin1Char('N')));
    QCOMPARE(pbEditor.Name->text().size(), 35);
    QVERIFY(QToolTip::isVisible() && QToolTip::text() == FieldFullNote(35));
    pbEditor.Name->clear();
    QToolTip::hideText();
    pbEditor.hide();
  }

  // Every engine error shown in the error window leads with a sentence a person
  // understands (no internal names), with the engine's own text kept after it.
  void errorWindowLeadsWithPlainSentences() {
    const QStringList internals = {QStringLiteral("ie_"), QStringLiteral("TFe"), QStringLiteral("component"),
                                   QStringLiteral("API"), QStringLiteral("property"), QStringLiteral(".FNT"),
                                   QStringLiteral("Windows")};
    int walked = 0;
    for (int code = 1; code < 10000; ++code) {
      if (!fe::HasErrorText(code)) continue;
      ++walked;
      const QString engine = QString::fromStdString(fe::ErrorText(code));
      TShowErrorForm form(QStringLiteral("Fax Failure"), QStringLiteral("Error message: ") + ErrorWindowText(-code),
                          false, false);
      const QStringList lines = form.Memo1->toPlainText().split(QLatin1Char('\n'));
      const QString lead = lines.value(0).mid(QStringLiteral("Error message: ").size());
      for (const QString& word : internals)
        QVERIFY2(!lead.contains(word), qPrintable(QStringLiteral("%1: %2").arg(code).arg(lead)));
      QVERIFY2(lead.endsWith(QLatin1Char('.')) || lead == engine, qPrintable(lead));
      QVERIFY2(form.Memo1->toPlainText().contains(engine), qPrintable(QString::number(code)));
    }
    QVERIFY(walked > 100);
    QCOMPARE(ErrorWindowText(-2007), QStringLiteral("The modem port is not open.\r\n(ie_NOpen - device not open)"));
    QCOMPARE(ErrorWindowText(-8064), QStringLiteral("Called fax number was busy"));  // plain already
  }

  // F1 in the main window, the send window, the editors, the viewer, the wizard
  // and the designer opens each one's own topic.
  void f1OpensEachWindowsTopic() {
    SetApplicationHelpFile(home_ + "QN.hlp");
    auto press = [](QWidget* w) {
      w->activateWindow();
      QTest::keyClick(w->windowHandle(), Qt::Key_F1);
      return HelpPage();
    };
    auto w = Start();
    QCOMPARE(press(w.get()), QStringLiteral("1009.html"));
    TSendFaxForm send;
    Shown(send);
    QCOMPARE(press(&send), QStringLiteral("1016.html"));
    send.hide();
    TFaxEditor editor;
    Shown(editor);
    QCOMPARE(press(&editor), QStringLiteral("1015.html"));
    faxprep::TCreateEditQuickFax cover;
    Shown(cover);
    QCOMPARE(press(&cover), QStringLiteral("1029.html"));
    TFaxViewer viewer;
    Shown(viewer);
    QCOMPARE(press(&viewer), QStringLiteral("1021.html"));
    TPreferences prefs;
    Shown(prefs);
    prefs.SetPage(1);
    QCOMPARE(press(&prefs), QStringLiteral("3501.html"));
    HelpWindow()->close();
    w->close();
  }
};

QTEST_MAIN(KeysTest)
#include "keys_test.moc"
