// The settings record: every key of QN.INI with its default, loaded once at
// start-up and written whole whenever a window changes any of it.
#pragma once

#include <atomic>
#include <string>

namespace qn {

inline constexpr const char* kVersionText = "2.9s";
inline constexpr const char* kDefaultPrinter = "Default Windows Printer";

struct FaxSettings {
  // [User]
  std::string Fax, Name, Voice, Company;
  bool PrefixDisable = false;
  bool SuffixDisable = false;
  // [Dialing]
  std::string DialPrefix, DialSuffix;
  int DialAttempts = 3;
  int RetryWait = 60;
  bool BlindDial = false;
  bool IgnoreBusy = false;
  int ToneOrPulse = 0;
  int Timeout = 60;
  bool ECM = false;
  // [Modem]
  int ComPort = -1;
  int FaxClass = 1;
  int MaximumBPS = 9600;
  std::string InitString;
  bool RenegotiateBetween = false;
  int FaxClassReceive = 1;
  int MaximumBPSReceive = 9600;
  std::string InitStringReceive;
  // [Resetting]
  std::string String, AfterString;
  // [Receive]
  bool AtStartup = false;
  int AnswerOnRing = 1;
  bool ECMReceive = false;
  std::string Wav;
  bool PrintOnReceipt = false;
  std::string PrintOnReceiptPrinter = kDefaultPrinter;
  bool DisableReceivingFaxesNotification = false;
  // Copy quality of pages received without error correction: RTP (kept, the
  // caller retrains) when more than RTPBadPercent % of the lines are bad (0: any
  // bad line); RTN (sent again) above RTNBadPercent % or more than RTNBadRun
  // bad lines in a row.
  int RTPBadPercent = 0;
  int RTNBadPercent = 10;
  int RTNBadRun = 16;
  // [Hints]
  bool HintsOn = true;
  // [Other]
  bool ImposeWaitBeforePrinting = false;
  bool UseMotorolaSM56Fix = false;
  // [SIP]: the line faxes go out on and come in on is the SIP account instead of
  // the modem port when SipLine is set. The password is never here: it is kept
  // by secret_store.h.
  bool SipLine = false;
  std::string SipUser, SipDomain;
  std::string SipRegistrar;  // registrar or outbound proxy (host[:port]); empty: the domain
  std::string SipAuthUser;   // empty: the user
  std::string SipPublicAddress;  // the address the far end is to send to, behind NAT
  int SipPort = 5060;            // local SIP port
  int SipMediaPortLow = 10000, SipMediaPortHigh = 10999;
  bool SipT38 = true;
  int SipRedundancy = 3;       // redundant packets for indicators and control (image data: 1)
  int SipMaxDatagram = 400;    // the largest UDPTL datagram we take
  std::string SipCodec = "PCMA";  // "PCMA" (A-law) or "PCMU" (µ-law)
};

// The one settings record of the running program.
FaxSettings& Settings();

// Reads every key from the settings file (default: SettingsFile()) with the
// defaults and the dependent receive defaults, and sets both working copies.
void LoadSettings();
void LoadSettings(const std::string& iniPath);
// Writes every key and [Version] Version=2.9s, keeping the file's other sections,
// then sets the SM56 working flag from the setting. False when the file could
// not be written.
bool SaveSettings();
bool SaveSettings(const std::string& iniPath);

// Working copies read while the program runs. The serial dispatcher polls for
// received data while the SM56 flag is set (the port's polling flag: set on load,
// on save and by the SM56 check boxes when clicked); the printer and viewer pause
// around image blocks while the wait flag is set (set only on load, so a change
// applies at the next start).
void SetWorkingSM56Fix(bool on);
bool WorkingSM56Fix();
extern std::atomic<bool> g_WorkingImposeWait;
// Set by the main window when ComPort was missing from the settings file.
extern std::atomic<bool> g_FirstRun;

}  // namespace qn
