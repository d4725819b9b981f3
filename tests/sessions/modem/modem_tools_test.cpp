// The modem finder, the fax-class check and the init-string helper, driven as a
// user drives them: the finder against a mix of ports (a scripted modem, a
// silent device, a missing port, a port another program holds), a device picked
// from the list of other serial devices, the class check against the virtual
// Class 1, 2 and 2.0 modems of faxmodem-sim, and the helper's answers.
#include "sessions/modem/modem_tools.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "common/folders.h"
#include "common/ini_file.h"
#include "modal_script.h"
#include "scripted_modem.h"
#include "sessions/modem/check_fax_class.h"
#include "sessions/modem/find_modem.h"
#include "sessions/modem/init_string_helper.h"
#include "sessions/modem/system_facts.h"
#include "sessions/settings.h"
#include "sim_harness.h"

using namespace std::chrono_literals;

namespace {

// Runs `step` on the finder or class-check window once its work is done.
template <class Form>
qntest::ModalScript::Step WhenDone(std::function<void(Form*)> step) {
  return [step](QWidget* w) {
    auto* form = qobject_cast<Form*>(w);
    if (!form) {
      w->close();
      return;
    }
    // The timer belongs to the window, so it goes with it.
    auto* timer = new QTimer(form);
    QObject::connect(timer, &QTimer::timeout, form, [form, step, timer] {
      if (form->Working() || !form->OkButton->isVisible()) return;
      timer->stop();
      step(form);
    });
    timer->start(20);
  };
}

QStringList Lines(qn::TFindModemForm* f) {
  QStringList out;
  for (QLabel* l : f->Lines) out << l->text();
  return out;
}

// A descriptor holding a device the way another program does (exclusive lock).
struct HeldDevice {
  int fd = -1;
  explicit HeldDevice(const std::string& path) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
  }
  ~HeldDevice() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

class ModemToolsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir home_;

  void PointCom(int n, const std::string& device) {
    qputenv(("QN_COM" + std::to_string(n)).c_str(), QByteArray::fromStdString(device));
  }
  std::string Missing(int n) const { return home_.path().toStdString() + "/no-such-device-" + std::to_string(n); }

