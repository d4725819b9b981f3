// The Preferences Wizard and Quick Setup driven as a user drives them: pages
// walked with the buttons, values typed and clicked, Finish and Cancel, with
// QN.INI read back from the disk afterwards.
#include <cups/cups.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QPushButton>
#include <QScrollBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolTip>

#include "common/field_input.h"
#include "common/folders.h"
#include "common/help.h"
#include "common/ini_file.h"
#include "modal_script.h"
#include "sessions/prefs/preferences.h"
#include "sessions/prefs/prefs_tools.h"
#include "sessions/prefs/printer_offer.h"
#include "sessions/prefs/sip_account.h"
#include "sessions/secret_store.h"
#include "sessions/prefs/quick_setup.h"
#include "sessions/settings.h"
#include "sessions/sip_line.h"
#include "support/sipp_peer.h"

using namespace qn;
using qntest::ModalScript;

namespace {

void Click(QAbstractButton* b) {
  QVERIFY2(b->isVisible() && b->isEnabled(), qPrintable(b->text()));
  // A check box or radio button reacts on its box and caption only, not on the
  // empty rest of a stretched row: click the box.
  const bool box = qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b);
  QTest::mouseClick(b, Qt::LeftButton, {}, box ? QPoint(6, b->height() / 2) : QPoint());
}

void Type(QLineEdit* e, const QString& text) {
  e->setFocus();
  QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(e, Qt::Key_Delete);
  QTest::keyClicks(e, text);
}

void Press(QComboBox* list, Qt::Key key) {
  list->setFocus();
  QTest::keyClick(list, key);
}

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A settings file in which every key the wizard edits holds something other
// than its default, and the keys it leaves alone hold markers of their own.
void WriteStartingFile(const std::string& path) {
  IniFile ini(path);
  ini.WriteString("User", "Name", "Ann Lee");
  ini.WriteString("User", "Fax", "555 0100");
  ini.WriteString("User", "Voice", "555 0199");
  ini.WriteString("User", "Company", "Harbour Supplies");
  ini.WriteInteger("User", "PrefixDisable", 1);
  ini.WriteInteger("User", "SuffixDisable", 1);
  ini.WriteString("Dialing", "DialPrefix", "9,");
  ini.WriteString("Dialing", "DialSuffix", "#12");
  ini.WriteInteger("Dialing", "DialAttempts", 5);
  ini.WriteInteger("Dialing", "RetryWait", 90);
  ini.WriteInteger("Dialing", "BlindDial", 1);
  ini.WriteInteger("Dialing", "IgnoreBusy", 1);
  ini.WriteInteger("Dialing", "ToneOrPulse", 1);
  ini.WriteInteger("Dialing", "Timeout", 77);
  ini.WriteInteger("Dialing", "ECM", 1);
  ini.WriteInteger("Modem", "ComPort", 2);
  ini.WriteInteger("Modem", "FaxClass", 2);
  ini.WriteInteger("Modem", "MaximumBPS", 4800);
  ini.WriteString("Modem", "InitString", "ATS7=90");
  ini.WriteInteger("Modem", "RenegotiateBetween", 1);
  ini.WriteInteger("Modem", "FaxClassReceive", 3);
  ini.WriteInteger("Modem", "MaximumBPSReceive", 7200);
  ini.WriteString("Modem", "InitStringReceive", "ATS7=65");
  ini.WriteString("Resetting", "String", "AT&F");
  ini.WriteString("Resetting", "AfterString", "ATZ");
  ini.WriteInteger("Receive", "AtStartup", 1);
  ini.WriteInteger("Receive", "AnswerOnRing", 3);
  ini.WriteInteger("Receive", "ECMReceive", 0);
  ini.WriteString("Receive", "Wav", "/tmp/ring.wav");
  ini.WriteInteger("Receive", "PrintOnReceipt", 1);
  ini.WriteInteger("Receive", "DisableReceivingFaxesNotification", 1);
  ini.WriteInteger("Hints", "On", 0);
  ini.WriteInteger("Other", "ImposeWaitBeforePrinting", 1);
  ini.WriteInteger("Other", "UseMotorolaSM56Fix", 1);
  ini.WriteString("Ports", "COM3", "/dev/ttyUSB0");
  QVERIFY(ini.Flush());
}

// Answers the message boxes that open, in order, with the given buttons and
// keeps their texts. Only a visible message box is answered, so the window
// that opened it is never taken for one, however the boxes follow each other.
class BoxAnswers : public QObject {
 public:
  explicit BoxAnswers(std::vector<QMessageBox::StandardButton> buttons) : buttons_(std::move(buttons)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (busy_ || !box || !box->isVisible() || next_ >= buttons_.size()) return;
      busy_ = true;
      const QMessageBox::StandardButton button = buttons_[next_++];
      QTimer::singleShot(0, this, [this, box = QPointer<QMessageBox>(box), button] {
        if (box) {
          texts << box->text();
          if (QAbstractButton* b = box->button(button)) b->click();
        }
        busy_ = false;
      });
    });
    timer_.start(10);
  }
  bool AllAnswered() const { return next_ == buttons_.size() && !busy_; }
  QStringList texts;

 private:
  QTimer timer_;
  std::vector<QMessageBox::StandardButton> buttons_;
  size_t next_ = 0;
  bool busy_ = false;
};

}  // namespace

class PrefsTest : public QObject {
  Q_OBJECT
  QString home_;
  std::string ini_;
  QStringList boxTexts_;

