#include "sessions/modem/config_info.h"

#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/dialogs.h"
#include "common/fax_names.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "fe_device.h"
#include "sessions/fax_port.h"
#include "sessions/modem/modem_tools.h"

namespace qn {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QString YesNo(bool b) {
  return b ? QStringLiteral("Yes") : QStringLiteral("No");
}

QString Octal(unsigned mode) {
  return QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0'));
}

}  // namespace

QString GroupedNumber(unsigned long long n) {
  return QLocale().toString(n);
}

DisplayFacts CurrentDisplay() {
  DisplayFacts d;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    d.width = screen->geometry().width();
    d.height = screen->geometry().height();
    d.depth = screen->depth();
    d.logicalDpi = static_cast<int>(screen->logicalDotsPerInch() + 0.5);
  }
  return d;
}

QStringList EnvironmentLines(const SystemFacts& f, const DisplayFacts& d) {
  QStringList out;
  out << QStringLiteral("System:      \t") + Q(f.osName);
  out << QStringLiteral("Kernel:      \t") + Q(f.kernel);
  QString cpu = QStringLiteral("CPU:         \tProcessor:  ") + Q(f.processor);
  if (f.processors > 0) cpu += QStringLiteral(" (%1 processors)").arg(f.processors);
  out << cpu;
  unsigned long long colours = 0;
  switch (d.depth) {
    case 1:
      colours = 2;
      break;
    case 4:
      colours = 16;
      break;
    case 8:
      colours = 256;
      break;
    case 15:
      colours = 32768;
      break;
    case 16:
      colours = 65536;
      break;
    case 24:
    case 32:
      colours = 16777216;
      break;
    default:
      colours = static_cast<unsigned long long>(std::max(d.depth, 0));
  }
  out << QStringLiteral("Video:       \t%1 x %2 x %3 colors").arg(d.width).arg(d.height).arg(GroupedNumber(colours));
  out << QStringLiteral("Font:        \t") + (d.logicalDpi == 96    ? QStringLiteral("Small Fonts in use")
                                              : d.logicalDpi == 120 ? QStringLiteral("Large Fonts in use")
                                                                    : QStringLiteral("Custom font size in use"));
  const unsigned long long load =
      f.memTotal ? (f.memTotal - std::min(f.memAvailable, f.memTotal)) * 100 / f.memTotal : 0;
  out << QStringLiteral("Memory Load: \t%1").arg(load);
  const auto pair = [](const char* label, unsigned long long total, unsigned long long avail) {
    return QString::fromLatin1(label) + QStringLiteral("Total: ") + GroupedNumber(total) +
           QStringLiteral(";    Available: ") + GroupedNumber(avail);
  };
  out << pair("Phys Memory: \t", f.memTotal, f.memAvailable);
  out << pair("Swap Space:  \t", f.swapTotal, f.swapFree);
  out << pair("Virt Memory: \t", f.memTotal + f.swapTotal, f.memAvailable + f.swapFree);
  const QLocale user;
  const QLocale system = QLocale::system();
  out << QStringLiteral("Language:    \tUser: ") + QLocale::languageToString(user.language()) +
             QStringLiteral(";    System: ") + QLocale::languageToString(system.language());
  const auto country = [](const QLocale& l) { return l.name().section(QLatin1Char('_'), 1, 1); };
  out << QStringLiteral("Country:     \tUser: ") + country(user) + QStringLiteral(";    System: ") + country(system);
  out << QStringLiteral("Date Format: \tShort: ") + user.dateFormat(QLocale::ShortFormat) +
             QStringLiteral(";    Long: ") + user.dateFormat(QLocale::LongFormat);
  out << QStringLiteral("Time Format: \tShort: ") + user.timeFormat(QLocale::ShortFormat) +
             QStringLiteral(";    Long: ") + user.timeFormat(QLocale::LongFormat);
  return out;
}

