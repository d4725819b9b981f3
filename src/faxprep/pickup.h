// Pick-up of faxes the printer driver leaves in the SEND folder: every APF with
// a job description (".JFD", same base name) becomes one outgoing record.
//
// Conventions callers rely on:
//  - Exactly once: a record is made only when its ".JFD" can then be removed;
//    when the removal fails the new record is marked deleted again.
//  - Nothing is ever deleted or made from a doubtful pair: a ".JFD" without its
//    APF, a malformed ".JFD", an APF that is not a fax file, and a ".JFD" or APF
//    that is a link or lies outside the SEND folder are refused with a problem
//    text; their files stay where they are. An APF alone is never looked at.
//  - An APF whose name does not fit the record (more than 12 bytes) is renamed
//    to a free FAX#####.APF first.
//  - Not re-entrant: a call while another runs returns an empty report.
//  - Before it looks, it removes work files the print queue's backend and the
//    document converter left behind when they were killed (".qnprint-<pid>-..."
//    in SEND, "qnps-<pid>-..." folders in the temporary folder) whose process
//    is gone or that are older than an hour; only the user's own.
#pragma once

#include <QStringList>

#include "xbase/xb_table.h"

namespace faxprep {

struct PickUpReport {
  int found = 0;         // ".jfd" files seen
  int added = 0;         // records made
  QStringList problems;  // one text per refused ".jfd"
  unsigned swept = 0;    // left-over work files removed
  // Record numbers of the records made without a fax number (the program asks
  // for it), in order.
  QList<quint32> withoutNumber;
  // The fax file (FAXDOC) of each record made, with its record number.
  QList<QPair<QString, quint32>> made;
};

// Scans the SEND folder and appends a record (FAXDOC, PHONE, RECIPIENT, SUBJECT)
// per usable pair to the outgoing table; the last record made stays current.
PickUpReport PickUpPrintedFaxes(xb::Table& fax);

}  // namespace faxprep
