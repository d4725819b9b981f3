// The standard "Fax Status" window of a fax component: phone number, files,
// pages, dial attempt, remote station, speed, resolution, width, error control,
// current page, page length, bytes, elapsed time, status text, a page meter and
// "Cancel". Attached to a component as its status display: the first status
// call shows it (centred on the screen), every call updates it, the last hides it.
//
// Conventions: user-interface thread only; the component's status calls arrive
// there through the event sink. The window does not own the component; the
// component must stay alive while the window is attached to it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

#include "abstract_fax.h"

class QFormLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qn {

class TFeFaxStatus : public QDialog, public fe::TFeAbstractFaxStatus {
  Q_OBJECT
 public:
  explicit TFeFaxStatus(QWidget* parent = nullptr);

  void FaxStatus(fe::TFeAbstractFax& fax, bool first, bool last) override;

  // The values on show, by their label ("Status:", "Current page:" ...).
  QString Value(const QString& label) const;

  QPushButton* CancelButton;
  QProgressBar* PageMeter;
  // The line the session runs on ("SIP, T.38"), shown as "Line:" when set;
  // a modem's session leaves it empty and the row hidden.
  std::function<QString()> LineText;

 private:
  void Update();
  void ShowElapsed();
  QLabel* Add(const QString& label);

  fe::TFeAbstractFax* fax_ = nullptr;
  bool receiver_ = false;
  QList<QPair<QString, QLabel*>> fields_;
  QLabel* meterLabel_ = nullptr;
  QLabel* lineValue_ = nullptr;
  QFormLayout* form_ = nullptr;
  QTimer* tick_ = nullptr;
  QElapsedTimer elapsed_;
  qint64 elapsedMs_ = 0;  // frozen once the session ended
  bool elapsedRunning_ = false;
  QElapsedTimer redial_;
  int lastStatus_ = -1;
};

}  // namespace qn
