#include "faxprep_hooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSet>

#include "common/dialogs.h"
#include "covers/shipped_covers.h"
#include "faxprep/document_fax.h"
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

// Set while a Fax Information Editor for a new fax is open: one at a time.
bool asking = false;

// A fax printed while the program runs, without a number (the print dialog
// asked for none): its Fax Information Editor comes up at once, so that it can
// be sent. One at a time: while an editor is open, later ones wait in the list.
void AskForMissingNumber(TMainScreen& w, const faxprep::PickUpReport& report) {
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

// Picks up what waits in SEND and tells each refusal once per run, not at
// every activation.
faxprep::PickUpReport PickUpNow(TMainScreen& w) {
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
  return report;
}

int PickUp(TMainScreen& w) {
  const faxprep::PickUpReport report = PickUpNow(w);
  AskForMissingNumber(w, report);
  return report.added;
}

void ChooseDocuments(TMainScreen& w) {
  static QString folder = QDir::homePath();
  const QStringList files = QFileDialog::getOpenFileNames(&w, QStringLiteral("Fax a Document"), folder,
                                                          faxprep::DocumentFileFilter());
  if (files.isEmpty()) return;
  folder = QFileInfo(files.front()).absolutePath();
  w.FaxDocuments(files);
}

// Documents become faxes through the print path: converted into SEND, picked
// up into records, then each one's Fax Information Editor asks for its number
// and recipient and offers the default cover sheet.
void FaxDocuments(TMainScreen& w, const QStringList& files) {
  faxprep::DocumentFaxes faxes = faxprep::ConvertDocuments(&w, files);
  if (faxes.made.empty()) return;
  faxprep::PlaceDocumentFaxes(faxes);
  faxprep::PickUpReport report = PickUpNow(w);
  QList<quint32> ours;
  for (const faxprep::DocumentFax& made : faxes.made)
    for (const auto& [faxFile, recNo] : report.made)
      if (faxFile.compare(made.faxFile, Qt::CaseInsensitive) == 0) ours << recNo;
  w.ShowPage(true);
  if (!ours.isEmpty() && w.FaxTable.go(ours.back()) == 0) w.FaxGrid->Refresh();
  w.SetButtons();
  if (!asking) {
    asking = true;
    for (const quint32 recNo : ours) {
      if (w.FaxTable.go(recNo) != 0) continue;
      w.FaxGrid->Refresh();
      bool addCover = false;
      if (EditOutgoingFax(&w, w.FaxTable, &addCover) && addCover && w.FaxTable.go(recNo) == 0)
        faxprep::AttachDefaultCover(w.FaxTable);
      w.FaxGrid->Refresh();
      w.SetButtons();
    }
    asking = false;
  }
  // Printed faxes picked up with them are asked about as always.
  for (const quint32 recNo : ours) report.withoutNumber.removeAll(recNo);
  AskForMissingNumber(w, report);
}

}  // namespace

void InstallFaxPrepHooks() {
  MainHooks& h = Hooks();
  h.FaxDocument = ChooseDocuments;
  h.FaxDocuments = FaxDocuments;
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