  // Opens the wizard over the loaded settings, runs `act` on it and returns
  // what RunPreferencesWizard returned; the message boxes on the way are
  // answered with `answers`, and their texts kept in boxTexts_.
  bool Wizard(const std::function<void(TPreferences*)>& act, std::vector<QMessageBox::StandardButton> answers = {}) {
    BoxAnswers boxes(std::move(answers));
    ModalScript script;
    script.Then([&](QWidget* w) {
      auto* p = qobject_cast<TPreferences*>(w);
      if (!p) {
        w->close();
        QFAIL("the wizard did not open");
      }
      act(p);
      if (p->isVisible()) p->reject();  // a failed check must not leave the wizard open
    });
    const bool saved = RunPreferencesWizard();
    boxTexts_ = boxes.texts;
    [&] { QVERIFY2(boxes.AllAnswered(), qPrintable(boxes.texts.join(u'|'))); }();
    [&] { QVERIFY(script.Done()); }();
    [&] { QVERIFY2(script.unexpected().isEmpty(), qPrintable(script.unexpected().join(u','))); }();
    return saved;
  }

  // Writes an executable shell script into the test's home and makes it the
  // one the printer offer runs; returns its path.
  QString UseScript(const QString& name, const char* body) {
    const QString path = home_ + QLatin1Char('/') + name;
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
      f.write("#!/bin/sh\n");
      f.write(body);
      f.close();
      f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    qputenv("QUILLON_PRINTER_SCRIPT", path.toLocal8Bit());
    return path;
  }
  // Presses "Add the Quillon Fax printer" on the wizard's first page and waits
  // for the outcome; one message box is answered.
  void PressAdd(bool expectAdded) {
    Wizard(
        [expectAdded](TPreferences* p) {
          QVERIFY(p->PrinterOffer->isVisible());
          QSignalSpy finished(p->PrinterOffer, &TFaxPrinterOffer::Finished);
          Click(p->PrinterOffer->AddButton);
          QVERIFY(finished.wait(20000) || finished.count() == 1);
          QCOMPARE(finished.at(0).at(0).toBool(), expectAdded);
          QCOMPARE(p->PrinterOffer->isVisible(), !expectAdded);
          QVERIFY(p->PrinterOffer->AddButton->isEnabled());
        },
        {QMessageBox::Ok});
  }

 private slots:
  void init() {
    home_ = qntest::FreshHome(QString::fromLatin1(QTest::currentTestFunction()));
    ResetProgramFolder();
    ini_ = SettingsFile();
    Settings() = FaxSettings{};
    g_FirstRun = false;
    ModemTools() = ModemToolHooks{};
    SetWorkingSM56Fix(false);
  }

