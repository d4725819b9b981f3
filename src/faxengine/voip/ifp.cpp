// T.38 IFP packets: aligned-PER reading and writing, normalising, summaries.
//
// Layout of the first octet: bit 7 says a data field follows, bit 6 picks
// t30-indicator (0) or t30-data (1), bit 5 is the enumeration's extension bit;
// a root value sits in bits 4-1. An extension value is a normally small number:
// bit 4 is 0 and its six bits run from bit 3 of the first octet into bits 7-6 of
// a second octet. The data field is a count (length determinant) of fields; each
// field starts with an octet whose bit 7 says field-data follows, then its type
// (version 0: bits 6-4; later versions: bit 6 extension, root type in bits 5-3,
// extension value as a normally small number reaching into a second octet), then
// field-data as a 16-bit length minus one and the bytes.
#include "ifp.h"

#include "per.h"

namespace fe::voip::ifp {

namespace {

const char* const kIndicatorNames[] = {
    "no-signal",         "cng",                "ced",                "v21-preamble",      "v27-2400-training",
    "v27-4800-training", "v29-7200-training",  "v29-9600-training",  "v17-7200-short",    "v17-7200-long",
    "v17-9600-short",    "v17-9600-long",      "v17-12000-short",    "v17-12000-long",    "v17-14400-short",
    "v17-14400-long",    "v8-ansam",           "v8-signal",          "v34-cntl-channel",  "v34-pri-channel",
    "v34-cc-retrain",    "v33-12000-training", "v33-14400-training",
};
const char* const kDataNames[] = {
    "v21",       "v27-2400", "v27-4800",   "v29-7200",   "v29-9600",  "v17-7200",  "v17-9600",    "v17-12000",
    "v17-14400", "v8",       "v34-pri-rate", "v34-cc-1200", "v34-pri-ch", "v33-12000", "v33-14400",
};
const char* const kFieldNames[] = {
    "hdlc-data",           "hdlc-sig-end",  "hdlc-fcs-OK",        "hdlc-fcs-BAD", "hdlc-fcs-OK-sig-end",
    "hdlc-fcs-BAD-sig-end", "t4-non-ecm-data", "t4-non-ecm-sig-end", "cm-message",   "jm-message",
    "ci-message",          "v34rate",
};

// Reads the type of a field; false for a malformed one.
bool ReadFieldType(per::TReader& in, int version, uint8_t first, int& type) {
  if (version == 0) {
    type = (first >> 4) & 0x07;
    return true;
  }
  if ((first & 0x40) == 0) {
    type = (first >> 3) & 0x07;
    return true;
  }
  uint8_t second = 0;
  if ((first & 0x20) != 0 || !in.Byte(second)) return false;
  type = kFieldLastRoot + 1 + (((first & 0x1F) << 1) | (second >> 7));
  return type <= kFieldLast;
}

}  // namespace

size_t Parse(const uint8_t* data, size_t size, int version, TIfp& out) {
  out = TIfp{};
  per::TReader in(data, size);
  uint8_t first = 0;
  if (!in.Byte(first)) return 0;
  out.hasDataField = (first & 0x80) != 0;
  out.indicator = (first & 0x40) == 0;
  const int lastRoot = out.indicator ? kIndLastRoot : kDataLastRoot;
  const int last = out.indicator ? kIndLast : kDataLast;
  if ((first & 0x20) == 0) {
    out.value = (first >> 1) & 0x0F;
    if (out.value > lastRoot) return 0;
  } else {
    uint8_t second = 0;
    if ((first & 0x10) != 0 || !in.Byte(second)) return 0;
    out.value = lastRoot + 1 + (((first & 0x0F) << 2) | (second >> 6));
    if (out.value > last) return 0;
  }
  if (!out.hasDataField) return in.Offset();
  size_t count = 0;
  if (!in.Length(count)) return 0;
  // Each field takes at least one octet: a count beyond what is left is false.
  if (count > in.Left()) return 0;
  out.fields.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint8_t head = 0;
    TField field;
    if (!in.Byte(head) || !ReadFieldType(in, version, head, field.type)) return 0;
    if ((head & 0x80) != 0) {
      const uint8_t* len = nullptr;
      const uint8_t* bytes = nullptr;
      if (!in.Bytes(2, len)) return 0;
      const size_t n = ((size_t(len[0]) << 8) | len[1]) + 1;
      if (n > 65535 || !in.Bytes(n, bytes)) return 0;
      field.data.assign(bytes, bytes + n);
    }
    out.fields.push_back(std::move(field));
  }
  return in.Offset();
}

