// The fax printer on real PDF output: where and how big each fax page lands,
// the header and footer texts, several pages per sheet, the status window's
// Abort, the print log and damaged files.
#include "fax_printer.h"

#include <QApplication>
#include <QFile>
#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cmath>
#include <fstream>

#include "fe_errors.h"
#include "print_status.h"
#include "print_test_support.h"

using namespace qntest;

namespace {
constexpr int kDpi = 50;

// A4 with 10 mm margins: the printable area in raster pixels at kDpi.
QRectF AreaPixels() {
  const qreal mm = kDpi / 25.4;
  return QRectF(10 * mm, 10 * mm, 190 * mm, 277 * mm);
}

void SetUpPdf(QPrinter& printer, const QString& pdf, QPageLayout::Orientation orientation = QPageLayout::Portrait) {
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf);
  printer.setPageLayout(
      QPageLayout(QPageSize(QPageSize::A4), orientation, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
}

bool Near(double a, double b, double tolerance = 2.5) {
  return std::abs(a - b) <= tolerance;
}

QString Describe(const QRect& r) {
  return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Which page of a TopTenths fax fills a cell: its black height over the cell's.
int PageInCell(const QImage& sheet, const QRectF& cell) {
  const QRect box = BlackBox(sheet, cell.adjusted(2, 2, -2, -2).toAlignedRect());
  if (box.isEmpty()) return 0;
  return int(std::lround(10.0 * box.height() / cell.height()));
}

}  // namespace

class FaxPrinterTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir dir_;
  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  // Prints `fax` to a fresh PDF with the given setup; returns the sheets.
  std::vector<QImage> PrintSheets(fe::TFeFaxPrinter& printer, const QString& pdf, int* rc = nullptr) {
    QFile::remove(pdf);
    QPrinter out(QPrinter::HighResolution);
    SetUpPdf(out, pdf);
    printer.SetPrinter(&out);
    const int result = printer.DoPrint();
    printer.SetPrinter(nullptr);
    if (rc) *rc = result;
    return RasterisePdf(pdf, kDpi);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    if (qEnvironmentVariableIsSet("QN_KEEP_TEST_FILES")) dir_.setAutoRemove(false);
  }

  // Stretched: 93% of the printable width and its full height, from its top-left
  // corner; a 2048-pixel page keeps the same scale and stays inside.
  void stretchFillsPrintableArea() {
    const std::string fax = Path("black.apf").toStdString();
    QVERIFY(MakeFax(fax, 1, 2200, [](unsigned, unsigned, unsigned) { return true; }));
    fe::TFeFaxPrinter printer;
    printer.FaxHeader.Enabled = printer.FaxFooter.Enabled = false;
    printer.SetFileName(fax);
    auto sheets = PrintSheets(printer, Path("stretch.pdf"));
    QCOMPARE(sheets.size(), size_t(1));
    const QRect box = BlackBox(sheets[0]);
    const QRectF area = AreaPixels();
    QVERIFY2(Near(box.left(), area.left()) && Near(box.top(), area.top()) && Near(box.width(), area.width() * 0.93) &&
                 Near(box.height(), area.height()),
             qPrintable(Describe(box)));

    const std::string wide = Path("wide.apf").toStdString();
    QVERIFY(MakeFax(
        wide, 1, 2200, [](unsigned, unsigned, unsigned) { return true; }, true, 2048));
    printer.SetFileName(wide);
    sheets = PrintSheets(printer, Path("wide.pdf"));
    QCOMPARE(sheets.size(), size_t(1));
    const QRect wbox = BlackBox(sheets[0]);
    QVERIFY2(Near(wbox.width(), area.width() * 0.93) && Near(wbox.height(), area.height() * 1728 / 2048) &&
                 area.contains(QRectF(wbox).adjusted(1, 1, -1, -1)),
             qPrintable(Describe(wbox)));
  }

  // At the fax's own resolution: 200 fax pixels per inch; a standard page's lines
  // count twice; what is longer than the area is cut, not squeezed.
  void ownResolutionSizeAndCut() {
    const std::string fax = Path("block.apf").toStdString();
    QVERIFY(MakeFax(
        fax, 1, 200, [](unsigned, unsigned x, unsigned) { return x < 800; }, false));
    fe::TFeFaxPrinter printer;
    printer.FaxHeader.Enabled = printer.FaxFooter.Enabled = false;
    printer.PrintScale = fe::psNone;
    printer.SetFileName(fax);
    auto sheets = PrintSheets(printer, Path("own.pdf"));
    QCOMPARE(sheets.size(), size_t(1));
    QRect box = BlackBox(sheets[0]);
    const QRectF area = AreaPixels();
    QVERIFY2(Near(box.left(), area.left()) && Near(box.top(), area.top()) && Near(box.width(), 800.0 * kDpi / 200) &&
                 Near(box.height(), 400.0 * kDpi / 200),
             qPrintable(Describe(box)));

    const std::string tall = Path("tall.apf").toStdString();  // 15 inches of black at 200 lines per inch
    QVERIFY(MakeFax(tall, 1, 3000, [](unsigned, unsigned x, unsigned) { return x < 800; }));
    printer.SetFileName(tall);
    sheets = PrintSheets(printer, Path("tall.pdf"));
    QCOMPARE(sheets.size(), size_t(1));
    box = BlackBox(sheets[0]);
    QVERIFY2(Near(box.width(), 800.0 * kDpi / 200) && Near(box.height(), area.height()), qPrintable(Describe(box)));
  }

  // Header and footer with their tokens; the page starts below the header rule.
  void headerAndFooterTexts() {
    const std::string fax = Path("five.apf").toStdString();
    QVERIFY(MakeFax(fax, 5, kTenthsLines, TopTenths));
    fe::TFeFaxPrinter printer;
    printer.SetFileName(fax);
    QCOMPARE(printer.PageCount(), 5u);
    printer.SetPageRange(3, 3);
    const QString pdf = Path("header.pdf");
    auto sheets = PrintSheets(printer, pdf);
    QCOMPARE(sheets.size(), size_t(1));
    const QString text = PdfText(pdf);
    QVERIFY2(text.contains(QStringLiteral("PAGE: 3 of 5")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("FILE: ") + QString::fromStdString(fax)), qPrintable(text));
    // The fax image starts just below the header's rule and ends just above the
    // footer's; both rules are seen across the whole width.
    const QRectF area = AreaPixels();
    const QRect inner = QRectF(area.left() + 2, area.top() + 10, 20, area.height() - 20).toAlignedRect();
    const QRect box = BlackBox(sheets[0], inner);
    QVERIFY2(box.top() > area.top() + 4 && box.top() < area.top() + 12, qPrintable(Describe(box)));
    const QRect beside = BlackBox(sheets[0], QRectF(area.right() - 10, area.top(), 8, area.height()).toAlignedRect());
    QVERIFY2(beside.height() > area.height() - 20, qPrintable(Describe(beside)));  // header rule to footer rule
    int rules = 0;
    for (int y = int(area.center().y()); y < int(area.bottom()); ++y)
      rules +=
          BlackBox(sheets[0], QRect(int(area.left()) + 2, y, int(area.width()) - 4, 1)).width() > area.width() * 0.97;
    QCOMPARE(rules, 1);  // the footer's rule, not covered by the page image
    // A token runs to the next space; its first letter, in either case, chooses.
    QCOMPARE(printer.ExpandTokens(QStringLiteral("$p of $N $Fname $x-$P $n/$p end$"), 2),
             QStringLiteral("2 of 5 ") + QString::fromStdString(fax) + QStringLiteral("  5 end"));
  }

  // Four per sheet in portrait: pages 2 to 9 on two sheets, 2 top-left, 3 top-right,
  // 4 bottom-left, 5 bottom-right; two per sheet in landscape, left then right.
  void severalPagesPerSheet() {
    const std::string fax = Path("ten.apf").toStdString();
    QVERIFY(MakeFax(fax, 9, kTenthsLines, TopTenths));
    fe::TFeFaxPrinter printer;
    printer.FaxHeader.Enabled = printer.FaxFooter.Enabled = false;
    printer.MultiPage = true;
    printer.SetFileName(fax);
    printer.SetPageRange(2, 9);
    auto sheets = PrintSheets(printer, Path("four.pdf"));
    QCOMPARE(sheets.size(), size_t(2));
    const QRectF a = AreaPixels();
    const qreal hw = a.width() / 2, hh = a.height() / 2;
    const QRectF cells[4] = {{a.left(), a.top(), hw, hh},
                             {a.left() + hw, a.top(), hw, hh},
                             {a.left(), a.top() + hh, hw, hh},
                             {a.left() + hw, a.top() + hh, hw, hh}};
    for (int s = 0; s < 2; ++s)
      for (int c = 0; c < 4; ++c) QCOMPARE(PageInCell(sheets[size_t(s)], cells[c]), 2 + 4 * s + c);
    const QRect cellBox = BlackBox(sheets[1], cells[3].toAlignedRect());  // page 9: 90% of the cell's height
    QVERIFY2(Near(cellBox.width(), hw * 0.93, 3) && Near(cellBox.left(), a.left() + hw, 2),
             qPrintable(Describe(cellBox)));

    printer.SetPageRange(1, 3);
    const QString pdf = Path("two.pdf");
    QFile::remove(pdf);
    QPrinter out(QPrinter::HighResolution);
    SetUpPdf(out, pdf, QPageLayout::Landscape);
    printer.SetPrinter(&out);
    QCOMPARE(printer.DoPrint(), 0);
    sheets = RasterisePdf(pdf, kDpi);
    QCOMPARE(sheets.size(), size_t(2));
    const qreal mm = kDpi / 25.4;
    const QRectF l(10 * mm, 10 * mm, 277 * mm, 190 * mm);
    const QRectF left(l.left(), l.top(), l.width() / 2, l.height()),
        right(l.center().x(), l.top(), l.width() / 2, l.height());
    QCOMPARE(PageInCell(sheets[0], left), 1);
    QCOMPARE(PageInCell(sheets[0], right), 2);
    QCOMPARE(PageInCell(sheets[1], left), 3);
    QVERIFY(BlackBox(sheets[1], right.toAlignedRect()).isEmpty());
  }

  // Abort in the status window during page 2: no printout, the file that was
  // there is kept, the log says aborted and never finished.
  void abortStopsTheJob() {
    const std::string fax = Path("abort.apf").toStdString();
    QVERIFY(MakeFax(fax, 4, kTenthsLines, TopTenths));
    QWidget owner;
    auto* log = new fe::TFeFaxPrinterLog(&owner);
    log->LogFileName = Path("FAXPRINT.LOG").toStdString();
    fe::TFeFaxPrinter* printer = fe::MakeFaxPrinter(&owner);
    auto* status = owner.findChild<fe::TFeFaxPrinterStatus*>();
    QVERIFY(status && printer->StatusDisplay == status && printer->FaxPrinterLog == log);
    printer->SetFileName(fax);
    bool statusShown = false;
    printer->OnNextPage = [&](fe::TFeFaxPrinter&, unsigned cp, unsigned tp) {
      QCOMPARE(tp, 4u);
      statusShown = status->isVisible() && status->windowTitle() == QStringLiteral("Print Status") &&
                    status->PageText() == QStringLiteral("Page %1 of 4").arg(cp);
      // The user clicks Abort while page 2 is being decoded.
      if (cp == 2)
        QTimer::singleShot(0, status, [status] { QTest::mouseClick(status->AbortButton(), Qt::LeftButton); });
    };
    const QString pdf = Path("aborted.pdf");
    {
      QFile old(pdf);
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write("earlier printout");
    }
    QPrinter out(QPrinter::HighResolution);
    SetUpPdf(out, pdf);
    printer->SetPrinter(&out);
    QCOMPARE(printer->DoPrint(), -fe::ecCancelRequested);
    QVERIFY(statusShown);
    QVERIFY(!status->isVisible() && !printer->Printing());
    QFile old(pdf);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("earlier printout"));
    QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral("aborted.pdf.*")}, QDir::Files).size(), 0);
    QFile logFile(Path("FAXPRINT.LOG"));
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(logFile.readAll()).split(u'\n');
    QVERIFY2(lines.size() == 4 &&
                 lines[0].startsWith(QStringLiteral("Printing ") + QString::fromStdString(fax) +
                                     QStringLiteral(" started at ")) &&
                 lines[1].contains(QStringLiteral(" aborted at ")) && lines[2].isEmpty(),
             qPrintable(lines.join(u'|')));

    // The next run is not affected by the abort before it.
    printer->OnNextPage = nullptr;
    QCOMPARE(printer->DoPrint(), 0);
    QCOMPARE(RasterisePdf(pdf, 20).size(), size_t(4));
    logFile.seek(0);
    QVERIFY(QString::fromLatin1(logFile.readAll()).contains(QStringLiteral(" finished at ")));
  }

  // Without any dialog (printing on receipt): to a PDF path, or to a queue that
  // does not exist, which fails without leaving anything behind.
  void printToWithoutDialog() {
    const std::string fax = Path("receipt.apf").toStdString();
    QVERIFY(MakeFax(fax, 2, kTenthsLines, TopTenths));
    fe::TFeFaxPrinter printer;
    printer.SetFileName(fax);
    const QString pdf = Path("receipt.pdf");
    QCOMPARE(printer.PrintTo(QString(), pdf), 0);
    QCOMPARE(RasterisePdf(pdf, 20).size(), size_t(2));
    QCOMPARE(printer.PrintTo(QStringLiteral("no-such-queue-here"), QString()), -fe::ecDeviceWriteError);
  }

  // With no printer chosen and no queue on the system, printing offers the
  // print dialog (whose file output prints to PDF) instead of failing.
  void noQueueOffersThePrintDialog() {
    if (!QPrinterInfo::defaultPrinter().isNull()) QSKIP("this machine has a default print queue");
    const std::string fax = Path("dialog.apf").toStdString();
    QVERIFY(MakeFax(fax, 1, 100, TopTenths));
    fe::TFeFaxPrinter printer;
    printer.SetFileName(fax);
    QString seen;
    QTimer::singleShot(200, [&] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        seen = QString::fromLatin1(w->metaObject()->className());
        w->close();
      }
    });
    QCOMPARE(printer.DoPrint(), -fe::ecCancelRequested);
    QCOMPARE(seen, QStringLiteral("QPrintDialog"));
  }

  // The setup dialog is preset to the range, and the range chosen there is kept.
  void printerSetupKeepsTheChosenRange() {
    const std::string fax = Path("setup.apf").toStdString();
    QVERIFY(MakeFax(fax, 6, 100, TopTenths));
    fe::TFeFaxPrinter printer;
    printer.SetFileName(fax);
    printer.SetPageRange(2, 5);
    QPrinter out(QPrinter::HighResolution);
    SetUpPdf(out, Path("setup.pdf"));
    printer.SetPrinter(&out);
    QStringList seen;
    QTimer::singleShot(300, [&] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w) return;
      for (QSpinBox* box : w->findChildren<QSpinBox*>())
        if (box->objectName() == QStringLiteral("from") || box->objectName() == QStringLiteral("to"))
          seen << box->objectName() + QString::number(box->value());
      auto* from = w->findChild<QSpinBox*>(QStringLiteral("from"));
      auto* to = w->findChild<QSpinBox*>(QStringLiteral("to"));
      if (from && to) {
        to->setValue(4);
        from->setValue(3);
      }
      QMetaObject::invokeMethod(w, "accept");
    });
    QVERIFY(printer.PrinterSetup());
    seen.sort();
    QCOMPARE(seen, QStringList({QStringLiteral("from2"), QStringLiteral("to5")}));
    QCOMPARE(printer.FirstPage(), 3u);
    QCOMPARE(printer.LastPage(), 4u);
  }

  // Damaged files never crash: missing, not a fax, no pages, a truncated page
  // (printed as far as it decodes), page headers missing (the pages before them
  // print and the run reports failure), a very long page.
  void damagedFiles() {
    fe::TFeFaxPrinter printer;
    printer.FaxHeader.Enabled = printer.FaxFooter.Enabled = false;
    int rc = 0;
    printer.SetFileName(Path("missing.apf").toStdString());
    QCOMPARE(printer.PageCount(), 0u);
    QVERIFY(PrintSheets(printer, Path("missing.pdf"), &rc).empty() && rc < 0);

    const std::string garbage = Path("garbage.apf").toStdString();
    std::ofstream(garbage) << "this is not a fax file at all, just text";
    printer.SetFileName(garbage);
    QVERIFY(PrintSheets(printer, Path("garbage.pdf"), &rc).empty() && rc < 0);

    const std::string empty = Path("empty.apf").toStdString();
    QVERIFY(MakeFax(empty, 0, 0, TopTenths));
    printer.SetFileName(empty);
    QVERIFY(PrintSheets(printer, Path("empty.pdf"), &rc).empty() && rc < 0);

    // Three pages, cut in the middle of page 3's data: at the fax's own
    // resolution page 3 prints as far as it decodes.
    const std::string good = Path("three.apf").toStdString();
    QVERIFY(MakeFax(good, 3, 600, [](unsigned, unsigned x, unsigned) { return x < 800; }));
    QFile src(QString::fromStdString(good));
    QVERIFY(src.open(QIODevice::ReadOnly));
    const QByteArray bytes = src.readAll();
    const std::string cut = Path("cut.apf").toStdString();
    {
      QFile out(QString::fromStdString(cut));
      QVERIFY(out.open(QIODevice::WriteOnly));
      out.write(bytes.left(bytes.size() - bytes.size() / 6));
    }
    printer.SetFileName(cut);
    QCOMPARE(printer.PageCount(), 3u);
    printer.PrintScale = fe::psNone;
    auto sheets = PrintSheets(printer, Path("cut.pdf"), &rc);
    printer.PrintScale = fe::psFitToPage;
    QCOMPARE(rc, 0);
    QCOMPARE(sheets.size(), size_t(3));
    const QRect partial = BlackBox(sheets[2]);
    QVERIFY2(!partial.isEmpty() && partial.height() < BlackBox(sheets[0]).height() - 10, qPrintable(Describe(partial)));

    // The header claims five pages; pages 4 and 5 are not there.
    QByteArray five = bytes;
    five[32] = 5;  // the page count word of the file header
    const std::string missingPages = Path("short.apf").toStdString();
    {
      QFile out(QString::fromStdString(missingPages));
      QVERIFY(out.open(QIODevice::WriteOnly));
      out.write(five);
    }
    printer.SetFileName(missingPages);
    QCOMPARE(printer.PageCount(), 5u);
    sheets = PrintSheets(printer, Path("short.pdf"), &rc);
    QVERIFY(rc < 0);
    QCOMPARE(sheets.size(), size_t(3));

    const std::string longPage = Path("long.apf").toStdString();
    QVERIFY(MakeFax(longPage, 1, 60000, [](unsigned, unsigned x, unsigned y) { return y % 1000 == 0 && x < 100; }));
    printer.SetFileName(longPage);
    sheets = PrintSheets(printer, Path("long.pdf"), &rc);
    QCOMPARE(rc, 0);
    QCOMPARE(sheets.size(), size_t(1));
  }
};

QTEST_MAIN(FaxPrinterTest)
#include "fax_printer_test.moc"