  // Every page shows the stored values, and every value changed on the pages
  // reaches QN.INI; the keys the wizard has no control for stay as they were.
  void everyPageLoadsAndSaves() {
    WriteStartingFile(ini_);
    LoadSettings();
    const bool saved = Wizard(
        [](TPreferences* p) {
          // What the pages show.
          QCOMPARE(p->PortGroup->ItemIndex(), 2);
          QCOMPARE(p->ToneGroup->ItemIndex(), 1);
          QCOMPARE(p->ResetBeforeEdit->text(), QStringLiteral("AT&F"));
          QCOMPARE(p->ResetAfterEdit->text(), QStringLiteral("ATZ"));
          QVERIFY(p->SM56Box->isChecked());
          QCOMPARE(p->ClassGroup->ItemIndex(), 2);
          QCOMPARE(p->SpeedList->currentText(), QStringLiteral("4800"));
          QCOMPARE(p->InitEdit->text(), QStringLiteral("ATS7=90"));
          QCOMPARE(p->NameEdit->text(), QStringLiteral("Ann Lee"));
          QCOMPARE(p->FaxEdit->text(), QStringLiteral("555 0100"));
          QVERIFY(p->ECMBox->isChecked());
          QCOMPARE(p->PrefixEdit->text(), QStringLiteral("9,"));
          QCOMPARE(p->SuffixEdit->text(), QStringLiteral("#12"));
          QCOMPARE(p->AttemptsEdit->text(), QStringLiteral("5"));
          QCOMPARE(p->RetryWaitEdit->text(), QStringLiteral("90"));
          QVERIFY(p->RenegotiateBox->isChecked() && p->BlindDialBox->isChecked() && p->IgnoreBusyBox->isChecked());
          QCOMPARE(p->ClassReceiveGroup->ItemIndex(), 3);
          QCOMPARE(p->SpeedReceiveList->currentText(), QStringLiteral("7200"));
          QCOMPARE(p->InitReceiveEdit->text(), QStringLiteral("ATS7=65"));
          QCOMPARE(p->RingGroup->ItemIndex(), 2);
          QVERIFY(p->AtStartupBox->isChecked());
          QVERIFY(!p->ECMReceiveBox->isChecked());
          QCOMPARE(p->WavEdit->text(), QStringLiteral("/tmp/ring.wav"));
          QVERIFY(p->PrintOnReceiptBox->isChecked());
          QCOMPARE(p->PrinterList->currentText(), QStringLiteral("Default printer"));  // stored as kDefaultPrinter
          QVERIFY(p->DisableNotificationBox->isChecked());
          QVERIFY(p->ImposeWaitBox->isChecked());

          // Changed page by page as a user does.
          QCOMPARE(p->CaptionLabel->text(), QStringLiteral("Wizard Information"));
          Click(p->NextButton);
          QCOMPARE(p->CaptionLabel->text(), QStringLiteral("Modem and Communications Port"));
          Click(p->PortGroup->Button(4));
          Click(p->ToneGroup->Button(0));
          Type(p->ResetBeforeEdit, QStringLiteral("AT&F0"));
          Type(p->ResetAfterEdit, QStringLiteral("ATZ0"));
          Click(p->SM56Box);
          Click(p->NextButton);
          Click(p->ClassGroup->Button(3));
          Press(p->SpeedList, Qt::Key_End);
          Type(p->InitEdit, QStringLiteral("AT&F&C1&D2&K3S7=65"));
          Click(p->NextButton);
          Type(p->NameEdit, QStringLiteral("Bo Marlow"));
          Type(p->FaxEdit, QStringLiteral("+44 20 7946 0321"));
          Click(p->ECMBox);
          Type(p->PrefixEdit, QStringLiteral("0,"));
          Type(p->SuffixEdit, QString());
          Click(p->NextButton);
          Type(p->AttemptsEdit, QStringLiteral("7"));
          Type(p->RetryWaitEdit, QStringLiteral("120"));
          Click(p->RenegotiateBox);
          Click(p->BlindDialBox);
          Click(p->IgnoreBusyBox);
          Click(p->NextButton);
          Click(p->ClassReceiveGroup->Button(0));
          Press(p->SpeedReceiveList, Qt::Key_Home);
          Type(p->InitReceiveEdit, QStringLiteral("ATX3"));
          Click(p->NextButton);
          Click(p->RingGroup->Button(7));
          Click(p->AtStartupBox);
          Click(p->ECMReceiveBox);
          Click(p->NextButton);
          Type(p->WavEdit, QStringLiteral("/tmp/bell.wav"));
          Click(p->PrintOnReceiptBox);
          Press(p->PrinterList, Qt::Key_End);
          Click(p->DisableNotificationBox);
          Click(p->NextButton);
          QCOMPARE(p->CaptionLabel->text(), QStringLiteral("Advanced"));
          Click(p->ImposeWaitBox);
          Click(p->FinishButton);
        },
        {QMessageBox::Yes});
    QVERIFY(saved);
    QCOMPARE(boxTexts_, QStringList{QStringLiteral("Save changes?")});

    const QStringList printers = [] {
      QStringList all;
      TPreferences p;
      for (int i = 0; i < p.PrinterList->count(); ++i) all << p.PrinterList->itemData(i).toString();
      return all;
    }();
    const IniFile ini(ini_);
    auto str = [&](const char* sec, const char* key) { return ini.ReadString(sec, key, "<missing>"); };
    auto num = [&](const char* sec, const char* key) { return ini.ReadInteger(sec, key, -999); };
    QCOMPARE(num("Modem", "ComPort"), 4);
    QCOMPARE(num("Dialing", "ToneOrPulse"), 0);
    QCOMPARE(str("Resetting", "String"), std::string("AT&F0"));
    QCOMPARE(str("Resetting", "AfterString"), std::string("ATZ0"));
    QCOMPARE(num("Other", "UseMotorolaSM56Fix"), 0);
    QCOMPARE(num("Modem", "FaxClass"), 3);
    QCOMPARE(num("Modem", "MaximumBPS"), 14400);
    QCOMPARE(str("Modem", "InitString"), std::string("AT&F&C1&D2&K3S7=65"));
    QCOMPARE(str("User", "Name"), std::string("Bo Marlow"));
    QCOMPARE(str("User", "Fax"), std::string("+44 20 7946 0321"));
    QCOMPARE(num("Dialing", "ECM"), 0);
    QCOMPARE(str("Dialing", "DialPrefix"), std::string("0,"));
    QCOMPARE(str("Dialing", "DialSuffix"), std::string());
    QCOMPARE(num("Dialing", "DialAttempts"), 7);
    QCOMPARE(num("Dialing", "RetryWait"), 120);
    QCOMPARE(num("Modem", "RenegotiateBetween"), 0);
    QCOMPARE(num("Dialing", "BlindDial"), 0);
    QCOMPARE(num("Dialing", "IgnoreBusy"), 0);
    QCOMPARE(num("Modem", "FaxClassReceive"), 0);
    QCOMPARE(num("Modem", "MaximumBPSReceive"), 2400);
    QCOMPARE(str("Modem", "InitStringReceive"), std::string("ATX3"));
    QCOMPARE(num("Receive", "AnswerOnRing"), 8);
    QCOMPARE(num("Receive", "AtStartup"), 0);
    QCOMPARE(num("Receive", "ECMReceive"), 1);
    QCOMPARE(str("Receive", "Wav"), std::string("/tmp/bell.wav"));
    QCOMPARE(num("Receive", "PrintOnReceipt"), 0);
    QCOMPARE(QString::fromStdString(str("Receive", "PrintOnReceiptPrinter")), printers.last());
    QCOMPARE(num("Receive", "DisableReceivingFaxesNotification"), 0);
    QCOMPARE(num("Other", "ImposeWaitBeforePrinting"), 0);
    // Not the wizard's: as they were.
    QCOMPARE(str("User", "Voice"), std::string("555 0199"));
    QCOMPARE(str("User", "Company"), std::string("Harbour Supplies"));
    QCOMPARE(num("User", "PrefixDisable"), 1);
    QCOMPARE(num("User", "SuffixDisable"), 1);
    QCOMPARE(num("Dialing", "Timeout"), 77);
    QCOMPARE(num("Hints", "On"), 0);
    QCOMPARE(str("Ports", "COM3"), std::string("/dev/ttyUSB0"));
    QCOMPARE(str("Version", "Version"), std::string("2.9s"));
    // The record the program runs on is the one saved.
    QCOMPARE(Settings().Name, std::string("Bo Marlow"));
    QVERIFY(!WorkingSM56Fix());
  }

  // "No" to "Save changes?" keeps the wizard and its edits; Cancel then saves
  // nothing, neither to the record nor to the file.
  void cancelSavesNothing() {
    WriteStartingFile(ini_);
    LoadSettings();
    const QByteArray before = FileBytes(QString::fromStdString(ini_));
    const FaxSettings record = Settings();
    const bool saved = Wizard(
        [](TPreferences* p) {
          p->SetPage(3);
          Type(p->NameEdit, QStringLiteral("Changed"));
          Click(p->FinishButton);  // answered No below
          QVERIFY(p->isVisible());
          QCOMPARE(p->NameEdit->text(), QStringLiteral("Changed"));
          Click(p->CancelButton);
        },
        {QMessageBox::No});
    QVERIFY(!saved);
    QCOMPARE(FileBytes(QString::fromStdString(ini_)), before);
    QCOMPARE(Settings().Name, record.Name);
  }

