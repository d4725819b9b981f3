#include "hints.h"

#include <QApplication>
#include <QHelpEvent>
#include <QProxyStyle>
#include <QStatusTipEvent>
#include <QToolTip>
#include <QWidget>

#include "common/dialogs.h"

namespace qn {
namespace {

bool g_hintsOn = true;

class THintStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_ToolTip_WakeUpDelay) return 1200;
    if (hint == SH_ToolTip_FallAsleepDelay) return 30000;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// Swallows hint and status-tip events while hints are off; shows them for 30 s with the
// program's "\r" line breaks while they are on.
class THintFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* e) override {
    // Status-line tips are hints too (an empty one only clears the line).
    if (e->type() == QEvent::StatusTip) return !g_hintsOn && !static_cast<QStatusTipEvent*>(e)->tip().isEmpty();
    if (e->type() != QEvent::ToolTip || !watched->isWidgetType()) return false;
    if (!g_hintsOn) return true;
    auto* w = static_cast<QWidget*>(watched);
    if (w->toolTip().isEmpty()) return false;
    QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), DisplayText(w->toolTip()), w, {}, 30000);
    return true;
  }
};

}  // namespace

void InstallHintStyle() {
  static bool installed = false;
  if (installed || !qApp) return;
  installed = true;
  QApplication::setStyle(new THintStyle);
  qApp->installEventFilter(new THintFilter(qApp));
}

void SetHintsEnabled(bool on) {
  g_hintsOn = on;
  InstallHintStyle();
}

bool HintsEnabled() { return g_hintsOn; }

}  // namespace qn
