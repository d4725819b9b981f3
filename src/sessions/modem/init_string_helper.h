// The init-string helper window and the rules it applies: the kind of modem
// guessed from the current string, whether its S7 wait is long, and the string
// built from the user's answers.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace qn {

// The dialog result of "Leave it Blank".
inline constexpr int kLeaveItBlank = -99;

// True when the string's S7 wait is above 90 (with "&H3" in it) or 65 seconds.
bool LongS7(const std::string& current);
// The modem kind (0-5) the string suggests; 0 when nothing does.
int ModemKindPreset(const std::string& current);
// The init string for a modem kind; `longWait` is the check box.
std::string BuildInitString(int kind, bool forSending, bool longWait);

class TModemInitStringHelperForm : public QDialog {
  Q_OBJECT
 public:
  explicit TModemInitStringHelperForm(QWidget* parent = nullptr);

  int Kind() const;
  void SetKind(int kind);

  QRadioButton* Kinds[6] = {};
  QButtonGroup* KindGroup = nullptr;
  QCheckBox* LongWaitBox = nullptr;
  QLabel* LongWaitCaption = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* BlankButton = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace qn