  // The captions of the question box, the page list and the buttons that
  // follow the page; on a first run the warning shows and Finish waits for
  // the last page.
  void pagesButtonsAndFirstRun() {
    g_FirstRun = true;
    Wizard([](TPreferences* p) {
      QVERIFY(p->FirstRun());
      QVERIFY(!g_FirstRun);  // taken over by the wizard
      QCOMPARE(p->windowTitle(), QStringLiteral("Preferences Wizard"));
      QVERIFY(p->FirstRunWarning->isVisible());
      QVERIFY(!p->BackButton->isEnabled());
      for (int page = 0; page < TPreferences::kPageCount - 1; ++page) {
        QCOMPARE(p->Page(), page);
        QVERIFY2(!p->FinishButton->isEnabled(), TPreferences::kPageTitles[page]);
        Click(p->NextButton);
      }
      QCOMPARE(p->Page(), TPreferences::kPageCount - 1);
      QVERIFY(p->FinishButton->isEnabled());
      QVERIFY(!p->NextButton->isEnabled());
      // The list jumps; the caption and the list follow every move.
      p->PageList->setFocus();
      QTest::keyClick(p->PageList, Qt::Key_Home);
      QCOMPARE(p->Page(), 0);
      Click(p->NextButton);
      Click(p->NextButton);
      Click(p->BackButton);
      QCOMPARE(p->Page(), 1);
      QCOMPARE(p->PageList->currentText(), QStringLiteral("Modem and Communications Port"));
      QCOMPARE(p->CaptionLabel->text(), p->PageList->currentText());
      // Tab walks a page's controls top to bottom, then the buttons.
      p->SetPage(3);
      p->NameEdit->setFocus();
      for (QWidget* next :
           std::initializer_list<QWidget*>{p->FaxEdit, p->ECMBox, p->PrefixEdit, p->SuffixEdit, p->HelpButton}) {
        QTest::keyClick(p->focusWidget(), Qt::Key_Tab);
        QCOMPARE(p->focusWidget(), next);
      }
      Click(p->CancelButton);
    });
    QVERIFY(!g_FirstRun);
    // A later run: no warning, Finish on every page.
    Wizard([](TPreferences* p) {
      QVERIFY(!p->FirstRunWarning->isVisible());
      for (int page = 0; page < TPreferences::kPageCount; ++page) {
        QVERIFY(p->FinishButton->isEnabled());
        if (p->NextButton->isEnabled()) Click(p->NextButton);
      }
      Click(p->CancelButton);
    });
  }

  // Values the lists and groups cannot show: the rate list's unknown rate is
  // 9600, a printer that went away is the default printer, and a port or ring
  // out of range is kept rather than replaced.
  void valuesThePagesCannotShow() {
    {
      IniFile ini(ini_);
      ini.WriteInteger("Modem", "MaximumBPS", 19200);
      ini.WriteString("Receive", "PrintOnReceiptPrinter", "Gone Printer 9");
      ini.WriteInteger("Receive", "AnswerOnRing", 12);
      ini.WriteInteger("Modem", "ComPort", 7);
      QVERIFY(ini.Flush());
    }
    LoadSettings();
    QVERIFY(Wizard(
        [](TPreferences* p) {
          QCOMPARE(p->SpeedList->currentText(), QStringLiteral("9600"));
          QCOMPARE(p->PrinterList->currentIndex(), 0);
          QCOMPARE(p->PrinterList->currentText(), QStringLiteral("Default printer"));
          QCOMPARE(p->RingGroup->ItemIndex(), -1);
          QCOMPARE(p->PortGroup->ItemIndex(), -1);
          Click(p->FinishButton);
        },
        {QMessageBox::Yes}));
    const IniFile ini(ini_);
    QCOMPARE(ini.ReadInteger("Modem", "MaximumBPS", 0), 9600);
    QCOMPARE(ini.ReadString("Receive", "PrintOnReceiptPrinter", ""), std::string("Default Windows Printer"));
    QCOMPARE(ini.ReadInteger("Receive", "AnswerOnRing", 0), 12);
    QCOMPARE(ini.ReadInteger("Modem", "ComPort", 0), 7);
  }

  // Lengths and numbers: the name takes 35 characters, the fax number 20, the
  // dial numbers digits only; a number left empty stops Finish with a message,
  // keeps the wizard open on its page and writes nothing.
  void limitsAndNumbers() {
    LoadSettings();
    const bool saved = Wizard(
        [](TPreferences* p) {
          p->SetPage(3);
          Type(p->NameEdit, QString(40, QLatin1Char('n')));
          QCOMPARE(p->NameEdit->text().size(), 35);
          QVERIFY(QToolTip::isVisible() && QToolTip::text() == FieldFullNote(35));  // says so at the field
          Type(p->FaxEdit, QString(25, QLatin1Char('5')));
          QCOMPARE(p->FaxEdit->text().size(), 20);
          Click(p->NextButton);
          Type(p->AttemptsEdit, QStringLiteral("x4y"));
          QCOMPARE(p->AttemptsEdit->text(), QStringLiteral("4"));
          Type(p->RetryWaitEdit, QString());
          p->SetPage(6);
          Click(p->FinishButton);  // Yes, then the number message
          QVERIFY(p->isVisible());
          QCOMPARE(p->Page(), 4);
          QCOMPARE(p->focusWidget(), p->RetryWaitEdit);
          QCOMPARE(p->NameEdit->text().size(), 35);
          Click(p->CancelButton);
        },
        {QMessageBox::Yes, QMessageBox::Ok});
    QVERIFY(!saved);
    QCOMPARE(boxTexts_,
             (QStringList{QStringLiteral("Save changes?"), QStringLiteral("'' is not a valid integer value")}));
    QVERIFY(!QFile::exists(QString::fromStdString(ini_)));
    QCOMPARE(Settings().Name, std::string());
  }

