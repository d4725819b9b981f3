// Receive mode driven through the main window as a user drives it: the receive
// button and menu, the notification window, the close query; faxes from a
// spandsp terminal through the virtual Class 1, 2 and 2.0 modems of
// faxmodem-sim, and failures through the scripted modem. Every case ends with
// the tables consistent (qnfax db check) and the port free for anyone else.
#include "sessions/receive_mode.h"

#include <sys/resource.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <csignal>
#include <fstream>
#include <random>

#include "apf_pages.h"
#include "apf_reader.h"
#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "app/main/receive_hooks.h"
#include "common/fax_names.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "common/print_options.h"
#include "fax_pages.h"
#include "fe_errors.h"
#include "fe_texts.h"
#include "mh_codec.h"
#include "modal_script.h"
#include "qnfax_run.h"
#include "records/record_tables.h"
#include "records/ui/record_grid.h"
#include "scripted_modem.h"
#include "sessions/error_box.h"
#include "sessions/fax_port.h"
#include "sessions/settings.h"
#include "sessions/starting_fax_form.h"
#include "sim_harness.h"
#include "sipp_peer.h"
#include "t30.h"

using namespace qn;
using namespace std::chrono_literals;
using qntest::ModalScript;

namespace {

QStringList ReadLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QString text = QString::fromLocal8Bit(f.readAll());
  if (text.endsWith(QLatin1String("\r\n"))) text.chop(2);
  return text.split(QStringLiteral("\r\n"));
}

// Each expected prefix starts a line, in this order (other lines may sit between).
QString MissingInOrder(const QStringList& lines, const QStringList& prefixes) {
  int at = 0;
  for (const QString& p : prefixes) {
    while (at < lines.size() && !lines[at].startsWith(p)) ++at;
    if (at == lines.size()) return p + QStringLiteral(" missing from:\n") + lines.join(QLatin1Char('\n'));
    ++at;
  }
  return {};
}

// Coded page data as a Class 2 modem hands it over: lines, RTC, DLE doubled, DLE ETX.
std::string StuffedPage(int lines, unsigned seed) {
  std::mt19937 rng(seed);
  std::string raw;
  std::vector<std::uint8_t> line(216), coded(fe::kMaxCodedLine);
  for (int y = 0; y < lines; ++y) {
    std::fill(line.begin(), line.end(), 0);
    for (int k = 0; k < 4; ++k) {
      const unsigned x0 = rng() % 1728, len = 1 + rng() % 300;
      for (unsigned x = x0; x < std::min(1728u, x0 + len); ++x) line[x / 8] |= 0x80 >> (x % 8);
    }
    raw.append(reinterpret_cast<const char*>(coded.data()),
               fe::MhEncodeLine(line.data(), 1728, 1728, false, coded.data()));
  }
  raw.append(reinterpret_cast<const char*>(coded.data()), fe::MhEncodeRtc(coded.data()));
  std::string s;
  for (char c : raw) {
    s += c;
    if (c == '\x10') s += c;
  }
  return s + "\x10\x03";
}

// The scripted Class 2 modem's preparation and reset for station "QUILLON RX".
void Class2Prep(qnsim::ScriptedModem& m) {
  m.Answer("AT")
      .Answer("ATE0Q0V1X4S0=0S2=43")
      .Answer("AT+FCLASS=2")
      .Answer("AT+FCR=1")
      .Answer("AT+FLID=\"QUILLON RX\"")
      .Answer("AT+FAA=0");
}
void Class2Reset(qnsim::ScriptedModem& m) {
  m.Answer("AT+FCLASS=2").Answer("AT+FDCC=1,3,0,2,0,0,0,0");
}
// A call from `id` up to the first page's data.
void Class2Call(qnsim::ScriptedModem& m, const std::string& id) {
  m.Ring(1)
      .Expect("ATA")
      .Reply("+FCON")
      .Reply("+FTSI:\"" + id + "\"")
      .Reply("+FDCS:0,3,0,2,0,0,0,0")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply("CONNECT")
      .ExpectByte('\x12');
}

// The scripted Class 1 modem's preparation and reset.
void Class1Prep(qnsim::ScriptedModem& m) {
  m.Answer("AT")
      .Answer("ATE0Q0V1X4S0=0S2=43")
      .Answer("AT+FCLASS=1")
      .Expect("AT+FTM=?")
      .Reply("24,48,72,96")
      .Reply("OK")
      .Expect("AT+FRM=?")
      .Reply("24,48,72,96")
      .Reply("OK")
      .Answer("AT+FCLASS=1");
}
// An HDLC frame as the modem hands it over after "AT+FRH=3".
std::string Hdlc(std::uint8_t fcf, const std::vector<std::uint8_t>& fif = {}, bool final = true) {
  std::string s = {'\xff', final ? '\x13' : '\x03', static_cast<char>(fcf | 1)};
  s.append(fif.begin(), fif.end());
  return s + "\x5a\xa5";
}

// Another program holding the device: an open descriptor with an exclusive lock.
struct Holder {
  QProcess p;
  explicit Holder(const std::string& device) {
    p.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                        QStringLiteral("import fcntl, os, sys, time\n"
                                                       "fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)\n"
                                                       "fcntl.flock(fd, fcntl.LOCK_EX)\n"
                                                       "print('held', flush=True)\n"
                                                       "time.sleep(60)\n"),
                                        QString::fromStdString(device)});
    p.waitForReadyRead(10000);
  }
  ~Holder() {
    p.kill();
    p.waitForFinished();
  }
};

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return 0;
}

}  // namespace

class ReceiveModeTest : public QObject {
  Q_OBJECT
  QString home_;
  int sounds_ = 0;

