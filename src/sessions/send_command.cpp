#include "sessions/send_command.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>

#include "common/dialogs.h"
#include "common/folders.h"
#include "records/ui/record_grid.h"
#include "sessions/send_fax_form.h"
#include "sessions/settings.h"

namespace qn {

TFaxFilesToSend ChooseFaxFiles(const std::string& sendFolder, const std::string& faxDoc, const std::string& faxCover) {
  auto existing = [&](const std::string& name) -> std::string {
    const std::string path = FileInFolder(sendFolder, name);
    return !path.empty() && FileExists(path) ? path : std::string();
  };
  const std::string doc = existing(faxDoc), cover = existing(faxCover);
  TFaxFilesToSend files;
  if (!doc.empty()) {
    files.faxFile = doc;
    files.coverFile = cover;
  } else {
    files.faxFile = cover;
  }
  return files;
}

int StoreSendResult(xb::Table& table, uint32_t recNo, const QString& result, const QString& phone,
                    const QDateTime& now) {
  // Never edit whatever record the handle is on instead of the fax's own.
  if (const int rc = table.go(recNo); rc < 0) return rc;
  const QString upper = result.toUpper();
  const bool sent = upper == QLatin1String("SENT") || upper == QLatin1String("OK");
  int rc = 0;
  if (!result.trimmed().isEmpty()) rc = table.setString("LASTRESULT", ToField(result));
  if (rc == 0) rc = table.setString("PHONE", ToField(phone));
  if (rc == 0 && sent) rc = table.setDate("DATESENT", ToField(now.date().toString(QStringLiteral("yyyyMMdd"))));
  if (rc == 0 && sent) rc = table.setString("TIMESENT", ToField(now.time().toString(QStringLiteral("hh:mm"))));
  if (rc == 0) rc = table.post();
  // A half-made change is dropped, so that no later move posts part of it.
  if (rc < 0) table.cancel();
  return rc;
}

bool SendCurrentFax(QWidget* parent, xb::Table& table, const std::function<void(const QString&)>& status) {
  const uint32_t recNo = table.recNo();
  auto say = [&](const QString& text) {
    if (status) status(text);
  };
  say(QStringLiteral("Preparing fax files..."));
  const TFaxFilesToSend files =
      ChooseFaxFiles(SendFolder(), table.getTrimString("FAXDOC"), table.getTrimString("FAXCOVER"));
  if (files.faxFile.empty()) {
    say(QString());
    MessageBoxText(QStringLiteral("Error opening fax file"), QStringLiteral("Send Fax"), mbOk | mbIconError);
    return false;
  }
  say(QStringLiteral("Preparing Send Fax form..."));
  FaxSettings& s = Settings();
  QString result, phone;
  QDateTime ended;
  // A record that cannot take the outcome must not silently keep an older one:
  // the user is told, once for each outcome.
  QString failureShown;
  auto store = [&](const QString& outcome, const QString& number, const QDateTime& at) {
    if (StoreSendResult(table, recNo, outcome, number, at) == 0) return;
    if (!failureShown.isNull() && failureShown == outcome) return;
    failureShown = outcome;
    const QString what = outcome.trimmed().isEmpty()
                             ? QStringLiteral("The fax number")
                             : QStringLiteral("The outcome \"") + outcome + QStringLiteral("\"");
    MessageBoxText(what + QStringLiteral(" could not be written into the fax's record:\r") +
                       QString::fromStdString(table.lastError()),
                   QStringLiteral("Send Fax"), mbOk | mbIconError);
  };
  {
    TSendFaxForm form(parent);
    // The outcome goes into the record as soon as the session ends, while the
    // window still shows it: a program that never gets past that message (a
    // crash, the session's end) leaves a record that says what happened.
    QObject::connect(&form, &TSendFaxForm::ResultReady, &form,
                     [&] { store(form.ResultText, form.sfPhoneNumber->text(), form.ResultTime); });
    CentreForm(&form);
    form.FaxFile = QString::fromStdString(files.faxFile);
    form.CoverFile = QString::fromStdString(files.coverFile);
    form.ToLabel->setText(FromField(table.getTrimString("RECIPIENT")));
    form.Subjectlabel->setText(FromField(table.getTrimString("SUBJECT")));
    form.NumberGiven = FromField(table.getTrimString("PHONE"));
    form.PortNumber = static_cast<unsigned>(s.ComPort + 1);
    form.sfDialPrefix->setText(QString::fromStdString(s.DialPrefix));
    form.sfDialsuffix->setText(QString::fromStdString(s.DialSuffix));
    form.DisablePrefix->setChecked(s.PrefixDisable);
    form.DisableSuffix->setChecked(s.SuffixDisable);
    CentreForm(&form);
    form.exec();
    result = form.ResultText;
    phone = form.sfPhoneNumber->text();
    s.DialPrefix = form.sfDialPrefix->text().toStdString();
    s.DialSuffix = form.sfDialsuffix->text().toStdString();
    s.PrefixDisable = form.DisablePrefix->isChecked();
    s.SuffixDisable = form.DisableSuffix->isChecked();
    SaveSettings();
    ended = form.ResultTime;
    // Still under the window's hourglass; it goes with the window. Written
    // again with the same outcome (and the number as the window shows it now).
    store(result, phone, ended.isValid() ? ended : QDateTime::currentDateTime());
  }
  say(QString());
  return true;
}

}  // namespace qn