  // "Same as SEND", "None", the SM56 box (at once, before any save) and the
  // help topic of each group of pages.
  void pageButtons() {
    LoadSettings();
    Wizard([](TPreferences* p) {
      p->SetPage(1);
      Click(p->SM56Box);
      QVERIFY(WorkingSM56Fix());
      p->SetPage(2);
      Click(p->ClassGroup->Button(2));
      Press(p->SpeedList, Qt::Key_End);
      Type(p->InitEdit, QStringLiteral("AT&H3&I2&R2S7=90"));
      p->SetPage(5);
      Click(p->SameClassButton);
      Click(p->SameSpeedButton);
      Click(p->SameInitButton);
      QCOMPARE(p->ClassReceiveGroup->ItemIndex(), 2);
      QCOMPARE(p->SpeedReceiveList->currentText(), QStringLiteral("14400"));
      QCOMPARE(p->InitReceiveEdit->text(), QStringLiteral("AT&H3&I2&R2S7=90"));
      p->SetPage(7);
      Type(p->WavEdit, QStringLiteral("/nowhere/x.wav"));
      Click(p->NoWavButton);
      QVERIFY(p->WavEdit->text().isEmpty());
      const std::pair<int, const char*> topics[] = {{0, "Preferences Wizard"},
                                                    {1, "modem and communications port"},
                                                    {3, "sending faxes"},
                                                    {7, "receiving faxes"},
                                                    {8, "Preferences Wizard"}};
      for (const auto& [page, title] : topics) {
        p->SetPage(page);
        Click(p->HelpButton);
        QVERIFY(HelpWindow());
        auto* browser = HelpWindow()->findChild<QTextBrowser*>();
        QVERIFY(browser);
        QVERIFY2(browser->documentTitle().contains(QLatin1String(title)), qPrintable(browser->documentTitle()));
      }
      HelpWindow()->close();
      Click(p->CancelButton);
    });
    // Cancel keeps the working flag the box set; the next save sets it from the setting.
    QVERIFY(WorkingSM56Fix());
  }

  // F1 on a page opens that page's topic; the help then scrolls and closes with
  // Escape while the wizard stays open (keys go in through the window system,
  // which drops them for windows a modal dialog blocks), and the wizard still
  // takes its own keys.
  void helpBesideTheWizard() {
    LoadSettings();
    bool scrolled = false, closed = false, wizardAlive = false;
    Wizard([&](TPreferences* p) {
      p->SetPage(5);
      p->activateWindow();
      p->CancelButton->setFocus();
      QTest::keyClick(p->windowHandle(), Qt::Key_F1);
      QWidget* help = HelpWindow();
      QVERIFY(help && help->isVisible());
      auto* browser = help->findChild<QTextBrowser*>();
      QVERIFY2(browser->documentTitle().contains(QLatin1String("receiving faxes")), qPrintable(browser->documentTitle()));
      help->resize(280, 140);
      QCoreApplication::processEvents();
      help->activateWindow();
      QScrollBar* bar = browser->verticalScrollBar();
      QVERIFY(bar->maximum() > 0);
      QTest::keyClick(help->windowHandle(), Qt::Key_PageDown);
      scrolled = bar->value() > 0;
      QPointer<QWidget> guard(help);
      QTest::keyClick(help->windowHandle(), Qt::Key_Escape);
      QCoreApplication::processEvents();
      closed = !guard || !guard->isVisible();
      p->activateWindow();
      p->SetPage(1);
      p->CancelButton->setFocus();
      QTest::keyClick(p->windowHandle(), Qt::Key_F1);
      QVERIFY(HelpWindow() && HelpWindow()->isVisible());
      QVERIFY(HelpWindow()->findChild<QTextBrowser*>()->documentTitle().contains(
          QLatin1String("modem and communications port")));
      wizardAlive = p->isVisible();
      Click(p->CancelButton);
    });
    QVERIFY2(scrolled, "the help window did not scroll beside the wizard");
    QVERIFY2(closed, "Escape did not close the help window");
    QVERIFY(wizardAlive);
    QVERIFY(HelpWindow() && HelpWindow()->isVisible());  // outlives the wizard
    HelpWindow()->close();
  }

  // The modem tools behind the buttons: disabled when the build has none; the
  // finder's port is selected, the class check's recommendation offered for
  // the class beside the button, the init-string helper's result taken.
  void modemToolButtons() {
    LoadSettings();
    Wizard([](TPreferences* p) {
      for (QPushButton* b : {p->FindModemButton, p->CheckClassButton, p->CheckClassReceiveButton, p->InitHelpButton,
                             p->InitReceiveHelpButton})
        QVERIFY2(!b->isEnabled(), qPrintable(b->text()));
      Click(p->CancelButton);
    });

    QList<int> finderSelected, checkedPorts;
    QList<bool> helperForSending;
    ModemTools().FindModem = [&](QWidget*, int selected) {
      finderSelected << selected;
      return 3;
    };
    ModemTools().CheckFaxClass = [&](QWidget*, int com, QString* name) {
      checkedPorts << com;
      *name = QStringLiteral("Class 2");
      return 1;
    };
    ModemTools().InitStringHelper = [&](QWidget*, const QString& current, bool forSending) {
      helperForSending << forSending;
      return current + QStringLiteral("S7=120");
    };
    Settings().ComPort = 1;
    const bool saved = Wizard(
        [](TPreferences* p) {
          p->SetPage(1);
          Click(p->FindModemButton);
          QCOMPARE(p->PortGroup->ItemIndex(), 2);
          p->SetPage(2);
          Type(p->InitEdit, QStringLiteral("AT"));
          Click(p->InitHelpButton);
          QCOMPARE(p->InitEdit->text(), QStringLiteral("ATS7=120"));
          Click(p->CheckClassButton);  // "Set fax class as Class 2 ?" Yes
          QCOMPARE(p->ClassGroup->ItemIndex(), 2);
          p->SetPage(5);
          Click(p->ClassReceiveGroup->Button(1));
          Click(p->CheckClassReceiveButton);  // No
          QCOMPARE(p->ClassReceiveGroup->ItemIndex(), 1);
          Click(p->InitReceiveHelpButton);
          QCOMPARE(p->InitReceiveEdit->text(), QStringLiteral("S7=120"));
          Click(p->CancelButton);
        },
        {QMessageBox::Yes, QMessageBox::No});
    QVERIFY(!saved);
    QCOMPARE(boxTexts_, QStringList(2, QStringLiteral("Set fax class as Class 2 ?")));
    QCOMPARE(finderSelected, QList<int>{2});
    QCOMPARE(checkedPorts, (QList<int>{3, 3}));
    QCOMPARE(helperForSending, (QList<bool>{true, false}));

    // A port the group cannot show is not tested: the user is sent to choose one.
    Settings().ComPort = 9;
    Wizard(
        [](TPreferences* p) {
          p->SetPage(5);
          Click(p->CheckClassReceiveButton);
          QCOMPARE(p->Page(), 1);
          Click(p->CancelButton);
        },
        {QMessageBox::Ok});
    QCOMPARE(checkedPorts.size(), 2);
  }

