// send-window-shot OUTPUT.png: a Send Fax session through a virtual Class 1
// modem to a simulated fax machine, captured from the screen while the pages go
// out (run under Xvfb by scripts/screenshot.sh send).
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "apf_writer.h"
#include "common/dialogs.h"
#include "common/folders.h"
#include "fax_pages.h"
#include "records/record_tables.h"
#include "sessions/fax_status.h"
#include "sessions/send_command.h"
#include "sessions/send_fax_form.h"
#include "sessions/settings.h"
#include "sim_harness.h"

namespace {

void WriteApf(const std::string& path, const std::vector<qn::sim::RasterPage>& pages) {
  fe::TApfWriter w;
  w.Create(path);
  for (const auto& p : pages) {
    w.BeginPage(static_cast<uint16_t>(fe::pfLineRecords | (p.fine ? fe::pfHighRes : 0)));
    for (const auto& row : p.rows) w.AppendRasterLine(row.data(), 1728);
    w.EndPage();
  }
  w.Close();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) return 2;
  const QString output = QString::fromLocal8Bit(argv[1]);
  const QString home = QDir::tempPath() + QStringLiteral("/qn-send-shot-") + QString::number(app.applicationPid());
  QDir(home).removeRecursively();
  QDir().mkpath(home);
  qputenv("QUILLON_HOME", home.toLocal8Bit());
  qn::ResetProgramFolder();
  qn::MakeDataFolders();

  qn::sim::FaxModemSim sim;
  sim.addModem(qn::sim::ModemKind::Class1, "100");
  sim.addReceiver("5550123", sim.workDir() + "/received.tif");
  if (!sim.start()) return 1;
  sim.pointComPort(1, "100");

  qn::FaxSettings& s = qn::Settings();
  s.ComPort = 0;
  s.FaxClass = 1;
  s.MaximumBPS = 9600;
  s.Fax = "555 0100";
  s.Name = "Harbour Office";
  s.DialAttempts = 3;
  s.RetryWait = 60;

  WriteApf(qn::SendFolder() + "COV00000.APF", qn::sim::makeTestPages(1, 600, true, 3));
  WriteApf(qn::SendFolder() + "FAX00000.APF", qn::sim::makeTestPages(3, 900, true, 4));
  xb::Table table;
  if (!records::OpenFaxDBF(table, qn::ProgramFolder())) return 1;
  table.appendBlank();
  table.setString("FAXDOC", "FAX00000.APF");
  table.setString("FAXCOVER", "COV00000.APF");
  table.setString("RECIPIENT", "Ada Lindqvist");
  table.setString("SUBJECT", "Signed delivery note");
  table.setString("PHONE", "5550123");
  table.post();

  // Press "&Send Fax Now" once the window shows, take the picture while the
  // pages go out, then cancel and close.
  QTimer poll;
  int phase = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* form = qobject_cast<qn::TSendFaxForm*>(QApplication::activeModalWidget());
    if (phase == 0 && form && form->isVisible()) {
      phase = 1;
      QTimer::singleShot(300, form->SendFaxButton, &QPushButton::click);
      return;
    }
    if (phase == 1 && form && form->Sender() &&
        form->FaxStatusWindow->Value(QStringLiteral("Status:")) == QLatin1String("Sending page data") &&
        form->FaxStatusWindow->Value(QStringLiteral("Current page:")) == QLatin1String("1")) {
      phase = 2;
      // Side by side, so that the picture shows both windows whole.
      form->move(10, 30);
      form->FaxStatusWindow->move(form->frameGeometry().right() + 20, 30);
      QTimer::singleShot(1500, [output] {
        QApplication::primaryScreen()->grabWindow(0).save(output);
        for (QWidget* w : QApplication::topLevelWidgets())
          if (auto* status = qobject_cast<qn::TFeFaxStatus*>(w); status && status->isVisible())
            status->CancelButton->click();
      });
      return;
    }
    if (phase == 2 && QApplication::activeModalWidget() && !form) {
      QApplication::activeModalWidget()->close();  // the failure message of the cancelled fax
      return;
    }
    if (phase == 2 && form && !form->Busy()) {
      phase = 3;
      form->CloseButton->click();
    }
  });
  poll.start(100);
  qn::SendCurrentFax(nullptr, table, {});
  table.close();
  sim.stop();
  QDir(home).removeRecursively();
  return QFile::exists(output) ? 0 : 1;
}
