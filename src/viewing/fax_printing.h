// Printing a fax from the main window and from the fax viewer: which file a
// record's fax is, the "Print" options dialog with the shared print options
// (loaded before and saved after every dialog), and how its choices are given
// to a TFeFaxPrinter.
//
// Conventions: every function runs on the interface thread and reports its own
// failures to the user; none throws. A temporary joined file is always removed
// by the command that made it.
#pragma once

#include <QString>
#include <string>

#include "fax_choice.h"
#include "xbase/xb_table.h"

class QMainWindow;
class QPrinter;
class QWidget;

namespace fe {
class TFeFaxPrinter;
}

namespace qn {

struct PrintOptions;

// Gives a printer the dialog's range and flags: scaling from Stretch, several
// pages per sheet from MultiPage, the header (heading text) and the footer
// ("Page: $P of $N") enabled or emptied.
void ApplyPrintOptions(fe::TFeFaxPrinter& printer, const PrintOptions& options, unsigned first, unsigned last,
                       const QString& heading);

// The main window's fax printer (created on first use as a child of the window):
// header "FILE: $F" and footer "Page: $P of $N", both off, one page per sheet,
// printing on `chosen` (the printer "Print Setup" picks).
fe::TFeFaxPrinter* MainFaxPrinter(QWidget* window, QPrinter* chosen);

// The main window's "Print" on the current record of the list shown.
void PrintSelectedFax(QMainWindow& window, xb::Table& table, bool outgoing, QPrinter* chosen);
// The main window's "Print Setup": the standard print dialog on `chosen`.
void PrintSetupCommand(QWidget* window, QPrinter* chosen);

// The fax viewer's printer, owned by the viewer window: header "File: $F".
fe::TFeFaxPrinter* MakeViewerFaxPrinter(QWidget* viewer);

// The viewer's "Print" (currentPageOnly false) and "Print current page".
// `rangeSet` is the viewer's flag telling whether the printer's range was
// initialised (first use: 1..page count). "Print current page" prints the one
// page stretched, one per sheet, and then resets the range to all pages.
// True when something was printed.
bool PrintFromViewer(QWidget* viewer, fe::TFeFaxPrinter& printer, const std::string& file, const QString& heading,
                     bool currentPageOnly, unsigned currentPage, bool& rangeSet);
// The viewer's "Printer setup": the fax printer's setup dialog for the file.
bool PrinterSetupFromViewer(QWidget* viewer, fe::TFeFaxPrinter& printer, const std::string& file, bool& rangeSet);

}  // namespace qn