QStringList ModemLines(const SystemFacts& f) {
  QStringList out;
  out << QStringLiteral("[Serial Devices and Modems]") << QString();
  out << QStringLiteral("ModemManager:         \t") + (f.modemManagerRunning
                                                           ? QStringLiteral("Running (it may hold modem ports)")
                                                           : QStringLiteral("Not running"));
  // The device behind each COM number (environment, [Ports] of QN.INI or default).
  for (unsigned n = 1; n <= 6; ++n) {
    const std::string dev = fe::MapComNumber(n);
    out << QStringLiteral("COM%1:                 \t").arg(n) + Q(dev) + QStringLiteral(" (") + Q(DeviceSummary(dev)) +
               QStringLiteral(")");
  }
  // Which COM numbers name each device.
  std::vector<std::pair<std::string, int>> mapped;
  for (unsigned n = 1; n <= 6; ++n) {
    std::error_code ec;
    const std::string dev = ComPortDevice(n);
    const auto real = std::filesystem::canonical(FactsRoot() + dev, ec);
    mapped.emplace_back(ec ? dev : real.string(), static_cast<int>(n));
  }
  for (const SerialDevice& d : f.serialDevices) {
    out << QString();
    out << QStringLiteral("Device:               \t") + Q(d.path);
    if (!d.byId.empty()) out << QStringLiteral("Name:                 \t") + Q(d.byId);
    if (!d.vendor.empty()) out << QStringLiteral("Manufacturer:         \t") + Q(d.vendor);
    if (!d.model.empty()) out << QStringLiteral("Model:                \t") + Q(d.model);
    if (!d.driver.empty()) out << QStringLiteral("Driver:               \t") + Q(d.driver);
    std::error_code ec;
    const auto real = std::filesystem::canonical(FactsRoot() + d.path, ec);
    const std::string key = ec ? d.path : real.string();
    QStringList coms;
    for (const auto& [dev, n] : mapped)
      if (dev == key) coms << QStringLiteral("COM%1").arg(n);
    if (!coms.isEmpty()) out << QStringLiteral("Port:                 \t") + coms.join(QStringLiteral(", "));
    out << QStringLiteral("Owner:                \t%1, group %2, mode %3").arg(Q(d.owner), Q(d.group), Octal(d.mode));
    out << QStringLiteral("In Group:             \t") + YesNo(d.userInGroup);
    out << QStringLiteral("Can Open:             \t") + YesNo(d.accessible);
  }
  return out;
}

