// The Fax Cover Sheet Editor driven as a user drives it: typing, ticking,
// choosing a template, saving; the cover file, its ".FCD" and the record after
// each round.
#include "faxprep/quick_fax.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "apf_reader.h"
#include "common/folders.h"
#include "covers/shipped_covers.h"
#include "faxprep/prep_files.h"
#include "modal_script.h"
#include "records/record_tables.h"
#include "sessions/settings.h"
#include "xbase/xb_env.h"

using namespace faxprep;
using qntest::ModalScript;

namespace {

QString ReadText(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

unsigned Pages(const std::string& apf) {
  fe::TApfReader r;
  return r.Open(apf) == 0 ? r.PageCount() : 0;
}

TCreateEditQuickFax* Editor(QWidget* w) {
  return qobject_cast<TCreateEditQuickFax*>(w);
}

void Type(QLineEdit* e, const QString& text) {
  e->setFocus();
  e->selectAll();
  QTest::keyClick(e, Qt::Key_Delete);
  QTest::keyClicks(e, text);
}

}  // namespace

class QuickFaxTest : public QObject {
  Q_OBJECT
  QString home_;
  xb::Table fax_;

  QString Send(const QString& name) const { return home_ + QStringLiteral("SEND/") + name; }
  QString Field(const char* name) const { return QString::fromStdString(fax_.getTrimString(name)); }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    qputenv("XDG_CONFIG_HOME", (home_ + QStringLiteral("config")).toLocal8Bit());
    qn::ResetProgramFolder();
    qn::MakeDataFolders();
    qn::LoadSettings();
    qn::Settings().Name = "Sam Sender";
    qn::Settings().Company = "Sender & Co";
    qn::Settings().Fax = "555-0199";
    qn::Settings().Voice = "555-0198";
    xb::setDeleted(true);
    QCOMPARE(covers::InstallShippedCovers(qn::CoversFolder()), 3);
    QVERIFY(records::OpenFaxDBF(fax_, qn::ProgramFolder(), ""));
  }
  void cleanup() { fax_.close(); }

