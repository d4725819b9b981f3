// "Fax a Document" as a user meets it: a PDF chosen through the File menu,
// files dropped on the main window, files named on the command line (to a new
// copy and through a running one), a refused file, and Cancel in the middle of
// a conversion. Documents are real files rendered by the real converter
// process; the records are read back from the outgoing table.
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <random>

#include "apf_reader.h"
#include "app/main/faxprep_hooks.h"
#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "app/main/single_instance.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "fe_document_child.h"
#include "grid_columns.h"
#include "modal_script.h"
#include "records/ui/editors.h"
#include "sessions/settings.h"

using namespace qn;
using qntest::ModalScript;

namespace {

// A PDF of `pages` A4 pages, each with a heading and a box, as a word
// processor would print it.
void WritePdf(const QString& path, int pages) {
  QPdfWriter pdf(path);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setResolution(300);
  QPainter p(&pdf);
  QFont f = p.font();
  f.setPointSize(28);
  p.setFont(f);
  for (int i = 0; i < pages; ++i) {
    if (i > 0) pdf.newPage();
    p.drawText(QPoint(200, 400), QStringLiteral("Quarterly report, page %1").arg(i + 1));
    p.fillRect(QRect(200, 600, 1500, 300), Qt::black);
  }
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray RandomBytes(int n) {
  std::mt19937 gen(1234);
  QByteArray out(n, '\0');
  for (char& c : out) c = char(gen() & 0xFF);
  out[0] = '\x01';  // not "%PDF", not text
  return out;
}

unsigned ApfPages(const QString& path) {
  fe::TApfReader reader;
  return reader.Open(path.toStdString()) == 0 ? reader.PageCount() : 0;
}

// Answers the Fax Information Editor of a fax just made from a document.
ModalScript::Step FillEditor(const QString& number, const QString& recipient, bool cover, QString* subject = nullptr) {
  return [=](QWidget* d) {
    auto* e = qobject_cast<TFaxEditor*>(d);
    QVERIFY2(e, d->metaObject()->className());
    QVERIFY(e->AddCover->isVisible());
    QVERIFY(!e->AddCover->isChecked());
    if (subject) *subject = e->Subject->text();
    QTest::keyClicks(e->FaxNumber, number);
    QTest::keyClicks(e->Recipient, recipient);
    if (cover) QTest::mouseClick(e->AddCover, Qt::LeftButton, {}, QPoint(4, e->AddCover->height() / 2));
    QCOMPARE(e->AddCover->isChecked(), cover);
    QTest::mouseClick(e->AcceptButton, Qt::LeftButton);
  };
}

}  // namespace

class DocumentFaxTest : public QObject {
  Q_OBJECT
  QString home_, docs_;

  std::unique_ptr<TMainScreen> Start(const QStringList& documents = {}) {
    auto w = std::make_unique<TMainScreen>();
    w->FaxDocuments(documents);  // as main() hands over the command line's files
    QSignalSpy done(w.get(), &TMainScreen::FirstActivationDone);
    w->show();
    if (done.isEmpty()) done.wait(10000);
    return w;
  }

  // SEND holds exactly these fax pairs and no work files of a conversion.
  QStringList SendFiles() const {
    QStringList names = QDir(home_ + "SEND").entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
  }

  // The converter's private folders of this process: none may outlive a job.
  QStringList ConverterFolders() const {
    const QString prefix = QStringLiteral("qnps-%1-").arg(::getpid());
    return QDir(QString::fromStdString(fe::WorkTempFolder())).entryList({prefix + "*"}, QDir::Dirs);
  }

