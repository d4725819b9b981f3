// The Send command and the Send Fax window driven as a user drives them: an
// outgoing record goes out through virtual Class 1, 2 and 2.0 modems to a fax
// terminal (the pages it stores are ours), and through a scripted modem the
// failures end with their texts in the record and Lastsend.log, the port free.
#include <QCheckBox>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QDir>
#include <QProcess>
#include <thread>

#include "apf_pages.h"
#include "apf_writer.h"
#include "common/fax_files.h"
#include "common/folders.h"
#include "common/help.h"
#include "fax_pages.h"
#include "fe_errors.h"
#include "fe_texts.h"
#include "modal_script.h"
#include "records/record_tables.h"
#include "scripted_modem.h"
#include "send_fax.h"
#include "sessions/error_box.h"
#include "sessions/fax_port.h"
#include "sessions/fax_status.h"
#include "sessions/qt_event_sink.h"
#include "sessions/send_command.h"
#include "sessions/send_fax_form.h"
#include "sessions/settings.h"
#include "sim_harness.h"
#include "sipp_peer.h"
#include "t30.h"

using namespace qn;
using namespace std::chrono_literals;
using qntest::ModalScript;

namespace {

void WriteApf(const std::string& path, const std::vector<qn::sim::RasterPage>& pages) {
  QVERIFY(qntest::WriteApfPages(path, pages));
}

// A received page is our page under the header line the window asks for: the
// rows above ours carry ink (the header), the rest is our page row for row.
bool OurPage(const qn::sim::RasterPage& got, const qn::sim::RasterPage& want, std::string* why) {
  if (got.rows.size() <= want.rows.size()) {
    *why = "no header rows above the page";
    return false;
  }
  const auto headerRows = static_cast<std::ptrdiff_t>(got.rows.size() - want.rows.size());
  bool ink = false;
  for (auto row = got.rows.begin(); row != got.rows.begin() + headerRows; ++row)
    for (uint8_t b : *row) ink = ink || b != 0;
  if (!ink) {
    *why = "the header rows are blank";
    return false;
  }
  qn::sim::RasterPage tail = got;
  tail.rows.erase(tail.rows.begin(), tail.rows.begin() + headerRows);
  return qn::sim::samePage(tail, want, why);
}

QStringList ReadLines(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return {};
  QString text = QString::fromLocal8Bit(f.readAll());
  if (text.endsWith(QLatin1String("\r\n"))) text.chop(2);
  return text.split(QStringLiteral("\r\n"));
}

// Each expected prefix starts a line, in this order (other lines may sit between).
bool InOrder(const QStringList& lines, const QStringList& prefixes, QString* missing) {
  int at = 0;
  for (const QString& p : prefixes) {
    while (at < lines.size() && !lines[at].startsWith(p)) ++at;
    if (at == lines.size()) {
      *missing = p;
      return false;
    }
    ++at;
  }
  return true;
}

// Scripted Class 1 dialogue pieces (the engine's default initialisation string).
const char* kInit = "ATE0Q0V1X4S0=0S2=43";
std::string Frame(std::vector<uint8_t> b) {
  b.push_back(0);
  b.push_back(0);
  return std::string(b.begin(), b.end());
}
void Class1Prep(qnsim::ScriptedModem& m) {
  m.Answer("AT").Answer(kInit).Answer("AT+FCLASS=1").Expect("AT+FTM=?").Reply("24,48,72,96").Reply("OK");
  m.Answer("AT+FCLASS=1");
}

}  // namespace

class SendWindowTest : public QObject {
  Q_OBJECT
  std::string home_;
  xb::Table table_;

  // An outgoing record naming its files in the send folder.
  void AddRecord(const std::string& doc, const std::string& cover, const std::string& phone) {
    QCOMPARE(table_.appendBlank(), 0);
    table_.setString("FAXDOC", doc);
    table_.setString("FAXCOVER", cover);
    table_.setString("RECIPIENT", "Ada Test");
    table_.setString("SUBJECT", "Quarterly figures");
    table_.setString("PHONE", phone);
    table_.setString("LASTRESULT", "Never sent");
    QCOMPARE(table_.post(), 0);
  }

