#include "fax_actions.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <vector>

#include "common/dialogs.h"
#include "common/folders.h"

namespace qn {

void DeleteOutgoingBody(const std::string& faxDoc) {
  const std::string body = FileInFolder(SendFolder(), faxDoc);
  if (!body.empty()) DeleteFileCI(body);
}

void DeleteOutgoingCover(const std::string& faxCover) {
  const std::string cover = FileInFolder(SendFolder(), faxCover);
  if (cover.empty()) return;
  DeleteFileCI(cover);
  DeleteFileCI(ChangeFileExt(cover, ".fcd"));
}

void DeleteReceivedFile(const std::string& faxFile) {
  const std::string file = FileInFolder(ReceiveFolder(), faxFile);
  if (!file.empty()) DeleteFileCI(file);
}

int CloneAPFFax(xb::Table& fax, const std::string& docPath, const std::string& coverPath, const std::string& phone,
                const std::string& recipient, const std::string& subject, CloneLeftOut* leftOut) {
  std::vector<std::string> made;  // copies to remove when the clone fails
  auto undo = [&made](int rc) {
    for (const std::string& f : made) DeleteFileCI(f);
    return rc;
  };
  auto copy = [&made](const std::string& from, const std::string& to) {
    if (!CopyFaxFile(ResolvePath(from), to)) return false;
    made.push_back(to);
    return true;
  };
  CloneLeftOut left;
  std::string doc, cover;
  if (!docPath.empty()) {
    if (!FileExists(docPath)) {
      left.document = true;
    } else {
      doc = NewSendFileName("FAX");
      if (!copy(docPath, doc)) return undo(kCloneCopyFailed);
    }
  }
  if (!coverPath.empty()) {
    // A cover is cloned only with the inputs it was made from: without them the
    // copy could not be edited or remade.
    const std::string fcd = ChangeFileExt(coverPath, ".fcd");
    if (!FileExists(coverPath) || !FileExists(fcd)) {
      left.cover = true;
    } else {
      cover = NewSendFileName("COV");
      if (!copy(coverPath, cover) || !copy(fcd, ChangeFileExt(cover, ".fcd"))) return undo(kCloneCopyFailed);
    }
  }
  if (leftOut) *leftOut = left;
  if (doc.empty() && cover.empty()) return kCloneFilesMissing;
  if (int rc = fax.appendBlank(); rc != 0) return undo(rc);
  if (!doc.empty()) fax.setString("FAXDOC", FileNameOnly(doc));
  if (!cover.empty()) fax.setString("FAXCOVER", FileNameOnly(cover));
  fax.setString("RECIPIENT", recipient);
  fax.setString("SUBJECT", "[clone]" + subject);
  fax.setString("PHONE", phone);
  if (int rc = fax.post(); rc != 0) {
    fax.cancel();
    fax.deleteRecord();  // the blank record appendBlank wrote, should the table still take that
    return undo(rc);
  }
  return 0;
}

void ShowRecordError(const QString& what, const std::string& reason) {
  MessageBoxText(what + QStringLiteral("\r") + QString::fromStdString(reason), QStringLiteral("Error"),
                 mbOk | mbIconError);
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