  // New fax: every field and flag goes into the record, the cover and the ".FCD";
  // reopening shows them again; editing rewrites the same files.
  void newFaxThenEditRoundTrips() {
    ModalScript script;
    script
        .Then([](QWidget* w) {
          auto* e = Editor(w);
          QVERIFY(e);
          QCOMPARE(e->windowTitle(), QStringLiteral("Fax Cover Sheet Editor"));
          QCOMPARE(e->CurrentQFileLabel->text(), QStringLiteral("qn0001.fct"));
          QVERIFY(e->ChangeSenderInfoButton->toolTip().contains(QStringLiteral("Sender & Co")));
          Type(e->Recipient, QStringLiteral("Jane Doe"));
          Type(e->RecipientFax, QStringLiteral("555-0100"));
          Type(e->Regarding, QStringLiteral("Plans"));
          Type(e->Notes, QStringLiteral("call first"));
          Type(e->Codes, QStringLiteral("P7"));
          QTest::mouseClick(e->cUrgent, Qt::LeftButton);
          QTest::mouseClick(e->cPleaseReply, Qt::LeftButton);
          e->FaxMessage->setFocus();
          QTest::keyClicks(e->FaxMessage, QStringLiteral("Dear Jane,"));
          QTest::keyClick(e->FaxMessage, Qt::Key_Return);
          QTest::keyClick(e->FaxMessage, Qt::Key_Return);
          QTest::keyClicks(e->FaxMessage, QStringLiteral("the plans & papers."));
          QTest::mouseClick(e->ExplorerButton1, Qt::LeftButton);  // opens the chooser
        })
        .Then([](QWidget* w) {
          auto* c = qobject_cast<TPreviewQuickFaxForms*>(w);
          QVERIFY(c);
          QCOMPARE(c->windowTitle(), QStringLiteral("Select  Fax Cover Template"));
          QCOMPARE(c->FileList->count(), 3);
          QCOMPARE(c->FileList->currentItem()->text(), QStringLiteral("QN0001.FCT"));  // the current one, any case
          QVERIFY(!c->Preview->pixmap().isNull());
          QCOMPARE(c->Description->text(), QStringLiteral("Business cover sheet"));
          QTest::keyClick(c->FileList, Qt::Key_End);
          QCOMPARE(c->Description->text(), QStringLiteral("Cover sheet with a large message box"));
          QTest::mouseClick(c->OkButton, Qt::LeftButton);
        })
        .Then([](QWidget* w) {
          auto* e = Editor(w);
          QVERIFY(e);
          QCOMPARE(e->CurrentQFileLabel->text(), QStringLiteral("QN0003.FCT"));
          QTest::mouseClick(e->OkButton, Qt::LeftButton);
        });
    QVERIFY(EditAddQuickFax(nullptr, fax_, true));
    QVERIFY(script.Done());
    QCOMPARE(Field("RECIPIENT"), QStringLiteral("Jane Doe"));
    QCOMPARE(Field("PHONE"), QStringLiteral("555-0100"));
    QCOMPARE(Field("SUBJECT"), QStringLiteral("Plans"));
    QCOMPARE(Field("NOTES"), QStringLiteral("call first"));
    QCOMPARE(Field("CODES"), QStringLiteral("P7"));
    QCOMPARE(Field("FAXCOVER"), QStringLiteral("COV00000.APF"));
    QCOMPARE(Field("FAXDOC"), QString());
    QCOMPARE(Pages(Send(QStringLiteral("COV00000.APF")).toStdString()), 1u);
    QCOMPARE(ReadText(Send(QStringLiteral("COV00000.FCD"))),
             QStringLiteral("QN0003.FCT\r\nX  X \r\nDear Jane,\r\n\r\nthe plans & papers.\r\n"));

    const std::uint32_t recNo = fax_.recNo();
    ModalScript edit;
    edit.Then([](QWidget* w) {
      auto* e = Editor(w);
      QVERIFY(e);
      QCOMPARE(e->Recipient->text(), QStringLiteral("Jane Doe"));
      QCOMPARE(e->RecipientFax->text(), QStringLiteral("555-0100"));
      QCOMPARE(e->Regarding->text(), QStringLiteral("Plans"));
      QCOMPARE(e->Notes->text(), QStringLiteral("call first"));
      QCOMPARE(e->Codes->text(), QStringLiteral("P7"));
      QVERIFY(e->cUrgent->isChecked() && e->cPleaseReply->isChecked());
      QVERIFY(!e->cForReview->isChecked() && !e->cPleaseComment->isChecked() && !e->cPleaseRecycle->isChecked());
      QCOMPARE(e->FaxMessage->toPlainText(), QStringLiteral("Dear Jane,\n\nthe plans & papers."));
      QCOMPARE(e->CurrentQFileLabel->text(), QStringLiteral("QN0003.FCT"));
      Type(e->Regarding, QStringLiteral("New plans"));
      Type(e->RecipientFax, QStringLiteral("555-0111"));
      QTest::mouseClick(e->cUrgent, Qt::LeftButton);
      QTest::mouseClick(e->cPleaseRecycle, Qt::LeftButton);
      QTest::mouseClick(e->OkButton, Qt::LeftButton);
    });
    QVERIFY(EditAddQuickFax(nullptr, fax_, false));
    QVERIFY(edit.Done());
    QCOMPARE(fax_.recNo(), recNo);
    QCOMPARE(fax_.recCount(), 1u);
    QCOMPARE(Field("SUBJECT"), QStringLiteral("New plans"));
    QCOMPARE(Field("PHONE"), QStringLiteral("555-0111"));
    QCOMPARE(Field("FAXCOVER"), QStringLiteral("COV00000.APF"));
    QVERIFY(!QFile::exists(Send(QStringLiteral("COV00001.APF"))));
    QCOMPARE(ReadText(Send(QStringLiteral("COV00000.FCD"))),
             QStringLiteral("QN0003.FCT\r\n   XX\r\nDear Jane,\r\n\r\nthe plans & papers.\r\n"));
  }