  // Runs the Send command on the current record: `before` acts on the window
  // first (its message answered with Ok), then "&Send Fax Now", the box that ends
  // the session (the success message, or the error window whose caption and text
  // are returned), and "C&lose".
  QStringList SendAndClose(bool success, const std::function<void(TSendFaxForm*)>& before = {}) {
    ModalScript script;
    QStringList errors;
    auto* errorsSeen = &errors;
    if (before) {
      script.Then([before](QWidget* w) {
        if (auto* form = qobject_cast<TSendFaxForm*>(w)) before(form);
      });
      script.Answer(QMessageBox::Ok);  // what the window said about it
    }
    script.Then([](QWidget* w) {
      if (auto* form = qobject_cast<TSendFaxForm*>(w)) form->SendFaxButton->click();
    });
    if (success) {
      script.Answer(QMessageBox::Ok);
    } else {
      script.Then([errorsSeen](QWidget* w) {
        if (auto* box = qobject_cast<TShowErrorForm*>(w)) {
          *errorsSeen << box->windowTitle() << box->Memo1->toPlainText();
          box->OkButton->click();
        } else {
          w->close();
        }
      });
    }
    script.Then([](QWidget* w) {
      if (auto* form = qobject_cast<TSendFaxForm*>(w)) form->CloseButton->click();
    });
    const bool sent = SendCurrentFax(nullptr, table_, {});
    if (!sent) errors << QStringLiteral("no file");
    if (!script.Done()) errors << QStringLiteral("script not finished");
    if (!script.unexpected().isEmpty()) errors << script.unexpected();
    return errors;
  }

