// Entry points the main window calls for the commands and start-up steps whose
// windows belong to other subsystems (fax preparation and cover sheets, the send
// session, receive mode, viewing and printing, preferences, the designer, the
// modem tools and diagnostics). Each subsystem fills its entries when it is
// linked in; an empty entry means that subsystem is not part of this build, and
// the main window then does nothing for it.
#pragma once

#include <QStringList>
#include <functional>

namespace qn {

class TMainScreen;

struct MainHooks {
  using Command = std::function<void(TMainScreen&)>;

  // Start-up and activation steps.
  std::function<int(TMainScreen&)> ProcessExtraPDFaxFiles;  // printer-driver faxes picked up; returns how many
  std::function<bool(TMainScreen&)> RunQuickSetup;          // first run; true when the user pressed OK
  Command WriteQNPDINI;                                     // printer-driver hand-off file
  Command StartReceiveModeAtStartup;                        // setting AtStartup of section Receive
  // Receive mode: asked before the window closes; false keeps it open.
  std::function<bool(TMainScreen&)> CloseQueryReceive;
  Command PlayReceiveSound;                                 // the receive settings' sound file

  // Commands.
  Command FaxDocument;         // "Fax a Docu&ment...": the user chooses the files
  // Files made into outgoing faxes: chosen, dropped on the window or named on
  // the command line (TMainScreen::FaxDocuments runs one batch at a time).
  std::function<void(TMainScreen&, const QStringList&)> FaxDocuments;
  Command NewCoverSheet;       // "&New Cover Sheet"
  Command AddCoverSheet;       // "Add C&over Sheet"
  Command EditCoverSheet;      // "&Edit" on an outgoing fax with a cover sheet
  Command SendFax;             // "&Send Fax"
  Command ReceiveFaxes;        // "&Receive Faxes": start or stop receive mode
  Command ViewPrintFax;        // "&View/Print Fax"
  Command PrintFax;            // "Print"
  Command PrintSetup;          // "Print Setup"
  Command Preferences;         // "Pre&ferences"
  Command CoverDesigner;       // "Cover Sheet &Template Designer"
  Command QuickConfigurationAnalysis;
  Command ConfigurationInformation;
};

MainHooks& Hooks();

// Fills the entries of viewing and printing (print_hooks.cpp).
void InstallPrintHooks();

}  // namespace qn