  // Quick Setup on a first run: Com1 offered, the answers saved to QN.INI on
  // Ok and the first-run flag cleared; Cancel stores nothing.
  // Every port list shows the device behind each COM port; the wizard shows the
  // selected port's device from [Ports] of QN.INI and saves a device typed for it.
  void portsShowTheirDevicesAndTheirMapping() {
    for (int n = 1; n <= 6; ++n) qunsetenv(("QN_COM" + std::to_string(n)).c_str());
    // A fake modem: the far end of a pseudo-terminal, mapped to COM3 by its path.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString pty = QString::fromLocal8Bit(::ptsname(master));
    {
      IniFile ini(ini_);
      ini.WriteInteger("Modem", "ComPort", 2);
      ini.WriteString("Ports", "COM3", pty.toStdString());
      QVERIFY(ini.Flush());
    }
    LoadSettings();
    const QString com3 = QStringLiteral("COM3 \u2014 ") + pty + QStringLiteral(" (pseudo-terminal)");
    QString shown3, shown1, device3, device4, note4, pinnedNote;
    bool pinnedEnabled = true;
    QVERIFY(Wizard(
        [&](TPreferences* p) {
          p->SetPage(1);
          shown3 = p->PortGroup->Button(2)->text();
          shown1 = p->PortGroup->Button(0)->text();
          device3 = p->PortDeviceBox->currentText();
          Click(p->PortGroup->Button(3));
          device4 = p->PortDeviceBox->currentText();
          note4 = p->PortDeviceNote->text();
          p->PortDeviceBox->setFocus();
          QTest::keyClick(p->PortDeviceBox, Qt::Key_A, Qt::ControlModifier);
          QTest::keyClicks(p->PortDeviceBox, pty + QStringLiteral(" "));  // a blank typed after it is not kept
          qputenv("QN_COM5", "/dev/ttyUSB5");
          Click(p->PortGroup->Button(4));
          pinnedEnabled = p->PortDeviceBox->isEnabled();
          pinnedNote = p->PortDeviceNote->text();
          qunsetenv("QN_COM5");
          Click(p->PortGroup->Button(2));
          Click(p->FinishButton);
        },
        {QMessageBox::Yes}));
    QCOMPARE(shown3, com3);
    QVERIFY2(shown1.startsWith(QStringLiteral("COM1 \u2014 /dev/ttyS0 (")), qPrintable(shown1));
    QCOMPARE(device3, pty);
    QCOMPARE(device4, QStringLiteral("/dev/ttyS3"));
    QCOMPARE(note4, QStringLiteral("Saved as COM4 in section [Ports] of QN.INI."));
    QVERIFY(!pinnedEnabled);
    QVERIFY(pinnedNote.contains(QStringLiteral("QN_COM5")));
    {
      const IniFile ini(ini_);
      QCOMPARE(ini.ReadString("Ports", "COM4", ""), pty.toStdString());
      QCOMPARE(ini.ReadString("Ports", "COM3", ""), pty.toStdString());
      QCOMPARE(ini.ReadString("Ports", "COM1", "unset"), std::string("unset"));  // unchanged ports are not written
      QCOMPARE(ini.ReadString("Ports", "COM5", "unset"), std::string("unset"));
      QCOMPARE(ini.ReadInteger("Modem", "ComPort", -1), 2);
    }
    // Quick Setup lists the same ports, COM4 now with the device typed for it.
    ModalScript script;
    QString quick4;
    script.Then([&](QWidget* w) {
      auto* f = qobject_cast<TQuickSetupForm*>(w);
      QVERIFY(f);
      quick4 = f->PortGroup->Button(3)->text();
      Click(f->CancelButton);
    });
    QVERIFY(!RunQuickSetup());
    QVERIFY(script.Done());
    QCOMPARE(quick4, QStringLiteral("COM4 \u2014 ") + pty + QStringLiteral(" (pseudo-terminal)"));
    ::close(master);
  }

