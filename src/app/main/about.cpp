#include "about.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/folders.h"
#include "common/help.h"
#include "common/ini_file.h"
#include "sessions/settings.h"

namespace qn {
namespace {

const char* kQuickStartText =
    "QUILLON QUICK-START\n"
    "\n"
    "Quillon keeps two lists: the faxes you send (Outgoing Faxes) and the faxes\n"
    "you receive (Incoming Faxes).\n"
    "\n"
    "1. Set up your modem first: File, Preferences. Choose the serial port of your\n"
    "   fax modem and type your own name and fax number.\n"
    "\n"
    "2. To send a document from any other program, print it to the Quillon fax\n"
    "   printer instead of your paper printer. The printed document becomes an\n"
    "   outgoing fax the next time you switch to Quillon.\n"
    "\n"
    "   Example: in your word processor write a letter, choose File, Print, pick\n"
    "   the printer named \"Quillon Fax\" and press Print. Switch to Quillon: the\n"
    "   letter is listed under Outgoing Faxes. Select it, press Edit to type the\n"
    "   recipient's name and fax number, then press Send.\n"
    "\n"
    "3. For a quick one-page message press New: write the message on a cover\n"
    "   sheet and send it.\n"
    "\n"
    "4. To receive faxes press Receive. Quillon answers incoming calls until you\n"
    "   press Stop. Received faxes are listed under Incoming Faxes.\n"
    "\n"
    "5. Old faxes can be archived (File, Archive) or removed in bulk with\n"
    "   File, Fax Log Cleanup.\n";

// A small fax-machine picture for the About window.
QPixmap Picture() {
  QPixmap pm(96, 72);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0, 0, 160));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(4, 28, 88, 40, 6, 6);
  p.setBrush(Qt::white);
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(22, 4, 52, 34);
  for (int y = 12; y < 34; y += 6) p.drawLine(28, y, 68, y);
  p.setBrush(QColor(0, 128, 0));
  p.drawEllipse(12, 44, 10, 10);
  return pm;
}

}  // namespace

QUrl WebSiteAddress() {
  const QString set = QString::fromStdString(
                          IniFile(SettingsFile()).ReadString("Program", "Website", std::string()))
                          .trimmed();
  if (set.isEmpty()) return QUrl::fromLocalFile(HelpFolder() + QStringLiteral("/readme.html"));
  // A path is a page on this computer; anything else is a web address.
  if (set.startsWith(QLatin1Char('/'))) return QUrl::fromLocalFile(set);
  return QUrl::fromUserInput(set);
}

TSplashform::TSplashform(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Quillon"));
  auto* picture = new QLabel(this);
  picture->setPixmap(Picture());
  auto* name = new QLabel(QStringLiteral("Quillon"), this);
  QFont f = name->font();
  f.setPointSizeF(f.pointSizeF() * 2);
  f.setBold(true);
  name->setFont(f);
  auto* version = new QLabel(QStringLiteral("Version ") + QLatin1String(kVersionText), this);
  version->setObjectName(QStringLiteral("Version"));
  // The build's own word size: the label tells the truth on every machine.
  auto* bits = new QLabel(QString::number(sizeof(void*) * 8) + QStringLiteral("-bit version"), this);
  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(version);
  text->addWidget(bits);
  text->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(picture);
  top->addLayout(text);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
}

TQuickStart::TQuickStart(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Quillon Quick-Start"));
  Text = new QPlainTextEdit(this);
  Text->setReadOnly(true);
  Text->setPlainText(QString::fromLatin1(kQuickStartText));
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* print = new QPushButton(QStringLiteral("&Print"), this);
  auto* copy = new QPushButton(QStringLiteral("&Copy to Clipboard"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(print, &QPushButton::clicked, this, &TQuickStart::PrintClick);
  connect(copy, &QPushButton::clicked, this, &TQuickStart::CopyClick);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(print);
  buttons->addWidget(copy);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text);
  layout->addLayout(buttons);
  resize(600, 460);
}

void TQuickStart::PrintTo(QPrinter& printer) {
  QPainter p;
  if (!p.begin(&printer)) return;
  QFont font(QStringLiteral("Courier"), 10);
  font.setStyleHint(QFont::TypeWriter);
  p.setFont(QFont(font, &printer));
  const int lineHeight = p.fontMetrics().height();  // the text height of "W"
  const int left = printer.logicalDpiX() / 2;
  int y = printer.logicalDpiY() / 2;
  for (const QString& line : Text->toPlainText().split(QLatin1Char('\n'))) {
    p.drawText(left, y + p.fontMetrics().ascent(), line);
    y += lineHeight;
  }
  p.end();
}

void TQuickStart::PrintClick() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return;
  PrintTo(printer);
  ShowInfo(windowTitle() + QStringLiteral(" Printed!"));
}

void TQuickStart::CopyClick() {
  QApplication::clipboard()->setText(Text->toPlainText());
  QTextCursor c = Text->textCursor();
  c.clearSelection();
  Text->setTextCursor(c);
  ShowInfo(windowTitle() + QStringLiteral(" copied to the clipboard!"));
}

}  // namespace qn
