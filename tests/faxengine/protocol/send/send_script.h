// The scripted Class 1 and Class 2 dialogues the send engine tests share: frames
// as the modem hands them over, the usual steps of a call, and the fixtures.
#pragma once

#include <gtest/gtest.h>

#include "ecm.h"
#include "fe_errors.h"
#include "hdlc.h"
#include "scripted_modem.h"
#include "send_rig.h"
#include "t30.h"

namespace fe::test {

using namespace std::chrono_literals;
using qnsim::ScriptedModem;

inline const char* kInit = "ATE0Q0V1X4S0=0S2=43";

inline std::string Fr(std::vector<uint8_t> b) {
  b.push_back(0);  // the FCS the modem hands over with each frame
  b.push_back(0);
  return std::string(b.begin(), b.end());
}
inline std::string Csi(const std::string& id) {
  std::vector<uint8_t> f = {0xFF, 0x03, t30::fcfCSI};
  auto enc = t30::EncodeId(id);
  f.insert(f.end(), enc.begin(), enc.end());
  return Fr(f);
}
// DIS: V.27ter + V.29 (+ V.17), fine, 20 ms scan lines, optionally wide.
inline std::string Dis(bool v17 = false, bool fine = true, bool wide = false) {
  uint8_t o2 = 0x02 | 0x04 | 0x08 | (v17 ? 0x20 : 0) | (fine ? 0x40 : 0);
  uint8_t o3 = (wide ? 0x01 : 0) | 0x08;
  return Fr({0xFF, 0x13, t30::fcfDIS, 0x00, o2, o3});
}
inline std::string Resp(uint8_t fcf) {
  return Fr({0xFF, 0x13, fcf});
}

inline void Class1Prep(ScriptedModem& m, const char* ftm = "24,48,72,96") {
  m.Answer(kInit).Answer("AT+FCLASS=1").Expect("AT+FTM=?").Reply(ftm).Reply("OK").Answer("AT+FCLASS=1");
}
inline void Class1Dial(ScriptedModem& m, const std::string& dis) {
  m.Expect("ATDT5551234").Reply("CONNECT").Frame(Csi("REMOTE 1")).Reply("OK");
  m.Answer("AT+FRH=3", "CONNECT").Frame(dis).Reply("OK");
}
inline void Class1TsiDcs(ScriptedModem& m) {
  m.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("CONNECT").ExpectData().Reply("OK");
}
inline void Class1Train(ScriptedModem& m, const std::string& code, uint8_t answer) {
  m.Answer("AT+FTM=" + code, "CONNECT").ExpectData().Reply("OK");
  m.Answer("AT+FRH=3", "CONNECT").Frame(Resp(answer)).Reply("OK");
}
inline void Class1Page(ScriptedModem& m, const std::string& code) {
  m.Answer("AT+FTM=" + code, "CONNECT").ExpectData().Reply("OK");
}
inline void Class1PostPage(ScriptedModem& m, uint8_t answer) {
  m.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK");
  m.Answer("AT+FRH=3", "CONNECT").Frame(Resp(answer)).Reply("OK");
}
inline void Class1End(ScriptedModem& m) {
  m.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK").Answer("ATH");
}
// The DCN of a sender that ends the call itself, before its hang-up.
inline void Class1Dcn(ScriptedModem& m) {
  m.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK");
}
// The kind of frame a data block holds (0 when it is none).
inline uint8_t KindOf(const std::string& block) {
  auto f = t30::ParseFrame(std::vector<uint8_t>(block.begin(), block.end()), false);
  return f ? f->Kind() : 0;
}
// The hang-up after a failed call, then one command that shows the port still works.
inline void HangUpThenAt(ScriptedModem& m) {
  m.ExpectPrefix("+++").Reply("OK").Answer("AT");
}

inline bool PortAnswers(SendRig& rig) {
  if (rig.port.SendText("AT\r") < 0) return false;
  return rig.port.AwaitText("OK", 36) == 1;
}

struct Class1Send : ::testing::Test {
  std::string dir = TempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::string fax = dir + "/FAX.APF";
  std::string historyFile = dir + "/FAXHIST.HIS";
  std::time_t began = std::time(nullptr);
  ScriptedModem modem;
  std::unique_ptr<SendRig> rig;

  std::string History() const { return HistoryText(historyFile, began); }

