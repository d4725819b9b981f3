// quillon-covershots: pictures for the documentation, made on a fresh program
// folder ($QUILLON_HOME): the Fax Cover Sheet Editor filled as a user fills it,
// and a cover page rendered from a shipped template and read back from its fax
// file.   quillon-covershots editor OUT.png | page OUT.png
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "apf_reader.h"
#include "common/folders.h"
#include "covers/cover_render.h"
#include "covers/shipped_covers.h"
#include "faxprep/quick_fax.h"
#include "mh_codec.h"
#include "sessions/settings.h"

namespace {

const QStringList kMessage = {QStringLiteral("Dear Ms Doe,"),
                              QString(),
                              QStringLiteral("here are the revised plans for the extension, as discussed on the phone. "
                                             "Please check the measurements on page 2 and let me know by Friday."),
                              QString(),
                              QStringLiteral("Kind regards,"),
                              QStringLiteral("Sam Sender")};

int Editor(const QString& out) {
  faxprep::TCreateEditQuickFax editor;
  editor.Recipient->setText(QStringLiteral("Jane Doe, Doe Architects"));
  editor.RecipientFax->setText(QStringLiteral("+44 20 7946 0958"));
  editor.Regarding->setText(QStringLiteral("Revised plans for the extension"));
  editor.Notes->setText(QStringLiteral("Send before noon"));
  editor.Codes->setText(QStringLiteral("PRJ-17"));
  editor.cUrgent->setChecked(true);
  editor.cPleaseReply->setChecked(true);
  editor.SetMessageLines(kMessage);
  editor.SetTemplateName(QStringLiteral("QN0002.FCT"));
  editor.move(0, 0);
  editor.show();
  QTimer::singleShot(1500, &editor, [&] {
    const bool ok = editor.grab().save(out);
    QApplication::exit(ok ? 0 : 1);
  });
  return QApplication::exec();
}

int Page(const QString& out) {
  covers::CoverData data;
  data.texts = {covers::LongDateText(),     covers::LongTimeText(), "Revised plans for the extension",
                "Jane Doe, Doe Architects", "+44 20 7946 0958",     "Sam Sender",
                "Sender & Sons Builders",   "+44 20 7946 0100",     "+44 20 7946 0101"};
  data.flags = {true, false, false, true, false};
  const std::string fct = qn::CoversFolder() + "QN0002.FCT";
  const std::string apf = covers::RenderCover("", fct, data, kMessage);
  fe::TApfReader reader;
  fe::TApfPageInfo info;
  std::vector<std::uint8_t> bytes;
  if (reader.Open(apf) != 0 || reader.ReadPage(1, &info, &bytes) != 0) return 1;
  QImage page(1728, 2156, QImage::Format_Mono);
  page.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  page.fill(0);
  int y = 0;
  fe::MhDecodePage(bytes.data(), bytes.size(), info.lineRecords(), 1728, [&](const std::uint8_t* line, unsigned n) {
    if (y < page.height()) std::memcpy(page.scanLine(y++), line, std::min<unsigned>(n, 216));
    return true;
  });
  return page.save(out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: quillon-covershots editor|page OUT.png\n");
    return 2;
  }
  qn::MakeDataFolders();
  covers::InstallShippedCovers(qn::CoversFolder());
  qn::LoadSettings();
  qn::Settings().Name = "Sam Sender";
  qn::Settings().Company = "Sender & Sons Builders";
  const QString mode = QString::fromLocal8Bit(argv[1]), out = QString::fromLocal8Bit(argv[2]);
  if (mode == QLatin1String("editor")) return Editor(out);
  if (mode == QLatin1String("page")) return Page(out);
  return 2;
}
