// The phone book, the record editors, the clean-up utility and the rebuild
// window, driven through their controls on real tables in a fresh folder.
#include <QAction>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <functional>

#include "common/dialogs.h"
#include "common/folders.h"
#include "modal_script.h"
#include "records/record_tables.h"
#include "records/ui/cleanup.h"
#include "records/ui/editors.h"
#include "records/ui/fax_actions.h"
#include "records/ui/rebuild_window.h"
#include "records/ui/record_grid.h"
#include "xbase/xb_env.h"

using namespace qn;
using qntest::ModalScript;

namespace {

void AddOut(xb::Table& t, const char* recipient, const char* dateSent, const char* doc = "", const char* phone = "1") {
  QCOMPARE(t.appendBlank(), 0);
  t.setString("RECIPIENT", recipient);
  t.setString("SUBJECT", std::string("to ") + recipient);
  t.setString("PHONE", phone);
  t.setDate("DATESENT", dateSent);
  t.setString("FAXDOC", doc);
  QCOMPARE(t.post(), 0);
}

void AddPhone(xb::Table& t, const char* name, const char* phone) {
  QCOMPARE(t.appendBlank(), 0);
  t.setString("NAME", name);
  t.setString("PHONE", phone);
  QCOMPARE(t.post(), 0);
}

QStringList Visible(xb::Table& t, const char* field) {
  QStringList out;
  for (uint32_t r : t.visibleRecNos()) {
    const uint32_t keep = t.recNo();
    t.go(r);
    out << QString::fromStdString(t.getTrimString(field));
    t.go(keep);
  }
  return out;
}

void Touch(const QString& path) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write("APF");
}

}  // namespace

class RecordsUiTest : public QObject {
  Q_OBJECT
  QString home_;
  std::string folder_;
  xb::Table fax_, rec_;

  void OpenTables() {
    QVERIFY(records::OpenTablesAtStartup(fax_, rec_, folder_) == records::StartupResult::Ok);
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    folder_ = ProgramFolder();
    MakeDataFolders();
    xb::setDeleted(true);
    xb::setCentury(true);
  }
  void cleanup() {
    fax_.close();
    rec_.close();
  }

  void phoneBookMaintenanceAndLimits() {
    TPhoneBook book;
    QVERIFY(book.OpenTable());
    book.show();
    book.UpdateButtons();
    QVERIFY(!book.Modifybutton->isEnabled() && !book.Deletebutton->isEnabled());
    QVERIFY(book.Addbutton->isEnabled() && book.Closebutton->isVisible() && !book.OKButton->isVisible());

    ModalScript script;
    script.Then([](QWidget* d) {
      auto* e = qobject_cast<TPhoneBookEditor*>(d);
      QVERIFY(e);
      QTest::keyClicks(e->Name, QString(40, QLatin1Char('N')));
      QTest::keyClicks(e->Number, QString(30, QLatin1Char('5')));
      QCOMPARE(e->Name->text().size(), 35);
      QCOMPARE(e->Number->text().size(), 25);
      e->Name->setText(QStringLiteral("Zora"));
      e->Number->setText(QStringLiteral("555-0001"));
      e->AcceptButton->click();
    });
    book.Addbutton->click();
    script.Then([](QWidget* d) {
      auto* e = qobject_cast<TPhoneBookEditor*>(d);
      e->Name->setText(QStringLiteral("Adam"));
      e->Number->setText(QStringLiteral("555-0002"));
      e->AcceptButton->click();
    });
    book.Addbutton->click();
    QVERIFY(script.Done());
    QCOMPARE(Visible(book.table(), "NAME"), (QStringList{"Adam", "Zora"}));  // NAME order
    QVERIFY(book.Modifybutton->isEnabled() && book.Deletebutton->isEnabled());

    // Edit the current entry; cancelling an edit changes nothing.
    book.PhoneGrid->setCurrentIndex(book.PhoneGrid->recordModel()->index(1, 0));
    script.Then([](QWidget* d) {
      auto* e = qobject_cast<TPhoneBookEditor*>(d);
      QCOMPARE(e->Name->text(), QStringLiteral("Zora"));
      e->Number->setText(QStringLiteral("555-9999"));
      e->CancelButton->click();
    });
    script.Answer(QMessageBox::Yes);  // discard the change
    book.Modifybutton->click();
    QCOMPARE(book.table().getTrimString("PHONE"), std::string("555-0001"));
    script.Then([](QWidget* d) {
      qobject_cast<TPhoneBookEditor*>(d)->Number->setText(QStringLiteral("555-0003"));
      qobject_cast<TPhoneBookEditor*>(d)->AcceptButton->click();
    });
    book.Modifybutton->click();
    QCOMPARE(book.table().getTrimString("PHONE"), std::string("555-0003"));

    // Delete asks with No as the default; the entry leaves the list at once but
    // stays in the file until the next rebuild.
    script.Answer(QMessageBox::Yes);
    book.Deletebutton->click();
    QCOMPARE(script.seen().back().text, QStringLiteral("Delete the current phone book entry?:\nZora"));
    QCOMPARE(script.seen().back().caption, QStringLiteral("Delete"));
    QCOMPARE(script.seen().back().defaultButton, QMessageBox::No);
    QCOMPARE(Visible(book.table(), "NAME"), QStringList{QStringLiteral("Adam")});
    QCOMPARE(book.PhoneGrid->recordModel()->rowCount(), 1);
    QCOMPARE(book.table().recCount(), 2u);
  }

