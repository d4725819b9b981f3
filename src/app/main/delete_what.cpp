#include "delete_what.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/help.h"

namespace qn {

TDeleteWhat::TDeleteWhat(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Delete Fax"));
  auto* box = new QGroupBox(this);
  auto* boxLayout = new QVBoxLayout(box);
  WhatToDelete = new QButtonGroup(this);
  const char* items[] = {"Delete Fax Cover", "Delete Fax Body", "Delete Both Fax Cover && Fax Body"};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(QLatin1String(items[i]), box);
    WhatToDelete->addButton(r, i);
    boxLayout->addWidget(r);
  }
  SetItemIndex(0);
  auto* ok = new QPushButton(QStringLiteral("&Ok"), this);
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cance&l"), this);
  auto* help = new QPushButton(QStringLiteral("&Help"), this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  SetHelpTopic(this, 1031);
  connect(help, &QPushButton::clicked, this, [this] { ShowHelpFor(this); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addLayout(buttons);
}

int TDeleteWhat::ItemIndex() const { return WhatToDelete->checkedId(); }
void TDeleteWhat::SetItemIndex(int index) {
  if (auto* b = WhatToDelete->button(index)) b->setChecked(true);
}

}  // namespace qn
