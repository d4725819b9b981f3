// The T.30 toolkit used by both fax directions over a Class 1 modem: frame
// control fields, HDLC frame building and parsing as the modem's HDLC commands
// carry them, the DIS/DCS bits, station identifiers, the speed/modulation table,
// minimum scan-line times and the training check.
//
// Bit numbering follows ITU-T T.30: bit 1 of the facsimile information field is
// the first bit sent, which is the least significant bit of the first octet
// after the FCF in the byte stream the modem hands over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mr_codec.h"

namespace fe::t30 {

constexpr uint8_t kDLE = 0x10;
constexpr uint8_t kETX = 0x03;
constexpr uint8_t kXON = 0x11;
constexpr uint8_t kAddress = 0xFF;
constexpr uint8_t kControl = 0x03;       // non-final frame
constexpr uint8_t kControlFinal = 0x13;  // final frame of a sequence

// Frame control fields, byte values as received (the X bit, 0x01, cleared).
enum Fcf : uint8_t {
  fcfDIS = 0x80,
  fcfCSI = 0x40,
  fcfNSF = 0x20,
  fcfDTC = 0x81,
  fcfDCS = 0x82,
  fcfTSI = 0x42,
  fcfNSS = 0x22,
  fcfCFR = 0x84,
  fcfFTT = 0x44,
  fcfEOM = 0x8E,
  fcfMPS = 0x4E,
  fcfEOP = 0x2E,
  fcfMCF = 0x8C,
  fcfRTP = 0xCC,
  fcfRTN = 0x4C,
  fcfPIP = 0xAC,
  fcfPIN = 0x2C,
  fcfDCN = 0xFA,
  fcfCRP = 0x1A,
};
constexpr uint8_t kXBit = 0x01;  // set by the station that received a DIS

// The FCF with the X bit masked, for comparisons. Initial identification frames
// (DIS, CSI, NSF) have no X bit: their low bit tells DTC/CIG/NSC apart, so it is
// kept for them.
uint8_t FcfKind(uint8_t fcf);
// Short name of a frame control field ("DIS", "MCF", ... or "FCF xx").
std::string FcfName(uint8_t fcf);

// One HDLC frame: FCF plus facsimile information field (no address, control, FCS).
struct Frame {
  uint8_t fcf = 0;
  bool final = false;
  std::vector<uint8_t> fif;

  uint8_t Kind() const { return FcfKind(fcf); }
};

// Bytes for the modem after "AT+FTH=3" has connected: address, control, FCF and
// FIF with DLE doubled, then DLE ETX. The modem appends the FCS itself.
std::vector<uint8_t> BuildFrame(const Frame& f);

// Parses an unstuffed frame as delivered after "AT+FRH=3" (address, control,
// FCF, FIF, two FCS octets). With fcsIncluded the last two bytes are dropped.
// Returns nothing when too short or the address is wrong.
std::optional<Frame> ParseFrame(const std::vector<uint8_t>& raw, bool fcsIncluded = true);

// DLE doubling for data sent to the modem, appended to out.
void AppendStuffed(std::vector<uint8_t>& out, const uint8_t* data, size_t n);

// Station identifiers (TSI, CSI, CIG): 20 octets, the last character of the
// identifier first, padded with spaces in front (T.30 5.3.6.2.4).
std::vector<uint8_t> EncodeId(std::string_view id);
std::string DecodeId(const std::vector<uint8_t>& fif);

// --- speeds and modulations -------------------------------------------------

enum class Modulation { V27ter, V29, V17 };

struct SpeedInfo {
  int bps;
  Modulation mod;
  const char* longCode;   // "AT+FTM=" code with long training (training check, first page)
  const char* shortCode;  // code with short training (V.17 pages after a good training)
  char class2Char;        // Class 2/2.0 capability speed character
  uint8_t dcsBits;        // DCS bits 11-14 as the low nibble of octet 2 >> 2
};

// 2400, 4800, 7200, 9600, 12000, 14400 in ascending order.
const std::vector<SpeedInfo>& Speeds();
// Entry for a speed; unknown speeds give the 9600 entry.
const SpeedInfo& SpeedFor(int bps);
// Class 2/2.0 capability speed character: 2400 "0" ... 14400 "5", any other "3".
char Class2SpeedChar(int bps);

// Parses an "AT+FTM=?" answer ("24,48,72,73,74,96,97,98,121,122,145,146") into the
// set of modulation codes it lists.
std::vector<int> ParseModulationList(std::string_view answer);
// Highest speed not above limit that the modem can transmit (by its code list);
// with an empty list every speed counts as supported.
int HighestModemSpeed(const std::vector<int>& codes, int limit);

// --- DIS / DCS ----------------------------------------------------------------

// Minimum scan-line time codes (DCS bits 21-23, bit 21 as value 1).
enum ScanTime : uint8_t { scan20ms = 0, scan5ms = 1, scan10ms = 2, scan40ms = 4, scan0ms = 7 };
int ScanTimeMs(ScanTime t);

// What a remote receiver offers in its DIS.
struct DisCaps {
  bool receiver = false;  // bit 10: can receive documents
  bool v27ter = true;     // 2400 always; 4800 with bit 12
  bool v27_4800 = false;
  bool v29 = false;       // bit 11
  bool v17 = false;       // bit 14
  bool fine = false;      // bit 15
  bool wide = false;      // bits 17/18: 255 mm (2048 pixels)
  bool unlimitedLength = false;  // bit 20
  bool b4Length = false;         // bit 19
  bool ecm = false;              // bit 27
  bool mr = false;               // bit 16: two-dimensional coding (T.4 MR)
  bool t6 = false;               // bit 31: T.6 coding (MMR); counts only with ecm
  ScanTime scanNormal = scan20ms;  // minimum scan-line time at standard resolution
  ScanTime scanFine = scan20ms;    // at fine resolution

