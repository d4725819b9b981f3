// Texts of the table engine's error codes.
#include "xb_errors.h"

namespace xb {

const char* errorText(int code) {
  if (code < 0) code = -code;
  switch (code) {
    case xbOK:
      return "no error";
    case xbFileNotFound:
      return "file not found";
    case xbAccessDenied:
      return "access denied";
    case xbReadBeyondEOF:
      return "read beyond end of file";
    case xbDiskFull:
      return "disk full";
    case xbBadArgument:
      return "bad argument";
    case xbNotATable:
      return "not a DBF table, or its header is damaged";
    case xbBadIndex:
      return "the index file is damaged or of an unknown layout";
    case xbInUse:
      return "table is in use by another program";
    case xbExprSyntax:
      return "syntax error in expression";
    case xbUnknownName:
      return "unknown field or function in expression";
    case xbTypeMismatch:
      return "operand types do not match";
    case xbNoSuchField:
      return "no such field";
    case xbNoSuchTag:
      return "no such index tag";
    case xbNotOpen:
      return "table is not open";
    case xbNoRecord:
      return "no current record";
    case xbKeyTooLong:
      return "index key too long";
    case xbIoError:
      return "read or write error";
    case xbExists:
      return "index tag exists already";
    case xbReadOnly:
      return "table is open read-only";
    default:
      return "unknown error";
  }
}

}  // namespace xb
