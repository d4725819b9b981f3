// A receiver on a scripted modem: the port, its link, the engine, a fresh
// destination folder and a record of every event the engine reported.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "apf_reader.h"
#include "comport_link.h"
#include "fe_comport.h"
#include "receive_fax.h"
#include "scripted_modem.h"
#include "t30.h"

namespace recvtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// An HDLC frame as the modem hands it over after "AT+FRH=3": address, control,
// FCF, FIF and two check-sequence bytes.
inline std::string HdlcFrame(std::uint8_t fcf, const std::vector<std::uint8_t>& fif = {}, bool final = true) {
  std::string s = {'\xff', final ? '\x13' : '\x03', static_cast<char>(fcf)};
  s.append(fif.begin(), fif.end());
  s += "\x5a\xa5";
  return s;
}

inline std::string Bytes(const std::vector<std::uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

// Page data as a modem delivers it: DLE doubled, DLE ETX at the end.
inline std::string Stuffed(const std::string& data) {
  std::string s;
  for (char c : data) {
    s += c;
    if (c == '\x10') s += c;
  }
  return s + "\x10\x03";
}

// A training check as the modem delivers it: `bytes` bytes, `nonZero` of them not zero.
inline std::string Training(std::size_t bytes, std::size_t nonZero) {
  std::string t(bytes, '\0');
  for (std::size_t i = 0; i < nonZero; ++i) t[i * bytes / nonZero] = '\xff';
  return t + "\x10\x03";
}

// The FCF of a frame the computer sent (address, control, FCF ...).
inline std::uint8_t FrameFcf(const std::string& block) {
  return block.size() > 2 ? static_cast<std::uint8_t>(block[2]) : 0;
}

// A raw page of coded lines: each raster line of the given pattern, then RTC.
std::string CodedPage(int lines, unsigned seed, std::vector<std::vector<std::uint8_t>>* rasters = nullptr);

// The same, with the lines whose numbers are in `bad` coded 2048 pixels wide:
// a receiver of a 1728-pixel page cannot read them. `rasters` gets the good lines.
std::string CodedPageWithBadLines(int lines, unsigned seed, const std::vector<int>& bad,
                                  std::vector<std::vector<std::uint8_t>>* rasters = nullptr);

// Every raster line of page n of an APF file.
std::vector<std::vector<std::uint8_t>> DecodePage(const std::string& file, unsigned n);

struct Events {
  std::mutex mu;
  std::vector<int> statuses, logs, errors;
  std::vector<std::string> flagged;  // "20L", "22F": statuses that opened (F) or closed (L) the display
  int finish = -1;
  std::vector<int> Statuses() {
    std::lock_guard<std::mutex> lk(mu);
    return statuses;
  }
  std::vector<std::string> Flagged() {
    std::lock_guard<std::mutex> lk(mu);
    return flagged;
  }
  std::vector<int> Logs() {
    std::lock_guard<std::mutex> lk(mu);
    return logs;
  }
  std::vector<int> Errors() {
    std::lock_guard<std::mutex> lk(mu);
    return errors;
  }
};

class RecvFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens the port on the scripted modem and starts the script.
  void Open();
  // The Class 1 preparation and reset dialogue.
  void Class1Prep(const std::string& modulations = "24,48,72,96");
  // The Class 1 answer up to our DIS; then the caller's TSI and DCS.
  void Class1Answer(int rings = 1);
  void Class1CallerFrames(const std::string& tsi, int bps = 9600, bool fine = true);
  void Class1CallerFrames(const std::string& tsi, const fe::t30::DcsParams& dcs);
  std::vector<std::string> Files() const;

  qnsim::ScriptedModem modem;
  fe::TFeComPort port;
  std::unique_ptr<fe::TComPortLink> link;
  fe::TFeReceiveFax rx;
  fs::path dir;
  Events ev;
};

bool Contains(const std::vector<int>& v, int x);

}  // namespace recvtest
