// Class 2 and Class 2.0 command spellings and modem response parsing, shared by
// the send and receive engines.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fe {

enum class TFaxClass { fcUnknown, fcDetect, fcClass1, fcClass2, fcClass2_0 };

// The spellings of one class; the two classes differ only in these.
struct TClass2Commands {
  const char* selectClass;    // "AT+FCLASS=2"
  const char* ident1;         // "AT+FMDL?"
  const char* ident2;         // "AT+FMFR?"
  const char* ident3;         // "AT+FREV?"
  const char* localCaps;      // "AT+FDIS": also gives the remote capability report "+FDIS"
  const char* localId;        // "AT+FLID"
  const char* modemCaps;      // "AT+FDCC"
  const char* connected;      // "+FCON"
  const char* sessionParams;  // "+FDCS"
  const char* remoteTsi;      // "+FTSI"
  const char* remoteCsi;      // "+FCSI"
  const char* pageStatus;     // "+FPTS"
  const char* hangup;         // "+FHNG"

  // The remote capabilities report: the local capabilities command without "AT".
  std::string RemoteCaps() const { return std::string(localCaps + 2); }
};

const TClass2Commands& Class2Commands(TFaxClass c);  // Class 2.0 table for fcClass2_0, else Class 2

// What a modem line says, recognised by substring as modems vary the wording.
enum class TModemReply {
  None,        // nothing recognised (echo, blank, an unknown report)
  Ok,          // "OK"
  Connect,     // "CONNECT"
  NoCarrier,   // "RRIER"
  Error,       // "ERROR"
  Busy,        // "BUSY"
  NoAnswer,    // "ANSWER"
  Voice,       // "VOICE" or "VCON"
  NoDialTone,  // "NO DIAL"
  Ring,        // "RING"
};
TModemReply ClassifyReply(std::string_view line);

// The value after a report prefix ("+FPTS:1,2200" -> "1,2200"), or nothing when
// the line is not that report. Blanks after the colon are skipped.
std::optional<std::string> ReportValue(std::string_view line, std::string_view prefix);

// Comma-separated numeric fields of a report value ("1,3,0,2" -> 1 3 0 2);
// a field that is not a number is -1.
std::vector<int> ReportFields(std::string_view value);

// The first field of a report value as written ("50,1" -> "50"), blanks trimmed.
std::string FirstReportField(std::string_view value);

// True for a report line ("+FTSI:...", "+FHS:50"): its text is data, never a
// result code, even when it holds words like "OK" or "ERROR".
bool IsReportLine(std::string_view line);

// Session or capability report: VR,BR,WD,LN,DF,EC,BF,ST.
struct TClass2Params {
  bool fine = false;
  int bps = 9600;
  bool wide = false;
  bool ecm = false;
};
std::optional<TClass2Params> ParseClass2Params(std::string_view value);

// "AT+FDCC=1,5,0,2,0,0,0,0" style capability command.
std::string Class2CapsCommand(const TClass2Commands& t, bool fine, int bps, bool wide, bool ecm);

// The quoted identifier of "+FCSI: \"  12345\"" (first 20 characters, trimmed).
std::string ParseClass2Id(std::string_view value);

// Class support query answer ("AT+FCLASS=?" -> "0,1,2,2.0") to the supported classes.
struct TClassSupport {
  bool class1 = false;
  bool class2 = false;
  bool class2_0 = false;
  bool Any() const { return class1 || class2 || class2_0; }
};
TClassSupport ParseClassSupport(std::string answer);

}  // namespace fe
