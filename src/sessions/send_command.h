// Sending the current outgoing fax: which of its files go out, the Send Fax
// window for it, and the outcome written back into its record.
//
// Conventions: user-interface thread only. The table is the outgoing fax table
// (QNOUT.DBF) positioned on the fax to send; it is left on the same record.
// File names in the record are names in the send folder.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <string>

#include "xbase/xb_table.h"

class QWidget;

namespace qn {

// The files of an outgoing fax: the document (the body) when it exists, else the
// cover sheet; the cover sheet separately only when both exist. faxFile is empty
// when neither exists.
struct TFaxFilesToSend {
  std::string faxFile;
  std::string coverFile;
};
TFaxFilesToSend ChooseFaxFiles(const std::string& sendFolder, const std::string& faxDoc, const std::string& faxCover);

// What the outcome does to the record: LASTRESULT when the result holds more than
// blanks, PHONE always, and DATESENT/TIMESENT ("hh:mm") when the result is "Sent"
// or "OK" in any letter case. Returns the table's error code (0 when posted).
int StoreSendResult(xb::Table& table, uint32_t recNo, const QString& result, const QString& phone,
                    const QDateTime& now);

// Runs the Send Fax window for the current record and stores its outcome.
// `status` shows a text in the caller's status line (empty clears it). Returns
// false when the record has no usable fax file ("Error opening fax file" shown).
bool SendCurrentFax(QWidget* parent, xb::Table& table, const std::function<void(const QString&)>& status);

}  // namespace qn
