#include "settings.h"

#include "common/folders.h"
#include "fe_comport.h"
#include "fe_device.h"
#include "common/ini_file.h"

namespace qn {

void SetWorkingSM56Fix(bool on) { fe::SetPortPolling(on); }
bool WorkingSM56Fix() { return fe::PortPolling(); }
std::atomic<bool> g_WorkingImposeWait{false};
std::atomic<bool> g_FirstRun{false};

FaxSettings& Settings() {
  static FaxSettings settings;
  return settings;
}

namespace {

// Each key is named once; the load and the save walk the same lists, so a key
// can be neither forgotten on save nor read under another name.
struct StrKey {
  const char* section;
  const char* key;
  std::string FaxSettings::*field;
};
struct IntKey {
  const char* section;
  const char* key;
  int FaxSettings::*field;
};
struct BoolKey {
  const char* section;
  const char* key;
  bool FaxSettings::*field;
};

const StrKey kStrKeys[] = {
    {"User", "Fax", &FaxSettings::Fax},
    {"User", "Name", &FaxSettings::Name},
    {"User", "Voice", &FaxSettings::Voice},
    {"User", "Company", &FaxSettings::Company},
    {"Dialing", "DialPrefix", &FaxSettings::DialPrefix},
    {"Dialing", "DialSuffix", &FaxSettings::DialSuffix},
    {"Modem", "InitString", &FaxSettings::InitString},
    {"Modem", "InitStringReceive", &FaxSettings::InitStringReceive},
    {"Resetting", "String", &FaxSettings::String},
    {"Resetting", "AfterString", &FaxSettings::AfterString},
    {"Receive", "Wav", &FaxSettings::Wav},
    {"Receive", "PrintOnReceiptPrinter", &FaxSettings::PrintOnReceiptPrinter},
    {"SIP", "User", &FaxSettings::SipUser},
    {"SIP", "Domain", &FaxSettings::SipDomain},
    {"SIP", "Registrar", &FaxSettings::SipRegistrar},
    {"SIP", "AuthUser", &FaxSettings::SipAuthUser},
    {"SIP", "PublicAddress", &FaxSettings::SipPublicAddress},
    {"SIP", "Codec", &FaxSettings::SipCodec},
};
const IntKey kIntKeys[] = {
    {"Dialing", "DialAttempts", &FaxSettings::DialAttempts},
    {"Dialing", "RetryWait", &FaxSettings::RetryWait},
    {"Dialing", "ToneOrPulse", &FaxSettings::ToneOrPulse},
    {"Dialing", "Timeout", &FaxSettings::Timeout},
    {"Modem", "ComPort", &FaxSettings::ComPort},
    {"Modem", "FaxClass", &FaxSettings::FaxClass},
    {"Modem", "MaximumBPS", &FaxSettings::MaximumBPS},
    {"Modem", "FaxClassReceive", &FaxSettings::FaxClassReceive},
    {"Modem", "MaximumBPSReceive", &FaxSettings::MaximumBPSReceive},
    {"Receive", "AnswerOnRing", &FaxSettings::AnswerOnRing},
    {"Receive", "RTPBadPercent", &FaxSettings::RTPBadPercent},
    {"Receive", "RTNBadPercent", &FaxSettings::RTNBadPercent},
    {"Receive", "RTNBadRun", &FaxSettings::RTNBadRun},
    {"SIP", "Port", &FaxSettings::SipPort},
    {"SIP", "MediaPortLow", &FaxSettings::SipMediaPortLow},
    {"SIP", "MediaPortHigh", &FaxSettings::SipMediaPortHigh},
    {"SIP", "Redundancy", &FaxSettings::SipRedundancy},
    {"SIP", "MaxDatagram", &FaxSettings::SipMaxDatagram},
};
const BoolKey kBoolKeys[] = {
    {"User", "PrefixDisable", &FaxSettings::PrefixDisable},
    {"User", "SuffixDisable", &FaxSettings::SuffixDisable},
    {"Dialing", "BlindDial", &FaxSettings::BlindDial},
    {"Dialing", "IgnoreBusy", &FaxSettings::IgnoreBusy},
    {"Dialing", "ECM", &FaxSettings::ECM},
    {"Modem", "RenegotiateBetween", &FaxSettings::RenegotiateBetween},
    {"Receive", "AtStartup", &FaxSettings::AtStartup},
    {"Receive", "ECMReceive", &FaxSettings::ECMReceive},
    {"Receive", "PrintOnReceipt", &FaxSettings::PrintOnReceipt},
    {"Receive", "DisableReceivingFaxesNotification", &FaxSettings::DisableReceivingFaxesNotification},
    {"Hints", "On", &FaxSettings::HintsOn},
    {"Other", "ImposeWaitBeforePrinting", &FaxSettings::ImposeWaitBeforePrinting},
    {"Other", "UseMotorolaSM56Fix", &FaxSettings::UseMotorolaSM56Fix},
    {"SIP", "UseAccount", &FaxSettings::SipLine},
    {"SIP", "T38", &FaxSettings::SipT38},
};

}  // namespace

void LoadSettings() { LoadSettings(SettingsFile()); }

void LoadSettings(const std::string& iniPath) {
  // Port numbers map through this program's [Ports] from now on.
  fe::SetComPortLookup(&PortDeviceFromSettings);
  const IniFile ini(iniPath);
  FaxSettings s;
  // The receive keys default to their sending counterparts, so those are read first
  // (the lists above keep that order) and the receive defaults are set in between.
  for (const StrKey& k : kStrKeys) {
    if (k.field == &FaxSettings::InitStringReceive) s.InitStringReceive = s.InitString;
    s.*k.field = ini.ReadString(k.section, k.key, s.*k.field);
  }
  for (const IntKey& k : kIntKeys) {
    if (k.field == &FaxSettings::FaxClassReceive) s.FaxClassReceive = s.FaxClass;
    if (k.field == &FaxSettings::MaximumBPSReceive) s.MaximumBPSReceive = s.MaximumBPS;
    s.*k.field = ini.ReadInteger(k.section, k.key, s.*k.field);
  }
  for (const BoolKey& k : kBoolKeys) {
    if (k.field == &FaxSettings::ECMReceive) s.ECMReceive = s.ECM;
    s.*k.field = ini.ReadBool(k.section, k.key, s.*k.field);
  }
  // SIP values another program or a hand edit left out of range fall back to
  // their defaults, so a call never binds port 0 or offers a codec we lack.
  const FaxSettings defaults;
  auto port = [](int p) { return p >= 1 && p <= 65535; };
  if (!port(s.SipPort)) s.SipPort = defaults.SipPort;
  if (!port(s.SipMediaPortLow) || !port(s.SipMediaPortHigh) || s.SipMediaPortLow > s.SipMediaPortHigh) {
    s.SipMediaPortLow = defaults.SipMediaPortLow;
    s.SipMediaPortHigh = defaults.SipMediaPortHigh;
  }
  if (s.SipRedundancy < 0 || s.SipRedundancy > 7) s.SipRedundancy = defaults.SipRedundancy;
  if (s.SipMaxDatagram < 72 || s.SipMaxDatagram > 65507) s.SipMaxDatagram = defaults.SipMaxDatagram;
  if (s.SipCodec != "PCMA" && s.SipCodec != "PCMU") s.SipCodec = defaults.SipCodec;
  Settings() = s;
  SetWorkingSM56Fix(s.UseMotorolaSM56Fix);
  g_WorkingImposeWait = s.ImposeWaitBeforePrinting;
}

bool SaveSettings() { return SaveSettings(SettingsFile()); }

bool SaveSettings(const std::string& iniPath) {
  IniFile ini(iniPath);
  const FaxSettings& s = Settings();
  bool ok = ini.readable();  // a file that could not be read is not overwritten
  if (ok) {
    for (const StrKey& k : kStrKeys) ini.WriteString(k.section, k.key, s.*k.field);
    for (const IntKey& k : kIntKeys) ini.WriteInteger(k.section, k.key, s.*k.field);
    for (const BoolKey& k : kBoolKeys) ini.WriteBool(k.section, k.key, s.*k.field);
    ini.WriteString("Version", "Version", kVersionText);
    ok = ini.Flush();
  }
  SetWorkingSM56Fix(s.UseMotorolaSM56Fix);
  return ok;
}

}  // namespace qn