  void quickSetupWritesTheSettingsFile() {
    g_FirstRun = true;
    Settings().ComPort = 0;  // the main window's first-run default
    {
      ModalScript script;
      script.Then([](QWidget* w) {
        auto* f = qobject_cast<TQuickSetupForm*>(w);
        QVERIFY(f);
        QCOMPARE(f->windowTitle(), QStringLiteral("Quick Setup Form"));
        QCOMPARE(f->PortGroup->ItemIndex(), 0);
        QVERIFY(!f->FindModemButton->isEnabled());
        Type(f->NameEdit, QStringLiteral("Nobody"));
        Click(f->CancelButton);
      });
      QVERIFY(!RunQuickSetup());
      QVERIFY(script.Done());
    }
    QVERIFY(g_FirstRun);
    QVERIFY(!QFile::exists(QString::fromStdString(ini_)));
    QCOMPARE(Settings().ComPort, 0);  // still a usable port for this run

    ModemTools().FindModem = [](QWidget*, int selected) { return selected == 1 ? 5 : 0; };
    {
      ModalScript script;
      script.Then([](QWidget* w) {
        auto* f = qobject_cast<TQuickSetupForm*>(w);
        QVERIFY(f);
        Click(f->FindModemButton);
        QCOMPARE(f->PortGroup->ItemIndex(), 4);
        Click(f->PortGroup->Button(3));
        Type(f->NameEdit, QString(36, QLatin1Char('m')));
        Type(f->FaxEdit, QStringLiteral("+1 555 0100 ext 9999 99"));
        Click(f->SM56Box);
        QVERIFY(WorkingSM56Fix());
        Click(f->OkButton);
      });
      QVERIFY(RunQuickSetup());
      QVERIFY(script.Done());
    }
    QVERIFY(!g_FirstRun);
    const IniFile ini(ini_);
    QCOMPARE(ini.ReadInteger("Modem", "ComPort", -1), 3);
    QCOMPARE(ini.ReadString("User", "Name", ""), std::string(35, 'm'));
    QCOMPARE(ini.ReadString("User", "Fax", ""), std::string("+1 555 0100 ext 9999"));
    QVERIFY(ini.ReadBool("Other", "UseMotorolaSM56Fix", false));
    QCOMPARE(ini.ReadString("Version", "Version", ""), std::string("2.9s"));

    // A second Quick Setup shows what the first stored.
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* f = qobject_cast<TQuickSetupForm*>(w);
      QVERIFY(f);
      QCOMPARE(f->PortGroup->ItemIndex(), 3);
      QCOMPARE(f->NameEdit->text(), QString(35, QLatin1Char('m')));
      QVERIFY(f->SM56Box->isChecked());
      Click(f->CancelButton);
    });
    QVERIFY(!RunQuickSetup());
    QVERIFY(script.Done());
  }
  // "I have no fax modem": Quick Setup's account road and the wizard's SIP page
  // keep the account in [SIP] and its password out of QN.INI.
  void sipAccountWithoutAModem() {
    qputenv("QUILLON_SECRET_STORE", "file");
    const auto restore = qScopeGuard([] { qunsetenv("QUILLON_SECRET_STORE"); });
    g_FirstRun = true;
    ModalScript script;
    script.Then([](QWidget* w) {
      auto* f = qobject_cast<TQuickSetupForm*>(w);
      QVERIFY(f);
      QVERIFY(f->PortGroup->isVisible() && !f->SipBox->isVisible());
      Click(f->NoModemBox);
      QVERIFY(!f->PortGroup->isVisible() && !f->FindModemButton->isVisible() && f->SipBox->isVisible());
      Type(f->SipBox->User, QStringLiteral("4930123456"));
      Type(f->SipBox->Domain, QStringLiteral("sip.example.net"));
      Type(f->SipBox->PasswordEdit, QStringLiteral("n0t in the ini"));
      QCOMPARE(f->SipBox->PasswordEdit->echoMode(), QLineEdit::Password);
      Click(f->OkButton);
    });
    QVERIFY(RunQuickSetup());
    QVERIFY(script.Done());
    {
      const IniFile ini(ini_);
      QVERIFY(ini.ReadBool("SIP", "UseAccount", false));
      QCOMPARE(ini.ReadString("SIP", "User", ""), std::string("4930123456"));
      QCOMPARE(ini.ReadString("SIP", "Domain", ""), std::string("sip.example.net"));
    }
    QFile file(QString::fromStdString(ini_));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("n0t in the ini"));
    QCOMPARE(LoadSipPassword("4930123456@sip.example.net"), std::string("n0t in the ini"));

    // The wizard's last page shows the account, password included, and keeps
    // what is changed there.
    Wizard(
        [](TPreferences* p) {
          p->SetPage(TPreferences::kPageCount - 1);
          QCOMPARE(p->CaptionLabel->text(), QStringLiteral("SIP Account"));
          QVERIFY(p->SipLineBox->isChecked() && p->SipBox->isEnabled());
          QCOMPARE(p->SipBox->PasswordEdit->text(), QStringLiteral("n0t in the ini"));
          QCOMPARE(p->SipBox->MediaLow->value(), 10000);
          Click(p->SipBox->T38);
          p->SipBox->Codec->setCurrentIndex(1);
          p->SipBox->MediaLow->setValue(20000);
          p->SipBox->MediaHigh->setValue(20099);
          Type(p->SipBox->PasswordEdit, QStringLiteral("changed"));
          Click(p->FinishButton);
        },
        {QMessageBox::Yes});
    const IniFile ini(ini_);
    QVERIFY(!ini.ReadBool("SIP", "T38", true));
    QCOMPARE(ini.ReadString("SIP", "Codec", ""), std::string("PCMU"));
    QCOMPARE(ini.ReadInteger("SIP", "MediaPortLow", 0), 20000);
    QCOMPARE(LoadSipPassword("4930123456@sip.example.net"), std::string("changed"));
    // Without a tool to register with, "Test account" cannot be pressed.
    TSipAccountBox box(false);
    QVERIFY(!box.TestButton->isEnabled());
  }

  // "Test account" as the program fills it in: Quick Setup's account registers
  // with a SIPp registrar that checks the digest, and the answer reads in plain
  // words, for the right password and for a wrong one.
  void sipTestAccountRegisters() {
    if (!siptest::HaveSipp()) QSKIP("sipp is not installed");
    ModemTools().TestSipAccount = &TestSipRegistration;
    const auto restore = qScopeGuard([] { ModemTools().TestSipAccount = nullptr; });
    g_FirstRun = true;
    const int port = siptest::FreeUdpPort();
    QString good, wrong;
    int goodExit = -2;
    ModalScript script;
    script.Then([&](QWidget* w) {
      auto* f = qobject_cast<TQuickSetupForm*>(w);
      QVERIFY(f);
      Click(f->NoModemBox);
      QVERIFY(f->SipBox->TestButton->isEnabled());
      // Without the account's name the test asks for it and registers nothing.
      Type(f->SipBox->User, QString());
      Click(f->SipBox->TestButton);
      QVERIFY(f->SipBox->Answer->text().contains(QStringLiteral("user name")));
      Type(f->SipBox->User, QStringLiteral("quillon"));
      Type(f->SipBox->Domain, QStringLiteral("fax.test"));
      Type(f->SipBox->Registrar, QStringLiteral("127.0.0.1:") + QString::number(port));
      Type(f->SipBox->PasswordEdit, QStringLiteral("fax-secret"));
      {
        siptest::SippPeer registrar;
        QVERIFY(registrar.Start("register_digest.xml", port));
        Click(f->SipBox->TestButton);
        good = f->SipBox->Answer->text();
        goodExit = registrar.Wait(std::chrono::seconds(10));
        if (goodExit != 0) qWarning("%s", registrar.Log().c_str());
      }
      QVERIFY(f->SipBox->TestButton->isEnabled());
      Type(f->SipBox->PasswordEdit, QStringLiteral("not-the-password"));
      {
        siptest::SippPeer registrar;
        QVERIFY(registrar.Start("register_digest.xml", port));
        Click(f->SipBox->TestButton);
        wrong = f->SipBox->Answer->text();
      }
      Click(f->CancelButton);
    });
    QVERIFY(!RunQuickSetup());
    QVERIFY(script.Done());
    QCOMPARE(good, QStringLiteral("Registered."));
    QCOMPARE(goodExit, 0);  // the registrar saw the right digest and the un-REGISTER
    QCOMPARE(wrong, QStringLiteral("The password is wrong."));
  }

  // While CUPS has no "Quillon Fax" queue, Quick Setup and the wizard's first
  // page offer to add it; a failed attempt names the administrator's command,
  // and a successful one (against a private cupsd, as root) hides the offer.
  void printerOfferAddsTheQueue() {
    const QByteArray oldServer = qgetenv("CUPS_SERVER");
    const auto restore = qScopeGuard([&] {
      qputenv("CUPS_SERVER", oldServer);
      qunsetenv("QUILLON_PRINTER_SCRIPT");
      cupsSetServer(nullptr);
    });
    const QString nowhere = home_ + QStringLiteral("/no-cups.sock");
    qputenv("CUPS_SERVER", nowhere.toLocal8Bit());
    cupsSetServer(nowhere.toLocal8Bit().constData());
    QVERIFY(!FaxQueueExists());
    {
      ModalScript script;
      script.Then([](QWidget* w) {
        auto* f = qobject_cast<TQuickSetupForm*>(w);
        QVERIFY(f);
        QVERIFY(f->PrinterOffer->isVisible());
        QVERIFY(f->PrinterOffer->AddButton->text().contains(QStringLiteral("Quillon Fax")));
        Click(f->CancelButton);
      });
      QVERIFY(!RunQuickSetup());
      QVERIFY(script.Done());
    }

    // A script that fails: the message says so and names the command to run.
    const QString failing = UseScript(QStringLiteral("failing.sh"), "echo 'lpadmin: Unable to connect to server'\nexit 1\n");
    PressAdd(false);
    QCOMPARE(boxTexts_.size(), 1);
    QVERIFY2(boxTexts_[0].contains(QStringLiteral("sudo ") + failing), qPrintable(boxTexts_[0]));
    if (geteuid() == 0) QVERIFY2(boxTexts_[0].contains(QStringLiteral("Unable to connect")), qPrintable(boxTexts_[0]));

    // The queue added for real, by the lpadmin line the installation uses.
    if (geteuid() != 0) QSKIP("adding a queue to a private cupsd needs root");
    const QString cups = home_ + QStringLiteral("/cups");
    QProcess start;
    start.start(QStringLiteral("bash"), {QStringLiteral(QN_SOURCE_DIR) + QStringLiteral("/tests/support/private_cupsd.sh"),
                                         QStringLiteral("start"), cups});
    QVERIFY(start.waitForFinished(30000));
    if (start.exitCode() == 77) QSKIP("no private cupsd here");
    QCOMPARE(start.exitCode(), 0);
    const auto stop = qScopeGuard([&] {
      QProcess::execute(QStringLiteral("bash"), {QStringLiteral(QN_SOURCE_DIR) + QStringLiteral("/tests/support/private_cupsd.sh"),
                                                 QStringLiteral("stop"), cups});
    });
    QVERIFY(QFile::copy(qEnvironmentVariable("QN_BINARY_DIR") + QStringLiteral("/bin/quillon-backend"), cups + QStringLiteral("/serverbin/backend/quillon")));
    QFile::setPermissions(cups + QStringLiteral("/serverbin/backend/quillon"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString sock = QString::fromLocal8Bit(start.readAllStandardOutput()).trimmed();
    qputenv("CUPS_SERVER", sock.toLocal8Bit());
    cupsSetServer(sock.toLocal8Bit().constData());
    UseScript(QStringLiteral("adding.sh"),
              "ppd=" QN_SOURCE_DIR "/src/printdriver/quillon-fax.ppd queue=Quillon_Fax\n"
              "line=$(grep '^lpadmin -p' " QN_SOURCE_DIR "/scripts/install-printer.sh)\n"
              "for i in 1 2 3 4 5; do eval \"$line\" && exit 0; sleep 0.5; done\nexit 1\n");
    PressAdd(true);
    QCOMPARE(boxTexts_.size(), 1);
    QVERIFY2(boxTexts_[0].contains(QStringLiteral("is ready")), qPrintable(boxTexts_[0]));
    QVERIFY(FaxQueueExists());
  }
};

QTEST_MAIN(PrefsTest)
#include "prefs_test.moc"