  std::unique_ptr<TMainScreen> Start() {
    auto w = std::make_unique<TMainScreen>();
    QSignalSpy done(w.get(), &TMainScreen::FirstActivationDone);
    w->show();
    if (done.isEmpty()) done.wait(20000);
    return w;
  }

  void PrepareIni(const std::function<void(IniFile&)>& more = {}) {
    IniFile ini((home_ + "QN.INI").toStdString());
    ini.WriteInteger("Modem", "ComPort", 2);  // COM3
    ini.WriteString("User", "Fax", "QUILLON RX");
    ini.WriteString("Receive", "Wav", (home_ + "ring.wav").toStdString());
    if (more) more(ini);
    QVERIFY(ini.Flush());
    QFile wav(home_ + "ring.wav");
    QVERIFY(wav.open(QIODevice::WriteOnly));
    wav.write("RIFF");
  }

  // The error window's caption and text go to *seen; it is closed with OK.
  static ModalScript::Step RecordErrorBox(QStringList* seen) {
    return [seen](QWidget* wd) {
      if (auto* box = qobject_cast<TShowErrorForm*>(wd)) {
        *seen << box->windowTitle() << box->Memo1->toPlainText();
        box->OkButton->click();
      }
    };
  }

  // The main window with COM3 on the scripted Class 2 modem (its script started).
  std::unique_ptr<TMainScreen> StartOnClass2(qnsim::ScriptedModem& modem) {
    modem.Start();
    qputenv("QN_COM3", QByteArray::fromStdString(modem.DevicePath()));
    PrepareIni([](IniFile& ini) { ini.WriteInteger("Modem", "FaxClassReceive", 2); });
    return Start();
  }

  // Closes the window; the tables must pass the index check afterwards.
  void CloseAndCheck(std::unique_ptr<TMainScreen>& w) {
    ModalScript stop;  // receive mode still on: Exit asks first
    if (w->InReceiveMode && !w->ReceivingNow) stop.Answer(QMessageBox::Yes);
    w->close();
    if (w->InReceiveMode) QVERIFY(stop.Done());
    w.reset();
    for (const char* table : {"QNREC.DBF", "QNOUT.DBF"}) {
      const auto r = qntest::Qnfax("db check " + (home_ + table).toStdString());
      QVERIFY2(r.status == 0, r.out.c_str());
    }
  }

  static void ExpectPortFree(const std::string& device) {
    TFaxSessionPort again;
    QCOMPARE(again.Open(device), 0);
  }

  // Clicks the receive button; the scripted error window gets OK (or Continue).
  QStringList ClickReceiveExpectingError(TMainScreen& w, bool pressContinue = false) {
    ModalScript script;
    QStringList seen;
    script.Then([&seen, pressContinue](QWidget* wd) {
      auto* box = qobject_cast<TShowErrorForm*>(wd);
      if (!box) {
        seen << QStringLiteral("unexpected ") + wd->metaObject()->className();
        wd->close();
        return;
      }
      seen << box->windowTitle() << box->Memo1->toPlainText();
      seen << (box->ContinueButton->isVisible() ? QStringLiteral("continue offered") : QString());
      (pressContinue ? box->ContinueButton : box->OkButton)->click();
    });
    w.ReceiveButton->click();
    if (!script.Done()) seen << QStringLiteral("no error window");
    return seen;
  }

  void ExpectOff(TMainScreen& w) {
    QVERIFY(!w.InReceiveMode);
    QVERIFY(!w.ReceivingNow);
    // The captions get their mnemonic back with the mode's end.
    QCOMPARE(w.ReceiveButton->text(), QStringLiteral("&Receive"));
    QCOMPARE(w.ReceiveButton->toolTip(), QStringLiteral("Start receiving faxes"));
    QCOMPARE(w.mnuReceive->text(), QStringLiteral("&Receive Faxes"));
    QVERIFY(!ReceiveModeOf(w).Notification()->isVisible());
  }

  // A fax through the simulator: waits for the mode to store `count` faxes.
  static bool WaitForFaxes(QSignalSpy& stored, int count, std::chrono::seconds limit) {
    QElapsedTimer t;
    t.start();
    while (stored.count() < count && t.elapsed() < std::chrono::milliseconds(limit).count()) QTest::qWait(100);
    return stored.count() >= count;
  }