  // The checks on "&Save", in order, each with its message; Cancel changes nothing.
  void saveChecksTheInputInOrder() {
    ModalScript script;
    auto clickSave = [](QWidget* w) { QTest::mouseClick(Editor(w)->OkButton, Qt::LeftButton); };
    script.Then(clickSave)
        .Answer(QMessageBox::Ok)
        .Then([](QWidget* w) {
          auto* e = Editor(w);
          QCOMPARE(e->focusWidget(), static_cast<QWidget*>(e->Recipient));
          QTest::keyClicks(e->Recipient, QStringLiteral("Jane"));
          QTest::mouseClick(e->OkButton, Qt::LeftButton);
        })
        .Answer(QMessageBox::Ok)
        .Then([](QWidget* w) {
          auto* e = Editor(w);
          QCOMPARE(e->focusWidget(), static_cast<QWidget*>(e->RecipientFax));
          QTest::keyClicks(e->RecipientFax, QStringLiteral("555"));
          QTest::mouseClick(e->OkButton, Qt::LeftButton);
        })
        .Answer(QMessageBox::Ok)
        .Then([](QWidget* w) {
          auto* e = Editor(w);
          QCOMPARE(e->focusWidget(), static_cast<QWidget*>(e->Regarding));
          QTest::mouseClick(e->CancelButton, Qt::LeftButton);
        })
        .Answer(QMessageBox::Yes);  // discard what was typed
    QVERIFY(!EditAddQuickFax(nullptr, fax_, true));
    QVERIFY(script.Done());
    QCOMPARE(script.seen().size(), std::size_t{4});
    QCOMPARE(script.seen()[0].text, QStringLiteral("Please enter a recipient"));
    QCOMPARE(script.seen()[1].text, QStringLiteral("Please enter a recipient fax number"));
    QVERIFY(script.seen()[2].text.startsWith(QStringLiteral("Please enter text for the \"regarding\" field")));
    QCOMPARE(fax_.recCount(), 0u);
    QVERIFY(!QFile::exists(Send(QStringLiteral("COV00000.APF"))));

    // A message without a subject is enough.
    ModalScript messageOnly;
    messageOnly.Then([](QWidget* w) {
      auto* e = Editor(w);
      QTest::keyClicks(e->Recipient, QStringLiteral("Jane"));
      QTest::keyClicks(e->RecipientFax, QStringLiteral("555"));
      QTest::keyClicks(e->FaxMessage, QStringLiteral("Hello"));
      QTest::mouseClick(e->OkButton, Qt::LeftButton);
    });
    QVERIFY(EditAddQuickFax(nullptr, fax_, true));
    QVERIFY(messageOnly.Done());
    QCOMPARE(fax_.recCount(), 1u);
  }

