#include "pre_print_form.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "common/dialogs.h"
#include "common/print_options.h"

namespace qn {

TPrePrintForm::TPrePrintForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PrePrintForm"));
  setWindowTitle(QStringLiteral("Print"));
  auto makeSpin = [this](const char* name, const QString& hint) {
    auto* spin = new QSpinBox(this);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setToolTip(hint);
    spin->setRange(1, 1);
    return spin;
  };
  FromPage = makeSpin("FromPage", QStringLiteral("Starting page to print from"));
  ToPage = makeSpin("ToPage", QStringLiteral("Ending page to print from"));
  auto makeCheck = [this](const char* name, const QString& text, const QString& hint) {
    auto* box = new QCheckBox(text, this);
    box->setObjectName(QString::fromLatin1(name));
    box->setToolTip(hint);
    return box;
  };
  Header = makeCheck("Header", QStringLiteral("Print &Header"),
                     QStringLiteral("Print a header giving identifying info about the fax"));
  Footer = makeCheck("Footer", QStringLiteral("Print &Footer"), QStringLiteral("Prints page numbers in the footer"));
  MultiPage = makeCheck("MultiPage", QStringLiteral("Print &4 faxes to a page"),
                        DisplayText(QStringLiteral("Print four fax pages per printed page (two\rfax pages per printed "
                                                   "page if landscape)")));
  Stretch = makeCheck("Stretch", QStringLiteral("&Stretch/shrink faxes to fit on page"),
                      QStringLiteral("Stretch or shrink each page so that it fits on a full sheet of printed paper"));
  OkButton = new QPushButton(QStringLiteral("Ok"), this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  connect(OkButton, &QPushButton::clicked, this, &TPrePrintForm::accept);
  connect(CancelButton, &QPushButton::clicked, this, &TPrePrintForm::reject);

  auto* range = new QFormLayout;
  auto* fromLabel = new QLabel(QStringLiteral("F&rom Page:"), this);
  fromLabel->setBuddy(FromPage);
  auto* toLabel = new QLabel(QStringLiteral("&To Page:"), this);
  toLabel->setBuddy(ToPage);
  range->addRow(fromLabel, FromPage);
  range->addRow(toLabel, ToPage);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(range);
  for (QCheckBox* box : {Header, Footer, MultiPage, Stretch}) layout->addWidget(box);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog
  setTabOrder(FromPage, ToPage);
  setTabOrder(ToPage, Header);
  setTabOrder(Header, Footer);
  setTabOrder(Footer, MultiPage);
  setTabOrder(MultiPage, Stretch);
  setTabOrder(Stretch, OkButton);
  setTabOrder(OkButton, CancelButton);
}

void TPrePrintForm::SetRange(unsigned pageCount, unsigned first, unsigned last) {
  const int max = int(std::max(pageCount, 1u));
  FromPage->setRange(1, max);
  ToPage->setRange(1, max);
  FromPage->setValue(int(first));
  ToPage->setValue(int(last));
}

void TPrePrintForm::SetOptions(const PrintOptions& options) {
  Header->setChecked(options.Header);
  Footer->setChecked(options.Footer);
  MultiPage->setChecked(options.MultiPage);
  Stretch->setChecked(options.Stretch);
}

void TPrePrintForm::GetOptions(PrintOptions& options) const {
  options.Header = Header->isChecked();
  options.Footer = Footer->isChecked();
  options.MultiPage = MultiPage->isChecked();
  options.Stretch = Stretch->isChecked();
}

void TPrePrintForm::accept() {
  FromPage->interpretText();
  ToPage->interpretText();
  if (ToPage->isEnabled() && ToPage->value() < FromPage->value()) {
    Beep();
    return;
  }
  QDialog::accept();
}

}  // namespace qn
