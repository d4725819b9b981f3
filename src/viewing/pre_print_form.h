// TPrePrintForm: the "Print" options dialog shown before a fax is printed: the
// page range and the four print flags. The caller sets the controls, runs it
// modally and reads them back after it closes (accepted = print).
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QSpinBox;

namespace qn {

struct PrintOptions;

class TPrePrintForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPrePrintForm(QWidget* parent = nullptr);

  QSpinBox *FromPage, *ToPage;
  QCheckBox *Header, *Footer, *MultiPage, *Stretch;
  QPushButton *OkButton, *CancelButton;

  // Both page boxes limited to 1..pageCount and set to first..last.
  void SetRange(unsigned pageCount, unsigned first, unsigned last);
  void SetOptions(const PrintOptions& options);
  void GetOptions(PrintOptions& options) const;

  // "Ok" with an enabled To Page below From Page only beeps; the dialog stays.
  void accept() override;
};

}  // namespace qn
