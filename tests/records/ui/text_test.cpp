// Names in any language through the phone book editor, qnfax db and back: the
// windows and the command line see the same text in the same table.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "common/folders.h"
#include "modal_script.h"
#include "qnfax_run.h"
#include "records/record_tables.h"
#include "records/ui/editors.h"
#include "records/ui/record_grid.h"
#include "xbase/xb_env.h"

using namespace qn;
using qntest::ModalScript;

namespace {

// Types text one character at a time as a keyboard with that letter would
// (QTest::keyClicks knows ASCII keys only).
void Type(QWidget* w, const QString& text) {
  for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

}  // namespace

class RecordsTextTest : public QObject {
  Q_OBJECT
  std::string folder_;

  QStringList GridNames(TPhoneBook& book) {
    QStringList out;
    TRecordModel* m = book.PhoneGrid->recordModel();
    for (int r = 0; r < m->rowCount(); ++r) out << m->CellText(r, 0);
    return out;
  }

 private slots:
  void init() {
    qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    folder_ = ProgramFolder();
    MakeDataFolders();
    xb::setDeleted(true);
  }

  void namesRoundTripThroughTheEditorAndQnfax() {
    const QStringList typed = {QStringLiteral("Łukasz Dvořák"), QStringLiteral("Ελένη Παπαδοπούλου"),
                               QStringLiteral("Jürgen Weiß"), QStringLiteral("山田太郎")};
    const std::string pb = folder_ + records::kPhoneTableName;
    {
      TPhoneBook book;
      QVERIFY(book.OpenTable());
      book.show();
      ModalScript script;
      for (int i = 0; i < typed.size(); ++i) {
        script.Then([&, i](QWidget* d) {
          auto* e = qobject_cast<TPhoneBookEditor*>(d);
          QVERIFY(e);
          Type(e->Name, typed[i]);
          QTest::keyClicks(e->Number, QStringLiteral("555-010") + QString::number(i));
          QCOMPARE(e->Name->text(), typed[i]);
          e->AcceptButton->click();
        });
        book.Addbutton->click();
      }
      QVERIFY(script.Done());
      // The "Name" order sorts by the key bytes, that is by code point.
      QStringList sorted = typed;
      std::sort(sorted.begin(), sorted.end(),
                [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); });
      QCOMPARE(GridNames(book), sorted);
    }

    const auto dump = qntest::Qnfax("db dump " + pb + " --order NAME");
    QCOMPARE(dump.status, 0);
    const QString text = QString::fromUtf8(dump.out.c_str());
    int last = -1;
    for (const QString& name : typed) QVERIFY2(text.contains(name + QLatin1Char('\t')), dump.out.c_str());
    for (const char* first : {"Jürgen", "Ελένη", "山田"}) {  // in this order
      const int at = text.indexOf(QString::fromUtf8(first));
      QVERIFY2(at > last, dump.out.c_str());
      last = at;
    }

    // Back: a name appended by qnfax shows in the list and in the editor.
    QCOMPARE(qntest::Qnfax("db append " + pb + " NAME=Ζωή PHONE=555-0200").status, 0);
    TPhoneBook book;
    QVERIFY(book.OpenTable());
    book.show();
    QVERIFY(GridNames(book).contains(QStringLiteral("Ζωή")));
    const int row = GridNames(book).indexOf(QStringLiteral("Ζωή"));
    book.PhoneGrid->setCurrentIndex(book.PhoneGrid->recordModel()->index(row, 0));
    ModalScript script;
    script.Then([](QWidget* d) {
      auto* e = qobject_cast<TPhoneBookEditor*>(d);
      QCOMPARE(e->Name->text(), QStringLiteral("Ζωή"));
      // The field holds 35 bytes: seventeen two-byte letters and no more.
      e->Name->clear();
      Type(e->Name, QString(20, QChar(0x141)));
      QCOMPARE(e->Name->text(), QString(17, QChar(0x141)));
      e->AcceptButton->click();
    });
    book.Modifybutton->click();
    QVERIFY(script.Done());
    QCOMPARE(book.table().getTrimString("NAME"), QString(17, QChar(0x141)).toUtf8().toStdString());
  }
};

QTEST_MAIN(RecordsTextTest)
#include "text_test.moc"
