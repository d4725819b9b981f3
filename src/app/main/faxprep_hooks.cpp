#include "faxprep_hooks.h"

#include <QCoreApplication>
#include <QSet>

#include "common/dialogs.h"
#include "covers/shipped_covers.h"
#include "faxprep/pickup.h"
#include "faxprep/prep_files.h"
#include "faxprep/quick_fax.h"
#include "hooks.h"
#include "main_screen.h"
#include "records/ui/editors.h"
#include "records/ui/record_grid.h"

namespace qn {

namespace {

void EditCover(TMainScreen& w, bool newFax) {
  const bool saved = faxprep::EditAddQuickFax(&w, w.FaxTable, newFax);
  if (saved && newFax)
    w.FaxTableCloseAndOpen();
  else if (saved)
    w.FaxGrid->Refresh();
  w.SetButtons();
}

// A fax printed while the program runs, without a number (the print dialog
// asked for none): its Fax Information Editor comes up at once, so that it can
// be sent. One at a time: while an editor is open, later ones wait in the list.
void AskForMissingNumber(TMainScreen& w, const faxprep::PickUpReport& report) {
  static bool asking = false;
  if (asking || w.FirstActivation || report.withoutNumber.isEmpty()) return;
  asking = true;
  const quint32 recNo = report.withoutNumber.back();
  if (w.FaxTable.go(recNo) == 0) {
    w.FaxGrid->Refresh();
    if (EditOutgoingFax(&w, w.FaxTable)) w.FaxGrid->Refresh();
    w.SetButtons();
  }
  asking = false;
}

int PickUp(TMainScreen& w) {
  // Each refusal is told once per run, not at every activation.
  static QSet<QString> told;
  const std::uint32_t before = w.FaxTable.recNo();
  const faxprep::PickUpReport report = faxprep::PickUpPrintedFaxes(w.FaxTable);
  if (report.found > 0) {
    if (w.FirstActivation) w.FaxTable.go(before);
    w.FaxTableCloseAndOpen();
  }
  QStringList fresh;
  for (const QString& p : report.problems)
    if (!told.contains(p)) {
      told.insert(p);
      fresh << p;
    }
  if (!fresh.isEmpty())
    MessageBoxText(fresh.join(QLatin1Char('\r')), QStringLiteral("Printed faxes"), mbOk | mbIconWarning);
  AskForMissingNumber(w, report);
  return report.added;
}

}  // namespace

void InstallFaxPrepHooks() {
  MainHooks& h = Hooks();
  h.NewCoverSheet = [](TMainScreen& w) { EditCover(w, true); };
  h.AddCoverSheet = [](TMainScreen& w) { EditCover(w, false); };
  h.EditCoverSheet = [](TMainScreen& w) { EditCover(w, false); };
  h.ProcessExtraPDFaxFiles = PickUp;
  h.WriteQNPDINI = [](TMainScreen&) {
    faxprep::WriteHandOffFile(QCoreApplication::applicationFilePath().toStdString());
    covers::InstallCoversOnFirstStart();
  };
}

}  // namespace qn
