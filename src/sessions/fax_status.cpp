#include "sessions/fax_status.h"

#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "fe_status.h"
#include "fe_texts.h"
#include "send_fax.h"

namespace qn {

namespace {

QString FromStd(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

QString NameOnly(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return FromStd(slash == std::string::npos ? path : path.substr(slash + 1));
}

QString MinutesSeconds(qint64 ms) {
  const qint64 secs = ms / 1000;
  return QStringLiteral("%1:%2").arg(secs / 60, 2, 10, QLatin1Char('0')).arg(secs % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

TFeFaxStatus::TFeFaxStatus(QWidget* parent) : QDialog(parent, Qt::Dialog) {
  setObjectName(QStringLiteral("TFeFaxStatus"));
  setWindowTitle(QStringLiteral("Fax Status"));
  auto* form = new QFormLayout;
  for (const char* label : {"Phone number:", "Fax file name:", "Cover file name:", "Total pages:", "Dial attempt:",
                            "Remote ID:", "Connect BPS:", "Resolution:", "Width:", "Error control:", "Current page:",
                            "Page length:", "Bytes transferred:", "Elapsed time:", "Status:"})
    form->addRow(QString::fromLatin1(label), Add(QString::fromLatin1(label)));
  lineValue_ = Add(QStringLiteral("Line:"));
  form->insertRow(1, QStringLiteral("Line:"), lineValue_);
  form->setRowVisible(lineValue_, false);
  form_ = form;
  meterLabel_ = new QLabel(QStringLiteral("Page progress:"), this);
  PageMeter = new QProgressBar(this);
  PageMeter->setRange(0, 100);
  form->addRow(meterLabel_, PageMeter);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  connect(CancelButton, &QPushButton::clicked, this, [this] {
    if (fax_) fax_->Cancel();
  });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(CancelButton, 0, Qt::AlignHCenter);
  setMinimumWidth(420);
  tick_ = new QTimer(this);
  tick_->setInterval(1000);
  connect(tick_, &QTimer::timeout, this, &TFeFaxStatus::Update);
}

QLabel* TFeFaxStatus::Add(const QString& label) {
  auto* value = new QLabel(this);
  value->setTextInteractionFlags(Qt::TextSelectableByMouse);
  value->setMinimumWidth(260);
  fields_.append({label, value});
  return value;
}

QString TFeFaxStatus::Value(const QString& label) const {
  for (const auto& f : fields_)
    if (f.first == label) return f.second->text();
  return {};
}

void TFeFaxStatus::FaxStatus(fe::TFeAbstractFax& fax, bool first, bool last) {
  if (first || !fax_) {
    fax_ = &fax;
    receiver_ = dynamic_cast<fe::TFeSendFax*>(&fax) == nullptr;
    elapsedRunning_ = false;
    elapsedMs_ = 0;
    lastStatus_ = -1;
    meterLabel_->setText(receiver_ ? QStringLiteral("Page progress: N/A") : QStringLiteral("Page progress:"));
    PageMeter->setVisible(!receiver_);
    if (!isVisible()) {
      adjustSize();
      if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
      }
      show();
    }
    tick_->start();
  }
  Update();
  if (last) {
    tick_->stop();
    hide();
    fax_ = nullptr;
  }
}

void TFeFaxStatus::ShowElapsed() {
  const qint64 ms = elapsedRunning_ ? elapsed_.elapsed() : elapsedMs_;
  for (auto& f : fields_)
    if (f.first == QLatin1String("Elapsed time:")) f.second->setText(MinutesSeconds(ms));
}

void TFeFaxStatus::Update() {
  if (!fax_) return;
  const fe::TFaxSessionValues v = fax_->Session();
  const int status = v.status;
  if (!elapsedRunning_ && elapsedMs_ == 0 && (status == fe::fsGettingParams || status == fe::fsGotRemoteId)) {
    elapsed_.start();
    elapsedRunning_ = true;
  }
  if (elapsedRunning_ && (status == fe::fsFinished || status == fe::fsUserAbort || status == fe::fsGotFHNG)) {
    elapsedMs_ = std::max<qint64>(elapsed_.elapsed(), 1);
    elapsedRunning_ = false;
  }
  if (status == fe::fsBusyWaitRedial && lastStatus_ != fe::fsBusyWaitRedial) redial_.start();
  lastStatus_ = status;

  auto set = [this](const char* label, const QString& text) {
    for (auto& f : fields_)
      if (f.first == QLatin1String(label)) f.second->setText(text);
  };
  set("Phone number:", receiver_ ? QString() : FromStd(v.phoneNumber));
  if (LineText) set("Line:", LineText());
  form_->setRowVisible(lineValue_, static_cast<bool>(LineText));
  set("Fax file name:", NameOnly(v.faxFile));
  set("Cover file name:", receiver_ ? QString() : NameOnly(v.coverFile));
  set("Total pages:", QString::number(v.pages));
  set("Dial attempt:", receiver_ ? QStringLiteral("1") : QString::number(v.dialAttempt));
  set("Remote ID:", FromStd(v.remoteId));
  set("Connect BPS:", QString::number(v.bps));
  set("Resolution:", v.fine ? QStringLiteral("high") : QStringLiteral("standard"));
  set("Width:", v.wide ? QStringLiteral("2048") : QStringLiteral("1728"));
  set("Error control:", v.ecm ? QStringLiteral("on") : QStringLiteral("off"));
  set("Current page:",
      v.page == 0 && !v.coverFile.empty() && !receiver_ ? QStringLiteral("<cover page>") : QString::number(v.page));
  set("Page length:", QString::number(v.pageLength));
  set("Bytes transferred:", QString::number(v.bytesTransferred));
  QString text = FromStd(fe::StatusText(status));
  if (status == fe::fsBusyWaitRedial) {
    int wait = 60;
    if (auto* sender = dynamic_cast<fe::TFeSendFax*>(fax_)) wait = sender->DialRetryWait;
    const qint64 left = std::max<qint64>(0, wait - redial_.elapsed() / 1000);
    text += QStringLiteral(" %1").arg(MinutesSeconds(left * 1000));
  }
  set("Status:", text);
  ShowElapsed();
  PageMeter->setValue(v.pageLength > 0 ? static_cast<int>(std::min<long>(100, v.bytesTransferred * 100 / v.pageLength))
                                       : 0);
}

}  // namespace qn
