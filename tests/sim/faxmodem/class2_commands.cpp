#include "class2_commands.h"

#include <spandsp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace faxsim {

namespace {

constexpr Class2Spelling kClass2 = {"2", "+FCON", "+FDIS", "+FDCS", "+FTSI", "+FCSI", "+FPTS", "+FHNG", true, false};
constexpr Class2Spelling kClass20 = {"2.0", "+FCO", "+FIS", "+FCS", "+FTI", "+FCI", "+FPS", "+FHS", false, true};

// Highest value of each subparameter we accept: fine resolution, 14400 bps, widths
// up to A3, any length, one-dimensional coding only, ECM, no file transfer, any scan time.
constexpr int kMax[8] = {1, 5, 2, 2, 0, 2, 0, 7};

// DIS/DCS bits used here (the same numbers in both frames).
constexpr int kBitFine = 15;  // 7.7 lines/mm
constexpr int kBit2D = 16;
constexpr int kBitEcm = 27;

// T.30 numbers FIF bits from 1, least significant bit of the first octet first.
bool bit(const uint8_t* frame, int len, int n) {
  const int index = 3 + (n - 1) / 8;
  return index < len && ((frame[index] >> ((n - 1) % 8)) & 1) != 0;
}
int bits(const uint8_t* frame, int len, int first, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) value |= bit(frame, len, first + i) << i;
  return value;
}

// Bits 21-23 (21 least significant) to the Class 2 scan time code.
constexpr int kScanTime[8] = {5, 1, 3, 4, 7, 6, 2, 0};
// Bits 17-18 and 19-20 (the lower bit first) to wd and ln: bit 19 alone is
// A4 and B4, bit 20 alone any length.
int width(const uint8_t* f, int len) {
  return std::min(bits(f, len, 17, 2), 2);
}
int length(const uint8_t* f, int len) {
  static constexpr int kLength[4] = {0, 1, 2, 0};
  return kLength[bits(f, len, 19, 2)];
}

Class2Params common(const uint8_t* f, int len) {
  Class2Params p;
  p.vr = bit(f, len, kBitFine) ? 1 : 0;
  p.wd = width(f, len);
  p.ln = length(f, len);
  p.df = bit(f, len, kBit2D) ? 1 : 0;
  p.ec = bit(f, len, kBitEcm) ? 1 : 0;
  p.bf = 0;
  p.st = kScanTime[bits(f, len, 21, 3)];
  return p;
}

}  // namespace

const Class2Spelling& spellingFor(bool class20) {
  return class20 ? kClass20 : kClass2;
}

std::string Class2Params::text() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d,%d,%d,%d,%d,%d,%d,%d", vr, br, wd, ln, df, ec, bf, st);
  return buf;
}

bool Class2Params::parse(const std::string& text) {
  int* fields[8] = {&vr, &br, &wd, &ln, &df, &ec, &bf, &st};
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == ',')
      parts.emplace_back();
    else if (c != ' ')
      parts.back() += c;
  }
  if (parts.size() > 8) return false;
  int values[8];
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].empty()) {
      values[i] = *fields[i];
      continue;
    }
    if (parts[i].size() > 2 || !std::all_of(parts[i].begin(), parts[i].end(), ::isdigit)) return false;
    values[i] = std::stoi(parts[i]);
    if (values[i] > kMax[i]) return false;
  }
  for (size_t i = 0; i < parts.size(); ++i) *fields[i] = values[i];
  return true;
}

int Class2Params::bitsPerSecond() const {
  return 2400 * (br + 1);
}

int Class2Params::width() const {
  static constexpr int kWidth[3] = {T4_WIDTH_R8_A4, T4_WIDTH_R8_B4, 2432};
  return kWidth[std::clamp(wd, 0, 2)];
}

const char* class2ParamRanges() {
  return "(0,1),(0-5),(0-2),(0-2),(0),(0-2),(0),(0-7)";
}

Class2Params paramsFromDis(const uint8_t* frame, int len) {
  Class2Params p = common(frame, len);
  // Bits 11-14 (11 least significant): the modems the terminal can receive with.
  switch (bits(frame, len, 11, 4)) {
    case 0x0:
      p.br = 0;
      break;
    case 0x2:
      p.br = 1;
      break;
    case 0x1:
    case 0x3:
      p.br = 3;
      break;
    default:  // V.17 as well
      p.br = 5;
      break;
  }
  return p;
}

Class2Params paramsFromDcs(const uint8_t* frame, int len) {
  Class2Params p = common(frame, len);
  // Bits 11-14 of DCS: the one modem and speed chosen.
  static constexpr int kRate[16] = {0, 3, 1, 2, 0, 0, 0, 0, 5, 3, 4, 2, 0, 0, 0, 0};
  p.br = kRate[bits(frame, len, 11, 4)];
  return p;
}

std::string identFromFrame(const uint8_t* frame, int len) {
  std::string id;
  for (int i = len - 1; i >= 3; --i) id += static_cast<char>(frame[i]);
  const size_t first = id.find_first_not_of(' ');
  const size_t last = id.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : id.substr(first, last - first + 1);
}

SpandspCaps capsFor(const Class2Params& p) {
  SpandspCaps caps{};
  caps.modems = T30_SUPPORT_V27TER;
  if (p.br >= 2) caps.modems |= T30_SUPPORT_V29;
  if (p.br >= 4) caps.modems |= T30_SUPPORT_V17;
  caps.resolutions = T30_SUPPORT_STANDARD_RESOLUTION | (p.vr >= 1 ? T30_SUPPORT_FINE_RESOLUTION : 0);
  caps.sizes = T30_SUPPORT_215MM_WIDTH | T30_SUPPORT_UNLIMITED_LENGTH | T30_SUPPORT_A4_LENGTH | T30_SUPPORT_B4_LENGTH |
               T30_SUPPORT_US_LETTER_LENGTH | T30_SUPPORT_US_LEGAL_LENGTH;
  if (p.wd >= 1) caps.sizes |= T30_SUPPORT_255MM_WIDTH;
  if (p.wd >= 2) caps.sizes |= T30_SUPPORT_303MM_WIDTH;
  caps.compressions = T30_SUPPORT_T4_1D_COMPRESSION | (p.df >= 1 ? T30_SUPPORT_T4_2D_COMPRESSION : 0);
  caps.ecm = p.ec > 0;
  return caps;
}

Class2Params negotiate(const Class2Params& local, const Class2Params& remote) {
  Class2Params s = local;
  s.vr = std::min(local.vr, remote.vr);
  s.br = std::min(local.br, remote.br);
  s.wd = std::min(local.wd, remote.wd);
  s.ln = std::min(local.ln, remote.ln);
  s.df = 0;
  s.ec = local.ec > 0 && remote.ec > 0 ? local.ec : 0;
  s.bf = 0;
  s.st = remote.st;
  return s;
}

}  // namespace faxsim
