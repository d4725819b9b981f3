// The main window's commands on the fax lists: sorting, archiving, deleting,
// cloning, forwarding, editing, and the commands that open other windows.
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDate>
#include <QDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QUrl>
#include <utility>

#include "about.h"
#include "common/app_events.h"
#include "common/dialogs.h"
#include "common/folders.h"
#include "common/help.h"
#include "delete_what.h"
#include "hints.h"
#include "hooks.h"
#include "main_screen.h"
#include "records/record_tables.h"
#include "records/ui/cleanup.h"
#include "records/ui/editors.h"
#include "records/ui/fax_actions.h"
#include "records/ui/rebuild_window.h"
#include "records/ui/record_grid.h"
#include "sessions/settings.h"

namespace qn {
namespace {

QString Field(const xb::Table& t, const char* name) { return FromField(t.getTrimString(name)); }

// After the current record was marked or left the filter, move to a record the
// list still shows (the next one, else the last).
void StepOffHidden(xb::Table& t) {
  const auto visible = t.visibleRecNos();
  if (std::find(visible.begin(), visible.end(), t.recNo()) != visible.end()) return;
  t.skip(1);
  if (t.eof()) t.goBottom();
}

void RunHook(const MainHooks::Command& hook, TMainScreen& w) {
  if (hook) hook(w);
}

}  // namespace

// ---- commands of other subsystems ----------------------------------------------------
// Their windows come with fax preparation, the send session, receive mode, viewing
// and printing, preferences and the designer; the guards are the main window's.

void TMainScreen::NewbuttonClick() {
  if (RefusedInReceiveMode()) return;
  RunHook(Hooks().NewCoverSheet, *this);
}

void TMainScreen::FaxDocumentClick() { RunHook(Hooks().FaxDocument, *this); }

void TMainScreen::FaxDocuments(const QStringList& files) {
  pendingDocuments_ << files;
  // The first activation runs them when it is done; a running batch, after it.
  if (FirstActivation || documentsRunning_ || !tablesOpen_ || closing_ || !Hooks().FaxDocuments) return;
  documentsRunning_ = true;
  while (!pendingDocuments_.isEmpty() && !closing_) {
    const QStringList batch = std::exchange(pendingDocuments_, {});
    Hooks().FaxDocuments(*this, batch);
  }
  documentsRunning_ = false;
  if (tablesOpen_) SetButtons();
}

void TMainScreen::AddCoverButtonClick() {
  if (RefusedInReceiveMode()) return;
  RunHook(Hooks().AddCoverSheet, *this);
}

namespace {

enum class SentFaxChoice { Edit, Clone, Cancel };

// A fax that went out already: its log entry describes the pages that were sent,
// so changing them makes the entry describe something that never went out. The
// user may edit it anyway, or clone it and edit the copy.
SentFaxChoice AskEditSentFax(QWidget* parent, const QString& sentOn) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Edit Fax"),
                  DisplayText(QStringLiteral("This fax was already sent (") + sentOn +
                              QStringLiteral(").\rIf you change it, its entry in the fax log will no longer match "
                                             "what went out.\r\rClone it and change the copy instead?")),
                  QMessageBox::NoButton, parent);
  QPushButton* clone = box.addButton(QStringLiteral("&Clone"), QMessageBox::AcceptRole);
  QPushButton* edit = box.addButton(QStringLiteral("&Edit Anyway"), QMessageBox::DestructiveRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(clone);
  box.exec();
  if (box.clickedButton() == clone) return SentFaxChoice::Clone;
  if (box.clickedButton() == edit) return SentFaxChoice::Edit;
  return SentFaxChoice::Cancel;
}

}  // namespace