  void Drop(QWidget* w, const QStringList& files) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& f : files) urls << QUrl::fromLocalFile(f);
    data.setUrls(urls);
    const QPointF at(w->width() / 2, w->height() / 2);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    QVERIFY(drop.isAccepted());
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    docs_ = home_ + "documents/";
    QVERIFY(QDir().mkpath(docs_));
    qputenv("XDG_CONFIG_HOME", (home_ + QStringLiteral("config")).toLocal8Bit());
    ResetProgramFolder();
    Hooks() = MainHooks{};
    Settings() = FaxSettings{};
    InstallFaxPrepHooks();
    // Tables of the current layout, so that the starts below do not rebuild them.
    IniFile ini((home_ + "QN.INI").toStdString());
    ini.WriteInteger("Modem", "ComPort", 1);
    QVERIFY(ini.Flush());
    Start()->close();
  }

  // File menu, file chooser, conversion, editor with the cover checked: one
  // outgoing record naming the fax file of the PDF's pages and its cover.
  void menuFaxesAChosenPdfWithACover() {
    WritePdf(docs_ + "report.pdf", 2);
    auto w = Start();
    QVERIFY(w->FaxDocumentButton->isEnabled());
    // The button bar's captions, the new one among them, fit their buttons.
    for (QPushButton* b : w->FaxDocumentButton->parentWidget()->findChildren<QPushButton*>()) {
      const QString caption = QString(b->text()).remove(QLatin1Char('&'));
      QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(caption) + 8, qPrintable(caption));
    }
    QString subject;
    ModalScript script;
    script
        .Then([&](QWidget* d) {
          auto* chooser = qobject_cast<QFileDialog*>(d);
          QVERIFY2(chooser, d->metaObject()->className());
          auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
          QVERIFY(name);
          QTest::keyClicks(name, docs_ + "report.pdf");
          QTest::keyClick(name, Qt::Key_Return);
        })
        .Then(FillEditor(QStringLiteral("555-0199"), QStringLiteral("Ada Lindqvist"), true, &subject));
    script.PassOver("QProgressDialog");
    // The File menu, then the item's letter, as a user takes it from the keyboard.
    auto* file = qobject_cast<QMenu*>(w->mnuFaxDocument->associatedObjects().value(0));
    QVERIFY(file);
    file->popup(w->mapToGlobal(QPoint(0, 0)));
    QVERIFY(QTest::qWaitForWindowExposed(file));
    QTest::keyClick(file, Qt::Key_M);
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 60000);
    QCOMPARE(subject, QStringLiteral("report.pdf"));
    QCOMPARE(Column(w->FaxGrid, "PHONE"), QStringList{QStringLiteral("555-0199")});
    QCOMPARE(Column(w->FaxGrid, "RECIPIENT"), QStringList{QStringLiteral("Ada Lindqvist")});
    const QString doc = QString::fromStdString(w->FaxTable.getTrimString("FAXDOC"));
    const QString cover = QString::fromStdString(w->FaxTable.getTrimString("FAXCOVER"));
    QCOMPARE(doc, QStringLiteral("FAX00000.APF"));
    QCOMPARE(ApfPages(home_ + "SEND/" + doc), 2u);
    QVERIFY(!cover.isEmpty());
    QCOMPARE(ApfPages(home_ + "SEND/" + cover), 1u);
    QVERIFY(QFile::exists(home_ + "SEND/" + QFileInfo(cover).completeBaseName() + ".FCD"));
    QVERIFY(!w->AddCoverButton->isEnabled());  // it has its cover
    QCOMPARE(SendFiles(), (QStringList{cover, QFileInfo(cover).completeBaseName() + ".FCD", doc}));
    QVERIFY(ConverterFolders().isEmpty());
    w->close();
  }

  // Files dropped at once: the PDF, the text file and the picture become
  // faxes, the random bytes named ".pdf" and the unknown binary are told by
  // name with the converter's reason, and nothing is recorded for them.
  void droppedFilesBecomeFaxesAndRefusedOnesAreTold() {
    WritePdf(docs_ + "letter.pdf", 3);
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(50, 50, 300, 100, Qt::black);
    QVERIFY(picture.save(docs_ + "photo.bmp"));
    WriteBytes(docs_ + "broken.pdf", RandomBytes(20000));
    WriteBytes(docs_ + "notes.txt", "Meeting moved to Thursday.\n\tRoom 4\n\fSecond page\n");
    WriteBytes(docs_ + "blob.bin", RandomBytes(3000));
    auto w = Start();
    ModalScript script;
    script.PassOver("QProgressDialog")
        .Answer(QMessageBox::Ok)
        .Then(FillEditor(QStringLiteral("555-0101"), QStringLiteral("First"), false))
        .Then(FillEditor(QStringLiteral("555-0102"), QStringLiteral("Second"), false))
        .Then(FillEditor(QStringLiteral("555-0103"), QStringLiteral("Third"), false));
    Drop(w.get(),
         {docs_ + "letter.pdf", docs_ + "broken.pdf", docs_ + "notes.txt", docs_ + "blob.bin", docs_ + "photo.bmp"});
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 60000);
    const QString told = script.seen().at(0).text;
    QVERIFY2(told.contains(QStringLiteral("\"broken.pdf\"")) && told.contains(QStringLiteral("not a readable PDF")),
             qPrintable(told));
    QVERIFY2(told.contains(QStringLiteral("\"blob.bin\"")) && told.contains(QStringLiteral("cannot fax this kind")),
             qPrintable(told));
    for (const char* made : {"letter.pdf", "notes.txt", "photo.bmp"}) QVERIFY(!told.contains(QLatin1String(made)));
    QCOMPARE(script.unexpected(), QStringList());

    QStringList subjects = Column(w->FaxGrid, "SUBJECT");
    subjects.sort();
    QCOMPARE(subjects, (QStringList{QStringLiteral("letter.pdf"), QStringLiteral("notes.txt"),
                                    QStringLiteral("photo.bmp")}));
    QCOMPARE(w->FaxTable.visibleRecNos().size(), std::size_t{3});
    for (const auto& [name, pages] :
         {std::pair{"letter.pdf", 3u}, std::pair{"notes.txt", 2u}, std::pair{"photo.bmp", 1u}}) {
      bool found = false;
      for (w->FaxTable.goTop(); !w->FaxTable.eof(); w->FaxTable.skip(1))
        if (w->FaxTable.getTrimString("SUBJECT") == name) {
          found = true;
          QCOMPARE(ApfPages(home_ + "SEND/" + QString::fromStdString(w->FaxTable.getTrimString("FAXDOC"))), pages);
          QVERIFY(w->FaxTable.getTrimString("FAXCOVER").empty());
        }
      QVERIFY2(found, name);
    }
    QCOMPARE(SendFiles(), (QStringList{QStringLiteral("FAX00000.APF"), QStringLiteral("FAX00001.APF"),
                                       QStringLiteral("FAX00002.APF")}));
    QVERIFY(ConverterFolders().isEmpty());
    w->close();
  }

  void cancelDuringConversionLeavesNothing_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Escape key") << true;
  }

  // Cancel (or Escape) while the converter works (a PostScript program that
  // never ends) stops it at once and leaves no record, fax file, work file or
  // converter.
  void cancelDuringConversionLeavesNothing() {
    QFETCH(bool, escape);
    WriteBytes(docs_ + "endless.ps", "%!PS-Adobe-3.0\n/n 0 def { /n n 1 add def } loop\nshowpage\n");
    WritePdf(docs_ + "after.pdf", 1);
    auto w = Start();
    QElapsedTimer clock;
    qint64 cancelledAt = 0;
    bool sawConverter = false;
    ModalScript script;
    script.Then([&](QWidget* d) {
      auto* progress = qobject_cast<QProgressDialog*>(d);
      QVERIFY2(progress, d->metaObject()->className());
      QVERIFY(progress->labelText().contains(QStringLiteral("endless.ps")));
      sawConverter = !ConverterFolders().isEmpty();
      auto* cancel = progress->findChild<QPushButton*>(QStringLiteral("CancelButton"));
      QVERIFY(cancel);
      QCOMPARE(cancel->text(), QStringLiteral("&Cancel"));
      cancelledAt = clock.elapsed();
      if (escape)
        QTest::keyClick(progress, Qt::Key_Escape);
      else
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    clock.start();
    // The second file is not started once the batch is cancelled.
    Drop(w.get(), {docs_ + "endless.ps", docs_ + "after.pdf"});
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 10000);
    QVERIFY(sawConverter);
    QVERIFY2(clock.elapsed() - cancelledAt < 5000, "Cancel did not stop the converter at once");
    QTest::qWait(200);
    QVERIFY(Column(w->FaxGrid, "SUBJECT").isEmpty());
    QCOMPARE(SendFiles(), QStringList());
    QVERIFY(ConverterFolders().isEmpty());
    w->close();
  }

  // quillon FILE: to a copy that starts (the file waits for the first
  // activation), and through the channel to one that runs already.
  void commandLineFilesBecomeFaxes() {
    WritePdf(docs_ + "first.pdf", 1);
    WritePdf(docs_ + "second copy.pdf", 2);
    {
      ModalScript script;
      script.PassOver("QProgressDialog").Then(FillEditor(QStringLiteral("555-0110"), QStringLiteral("Started"), false));
      const QString saved = QDir::currentPath();
      QVERIFY(QDir::setCurrent(docs_));
      const QStringList files = DocumentArguments({QStringLiteral("quillon"), QStringLiteral("--minimized"),
                                                   QStringLiteral("first.pdf")});
      QDir::setCurrent(saved);
      QCOMPARE(files, QStringList{docs_ + "first.pdf"});
      auto w = Start(files);
      QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 60000);
      QCOMPARE(Column(w->FaxGrid, "SUBJECT"), QStringList{QStringLiteral("first.pdf")});
      w->close();
    }
    auto w = Start();
    TJustOne first;
    QVERIFY(first.Claim());
    QSignalSpy forward(&first, &TJustOne::ComeForward);
    connect(&first, &TJustOne::FaxRequested, w.get(), &TMainScreen::FaxDocuments);
    ModalScript script;
    script.PassOver("QProgressDialog").Then(FillEditor(QStringLiteral("555-0111"), QStringLiteral("Running"), false));
    QProcess second;
    second.setWorkingDirectory(docs_);
    second.start(qEnvironmentVariable("QN_BINARY_DIR") + QStringLiteral("/bin/quillon"),
                 {QStringLiteral("second copy.pdf")});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 60000);
    QVERIFY(forward.count() >= 1);
    QStringList subjects = Column(w->FaxGrid, "SUBJECT");
    subjects.sort();
    QCOMPARE(subjects, (QStringList{QStringLiteral("first.pdf"), QStringLiteral("second copy.pdf")}));
    w->FaxTable.goTop();
    for (; !w->FaxTable.eof(); w->FaxTable.skip(1))
      if (w->FaxTable.getTrimString("SUBJECT") == "second copy.pdf") break;
    QCOMPARE(QString::fromStdString(w->FaxTable.getTrimString("PHONE")), QStringLiteral("555-0111"));
    QCOMPARE(ApfPages(home_ + "SEND/" + QString::fromStdString(w->FaxTable.getTrimString("FAXDOC"))), 2u);
    w->close();
  }
};

QTEST_MAIN(DocumentFaxTest)
#include "document_fax_test.moc"
