// T.30 frames, DIS/DCS bits and the speed table; see t30.h.
#include "t30.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace fe::t30 {

namespace {
// Octet 2 (bits 9-16) and octet 3 (bits 17-24) masks.
constexpr uint8_t kBit10Receiver = 0x02;
constexpr uint8_t kBit11 = 0x04;
constexpr uint8_t kBit12 = 0x08;
constexpr uint8_t kBit14 = 0x20;
constexpr uint8_t kBit15Fine = 0x40;
constexpr uint8_t kBit17Width255 = 0x01;
constexpr uint8_t kBit18Width303 = 0x02;
constexpr uint8_t kBit19B4 = 0x04;
constexpr uint8_t kBit20Unlimited = 0x08;
constexpr uint8_t kExtend = 0x80;
constexpr uint8_t kBit16Mr = 0x80;
constexpr uint8_t kBit27Ecm = 0x04;
constexpr uint8_t kBit28Frame64 = 0x08;
constexpr uint8_t kBit31T6 = 0x40;

const std::vector<SpeedInfo> kSpeeds = {
    {2400, Modulation::V27ter, "24", "24", '0', 0x00},
    {4800, Modulation::V27ter, "48", "48", '1', kBit12},
    {7200, Modulation::V29, "72", "72", '2', kBit11 | kBit12},
    {9600, Modulation::V29, "96", "96", '3', kBit11},
    {12000, Modulation::V17, "121", "122", '4', kBit12 | kBit14},
    {14400, Modulation::V17, "145", "146", '5', kBit14},
};

// Table 2/T.30, bits 21-23 of a DIS (bit 21 as value 1): the minimum scan-line
// time at standard resolution and at fine, which is the same or half of it.
constexpr int kDisNormalMs[8] = {20, 5, 10, 20, 40, 40, 10, 0};
constexpr int kDisFineMs[8] = {20, 5, 10, 10, 40, 20, 5, 0};

ScanTime FromMs(int ms) {
  switch (ms) {
    case 0: return scan0ms;
    case 5: return scan5ms;
    case 10: return scan10ms;
    case 40: return scan40ms;
    default: return scan20ms;
  }
}

bool ModemHas(const std::vector<int>& codes, const SpeedInfo& s) {
  return codes.empty() || std::find(codes.begin(), codes.end(), std::atoi(s.longCode)) != codes.end();
}
}  // namespace

uint8_t FcfKind(uint8_t fcf) {
  switch (fcf) {
    case fcfDIS: case fcfCSI: case fcfNSF: case fcfDTC: case 0x41: case 0x21:
      return fcf;
    default:
      return fcf & ~kXBit;
  }
}

std::string FcfName(uint8_t fcf) {
  switch (FcfKind(fcf)) {
    case fcfDIS: return "DIS";
    case fcfCSI: return "CSI";
    case fcfNSF: return "NSF";
    case fcfDTC: return "DTC";
    case fcfDCS: return "DCS";
    case fcfTSI: return "TSI";
    case fcfNSS: return "NSS";
    case fcfCFR: return "CFR";
    case fcfFTT: return "FTT";
    case fcfEOM: return "EOM";
    case fcfMPS: return "MPS";
    case fcfEOP: return "EOP";
    case fcfMCF: return "MCF";
    case fcfRTP: return "RTP";
    case fcfRTN: return "RTN";
    case fcfPIP: return "PIP";
    case fcfPIN: return "PIN";
    case fcfDCN: return "DCN";
    case fcfCRP: return "CRP";
    default: {
      char b[16];
      std::snprintf(b, sizeof b, "FCF %02X", fcf);
      return b;
    }
  }
}

void AppendStuffed(std::vector<uint8_t>& out, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out.push_back(data[i]);
    if (data[i] == kDLE) out.push_back(kDLE);
  }
}

std::vector<uint8_t> BuildFrame(const Frame& f) {
  std::vector<uint8_t> plain = {kAddress, f.final ? kControlFinal : kControl, f.fcf};
  plain.insert(plain.end(), f.fif.begin(), f.fif.end());
  std::vector<uint8_t> out;
  out.reserve(plain.size() + 4);
  AppendStuffed(out, plain.data(), plain.size());
  out.push_back(kDLE);
  out.push_back(kETX);
  return out;
}

std::optional<Frame> ParseFrame(const std::vector<uint8_t>& raw, bool fcsIncluded) {
  size_t n = raw.size();
  if (fcsIncluded) {
    if (n < 5) return std::nullopt;
    n -= 2;
  }
  if (n < 3 || raw[0] != kAddress || (raw[1] & ~0x10) != kControl) return std::nullopt;
  Frame f;
  f.final = (raw[1] & 0x10) != 0;
  f.fcf = raw[2];
  f.fif.assign(raw.begin() + 3, raw.begin() + static_cast<long>(n));
  return f;
}

