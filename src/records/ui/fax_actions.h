// Operations on fax records and the files they own, shared by the main window's
// lists and the clean-up utility.
#pragma once

#include <QString>
#include <string>

#include "xbase/xb_table.h"

namespace qn {

// Removes the files of the current outgoing record: the body named by FAXDOC and
// the cover sheet named by FAXCOVER with its ".fcd" beside it. Errors are ignored.
void DeleteOutgoingBody(const std::string& faxDoc);
void DeleteOutgoingCover(const std::string& faxCover);
// Removes program folder + "RECEIVE/" + FAXFILE (any letter case); errors ignored.
void DeleteReceivedFile(const std::string& faxFile);

// Appends an outgoing record that copies a fax: the document to a new FAX#####.APF,
// the cover (only when its ".fcd" exists too) to a new COV#####.APF with its
// ".fcd", recipient and phone as given, the subject "[clone]" + subject. The new
// record is current afterwards. Returns 0 or the table's negated error.
int CloneAPFFax(xb::Table& fax, const std::string& docPath, const std::string& coverPath, const std::string& phone,
                const std::string& recipient, const std::string& subject);

// The date/time text of the current fax: outgoing "not sent" when DATESENT is
// more than 2000 days before today (a blank date included), else date + " at " +
// time; incoming DATEREC + " at " + TIMEREC. Empty on any other error.
QString GetDatetimeAsString(const xb::Table& table, bool outgoing);

}  // namespace qn