void TMainScreen::EditButtonClick() {
  if (OutgoingPageShown()) {
    if (!FaxGrid->HasCurrent()) return;
    if (const QString sent = Field(FaxTable, "DATESENT").trimmed(); !sent.isEmpty()) {
      const SentFaxChoice choice =
          AskEditSentFax(this, QLocale().toString(QDate::fromString(sent, QStringLiteral("yyyyMMdd")),
                                                   QLocale::ShortFormat) +
                                   QLatin1Char(' ') + Field(FaxTable, "TIMESENT").trimmed());
      if (choice == SentFaxChoice::Cancel) return;
      if (choice == SentFaxChoice::Clone) {
        CloneCurrentFax();
        return;
      }
    }
    if (!FaxTable.getTrimString("FAXCOVER").empty()) {
      if (RefusedInReceiveMode()) return;
      RunHook(Hooks().EditCoverSheet, *this);
    } else if (EditOutgoingFax(this, FaxTable)) {
      FaxGrid->Refresh();
    }
  } else {
    if (!RecFaxGrid->HasCurrent()) return;
    if (ReceivingNow) {
      Beep();
      return;
    }
    if (EditReceivedNotes(this, RecTable)) RecFaxGrid->Refresh();
  }
  SetButtons();
}

void TMainScreen::SendButtonClick() { RunHook(Hooks().SendFax, *this); }
void TMainScreen::ReceiveButtonClick() { RunHook(Hooks().ReceiveFaxes, *this); }
void TMainScreen::mnuViewPrintClick() { RunHook(Hooks().ViewPrintFax, *this); }
void TMainScreen::PrintbuttonClick() { RunHook(Hooks().PrintFax, *this); }

void TMainScreen::mnuPreferencesClick() {
  if (RefusedInReceiveMode()) return;
  RunHook(Hooks().Preferences, *this);
}

void TMainScreen::CovreSheetTemplateEditor1Click() {
  if (RefusedInReceiveMode()) return;
  RunHook(Hooks().CoverDesigner, *this);
}

void TMainScreen::QuickConfigurationAnalysis1Click() { RunHook(Hooks().QuickConfigurationAnalysis, *this); }
void TMainScreen::ConfigurationInformation1Click() { RunHook(Hooks().ConfigurationInformation, *this); }

// ---- this window's own commands -----------------------------------------------------------

void TMainScreen::ProblemSolverButtonClick() { ShowProblemSolver(); }

void TMainScreen::PrintSetup1Click() {
  if (Hooks().PrintSetup) {
    Hooks().PrintSetup(*this);
    return;
  }
  QPrintDialog dialog(Printer(), this);
  dialog.exec();
}

void TMainScreen::StartHere1Click() {
  TQuickStart window(this);
  CentreForm(&window);
  window.exec();
}

void TMainScreen::About1Click() {
  TSplashform window(this);
  CentreForm(&window);
  window.exec();
}

void TMainScreen::mnuOnLineClick() {
  if (RefusedInReceiveMode()) return;
  const QUrl address = WebSiteAddress();
  if (!QDesktopServices::openUrl(address))
    MessageBoxText(QStringLiteral("Unable to open ") + address.toDisplayString() +
                       QStringLiteral("\r\nSet the address in QN.INI, section [Program], key Website."),
                   QStringLiteral("Visit Our Internet Website"), mbOk | mbIconError);
}

void TMainScreen::mnuShowHintClick() {
  // The action has already inverted its check mark.
  Settings().HintsOn = mnuShowHint->isChecked();
  SaveSettings();
  SetHintsEnabled(Settings().HintsOn);
}

void TMainScreen::OrderButtonClick() { PopupBelow(OrderButton, OutgoingPageShown() ? FaxSortMenu : RecSortMenu); }

void TMainScreen::SetFaxOrder(const char* tag, QAction* item) {
  FaxTable.setOrder(FaxTable.tagArea(tag));
  item->setChecked(true);
  FaxGrid->Refresh();
}

void TMainScreen::SetRecOrder(const char* tag, QAction* item) {
  RecTable.setOrder(RecTable.tagArea(tag));
  item->setChecked(true);
  RecFaxGrid->Refresh();
}

