#include "dialogs.h"

#include <QApplication>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include "common/folders.h"
#include "common/ini_file.h"

namespace qn {
namespace {

QPointer<QWidget> g_mainWindow;

QString ClassNameOf(const QWidget* w) {
  QString name = QString::fromLatin1(w->metaObject()->className());
  const int colons = name.lastIndexOf(QLatin1String("::"));
  return colons >= 0 ? name.mid(colons + 2) : name;
}

QRect ScreenRect(const QWidget* w) {
  QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return s ? s->geometry() : QRect(0, 0, 1024, 768);
}

int ScreenDpi(const QWidget* w) {
  QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return s ? qRound(s->logicalDotsPerInch()) : 96;
}

}  // namespace

void SetMainWindow(QWidget* w) { g_mainWindow = w; }
QWidget* MainWindow() { return g_mainWindow.data(); }

QString DisplayText(const QString& text) {
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

int MessageBoxText(const QString& text, const QString& caption, unsigned flags) {
  QMessageBox box(MainWindow());
  box.setWindowTitle(caption);
  box.setText(DisplayText(text));
  switch (flags & 0xF0) {
    case mbIconError: box.setIcon(QMessageBox::Critical); break;
    case mbIconQuestion: box.setIcon(QMessageBox::Question); break;
    case mbIconWarning: box.setIcon(QMessageBox::Warning); break;
    case mbIconInformation: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  QList<QPair<QMessageBox::StandardButton, int>> buttons;
  switch (flags & 0xF) {
    case mbOkCancel: buttons = {{QMessageBox::Ok, idOk}, {QMessageBox::Cancel, idCancel}}; break;
    case mbYesNoCancel:
      buttons = {{QMessageBox::Yes, idYes}, {QMessageBox::No, idNo}, {QMessageBox::Cancel, idCancel}};
      break;
    case mbYesNo: buttons = {{QMessageBox::Yes, idYes}, {QMessageBox::No, idNo}}; break;
    default: buttons = {{QMessageBox::Ok, idOk}}; break;
  }
  QMessageBox::StandardButtons set;
  for (const auto& b : buttons) set |= b.first;
  box.setStandardButtons(set);
  const int def = static_cast<int>((flags >> 8) & 0xF);
  if (def < buttons.size()) box.setDefaultButton(buttons[def].first);
  // Escape answers Cancel where there is one, else No, else OK.
  box.setEscapeButton(buttons.size() == 2 && buttons[1].first == QMessageBox::No ? QMessageBox::No
                                                                                  : buttons.last().first);
  const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
  for (const auto& b : buttons)
    if (b.first == pressed) return b.second;
  return (flags & 0xF) == mbOk ? idOk : idCancel;
}

bool AskYesNo(const QString& text, const QString& caption) {
  return MessageBoxText(text, caption, mbYesNo | mbIconQuestion | mbDefButton1) == idYes;
}

bool AskYesNoDefaultNo(const QString& text, const QString& caption) {
  return MessageBoxText(text, caption, mbYesNo | mbIconQuestion | mbDefButton2) == idYes;
}

void ShowInfo(const QString& text) {
  MessageBoxText(text, QStringLiteral("Information"), mbOk | mbIconInformation);
}

void Beep() { QApplication::beep(); }

QPoint CentredOver(const QRect& outer, const QSize& inner) {
  return {outer.left() + (outer.width() - inner.width()) / 2, outer.top() + (outer.height() - inner.height()) / 2};
}

void CentreForm(QWidget* w) {
  if (!w) return;
  w->ensurePolished();
  if (w->size().isEmpty() || !w->testAttribute(Qt::WA_Resized)) w->adjustSize();
  QWidget* main = MainWindow();
  const bool isMain = ClassNameOf(w).toUpper() == QLatin1String("TMAINSCREEN");
  QRect over = ScreenRect(w);
  if (!isMain && main && main != w && !main->isMaximized()) over = main->frameGeometry();
  w->move(CentredOver(over, w->frameGeometry().size()));
  if (w->windowFlags() & Qt::WindowMaximizeButtonHint) w->setWindowFlag(Qt::WindowSystemMenuHint, true);
}

QString PlacementSection(const QString& className, int logicalDpi) {
  QString section = className + QLatin1String("_Placement");
  if (logicalDpi > 96) section += QString::number(logicalDpi);
  return section;
}

QRect PullOntoScreen(const QRect& r, const QRect& screen) {
  // Edges as left/top/right/bottom with right and bottom exclusive.
  const int screenRight = screen.left() + screen.width(), screenBottom = screen.top() + screen.height();
  int left = r.left(), top = r.top(), right = r.left() + r.width(), bottom = r.top() + r.height();
  if (right > screenRight) {
    left -= right - screenRight;
    right = screenRight;
  }
  if (left < screen.left()) {
    right += screen.left() + 1 - left;
    left = screen.left() + 1;
  }
  if (bottom > screenBottom) {
    top -= bottom - screenBottom;
    bottom = screenBottom;
  }
  if (top < screen.top()) {
    bottom += screen.top() + 1 - top;
    top = screen.top() + 1;
  }
  return QRect(left, top, right - left, bottom - top);
}

void RestorePlacement(QWidget* w) {
  if (!w) return;
  const IniFile ini(SettingsFile());
  const std::string section = PlacementSection(ClassNameOf(w), ScreenDpi(w)).toStdString();
  const int left = ini.ReadInteger(section, "Left", 0);
  const int top = ini.ReadInteger(section, "Top", 0);
  const int right = ini.ReadInteger(section, "Right", 0);
  const int bottom = ini.ReadInteger(section, "Bottom", 0);
  if (ini.ReadBool(section, "Maximized", w->isMaximized())) {
    w->showMaximized();
    return;
  }
  QRect r(left, top, right - left, bottom - top);
  if (bottom == 0 || r.width() <= 0 || r.height() <= 0) {
    CentreForm(w);
    r = w->geometry();
  }
  // The screen the stored place lies on, else the one the window is on.
  QScreen* on = QGuiApplication::screenAt(r.center());
  w->setGeometry(PullOntoScreen(r, on ? on->geometry() : ScreenRect(w)));
}

void SavePlacement(QWidget* w) {
  if (!w) return;
  IniFile ini(SettingsFile());
  if (!ini.readable()) return;
  const std::string section = PlacementSection(ClassNameOf(w), ScreenDpi(w)).toStdString();
  const QRect r = w->isMaximized() || w->isMinimized() ? w->normalGeometry() : w->geometry();
  ini.WriteInteger(section, "Left", r.left());
  ini.WriteInteger(section, "Top", r.top());
  ini.WriteInteger(section, "Right", r.left() + r.width());
  ini.WriteInteger(section, "Bottom", r.top() + r.height());
  ini.WriteBool(section, "Maximized", w->isMaximized());
  ini.Flush();
}

namespace {
QString g_shortDateFormat;
}

QString UserShortDateFormat() {
  return g_shortDateFormat.isEmpty() ? QLocale().dateFormat(QLocale::ShortFormat) : g_shortDateFormat;
}
void SetUserShortDateFormat(const QString& format) { g_shortDateFormat = format; }
QString UserShortTimeFormat() { return QLocale().timeFormat(QLocale::ShortFormat); }

void PopupBelow(QWidget* button, QMenu* menu) {
  if (!button || !menu) return;
  menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

}  // namespace qn
