#include "fax_actions.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include "common/folders.h"
#include "common/dialogs.h"

namespace qn {
namespace {
std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

void DeleteOutgoingBody(const std::string& faxDoc) {
  if (!faxDoc.empty()) DeleteFileCI(SendFolder() + Upper(faxDoc));
}

void DeleteOutgoingCover(const std::string& faxCover) {
  if (faxCover.empty()) return;
  const std::string cover = SendFolder() + Upper(faxCover);
  DeleteFileCI(cover);
  DeleteFileCI(ChangeFileExt(cover, ".fcd"));
}

void DeleteReceivedFile(const std::string& faxFile) {
  if (!faxFile.empty()) DeleteFileCI(ProgramFolder() + "RECEIVE/" + faxFile);
}

int CloneAPFFax(xb::Table& fax, const std::string& docPath, const std::string& coverPath, const std::string& phone,
                const std::string& recipient, const std::string& subject) {
  if (int rc = fax.appendBlank(); rc != 0) return rc;
  if (!docPath.empty() && FileExists(docPath)) {
    const std::string target = NewSendFileName("FAX");
    if (CopyFaxFile(ResolvePath(docPath), target)) fax.setString("FAXDOC", FileNameOnly(target));
  }
  const std::string fcd = ChangeFileExt(coverPath, ".fcd");
  if (!coverPath.empty() && FileExists(coverPath) && FileExists(fcd)) {
    const std::string target = NewSendFileName("COV");
    if (CopyFaxFile(ResolvePath(coverPath), target) && CopyFaxFile(ResolvePath(fcd), ChangeFileExt(target, ".fcd")))
      fax.setString("FAXCOVER", FileNameOnly(target));
  }
  fax.setString("RECIPIENT", recipient);
  fax.setString("SUBJECT", "[clone]" + subject);
  fax.setString("PHONE", phone);
  return fax.post();
}

QString GetDatetimeAsString(const xb::Table& table, bool outgoing) {
  if (!table.isOpen() || table.recNo() == table.recCount() + 1) return {};
  const QString timeFormat = UserShortTimeFormat();
  if (outgoing) {
    const QDate sent = QDate::fromString(QString::fromStdString(table.getDate("DATESENT")), QStringLiteral("yyyyMMdd"));
    if (!sent.isValid() || sent.daysTo(QDate::currentDate()) > 2000) return QStringLiteral("not sent");
    const QTime t = QTime::fromString(QString::fromStdString(table.getTrimString("TIMESENT")), QStringLiteral("H:mm"));
    const QString time = t.isValid() ? QLocale().toString(t, timeFormat) : QStringLiteral("???");
    return sent.toString(UserShortDateFormat()) + QStringLiteral(" at ") + time;
  }
  const QString stored = QString::fromStdString(table.getTrimString("TIMEREC"));
  const QTime t = QTime::fromString(stored, QStringLiteral("H:mm"));
  const QString time = t.isValid() ? QLocale().toString(t, timeFormat) : stored;
  const QDate rec = QDate::fromString(QString::fromStdString(table.getDate("DATEREC")), QStringLiteral("yyyyMMdd"));
  return (rec.isValid() ? rec.toString(UserShortDateFormat()) : QString()) + QStringLiteral(" at ") + time;
}

}  // namespace qn
