// "Delete Fax": the choice between the cover sheet, the body or both of an
// outgoing fax that has both.
#pragma once

#include <QDialog>

class QButtonGroup;
class QRadioButton;

namespace qn {

class TDeleteWhat : public QDialog {
  Q_OBJECT
 public:
  explicit TDeleteWhat(QWidget* parent = nullptr);
  // 0 cover, 1 body, 2 both.
  int ItemIndex() const;
  void SetItemIndex(int index);
  QButtonGroup* WhatToDelete;
};

}  // namespace qn