std::vector<uint8_t> EncodeId(std::string_view id) {
  if (id.size() > 20) id = id.substr(0, 20);
  std::vector<uint8_t> out(20, ' ');
  // The last character goes first; the first character ends up in octet 20.
  for (size_t i = 0; i < id.size(); ++i) out[i] = static_cast<uint8_t>(id[id.size() - 1 - i]);
  return out;
}

std::string DecodeId(const std::vector<uint8_t>& fif) {
  std::string s;
  size_t n = std::min<size_t>(fif.size(), 20);
  for (size_t i = n; i-- > 0;) {
    uint8_t c = fif[i];
    s.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : ' ');
  }
  size_t b = s.find_first_not_of(' ');
  size_t e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

const std::vector<SpeedInfo>& Speeds() { return kSpeeds; }

const SpeedInfo& SpeedFor(int bps) {
  for (const auto& s : kSpeeds)
    if (s.bps == bps) return s;
  return kSpeeds[3];
}

char Class2SpeedChar(int bps) {
  for (const auto& s : kSpeeds)
    if (s.bps == bps) return s.class2Char;
  return '3';
}

std::vector<int> ParseModulationList(std::string_view answer) {
  std::vector<int> codes;
  int cur = -1;
  for (char c : answer) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      cur = (cur < 0 ? 0 : cur * 10) + (c - '0');
      if (cur > 100000) cur = 100000;
    } else {
      if (cur >= 0) codes.push_back(cur);
      cur = -1;
    }
  }
  if (cur >= 0) codes.push_back(cur);
  return codes;
}

int HighestModemSpeed(const std::vector<int>& codes, int limit) {
  int best = 0;
  for (const auto& s : kSpeeds)
    if (s.bps <= limit && ModemHas(codes, s)) best = s.bps;
  return best;
}

int ScanTimeMs(ScanTime t) {
  switch (t) {
    case scan0ms: return 0;
    case scan5ms: return 5;
    case scan10ms: return 10;
    case scan40ms: return 40;
    default: return 20;
  }
}

bool DisCaps::CanTake(int bps) const {
  switch (bps) {
    case 2400: return v27ter;
    case 4800: return v27_4800;
    case 7200:
    case 9600: return v29;
    case 12000:
    case 14400: return v17;
    default: return false;
  }
}

DisCaps ParseDis(const std::vector<uint8_t>& fif) {
  DisCaps c;
  uint8_t o2 = fif.size() > 1 ? fif[1] : 0;
  uint8_t o3 = fif.size() > 2 ? fif[2] : 0;
  c.receiver = (o2 & kBit10Receiver) != 0;
  c.v29 = (o2 & kBit11) != 0;
  c.v27_4800 = (o2 & kBit12) != 0;
  c.v17 = (o2 & kBit14) != 0;
  c.fine = (o2 & kBit15Fine) != 0;
  c.wide = (o3 & (kBit17Width255 | kBit18Width303)) != 0;
  c.b4Length = (o3 & kBit19B4) != 0;
  c.unlimitedLength = (o3 & kBit20Unlimited) != 0;
  int idx = (o3 >> 4) & 7;
  c.scanNormal = FromMs(kDisNormalMs[idx]);
  c.scanFine = FromMs(kDisFineMs[idx]);
  c.mr = (o2 & kBit16Mr) != 0;
  if ((o3 & kExtend) && fif.size() > 3) {
    c.ecm = (fif[3] & kBit27Ecm) != 0;
    c.t6 = (fif[3] & kBit31T6) != 0;
  }
  return c;
}

std::vector<uint8_t> BuildDis(const DisCaps& caps, int maxBps) {
  uint8_t o2 = kBit10Receiver;
  if (maxBps >= 12000) o2 |= kBit11 | kBit12 | kBit14;
  else if (maxBps >= 7200) o2 |= kBit11 | kBit12;
  else if (maxBps >= 4800) o2 |= kBit12;
  if (caps.fine) o2 |= kBit15Fine;
  if (caps.mr) o2 |= kBit16Mr;
  uint8_t o3 = 0;
  if (caps.wide) o3 |= kBit17Width255;
  if (caps.unlimitedLength) o3 |= kBit20Unlimited;
  else if (caps.b4Length) o3 |= kBit19B4;
  // The code for both times (half at fine has codes of its own); a pair the
  // table cannot say gets the standard time at both resolutions.
  uint8_t scan = caps.scanNormal;
  for (uint8_t code = 0; code < 8; ++code)
    if (kDisNormalMs[code] == ScanTimeMs(caps.scanNormal) && kDisFineMs[code] == ScanTimeMs(caps.scanFine)) {
      scan = code;
      break;
    }
  o3 |= static_cast<uint8_t>(scan << 4);
  std::vector<uint8_t> fif = {0, o2, o3};
  if (caps.ecm) {
    fif[2] |= kExtend;
    // T.6 is offered only together with error correction.
    fif.push_back(static_cast<uint8_t>(kBit27Ecm | (caps.t6 ? kBit31T6 : 0)));
  }
  return fif;
}

