// The "Print" options dialog and the print commands of the main window and the
// viewer, driven as a user would, printing to PDF files read back with poppler.
#include <QCheckBox>
#include <QFile>
#include <QMainWindow>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include "common/folders.h"
#include "common/print_options.h"
#include "fax_printer.h"
#include "modal_script.h"
#include "pre_print_form.h"
#include "print_test_support.h"
#include "records/record_tables.h"
#include "viewing/fax_printing.h"

using namespace qn;
using namespace qntest;

namespace {

void PdfOutput(QPrinter& printer, const QString& pdf) {
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf);
  printer.setPageLayout(
      QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
}

// The page of a TopTenths fax printed alone on a sheet, from its black share.
int PageOnSheet(const QImage& sheet) {
  const qreal mm = 50 / 25.4;
  const QRectF area(10 * mm, 10 * mm, 190 * mm, 277 * mm);
  const QRect box = BlackBox(sheet, area.adjusted(2, 30, -2, -30).toAlignedRect());
  return box.isEmpty() ? 0 : int(std::lround(10.0 * (box.bottom() - area.top()) / area.height()));
}

}  // namespace

class PrintCommandsTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    SharedPrintOptions() = PrintOptions{};
  }

  // "Ok" with To Page below From Page beeps and keeps the dialog; a good range closes it.
  void toPageBelowFromPageKeepsTheDialog() {
    TPrePrintForm form;
    form.SetRange(5, 1, 5);
    QCOMPARE(form.FromPage->maximum(), 5);
    bool stayed = false;
    ModalScript script;
    script.Then([&](QWidget* w) {
      auto* f = qobject_cast<TPrePrintForm*>(w);
      QVERIFY(f);
      f->FromPage->setValue(4);
      f->ToPage->setFocus();
      f->ToPage->selectAll();
      QTest::keyClicks(f->ToPage, QStringLiteral("2"));
      QTest::mouseClick(f->OkButton, Qt::LeftButton);
      stayed = f->isVisible();
      f->ToPage->setValue(4);
      QTest::keyClick(f, Qt::Key_Return);  // Ok is the default button
    });
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QVERIFY(script.Done() && stayed);
    QCOMPARE(form.ToPage->value(), 4);
  }

  // "Print current page" on page 3 of 5 prints that page alone, stretched and one
  // per sheet whatever the saved options say; the next "Print" offers 1 to 5 again.
  void viewerCurrentPageThenPrint() {
    const std::string fax = ProgramFolder() + "FAX00001.APF";
    QVERIFY(MakeFax(fax, 5, kTenthsLines, TopTenths));
    SharedPrintOptions() = PrintOptions{true, true, true, false};  // multi-page, header, footer, no stretch
    SavePrintOptions();

    QWidget viewer;
    fe::TFeFaxPrinter* printer = MakeViewerFaxPrinter(&viewer);
    QCOMPARE(printer->FaxHeader.Caption, QStringLiteral("File: $F"));
    const QString pdf = QString::fromStdString(ProgramFolder() + "page.pdf");
    QPrinter out(QPrinter::HighResolution);
    PdfOutput(out, pdf);
    printer->SetPrinter(&out);
    bool rangeSet = false;

    ModalScript script;
    script.Then([](QWidget* w) {
      auto* f = qobject_cast<TPrePrintForm*>(w);
      QVERIFY(f);
      QCOMPARE(f->windowTitle(), QStringLiteral("Print"));
      QVERIFY(!f->FromPage->isEnabled() && !f->ToPage->isEnabled() && !f->MultiPage->isEnabled());
      QVERIFY(f->Header->isEnabled() && f->Footer->isEnabled() && f->Header->isChecked());
      QCOMPARE(f->FromPage->value(), 3);
      QCOMPARE(f->ToPage->value(), 3);
      f->Header->click();  // header off
      f->OkButton->click();
    });
    QVERIFY(PrintFromViewer(&viewer, *printer, fax, QStringLiteral("Fax printout"), true, 3, rangeSet));
    QVERIFY(script.Done());
    const auto sheets = RasterisePdf(pdf);
    QCOMPARE(sheets.size(), size_t(1));
    QCOMPARE(PageOnSheet(sheets[0]), 3);
    const QString text = PdfText(pdf);
    QVERIFY2(text.contains(QStringLiteral("Page: 3 of 5")) && !text.contains(QStringLiteral("Fax printout")),
             qPrintable(text));
    LoadPrintOptions();  // header and footer were stored; the other flags kept
    QVERIFY(!SharedPrintOptions().Header && SharedPrintOptions().Footer && SharedPrintOptions().MultiPage &&
            !SharedPrintOptions().Stretch);
    QCOMPARE(printer->FirstPage(), 1u);
    QCOMPARE(printer->LastPage(), 5u);

    ModalScript again;
    again.Then([](QWidget* w) {
      auto* f = qobject_cast<TPrePrintForm*>(w);
      QVERIFY(f);
      QVERIFY(f->FromPage->isEnabled() && f->ToPage->isEnabled() && f->MultiPage->isEnabled());
      QCOMPARE(f->FromPage->value(), 1);
      QCOMPARE(f->ToPage->value(), 5);
      QCOMPARE(f->ToPage->maximum(), 5);
      f->CancelButton->click();
    });
    QFile::remove(pdf);
    QVERIFY(!PrintFromViewer(&viewer, *printer, fax, QStringLiteral("Fax printout"), false, 3, rangeSet));
    QVERIFY(again.Done() && !QFile::exists(pdf));
  }

  // The main window's "Print" on an outgoing fax with cover and body prints the
  // joined file (pages of both, the heading as header) and removes the join;
  // the dialog's choices are saved.
  void mainWindowPrintsJoinedFax() {
    xb::Table fax, rec;
    QCOMPARE(int(records::OpenTablesAtStartup(fax, rec, ProgramFolder())), int(records::StartupResult::Ok));
    MakeDataFolders();
    QVERIFY(MakeFax(SendFolder() + "COV00001.APF", 1, kTenthsLines, TopTenths));
    QVERIFY(MakeFax(SendFolder() + "FAX00001.APF", 3, kTenthsLines, TopTenths, false));
    QCOMPARE(fax.appendBlank(), 0);
    fax.setString("RECIPIENT", "Ada Lovelace");
    fax.setString("FAXCOVER", "COV00001.APF");
    fax.setString("FAXDOC", "FAX00001.APF");
    QCOMPARE(fax.post(), 0);

    QMainWindow window;
    QPrinter chosen(QPrinter::HighResolution);
    const QString pdf = QString::fromStdString(ProgramFolder() + "joined.pdf");
    PdfOutput(chosen, pdf);
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* f = qobject_cast<TPrePrintForm*>(w);
      QVERIFY(f);
      QCOMPARE(f->ToPage->value(), 4);
      QVERIFY(f->Header->isChecked() && f->Stretch->isChecked() && !f->MultiPage->isChecked());
      f->FromPage->setValue(2);
      f->MultiPage->click();
      f->OkButton->click();
    });
    PrintSelectedFax(window, fax, true, &chosen);
    QVERIFY(script.Done());
    const auto sheets = RasterisePdf(pdf);
    QCOMPARE(sheets.size(), size_t(1));  // pages 2 to 4, four to a sheet
    const QString text = PdfText(pdf);
    QVERIFY2(text.contains(QStringLiteral("To: Ada Lovelace")) && text.contains(QStringLiteral("Page: 4 of 4")),
             qPrintable(text));
    QVERIFY(QDir(QString::fromStdString(ProgramFolder())).entryList({QStringLiteral("Temp*")}).isEmpty());
    LoadPrintOptions();
    QVERIFY(SharedPrintOptions().MultiPage);
    QVERIFY(window.statusBar()->currentMessage().isEmpty());

    // A record whose files are gone: the message, nothing printed.
    QFile::remove(pdf);
    QVERIFY(QFile::remove(QString::fromStdString(SendFolder() + "COV00001.APF")));
    QVERIFY(QFile::remove(QString::fromStdString(SendFolder() + "FAX00001.APF")));
    ModalScript missing;
    missing.Answer(QMessageBox::Ok);
    PrintSelectedFax(window, fax, true, &chosen);
    QVERIFY(missing.Done());
    QCOMPARE(missing.seen().at(0).text, QStringLiteral("Error - fax file missing"));
    QVERIFY(!QFile::exists(pdf));

    // A received fax whose file is not a fax: an error box instead of the dialog.
    QCOMPARE(rec.appendBlank(), 0);
    rec.setString("FROM", "  Someone  ");
    rec.setString("FAXFILE", "FAX0001.APF");
    QCOMPARE(rec.post(), 0);
    QFile bad(QString::fromStdString(ReceiveFolder() + "FAX0001.APF"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("not a fax");
    bad.close();
    QCOMPARE(FaxHeadingText(rec, false).left(35), QStringLiteral("From: Someone             Received:"));
    ModalScript broken;
    broken.Answer(QMessageBox::Ok);
    PrintSelectedFax(window, rec, false, &chosen);
    QVERIFY(broken.Done() && broken.unexpected().isEmpty());
    QVERIFY2(broken.seen().at(0).text.startsWith(QStringLiteral("Printing failed")),
             qPrintable(broken.seen().at(0).text));
    QVERIFY(!QFile::exists(pdf));
  }
};

QTEST_MAIN(PrintCommandsTest)
#include "print_commands_test.moc"
