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