  void SendThroughLine(qn::sim::ModemKind kind, int faxClass, const QString& className) {
    qn::sim::FaxModemSim sim;
    const std::string tiff = sim.workDir() + "/received.tif";
    sim.addModem(kind, "100");
    sim.addReceiver("200", tiff);
    QVERIFY2(sim.start(), sim.error().c_str());
    sim.pointComPort(3, "100");
    Settings().FaxClass = faxClass;

    // A fine cover and a standard body: the resolutions differ, so the session
    // parameters are negotiated again between them.
    const auto cover = qn::sim::makeTestPages(1, 120, true, 41);
    const auto body = qn::sim::makeTestPages(2, 90, false, 42);
    WriteApf(SendFolder() + "COV00000.APF", cover);
    WriteApf(SendFolder() + "FAX00000.APF", body);
    AddRecord("FAX00000.APF", "COV00000.APF", "200");

    QStringList statusPages;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&statusPages] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* s = qobject_cast<TFeFaxStatus*>(w); s && s->isVisible()) {
          const QString page = s->Value(QStringLiteral("Current page:"));
          if (statusPages.isEmpty() || statusPages.last() != page) statusPages << page;
        }
    });
    watch.start(50);
    const QStringList problems = SendAndClose(true);
    watch.stop();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));

    table_.go(1);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("Sent"));
    QCOMPARE(table_.getTrimString("PHONE"), std::string("200"));
    QCOMPARE(table_.getDate("DATESENT"), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
    QCOMPARE(table_.getTrimString("TIMESENT").size(), size_t(5));

    QVERIFY(!sim.waitForEvent("result 200 0 pages=3", 20s).empty());
    const auto got = qn::sim::readPages(tiff);
    QCOMPARE(got.size(), size_t(3));
    std::string why;
    QVERIFY2(OurPage(got[0], cover[0], &why), why.c_str());
    QVERIFY2(OurPage(got[1], body[0], &why), why.c_str());
    QVERIFY2(OurPage(got[2], body[1], &why), why.c_str());
    QVERIFY2(statusPages.contains(QStringLiteral("<cover page>")), qPrintable(statusPages.join(QLatin1Char(','))));

    const QStringList log = ReadLines(home_ + "Lastsend.log");
    QString missing;
    QVERIFY2(InOrder(log,
                     {QStringLiteral("Start:"), QStringLiteral("Opening com port: COM3"),
                      QStringLiteral("Opened com port OK"), QStringLiteral("Checking for modem"),
                      QStringLiteral("Desired BPS: 14400"), QStringLiteral("Negotiate between pages: OFF"),
                      QStringLiteral("Fax#: 200"), QStringLiteral("Fax Class: ") + className,
                      QStringLiteral("StationID: 5550100"), QStringLiteral("User INIT String: "),
                      QStringLiteral("StartTransmit"), QStringLiteral("Result: OK"), QStringLiteral("Finish: ")},
                     &missing),
             qPrintable(missing + QStringLiteral(" missing from:\n") + log.join(QLatin1Char('\n'))));
    QVERIFY(sim.stop());
  }

  // The scripted modem stands for COM3; the record's fax is one fine page.
  void ScriptedRecord(qnsim::ScriptedModem& modem, int pageLines = 30) {
    qputenv("QN_COM3", QByteArray::fromStdString(modem.DevicePath()));
    const auto page = qn::sim::makeTestPages(1, pageLines, true, 7);
    WriteApf(SendFolder() + "FAX00001.APF", page);
    AddRecord("FAX00001.APF", "", "5551234");
  }

  // A Class 1 modem whose dial attempts get these replies, for the record's fax.
  void DialWithReplies(qnsim::ScriptedModem& modem, std::initializer_list<const char*> replies) {
    Class1Prep(modem);
    for (const char* reply : replies) modem.Expect("ATDT5551234").Reply(reply);
    modem.Start();
    ScriptedRecord(modem);
  }

  void ExpectFailure(const QString& result, const QStringList& errors) {
    QVERIFY2(errors.size() == 2, qPrintable(errors.join(QLatin1Char('\n'))));
    table_.go(1);
    QCOMPARE(QString::fromStdString(table_.getTrimString("LASTRESULT")), result);
    QCOMPARE(table_.getTrimString("DATESENT"), std::string());
    const QStringList log = ReadLines(home_ + "Lastsend.log");
    QVERIFY2(log.size() > 2 && log.last().startsWith(QLatin1String("Finish: ")), qPrintable(log.join('\n')));
  }

  // Nothing holds the device any more: this process can open it again.
  static void ExpectPortFree(const std::string& device) {
    TFaxSessionPort again;
    QCOMPARE(again.Open(device), 0);
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction())).toStdString();
    ResetProgramFolder();
    MakeDataFolders();
    xb::setDeleted(true);
    xb::setCentury(true);
    Settings() = FaxSettings{};
    Settings().ComPort = 2;  // COM3
    Settings().MaximumBPS = 14400;
    Settings().Fax = "5550100";
    Settings().Name = "Quillon Test";
    Settings().RetryWait = 1;
    QVERIFY(records::OpenFaxDBF(table_, ProgramFolder()));
  }
  void cleanup() {
    table_.close();
    qunsetenv("QN_COM3");
  }

  // ---- which files go out, and what the outcome does to the record ----
  void filesAndRecordRules() {
    const std::string send = SendFolder();
    WriteApf(send + "FAX00002.APF", qn::sim::makeTestPages(1, 10, false, 1));
    WriteApf(send + "COV00002.APF", qn::sim::makeTestPages(1, 10, true, 2));
    auto both = ChooseFaxFiles(send, "FAX00002.APF", "COV00002.APF");
    QCOMPARE(both.faxFile, send + "FAX00002.APF");
    QCOMPARE(both.coverFile, send + "COV00002.APF");
    auto coverOnly = ChooseFaxFiles(send, "GONE.APF", "COV00002.APF");  // the body was deleted
    QCOMPARE(coverOnly.faxFile, send + "COV00002.APF");
    QCOMPARE(coverOnly.coverFile, std::string());
    auto bodyOnly = ChooseFaxFiles(send, "FAX00002.APF", "");
    QCOMPARE(bodyOnly.faxFile, send + "FAX00002.APF");
    QCOMPARE(bodyOnly.coverFile, std::string());
    QCOMPARE(ChooseFaxFiles(send, "", "GONE.APF").faxFile, std::string());
    // A record naming a file outside the send folder names no file at all.
    WriteApf(ProgramFolder() + "OUTSIDE.APF", qn::sim::makeTestPages(1, 10, false, 1));
    QCOMPARE(ChooseFaxFiles(send, "../OUTSIDE.APF", "").faxFile, std::string());
    QVERIFY(!SameFaxResolution(both.faxFile, both.coverFile));

    AddRecord("FAX00002.APF", "", "1");
    const QDateTime at(QDate(2026, 3, 4), QTime(7, 5));
    QCOMPARE(StoreSendResult(table_, 1, QStringLiteral("ok"), QStringLiteral("555"), at), 0);
    QCOMPARE(table_.getDate("DATESENT"), std::string("20260304"));
    QCOMPARE(table_.getTrimString("TIMESENT"), std::string("07:05"));
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("ok"));
    QCOMPARE(StoreSendResult(table_, 1, QStringLiteral("Sent."), QStringLiteral("556"), at.addDays(1)), 0);
    QCOMPARE(table_.getDate("DATESENT"), std::string("20260304"));  // "Sent." is no success
    QCOMPARE(StoreSendResult(table_, 1, QStringLiteral("   "), QStringLiteral("557"), at), 0);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("Sent."));  // blanks keep the last result
    QCOMPARE(table_.getTrimString("PHONE"), std::string("557"));

    // A record number that does not exist changes no other record, and leaves
    // no half-made change behind for a later move to post.
    AddRecord("FAX00003.APF", "", "2");
    QCOMPARE(table_.go(2), 0);
    QVERIFY(StoreSendResult(table_, 9, QStringLiteral("Sent"), QStringLiteral("999"), at) < 0);
    QCOMPARE(table_.go(2), 0);
    QCOMPARE(table_.getTrimString("PHONE"), std::string("2"));
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("Never sent"));
    QCOMPARE(table_.getTrimString("DATESENT"), std::string());

    QCOMPARE(DialWaitFromInitString("ATS7=120"), 120);
    QCOMPARE(DialWaitFromInitString("S7=90X4"), 90);
    QCOMPARE(DialWaitFromInitString("S7=30"), 55);
    QCOMPARE(DialWaitFromInitString("E0"), 60);
    QCOMPARE(ModemInitFrom("S7=90&K3"), std::string("ATS7=90&K3"));
    QCOMPARE(ModemInitFrom("at&f"), std::string("at&f"));
  }

  // An engine event the interface could not take in time is not lost: it runs
  // when the event loop gets to it. A call from the interface thread runs at once.
  void eventSinkKeepsLateCalls() {
    TQtEventSink sink;
    int ran = 0;
    bool answered = true;
    std::thread engine([&] { answered = sink.Send([&ran] { ++ran; }, 50ms); });
    engine.join();  // this thread was not looking at its events meanwhile
    QVERIFY(!answered);
    QCOMPARE(ran, 0);
    sink.ProcessPending();
    QCOMPARE(ran, 1);
    QVERIFY(sink.Send([&ran] { ++ran; }, 0ms));
    QCOMPARE(ran, 2);
  }

  // ---- whole sessions through the simulated telephone line ----
  void lineClass1() { SendThroughLine(qn::sim::ModemKind::Class1, 1, QStringLiteral("Class 1")); }
  void lineClass2() { SendThroughLine(qn::sim::ModemKind::Class2, 2, QStringLiteral("Class 2")); }
  void lineClass2_0() { SendThroughLine(qn::sim::ModemKind::Class2_0, 3, QStringLiteral("Class 2.0")); }

  // The SIP account as the line: the record's SIP address is called directly
  // (no registrar), a qnfax receiver run by the test takes the call, and the
  // pages it stores are ours row for row; the Fax Status window names the line
  // and its media, and the outcome is recorded as on a modem.
  void sipLineSendsToQnfax() {
    const int rxPort = siptest::FreeUdpPort();
    const QString in = QString::fromStdString(home_) + QStringLiteral("sip-in");
    QVERIFY(QDir().mkpath(in));
    QProcess rx;
    rx.setProcessChannelMode(QProcess::MergedChannels);
    rx.start(qEnvironmentVariable("QN_BINARY_DIR") + QStringLiteral("/bin/qnfax"),
             {QStringLiteral("receive"), QStringLiteral("--dir"), in, QStringLiteral("--one"), QStringLiteral("--sip"),
              QStringLiteral("--user"), QStringLiteral("fax"), QStringLiteral("--domain"),
              QStringLiteral("127.0.0.1"), QStringLiteral("--registrar"), QStringLiteral("-"),
              QStringLiteral("--sip-local"), QStringLiteral("127.0.0.1"), QStringLiteral("--sip-port"),
              QString::number(rxPort), QStringLiteral("--media-ports"), QStringLiteral("0-0"),
              QStringLiteral("--trace"), in + QStringLiteral("/rx.trace")});
    QVERIFY(rx.waitForStarted());
    QTest::qWait(500);  // the receiver listens before anyone calls

    FaxSettings& s = Settings();
    s.SipLine = true;
    s.SipUser = "sender";
    s.SipDomain = "127.0.0.1";
    s.SipRegistrar = "-";
    s.SipPort = siptest::FreeUdpPort();
    s.SipMediaPortLow = s.SipMediaPortHigh = 0;
    const auto body = qn::sim::makeTestPages(2, 90, true, 42);
    WriteApf(SendFolder() + "FAX00000.APF", body);
    const std::string to = "fax@127.0.0.1:" + std::to_string(rxPort);
    AddRecord("FAX00000.APF", "", to);

    QStringList lines;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&lines] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* st = qobject_cast<TFeFaxStatus*>(w); st && st->isVisible()) {
          const QString line = st->Value(QStringLiteral("Line:")) + QLatin1Char('|') +
                               st->Value(QStringLiteral("Remote ID:"));
          if (lines.isEmpty() || lines.last() != line) lines << line;
        }
    });
    watch.start(50);
    const QStringList problems = SendAndClose(true);
    watch.stop();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    // The window's events keep running meanwhile, as they do in the program.
    QElapsedTimer waited;
    waited.start();
    while (rx.state() != QProcess::NotRunning && waited.elapsed() < 30000) QTest::qWait(50);
    const bool rxDone = rx.state() == QProcess::NotRunning;
    const QString rxOut = QString::fromLocal8Bit(rx.readAll());
    QFile rxTrace(in + QStringLiteral("/rx.trace"));
    if (!rxDone && rxTrace.open(QIODevice::ReadOnly)) qWarning("%s", rxTrace.readAll().right(6000).constData());
    QVERIFY2(rxDone, qPrintable(rxOut));
    QCOMPARE(rx.exitCode(), 0);

    table_.go(1);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("Sent"));
    const auto got = qntest::ReadApfPages(in.toStdString() + "/FAX0001.APF");
    QCOMPARE(got.size(), body.size());
    std::string why;
    for (size_t i = 0; i < body.size(); ++i) QVERIFY2(OurPage(got[i], body[i], &why), why.c_str());
    // The receiver heard our CNG and switched the call to T.38.
    QVERIFY2(lines.join(QLatin1Char(',')).contains(QStringLiteral("SIP account sender@127.0.0.1, T.38")),
             qPrintable(lines.join(QLatin1Char(','))));
    QString missing;
    const QStringList log = ReadLines(home_ + "Lastsend.log");
    QVERIFY2(InOrder(log,
                     {QStringLiteral("Start:"), QStringLiteral("Opening SIP line: sender@127.0.0.1"),
                      QStringLiteral("Registered with the SIP account"), QStringLiteral("Fax#: ") + QString::fromStdString(to),
                      QStringLiteral("Fax Class: "), QStringLiteral("StartTransmit"), QStringLiteral("Result: OK"),
                      QStringLiteral("Finish: ")},
                     &missing),
             qPrintable(missing + QStringLiteral(" missing from:\n") + log.join(QLatin1Char('\n')) + rxOut));
  }

  // The SIP line whose registrar does not answer: the error window says so in
  // plain words, and the record keeps the reason.
  void sipLineUnreachableRegistrar() {
    FaxSettings& s = Settings();
    s.SipLine = true;
    s.SipUser = "sender";
    s.SipDomain = "127.0.0.1";
    s.SipRegistrar = "127.0.0.1:" + std::to_string(siptest::FreeUdpPort());  // nobody there
    s.SipPort = siptest::FreeUdpPort();
    s.SipMediaPortLow = s.SipMediaPortHigh = 0;
    WriteApf(SendFolder() + "FAX00001.APF", qn::sim::makeTestPages(1, 30, true, 7));
    AddRecord("FAX00001.APF", "", "5551234");
    const QStringList errors = SendAndClose(false);
    QCOMPARE(errors.size(), 2);
    QCOMPARE(errors[0], QStringLiteral("Unable to Use the SIP Account"));
    QVERIFY2(errors[1].contains(QStringLiteral("The server is not reachable.")), qPrintable(errors[1]));
    table_.go(1);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("The server is not reachable."));
  }

  // ---- failures through the scripted modem ----

  // Busy twice with two attempts allowed; the serial trace is switched on with
  // Ctrl+Shift+Z and holds the session's marks and bytes.
  void busyWithRetriesAndTrace() {
    qnsim::ScriptedModem modem;
    DialWithReplies(modem, {"BUSY", "BUSY"});
    Settings().DialAttempts = 2;
    int redials = 0;
    const QStringList errors = SendAndClose(false, [&redials](TSendFaxForm* form) {
      QTest::keyClick(form->sfPhoneNumber, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
      auto* timer = new QTimer(form);
      QObject::connect(timer, &QTimer::timeout, form, [form, &redials] {
        if (form->FaxStatusWindow->Value(QStringLiteral("Status:")).startsWith(QLatin1String("Busy, waiting")))
          redials = 1;
      });
      timer->start(20);
    });
    QVERIFY(modem.WaitDone(5s));
    ExpectFailure(QString::fromStdString(fe::ErrorText(fe::ecFaxBusy)), errors);
    QCOMPARE(errors[0], QStringLiteral("Fax Failure"));
    QVERIFY(errors[1].contains(QLatin1String("Error message: Called fax number was busy")));
    QCOMPARE(redials, 1);
    const QStringList log = ReadLines(home_ + "Lastsend.log");
    QString missing;
    QVERIFY2(InOrder(log,
                     {"Start:", "Logging on", "Opening com port: COM3", "StartTransmit",
                      "Result: Called fax number was busy", "Finish: "},
                     &missing),
             qPrintable(missing));
    QFile trace(QString::fromStdString(home_ + "QNOUT.LOG"));
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QByteArray text = trace.readAll();
    for (const char* want : {" Mark Check_for_modem\r\n", " Out  41 54 0D ", " Mark Start_of_fax_session\r\n",
                             " Mark Phone_5551234\r\n", " Mark FaxClass_Class 1\r\n", " Mark Dialing\r\n",
                             "|ATDT5551234.|", "|..BUSY..|", " Mark Busy, waiting until redial...\r\n"})
      QVERIFY2(text.contains(want), want);
    QVERIFY(text.indexOf("Check_for_modem") < text.indexOf("Start_of_fax_session"));
    ExpectPortFree(modem.DevicePath());
  }

  // "C&lose" while the sender waits to redial: the user is asked, the fax is
  // cancelled at once (not after the wait), the window closes by itself, and the
  // record and Lastsend.log say so.
  void closeDuringSessionCancels() {
    qnsim::ScriptedModem modem;
    DialWithReplies(modem, {"BUSY"});
    Settings().RetryWait = 40;
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* form = qobject_cast<TSendFaxForm*>(w);
      QVERIFY(form);
      auto* timer = new QTimer(form);
      QObject::connect(timer, &QTimer::timeout, form, [form, timer] {
        if (form->FaxStatusWindow->Value(QStringLiteral("Status:")).startsWith(QLatin1String("Busy, waiting"))) {
          timer->stop();
          form->CloseButton->click();
        }
      });
      timer->start(20);
      form->SendFaxButton->click();
    });
    script.Answer(QMessageBox::Yes);
    QElapsedTimer took;
    took.start();
    QVERIFY(SendCurrentFax(nullptr, table_, {}));
    QVERIFY(script.Done());
    QVERIFY2(took.elapsed() < 20000, "the cancel waited for the redial");
    QCOMPARE(script.seen().size(), size_t(1));
    QCOMPARE(script.seen()[0].defaultButton, QMessageBox::No);
    table_.go(1);
    QCOMPARE(QString::fromStdString(table_.getTrimString("LASTRESULT")),
             QString::fromStdString(fe::ErrorText(fe::ecCancelRequested)));
    QString missing;
    QVERIFY2(
        InOrder(ReadLines(home_ + "Lastsend.log"), {"StartTransmit", "Result: Cancel requested", "Finish: "}, &missing),
        qPrintable(missing));
    ExpectPortFree(modem.DevicePath());
  }

  // A fax sent through a Class 2.0 modem is in its record as sent while "The fax
  // was sent successfully" is still on screen: a program that ends there (a
  // crash, the session's end) leaves no record inviting a second sending. Closing
  // the window writes the same outcome again.
  void sentIsRecordedBeforeTheWindowCloses() {
    qnsim::ScriptedModem modem;
    modem.Answer("AT");
    modem.Answer(kInit).Answer("AT+FCLASS=2.0").Answer("AT+FLI=\"5550100\"").Answer("AT+FLO=2");
    modem.Answer("AT+FNR=1,1,1,0").Answer("AT+FCC=1,5,0,2,0,0,0,0");
    modem.Expect("ATDT5551234").Reply("+FCO").Reply("+FIS:1,5,0,2,0,0,0,0").Reply("OK");
    modem.Expect("AT+FDT").Reply("+FCS:1,5,0,2,0,0,0,0").Reply("CONNECT").ExpectData(",;.");
    modem.Reply("+FPS:1").Reply("+FHS:00").Reply("OK");
    modem.Start();
    ScriptedRecord(modem);
    Settings().FaxClass = 3;

    QString whileShown, dateWhileShown, timeWhileShown;
    ModalScript script;
    script.Then([](QWidget* w) { qobject_cast<TSendFaxForm*>(w)->SendFaxButton->click(); });
    script.Then([&](QWidget* w) {
      // What another reader of the table finds at this moment.
      xb::Table reader;
      if (reader.open(ProgramFolder() + "QNOUT.DBF", xb::OpenMode::ReadOnly) == 0 && reader.go(1) == 0) {
        whileShown = QString::fromStdString(reader.getTrimString("LASTRESULT"));
        dateWhileShown = QString::fromStdString(reader.getDate("DATESENT"));
        timeWhileShown = QString::fromStdString(reader.getTrimString("TIMESENT"));
      }
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box);
      QCOMPARE(box->text(), QStringLiteral("The fax was sent successfully"));
      box->button(QMessageBox::Ok)->click();
    });
    // Send Fax Now once more: the window asks before the same fax goes twice,
    // and No opens nothing (the scripted modem would notice another session).
    script.Then([](QWidget* w) { qobject_cast<TSendFaxForm*>(w)->SendFaxButton->click(); });
    QString again;
    script.Then([&again](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box);
      again = box->text();
      QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
      box->button(QMessageBox::No)->click();
    });
    script.Then([](QWidget* w) { qobject_cast<TSendFaxForm*>(w)->CloseButton->click(); });
    QVERIFY(SendCurrentFax(nullptr, table_, {}));
    QVERIFY2(again.contains(QLatin1String("Send it again?")), qPrintable(again));
    QVERIFY(script.Done());
    QVERIFY2(modem.WaitDone(5s), modem.Report().c_str());
    QCOMPARE(whileShown, QStringLiteral("Sent"));
    QCOMPARE(dateWhileShown, QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    QCOMPARE(timeWhileShown.size(), 5);
    table_.go(1);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("Sent"));
    QCOMPARE(QString::fromStdString(table_.getTrimString("TIMESENT")), timeWhileShown);
    QCOMPARE(table_.getTrimString("PHONE"), std::string("5551234"));
    ExpectPortFree(modem.DevicePath());
  }

  // A record that cannot take the outcome (its table open read-only here) says
  // so to the user, once, with the table's reason, and keeps what it had.
  void outcomeThatCannotBeStoredIsShown() {
    AddRecord("FAX00001.APF", "", "5551234");
    WriteApf(SendFolder() + "FAX00001.APF", qn::sim::makeTestPages(1, 10, true, 7));
    table_.close();
    QVERIFY(records::OpenFaxDBF(table_, ProgramFolder(), records::kNotArchived, xb::OpenMode::ReadOnly));
    QVERIFY(table_.go(1) == 0);
    qputenv("QN_COM3", "/nonexistent/qn-no-modem");
    ModalScript script;
    QString portError;
    script.Then([](QWidget* w) { qobject_cast<TSendFaxForm*>(w)->SendFaxButton->click(); });
    script.Answer(QMessageBox::Ok);  // the record could not be written
    script.Then([&portError](QWidget* w) {
      auto* box = qobject_cast<TShowErrorForm*>(w);
      QVERIFY(box);
      portError = box->windowTitle();
      box->OkButton->click();
    });
    script.Then([](QWidget* w) { qobject_cast<TSendFaxForm*>(w)->CloseButton->click(); });
    QVERIFY(SendCurrentFax(nullptr, table_, {}));
    QVERIFY(script.Done());
    QVERIFY2(script.unexpected().isEmpty(), qPrintable(script.unexpected().join(',')));
    QCOMPARE(portError, QStringLiteral("Error Opening Communications Port"));
    QCOMPARE(script.seen().size(), size_t(1));  // not again when the window closed
    const QString said = script.seen()[0].text;
    QVERIFY2(said.contains(QLatin1String("could not be written into the fax's record")), qPrintable(said));
    QVERIFY2(said.contains(QLatin1String("Unable to open the specified communications port")), qPrintable(said));
    QVERIFY2(said.contains(QLatin1String("read-only")), qPrintable(said));
    QCOMPARE(table_.go(1), 0);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("Never sent"));
  }

  // A fax without a number (a printed fax nobody gave one) is refused before
  // the port is opened, with the number field ready for typing.
  void emptyNumberIsRefusedBeforeThePortOpens() {
    qnsim::ScriptedModem modem;  // expects nothing: any byte would be a fault
    modem.Start();
    ScriptedRecord(modem);
    table_.go(1);
    table_.setString("PHONE", "");
    QCOMPARE(table_.post(), 0);
    bool focused = false;
    ModalScript script;
    script.Then([](QWidget* w) {
      if (auto* form = qobject_cast<TSendFaxForm*>(w)) form->SendFaxButton->click();
    });
    script.Answer(QMessageBox::Ok);
    script.Then([&focused](QWidget* w) {
      if (auto* form = qobject_cast<TSendFaxForm*>(w)) {
        focused = form->focusWidget() == form->sfPhoneNumber;
        form->CloseButton->click();
      }
    });
    SendCurrentFax(nullptr, table_, {});
    QVERIFY(script.Done());
    bool told = false;
    for (const auto& seen : script.seen()) told = told || seen.text.contains(QStringLiteral("fax number"));
    QVERIFY2(told, "no message about the number");
    QVERIFY(focused);
    QVERIFY(modem.Received().empty());
    ExpectPortFree(modem.DevicePath());
    table_.go(1);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("Never sent"));
  }

  // The called number does not answer: the result is the engine's text for it.
  void noAnswer() {
    qnsim::ScriptedModem modem;
    DialWithReplies(modem, {"NO ANSWER"});
    Settings().DialAttempts = 1;
    ExpectFailure(QString::fromStdString(fe::ErrorText(fe::ecFaxBusy)), SendAndClose(false));
    QVERIFY(modem.WaitDone(5s));
    ExpectPortFree(modem.DevicePath());
  }

  // A modem that never answers "OK": the user stops at the error window, whose
  // Continue is offered; Ctrl+Shift+Z twice turns logging on and off again.
  void modemNeverSaysOk() {
    qnsim::ScriptedModem modem;  // silent
    ScriptedRecord(modem);
    ModalScript toggles;
    toggles.Answer(QMessageBox::Ok).Answer(QMessageBox::Ok);
    {
      TSendFaxForm form;
      form.show();
      QTest::keyClick(form.sfDialPrefix, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
      QVERIFY(form.Logging());
      QTest::keyClick(form.sfDialPrefix, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
      QVERIFY(!form.Logging());
    }
    QVERIFY(toggles.Done());
    QCOMPARE(toggles.seen().size(), size_t(2));
    QVERIFY(toggles.seen()[0].text.contains(QLatin1String("Logging is now ON")));
    QCOMPARE(toggles.seen()[1].text, QStringLiteral("Logging is now OFF"));

    ModalScript script;
    bool continueOffered = false;
    QString solverPage;
    script.Then([](QWidget* w) { qobject_cast<TSendFaxForm*>(w)->SendFaxButton->click(); });
    script.Then([&continueOffered, &solverPage](QWidget* w) {
      auto* box = qobject_cast<TShowErrorForm*>(w);
      QVERIFY(box);
      QCOMPARE(box->windowTitle(), QStringLiteral("No Response From Modem"));
      continueOffered = box->ContinueButton->isVisible();
      // The problem solver opens on the page about a modem that does not answer.
      box->ProblemSolverButton->click();
      auto* browser = HelpWindow() ? HelpWindow()->findChild<QTextBrowser*>() : nullptr;
      solverPage = browser ? QFileInfo(browser->source().toLocalFile()).fileName() : QString();
      box->OkButton->click();
    });
    script.Then([](QWidget* w) { qobject_cast<TSendFaxForm*>(w)->CloseButton->click(); });
    QVERIFY(SendCurrentFax(nullptr, table_, {}));
    QVERIFY(script.Done());
    QVERIFY(continueOffered);
    QCOMPARE(solverPage, QStringLiteral("error4006.html"));
    table_.go(1);
    QCOMPARE(table_.getTrimString("LASTRESULT"), std::string("No response from modem on COM3"));
    QString missing;
    QVERIFY2(InOrder(ReadLines(home_ + "Lastsend.log"),
                     {"Checking for modem", "Error checking for modem", "Exit", "Finish: "}, &missing),
             qPrintable(missing));
    QVERIFY(!QFile::exists(QString::fromStdString(home_ + "QNOUT.LOG")));
    ExpectPortFree(modem.DevicePath());
  }

  // The device goes away in the middle of a page: the fax failed mid-session,
  // and the port the window held is released (a new open finds no device,
  // instead of finding it still open here).
  void deviceVanishesMidPage() {
    qnsim::ScriptedModem modem;
    Class1Prep(modem);
    std::vector<uint8_t> csi = {0xFF, 0x03, fe::t30::fcfCSI};
    const auto id = fe::t30::EncodeId("REMOTE");
    csi.insert(csi.end(), id.begin(), id.end());
    // DIS: V.27ter and V.29, fine, 20 ms scan lines.
    const std::string dis = Frame({0xFF, 0x13, fe::t30::fcfDIS, 0x00, 0x02 | 0x04 | 0x08 | 0x40, 0x08});
    modem.Expect("ATDT5551234").Reply("CONNECT").Frame(Frame(csi)).Reply("OK");
    modem.Answer("AT+FRH=3", "CONNECT").Frame(dis).Reply("OK");
    modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("CONNECT").ExpectData().Reply("OK");
    modem.Answer("AT+FTM=96", "CONNECT").ExpectData().Reply("OK");
    modem.Answer("AT+FRH=3", "CONNECT").Frame(Frame({0xFF, 0x13, fe::t30::fcfCFR})).Reply("OK");
    modem.Answer("AT+FTM=96", "CONNECT").ExpectBytes(200).HangUp();
    modem.Start();
    ScriptedRecord(modem, 400);
    ExpectFailure(QString::fromStdString(fe::ErrorText(fe::ecFaxSessionError)), SendAndClose(false));
    QVERIFY2(modem.WaitDone(5s), modem.Report().c_str());
    TFaxSessionPort again;
    QCOMPARE(again.Open(modem.DevicePath()), -fe::ecBadId);
  }
};

QTEST_MAIN(SendWindowTest)
#include "send_window_test.moc"
