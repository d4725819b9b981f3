// T.38 IFP packets (the fax messages UDPTL carries): reading and writing their
// aligned-PER form, a one-line summary for the call trace, and the normalising
// step applied before spandsp sees a packet from the far end.
//
// The numbering of indicators, data types and field types is the order of the
// T.38 ASN.1 enumerations (the same numbers spandsp's t38_core uses), so values
// pass between this file and spandsp unchanged. Field types are written with an
// extension bit from T.38 version 1 on; version 0 has three bits and no
// extension, which is why reading and writing take the negotiated version.
// Every field starts on an octet of its own, as spandsp 0.0.6 (the gateway
// behind this) writes and reads them; strict PER would let a field without data
// share its octet with the next field's header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fe::voip::ifp {

// Indicators 0-15 are the root values; 16-22 (V.8, V.34, V.33) the extension.
inline constexpr int kIndNoSignal = 0;
inline constexpr int kIndCng = 1;
inline constexpr int kIndCed = 2;
inline constexpr int kIndV21Preamble = 3;
inline constexpr int kIndLastRoot = 15;
inline constexpr int kIndLast = 22;

// Data types 0-8 are the root values (V.21 to V.17 14400); 9-14 the extension.
inline constexpr int kDataV21 = 0;
inline constexpr int kDataV27_2400 = 1;
inline constexpr int kDataV27_4800 = 2;
inline constexpr int kDataV29_7200 = 3;
inline constexpr int kDataV29_9600 = 4;
inline constexpr int kDataV17_7200 = 5;
inline constexpr int kDataV17_9600 = 6;
inline constexpr int kDataV17_12000 = 7;
inline constexpr int kDataV17_14400 = 8;
inline constexpr int kDataLastRoot = 8;
inline constexpr int kDataLast = 14;

// Field types 0-7 are the root values; 8-11 (CM, JM, CI, V.34 rate) the extension.
inline constexpr int kFieldHdlcData = 0;
inline constexpr int kFieldHdlcSigEnd = 1;
inline constexpr int kFieldHdlcFcsOk = 2;
inline constexpr int kFieldHdlcFcsBad = 3;
inline constexpr int kFieldHdlcFcsOkSigEnd = 4;
inline constexpr int kFieldHdlcFcsBadSigEnd = 5;
inline constexpr int kFieldT4NonEcmData = 6;
inline constexpr int kFieldT4NonEcmSigEnd = 7;
inline constexpr int kFieldLastRoot = 7;
inline constexpr int kFieldLast = 11;

struct TField {
  int type = kFieldHdlcData;
  std::vector<uint8_t> data;  // empty: no field-data
};

struct TIfp {
  bool indicator = true;  // t30-indicator, else t30-data
  int value = kIndNoSignal;  // the indicator or the data type
  bool hasDataField = false;
  std::vector<TField> fields;
};

// Reads one IFP packet from data[0..size). Returns the number of bytes it takes
// (a packet recovered by FEC may carry zero padding after it), or 0 when the
// bytes are no valid IFP packet. Never reads past size.
size_t Parse(const uint8_t* data, size_t size, int version, TIfp& out);

// Writes packet in the form of the given T.38 version. Returns an empty vector
// for a packet that cannot be written (a value out of range, a field over 65535
// bytes, an extension value in version 0).
std::vector<uint8_t> Encode(const TIfp& packet, int version);

// Some gateways put the last bytes of an HDLC frame into the field that ends it
// (hdlc-fcs-OK, hdlc-fcs-BAD, their sig-end forms, hdlc-sig-end), where T.38
// allows no data. spandsp 0.0.6 drops such bytes, losing the end of the frame.
// Splits each such field into an hdlc-data field with the bytes followed by the
// bare end field. Returns true when the packet was changed.
bool Normalise(TIfp& packet);

// Bit rate of a data type's modulation (300 for V.21), 0 when unknown.
int DataRate(int dataType);
// True for data types that carry page data (every fast modulation, not V.21).
bool IsFastData(int dataType);

const char* IndicatorName(int indicator);
const char* DataTypeName(int dataType);
const char* FieldTypeName(int fieldType);

// One line such as "data v17-14400 t4-non-ecm-data/36" or "ind v21-preamble".
std::string Describe(const TIfp& packet);
// The same for raw bytes; "malformed (N bytes)" when they do not parse.
std::string Describe(const uint8_t* data, size_t size, int version);

}  // namespace fe::voip::ifp