void TMainScreen::mnuDateSentClick() { SetFaxOrder("DATESENT", mnuDateSent); }
void TMainScreen::mnuSubjectClick() { SetFaxOrder("SUBJECT", mnuSubject); }
void TMainScreen::mnuRecipientClick() { SetFaxOrder("RECIPIENT", mnuRecipient); }

void TMainScreen::mnuSortDateReceivedClick() {
  if (ReceivingNow) {
    Beep();
    return;
  }
  SetRecOrder("DATETIME", mnuSortDateReceived);
}

void TMainScreen::mnuSortFromClick() {
  if (ReceivingNow) {
    Beep();
    return;
  }
  SetRecOrder("FROM", mnuSortFrom);
}

void TMainScreen::mnuShowArchivesClick() {
  // The action has already inverted its check mark.
  ListFilter = mnuShowArchives->isChecked() ? QString() : QStringLiteral(".not. ARCHIVED");
  ApplyListFilter();
  SetButtons();
}

void TMainScreen::mnuArchiveClick() {
  const bool outgoing = OutgoingPageShown();
  xb::Table& t = outgoing ? FaxTable : RecTable;
  TRecordGrid* grid = outgoing ? FaxGrid : RecFaxGrid;
  if (!grid->HasCurrent() || (!outgoing && ReceivingNow)) {
    Beep();
    return;
  }
  const uint32_t recno = t.recNo();
  const bool archived = t.getLogical("ARCHIVED");
  QString text = archived ? QStringLiteral("UnArchive the current fax?") : QStringLiteral("Archive the current fax?");
  if (outgoing) {
    const QString subject = Field(t, "SUBJECT");
    text += subject.isEmpty() ? QStringLiteral("\r(no subject)") : QStringLiteral("\r(subject: ") + subject + ")";
  } else {
    const QString from = Field(t, "FROM");
    text += from.isEmpty() ? QStringLiteral("\r") : QStringLiteral("\r(from: ") + from + ")";
  }
  if (AskYesNoDefaultNo(text, QStringLiteral("Archive")) && t.go(recno) == 0) {
    t.setLogical("ARCHIVED", !t.getLogical("ARCHIVED"));
    if (t.post() != 0) t.cancel();
    StepOffHidden(t);
  }
  grid->Refresh();
  SetButtons();
}

void TMainScreen::DeleteButtonClick() {
  if (OutgoingPageShown()) DeleteFromSend();
  else DeleteFromRec();
}

void TMainScreen::DeleteFromSend() {
  if (!FaxGrid->HasCurrent()) {
    Beep();
    return;
  }
  const uint32_t recno = FaxTable.recNo();
  const std::string doc = FaxTable.getTrimString("FAXDOC");
  const std::string cover = FaxTable.getTrimString("FAXCOVER");
  int action = -1;
  if (!doc.empty() && !cover.empty()) {
    TDeleteWhat what(this);
    CentreForm(&what);
    if (what.exec() == QDialog::Accepted) action = what.ItemIndex();
  } else if (AskYesNoDefaultNo(QStringLiteral("Delete the current fax?\r\n(subject: \"") + Field(FaxTable, "SUBJECT") +
                                   QStringLiteral("\")"),
                               QStringLiteral("Delete"))) {
    action = 2;
  }
  // The files go only once the record no longer names them.
  if (action >= 0 && FaxTable.go(recno) == 0) {
    if (action == 0 || action == 1) {
      if (FaxTable.setString(action == 0 ? "FAXCOVER" : "FAXDOC", "") != 0 || FaxTable.post() != 0) {
        const std::string reason = FaxTable.lastError();
        FaxTable.cancel();
        ShowRecordError(QStringLiteral("The fax could not be changed; its files were kept."), reason);
      } else if (action == 0) {
        DeleteOutgoingCover(cover);
      } else {
        DeleteOutgoingBody(doc);
      }
    } else if (FaxTable.deleteRecord() != 0) {
      ShowRecordError(QStringLiteral("The fax could not be deleted; its files were kept."), FaxTable.lastError());
    } else {
      DeleteOutgoingBody(doc);
      DeleteOutgoingCover(cover);
      StepOffHidden(FaxTable);
    }
  }
  FaxGrid->Refresh();
  SetButtons();
}

