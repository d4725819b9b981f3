// Settings file: private-profile behaviour of the INI layer and the settings
// record's defaults, dependent receive defaults and full write-back.
#include "sessions/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/fax_names.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "sessions/secret_store.h"

namespace fs = std::filesystem;
using namespace qn;

namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qn-settings-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ini_ = (dir_ / "QN.INI").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& text) { std::ofstream(ini_, std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(ini_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fs::path dir_;
  std::string ini_;
};

TEST_F(SettingsFileTest, IniUpdatesInPlaceAndKeepsEverythingElse) {
  Write("; my comment\r\n[modem]\r\ncomport = 2\r\nExtra=keep me\r\n\r\n[Ports]\r\nCOM1=/dev/ttyUSB3\r\n");
  IniFile ini(ini_);
  // Names compare without case; values are trimmed.
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 2);
  EXPECT_EQ(ini.ReadString("MODEM", "extra", ""), "keep me");
  EXPECT_EQ(ini.ReadString("Modem", "Missing", "dflt"), "dflt");
  ini.WriteInteger("Modem", "ComPort", 4);
  ini.WriteString("Modem", "FaxClass", "2");  // new key goes into its section
  ini.WriteString("User", "Name", "Ann");     // new section at the end
  ASSERT_TRUE(ini.Flush());
  const std::string text = Read();
  EXPECT_NE(text.find("; my comment"), std::string::npos);
  EXPECT_NE(text.find("ComPort=4"), std::string::npos);
  EXPECT_EQ(text.find("comport = 2"), std::string::npos);
  EXPECT_LT(text.find("FaxClass=2"), text.find("[Ports]"));
  EXPECT_NE(text.find("COM1=/dev/ttyUSB3"), std::string::npos);
  EXPECT_GT(text.find("[User]\nName=Ann"), text.find("[Ports]"));
  IniFile again(ini_);
  EXPECT_EQ(again.ReadInteger("modem", "comport", 0), 4);
}

TEST_F(SettingsFileTest, IntegersAndBooleansReadLikeProfileValues) {
  Write("[A]\nn=-7\nh=$1F\nbad=12abc\nempty=\nyes=5\nno=0\nq=\"quoted value\"\nhuge=99999999999\n");
  IniFile ini(ini_);
  EXPECT_EQ(ini.ReadInteger("A", "n", 0), -7);
  EXPECT_EQ(ini.ReadInteger("A", "h", 0), 31);
  EXPECT_EQ(ini.ReadInteger("A", "bad", 42), 42);
  EXPECT_EQ(ini.ReadInteger("A", "empty", 42), 42);
  EXPECT_EQ(ini.ReadInteger("A", "huge", 42), 42);
  EXPECT_TRUE(ini.ReadBool("A", "yes", false));
  EXPECT_FALSE(ini.ReadBool("A", "no", true));
  EXPECT_TRUE(ini.ReadBool("A", "missing", true));
  EXPECT_EQ(ini.ReadString("A", "q", ""), "quoted value");
}

TEST_F(SettingsFileTest, ValuesReadBackAsWritten) {
  // Reading trims spaces and drops enclosing quotes, so such values are written
  // in quotes; a company called "Smith" keeps its quotes, a name its spaces.
  Settings() = FaxSettings{};
  Settings().Company = "\"Smith\"";
  Settings().Name = "  Ann ";
  Settings().DialPrefix = "'9";
  Settings().InitString = "AT&F\r\nATZ";
  ASSERT_TRUE(SaveSettings(ini_));
  EXPECT_NE(Read().find("DialPrefix='9\n"), std::string::npos);  // needs no quotes
  Settings() = FaxSettings{};
  LoadSettings(ini_);
  EXPECT_EQ(Settings().Company, "\"Smith\"");
  EXPECT_EQ(Settings().Name, "  Ann ");
  EXPECT_EQ(Settings().DialPrefix, "'9");
  EXPECT_EQ(Settings().InitString, "AT&F  ATZ");  // line breaks cannot be kept in one line
}

TEST_F(SettingsFileTest, MissingFileGivesEveryDefault) {
  LoadSettings(ini_);
  const FaxSettings& s = Settings();
  EXPECT_EQ(s.ComPort, -1);
  EXPECT_EQ(s.DialAttempts, 3);
  EXPECT_EQ(s.RetryWait, 60);
  EXPECT_EQ(s.Timeout, 60);
  EXPECT_EQ(s.FaxClass, 1);
  EXPECT_EQ(s.FaxClassReceive, 1);
  EXPECT_EQ(s.MaximumBPS, 9600);
  EXPECT_EQ(s.MaximumBPSReceive, 9600);
  EXPECT_EQ(s.AnswerOnRing, 1);
  EXPECT_EQ(s.RTPBadPercent, 0);
  EXPECT_EQ(s.RTNBadPercent, 10);
  EXPECT_EQ(s.RTNBadRun, 16);
  EXPECT_EQ(s.PrintOnReceiptPrinter, "Default Windows Printer");
  EXPECT_TRUE(s.HintsOn);
  EXPECT_FALSE(s.ECM || s.ECMReceive || s.AtStartup || s.UseMotorolaSM56Fix || s.BlindDial);
}

TEST_F(SettingsFileTest, ReceiveKeysFollowTheSendKeysWhenMissing) {
  Write("[Modem]\nFaxClass=2\nMaximumBPS=14400\nInitString=AT&K3\n[Dialing]\nECM=1\n");
  LoadSettings(ini_);
  EXPECT_EQ(Settings().FaxClassReceive, 2);
  EXPECT_EQ(Settings().MaximumBPSReceive, 14400);
  EXPECT_EQ(Settings().InitStringReceive, "AT&K3");
  EXPECT_TRUE(Settings().ECMReceive);
  // Present receive keys win over the sending values.
  Write("[Modem]\nFaxClass=2\nFaxClassReceive=3\n[Dialing]\nECM=1\n[Receive]\nECMReceive=0\n");
  LoadSettings(ini_);
  EXPECT_EQ(Settings().FaxClassReceive, 3);
  EXPECT_FALSE(Settings().ECMReceive);
}

TEST_F(SettingsFileTest, CopyQualityLimitsReadAndWriteInTheReceiveSection) {
  Write("[Receive]\nRTPBadPercent=2\nRTNBadPercent=15\nRTNBadRun=8\n");
  LoadSettings(ini_);
  EXPECT_EQ(Settings().RTPBadPercent, 2);
  EXPECT_EQ(Settings().RTNBadPercent, 15);
  EXPECT_EQ(Settings().RTNBadRun, 8);
  Settings().RTNBadRun = 20;
  ASSERT_TRUE(SaveSettings(ini_));
  EXPECT_EQ(IniFile(ini_).ReadInteger("Receive", "RTNBadRun", 0), 20);
}

TEST_F(SettingsFileTest, SaveWritesEveryKeyVersionAndKeepsForeignSections) {
  Write("[Ports]\nCOM1=/dev/pts/9\n[Dialing]\nTimeout=77\n[TMainScreen_Placement]\nLeft=5\n");
  LoadSettings(ini_);
  Settings().Name = "Quill Test";
  Settings().UseMotorolaSM56Fix = true;
  SetWorkingSM56Fix(false);
  ASSERT_TRUE(SaveSettings(ini_));
  EXPECT_TRUE(WorkingSM56Fix());
  const IniFile ini(ini_);
  EXPECT_EQ(ini.ReadString("Version", "Version", ""), "2.9s");
  EXPECT_EQ(ini.ReadInteger("Dialing", "Timeout", 0), 77);
  EXPECT_EQ(ini.ReadString("Ports", "COM1", ""), "/dev/pts/9");
  EXPECT_EQ(ini.ReadInteger("TMainScreen_Placement", "Left", 0), 5);
  EXPECT_EQ(ini.ReadString("User", "Name", ""), "Quill Test");
  const char* keys[][2] = {{"User", "Fax"},
                           {"User", "Voice"},
                           {"User", "Company"},
                           {"User", "PrefixDisable"},
                           {"User", "SuffixDisable"},
                           {"Dialing", "DialPrefix"},
                           {"Dialing", "DialSuffix"},
                           {"Dialing", "DialAttempts"},
                           {"Dialing", "RetryWait"},
                           {"Dialing", "BlindDial"},
                           {"Dialing", "IgnoreBusy"},
                           {"Dialing", "ToneOrPulse"},
                           {"Dialing", "ECM"},
                           {"Modem", "ComPort"},
                           {"Modem", "FaxClass"},
                           {"Modem", "MaximumBPS"},
                           {"Modem", "InitString"},
                           {"Modem", "RenegotiateBetween"},
                           {"Modem", "FaxClassReceive"},
                           {"Modem", "MaximumBPSReceive"},
                           {"Modem", "InitStringReceive"},
                           {"Resetting", "String"},
                           {"Resetting", "AfterString"},
                           {"Receive", "AtStartup"},
                           {"Receive", "AnswerOnRing"},
                           {"Receive", "RTPBadPercent"},
                           {"Receive", "RTNBadPercent"},
                           {"Receive", "RTNBadRun"},
                           {"Receive", "ECMReceive"},
                           {"Receive", "Wav"},
                           {"Receive", "PrintOnReceipt"},
                           {"Receive", "PrintOnReceiptPrinter"},
                           {"Receive", "DisableReceivingFaxesNotification"},
                           {"Hints", "On"},
                           {"Other", "ImposeWaitBeforePrinting"},
                           {"Other", "UseMotorolaSM56Fix"}};
  for (const auto& k : keys) EXPECT_TRUE(ini.HasKey(k[0], k[1])) << k[0] << "/" << k[1];
  // Dependent defaults are written back as values of their own.
  EXPECT_EQ(ini.ReadInteger("Modem", "FaxClassReceive", 0), 1);
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", 0), -1);
}

TEST_F(SettingsFileTest, WaitFlagFollowsOnlyTheLoad) {
  Write("[Other]\nImposeWaitBeforePrinting=1\n");
  LoadSettings(ini_);
  EXPECT_TRUE(g_WorkingImposeWait);
  Settings().ImposeWaitBeforePrinting = false;
  SaveSettings(ini_);
  EXPECT_TRUE(g_WorkingImposeWait);
}

TEST_F(SettingsFileTest, UnreadableFileGivesDefaultsAndIsNotOverwritten) {
  // A folder where the file should be cannot be read by anyone.
  fs::create_directories(ini_);
  LoadSettings(ini_);
  EXPECT_EQ(Settings().ComPort, -1);
  EXPECT_FALSE(SaveSettings(ini_));
  EXPECT_TRUE(fs::is_directory(ini_));
  fs::remove_all(ini_);
  if (geteuid() == 0) return;  // root reads every file
  Write("[Modem]\nComPort=3\n[Mine]\nKeep=1\n");
  chmod(ini_.c_str(), 0);
  LoadSettings(ini_);
  EXPECT_EQ(Settings().ComPort, -1);
  EXPECT_FALSE(SaveSettings(ini_));
  chmod(ini_.c_str(), 0644);
  EXPECT_NE(Read().find("Keep=1"), std::string::npos);
}

TEST_F(SettingsFileTest, GarbageBytesNeverBreakTheReader) {
  static const char kJunk[] = "[Modem\x01\xff]\n=\n==x\n[\n]\x00zz\nComPort=\n[Modem]\nComPort=2\n";
  const std::string junk(kJunk, sizeof kJunk - 1);
  Write(junk);
  LoadSettings(ini_);
  EXPECT_EQ(Settings().ComPort, 2);
  EXPECT_TRUE(SaveSettings(ini_));
}

TEST(FaxNames, SpeedListAndClassNames) {
  const int bps[] = {2400, 4800, 7200, 9600, 12000, 14400};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(FaxSpeedIndex(bps[i]), i);
    EXPECT_EQ(FaxSpeedBps(FaxSpeedIndex(bps[i])), bps[i]);
  }
  EXPECT_EQ(FaxSpeedIndex(33600), 3);
  EXPECT_EQ(FaxSpeedBps(-1), 9600);
  EXPECT_EQ(FaxSpeedBps(6), 9600);
  EXPECT_EQ(FaxClassName(3), "Class 2.0");
  EXPECT_EQ(FaxClassName(4), "unknown");
  EXPECT_EQ(TrimSpaces("  a b\t "), "a b\t");
}

}  // namespace

