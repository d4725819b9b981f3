// The index rebuild window: runs the pass over the three tables as soon as it is
// shown, with a gauge and a status line, then closes itself.
#pragma once

#include <QDialog>
#include <string>

#include "xbase/xb_table.h"

class QLabel;
class QProgressBar;

namespace qn {

class TRebuildInd : public QDialog {
  Q_OBJECT
 public:
  TRebuildInd(xb::Table& fax, xb::Table& rec, xb::Table& phone, QWidget* parent = nullptr);
  QProgressBar* Gauge1;
  QLabel* WhatAmIDoing;
  int result() const { return passResult_; }
  const std::string& PassError() const { return passError_; }

 protected:
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void reject() override {}  // the pass cannot be interrupted

 private:
  void FormActivate();
  xb::Table& fax_;
  xb::Table& rec_;
  xb::Table& phone_;
  bool started_ = false;
  int passResult_ = 0;
  std::string passError_;
};

// Shows the rebuild window modally over parent, centred; a failed pass is
// reported in an error box. Returns the pass result.
int RunIndexRebuild(xb::Table& fax, xb::Table& rec, xb::Table& phone, QWidget* parent);

}  // namespace qn