void TMainScreen::DeleteFromRec() {
  if (!RecFaxGrid->HasCurrent() || ReceivingNow) {
    Beep();
    return;
  }
  const uint32_t recno = RecTable.recNo();
  if (AskYesNoDefaultNo(QStringLiteral("Delete the current fax?\r\n(from: \"") + Field(RecTable, "FROM") +
                            QStringLiteral("\")"),
                        QStringLiteral("Delete")) &&
      RecTable.go(recno) == 0) {
    const std::string file = RecTable.getTrimString("FAXFILE");
    if (RecTable.deleteRecord() != 0) {
      ShowRecordError(QStringLiteral("The fax could not be deleted; its file was kept."), RecTable.lastError());
    } else {
      DeleteReceivedFile(file);
      StepOffHidden(RecTable);
    }
  }
  RecFaxGrid->Refresh();
  SetButtons();
}

void TMainScreen::mnuCloneClick() {
  if (!FaxGrid->HasCurrent() || !OutgoingPageShown()) {
    Beep();
    return;
  }
  if (!AskYesNoDefaultNo(QStringLiteral("Clone the current fax?\r\n(subject: \"") + Field(FaxTable, "SUBJECT") +
                             QStringLiteral("\")"),
                         QStringLiteral("Clone")))
    return;
  CloneCurrentFax();
}

void TMainScreen::CloneCurrentFax() {
  const std::string doc = FaxTable.getTrimString("FAXDOC");
  const std::string cover = FaxTable.getTrimString("FAXCOVER");
  // A part the record names but that is not there (or not a plain file name) is
  // left out, as is a cover without its ".fcd"; the rest is cloned.
  const std::string docPath = doc.empty() ? std::string() : FileInFolder(SendFolder(), doc);
  const std::string coverPath = cover.empty() ? std::string() : FileInFolder(SendFolder(), cover);
  CloneLeftOut left;
  left.document = !doc.empty() && docPath.empty();
  left.cover = !cover.empty() && coverPath.empty();
  CloneLeftOut copied;
  const int rc = CloneAPFFax(FaxTable, docPath, coverPath, FaxTable.getTrimString("PHONE"),
                             FaxTable.getTrimString("RECIPIENT"), FaxTable.getTrimString("SUBJECT"), &copied);
  left.document = left.document || copied.document;
  left.cover = left.cover || copied.cover;
  if (rc == kCloneFilesMissing)
    ShowInfo(QStringLiteral("The fax could not be cloned: its fax file is missing, and so is its cover sheet or the "
                            "cover sheet's data file (.FCD)."));
  else if (rc == kCloneCopyFailed)
    ShowInfo(QStringLiteral("The fax could not be cloned: a file could not be copied (is the disk full?)."));
  else if (rc == 0 && left.cover)
    ShowInfo(QStringLiteral("The fax was cloned without its cover sheet: the cover sheet or its data file (.FCD) "
                            "is missing."));
  else if (rc == 0 && left.document)
    ShowInfo(QStringLiteral("The fax was cloned without its document: the fax file is missing."));
  else if (rc != 0)
    ShowRecordError(QStringLiteral("The fax could not be cloned."), FaxTable.lastError());
  SetButtons();
  FaxTableCloseAndOpen();
}

