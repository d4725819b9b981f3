// What the Class 2 and Class 2.0 front ends say and how their session
// parameters map onto T.30 frames and spandsp's capability sets.
#pragma once

#include <cstdint>
#include <string>

namespace faxsim {

// The spellings that differ between Class 2 and Class 2.0.
struct Class2Spelling {
  const char* fclass;      // "2" or "2.0"
  const char* connected;   // "+FCON" / "+FCO"
  const char* remoteCaps;  // "+FDIS" / "+FIS"
  const char* session;     // "+FDCS" / "+FCS"
  const char* remoteTsi;   // "+FTSI" / "+FTI"
  const char* remoteCsi;   // "+FCSI" / "+FCI"
  const char* pageStatus;  // "+FPTS" / "+FPS"
  const char* hangup;      // "+FHNG" / "+FHS"
  bool xonBeforeData;      // Class 2 sends XON when the DTE may start page data
  bool hexHangupCode;      // Class 2.0 reports hang-up codes as two hex digits
};
const Class2Spelling& spellingFor(bool class20);

// The eight session subparameters: resolution, bit rate, width, length, data
// format, error correction, file transfer, scan time.
struct Class2Params {
  int vr = 1, br = 5, wd = 0, ln = 2, df = 0, ec = 0, bf = 0, st = 0;
  std::string text() const;  // "1,5,0,2,0,0,0,0"
  // Takes "1,3" or "1,,0": given fields replace ours, empty ones are kept.
  // False (nothing changed) when a field is not a number in its range.
  bool parse(const std::string& text);
  int bitsPerSecond() const;  // br as bits per second
  int width() const;          // wd as pixels per row
};

// The range answer to "=?" for the parameters this modem supports.
const char* class2ParamRanges();

// Reads a DIS (capabilities) or DCS (chosen parameters) frame as spandsp hands
// it over (address, control, FCF, then the information octets).
Class2Params paramsFromDis(const uint8_t* frame, int len);
Class2Params paramsFromDcs(const uint8_t* frame, int len);
// The identifier in a CSI/TSI frame (sent last character first), trimmed.
std::string identFromFrame(const uint8_t* frame, int len);

// What we offer or accept, as spandsp's capability bit sets.
struct SpandspCaps {
  int modems, resolutions, sizes, compressions;
  bool ecm;
};
SpandspCaps capsFor(const Class2Params& params);

// The session a sender with params and a receiver with remote will use.
Class2Params negotiate(const Class2Params& local, const Class2Params& remote);

}  // namespace faxsim
