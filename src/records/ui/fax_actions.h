// Operations on fax records and the files they own, shared by the main window's
// lists and the clean-up utility.
#pragma once

#include <QString>
#include <string>

#include "xbase/xb_table.h"

namespace qn {

// Removes the files of the current outgoing record: the body named by FAXDOC and
// the cover sheet named by FAXCOVER with its ".fcd" beside it, in the send
// folder. A name that is not a plain file name names no file (see FileInFolder)
// and nothing is removed for it. Errors are ignored.
void DeleteOutgoingBody(const std::string& faxDoc);
void DeleteOutgoingCover(const std::string& faxCover);
// Removes FAXFILE in the receive folder (any letter case), on the same terms.
void DeleteReceivedFile(const std::string& faxFile);

// Appends an outgoing record that copies a fax: the document to a new FAX#####.APF,
// the cover with its ".fcd" to a new COV#####.APF and ".fcd", recipient and phone
// as given, the subject "[clone]" + subject. An empty path means the fax has no
// such part. A part whose file is not there, and a cover without its ".fcd", is
// left out (and reported in leftOut); with nothing left to copy nothing is added
// and the result is kCloneFilesMissing. A copy that fails removes the copies made
// and adds nothing (kCloneCopyFailed). The new record is current afterwards.
// Returns 0, one of those codes, or the table's negated error (the copies are
// then removed too).
inline constexpr int kCloneFilesMissing = 1;
inline constexpr int kCloneCopyFailed = 2;
struct CloneLeftOut {
  bool document = false;
  bool cover = false;
};
int CloneAPFFax(xb::Table& fax, const std::string& docPath, const std::string& coverPath, const std::string& phone,
                const std::string& recipient, const std::string& subject, CloneLeftOut* leftOut = nullptr);

// Tells the user that a change of the fax records failed: what failed, then the
// table's own reason on a line of its own (error box, caption "Error").
void ShowRecordError(const QString& what, const std::string& reason);

// The date/time text of the current fax: outgoing "not sent" when DATESENT is
// more than 2000 days before today (a blank date included), else date + " at " +
// time; incoming DATEREC + " at " + TIMEREC. Empty on any other error.
QString GetDatetimeAsString(const xb::Table& table, bool outgoing);

}  // namespace qn