void TMainScreen::mnuForwardClick() {
  if (RefusedInReceiveMode()) return;
  if (!RecFaxGrid->HasCurrent()) return;
  const std::string file = RecTable.getTrimString("FAXFILE");
  const std::string source = FileInFolder(ReceiveFolder(), file);
  if (source.empty() || !FileExists(source)) return;
  const QString from = Field(RecTable, "FROM");
  if (!AskYesNoDefaultNo(QStringLiteral("Forward the current fax to be sent?\r\n(from: ") + from + QStringLiteral(")"),
                         QStringLiteral("Forward")))
    return;
  TFaxEditor editor(this);
  editor.setWindowTitle(QStringLiteral("Forward fax from: ") + from);
  if (editor.exec() != QDialog::Accepted) return;
  const std::string target = NewSendFileName("FWD");
  if (!CopyFaxFile(ResolvePath(source), target)) {
    // No record may name a file that is not there.
    ShowInfo(QStringLiteral("The received fax could not be copied into the SEND folder."));
    return;
  }
  int rc = FaxTable.appendBlank();
  if (rc == 0) {
    FaxTable.setString("RECIPIENT", ToField(editor.Recipient->text()));
    FaxTable.setString("SUBJECT", ToField(editor.Subject->text()));
    FaxTable.setString("PHONE", ToField(editor.FaxNumber->text()));
    FaxTable.setString("NOTES", ToField(editor.Notes->text()));
    FaxTable.setString("CODES", ToField(editor.Codes->text()));
    FaxTable.setString("FAXDOC", FileNameOnly(target));
    rc = FaxTable.post();
    if (rc != 0) {
      FaxTable.cancel();
      FaxTable.deleteRecord();  // the blank record, should the table still take that
    }
  }
  if (rc != 0) {
    // No copy may stay behind that no record names.
    ShowRecordError(QStringLiteral("The fax could not be forwarded."), FaxTable.lastError());
    DeleteFileCI(target);
    FaxGrid->Refresh();
    SetButtons();
    return;
  }
  ShowPage(true);
  QCoreApplication::processEvents();
  FaxTableCloseAndOpen();
}

void TMainScreen::FaxTableCloseAndOpen() {
  const uint32_t recno = FaxTable.recNo();
  FaxGrid->setUpdatesEnabled(false);
  const int order = FaxTable.order();
  FaxTable.close();
  if (!records::OpenFaxDBF(FaxTable, ProgramFolder(), ListFilter.toStdString())) {
    // Without its outgoing table the window cannot go on, as at start-up.
    FaxGrid->setUpdatesEnabled(true);
    FaxGrid->recordModel()->Reload();
    ShowInfo(QString::fromLatin1(kFaxTableFailed));
    QCoreApplication::postEvent(this, new QEvent(kCloseWindowEvent));
    return;
  }
  QCoreApplication::processEvents();
  FaxTable.setFilter(ListFilter.toStdString());
  FaxTable.setOrder(order);
  if (FaxTable.go(recno) != 0) FaxTable.goTop();
  FaxGrid->setUpdatesEnabled(true);
  FaxGrid->recordModel()->Reload();  // a reopened table starts its change count afresh
  FaxGrid->Refresh();
  SetButtons();
}

void TMainScreen::mnuPhoneBookClick() {
  if (RefusedInReceiveMode()) return;
  ShowPhoneBook(this);
}

void TMainScreen::FaxLogFileCleanup1Click() {
  if (RefusedInReceiveMode()) return;
  bool deleted = false;
  {
    TDMForm form(FaxTable, RecTable, this);
    CentreForm(&form);
    form.SetFullMode(true);
    form.exec();
    deleted = form.SomethingDeleted();
  }
  RefreshGrids();
  if (deleted) mnuRebuildIndexesClick();
  SetButtons();
}

void TMainScreen::mnuRebuildIndexesClick() {
  if (RefusedInReceiveMode()) return;
  FaxGrid->setUpdatesEnabled(false);
  RunIndexRebuild(FaxTable, RecTable, PhoneTable, this);
  ApplyListFilter();
  FaxGrid->setUpdatesEnabled(true);
  RefreshGrids();
  if (!FirstActivation) SetButtons();
}

}  // namespace qn

namespace qn {

void TMainScreen::SaveGridOrders() { FaxGrid->SaveLayout(QString::fromStdString(ProgramFolder()) + QStringLiteral("Out")); }
void TMainScreen::LoadGridOrders() { FaxGrid->LoadLayout(QString::fromStdString(ProgramFolder()) + QStringLiteral("Out")); }

}  // namespace qn
