// Message and question boxes, dialog centring, window placement in the settings
// file and pop-up menus below buttons: the look every window shares.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;
class QMenu;

namespace qn {

// Style flags of MessageBoxText: one button set, one icon and one default button.
enum MbFlags : unsigned {
  mbOk = 0x0,
  mbOkCancel = 0x1,
  mbYesNoCancel = 0x3,
  mbYesNo = 0x4,
  mbIconError = 0x10,
  mbIconQuestion = 0x20,
  mbIconWarning = 0x30,
  mbIconInformation = 0x40,
  mbDefButton1 = 0x000,
  mbDefButton2 = 0x100,
  mbDefButton3 = 0x200,
};
// The button pressed.
enum MbResult { idOk = 1, idCancel = 2, idYes = 6, idNo = 7 };

// The program's main window: the parent of boxes and the window others centre over.
void SetMainWindow(QWidget* w);
QWidget* MainWindow();

// Texts use "\r" (or "\r\n") for line breaks; they are shown as separate lines.
QString DisplayText(const QString& text);

int MessageBoxText(const QString& text, const QString& caption, unsigned flags);
bool AskYesNo(const QString& text, const QString& caption);           // Yes is the default
bool AskYesNoDefaultNo(const QString& text, const QString& caption);  // No is the default
void ShowInfo(const QString& text);                                   // caption "Information"
void Beep();

// Positions a window before it is shown: the main window on the screen; any
// other window over the main window, or on the screen when the main window is
// maximised.
void CentreForm(QWidget* w);
// left/top of a rectangle of size inner centred over outer (halves towards zero).
QPoint CentredOver(const QRect& outer, const QSize& inner);

// Placement section: class name + "_Placement", with the logical resolution
// appended above 96 dots per inch.
QString PlacementSection(const QString& className, int logicalDpi);
// Pulls a rectangle (left, top, right, bottom) back inside a screen's area:
// moved left by the excess beyond the right edge, then to 1 pixel inside the
// left edge when it lies beyond it; the same vertically. A window restored
// goes to the screen its stored place lies on (else the screen it is on).
QRect PullOntoScreen(const QRect& r, const QRect& screen);
void RestorePlacement(QWidget* w);
void SavePlacement(QWidget* w);

// The user's short date format, saved at start-up before anything changes it;
// dates in the lists are shown in it.
QString UserShortDateFormat();
void SetUserShortDateFormat(const QString& format);
QString UserShortTimeFormat();

// Pops the menu up at the button's lower-left corner.
void PopupBelow(QWidget* button, QMenu* menu);

}  // namespace qn