  void Start(std::vector<uint16_t> pages = {pfHighRes}, unsigned lines = 30) {
    MakeFax(fax, pages, lines);
    modem.Start();
    rig = std::make_unique<SendRig>(modem.DevicePath());
    rig->fax.FaxClass = TFaxClass::fcClass1;
    rig->fax.FaxFile = fax;
    rig->fax.PhoneNumber = "5551234";
    rig->fax.StationID = "qn test";
    rig->fax.DialRetryWait = 1;
    rig->history.FaxHistoryName = historyFile;
    rig->fax.FaxLog = &rig->history;
  }
  ~Class1Send() override { std::filesystem::remove_all(dir); }
};

struct Class2Send : Class1Send {
  void Prep(bool v20) {
    modem.Answer(kInit);
    if (v20) {
      modem.Answer("AT+FCLASS=2.0").Answer("AT+FLI=\"QN TEST\"").Answer("AT+FLO=2").Answer("AT+FNR=1,1,1,0");
      modem.Answer("AT+FCC=1,3,0,2,0,0,0,0");
    } else {
      modem.Answer("AT+FCLASS=2").Answer("AT+FLID=\"QN TEST\"").Answer("AT+FDCC=1,3,0,2,0,0,0,0");
    }
  }
  void Start2(bool v20, std::vector<uint16_t> pages = {pfHighRes, pfHighRes}) {
    Start(pages, 12);
    rig->fax.FaxClass = v20 ? TFaxClass::fcClass2_0 : TFaxClass::fcClass2;
  }
};

using Bytes = std::vector<uint8_t>;

// DIS with V.17, fine and ECM (bit 27 in a fourth octet).
inline std::string EcmDis() {
  return Fr({0xFF, 0x13, t30::fcfDIS, 0x00, 0x02 | 0x04 | 0x08 | 0x20 | 0x40, 0x08 | 0x80, 0x04});
}
inline std::string Ppr(const std::vector<int>& frames, uint8_t fill = 0) {
  Bytes f = {0xFF, 0x13, ecm::fcfPPR};
  Bytes map(32, fill);
  for (int n : frames) map[static_cast<size_t>(n / 8)] |= static_cast<uint8_t>(1 << (n % 8));
  f.insert(f.end(), map.begin(), map.end());
  return Fr(f);
}

// The FCD frame numbers in a burst as the modem received it.
inline std::vector<int> BurstFrames(const std::string& block) {
  hdlc::TDeframer d(300);
  d.Put(reinterpret_cast<const uint8_t*>(block.data()), block.size());
  std::vector<int> n;
  Bytes f;
  while (d.Take(f))
    if (f.size() > 4 && f[2] == ecm::fcfFCD) n.push_back(f[3]);
  return n;
}

struct Class1Ecm : Class1Send {
  // Phase B up to CFR with ECM on both sides.
  void Negotiate(const char* code = "145") {
    Class1Prep(modem, "24,48,72,73,74,96,97,98,121,122,145,146");
    Class1Dial(modem, EcmDis());
    Class1TsiDcs(modem);
    Class1Train(modem, code, t30::fcfCFR);
  }
  void Burst(const std::string& code) { modem.Answer("AT+FTM=" + code, "CONNECT").ExpectData().Reply("OK"); }
  void Command(const std::string& answer) {
    modem.Answer("AT+FTH=3", "CONNECT").ExpectData().Reply("OK");
    modem.Answer("AT+FRH=3", "CONNECT").Frame(answer).Reply("OK");
  }
  void Go(std::chrono::seconds limit = 60s) {
    Start({pfHighRes}, 400);  // a page of some frames
    rig->fax.DesiredBPS = 14400;
    rig->fax.DesiredECM = true;
    EXPECT_EQ(rig->Run(limit), std::vector<int>{0});
    ASSERT_TRUE(modem.WaitDone(5s)) << modem.Report();
    EXPECT_TRUE(rig->fax.Session().ecm);
  }
  // Data blocks: 0 TSI, 1 DCS, 2 training, then burst, PPS, burst, PPS...
  std::vector<std::string> Blocks() { return modem.DataBlocks(); }
  static std::optional<ecm::Pps> PpsOf(const std::string& b) {
    auto f = t30::ParseFrame(Bytes(b.begin(), b.end()), false);
    if (!f || f->Kind() != ecm::fcfPPS) return std::nullopt;
    return ecm::ParsePpsFif(f->fif);
  }
};

}  // namespace fe::test
