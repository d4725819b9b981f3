// The About and Quick-Start windows, and the product's web address.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPrinter;

namespace qn {

// $QUILLON_WEBSITE when set, else the project's page.
QString WebSiteAddress();

class TSplashform : public QDialog {
  Q_OBJECT
 public:
  explicit TSplashform(QWidget* parent = nullptr);
};

class TQuickStart : public QDialog {
  Q_OBJECT
 public:
  explicit TQuickStart(QWidget* parent = nullptr);
  QPlainTextEdit* Text;
  // Prints every line in Courier 10 point from half an inch in, one page.
  void PrintTo(QPrinter& printer);
  void PrintClick();
  void CopyClick();
};

}  // namespace qn
