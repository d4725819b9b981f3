#include "field_input.h"

#include <QLineEdit>
#include <QToolTip>

#include "fax_names.h"

namespace qn {

bool IsDialCharacter(QChar c) {
  return c.unicode() < 128 && IsDialCharacter(static_cast<char>(c.unicode()));
}

QValidator::State TFaxNumberValidator::validate(QString& input, int&) const {
  for (QChar c : input)
    if (!IsDialCharacter(c)) return Invalid;
  return Acceptable;
}

QString FaxNumberNote() {
  return QStringLiteral("A fax number holds digits, spaces and + - ( ) . , * #, and W (wait), P (pulse) or T (tone).");
}

QString FieldFullNote(int limit) {
  return QStringLiteral("This field is full: it holds up to %1 characters.").arg(limit);
}

void ShowFieldNote(QLineEdit* edit, const QString& note) {
  QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), note, edit, QRect(), 4000);
}

void NoteWhenFull(QLineEdit* edit, int limit) {
  QObject::connect(edit, &QLineEdit::inputRejected, edit, [edit, limit] {
    // A validator of the field's bytes refuses for length only, so every refusal
    // of a field without a character rule is the limit.
    if (!dynamic_cast<const TFaxNumberValidator*>(edit->validator())) ShowFieldNote(edit, FieldFullNote(limit));
  });
}

void MakeFaxNumberField(QLineEdit* edit, int maxLength) {
  edit->setMaxLength(maxLength);
  edit->setValidator(new TFaxNumberValidator(edit));
  QObject::connect(edit, &QLineEdit::inputRejected, edit, [edit, maxLength] {
    // Full, or a character no modem dials.
    ShowFieldNote(edit, edit->text().size() >= maxLength ? FieldFullNote(maxLength) : FaxNumberNote());
  });
  const QString rule =
      QStringLiteral("Digits, spaces, + - ( ) . , * # and W, P, T; up to %1 characters").arg(maxLength);
  edit->setToolTip(edit->toolTip().isEmpty() ? rule : edit->toolTip() + QLatin1Char('\n') + rule);
}

}  // namespace qn