  void phoneBookPicksIntoTheFaxEditor() {
    {
      xb::Table pb;
      QVERIFY(records::OpenPhoneDBF(pb, folder_, false));
      AddPhone(pb, "Marlow & Sons", "555-0142");
    }
    TFaxEditor editor;
    editor.show();
    // Limits of the five fields and Enter moving on.
    QCOMPARE(editor.Recipient->maxLength(), 35);
    QCOMPARE(editor.FaxNumber->maxLength(), 25);
    QCOMPARE(editor.Subject->maxLength(), 50);
    QCOMPARE(editor.Notes->maxLength(), 50);
    QCOMPARE(editor.Codes->maxLength(), 25);
    editor.activateWindow();
    editor.Recipient->setFocus();
    QTest::keyClick(editor.Recipient, Qt::Key_Return);
    QTRY_VERIFY(editor.FaxNumber->hasFocus());
    QVERIFY(editor.isVisible());  // Enter did not close the window

    ModalScript script;
    script.Then([](QWidget* d) {
      auto* book = qobject_cast<TPhoneBook*>(d);
      QVERIFY(book);
      QVERIFY(book->OKButton->isVisible() && book->Cancelbutton->isVisible() && !book->Closebutton->isVisible());
      book->Cancelbutton->click();
    });
    editor.AddressButton->click();
    QVERIFY(editor.Recipient->text().isEmpty());
    script.Then([](QWidget* d) { qobject_cast<TPhoneBook*>(d)->OKButton->click(); });
    editor.AddressButton->click();
    QVERIFY(script.Done());
    QCOMPARE(editor.Recipient->text(), QStringLiteral("Marlow & Sons"));
    QCOMPARE(editor.FaxNumber->text(), QStringLiteral("555-0142"));
  }