  bool CanTake(int bps) const;
};

DisCaps ParseDis(const std::vector<uint8_t>& fif);
// A DIS offering these capabilities (used by the receiving side). The scan-line
// times go into bits 21-23 as one code: the fine time must be the standard one
// or half of it; any other pair is sent as the standard time at both.
std::vector<uint8_t> BuildDis(const DisCaps& caps, int maxBps);

// Page coding on the line.
using Coding = TFaxCoding;
const char* CodingName(Coding c);

struct DcsParams {
  int bps = 9600;
  bool fine = false;
  bool wide = false;
  bool unlimitedLength = true;
  bool b4Length = false;
  ScanTime scan = scan20ms;  // written as 0 ms whenever ecm is set
  Coding coding = Coding::MH;
  bool ecm = false;      // bit 27
  bool frame64 = false;  // bit 28: 64-octet image frames instead of 256
};

// Three octets: the first 0, then receiver operation, speed, resolution (octet
// 2) and width, length, scan time (octet 3); a fourth with error correction
// (bits 27, 28 and 31). MR sets bit 16, MMR bit 31.
std::vector<uint8_t> BuildDcs(const DcsParams& p);
// Nothing for a DCS with an unknown speed, or one selecting MMR without error
// correction (MMR cannot survive a line error, so it is only valid with ECM).
std::optional<DcsParams> ParseDcs(const std::vector<uint8_t>& fif);

// The best coding both ends offer: MMR when error correction is agreed and both
// can do T.6, else MR when both can, else MH.
Coding ChooseCoding(const DisCaps& remote, bool ecm, bool localMr, bool localMmr);
// Most lines in a row an MR page codes per one-dimensional line: 2 at standard
// resolution, 4 at fine.
int MrK(bool fine);

// Highest speed <= limit both the remote and the local modem can use; 0: none.
int ChooseSpeed(const DisCaps& remote, int limit, const std::vector<int>& modemCodes);
// The next lower speed after a failed training; 0 when none is left.
int StepDown(const DisCaps& remote, int bps, const std::vector<int>& modemCodes);

// Scan-line time the sender must observe for the resolution in use.
ScanTime ScanFor(const DisCaps& remote, bool fine);
// Minimum bytes of coded data per line at that time and speed.
int MinLineBytes(ScanTime t, int bps);
// Zero bytes of the training check: (bps / 100) x 18, at most 8192.
int TrainingBytes(int bps);

// Judges a received training check: good unless the non-zero bytes make up
// 10 % or more of all bytes (the receiver then answers FTT). Empty is bad.
bool TrainingGood(size_t nonZeroBytes, size_t allBytes);

}  // namespace fe::t30
