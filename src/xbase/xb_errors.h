// Error codes of the table engine. Operations return 0 or the negated code; the
// handle keeps a text with the details (file name, position in an expression).
// File errors share the numbers of the fax engine's table (2, 5, 100, 101);
// engine errors of the table engine live from 1101 on.
#pragma once

namespace xb {

enum ErrorCode : int {
  xbOK = 0,
  xbFileNotFound = 2,
  xbAccessDenied = 5,
  xbReadBeyondEOF = 100,
  xbDiskFull = 101,
  xbBadArgument = 1002,
  xbNotATable = 1101,     // not a DBF file, or its header is damaged
  xbBadIndex = 1102,      // the CDX file is damaged or of an unknown layout
  xbInUse = 1103,         // opened exclusively by another program, or locked
  xbExprSyntax = 1104,    // expression syntax error
  xbUnknownName = 1105,   // unknown field or function in an expression
  xbTypeMismatch = 1106,  // operand types do not fit the operator or function
  xbNoSuchField = 1107,
  xbNoSuchTag = 1108,
  xbNotOpen = 1109,     // the handle has no open table
  xbNoRecord = 1110,    // no current record (at end of file, or empty table)
  xbKeyTooLong = 1111,  // a key expression yields more than 240 bytes
  xbIoError = 1112,     // read or write failed
  xbExists = 1113,      // a tag of that name exists already
  xbReadOnly = 1114,    // the table was opened read-only
};

// Short English text for a code ("table is in use by another program" ...).
const char* errorText(int code);

}  // namespace xb