  // Escape, "Cance&l" and the close button ask before typing is dropped: No
  // keeps the editor open with the text, Yes closes without a record. A choice
  // of template counts as a change; an editor left as it opened closes silently.
  void closingWithChangesAsksFirst() {
    using Close = std::function<void(TCreateEditQuickFax*)>;
    const std::pair<const char*, Close> ways[] = {
        {"Escape", [](TCreateEditQuickFax* e) { QTest::keyClick(e->Regarding, Qt::Key_Escape); }},
        {"Cancel", [](TCreateEditQuickFax* e) { QTest::mouseClick(e->CancelButton, Qt::LeftButton); }},
        {"close button", [](TCreateEditQuickFax* e) { e->close(); }},
    };
    for (const auto& [how, close] : ways) {
      QString kept;
      ModalScript script;
      script
          .Then([close = close](QWidget* w) {
            auto* e = Editor(w);
            QTest::keyClicks(e->Regarding, QStringLiteral("Quarterly plans"));
            close(e);
          })
          .Answer(QMessageBox::No)
          .Then([&kept, close = close](QWidget* w) {
            auto* e = Editor(w);
            kept = e->Regarding->text();
            close(e);
          })
          .Answer(QMessageBox::Yes);
      QVERIFY2(!EditAddQuickFax(nullptr, fax_, true), how);
      QVERIFY2(script.Done(), how);
      QCOMPARE(kept, QStringLiteral("Quarterly plans"));
      QCOMPARE(script.seen().size(), std::size_t{2});
      QCOMPARE(script.seen()[0].text, QStringLiteral("Discard your changes?"));
      QCOMPARE(script.seen()[0].defaultButton, QMessageBox::No);
      QCOMPARE(fax_.recCount(), 0u);
    }

    // A template chosen and nothing typed is a change too.
    ModalScript chosen;
    chosen.Then([](QWidget* w) { QTest::mouseClick(Editor(w)->ExplorerButton1, Qt::LeftButton); })
        .Then([](QWidget* w) {
          auto* c = qobject_cast<TPreviewQuickFaxForms*>(w);
          QTest::keyClick(c->FileList, Qt::Key_End);
          QTest::mouseClick(c->OkButton, Qt::LeftButton);
        })
        .Then([](QWidget* w) { QTest::keyClick(Editor(w), Qt::Key_Escape); })
        .Answer(QMessageBox::Yes);
    QVERIFY(!EditAddQuickFax(nullptr, fax_, true));
    QVERIFY(chosen.Done());
    QCOMPARE(chosen.seen().size(), std::size_t{1});

    // Untouched, or typed and put back as it was: no question.
    ModalScript untouched;
    untouched.Then([](QWidget* w) {
      auto* e = Editor(w);
      QTest::keyClicks(e->Notes, QStringLiteral("x"));
      QTest::keyClick(e->Notes, Qt::Key_Backspace);
      QTest::mouseClick(e->CancelButton, Qt::LeftButton);
    });
    QVERIFY(!EditAddQuickFax(nullptr, fax_, true));
    QVERIFY(untouched.Done());
    QVERIFY(untouched.seen().empty());
    QVERIFY(untouched.unexpected().isEmpty());
  }

  // "Add C&over" on a printed fax keeps its document; a cover without ".FCD" is
  // edited with the defaults and rendered again in place.
  void addCoverAndMissingCoverData() {
    QCOMPARE(fax_.appendBlank(), 0);
    fax_.setString("FAXDOC", "JOB1.APF");
    fax_.setString("RECIPIENT", "Printed");
    fax_.setString("PHONE", "555-0123");
    fax_.setString("SUBJECT", "Report");
    QCOMPARE(fax_.post(), 0);
    ModalScript add;
    add.Then([](QWidget* w) {
      auto* e = Editor(w);
      QCOMPARE(e->Recipient->text(), QStringLiteral("Printed"));
      QCOMPARE(e->CurrentQFileLabel->text(), QStringLiteral("qn0001.fct"));
      QTest::mouseClick(e->OkButton, Qt::LeftButton);
    });
    QVERIFY(EditAddQuickFax(nullptr, fax_, false));
    QVERIFY(add.Done());
    QCOMPARE(Field("FAXDOC"), QStringLiteral("JOB1.APF"));
    QCOMPARE(Field("FAXCOVER"), QStringLiteral("COV00000.APF"));
    QCOMPARE(fax_.recCount(), 1u);

    QVERIFY(QFile::remove(Send(QStringLiteral("COV00000.FCD"))));
    QVERIFY(QFile::remove(Send(QStringLiteral("COV00000.APF"))));
    ModalScript again;
    again.Then([](QWidget* w) {
      auto* e = Editor(w);
      QVERIFY(!e->cUrgent->isChecked());
      QVERIFY(e->FaxMessage->toPlainText().isEmpty());
      QTest::mouseClick(e->OkButton, Qt::LeftButton);
    });
    QVERIFY(EditAddQuickFax(nullptr, fax_, false));
    QCOMPARE(Field("FAXCOVER"), QStringLiteral("COV00000.APF"));
    QCOMPARE(Pages(Send(QStringLiteral("COV00000.APF")).toStdString()), 1u);
    QVERIFY(QFile::exists(Send(QStringLiteral("COV00000.FCD"))));
  }

