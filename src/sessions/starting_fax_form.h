// TStartingFaxForm: the small stay-on-top window that tells the user receive
// mode is being started and then that it is on. Created once with the main
// window and kept for the whole run.
//
// Conventions: interface thread only. Not modal. Showing it (in either state)
// starts a 15-second timer that hides it again; hiding stops the timer. The
// "Do not show this again" box writes DisableReceivingFaxesNotification into the
// settings record only (it is saved with the next save of the settings).
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace qn {

class TStartingFaxForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHideAfterMs = 15000;

  explicit TStartingFaxForm(QWidget* parent = nullptr);

  // The starting panel, "Ok" and the check box hidden.
  void SetStarting();
  // The ready panel with "Ok" and the check box.
  void SetReady();
  bool Ready() const;

  QWidget *StartingPanel, *ReadyPanel;
  QPushButton* OkButton;
  QCheckBox* DontShowBox;
  QTimer* HideTimer;

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
};

}  // namespace qn
