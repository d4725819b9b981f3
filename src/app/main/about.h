// The About and Quick-Start windows, and the product's web address.
#pragma once

#include <QDialog>
#include <QUrl>

class QPlainTextEdit;
class QPrinter;

namespace qn {

// The address "Visit Our Internet Website" opens: key Website of section
// [Program] in QN.INI when it is set (a web address or a file), else the
// project's own page shipped with the help pages (readme.html).
QUrl WebSiteAddress();

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
