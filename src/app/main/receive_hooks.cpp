#include "receive_hooks.h"

#include <QCoreApplication>
#include <QStatusBar>

#include "common/app_events.h"
#include "hooks.h"
#include "main_screen.h"
#include "records/ui/record_grid.h"
#include "sessions/receive_mode.h"

namespace qn {

TReceiveMode& ReceiveModeOf(TMainScreen& w) {
  if (auto* mode = w.findChild<TReceiveMode*>(QString(), Qt::FindDirectChildrenOnly)) return *mode;
  TReceiveHost host;
  host.window = &w;
  host.recTable = &w.RecTable;
  host.receiveButton = w.ReceiveButton;
  host.receiveMenu = w.mnuReceive;
  host.inReceiveMode = &w.InReceiveMode;
  host.receivingNow = &w.ReceivingNow;
  host.logging = &w.ReceiveLogging;
  host.logLines = w.ReceiveLogLines;
  QStatusBar* status = w.statusBar();
  host.setStatus = [status](const QString& text) {
    if (text.isEmpty())
      status->clearMessage();
    else
      status->showMessage(text);
  };
  host.setButtons = [&w] { w.SetButtons(); };
  host.showIncoming = [&w] { w.ShowPage(false); };
  host.showRecord = [&w](uint32_t recNo) {
    w.RecFaxGrid->Refresh();
    w.RecTable.go(recNo);  // a record the list filter hides is left alone
    w.RecFaxGrid->Refresh();
  };
  host.printer = [&w] { return w.Printer(); };
  host.postSound = [&w] { QCoreApplication::postEvent(&w, new QEvent(kPlaySoundEvent)); };
  return *new TReceiveMode(std::move(host), &w);
}

void InstallReceiveHooks() {
  Hooks().ReceiveFaxes = [](TMainScreen& w) { ReceiveModeOf(w).ReceiveButtonClick(); };
  Hooks().StartReceiveModeAtStartup = [](TMainScreen& w) {
    TReceiveMode& mode = ReceiveModeOf(w);
    if (!mode.On()) mode.ReceiveButtonClick();
  };
  Hooks().CloseQueryReceive = [](TMainScreen& w) {
    auto* mode = w.findChild<TReceiveMode*>(QString(), Qt::FindDirectChildrenOnly);
    return !mode || mode->CloseQuery();
  };
  Hooks().PlayReceiveSound = [](TMainScreen&) { PlayReceiveSound(); };
}

}  // namespace qn