std::vector<uint8_t> Encode(const TIfp& packet, int version) {
  std::vector<uint8_t> out;
  const bool dataField = packet.hasDataField || !packet.fields.empty();
  const int lastRoot = packet.indicator ? kIndLastRoot : kDataLastRoot;
  const int last = packet.indicator ? kIndLast : kDataLast;
  const uint8_t head = static_cast<uint8_t>((dataField ? 0x80 : 0) | (packet.indicator ? 0 : 0x40));
  if (packet.value < 0 || packet.value > last) return {};
  if (packet.value <= lastRoot) {
    out.push_back(static_cast<uint8_t>(head | (packet.value << 1)));
  } else {
    if (version == 0) return {};
    const int v = packet.value - lastRoot - 1;
    out.push_back(static_cast<uint8_t>(head | 0x20 | (v >> 2)));
    out.push_back(static_cast<uint8_t>((v & 0x03) << 6));
  }
  if (!dataField) return out;
  if (!per::AppendLength(out, packet.fields.size())) return {};
  for (const TField& field : packet.fields) {
    const uint8_t present = field.data.empty() ? 0 : 0x80;
    if (field.type < 0 || field.type > kFieldLast || field.data.size() > 65535) return {};
    if (field.type <= kFieldLastRoot) {
      out.push_back(static_cast<uint8_t>(present | (field.type << (version == 0 ? 4 : 3))));
    } else {
      if (version == 0) return {};
      const int v = field.type - kFieldLastRoot - 1;
      out.push_back(static_cast<uint8_t>(present | 0x40 | (v >> 1)));
      out.push_back(static_cast<uint8_t>((v & 0x01) << 7));
    }
    if (present != 0) {
      const size_t n = field.data.size() - 1;
      out.push_back(static_cast<uint8_t>(n >> 8));
      out.push_back(static_cast<uint8_t>(n & 0xFF));
      out.insert(out.end(), field.data.begin(), field.data.end());
    }
  }
  return out;
}

bool Normalise(TIfp& packet) {
  bool changed = false;
  std::vector<TField> fields;
  for (TField& field : packet.fields) {
    const bool endField = field.type >= kFieldHdlcSigEnd && field.type <= kFieldHdlcFcsBadSigEnd;
    if (endField && !field.data.empty()) {
      fields.push_back(TField{kFieldHdlcData, std::move(field.data)});
      field.data.clear();
      changed = true;
    }
    fields.push_back(std::move(field));
  }
  packet.fields = std::move(fields);
  return changed;
}

int DataRate(int dataType) {
  static const int kRates[] = {300, 2400, 4800, 7200, 9600, 7200, 9600, 12000, 14400, 300, 0, 1200, 0, 12000, 14400};
  return dataType >= 0 && dataType <= kDataLast ? kRates[dataType] : 0;
}

bool IsFastData(int dataType) {
  return dataType >= kDataV27_2400 && dataType <= kDataV17_14400;
}

const char* IndicatorName(int indicator) {
  return indicator >= 0 && indicator <= kIndLast ? kIndicatorNames[indicator] : "?";
}

const char* DataTypeName(int dataType) {
  return dataType >= 0 && dataType <= kDataLast ? kDataNames[dataType] : "?";
}

const char* FieldTypeName(int fieldType) {
  return fieldType >= 0 && fieldType <= kFieldLast ? kFieldNames[fieldType] : "?";
}

std::string Describe(const TIfp& packet) {
  if (packet.indicator) return std::string("ind ") + IndicatorName(packet.value);
  std::string text = std::string("data ") + DataTypeName(packet.value);
  for (const TField& field : packet.fields) {
    text += ' ';
    text += FieldTypeName(field.type);
    if (!field.data.empty()) text += '/' + std::to_string(field.data.size());
  }
  return text;
}

std::string Describe(const uint8_t* data, size_t size, int version) {
  TIfp packet;
  if (Parse(data, size, version, packet) == 0) return "malformed (" + std::to_string(size) + " bytes)";
  return Describe(packet);
}

}  // namespace fe::voip::ifp
