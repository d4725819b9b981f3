// The system facts read from a machine laid out in a temporary folder, the
// configuration report (settings section line for line, running programs, last
// sessions, copy and save) and the quick configuration analysis: which pages a
// user visits for which settings, and what Finish writes.
#include <sys/stat.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QFontMetrics>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QApplication>
#include <QTimer>
#include <QMessageBox>
#include <filesystem>
#include <fstream>

#include "common/folders.h"
#include "sessions/modem/modem_tools.h"
#include "common/ini_file.h"
#include "modal_script.h"
#include "sessions/modem/config_info.h"
#include "sessions/modem/modem_hooks.h"
#include "sessions/modem/quick_suggest.h"
#include "sessions/modem/system_facts.h"
#include "sessions/settings.h"

namespace {

void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

using Q = qn::TQuickSuggest;

// The pages Next visits from page 0 in a mode, up to the closing page.
std::vector<int> Visit(qn::TQuickSuggest& w, bool sending) {
  for (int guard = 0; guard < 20 && w.CurrentPage() != Q::pgMode; ++guard) w.BackButton->click();
  (sending ? w.SendingButton : w.ReceivingButton)->click();
  std::vector<int> pages;
  for (int guard = 0; guard < 20 && w.CurrentPage() != Q::pgEnd; ++guard) {
    w.NextButton->click();
    pages.push_back(w.CurrentPage());
  }
  return pages;
}

}  // namespace

class ReportTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir home_;

 private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("QUILLON_HOME", home_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
    qn::ResetProgramFolder();
  }
  void cleanup() { qn::SetFactsRoot({}); }

  // A machine in a folder: its system name, memory, processors, a USB modem
  // with a by-id name, and the processes (ModemManager among them).
  void factsFromFakeMachine() {
    QTemporaryDir root;
    const std::string r = root.path().toStdString();
    Write(r + "/etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    Write(r + "/proc/version", "Linux version 6.1.0-13-amd64");
    Write(r + "/proc/cpuinfo",
          "processor\t: 0\nmodel name\t: Test CPU @ 2.00GHz\n\nprocessor\t: 1\nmodel name\t: Test CPU @ 2.00GHz\n");
    Write(r + "/proc/meminfo",
          "MemTotal:        2048 kB\nMemFree:  100 kB\nMemAvailable:     1024 kB\n"
          "SwapTotal:  4096 kB\nSwapFree: 4000 kB\n");
    Write(r + "/proc/812/comm", "ModemManager\n");
    Write(r + "/proc/812/cmdline", std::string("/usr/sbin/ModemManager\0", 23));
    Write(r + "/proc/2/comm", "kthreadd\n");
    Write(r + "/proc/2/cmdline", "");
    std::filesystem::create_directories(r + "/dev/serial/by-id");
    // /dev/null stands in for the device node: a character device anyone may open.
    std::filesystem::create_symlink("/dev/null", r + "/dev/ttyACM0");
    std::filesystem::create_symlink("../../ttyACM0", r + "/dev/serial/by-id/usb-Acme_Modem-if00");
    qn::SetFactsRoot(r);
    const qn::SystemFacts f = qn::GatherSystemFacts();
    QCOMPARE(f.osName, std::string("Debian GNU/Linux 12 (bookworm)"));
    QCOMPARE(f.kernel, std::string("Linux version 6.1.0-13-amd64"));
    QCOMPARE(f.processor, std::string("Test CPU @ 2.00GHz"));
    QCOMPARE(f.processors, 2u);
    QCOMPARE(f.memTotal, uint64_t(2048 * 1024));
    QCOMPARE(f.memAvailable, uint64_t(1024 * 1024));
    QCOMPARE(f.swapFree, uint64_t(4000 * 1024));
    QVERIFY(f.modemManagerRunning);
    QCOMPARE(f.processes.size(), size_t(1));  // the kernel thread is left out
    QCOMPARE(f.processes[0].name, std::string("ModemManager"));
    QCOMPARE(f.serialDevices.size(), size_t(1));
    QCOMPARE(f.serialDevices[0].path, std::string("/dev/ttyACM0"));
    QCOMPARE(f.serialDevices[0].byId, std::string("/dev/serial/by-id/usb-Acme_Modem-if00"));
    QVERIFY(f.serialDevices[0].accessible);

    const QStringList lines = qn::ModemLines(f);
    QVERIFY(lines.contains(QStringLiteral("ModemManager:         \tRunning (it may hold modem ports)")));
    QVERIFY(lines.contains(QStringLiteral("Name:                 \t/dev/serial/by-id/usb-Acme_Modem-if00")));
    QVERIFY(lines.contains(QStringLiteral("Can Open:             \tYes")));
    // Each COM port with the device behind it.
    QVERIFY2(lines.contains(QStringLiteral("COM6:                 \t/dev/ttyACM0 (USB modem)")),
             qPrintable(lines.join(u'|')));
    QVERIFY(lines.contains(QStringLiteral("COM5:                 \t/dev/ttyUSB0 (not present)")));
    QCOMPARE(qn::DeviceSummary("/dev/serial/by-id/usb-Acme_Modem-if00"), std::string("USB modem"));
    QCOMPARE(qn::GroupFixCommand("ann", "dialout"), std::string("sudo usermod -aG dialout ann"));
  }

  // Every setting in its line, with the labels and their padding as written.
  void reportSettingsSection() {
    qn::FaxSettings s;
    s.ComPort = 2;
    s.ToneOrPulse = 1;
    s.String = "ATZ";
    s.AfterString = "ATM0";
    s.FaxClass = 3;
    s.MaximumBPS = 14400;
    s.InitString = "AT&F&C1&D2&K3S7=90";
    s.ECM = true;
    s.DialPrefix = "9,";
    s.DialSuffix = "#";
    s.DialAttempts = 5;
    s.RetryWait = 120;
    s.BlindDial = true;
    s.IgnoreBusy = false;
    s.RenegotiateBetween = true;
    s.FaxClassReceive = 0;
    s.MaximumBPSReceive = 7200;
    s.InitStringReceive = "ATS0=0";
    s.AnswerOnRing = 3;
    s.AtStartup = true;
    s.ECMReceive = true;
    s.Wav = "/usr/share/sounds/ring.wav";
    s.PrintOnReceipt = true;
    s.PrintOnReceiptPrinter = "Laser";
    s.UseMotorolaSM56Fix = true;
    s.ImposeWaitBeforePrinting = false;
    s.HintsOn = false;
    s.PrefixDisable = true;
    Write(home_.path().toStdString() + "/config/quillon/QNPD.INI", "[Location]\nQNOutPath=/x/SEND/\n");
    const QString ini = QString::fromStdString(qn::SettingsFile());
    const QStringList expected = {
        "[" + ini + "]",
        "",
        "{general}",
        "COM Port:             \t3",
        "Tone/Pulse:           \tPulse",
        "Reset String          \tATZ",
        "Post Reset String:    \tATM0",
        "{sending}",
        "Fax Class:            \tClass 2.0",
        "Max BPS:              \t14400",
        "Modem Init:           \tAT&F&C1&D2&K3S7=90",
        "ECM:                  \tYes",
        "Dial Prefix:          \t9,",
        "Dial Suffix:          \t#",
        "Dial Attempts:        \t5",
        "Retry Wait:           \t120",
        "Blind Dial:           \tYes",
        "Ignore Busy:          \tNo",
        "Renegotiate Between:  \tYes",
        "{receiving}",
        "Receive Fax Class:    \tAutoDetect",
        "Receive Max BPS:      \t7200",
        "Receive Init String:  \tATS0=0",
        "Answer On Ring:       \t3",
        "Receive Startup:      \tYes",
        "ECM Receive:          \tYes",
        "WAV File:             \t/usr/share/sounds/ring.wav",
        "Print On Receipt:     \tYes",
        "Printer (POR):        \tLaser",
        "{misc}",
        "SM56 Fix              \tYes",
        "RAGE MOBILITY FIX     \tNo",
        "ShowHint:             \tNo",
        "Disable Prefix:       \tYes",
        "{qnpd}",
        "QNPDOUT:              \t/x/SEND/",
        "QNPDEXE:              \tnot found",
        "Program Path          \t" + QString::fromStdString(qn::ProgramFolder()),
    };
    const QStringList report = qn::ConfigurationReport(s, qn::SystemFacts{}, qn::DisplayFacts{1024, 768, 16, 96});
    const int at = static_cast<int>(report.indexOf(expected.first()));
    QVERIFY(at > 0);
    QCOMPARE(report.mid(at, expected.size()), expected);
    QVERIFY(report.contains(QStringLiteral("Video:       \t1024 x 768 x ") + qn::GroupedNumber(65536) +
                            QStringLiteral(" colors")));
    QVERIFY(report.contains(QStringLiteral("Font:        \tSmall Fonts in use")));
  }

  // With the SIP account as the line, the report names it instead of a port,
  // and the finder, the class check and the init-string helper say they do not
  // apply instead of probing a port, and change nothing.
  void sipLineIsNamedAndModemToolsDoNotApply() {
    qn::FaxSettings s;
    s.SipLine = true;
    s.SipUser = "4930123456";
    s.SipDomain = "sip.example.net";
    const QStringList report = qn::ConfigurationReport(s, qn::SystemFacts{}, qn::DisplayFacts{});
    QVERIFY(report.contains(QStringLiteral("Line:                 \tSIP account 4930123456@sip.example.net")));
    QVERIFY(!report.join(QLatin1Char('\n')).contains(QStringLiteral("COM Port:")));

    const qn::FaxSettings saved = qn::Settings();
    qn::Settings() = s;
    QStringList said;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&said] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        said << box->text();
        box->accept();
      }
    });
    answer.start(20);
    QString name = QStringLiteral("unchanged");
    QCOMPARE(qn::RunFindModem(nullptr, 1), 0);
    QCOMPARE(qn::RunCheckFaxClass(nullptr, 1, &name), -1);
    QVERIFY(name.isEmpty());
    QCOMPARE(qn::InitStringHelper(nullptr, QStringLiteral("ATX3"), true), QStringLiteral("ATX3"));
    answer.stop();
    qn::Settings() = saved;
    QCOMPARE(said.size(), 3);
    for (const QString& text : said) {
      QVERIFY2(text.contains(QStringLiteral("does not apply to a SIP line")), qPrintable(text));
      QVERIFY2(text.contains(QStringLiteral("SIP account 4930123456@sip.example.net")), qPrintable(text));
    }
  }

  // The program's own processes are left out, the rest sorted; without
  // Lastrec.log the report ends with the send session; copy and save carry
  // the report as built.
  void reportProgramsSessionsCopySave() {
    qn::SystemFacts f;
    f.processes = {{10, "zsh"}, {11, "quillon"}, {12, "bash"}, {13, "python3"}, {14, "bash"}};
    Write(qn::ProgramFolder() + "Lastsend.log", "Send session\r\nDialling 555\r\n");
    std::filesystem::remove(qn::ProgramFolder() + "Lastrec.log");
    const QStringList report = qn::ConfigurationReport(qn::FaxSettings{}, f, qn::DisplayFacts{});
    const int at = static_cast<int>(report.indexOf(QStringLiteral("[Other Running Programs]")));
    QVERIFY(at > 0);
    QCOMPARE(report.mid(at + 2, 4), (QStringList{"bash", "python3", "zsh", ""}));
    QCOMPARE(report.mid(report.size() - 5),
             (QStringList{"[Last Send Session]", "", "Send session", "Dialling 555", ""}));

    qn::TConfigurationInfo window(report);
    window.show();
    QCOMPARE(window.Memo->textCursor().position(), 0);
    qntest::ModalScript script;
    script.Answer(QMessageBox::Ok);
    window.CopyButton->click();
    QVERIFY(script.Done());
    QCOMPARE(script.seen()[0].text, QStringLiteral("Information copied to the clipboard"));
    QCOMPARE(QGuiApplication::clipboard()->text(), report.join('\n') + '\n');
    const QString saved = home_.path() + "/ConfigInfo.txt";
    QVERIFY(window.SaveTo(saved));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(QString::fromUtf8(file.readAll()), report.join('\n') + '\n');
    QVERIFY(!window.SaveTo(home_.path() + "/no-such-folder/x.txt"));
  }

  // Each analysis page is visited exactly when its setting is unusual, in its mode.
  // People mail this report: a running program is listed by its name, never
  // with its command line (which may carry a password); the report window
  // shows the values of a section in one column.
  void reportNamesProgramsWithoutTheirArguments() {
    QTemporaryDir dir;
    const QString probe = dir.filePath(QStringLiteral("qnprobe-child"));
    QVERIFY(QFile::link(QStringLiteral("/bin/sh"), probe));
    QProcess child;
    child.start(probe, {QStringLiteral("-c"), QStringLiteral("sleep 30; :"), QStringLiteral("--password=Tr0ub4dor-x9")});
    QVERIFY(child.waitForStarted());
    const qn::SystemFacts facts = qn::GatherSystemFacts();
    const QString report = qn::ConfigurationReport(qn::FaxSettings{}, facts, qn::DisplayFacts{}).join(QLatin1Char('\n'));
    child.kill();
    child.waitForFinished();
    QVERIFY(report.contains(QStringLiteral("\nqnprobe-child\n")));
    QVERIFY(!report.contains(QStringLiteral("Tr0ub4dor")));
    QVERIFY(!report.contains(QStringLiteral("sleep 30")));

    qn::TConfigurationInfo window(qn::ConfigurationReport(qn::FaxSettings{}, facts, qn::DisplayFacts{}));
    window.show();
    const QFontMetrics m(window.Memo->font());
    QCOMPARE(m.horizontalAdvance(QStringLiteral("iiii")), m.horizontalAdvance(QStringLiteral("WWWW")));
    // The value column of the settings section starts at one place on every line.
    QSet<int> starts;
    const QStringList lines = window.Memo->toPlainText().split(QLatin1Char('\n'));
    const qsizetype from = lines.indexOf(QRegularExpression(QStringLiteral("COM Port:.*")));
    QVERIFY(from > 0);
    for (qsizetype i = from; i < from + 10; ++i) {
      const int tab = static_cast<int>(lines[i].indexOf(QLatin1Char('\t')));
      if (tab < 0) continue;  // a heading such as {sending}
      const int width = m.horizontalAdvance(lines[i].left(tab));
      const int stop = static_cast<int>(window.Memo->tabStopDistance());
      starts.insert((width / stop + 1) * stop);
    }
    QCOMPARE(starts.size(), 1);
  }

  void analysisPagesFollowSettings() {
    const qn::FaxSettings usual;  // the defaults need no change, except the reset and init strings
    struct Case {
      std::function<void(qn::FaxSettings&)> change;
      int page;
    } cases[] = {
        {[](qn::FaxSettings& s) { s.ToneOrPulse = 1; }, Q::pgTone},
        {[](qn::FaxSettings& s) { s.FaxClass = 0; }, Q::pgClass},
        {[](qn::FaxSettings& s) { s.MaximumBPS = 14400; }, Q::pgBps},
        {[](qn::FaxSettings& s) { s.String.clear(); }, Q::pgReset},
        {[](qn::FaxSettings& s) { s.InitString.clear(); }, Q::pgInit},
        {[](qn::FaxSettings& s) { s.ECM = true; }, Q::pgEcm},
        {[](qn::FaxSettings& s) { s.BlindDial = true; }, Q::pgBlindDial},
        {[](qn::FaxSettings& s) { s.IgnoreBusy = true; }, Q::pgIgnoreBusy},
        {[](qn::FaxSettings& s) { s.FaxClassReceive = 2; }, Q::pgClassReceive},
        {[](qn::FaxSettings& s) { s.MaximumBPSReceive = 12000; }, Q::pgBpsReceive},
        {[](qn::FaxSettings& s) { s.InitStringReceive.clear(); }, Q::pgInitReceive},
        {[](qn::FaxSettings& s) { s.ECMReceive = true; }, Q::pgEcmReceive},
    };
    const auto base = [&] {
      qn::FaxSettings s = usual;
      s.String = "ATZ";
      s.InitString = "AT&F";
      s.InitStringReceive = "AT&F";
      return s;
    };
    {
      qn::FaxSettings s = base();
      qn::TQuickSuggest w(s, qn::PortCheck{});
      QCOMPARE(Visit(w, true), std::vector<int>{Q::pgEnd});
      QVERIFY(w.ProblemSolverButton->isVisibleTo(&w));
      QVERIFY(!w.FinishButton->isEnabled());
      QVERIFY(w.EndText->text().startsWith(QStringLiteral("The analysis did not find anything wrong")));
      w.BackButton->click();
      QCOMPARE(w.CurrentPage(), int(Q::pgMode));
    }
    for (const Case& c : cases) {
      qn::FaxSettings s = base();
      c.change(s);
      const bool sendingPage = c.page <= Q::pgIgnoreBusy;
      {
        qn::TQuickSuggest w(s, qn::PortCheck{});
        QCOMPARE(Visit(w, sendingPage), (std::vector<int>{c.page, Q::pgEnd}));
        QVERIFY(!w.ProblemSolverButton->isVisibleTo(&w));
        w.BackButton->click();
        QCOMPARE(w.CurrentPage(), c.page);
      }
      if (c.page == Q::pgReset) continue;  // the reset string is shared (below)
      qn::TQuickSuggest w(s, qn::PortCheck{});
      QCOMPARE(Visit(w, !sendingPage), std::vector<int>{Q::pgEnd});
    }
    // The reset string is shared: with none, both modes show their reset page.
    qn::FaxSettings s = base();
    s.String.clear();
    qn::TQuickSuggest w(s, qn::PortCheck{});
    QCOMPARE(Visit(w, false), (std::vector<int>{Q::pgResetReceive, Q::pgEnd}));
  }

  // Finish writes only what was chosen in the current mode; Cancel and the
  // Problem Solver write nothing.
  void analysisFinishApplies() {
    qn::FaxSettings s;
    s.ToneOrPulse = 1;
    s.FaxClass = 0;
    s.MaximumBPS = 14400;
    s.ECM = true;
    s.BlindDial = true;
    s.IgnoreBusy = true;
    s.FaxClassReceive = 2;
    s.ECMReceive = true;
    {
      qn::TQuickSuggest w(s, qn::PortCheck{});
      w.NextButton->click();
      QCOMPARE(w.CurrentPage(), int(Q::pgTone));
      QVERIFY(!w.FinishButton->isEnabled());
      w.Offer[Q::pgIgnoreBusy]->click();
      QVERIFY(w.FinishButton->isEnabled());
      w.Offer[Q::pgTone]->click();
      w.InitChoice[0]->button(1)->click();
      w.ResetChoice[0]->button(0)->click();
      w.Offer[Q::pgEcmReceive]->click();  // a receiving offer: not applied when sending
      w.FinishButton->click();
      QCOMPARE(w.result(), int(QDialog::Accepted));
    }
    QCOMPARE(s.IgnoreBusy, false);
    QCOMPARE(s.ToneOrPulse, 0);
    QCOMPARE(s.InitString, std::string("AT&H3&I2&R2S7=90"));
    QCOMPARE(s.String, std::string("ATZ"));
    QCOMPARE(s.ECMReceive, true);
    QCOMPARE(s.FaxClass, 0);
    QCOMPARE(s.BlindDial, true);
    {
      qn::TQuickSuggest w(s, qn::PortCheck{});
      w.ReceivingButton->click();
      w.Offer[Q::pgClassReceive]->click();
      w.InitChoice[1]->button(5)->click();
      w.CancelButton->click();
      QCOMPARE(w.result(), int(QDialog::Rejected));
    }
    QCOMPARE(s.FaxClassReceive, 2);
    QVERIFY(s.InitStringReceive.empty());
    {
      qn::TQuickSuggest w(s, qn::PortCheck{});
      w.ReceivingButton->click();
      w.Offer[Q::pgClassReceive]->click();
      w.InitChoice[1]->button(5)->click();
      w.Offer[Q::pgBpsReceive]->click();  // not relevant (9600): nothing happens to it
      w.FinishButton->click();
    }
    QCOMPARE(s.FaxClassReceive, 1);
    QCOMPARE(s.InitStringReceive, std::string("AT&H3&I2&R2S7=90S36=8S33=34"));
    QCOMPARE(s.ECMReceive, true);
  }

  // The Help menu's commands through the hooks: the report window opens over
  // the main window; the analysis saves what Finish chose to QN.INI, Cancel
  // saves nothing.
  void helpCommandsThroughHooks() {
    struct {
      std::function<void(QWidget&)> ConfigurationInformation, QuickConfigurationAnalysis;
    } hooks;
    qn::InstallModemToolHooks(hooks);
    QWidget main;
    qn::Settings() = qn::FaxSettings{};
    qn::Settings().String = "ATZ";
    qn::Settings().InitString = "AT&F";
    qn::Settings().IgnoreBusy = true;
    {
      QString caption;
      QStringList report;
      qntest::ModalScript script;
      script.Then([&](QWidget* w) {
        caption = w->windowTitle();
        if (auto* info = qobject_cast<qn::TConfigurationInfo*>(w)) {
          report = info->Memo->toPlainText().split('\n');
          info->OkButton->click();
        } else {
          w->close();
        }
      });
      hooks.ConfigurationInformation(main);
      QVERIFY(script.Done());
      QCOMPARE(caption, QStringLiteral("Configuration Information"));
      QVERIFY(report.contains(QStringLiteral("Ignore Busy:          \tYes")));
    }
    const std::string ini = qn::SettingsFile();
    std::filesystem::remove(ini);
    {
      qntest::ModalScript script;
      script.Then([](QWidget* w) {
        auto* wizard = qobject_cast<qn::TQuickSuggest*>(w);
        wizard->Offer[Q::pgIgnoreBusy]->click();
        wizard->CancelButton->click();
      });
      hooks.QuickConfigurationAnalysis(main);
      QVERIFY(script.Done());
      QVERIFY(!std::filesystem::exists(ini));
      QVERIFY(qn::Settings().IgnoreBusy);
    }
    {
      qntest::ModalScript script;
      script.Then([](QWidget* w) {
        auto* wizard = qobject_cast<qn::TQuickSuggest*>(w);
        wizard->Offer[Q::pgIgnoreBusy]->click();
        wizard->FinishButton->click();
      });
      hooks.QuickConfigurationAnalysis(main);
      QVERIFY(script.Done());
      QCOMPARE(qn::IniFile(ini).ReadString("Dialing", "IgnoreBusy", "?"), std::string("0"));
      QVERIFY(!qn::Settings().IgnoreBusy);
    }
  }

  // The two Linux faults: a device the user may not open (the page names the
  // group command) and ModemManager running; each mode visits its page first.
  void analysisPortPages() {
    qn::FaxSettings s;
    s.String = "ATZ";
    s.InitString = s.InitStringReceive = "AT&F";
    s.ComPort = 0;
    qn::PortCheck denied;
    denied.user = "ann";
    denied.device.path = "/dev/ttyUSB0";
    denied.device.group = "dialout";
    denied.device.mode = 0660;
    denied.device.accessible = false;
    {
      qn::TQuickSuggest w(s, denied);
      QCOMPARE(Visit(w, true), (std::vector<int>{Q::pgPortSend, Q::pgEnd}));
      QVERIFY(w.EndText->text().startsWith(QStringLiteral("This concludes the Quick Config Analysis")));
      const auto* fix = w.Pages->widget(Q::pgPortSend)->findChild<QLineEdit*>(QStringLiteral("FixCommand"));
      QCOMPARE(fix->text(), QStringLiteral("sudo usermod -aG dialout ann"));
      QVERIFY(w.PortText[0]->text().contains(QStringLiteral("/dev/ttyUSB0")));
      QVERIFY(!w.PortText[0]->text().contains(QStringLiteral("ModemManager")));
      QCOMPARE(Visit(w, false), (std::vector<int>{Q::pgPortReceive, Q::pgEnd}));
    }
    qn::PortCheck manager;
    manager.modemManagerRunning = true;
    manager.device.path = "/dev/ttyACM0";
    manager.device.accessible = true;
    {
      qn::TQuickSuggest w(s, manager);
      QCOMPARE(Visit(w, false), (std::vector<int>{Q::pgPortReceive, Q::pgEnd}));
      const auto* fix = w.Pages->widget(Q::pgPortReceive)->findChild<QLineEdit*>(QStringLiteral("FixCommand"));
      QCOMPARE(fix->text(), QStringLiteral("sudo systemctl disable --now ModemManager"));
    }
    qn::PortCheck fine;
    fine.device.path = "/dev/ttyACM0";
    fine.device.accessible = true;
    qn::TQuickSuggest w(s, fine);
    QCOMPARE(Visit(w, true), std::vector<int>{Q::pgEnd});
  }
};

QTEST_MAIN(ReportTest)
#include "report_test.moc"
