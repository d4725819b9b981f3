// quillon-viewer's entry: the Fax Viewer opens modally on the file it is given and
// returns once the user closes it, leaving the file as it was; a file that is no
// fax gets the viewer's message and an empty window, never a crash.
#include "viewing/viewer_entry.h"

#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "fax_samples.h"
#include "modal_script.h"
#include "viewing/fax_viewer_window.h"

using namespace qn;

namespace {

QByteArray Contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the viewer window showed when the script reached it.
struct Shown {
  QString file, heading;
  unsigned pages = 0;
  QStringList messages;
};

// Answers message boxes with OK and closes the viewer with its Close button.
qntest::ModalScript::Step Handle(Shown& shown) {
  return [&shown](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      shown.messages << box->text();
      box->button(QMessageBox::Ok)->click();
    } else if (auto* viewer = qobject_cast<TFaxViewer*>(w)) {
      shown.file = viewer->FileName();
      shown.heading = viewer->HeadingText();
      shown.pages = viewer->PageCount();
      viewer->CloseButton->click();
    } else {
      w->close();
    }
  };
}

}  // namespace

class ViewerEntryTest : public QObject {
  Q_OBJECT
  QString home_;

 private slots:
  void init() { home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction())); }

  void showsTheFileUntilClosed() {
    const QString file = home_ + QStringLiteral("FAX0001.APF");
    QCOMPARE(qntest::WriteFax(file.toStdString(),
                              {qntest::TextLikePage(1728, 400, 1), qntest::TextLikePage(1728, 300, 2)}, 0),
             0);
    const QByteArray before = Contents(file);
    Shown shown;
    qntest::ModalScript script;
    script.Then(Handle(shown));
    QCOMPARE(RunFaxViewerOnFile(file), 0);
    QVERIFY(script.Done());
    QCOMPARE(shown.file, file);
    QCOMPARE(shown.pages, 2u);
    QCOMPARE(shown.heading, QStringLiteral("FAX0001.APF"));
    QVERIFY(shown.messages.isEmpty());
    QCOMPARE(Contents(file), before);
  }

  void fileThatIsNoFax() {
    for (const QString& name : {QStringLiteral("notes.apf"), QStringLiteral("missing.apf")}) {
      const QString file = home_ + name;
      if (name == QStringLiteral("notes.apf")) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("APF10 is how a fax begins, but this is a note\n");
      }
      Shown shown;
      qntest::ModalScript script;
      script.Then(Handle(shown)).Then(Handle(shown));
      QCOMPARE(RunFaxViewerOnFile(file), 0);
      QVERIFY(script.Done());
      QCOMPARE(shown.messages, QStringList{QStringLiteral("Error opening fax file")});
      QCOMPARE(shown.pages, 0u);
      QVERIFY(shown.file.isEmpty());
    }
  }
};

QTEST_MAIN(ViewerEntryTest)
#include "viewer_entry_test.moc"