std::vector<uint8_t> BuildDcs(const DcsParams& p) {
  uint8_t o2 = kBit10Receiver | SpeedFor(p.bps).dcsBits;
  if (p.fine) o2 |= kBit15Fine;
  if (p.coding == Coding::MR) o2 |= kBit16Mr;
  // With error correction the receiver needs no fill: scan-line time 0.
  uint8_t o3 = static_cast<uint8_t>((p.ecm ? scan0ms : p.scan) << 4);
  if (p.wide) o3 |= kBit17Width255;
  if (p.unlimitedLength) o3 |= kBit20Unlimited;
  else if (p.b4Length) o3 |= kBit19B4;
  if (!p.ecm) return {0, o2, o3};
  uint8_t o4 = kBit27Ecm;
  if (p.frame64) o4 |= kBit28Frame64;
  if (p.coding == Coding::MMR) o4 |= kBit31T6;
  return {0, o2, static_cast<uint8_t>(o3 | kExtend), o4};
}

std::optional<DcsParams> ParseDcs(const std::vector<uint8_t>& fif) {
  if (fif.size() < 3) return std::nullopt;
  DcsParams p;
  uint8_t bits = fif[1] & (kBit11 | kBit12 | 0x10 | kBit14);
  bool found = false;
  for (const auto& s : kSpeeds)
    if (s.dcsBits == bits) p.bps = s.bps, found = true;
  // V.17 at 9600 and 7200 (bit 14 with bits 11/12) map to the same speeds.
  if (!found && bits == (kBit11 | kBit14)) p.bps = 9600, found = true;
  if (!found && bits == (kBit11 | kBit12 | kBit14)) p.bps = 7200, found = true;
  if (!found) return std::nullopt;
  p.fine = (fif[1] & kBit15Fine) != 0;
  p.wide = (fif[2] & (kBit17Width255 | kBit18Width303)) != 0;
  p.unlimitedLength = (fif[2] & kBit20Unlimited) != 0;
  p.b4Length = (fif[2] & kBit19B4) != 0;
  p.scan = FromMs(ScanTimeMs(static_cast<ScanTime>((fif[2] >> 4) & 7)));
  if ((fif[1] & kBit16Mr) != 0) p.coding = Coding::MR;
  if ((fif[2] & kExtend) != 0 && fif.size() > 3) {
    p.ecm = (fif[3] & kBit27Ecm) != 0;
    p.frame64 = p.ecm && (fif[3] & kBit28Frame64) != 0;
    if ((fif[3] & kBit31T6) != 0) {
      if (!p.ecm) return std::nullopt;
      p.coding = Coding::MMR;
    }
  }
  return p;
}

Coding ChooseCoding(const DisCaps& remote, bool ecm, bool localMr, bool localMmr) {
  if (ecm && remote.ecm && remote.t6 && localMmr) return Coding::MMR;
  if (remote.mr && localMr) return Coding::MR;
  return Coding::MH;
}

int MrK(bool fine) {
  return fine ? 4 : 2;
}

const char* CodingName(Coding c) {
  switch (c) {
    case Coding::MR:
      return "MR";
    case Coding::MMR:
      return "MMR";
    default:
      return "MH";
  }
}

int ChooseSpeed(const DisCaps& remote, int limit, const std::vector<int>& modemCodes) {
  int best = 0;
  for (const auto& s : kSpeeds)
    if (s.bps <= limit && remote.CanTake(s.bps) && ModemHas(modemCodes, s)) best = s.bps;
  return best;
}

int StepDown(const DisCaps& remote, int bps, const std::vector<int>& modemCodes) {
  return ChooseSpeed(remote, bps - 1, modemCodes);
}

ScanTime ScanFor(const DisCaps& remote, bool fine) { return fine ? remote.scanFine : remote.scanNormal; }

int MinLineBytes(ScanTime t, int bps) {
  long bits = static_cast<long>(bps) * ScanTimeMs(t);
  return static_cast<int>((bits + 7999) / 8000);
}

int TrainingBytes(int bps) { return std::min(bps / 100 * 18, 8192); }

bool TrainingGood(size_t nonZeroBytes, size_t allBytes) {
  return allBytes > 0 && nonZeroBytes * 100 / allBytes < 10;
}

}  // namespace fe::t30
