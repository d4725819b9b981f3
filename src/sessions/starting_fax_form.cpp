#include "sessions/starting_fax_form.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "sessions/settings.h"

namespace qn {

TStartingFaxForm::TStartingFaxForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("TStartingFaxForm"));
  setWindowTitle(QStringLiteral("Starting Receive mode..."));
  setModal(false);

  StartingPanel = new QWidget(this);
  auto* starting = new QVBoxLayout(StartingPanel);
  starting->addWidget(new QLabel(QStringLiteral("Please wait while fax receive mode is started....."), StartingPanel));

  ReadyPanel = new QWidget(this);
  auto* ready = new QVBoxLayout(ReadyPanel);
  for (const char* text : {"Quillon is in receive mode now", "To end receive mode, press the STOP button",
                           "While in receive mode, sending faxes is not possible"})
    ready->addWidget(new QLabel(QString::fromLatin1(text), ReadyPanel));

  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  DontShowBox = new QCheckBox(QStringLiteral("Do not show this again"), this);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(DontShowBox);
  bottom->addStretch();
  bottom->addWidget(OkButton);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(StartingPanel);
  layout->addWidget(ReadyPanel);
  layout->addLayout(bottom);
  setTabOrder(OkButton, DontShowBox);

  HideTimer = new QTimer(this);
  HideTimer->setSingleShot(true);
  HideTimer->setInterval(kHideAfterMs);
  connect(HideTimer, &QTimer::timeout, this, &QWidget::hide);
  connect(OkButton, &QPushButton::clicked, this, &QWidget::hide);
  connect(DontShowBox, &QCheckBox::clicked, this,
          [](bool checked) { Settings().DisableReceivingFaxesNotification = checked; });
  SetStarting();
}

void TStartingFaxForm::SetStarting() {
  ReadyPanel->hide();
  OkButton->hide();
  DontShowBox->hide();
  StartingPanel->show();
  adjustSize();
}

void TStartingFaxForm::SetReady() {
  StartingPanel->hide();
  ReadyPanel->show();
  OkButton->show();
  DontShowBox->show();
  DontShowBox->setChecked(Settings().DisableReceivingFaxesNotification);
  adjustSize();
}

bool TStartingFaxForm::Ready() const {
  return !ReadyPanel->isHidden();
}

void TStartingFaxForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  HideTimer->start();
}

void TStartingFaxForm::hideEvent(QHideEvent* e) {
  HideTimer->stop();
  QDialog::hideEvent(e);
}

}  // namespace qn