QStringList SettingsLines(const FaxSettings& s) {
  QStringList out;
  out << QStringLiteral("[") + Q(SettingsFile()) + QStringLiteral("]") << QString();
  out << QStringLiteral("{general}");
  if (s.SipLine)
    out << QStringLiteral("Line:                 \tSIP account ") + Q(s.SipUser + "@" + s.SipDomain);
  else
    out << QStringLiteral("COM Port:             \t%1").arg(s.ComPort + 1);
  out << QStringLiteral("Tone/Pulse:           \t") + (s.ToneOrPulse == 0   ? QStringLiteral("Tone")
                                                       : s.ToneOrPulse == 1 ? QStringLiteral("Pulse")
                                                                            : QStringLiteral("unknown"));
  out << QStringLiteral("Reset String          \t") + Q(s.String);
  out << QStringLiteral("Post Reset String:    \t") + Q(s.AfterString);
  out << QStringLiteral("{sending}");
  out << QStringLiteral("Fax Class:            \t") + Q(FaxClassName(s.FaxClass));
  out << QStringLiteral("Max BPS:              \t%1").arg(s.MaximumBPS);
  out << QStringLiteral("Modem Init:           \t") + Q(s.InitString);
  out << QStringLiteral("ECM:                  \t") + YesNo(s.ECM);
  out << QStringLiteral("Dial Prefix:          \t") + Q(s.DialPrefix);
  out << QStringLiteral("Dial Suffix:          \t") + Q(s.DialSuffix);
  out << QStringLiteral("Dial Attempts:        \t%1").arg(s.DialAttempts);
  out << QStringLiteral("Retry Wait:           \t%1").arg(s.RetryWait);
  out << QStringLiteral("Blind Dial:           \t") + YesNo(s.BlindDial);
  out << QStringLiteral("Ignore Busy:          \t") + YesNo(s.IgnoreBusy);
  out << QStringLiteral("Renegotiate Between:  \t") + YesNo(s.RenegotiateBetween);
  out << QStringLiteral("{receiving}");
  out << QStringLiteral("Receive Fax Class:    \t") + Q(FaxClassName(s.FaxClassReceive));
  out << QStringLiteral("Receive Max BPS:      \t%1").arg(s.MaximumBPSReceive);
  out << QStringLiteral("Receive Init String:  \t") + Q(s.InitStringReceive);
  out << QStringLiteral("Answer On Ring:       \t%1").arg(s.AnswerOnRing);
  out << QStringLiteral("Receive Startup:      \t") + YesNo(s.AtStartup);
  out << QStringLiteral("ECM Receive:          \t") + YesNo(s.ECMReceive);
  out << QStringLiteral("WAV File:             \t") + Q(s.Wav);
  out << QStringLiteral("Print On Receipt:     \t") + YesNo(s.PrintOnReceipt);
  out << QStringLiteral("Printer (POR):        \t") + Q(s.PrintOnReceiptPrinter);
  out << QStringLiteral("{misc}");
  out << QStringLiteral("SM56 Fix              \t") + YesNo(s.UseMotorolaSM56Fix);
  out << QStringLiteral("RAGE MOBILITY FIX     \t") + YesNo(s.ImposeWaitBeforePrinting);
  out << QStringLiteral("ShowHint:             \t") + YesNo(s.HintsOn);
  out << QStringLiteral("Disable Prefix:       \t") + YesNo(s.PrefixDisable);
  out << QStringLiteral("{qnpd}");
  // The printer driver's hand-off file: both values empty when it cannot be read.
  std::string outPath, exe;
  const IniFile qnpd(ResolvePath(HandOffFolder() + "QNPD.INI"));
  if (qnpd.readable()) {
    outPath = qnpd.ReadString("Location", "QNOutPath", "not found");
    exe = qnpd.ReadString("Location", "QNExecutable", "not found");
  }
  out << QStringLiteral("QNPDOUT:              \t") + Q(outPath);
  out << QStringLiteral("QNPDEXE:              \t") + Q(exe);
  out << QStringLiteral("Program Path          \t") + Q(ProgramFolder());
  return out;
}

QStringList RunningProgramLines(const SystemFacts& f) {
  const int self = static_cast<int>(QCoreApplication::applicationPid());
  std::set<QString> lines;
  for (const ProcessInfo& p : f.processes) {
    if (p.pid == self) continue;
    const QString name = Q(p.name).trimmed();
    if (name.isEmpty() || name.toUpper().contains(QStringLiteral("QUILLON"))) continue;
    lines.insert(name);
  }
  QStringList out;
  out << QStringLiteral("[Other Running Programs]") << QString();
  QStringList sorted(lines.begin(), lines.end());
  std::sort(sorted.begin(), sorted.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  out << sorted;
  return out;
}

QStringList LastSessionLines() {
  QStringList out;
  const auto add = [&out](const char* file, const char* title) {
    const std::string path = ResolvePath(ProgramFolder() + file);
    if (!FileExists(path)) return;
    std::ifstream in(path, std::ios::binary);
    out << QString() << QString::fromLatin1(title) << QString();
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out << QString::fromLocal8Bit(line);
    }
    out << QString();
  };
  add("Lastsend.log", "[Last Send Session]");
  add("Lastrec.log", "[Last Receive Session]");
  return out;
}

QStringList ConfigurationReport(const FaxSettings& s, const SystemFacts& facts, const DisplayFacts& display) {
  QStringList out;
  out << QLocale().toString(QDate::currentDate(), QLocale::LongFormat) << QString();
  out << QStringLiteral("[Product]") << QStringLiteral("Program:     \tQuillon")
      << QStringLiteral("Version:     \t") + QString::fromLatin1(kVersionText) << QString();
  out << QStringLiteral("[Environment]") << EnvironmentLines(facts, display);
  out << QString() << ModemLines(facts) << QString();
  out << SettingsLines(s) << QString();
  out << RunningProgramLines(facts);
  out << LastSessionLines();
  return out;
}

