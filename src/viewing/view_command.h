// The main window's "&View/Print Fax" command.
//
// Conventions: the record is the current one of the table handle given (outgoing
// table: FAXCOVER and FAXDOC in the send folder; received table: FAXFILE in the
// receive folder). A chosen file that joins cover and body is a temporary file in
// the program folder, removed when the ChosenFaxFile goes out of scope.
#pragma once

#include <QString>
#include <string>

#include "fax_choice.h"
#include "xbase/xb_table.h"

class QMainWindow;

namespace qn {

// "&View/Print Fax" on the current record of `table`: status texts on the main
// window's status line, the hourglass while files are prepared, the Fax Viewer
// shown modally, the temporary joined file removed afterwards.
void ViewFaxCommand(QMainWindow* main, const xb::Table& table, bool outgoing);

}  // namespace qn