  // Waits (with the event loop running) until the simulator has reported
  // `count` events starting with prefix, then for the receiver to wait again.
  static bool WaitForSimEvent(const qn::sim::FaxModemSim& sim, const std::string& prefix, int count = 1) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 30000) {
      int seen = 0;
      for (const std::string& e : sim.events()) seen += e.rfind(prefix, 0) == 0;
      if (seen >= count) {
        QTest::qWait(1500);  // the receiver hangs up and resets the modem
        return true;
      }
      QTest::qWait(100);
    }
    return false;
  }

  // Three faxes in a row from three terminals through one virtual modem.
  void ThreeFaxesThrough(qn::sim::ModemKind kind, int faxClass) {
    qn::sim::FaxModemSim sim;
    const std::vector<std::pair<std::string, std::vector<qn::sim::RasterPage>>> senders = {
        {"ALPHA", qn::sim::makeTestPages(1, 60, false, 11)},
        {"BRAVO TRADING", qn::sim::makeTestPages(2, 50, false, 12)},
        {"CHARLIE", qn::sim::makeTestPages(1, 70, true, 13)}};
    for (size_t i = 0; i < senders.size(); ++i) {
      const std::string tif = sim.workDir() + "/send" + std::to_string(i) + ".tif";
      QVERIFY(qn::sim::writeTiff(tif, senders[i].second));
      sim.addArgs({"--terminal", "send:20" + std::to_string(i) + ":" + tif + ":ident=" + senders[i].first});
    }
    sim.addModem(kind, "100");
    sim.addArgs({"--ring-period", "1000"});
    QVERIFY2(sim.start(), sim.error().c_str());
    sim.pointComPort(3, "100");
    PrepareIni([&](IniFile& ini) {
      ini.WriteInteger("Modem", "FaxClassReceive", faxClass);
      ini.WriteInteger("Modem", "MaximumBPSReceive", 14400);
      ini.WriteBool("Receive", "PrintOnReceipt", true);
    });
    auto w = Start();
    QDir().mkpath(home_ + "print");
    w->Printer()->setOutputFormat(QPrinter::PdfFormat);
    w->Printer()->setOutputFileName(home_ + "print/chosen.pdf");
    SharedPrintOptions().Footer = false;
    SavePrintOptions();
    TReceiveMode& mode = ReceiveModeOf(*w);
    QSignalSpy stored(&mode, &TReceiveMode::FaxStored);
    w->ReceiveButton->click();
    QVERIFY(w->InReceiveMode);
    QCOMPARE(w->ReceiveButton->text(), QStringLiteral("STOP"));
    for (size_t i = 0; i < senders.size(); ++i) {
      QVERIFY(sim.call("20" + std::to_string(i), "100"));
      QVERIFY2(WaitForFaxes(stored, static_cast<int>(i) + 1, 90s),
               qPrintable(QStringLiteral("fax %1, ").arg(i + 1) + QString::fromStdString(sim.logFile())));
      QVERIFY(stored.last().at(1).toBool());
      QVERIFY(WaitForSimEvent(sim, "result 20" + std::to_string(i) + " 0 "));
    }
    QTest::qWait(300);  // the sound requests are queued behind the last fax
    QCOMPARE(sounds_, 3);
    QVERIFY(w->RecFaxGrid->isVisible());
    w->ReceiveButton->click();
    ExpectOff(*w);
    ExpectPortFree(sim.device("100"));

    // The records, the stored files and their printouts.
    QCOMPARE(w->RecTable.recCount(), 3u);
    for (size_t i = 0; i < senders.size(); ++i) {
      QCOMPARE(w->RecTable.go(static_cast<uint32_t>(i + 1)), 0);
      const auto& want = senders[i].second;
      QCOMPARE(w->RecTable.getTrimString("FROM"), senders[i].first);
      QCOMPARE(static_cast<size_t>(w->RecTable.getNumber("PAGES")), want.size());
      QCOMPARE(w->RecTable.getDate("DATEREC"), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
      QCOMPARE(w->RecTable.getTrimString("TIMEREC").size(), size_t(5));
      const std::string file = w->RecTable.getTrimString("FAXFILE");
      QCOMPARE(file, "FAX000" + std::to_string(i + 1) + ".APF");
      const auto got = qntest::ReadApfPages(ReceiveFolder() + file);
      QCOMPARE(got.size(), want.size());
      for (size_t p = 0; p < want.size(); ++p) {
        std::string why;
        QVERIFY2(qn::sim::samePage(want[p], got[p], &why), why.c_str());
      }
      const QString pdf = home_ + "print/FAX000" + QString::number(i + 1) + ".pdf";
      QProcess ppm;
      ppm.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("10"), QStringLiteral("-png"), pdf,
                                             home_ + "print/p" + QString::number(i)});
      QVERIFY(ppm.waitForFinished(20000) && ppm.exitCode() == 0);
      QCOMPARE(QDir(home_ + "print").entryList({QStringLiteral("p%1-*.png").arg(i)}).size(),
               static_cast<int>(want.size()));
      QProcess text;
      text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
      QVERIFY(text.waitForFinished(20000));
      const QString printed = QString::fromUtf8(text.readAllStandardOutput());
      QVERIFY2(printed.contains(QStringLiteral("From: ") + QString::fromStdString(senders[i].first)),
               qPrintable(printed));
      QVERIFY(!printed.contains(QLatin1String("Page: ")));
    }

    const QStringList log = ReadLines(home_ + "Lastrec.log");
    QString fax2 = ReceivedLogLine(QStringLiteral("BRAVO TRADING"), 2);
    const QString missing = MissingInOrder(
        log, {QStringLiteral("Start:"), QStringLiteral("Opening com port: COM3"), QStringLiteral("Opened com port OK"),
              QStringLiteral("Checking for modem"), QStringLiteral("Desired BPS: 14400"),
              QStringLiteral("Fax Class: ") + QString::fromStdString(FaxClassName(faxClass)),
              QStringLiteral("User INIT String: "), QStringLiteral("StartReceive"), QStringLiteral("Receiving a fax"),
              QStringLiteral("Received OK   From: ALPHA\t  Pages: 1"), QStringLiteral("Receiving a fax"), fax2,
              QStringLiteral("Receiving a fax"), QStringLiteral("Received OK   From: CHARLIE\t  Pages: 1"),
              QStringLiteral("Stopped receive mode"), QStringLiteral("Finish: ")});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    QVERIFY(log.last().startsWith(QLatin1String("Finish: ")));
    CloseAndCheck(w);
    QVERIFY(sim.stop());
  }

 private slots:
  void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); }

  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    Hooks() = MainHooks{};
    InstallReceiveHooks();
    Settings() = FaxSettings{};
    sounds_ = 0;
    SoundPlayer() = [this](const QString&) { ++sounds_; };
    // Tables with their current layout, so no rebuild runs at the first start.
    QDir().mkpath(home_ + "Receive");
    const auto made = qntest::Qnfax("db init " + home_.toStdString());
    QVERIFY2(made.status == 0, made.out.c_str());
  }
  void cleanup() { qunsetenv("QN_COM3"); }

  // ---- texts the mode shows and logs ----
  void texts() {
    QCOMPARE(ReceiveStatusText(QStringLiteral("Getting page data"), QStringLiteral("ABC"), 2, 1234),
             QStringLiteral("Receiving fax from: ABC, page 2 (1234 bytes)"));
    QCOMPARE(ReceiveStatusText(QStringLiteral("Getting page data"), QString(), 2, 1234),
             QStringLiteral("Receiving fax"));
    QCOMPARE(ReceiveStatusText(QStringLiteral(" Got class 2 FHNG code "), QString(), 0, 0),
             QStringLiteral("Hangup successful"));
    QCOMPARE(ReceiveStatusText(QStringLiteral("User aBoRt"), QStringLiteral("X"), 0, 0), QString());
    QCOMPARE(ReceiveStatusText(QStringLiteral("Waiting for incoming call"), QStringLiteral("  X  "), 3, 9),
             QStringLiteral("Waiting for incoming call from: X"));
    // A 30-character id: its first 20 characters, the tab, the label without its last blank.
    const QString id = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    QCOMPARE(ReceivedLogLine(id, 3), QStringLiteral("Received OK   From: ABCDEFGHIJKLMNOPQRST\t  Pages:3"));
    QCOMPARE(ReceivedLogLine(QStringLiteral("ABC"), 12), QStringLiteral("Received OK   From: ABC\t  Pages: 12"));
    // Pages kept with damage: the NOTES text and a log line that does not say OK.
    QCOMPARE(DamageNote({}), QString());
    const QString note = DamageNote({{2, 34, false}, {3, 0, true}});
    QCOMPARE(note, QStringLiteral("page 2: 34 bad lines; page 3: incomplete"));
    QCOMPARE(ReceivedDamagedLogLine(QStringLiteral("ABC"), 3, note),
             QStringLiteral("Received DAMAGED From: ABC\t  Pages: 3  (page 2: 34 bad lines; page 3: incomplete)"));
    const QString header = PrintOnReceiptHeader(QStringLiteral(" ACME "), QStringLiteral("FAX0007.APF"));
    QVERIFY(header.startsWith(QLatin1String("From: ACME             Received: ")));
    QVERIFY(header.endsWith(QLatin1String("             Fax File:        ") +
                            (home_ + QStringLiteral("receive/fax0007.apf")).toLower()));
    QCOMPARE(TReceiveMode::PdfForFax(QStringLiteral("/tmp/x/out.pdf"), QStringLiteral("/h/Receive/FAX0002.APF")),
             QStringLiteral("/tmp/x/FAX0002.pdf"));
  }

  // ---- the notification window on its own ----
  void notificationWindow() {
    TStartingFaxForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Starting Receive mode..."));
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
    form.SetStarting();
    form.show();
    QVERIFY(form.StartingPanel->isVisible() && !form.ReadyPanel->isVisible() && !form.OkButton->isVisible());
    QVERIFY(form.HideTimer->isActive());
    QCOMPARE(form.HideTimer->interval(), 15000);
    form.SetReady();
    QVERIFY(!form.StartingPanel->isVisible() && form.ReadyPanel->isVisible() && form.DontShowBox->isVisible());
    form.DontShowBox->click();
    QVERIFY(Settings().DisableReceivingFaxesNotification);
    form.OkButton->click();
    QVERIFY(!form.isVisible() && !form.HideTimer->isActive());
    form.HideTimer->setInterval(50);
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 2000);
  }

  // ---- start and stop through a scripted modem: captions, guard, log, keys ----
  void startStopAndGuards() {
    qnsim::ScriptedModem modem;
    Class2Prep(modem);
    Class2Reset(modem);
    auto w = StartOnClass2(modem);
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QVERIFY(w->OutgoingPageShown());
    // Ctrl+Shift+Z before the start: the trace of this session goes to QNIN.LOG.
    ModalScript keys;
    keys.Answer(QMessageBox::Ok);
    QTest::keyClick(w->FaxGrid, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(keys.Done());
    QVERIFY(w->ReceiveLogging);
    QVERIFY(keys.seen()[0].text.contains(QLatin1String("as QNIN.LOG")));

    w->mnuReceive->trigger();
    QVERIFY(w->InReceiveMode);
    QVERIFY(!w->OutgoingPageShown());
    QCOMPARE(w->ReceiveButton->text(), QStringLiteral("STOP"));
    QCOMPARE(w->ReceiveButton->toolTip(), QStringLiteral("Stop receiving faxes"));
    QCOMPARE(w->mnuReceive->text(), QStringLiteral("Stop &Receiving Faxes"));
    // The mode's own text, or the receiver's first status if it came after it.
    const QString waiting = w->statusBar()->currentMessage();
    QVERIFY2(waiting == QLatin1String("Waiting for fax...") || waiting == QLatin1String("Waiting for incoming call"),
             qPrintable(waiting));
    TStartingFaxForm* note = ReceiveModeOf(*w).Notification();
    QVERIFY(note->isVisible() && note->Ready());
    QVERIFY(modem.WaitDone(10s));

    // Commands that need the modem or change shared files are refused.
    ModalScript guard;
    guard.Answer(QMessageBox::Ok);
    w->mnuPreferences->trigger();
    QVERIFY(guard.Done());
    QVERIFY(guard.seen()[0].text.startsWith(QLatin1String("You are in Fax Receive mode.")));

    // The modem is the mode's: Send shows that it cannot be used, on the list's
    // own page too.
    QCOMPARE(w->FaxTable.appendBlank(), 0);
    w->FaxTable.setString("SUBJECT", "Waiting to go");
    QCOMPARE(w->FaxTable.post(), 0);
    w->FaxGrid->Refresh();
    w->ShowPage(true);
    QVERIFY(w->FaxGrid->HasCurrent());
    QVERIFY(!w->SendButton->isEnabled());
    QVERIFY(!w->mnuSend->isEnabled());
    w->ShowPage(false);
    // Exit while waiting for faxes asks first; No keeps the window and the mode.
    ModalScript stay;
    stay.Answer(QMessageBox::No);
    w->Exitbutton->click();
    QVERIFY(stay.Done());
    QCOMPARE(stay.seen()[0].caption, QStringLiteral("Exit"));
    QVERIFY(stay.seen()[0].text.contains(QLatin1String("Stop receiving and exit?")));
    QVERIFY(w->isVisible() && w->InReceiveMode);

    w->ReceiveButton->click();
    ExpectOff(*w);
    QCOMPARE(w->statusBar()->currentMessage(), QString());
    ExpectPortFree(modem.DevicePath());
    const QString missing = MissingInOrder(ReadLines(home_ + "Lastrec.log"),
                                           {"Start:", "Logging on", "Opening com port: COM3", "Opened com port OK",
                                            "Checking for modem", "Desired BPS: 9600", "Fax Class: Class 2",
                                            "User INIT String: ", "StartReceive", "Stopped receive mode", "Finish: "});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    QFile trace(home_ + "QNIN.LOG");
    QVERIFY(trace.open(QIODevice::ReadOnly));
    QVERIFY(trace.readAll().contains(" Mark Waiting for incoming call"));
    CloseAndCheck(w);
  }

  // ---- receive at start-up, notification switched off ----
  void startsAtStartupWithoutNotification() {
    qnsim::ScriptedModem modem;
    Class2Prep(modem);
    Class2Reset(modem);
    modem.Start();
    qputenv("QN_COM3", QByteArray::fromStdString(modem.DevicePath()));
    PrepareIni([](IniFile& ini) {
      ini.WriteInteger("Modem", "FaxClassReceive", 2);
      ini.WriteBool("Receive", "AtStartup", true);
      ini.WriteBool("Receive", "DisableReceivingFaxesNotification", true);
    });
    bool shown = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&shown] {
      for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<TStartingFaxForm*>(top) && top->isVisible()) shown = true;
    });
    watch.start(5);
    auto w = Start();
    QVERIFY(w->InReceiveMode);
    QCOMPARE(w->ReceiveButton->text(), QStringLiteral("STOP"));
    QVERIFY(!shown);
    // Closing while waiting (no fax coming in) asks nothing and lets the port go.
    ModalScript none;
    CloseAndCheck(w);
    QVERIFY(none.Done());
    ExpectPortFree(modem.DevicePath());
    QVERIFY(MissingInOrder(ReadLines(home_ + "Lastrec.log"), {"StartReceive", "Stopped receive mode"}).isEmpty());
  }

  // ---- the port missing, the port held by another program ----
  void portMissingOrHeld() {
    PrepareIni();
    qputenv("QN_COM3", QByteArray((home_ + "no-such-modem").toLocal8Bit()));
    auto w = Start();
    QStringList seen = ClickReceiveExpectingError(*w);
    QCOMPARE(seen.value(0), QStringLiteral("Error Opening Communications Port"));
    QVERIFY(seen.value(1).startsWith(QLatin1String("Unable to open the specified communications port ( Com3 )")));
    ExpectOff(*w);
    QString missing = MissingInOrder(ReadLines(home_ + "Lastrec.log"),
                                     {"Start:", "Opening com port: COM3", "Error opening com port: COM3",
                                      "Message:Unable to open", "Error...", "Finish: "});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));

    qnsim::ScriptedModem modem;
    modem.Start();
    qputenv("QN_COM3", QByteArray::fromStdString(modem.DevicePath()));
    {
      Holder other(modem.DevicePath());
      seen = ClickReceiveExpectingError(*w);
    }
    QCOMPARE(seen.value(0), QStringLiteral("Error Opening Communications Port"));
    QVERIFY2(seen.value(1).startsWith(QLatin1String("The communications port is in use ( Com 3 )")),
             qPrintable(seen.value(1)));
    QVERIFY2(seen.value(1).contains(QLatin1String("held by python3")), qPrintable(seen.value(1)));
    ExpectOff(*w);
    ExpectPortFree(modem.DevicePath());
    CloseAndCheck(w);
  }

  // ---- a modem that says nothing: stop at the error window, or Continue ----
  void noModemAnswer() {
    qnsim::ScriptedModem modem;  // silent
    modem.Start();
    qputenv("QN_COM3", QByteArray::fromStdString(modem.DevicePath()));
    PrepareIni([](IniFile& ini) { ini.WriteInteger("Modem", "FaxClassReceive", 1); });
    auto w = Start();
    QStringList seen = ClickReceiveExpectingError(*w);
    QCOMPARE(seen.value(0), QStringLiteral("No Response From Modem"));
    QCOMPARE(seen.value(2), QStringLiteral("continue offered"));
    ExpectOff(*w);
    QString missing =
        MissingInOrder(ReadLines(home_ + "Lastrec.log"),
                       {"Checking for modem", "Error checking for modem", "Exit", "Finish: ", "Error...", "Finish: "});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    ExpectPortFree(modem.DevicePath());

    // Continue: the receiver cannot prepare the modem either, and the mode stays off.
    seen = ClickReceiveExpectingError(*w, true);
    QCOMPARE(seen.value(0), QStringLiteral("No Response From Modem"));
    ExpectOff(*w);
    missing = MissingInOrder(
        ReadLines(home_ + "Lastrec.log"),
        {"Error checking for modem", "StartReceive", "Message:Bad response from modem", "Error...", "Finish: "});
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
    ExpectPortFree(modem.DevicePath());
    CloseAndCheck(w);
  }

  // ---- the caller hangs up after the first page: the page is kept ----
  void callDroppedMidFax() {
    qnsim::ScriptedModem modem;
    modem.SetExpectTimeout(20s);
    Class2Prep(modem);
    Class2Reset(modem);
    Class2Call(modem, "DROPPER");
    modem.Send(StuffedPage(30, 5))
        .Reply("+FPTS:1")
        .Reply("+FET:0")
        .Reply("OK")
        .Expect("AT+FDR")
        .Reply("+FHNG:50")
        .Reply("ERROR")
        .ExpectPrefix("+++")
        .Reply("OK");  // what the receiver says to the modem afterwards does not matter here
    auto w = StartOnClass2(modem);
    TReceiveMode& mode = ReceiveModeOf(*w);
    QSignalSpy stored(&mode, &TReceiveMode::FaxStored);
    QStringList seen;
    ModalScript script;
    script.Then(RecordErrorBox(&seen));
    w->ReceiveButton->click();
    QVERIFY(w->InReceiveMode);
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 30000);
    QVERIFY2(modem.WaitDone(10s), modem.Report().c_str());
    QCOMPARE(seen.value(0), QStringLiteral("Failed To Receive Incoming Fax"));
    QVERIFY(seen.value(1).startsWith(QLatin1String("Quillon failed to receive an incoming fax.")));
    QCOMPARE(stored.count(), 1);
    QVERIFY(!stored[0][1].toBool());
    QVERIFY(w->InReceiveMode);  // the mode goes on with the next call
    QVERIFY(!w->ReceivingNow);
    QCOMPARE(sounds_, 0);
    w->ReceiveButton->click();
    ExpectOff(*w);
    ExpectPortFree(modem.DevicePath());
    QCOMPARE(w->RecTable.go(1), 0);
    QCOMPARE(w->RecTable.getTrimString("FROM"), std::string("DROPPER"));
    QCOMPARE(w->RecTable.getNumber("PAGES"), 1.0);
    QVERIFY(QString::fromStdString(w->RecTable.getTrimString("NOTES")).startsWith(QLatin1String("Partly received: ")));
    QCOMPARE(fe::ValidateApfFile(ReceiveFolder() + w->RecTable.getTrimString("FAXFILE")), 0);
    QVERIFY(MissingInOrder(ReadLines(home_ + "Lastrec.log"),
                           {"Receiving a fax", "Receive Failed with error: ",
                            "Kept the 1 page(s) received in FAX0001.APF", "Stopped receive mode"})
                .isEmpty());
    CloseAndCheck(w);
  }

  // ---- a Class 1 call accepted at its DCS that ends before CFR: "receiving" ends ----
  void acceptedClass1CallEndsBeforeTraining() {
    qnsim::ScriptedModem modem;
    modem.SetExpectTimeout(20s);
    Class1Prep(modem);
    fe::t30::DcsParams dcs;
    dcs.bps = 9600;
    const std::string tcf = std::string(1000, '\xff') + "\x10\x03";  // a training check full of errors
    modem.Ring(1)
        .Expect("ATA")
        .Reply("CONNECT")
        .ExpectData()  // CSI
        .Reply("CONNECT")
        .ExpectData()  // DIS
        .Reply("OK")
        .Expect("AT+FRH=3")
        .Reply("CONNECT")
        .Frame(Hdlc(fe::t30::fcfTSI, fe::t30::EncodeId("QUITTER"), false))
        .Reply("OK")
        .Expect("AT+FRH=3")
        .Reply("CONNECT")
        .Frame(Hdlc(fe::t30::fcfDCS, fe::t30::BuildDcs(dcs)))
        .Reply("OK")
        .Expect("AT+FRM=96")
        .Reply("CONNECT")
        .Send(tcf)
        .Reply("NO CARRIER")
        .Expect("AT+FTH=3")
        .Reply("CONNECT")
        .ExpectData()  // FTT
        .Reply("OK")
        .Expect("AT+FRH=3")
        .Reply("CONNECT")
        .Frame(Hdlc(fe::t30::fcfDCN))
        .Reply("OK")
        .ExpectPrefix("+++")
        .Reply("OK")
        .Answer("AT+FCLASS=1");  // waiting for the next call
    modem.Start();
    qputenv("QN_COM3", QByteArray::fromStdString(modem.DevicePath()));
    PrepareIni([](IniFile& ini) { ini.WriteInteger("Modem", "FaxClassReceive", 1); });
    auto w = Start();
    QStringList seen;
    ModalScript script;
    script.Then(RecordErrorBox(&seen));
    w->ReceiveButton->click();
    QVERIFY(w->InReceiveMode);
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 30000);
    QVERIFY2(modem.WaitDone(10s), modem.Report().c_str());
    QCOMPARE(seen.value(0), QStringLiteral("Failed To Receive Incoming Fax"));
    QVERIFY(w->InReceiveMode);
    QVERIFY(!w->ReceivingNow);  // sorting, deleting and closing work again
    QCOMPARE(w->RecTable.recCount(), 0u);
    w->ReceiveButton->click();
    ExpectOff(*w);
    QVERIFY(MissingInOrder(ReadLines(home_ + "Lastrec.log"), {"Receive Failed with error: ", "Stopped receive mode"})
                .isEmpty());
    CloseAndCheck(w);
  }

  // ---- the disk fills during the second page: the first page and its record stay ----
  void diskFullKeepsWhatArrived() {
    qnsim::ScriptedModem modem;
    modem.SetExpectTimeout(20s);
    Class2Prep(modem);
    Class2Reset(modem);
    Class2Call(modem, "BIG SENDER");
    modem.Send(StuffedPage(20, 6))
        .Reply("+FPTS:1")
        .Reply("+FET:0")
        .Reply("OK")
        .Expect("AT+FDR")
        .Reply("CONNECT")
        .ExpectByte('\x12')
        .Send(StuffedPage(9000, 7))
        .ExpectPrefix("+++")
        .Reply("OK");  // what the receiver says to the modem afterwards does not matter here
    auto w = StartOnClass2(modem);
    TReceiveMode& mode = ReceiveModeOf(*w);
    QSignalSpy stored(&mode, &TReceiveMode::FaxStored);
    QStringList seen;
    ModalScript script;
    script.Then(RecordErrorBox(&seen));
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 48000;  // above the tables and logs, below the second page
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    w->ReceiveButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 30000);
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY2(seen.value(1).contains(QString::fromStdString(fe::ErrorText(fe::ecDiskFull))),
             qPrintable(seen.join('\n')));
    QCOMPARE(stored.count(), 1);
    w->ReceiveButton->click();
    ExpectOff(*w);
    ExpectPortFree(modem.DevicePath());
    QCOMPARE(w->RecTable.recCount(), 1u);
    QCOMPARE(w->RecTable.go(1), 0);
    QCOMPARE(w->RecTable.getNumber("PAGES"), 1.0);
    const std::string file = ReceiveFolder() + w->RecTable.getTrimString("FAXFILE");
    QCOMPARE(fe::ValidateApfFile(file), 0);
    QCOMPARE(qntest::ReadApfPages(file).size(), size_t(1));
    CloseAndCheck(w);
  }

  // ---- the device goes away while the mode waits: the mode ends and says so ----
  void deviceVanishes() {
    qnsim::ScriptedModem modem;
    Class2Prep(modem);
    Class2Reset(modem);
    modem.Pause(1500ms).HangUp();
    auto w = StartOnClass2(modem);
    QStringList seen;
    ModalScript script;
    script.Then(RecordErrorBox(&seen));
    w->ReceiveButton->click();
    QVERIFY(w->InReceiveMode);
    QTRY_VERIFY_WITH_TIMEOUT(script.Done(), 20000);
    QCOMPARE(seen.value(0), QStringLiteral("Receive Mode Ended"));
    ExpectOff(*w);
    QVERIFY(ReceiveModeOf(*w).Port() == nullptr || !ReceiveModeOf(*w).Port()->IsOpen());
    QVERIFY(MissingInOrder(ReadLines(home_ + "Lastrec.log"),
                           {"StartReceive", "Receive mode ended with error: ", "Finish: "})
                .isEmpty());
    CloseAndCheck(w);
  }

  // ---- the device goes away in the middle of a fax: the failed fax's window
  // comes first and "Receive Mode Ended" follows it, never lost behind it ----
  void deviceVanishesMidFax() {
    qnsim::ScriptedModem modem;
    modem.SetExpectTimeout(20s);
    Class2Prep(modem);
    Class2Reset(modem);
    Class2Call(modem, "VANISHER");
    modem.Send(StuffedPage(30, 8).substr(0, 300)).Pause(300ms).HangUp();
    auto w = StartOnClass2(modem);
    QStringList seen;
    ModalScript script;
    script.Then([&seen](QWidget* wd) {
      QTest::qWait(500);  // the mode ends while this window is on screen
      RecordErrorBox(&seen)(wd);
    });
    script.Then(RecordErrorBox(&seen));
    w->ReceiveButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(script.Done() && seen.size() == 4, 30000);
    QCOMPARE(seen.value(0), QStringLiteral("Failed To Receive Incoming Fax"));
    QCOMPARE(seen.value(2), QStringLiteral("Receive Mode Ended"));
    QVERIFY2(seen.value(3).startsWith(QLatin1String("Quillon stopped receiving faxes.")), qPrintable(seen.value(3)));
    ExpectOff(*w);
    CloseAndCheck(w);
  }

  // ---- closing while a fax comes in: asked first; No keeps receiving ----
  void closeQueryWhileReceiving() {
    qnsim::ScriptedModem modem;
    modem.SetExpectTimeout(30s);
    Class2Prep(modem);
    Class2Reset(modem);
    Class2Call(modem, "SLOW");
    modem.Pause(20s);
    auto w = StartOnClass2(modem);
    w->ReceiveButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(w->ReceivingNow, 15000);
    ModalScript no;
    no.Answer(QMessageBox::No);
    QVERIFY(!w->close());
    QVERIFY(no.Done());
    QCOMPARE(no.seen()[0].caption, QStringLiteral("ALERT!"));
    QCOMPARE(no.seen()[0].text, QStringLiteral("You are recieving a fax. Close the program?"));
    QVERIFY(w->isVisible() && w->InReceiveMode && w->ReceivingNow);
    ModalScript yes;
    yes.Answer(QMessageBox::Yes);
    QVERIFY(w->close());
    QVERIFY(yes.Done());
    QVERIFY(!w->InReceiveMode);
    ExpectPortFree(modem.DevicePath());
    CloseAndCheck(w);
  }

  // ---- whole faxes through the simulated telephone line ----
  void lineClass1() { ThreeFaxesThrough(qn::sim::ModemKind::Class1, 1); }
  void lineClass2() { ThreeFaxesThrough(qn::sim::ModemKind::Class2, 2); }
  void lineClass2_0() { ThreeFaxesThrough(qn::sim::ModemKind::Class2_0, 3); }

  // Ten short faxes in one session without a restart; the process must not grow
  // from fax to fax.
  // Receive mode on a SIP line: the account's virtual modem answers a call from
  // qnfax (a separate process) and the fax is stored like one from a modem.
  void sipLineReceivesFromQnfax() {
    const int port = siptest::FreeUdpPort();
    PrepareIni([port](IniFile& ini) {
      ini.WriteBool("SIP", "UseAccount", true);
      ini.WriteString("SIP", "User", "fax");
      ini.WriteString("SIP", "Domain", "127.0.0.1");
      ini.WriteString("SIP", "Registrar", "-");  // calls come straight to the address
      ini.WriteInteger("SIP", "Port", port);
    });
    auto w = Start();
    TReceiveMode& mode = ReceiveModeOf(*w);
    QSignalSpy stored(&mode, &TReceiveMode::FaxStored);
    w->ReceiveButton->click();
    QVERIFY(w->InReceiveMode);
    QCOMPARE(w->ReceiveButton->text(), QStringLiteral("STOP"));

    const auto pages = qn::sim::makeTestPages(2, 90, true, 77);
    const QString file = home_ + "SIPSEND.APF";
    QVERIFY(qntest::WriteApfPages(file.toStdString(), pages));
    QProcess tx;
    tx.setProcessChannelMode(QProcess::MergedChannels);
    tx.start(QStringLiteral(QN_BINARY_DIR "/bin/qnfax"),
             {QStringLiteral("send"), QStringLiteral("--sip"), QStringLiteral("--user"), QStringLiteral("sender"),
              QStringLiteral("--domain"), QStringLiteral("127.0.0.1"), QStringLiteral("--registrar"),
              QStringLiteral("-"), QStringLiteral("--sip-local"), QStringLiteral("127.0.0.1"),
              QStringLiteral("--sip-port"), QString::number(siptest::FreeUdpPort()), QStringLiteral("--station-id"),
              QStringLiteral("SIP SENDER"), QStringLiteral("--number"),
              QStringLiteral("fax@127.0.0.1:%1").arg(port), file});
    QVERIFY(tx.waitForStarted());
    QVERIFY2(WaitForFaxes(stored, 1, 90s), qPrintable(QString::fromLocal8Bit(tx.readAll())));
    QVERIFY(stored.last().at(1).toBool());
    QElapsedTimer waited;
    waited.start();
    while (tx.state() != QProcess::NotRunning && waited.elapsed() < 30000) QTest::qWait(50);
    QCOMPARE(tx.exitCode(), 0);
    w->ReceiveButton->click();
    ExpectOff(*w);

    QCOMPARE(w->RecTable.recCount(), 1u);
    QCOMPARE(w->RecTable.go(1), 0);
    QCOMPARE(w->RecTable.getTrimString("FROM"), std::string("SIP SENDER"));
    const auto got = qntest::ReadApfPages(ReceiveFolder() + w->RecTable.getTrimString("FAXFILE"));
    QCOMPARE(got.size(), pages.size());
    for (size_t i = 0; i < pages.size(); ++i) QVERIFY2(qn::sim::samePage(pages[i], got[i]), qPrintable(QString::number(i)));
    CloseAndCheck(w);
  }

  void longRunTenFaxes() {
    qn::sim::FaxModemSim sim;
    const auto page = qn::sim::makeTestPages(1, 40, false, 21);
    const std::string tif = sim.workDir() + "/one.tif";
    QVERIFY(qn::sim::writeTiff(tif, page));
    sim.addArgs({"--terminal", "send:200:" + tif + ":ident=LONG RUN"});
    sim.addModem(qn::sim::ModemKind::Class1, "100");
    sim.addArgs({"--ring-period", "1000"});
    QVERIFY2(sim.start(), sim.error().c_str());
    sim.pointComPort(3, "100");
    PrepareIni([](IniFile& ini) {
      ini.WriteInteger("Modem", "FaxClassReceive", 1);
      ini.WriteInteger("Modem", "MaximumBPSReceive", 14400);
    });
    auto w = Start();
    TReceiveMode& mode = ReceiveModeOf(*w);
    QSignalSpy stored(&mode, &TReceiveMode::FaxStored);
    w->ReceiveButton->click();
    QVERIFY(w->InReceiveMode);
    long afterSecond = 0;
    for (int i = 0; i < 10; ++i) {
      QVERIFY(sim.call("200", "100"));
      QVERIFY2(WaitForFaxes(stored, i + 1, 60s), sim.logFile().c_str());
      QVERIFY(WaitForSimEvent(sim, "result 200 0 pages=1", i + 1));
      if (i == 1) afterSecond = RssKb();
    }
    const long afterTenth = RssKb();
    qInfo("resident memory after fax 2: %ld KB, after fax 10: %ld KB (growth %ld KB over 8 faxes)", afterSecond,
          afterTenth, afterTenth - afterSecond);
    QVERIFY2(afterTenth - afterSecond < 4096, "the process grows from fax to fax");
    QTest::qWait(300);
    QCOMPARE(sounds_, 10);
    w->ReceiveButton->click();
    ExpectOff(*w);
    QCOMPARE(w->RecTable.recCount(), 10u);
    for (uint32_t r = 1; r <= 10; ++r) {
      QCOMPARE(w->RecTable.go(r), 0);
      QCOMPARE(w->RecTable.getNumber("PAGES"), 1.0);
      const auto got = qntest::ReadApfPages(ReceiveFolder() + w->RecTable.getTrimString("FAXFILE"));
      QCOMPARE(got.size(), size_t(1));
      QVERIFY(qn::sim::samePage(page[0], got[0]));
    }
    ExpectPortFree(sim.device("100"));
    CloseAndCheck(w);
    QVERIFY(sim.stop());
  }
};

QTEST_MAIN(ReceiveModeTest)
#include "receive_mode_test.moc"