TConfigurationInfo::TConfigurationInfo(const QStringList& lines, QWidget* parent) : QDialog(parent), lines_(lines) {
  setWindowTitle(QStringLiteral("Configuration Information"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("This report describes your computer, its modems and your fax settings. It helps technical "
                     "support find out why faxing fails. \"Copy to Clipboard\" copies it, so you can paste it "
                     "into your e-mail program."),
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  Memo = new QPlainTextEdit(this);
  Memo->setObjectName(QStringLiteral("Report"));
  Memo->setReadOnly(true);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setTabChangesFocus(true);
  Memo->setPlainText(lines_.join(QLatin1Char('\n')));
  // The labels are padded with blanks to one width per section and end with a
  // tab: a fixed-pitch font with tab stops every eight characters keeps the
  // values of a section in one column.
  Memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Memo->setTabStopDistance(Memo->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 8);
  layout->addWidget(Memo, 1);
  auto* buttons = new QHBoxLayout;
  CopyButton = new QPushButton(QStringLiteral("&Copy to Clipboard"), this);
  OkButton = new QPushButton(QStringLiteral("OK"), this);
  SaveButton = new QPushButton(QStringLiteral("&Save As..."), this);
  OkButton->setDefault(true);
  buttons->addWidget(CopyButton);
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addStretch();
  buttons->addWidget(SaveButton);
  layout->addLayout(buttons);
  resize(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 90, fontMetrics().lineSpacing() * 34);
  connect(CopyButton, &QPushButton::clicked, this, &TConfigurationInfo::CopyButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(SaveButton, &QPushButton::clicked, this, &TConfigurationInfo::SaveButtonClick);
}

void TConfigurationInfo::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  Memo->moveCursor(QTextCursor::Start);
  Memo->ensureCursorVisible();
}

void TConfigurationInfo::CopyButtonClick() {
  QGuiApplication::clipboard()->setText(lines_.join(QLatin1Char('\n')) + QLatin1Char('\n'));
  MessageBoxText(QStringLiteral("Information copied to the clipboard"), QStringLiteral("Configuration Information"),
                 mbOk | mbIconInformation);
}

bool TConfigurationInfo::SaveTo(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
  const QByteArray bytes = (lines_.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
  return file.write(bytes) == bytes.size() && file.flush();
}

void TConfigurationInfo::SaveButtonClick() {
  QFileDialog dialog(this, QStringLiteral("Save As"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QStringLiteral("Text files (*.TXT)"));
  dialog.setDefaultSuffix(QStringLiteral("TXT"));
  dialog.setDirectory(Q(ProgramFolder()));
  dialog.selectFile(QStringLiteral("ConfigInfo.txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().first();
  if (!SaveTo(path)) {
    MessageBoxText(QStringLiteral("The report could not be written to %1").arg(path),
                   QStringLiteral("Configuration Information"), mbOk | mbIconError);
    return;
  }
  MessageBoxText(QStringLiteral("Information was saved as: ") + path, QStringLiteral("Configuration Information"),
                 mbOk | mbIconInformation);
}

QString FaxLineName() {
  const FaxSettings& s = Settings();
  if (s.SipLine) return QStringLiteral("SIP account ") + Q(s.SipUser + "@" + s.SipDomain);
  return QStringLiteral("COM%1").arg(s.ComPort + 1);
}

bool ToolNotForSipLine(QWidget* parent, const QString& tool) {
  if (!Settings().SipLine) return false;
  QMessageBox::information(parent, tool,
                           tool +
                               QStringLiteral(" is for fax modems and does not apply to a SIP line.\n\nThe fax line "
                                              "is the ") +
                               FaxLineName() + QStringLiteral(": there is no modem port to examine."));
  return true;
}

void ShowConfigurationInformation(QWidget* parent) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const QStringList lines = ConfigurationReport(Settings(), GatherSystemFacts(), CurrentDisplay());
  QApplication::restoreOverrideCursor();
  TConfigurationInfo window(lines, parent);
  CentreForm(&window);
  window.exec();
}

}  // namespace qn