  // The fax information editor and the phone book editor ask "Discard your
  // changes?" (No by default) when closed with changes by Escape, "Cance&l" or
  // the close button; No keeps the typing, Yes leaves the record as it was.
  // Unchanged, they close silently.
  void editorsAskBeforeDroppingChanges() {
    OpenTables();
    AddOut(fax_, "Ann", "20240105", "", "555-0100");
    const uint32_t recNo = fax_.recNo();
    using Close = std::function<void(QDialog*, QPushButton*)>;
    const std::pair<const char*, Close> ways[] = {
        {"Escape", [](QDialog* d, QPushButton*) { QTest::keyClick(d->focusWidget(), Qt::Key_Escape); }},
        {"Cancel", [](QDialog*, QPushButton* cancel) { cancel->click(); }},
        {"close button", [](QDialog* d, QPushButton*) { d->close(); }},
    };
    for (const auto& [how, close] : ways) {
      QString kept;
      ModalScript script;
      script
          .Then([close = close](QWidget* w) {
            auto* e = qobject_cast<TFaxEditor*>(w);
            e->Subject->setFocus();
            QTest::keyClicks(e->Subject, QStringLiteral(" and more"));
            close(e, e->CancelButton);
          })
          .Answer(QMessageBox::No)
          .Then([&kept, close = close](QWidget* w) {
            auto* e = qobject_cast<TFaxEditor*>(w);
            kept = e->Subject->text();
            close(e, e->CancelButton);
          })
          .Answer(QMessageBox::Yes);
      QVERIFY2(!EditOutgoingFax(nullptr, fax_), how);
      QVERIFY2(script.Done(), how);
      QCOMPARE(kept, QStringLiteral("to Ann and more"));
      QCOMPARE(script.seen().size(), std::size_t{2});
      QCOMPARE(script.seen()[0].text, QStringLiteral("Discard your changes?"));
      QCOMPARE(script.seen()[0].defaultButton, QMessageBox::No);
      QCOMPARE(fax_.go(recNo), 0);
      QCOMPARE(fax_.getTrimString("SUBJECT"), std::string("to Ann"));
    }
    ModalScript untouched;
    untouched.Then([](QWidget* w) { QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Escape); });
    QVERIFY(!EditOutgoingFax(nullptr, fax_));
    QVERIFY(untouched.Done());
    QVERIFY(untouched.seen().empty() && untouched.unexpected().isEmpty());

