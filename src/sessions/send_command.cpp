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
  table.go(recNo);  // a failure to get back is not reported; the edit then fails
  if (!result.trimmed().isEmpty())
    if (const int rc = table.setString("LASTRESULT", ToField(result)); rc < 0) return rc;
  if (const int rc = table.setString("PHONE", ToField(phone)); rc < 0) return rc;
  const QString upper = result.toUpper();
  if (upper == QLatin1String("SENT") || upper == QLatin1String("OK")) {
    table.setDate("DATESENT", ToField(now.date().toString(QStringLiteral("yyyyMMdd"))));
    table.setString("TIMESENT", ToField(now.time().toString(QStringLiteral("hh:mm"))));
  }
  return table.post();
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
  {
    TSendFaxForm form(parent);
    // The outcome goes into the record as soon as the session ends, while the
    // window still shows it: a program that never gets past that message (a
    // crash, the session's end) leaves a record that says what happened.
    QObject::connect(&form, &TSendFaxForm::ResultReady, &form, [&] {
      StoreSendResult(table, recNo, form.ResultText, form.sfPhoneNumber->text(), form.ResultTime);
    });
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
    StoreSendResult(table, recNo, result, phone, ended.isValid() ? ended : QDateTime::currentDateTime());
  }
  say(QString());
  return true;
}

}  // namespace qn
