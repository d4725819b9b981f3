// Values of the xBase expression language and the date helpers shared by the
// table engine: dates are Julian day numbers, 0 meaning a blank date.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace xb {

enum class Type : uint8_t { Char, Numeric, Date, Logical };

struct Value {
  Type type = Type::Logical;
  bool b = false;    // Logical
  double n = 0;      // Numeric
  int32_t date = 0;  // Date: Julian day number, 0 = blank
  std::string s;     // Char

  static Value character(std::string v) {
    Value x;
    x.type = Type::Char;
    x.s = std::move(v);
    return x;
  }
  static Value number(double v) {
    Value x;
    x.type = Type::Numeric;
    x.n = v;
    return x;
  }
  static Value logical(bool v) {
    Value x;
    x.type = Type::Logical;
    x.b = v;
    return x;
  }
  static Value dateValue(int32_t julian) {
    Value x;
    x.type = Type::Date;
    x.date = julian;
    return x;
  }
};

const char* typeName(Type t);  // "character", "numeric", "date", "logical"

// Julian day number of a calendar date; 0 when the date does not exist.
int32_t julianFromYmd(int y, int m, int d);
void ymdFromJulian(int32_t julian, int& y, int& m, int& d);
// "CCYYMMDD" <-> Julian; blank or invalid text gives 0, 0 gives 8 blanks.
int32_t julianFromDtos(std::string_view ccyymmdd);
std::string dtosFromJulian(int32_t julian);
// Today's date in local time.
int32_t today();

// Parses "mm/dd/yy", "mm/dd/yyyy" (also with '-' or '.') as CTOD does in the
// American date format. A two-digit year is placed in the window of 50 years
// before to 49 years after the pivot year (the current year when pivotYear is 0).
// Returns 0 for blank or invalid text.
int32_t ctod(std::string_view text, int pivotYear = 0);
// Date as shown with SET CENTURY on ("mm/dd/yyyy") or off ("mm/dd/yy"); blanks for 0.
std::string dtoc(int32_t julian, bool century = true);

}  // namespace xb