    // The phone book editor (it has no close button).
    TPhoneBook book;
    QVERIFY(book.OpenTable());
    book.show();
    for (const auto& [how, close] : {ways[0], ways[1]}) {
      ModalScript script;
      script
          .Then([close = close](QWidget* w) {
            auto* e = qobject_cast<TPhoneBookEditor*>(w);
            e->Name->setFocus();
            QTest::keyClicks(e->Name, QStringLiteral("Zed"));
            close(e, e->CancelButton);
          })
          .Answer(QMessageBox::No)
          .Then([close = close](QWidget* w) {
            auto* e = qobject_cast<TPhoneBookEditor*>(w);
            QCOMPARE(e->Name->text(), QStringLiteral("Zed"));
            close(e, e->CancelButton);
          })
          .Answer(QMessageBox::Yes);
      book.Addbutton->click();
      QVERIFY2(script.Done(), how);
      QCOMPARE(script.seen().size(), std::size_t{2});
      QCOMPARE(book.table().recCount(), 0u);
    }
    ModalScript emptyNew;
    emptyNew.Then([](QWidget* w) { qobject_cast<TPhoneBookEditor*>(w)->CancelButton->click(); });
    book.Addbutton->click();
    QVERIFY(emptyNew.Done());
    QVERIFY(emptyNew.seen().empty());
  }

  void emptyPhoneBookCannotBePickedFrom() {
    TPhoneBook book;
    QVERIFY(book.OpenTable());
    book.SetPicking(true);
    book.show();
    book.UpdateButtons();
    QVERIFY(!book.OKButton->isEnabled() && !book.Modifybutton->isEnabled());
    book.OKButton->click();
    QVERIFY(book.ChosenName().isEmpty());
  }

  void receivedNotesAreWrittenOnAcceptOnly() {
    OpenTables();
    QCOMPARE(rec_.appendBlank(), 0);
    rec_.setString("FROM", "ACME");
    rec_.setString("NOTES", "old");
    QCOMPARE(rec_.post(), 0);
    ModalScript script;
    script.Then([](QWidget* d) {
      auto* n = qobject_cast<TEditReceiveNotes*>(d);
      QVERIFY(n);
      QCOMPARE(n->Description->text(), QStringLiteral("From: ACME"));
      QCOMPARE(n->NotesEdit->maxLength(), 60);
      n->NotesEdit->setText(QStringLiteral("changed"));
      n->CancelButton->click();
    });
    QVERIFY(!EditReceivedNotes(nullptr, rec_));
    QCOMPARE(rec_.getTrimString("NOTES"), std::string("old"));
    script.Then([](QWidget* d) {
      auto* n = qobject_cast<TEditReceiveNotes*>(d);
      n->NotesEdit->setText(QStringLiteral("call back"));
      n->AcceptButton->click();
    });
    QVERIFY(EditReceivedNotes(nullptr, rec_));
    QCOMPARE(rec_.getTrimString("NOTES"), std::string("call back"));
  }

  void conditionsMatchPartlyOrExactly() {
    QCOMPARE(MatchCondition(QStringLiteral("RECIPIENT"), QStringLiteral("  smi "), true),
             QStringLiteral("ALLTRIM(UPPER(RECIPIENT))==\"SMI\""));
    QCOMPARE(MatchCondition(QStringLiteral("FROM"), QStringLiteral("smi"), false),
             QStringLiteral("\"SMI\"$ALLTRIM(UPPER(FROM))"));
    // A quote in the value never ends the literal early.
    QCOMPARE(MatchCondition(QStringLiteral("FROM"), QStringLiteral("a\"b"), true),
             QStringLiteral("ALLTRIM(UPPER(FROM))=='A\"B'"));
    QVERIFY(MatchCondition(QStringLiteral("FROM"), QStringLiteral("a\"b'c"), true).isEmpty());

    OpenTables();
    for (const char* r : {"Smith", "Osmith", "smi", "Jones", "\" .or. .T. .or. \""}) AddOut(fax_, r, "20261101");
    TDMForm form(fax_, rec_);
    form.SetFullMode(true);
    form.show();
    QCOMPARE(form.Pages->tabText(1), QStringLiteral("&Incoming Faxes (none)"));
    QVERIFY(!form.RecGrid->isEnabled());
    auto runConditions = [&](const QString& value, bool exact) -> QString {
      ModalScript script;
      script.Then([&](QWidget* d) {
        auto* c = qobject_cast<TDeleteForConditions*>(d);
        QVERIFY(c);
        QVERIFY(!c->rFrom->isEnabled() && c->rRecipient->isChecked());
        c->FaxRECIPIENT->setText(value);
        c->ExactMatch->setChecked(exact);
        c->findChild<QPushButton*>()->click();  // "Ok"
      });
      script.Answer(QMessageBox::Yes);  // VERIFY DELETE
      script.Answer(QMessageBox::Ok);   // the count
      form.aConditions->trigger();
      if (!script.Done() || script.seen().empty()) return QStringLiteral("script not finished");
      return script.seen().back().text;
    };
    // The injected value matches only itself.
    QCOMPARE(runConditions(QStringLiteral("\" .or. .T. .or. \""), true), QStringLiteral("1 deleted."));
    QCOMPARE(runConditions(QStringLiteral("smi"), true), QStringLiteral("1 deleted."));
    QCOMPARE(Visible(fax_, "RECIPIENT").size(), 3);
    QCOMPARE(runConditions(QStringLiteral("SMI"), false), QStringLiteral("2 deleted."));
    QCOMPARE(Visible(fax_, "RECIPIENT"), QStringList{QStringLiteral("Jones")});
    QVERIFY(form.SomethingDeleted());

    // A blank value is refused.
    ModalScript script;
    script.Then([](QWidget* d) {
      auto* c = qobject_cast<TDeleteForConditions*>(d);
      c->FaxRECIPIENT->setText(QStringLiteral("   "));
      c->findChild<QPushButton*>()->click();
    });
    script.Answer(QMessageBox::Ok);
    script.Then([](QWidget* d) { qobject_cast<QDialog*>(d)->reject(); });
    form.aConditions->trigger();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().at(0).text, QStringLiteral("Please enter a value"));
  }

  void deletingBeforeADateKeepsUnsentFaxes() {
    OpenTables();
    Touch(home_ + "SEND/OLD.APF");
    AddOut(fax_, "old", "20260105", "OLD.APF");
    AddOut(fax_, "never sent", "");
    AddOut(fax_, "recent", "20261130");
    AddOut(fax_, "last century", "19990101");
    fax_.setFilter(".not. archived");
    TDMForm form(fax_, rec_);
    form.SetFullMode(true);
    form.show();
    QCOMPARE(fax_.filter(), std::string());  // every fax is shown while the window is open
    ModalScript script;
    script.Then([](QWidget* d) {
      auto* s = qobject_cast<TDateSelector*>(d);
      QVERIFY(s);
      QCOMPARE(s->windowTitle(), QStringLiteral("Delete all before..."));
      QCOMPARE(s->Date(), QDate::currentDate());
      s->SetDate(QDate(2026, 6, 1));
      QCOMPARE(s->DatePanel->text(), QStringLiteral("Monday, June 1, 2026"));
      s->accept();
    });
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    form.aBeforeDate->trigger();
    QVERIFY(script.Done());
    QVERIFY(script.seen().at(0).text.startsWith(QStringLiteral("Delete all outgoing faxes prior to ")));
    QVERIFY(script.seen().at(0).text.endsWith(QStringLiteral(" (action is permanent)?")));
    QCOMPARE(script.seen().at(1).text, QStringLiteral("2 deleted."));
    QCOMPARE(Visible(fax_, "RECIPIENT"), (QStringList{"recent", "never sent"}));  // Date Sent order
    QVERIFY(!QFile::exists(home_ + "SEND/OLD.APF"));

    // Already marked records are not counted again; "all" takes the rest.
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    form.aAll->trigger();
    QCOMPARE(script.seen().back().text, QStringLiteral("2 deleted."));
    QCOMPARE(script.seen().at(2).caption, QStringLiteral("DELETE ALL"));
    form.close();
    QCOMPARE(fax_.filter(), std::string(".not. archived"));  // put back on closing
  }

  void deletingBeforeADateUsesTheWholeYear() {
    OpenTables();
    for (int year = 2020; year <= 2026; ++year)
      AddOut(fax_, qPrintable(QString::number(year)), qPrintable(QStringLiteral("%1").arg(year) + "0615"));
    TDMForm form(fax_, rec_);
    form.show();
    auto before = [&](const QDate& date) {
      ModalScript script;
      script.Then([date](QWidget* d) {
        qobject_cast<TDateSelector*>(d)->SetDate(date);
        qobject_cast<QDialog*>(d)->accept();
      });
      script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
      form.aBeforeDate->trigger();
      return script.Done() && script.seen().size() == 2 ? script.seen().back().text : QStringLiteral("not finished");
    };
    // 1970 is not taken for 2070: nothing is older.
    QCOMPARE(before(QDate(1970, 1, 1)), QStringLiteral("0 deleted."));
    QCOMPARE(Visible(fax_, "RECIPIENT").size(), 7);
    QCOMPARE(before(QDate(2023, 1, 1)), QStringLiteral("3 deleted."));
    QCOMPARE(Visible(fax_, "RECIPIENT"), (QStringList{"2026", "2025", "2024", "2023"}));
  }

  void refusedDeletionsKeepTheirFilesAndAreReported() {
    OpenTables();
    for (const char* f : {"A.APF", "B.APF"}) Touch(home_ + "SEND/" + f);
    AddOut(fax_, "Ann", "20240101", "A.APF");
    AddOut(fax_, "Bob", "20250101", "B.APF");
    fax_.close();
    // A table that refuses every write.
    QVERIFY(records::OpenFaxDBF(fax_, folder_, "", xb::OpenMode::ReadOnly));
    TDMForm form(fax_, rec_);
    form.SetFullMode(true);
    form.show();
    ModalScript script;
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok).Answer(QMessageBox::Ok);
    form.aAll->trigger();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().at(1).caption, QStringLiteral("Error"));
    QVERIFY(script.seen().at(1).text.startsWith(QStringLiteral("A fax could not be deleted; its files were kept.")));
    QCOMPARE(script.seen().at(2).text, QStringLiteral("0 deleted."));
    QVERIFY(!form.SomethingDeleted());
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    form.aDeleteCurrent->trigger();
    QVERIFY(script.Done());
    QCOMPARE(script.seen().back().caption, QStringLiteral("Error"));
    QVERIFY(QFile::exists(home_ + "SEND/A.APF") && QFile::exists(home_ + "SEND/B.APF"));
    QCOMPARE(Visible(fax_, "RECIPIENT").size(), 2);
  }

  void conditionThatCannotBeCheckedDeletesNothing() {
    OpenTables();
    AddOut(fax_, "Ann", "20240101");
    AddOut(fax_, "Bob", "20250101");
    TDMForm form(fax_, rec_);
    form.show();
    ModalScript script;
    script.Answer(QMessageBox::Ok);
    QCOMPARE(form.DeleteWhere(QStringLiteral("NOSUCHFIELD = 1")), -1);
    QVERIFY(script.Done());
    QCOMPARE(script.seen().size(), size_t(1));  // the error, and no count
    QCOMPARE(script.seen().at(0).caption, QStringLiteral("Error"));
    QVERIFY(script.seen().at(0).text.startsWith(QStringLiteral("Nothing was deleted")));
    QCOMPARE(Visible(fax_, "RECIPIENT").size(), 2);
    QVERIFY(!form.SomethingDeleted());
  }

  void recordsNamingFilesOutsideTheirFolderRemoveNothing() {
    OpenTables();
    Touch(home_ + "QN.INI");
    Touch(home_ + "SEND/QN.INI");
    AddOut(fax_, "up", "20240101", "../QN.INI");
    QCOMPARE(rec_.appendBlank(), 0);
    rec_.setString("FAXFILE", "../QN.INI");
    QCOMPARE(rec_.post(), 0);
    QCOMPARE(rec_.appendBlank(), 0);
    rec_.setString("FAXFILE", "/etc/hostname");
    QCOMPARE(rec_.post(), 0);
    TDMForm form(fax_, rec_);
    form.SetFullMode(true);
    form.show();
    for (bool outgoing : {true, false}) {
      form.ShowPage(outgoing);
      ModalScript script;
      script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
      form.aAll->trigger();
      QVERIFY(script.Done());
      QCOMPARE(script.seen().back().text, outgoing ? QStringLiteral("1 deleted.") : QStringLiteral("2 deleted."));
    }
    QVERIFY(QFile::exists(home_ + "QN.INI") && QFile::exists(home_ + "SEND/QN.INI"));
    QVERIFY(QFile::exists(QStringLiteral("/etc/hostname")));
  }

  void failedRebuildIsReportedAndKeepsTheTags() {
    OpenTables();
    AddOut(fax_, "Ann", "20240101");
    fax_.close();
    QVERIFY(records::OpenFaxDBF(fax_, folder_, "", xb::OpenMode::ReadOnly));
    const int tags = fax_.tagCount();
    QVERIFY(tags >= 5);
    // The rebuild window may or may not be seen before it closes itself; the
    // step waits for the message box that follows it.
    ModalScript script;
    QString caption, text;
    std::function<void(QWidget*)> answer = [&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box) {
        script.Then(answer);
        return;
      }
      caption = box->windowTitle();
      text = box->text();
      box->button(QMessageBox::Ok)->click();
    };
    script.Then(answer);
    xb::Table phone;
    QVERIFY(RunIndexRebuild(fax_, rec_, phone, nullptr) != 0);
    QVERIFY(script.Done());
    QCOMPARE(caption, QStringLiteral("Rebuild Indexes"));
    QVERIFY(text.startsWith(QStringLiteral("The indexes could not be rebuilt.")));
    QCOMPARE(fax_.tagCount(), tags);
    QVERIFY(QFile::exists(home_ + "QNOUT.CDX"));
    QVERIFY(rec_.tagArea("DATEND") > 0);  // the other tables were still rebuilt
  }

  void largeListsShowAtOnceAndCompleteInSteps() {
    OpenTables();
    for (int i = 0; i < 5000; ++i) {
      QCOMPARE(fax_.appendBlank(), 0);
      fax_.setString("RECIPIENT", QStringLiteral("R%1").arg(i, 5, 10, QLatin1Char('0')).toStdString());
      fax_.setLogical("ARCHIVED", i % 10 == 0);
      QCOMPARE(fax_.post(), 0);
    }
    fax_.setFilter(".not. archived");
    fax_.setOrder("RECIPIENT");
    fax_.goTop();
    TRecordModel model(fax_, FaxTableColumns());
    QVERIFY(!model.IsComplete());
    QVERIFY(model.rowCount() > 0 && model.rowCount() < 4500);
    const int recipient = model.ColumnOf(QStringLiteral("RECIPIENT"));
    QCOMPARE(model.CellText(0, recipient), QStringLiteral("R00001"));
    // A record not listed yet is found (the list is completed for it) ...
    QCOMPARE(model.RowOf(4999 + 1), 4499);
    QVERIFY(model.IsComplete());
    QCOMPARE(model.rowCount(), 4500);
    // ... and the steps from the event loop end in the same list.
    fax_.setOrder(0);
    model.Reload();
    QVERIFY(!model.IsComplete());
    QTRY_VERIFY(model.IsComplete());
    QCOMPARE(model.rowCount(), 4500);
    QCOMPARE(model.CellText(4499, recipient), QStringLiteral("R04999"));
    // A change of the table while listing starts the listing again.
    fax_.go(2);
    fax_.setLogical("ARCHIVED", true);
    QCOMPARE(fax_.post(), 0);
    QVERIFY(model.ReloadIfChanged());
    QTRY_VERIFY(model.IsComplete());
    QCOMPARE(model.rowCount(), 4499);
  }

  void dateTimeTextOfAFax() {
    OpenTables();
    AddOut(fax_, "never", "");
    QCOMPARE(GetDatetimeAsString(fax_, true), QStringLiteral("not sent"));
    fax_.setDate("DATESENT", QDate::currentDate().addDays(-2001).toString(QStringLiteral("yyyyMMdd")).toStdString());
    fax_.post();
    QCOMPARE(GetDatetimeAsString(fax_, true), QStringLiteral("not sent"));
    const QDate today = QDate::currentDate();
    fax_.setDate("DATESENT", today.toString(QStringLiteral("yyyyMMdd")).toStdString());
    fax_.setString("TIMESENT", "xx:yy");
    fax_.post();
    QCOMPARE(GetDatetimeAsString(fax_, true), today.toString(UserShortDateFormat()) + QStringLiteral(" at ???"));
    QCOMPARE(rec_.appendBlank(), 0);
    rec_.setDate("DATEREC", "20261205");
    rec_.setString("TIMEREC", "8:5x");
    rec_.post();
    QCOMPARE(GetDatetimeAsString(rec_, false),
             QDate(2026, 12, 5).toString(UserShortDateFormat()) + QStringLiteral(" at 8:5x"));
  }

  void rebuildPacksAndKeepsTheOrder() {
    OpenTables();
    for (const char* r : {"Cara", "Abel", "Bert"}) AddOut(fax_, r, "20261101");
    fax_.setOrder("RECIPIENT");
    const int order = fax_.order();
    fax_.goTop();
    fax_.deleteRecord();  // Abel
    {
      xb::Table pb;
      QVERIFY(records::OpenPhoneDBF(pb, folder_, false));
      AddPhone(pb, "Gone", "1");
      AddPhone(pb, "Kept", "2");
      pb.goTop();
      pb.deleteRecord();
    }
    const qint64 before = QFileInfo(home_ + "QNOUT.DBF").size();
    xb::Table phone;
    QVERIFY(fax_.tagArea("DATEND") == 0);
    QCOMPARE(RunIndexRebuild(fax_, rec_, phone, nullptr), 0);
    QVERIFY(QFileInfo(home_ + "QNOUT.DBF").size() < before);
    QCOMPARE(fax_.recCount(), 2u);
    QCOMPARE(fax_.order(), order);
    QCOMPARE(Visible(fax_, "RECIPIENT"), (QStringList{"Bert", "Cara"}));
    QVERIFY(fax_.tagArea("DATEND") > 0 && rec_.tagArea("DATEND") > 0);
    QVERIFY(!phone.isOpen());
    xb::Table pb;
    QVERIFY(records::OpenPhoneDBF(pb, folder_, false));
    QCOMPARE(pb.recCount(), 1u);
  }
};

QTEST_MAIN(RecordsUiTest)
#include "records_ui_test.moc"
