#include "rebuild_window.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "common/app_events.h"
#include "common/dialogs.h"
#include "common/folders.h"
#include "records/rebuild.h"

namespace qn {

TRebuildInd::TRebuildInd(xb::Table& fax, xb::Table& rec, xb::Table& phone, QWidget* parent)
    : QDialog(parent), fax_(fax), rec_(rec), phone_(phone) {
  setWindowTitle(QStringLiteral("Rebuild Indexes"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  Gauge1 = new QProgressBar(this);
  Gauge1->setRange(0, 100);
  Gauge1->setValue(0);
  WhatAmIDoing = new QLabel(this);
  WhatAmIDoing->setVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(WhatAmIDoing);
  layout->addWidget(Gauge1);
  setMinimumWidth(380);
}

void TRebuildInd::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!started_) {
    started_ = true;
    QTimer::singleShot(0, this, &TRebuildInd::FormActivate);
  }
}

void TRebuildInd::FormActivate() {
  records::RebuildSink sink;
  sink.status = [this](const std::string& text) {
    WhatAmIDoing->setText(QString::fromStdString(text));
    WhatAmIDoing->setVisible(true);
    Gauge1->setValue(0);
    QCoreApplication::processEvents();
  };
  sink.progress = [this](int percent) {
    Gauge1->setValue(std::clamp(percent, 0, 100));
    QCoreApplication::processEvents();
  };
  passResult_ = records::RebuildIndexes(fax_, rec_, phone_, ProgramFolder(), sink, &passError_);
  QCoreApplication::postEvent(this, new QEvent(kCloseWindowEvent));
}

bool TRebuildInd::event(QEvent* e) {
  if (e->type() == kCloseWindowEvent) {
    accept();
    return true;
  }
  return QDialog::event(e);
}

void TRebuildInd::keyPressEvent(QKeyEvent* e) { e->accept(); }

int RunIndexRebuild(xb::Table& fax, xb::Table& rec, xb::Table& phone, QWidget* parent) {
  TRebuildInd window(fax, rec, phone, parent);
  CentreForm(&window);
  window.exec();
  if (window.result() != 0)
    MessageBoxText(QStringLiteral("The indexes could not be rebuilt.\r") + QString::fromStdString(window.PassError()),
                   QStringLiteral("Rebuild Indexes"), mbOk | mbIconError);
  return window.result();
}

}  // namespace qn