 private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("QUILLON_HOME", home_.path().toUtf8());
    qn::ResetProgramFolder();
    qn::Settings() = qn::FaxSettings{};
  }

  void cleanup() {
    qn::SetFactsRoot({});
    for (int n = 1; n <= 6; ++n) qunsetenv(("QN_COM" + std::to_string(n)).c_str());
  }

  // A silent device on COM1, a modem on COM2, nothing on COM3, a port another
  // program holds on COM4: each line says so, the window keeps painting while the
  // ports are tried, and the question that follows selects Com 2.
  void finderReportsEachPort() {
    qnsim::ScriptedModem silent;  // never started: it takes commands and says nothing
    qnsim::ScriptedModem modem;
    modem.SetExpectTimeout(10s);
    modem.Answer("AT", "OK");
    modem.Start();
    qnsim::ScriptedModem held;
    HeldDevice holder(held.DevicePath());
    QVERIFY(holder.fd >= 0);
    PointCom(1, silent.DevicePath());
    PointCom(2, modem.DevicePath());
    PointCom(3, Missing(3));
    PointCom(4, held.DevicePath());
    PointCom(5, Missing(5));
    PointCom(6, Missing(6));

    QStringList lines, testing;
    QString message, caption;
    bool okHiddenWhileWorking = true;
    qntest::ModalScript script;
    script.Then(WhenDone<qn::TFindModemForm>([&](qn::TFindModemForm* f) {
      lines = Lines(f);
      message = f->Message->text();
      caption = f->windowTitle();
      f->OkButton->click();
    }));
    script.Answer(QMessageBox::Yes);

    // The interface thread must keep running while ports are tried.
    QElapsedTimer clock;
    qint64 last = 0, longestGap = 0;
    QTimer beat;
    clock.start();
    connect(&beat, &QTimer::timeout, this, [&] {
      longestGap = std::max(longestGap, clock.elapsed() - last);
      last = clock.elapsed();
      if (auto* f = qobject_cast<qn::TFindModemForm*>(QApplication::activeModalWidget())) {
        if (f->Working()) {
          okHiddenWhileWorking = okHiddenWhileWorking && !f->OkButton->isVisible();
          for (QLabel* l : f->Lines)
            if (l->text().endsWith(QStringLiteral("TESTING")) && !testing.contains(l->text())) testing << l->text();
        }
      }
    });
    beat.start(20);
    const int chosen = qn::RunFindModem(nullptr, 1);
    beat.stop();

    QVERIFY2(script.Done(), qPrintable(script.unexpected().join(",")));
    QCOMPARE(chosen, 2);
    QCOMPARE(lines, (QStringList{"Com 1: Unknown", "Com 2: MODEM", "Com 3: Port does not exist",
                                 "Com 4: Port is already open (could be modem)", "Com 5: Port does not exist",
                                 "Com 6: Port does not exist"}));
    QCOMPARE(message, QStringLiteral("A modem was found on Com Port 2. We suggest setting the Port as Com 2."));
    QCOMPARE(caption, QStringLiteral("Find Modem"));
    QCOMPARE(script.seen().size(), size_t(1));
    QCOMPARE(script.seen()[0].caption, QStringLiteral("Com Port"));
    QCOMPARE(script.seen()[0].text, QStringLiteral("Set Com Port to Com 2"));
    QVERIFY(okHiddenWhileWorking);
    QVERIFY2(testing.contains(QStringLiteral("Com 1: TESTING")), qPrintable(testing.join(",")));
    QVERIFY2(longestGap < 700, qPrintable(QString::number(longestGap)));
    // The silent device was asked, and the modem answered: each port was closed again.
    QVERIFY(modem.WaitDone(2s));
    QVERIFY(!std::filesystem::exists(home_.path().toStdString() + "/QN.INI"));
  }

  // Cancel while a silent port is tried: the finder stops after that port,
  // leaves the other lines as they were and says so.
  void finderCancel() {
    qnsim::ScriptedModem silent;
    for (int n = 1; n <= 6; ++n) PointCom(n, silent.DevicePath());
    qn::TFindModemForm form;
    QElapsedTimer clock;
    QTimer::singleShot(300, &form, [&] {
      QVERIFY(form.Working());
      QTest::mouseClick(form.CancelButton, Qt::LeftButton);
      clock.start();
    });
    QTimer poll;
    connect(&poll, &QTimer::timeout, &form, [&] {
      if (!form.Working() && form.OkButton->isVisible()) form.OkButton->click();
    });
    poll.start(20);
    form.exec();
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(Lines(&form), (QStringList{"Com 1: Unknown", "Com 2:", "Com 3:", "Com 4:", "Com 5:", "Com 6:"}));
    QVERIFY(form.Message->text().startsWith(QStringLiteral("Testing was stopped. No modem found.")));
    QCOMPARE(form.Result(), -1);
  }

  // No modem anywhere, one port in use: the longer message. A USB modem from the
  // list of other devices takes the first COM number whose device is missing,
  // under its by-id name, in [Ports] of QN.INI; the rest of the file stays.
  void finderMapsPickedDevice() {
    qnsim::ScriptedModem usb;  // the device behind the fake /dev/ttyUSB9
    qnsim::ScriptedModem held;
    HeldDevice holder(held.DevicePath());
    QTemporaryDir root;
    const std::string r = root.path().toStdString();
    std::filesystem::create_directories(r + "/dev/serial/by-id");
    std::filesystem::create_symlink(usb.DevicePath(), r + "/dev/ttyUSB9");
    std::filesystem::create_symlink("../../ttyUSB9", r + "/dev/serial/by-id/usb-Acme_FaxModem_56K-if00");
    struct stat st {};
    QVERIFY(::stat(usb.DevicePath().c_str(), &st) == 0);
    std::filesystem::create_directories(r + "/run/udev/data");
    std::ofstream(r + "/run/udev/data/c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)))
        << "E:ID_VENDOR=Acme\nE:ID_VENDOR_FROM_DATABASE=Acme Modems Inc.\nE:ID_MODEL=FaxModem_56K\n";
    qn::SetFactsRoot(r);

    // COM1 and COM3-COM6 name missing devices through [Ports], COM2 a held port
    // through the environment (which outranks the file, so COM2 is never free).
    const std::string ini = home_.path().toStdString() + "/QN.INI";
    std::ofstream(ini) << "[User]\nName=Ann\n[Ports]\nCOM1=" << Missing(1) << "\nCOM3=" << Missing(3)
                       << "\nCOM4=" << Missing(4) << "\nCOM5=" << Missing(5) << "\nCOM6=" << Missing(6) << "\n";
    PointCom(2, held.DevicePath());
    QString message, listed;
    qntest::ModalScript script;
    script.Then(WhenDone<qn::TFindModemForm>([&](qn::TFindModemForm* f) {
      message = f->Message->text();
      // Beside each port's line, the device it stands for.
      QCOMPARE(f->DeviceLines[2]->text(), QString::fromStdString(Missing(3)) + QStringLiteral(" (not present)"));
      QVERIFY(f->DeviceLines[1]->text().startsWith(QString::fromStdString(held.DevicePath()) + QStringLiteral(" (")));
      QCOMPARE(f->Devices->count(), 1);
      listed = f->Devices->item(0)->text();
      f->Devices->setCurrentRow(0);
      QVERIFY(f->UseDeviceButton->isEnabled());
      QTest::mouseClick(f->UseDeviceButton, Qt::LeftButton);
    }));
    const int chosen = qn::RunFindModem(nullptr, 0);
    QVERIFY(script.Done());
    QVERIFY(message.startsWith(QStringLiteral("No modem found. Please make sure that all communication programs")));
    QCOMPARE(listed, QStringLiteral("ttyUSB9 (Acme Modems Inc. FaxModem_56K)"));
    QCOMPARE(chosen, 1);
    const qn::IniFile file(ini);
    QCOMPARE(file.ReadString("Ports", "COM1", ""), std::string("/dev/serial/by-id/usb-Acme_FaxModem_56K-if00"));
    QCOMPARE(file.ReadString("Ports", "COM6", ""), Missing(6));
    QCOMPARE(file.ReadString("User", "Name", ""), std::string("Ann"));
  }

  // The check against each virtual modem recommends Class 1 where it is offered,
  // else Class 2, else Class 2.0 (bold, nothing appended).
  void classCheckRecommends() {
    qn::sim::FaxModemSim sim;
    sim.addModem(qn::sim::ModemKind::Class1, "101");
    sim.addModem(qn::sim::ModemKind::Class2, "102");
    sim.addModem(qn::sim::ModemKind::Class2_0, "103");
    QVERIFY2(sim.start(), sim.error().c_str());
    sim.pointComPort(1, "101");
    sim.pointComPort(2, "102");
    sim.pointComPort(3, "103");

    struct Seen {
      QStringList lines;
      bool bold20 = false;
      QString status;
    };
    const auto check = [](int com, QString* name, Seen* seen) {
      qntest::ModalScript script;
      script.Then(WhenDone<qn::TCheckFaxClassForm>([seen](qn::TCheckFaxClassForm* f) {
        seen->lines = {f->Class1Line->text(), f->Class2Line->text(), f->Class20Line->text()};
        seen->bold20 = f->Class20Line->font().bold();
        seen->status = f->Status->text();
        f->OkButton->click();
      }));
      const int r = qn::RunCheckFaxClass(nullptr, com, name);
      return script.Done() ? r : -9;
    };
    QString name;
    Seen seen;
    QCOMPARE(check(1, &name, &seen), 0);
    QCOMPARE(name, QStringLiteral("Class 1"));
    QVERIFY2(seen.lines[0] == QStringLiteral("Class 1   : Supported (recommended)"), qPrintable(seen.lines.join("|")));
    QVERIFY(seen.status.startsWith(QStringLiteral("Try using the recommended Fax Class (Class 1).")));

    QCOMPARE(check(2, &name, &seen), 1);
    QCOMPARE(name, QStringLiteral("Class 2"));
    QCOMPARE(seen.lines, (QStringList{"Class 1   : Not Supported", "Class 2   : Supported (recommended)",
                                      "Class 2.0 : Not Supported"}));

    QCOMPARE(check(3, &name, &seen), 2);
    QCOMPARE(name, QStringLiteral("Class 2.0"));
    QCOMPARE(seen.lines,
             (QStringList{"Class 1   : Not Supported", "Class 2   : Not Supported", "Class 2.0 : Supported"}));
    QVERIFY(seen.bold20);
    QVERIFY(sim.stop());
  }

  // A device that does not answer: the question, and on No the unknown lines.
  void classCheckSilentDevice() {
    qnsim::ScriptedModem silent;
    PointCom(4, silent.DevicePath());
    QStringList lines;
    QString status;
    qntest::ModalScript script;
    script.Then(WhenDone<qn::TCheckFaxClassForm>([&](qn::TCheckFaxClassForm* f) {
      lines = {f->Class1Line->text(), f->Class2Line->text(), f->Class20Line->text()};
      status = f->Status->text();
      f->OkButton->click();
    }));
    script.Answer(QMessageBox::No);  // the question comes while the window works
    QString name = QStringLiteral("x");
    QCOMPARE(qn::RunCheckFaxClass(nullptr, 4, &name), -1);
    QVERIFY(script.Done());
    QCOMPARE(name, QString());
    QCOMPARE(script.seen().size(), size_t(1));
    QCOMPARE(script.seen()[0].caption, QStringLiteral("NO MODEM RESPONSE"));
    QCOMPARE(lines, (QStringList{"Class 1   : unknown", "Class 2   : unknown", "Class 2.0 : unknown"}));
    QCOMPARE(status, QStringLiteral("No response from device on COM4. May not be a modem."));
  }

  // The helper's strings for each kind, the long-wait test, the kind guessed from
  // the current string, and the three ways out of its window.
  void initStringHelper() {
    QCOMPARE(qn::BuildInitString(4, true, false), std::string("AT&H3&I2&R2S7=90S36=8S33=34"));
    QCOMPARE(qn::BuildInitString(0, false, true), std::string("AT&F&C1&D2&K3S7=65"));
    QCOMPARE(qn::BuildInitString(0, true, false), std::string("AT&F&C1&D2&K3S7=65"));
    QCOMPARE(qn::BuildInitString(0, true, true), std::string("AT&F&C1&D2&K3S7=120"));
    QCOMPARE(qn::BuildInitString(1, false, false), std::string("AT&H3&I2&R2S7=65"));
    QCOMPARE(qn::BuildInitString(2, true, false), std::string("AT&H3&I2&R2S7=90S36=0"));
    QCOMPARE(qn::BuildInitString(3, true, true), std::string("AT&H3&I2&R2S7=120S36=8"));
    QCOMPARE(qn::BuildInitString(5, true, false), std::string("AT&F&C1&D2\\Q3S7=90"));

    QVERIFY(qn::LongS7("ATS7=100"));
    QVERIFY(qn::LongS7("ats7=66"));
    QVERIFY(!qn::LongS7("ATS7=65"));
    QVERIFY(!qn::LongS7("AT&H3S7=90"));  // with &H3 the limit is 90
    QVERIFY(qn::LongS7("AT&H3S7=91"));
    QVERIFY(!qn::LongS7("ATS7=X"));
    QVERIFY(!qn::LongS7("ATS7="));
    QVERIFY(!qn::LongS7("AT&F"));

    QCOMPARE(qn::ModemKindPreset("AT&H3&I2&R2S7=90S36=8S33=34"), 4);
    QCOMPARE(qn::ModemKindPreset("at&h3&i2&r2s7=90s36=0"), 2);
    QCOMPARE(qn::ModemKindPreset("AT&H3&I2&R2S7=90S36=8"), 3);
    QCOMPARE(qn::ModemKindPreset("AT&F&C1&D2\\Q3"), 5);
    QCOMPARE(qn::ModemKindPreset("AT&H3&I2&R2"), 1);
    QCOMPARE(qn::ModemKindPreset("AT&F"), 0);

    // Sending, a long wait in the string: the box starts checked and a click on
    // its caption clears it; kind 4 chosen with the keyboard.
    QString result;
    {
      qntest::ModalScript script;
      bool startedChecked = false, kindPreset = false;
      script.Then([&](QWidget* w) {
        auto* f = qobject_cast<qn::TModemInitStringHelperForm*>(w);
        startedChecked = f->LongWaitBox->isChecked();
        kindPreset = f->Kinds[1]->isChecked();
        QTest::mouseClick(f->LongWaitCaption, Qt::LeftButton);
        f->Kinds[4]->click();
        f->OkButton->click();
      });
      result = qn::InitStringHelper(nullptr, QStringLiteral("AT&R2S7=100"), true);
      QVERIFY(script.Done());
      QVERIFY(startedChecked);
      QVERIFY(kindPreset);
    }
    QCOMPARE(result, QStringLiteral("AT&H3&I2&R2S7=90S36=8S33=34"));
    {
      qntest::ModalScript script;
      bool boxShown = true;
      script.Then([&](QWidget* w) {
        auto* f = qobject_cast<qn::TModemInitStringHelperForm*>(w);
        boxShown = f->LongWaitBox->isVisible() || f->LongWaitCaption->isVisible();
        f->BlankButton->click();
      });
      QCOMPARE(qn::InitStringHelper(nullptr, QStringLiteral("ATZ"), false), QString());
      QVERIFY(!boxShown);  // receiving strings have no dial wait to choose
    }
    {
      qntest::ModalScript script;
      script.Then([](QWidget* w) { qobject_cast<qn::TModemInitStringHelperForm*>(w)->CancelButton->click(); });
      QCOMPARE(qn::InitStringHelper(nullptr, QStringLiteral("ATZ"), true), QStringLiteral("ATZ"));
    }
  }
};

QTEST_MAIN(ModemToolsTest)
#include "modem_tools_test.moc"
