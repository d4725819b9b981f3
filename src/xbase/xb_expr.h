// The xBase expression language: parsed once into a tree whose field references
// are resolved to record offsets, then evaluated against raw record bytes.
//
//   fields by name (any case), "text" or 'text', numbers, .T. .F. .true. .false.
//   .not. .and. .or. !   = == < > <= >= <> # !=   $   + -   ( )
//   DTOS CTOD UPPER LOWER ALLTRIM TRIM RTRIM LTRIM EMPTY DELETED DATE STR VAL
//   SUBSTR LEFT RIGHT LEN
//
// "=" on character values compares only up to the length of the right-hand value
// unless SET EXACT is on; "==" always compares exactly. Every error names its place:
// "syntax error at position 7: ...", "unknown field or function 'FOO' at position 1".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xb_errors.h"
#include "xb_value.h"

namespace xb {

// One column of a table. offset counts from the start of the record, whose
// byte 0 is the deletion mark.
struct FieldDef {
  std::string name;  // upper case, at most 10 characters
  char type = 'C';   // 'C', 'D', 'L' or 'N'
  int width = 1;
  int decimals = 0;
  int offset = 0;
};

struct ExprNode;

// The value of one field of a record (blank dates are 0, logicals T/t/Y/y true).
Value fieldValue(const FieldDef& field, const uint8_t* record);

class Expr {
 public:
  Expr();
  ~Expr();
  Expr(Expr&&) noexcept;
  Expr& operator=(Expr&&) noexcept;
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;

  // Parses text against the given fields. Returns 0 or a negated error code
  // (xbExprSyntax, xbUnknownName, xbTypeMismatch) with the details in error.
  static int compile(std::string_view text, const std::vector<FieldDef>& fields, Expr& out, std::string& error);

  bool valid() const { return root_ != nullptr; }
  const std::string& text() const { return text_; }
  Type type() const;
  // Width of a character result as a fixed-length key (the widest value the
  // expression can produce); 8 for dates and numbers in keys, 1 for logicals.
  int keyWidth() const;

  // Evaluates against one record (deletion byte first). A record of the
  // wrong size is the caller's fault; values are read within the field widths.
  Value eval(const uint8_t* record) const;
  bool evalLogical(const uint8_t* record) const;  // false for a non-logical result

 private:
  std::unique_ptr<ExprNode> root_;
  std::string text_;
};

}  // namespace xb