namespace {

// The SIP account: its keys read back as written, values out of range fall back
// to the defaults, and the password never reaches QN.INI.
TEST_F(SettingsFileTest, SipAccountKeysAndOutOfRangeValues) {
  Write("[SIP]\nUseAccount=1\nUser=fax\nDomain=sip.example.net\nPort=5070\nMediaPortLow=20000\nMediaPortHigh=20099\n"
        "T38=0\nRedundancy=2\nMaxDatagram=272\nCodec=PCMU\n");
  LoadSettings(ini_);
  EXPECT_TRUE(Settings().SipLine);
  EXPECT_EQ(Settings().SipDomain, "sip.example.net");
  EXPECT_EQ(Settings().SipPort, 5070);
  EXPECT_EQ(Settings().SipMediaPortLow, 20000);
  EXPECT_EQ(Settings().SipMediaPortHigh, 20099);
  EXPECT_FALSE(Settings().SipT38);
  EXPECT_EQ(Settings().SipRedundancy, 2);
  EXPECT_EQ(Settings().SipMaxDatagram, 272);
  EXPECT_EQ(Settings().SipCodec, "PCMU");
  ASSERT_TRUE(SaveSettings(ini_));
  EXPECT_EQ(IniFile(ini_).ReadString("SIP", "Domain", ""), "sip.example.net");

  Write("[SIP]\nPort=0\nMediaPortLow=30000\nMediaPortHigh=2000\nRedundancy=99\nMaxDatagram=10\nCodec=G729\n");
  LoadSettings(ini_);
  const FaxSettings defaults;
  EXPECT_EQ(Settings().SipPort, defaults.SipPort);
  EXPECT_EQ(Settings().SipMediaPortLow, 10000);
  EXPECT_EQ(Settings().SipMediaPortHigh, 10999);
  EXPECT_EQ(Settings().SipRedundancy, defaults.SipRedundancy);
  EXPECT_EQ(Settings().SipMaxDatagram, defaults.SipMaxDatagram);
  EXPECT_EQ(Settings().SipCodec, "PCMA");
}

TEST_F(SettingsFileTest, SipPasswordsLiveInAFileOnlyTheOwnerReads) {
  setenv("QUILLON_HOME", dir_.c_str(), 1);
  setenv("QUILLON_SECRET_STORE", "file", 1);
  ResetProgramFolder();
  std::string error;
  ASSERT_TRUE(StoreSipPassword("fax@sip.example.net", "s3cret pass", &error)) << error;
  ASSERT_TRUE(StoreSipPassword("other@example.org", "second", &error)) << error;
  const fs::path file = dir_ / "sip-secrets";
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(LoadSipPassword("fax@sip.example.net"), "s3cret pass");
  EXPECT_EQ(LoadSipPassword("other@example.org"), "second");
  EXPECT_EQ(LoadSipPassword("nobody@example.org"), "");
  // Replacing one keeps the other; a line break could forge another entry.
  ASSERT_TRUE(StoreSipPassword("fax@sip.example.net", "changed"));
  EXPECT_EQ(LoadSipPassword("fax@sip.example.net"), "changed");
  EXPECT_FALSE(StoreSipPassword("fax@sip.example.net", "x\nevil@example.org\tpw", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(LoadSipPassword("evil@example.org"), "");
  EXPECT_EQ(LoadSipPassword("fax@sip.example.net"), "changed");
  // An empty password forgets the account.
  ASSERT_TRUE(StoreSipPassword("fax@sip.example.net", ""));
  EXPECT_EQ(LoadSipPassword("fax@sip.example.net"), "");
  EXPECT_EQ(LoadSipPassword("other@example.org"), "second");
  // The settings file never holds it.
  LoadSettings(ini_);
  ASSERT_TRUE(SaveSettings(ini_));
  EXPECT_EQ(Read().find("second"), std::string::npos);
  EXPECT_EQ(SecretStoreName(), file.string());
  unsetenv("QUILLON_SECRET_STORE");
  unsetenv("QUILLON_HOME");
  ResetProgramFolder();
}

}  // namespace
