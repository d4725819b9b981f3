// Input fields that say why they refuse a key: a fax number field takes only
// what a modem dials, and a field at its length limit stops and says so, at the
// field (a note beside it), never with a box on every key.
#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

namespace qn {

// The characters of a number a modem dials: digits, space, + - ( ) . , * # and
// W (wait for dial tone), P (pulse), T (tone) in either case.
bool IsDialCharacter(QChar c);

class TFaxNumberValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override;
};

// The note shown when a fax number field refuses a key.
QString FaxNumberNote();
// The note shown when a field holding `limit` characters is full.
QString FieldFullNote(int limit);

// Shows a note just below the field (a tool tip, gone after a few seconds or
// at the next key).
void ShowFieldNote(QLineEdit* edit, const QString& note);

// A fax number field of `maxLength` characters: other characters are refused
// with FaxNumberNote, a key past the limit with FieldFullNote; the tool tip
// names what the field takes.
void MakeFaxNumberField(QLineEdit* edit, int maxLength);
// Says so at the field when a key or a paste would go past its limit
// (maxLength, or a validator refusing input for its length).
void NoteWhenFull(QLineEdit* edit, int limit);

}  // namespace qn