  // A record whose cover names a file outside SEND ("../x", a path) is edited
  // with a new cover inside SEND: nothing outside is read or written over.
  void coverNamesOutsideSendAreNotFollowed() {
    const QString outside = home_ + QStringLiteral("OUTSIDE.APF");
    for (const QString& name : {QStringLiteral("../OUTSIDE.APF"), outside}) {
      QFile f(outside);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("keep me");
      f.close();
      QFile fcd(home_ + QStringLiteral("OUTSIDE.FCD"));
      QVERIFY(fcd.open(QIODevice::WriteOnly));
      fcd.write("QN0002.FCT\r\nXXXXX\r\nFrom outside\r\n");
      fcd.close();
      QCOMPARE(fax_.appendBlank(), 0);
      fax_.setString("FAXCOVER", name.toStdString());
      fax_.setString("RECIPIENT", "Someone");
      fax_.setString("SUBJECT", "Outside");
      fax_.setString("PHONE", "555-0123");
      QCOMPARE(fax_.post(), 0);
      bool urgent = true;
      QString message;
      ModalScript edit;
      edit.Then([&](QWidget* w) {
        auto* e = Editor(w);
        urgent = e->cUrgent->isChecked();
        message = e->FaxMessage->toPlainText();
        QTest::mouseClick(e->OkButton, Qt::LeftButton);
      });
      QVERIFY(EditAddQuickFax(nullptr, fax_, false));
      QVERIFY(edit.Done());
      QVERIFY(!urgent);  // the ".FCD" outside SEND was not read
      QVERIFY2(message.isEmpty(), qPrintable(message));
      QCOMPARE(ReadText(outside), QStringLiteral("keep me"));
      const QString cover = Field("FAXCOVER");
      QVERIFY2(cover.startsWith(QStringLiteral("COV")) && !cover.contains(QLatin1Char('/')), qPrintable(cover));
      QVERIFY(QFile::exists(Send(cover)));
    }
  }

  // "&Change Sender Info" stores the four settings and the hint follows them.
  void senderInfoIsStoredAndShown() {
    TCreateEditQuickFax editor;
    qn::Settings().Name.clear();
    qn::Settings().Company.clear();
    qn::Settings().Fax.clear();
    qn::Settings().Voice.clear();
    editor.UpdateSenderHint();
    QCOMPARE(editor.ChangeSenderInfoButton->toolTip(), QStringLiteral("No sender information entered"));
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* d = qobject_cast<TSenderInfo*>(w);
      QVERIFY(d);
      QTest::keyClicks(d->SenderName, QStringLiteral("Ann"));
      QTest::keyClicks(d->Company, QStringLiteral("Acme"));
      QTest::keyClicks(d->Fax, QStringLiteral("1"));
      QTest::keyClicks(d->Voice, QStringLiteral("2"));
      QTest::mouseClick(d->AcceptButton, Qt::LeftButton);
    });
    QTest::mouseClick(editor.ChangeSenderInfoButton, Qt::LeftButton);
    QVERIFY(script.Done());
    QCOMPARE(editor.ChangeSenderInfoButton->toolTip(), QStringLiteral("Ann\nAcme\n1\n2"));
    qn::LoadSettings();
    QCOMPARE(qn::Settings().Company, std::string("Acme"));
  }

  // A template without a preview or description still shows, and says so.
  void chooserWithoutPreview() {
    QFile::copy(QString::fromStdString(qn::CoversFolder()) + QStringLiteral("QN0001.FCT"),
                QString::fromStdString(qn::CoversFolder()) + QStringLiteral("bare.fct"));
    TPreviewQuickFaxForms chooser(QStringLiteral("BARE.FCT"));
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    QCOMPARE(chooser.FileList->currentItem()->text(), QStringLiteral("bare.fct"));
    QCOMPARE(chooser.Preview->text(), QStringLiteral("Image not available"));
    QCOMPARE(chooser.Description->text(), QString());
    QTest::mouseClick(chooser.OkButton, Qt::LeftButton);
    QCOMPARE(chooser.Chosen(), QStringLiteral("bare.fct"));
  }
};

QTEST_MAIN(QuickFaxTest)
#include "quick_fax_test.moc"
