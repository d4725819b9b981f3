// The port of a fax session against a scripted modem: the messages a user reads
// when a port cannot be opened (naming the program that holds it), the modem
// check with and without the reset string, the acknowledged command, trace marks
// between the session's bytes, and the port free again after Close.
#include "sessions/fax_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/folders.h"
#include "fe_errors.h"
#include "fe_lockfile.h"
#include "fe_texts.h"
#include "scripted_modem.h"

namespace qn {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The device's path is named; a device whose permissions keep the user out
// names the group to join, and only then.
TEST(OpenFailureMessage, NamesTheDeviceAndTheGroupToJoin) {
  const std::string missing = OpenFailureMessage(-fe::ecBadId, 2, "/dev/ttyQN-none");
  EXPECT_EQ(missing, "Unable to open the specified communications port ( Com2 )\r\n\r\nDevice: /dev/ttyQN-none");
  // crw-rw---- root:dialout(20) against a user outside the group, in it, and the owner.
  const unsigned crw_rw = 020660;
  const std::string note = PermissionNote("/dev/ttyS0", crw_rw, 0, 20, 1000, {1000, 24});
  EXPECT_NE(note.find("/dev/ttyS0"), std::string::npos) << note;
  EXPECT_NE(note.find("sudo usermod -aG "), std::string::npos) << note;
  EXPECT_NE(note.find("log out and in again"), std::string::npos) << note;
  EXPECT_EQ(PermissionNote("/dev/ttyS0", crw_rw, 0, 20, 1000, {1000, 20}), "");
  EXPECT_EQ(PermissionNote("/dev/ttyS0", crw_rw, 1000, 20, 1000, {1000}), "");
  EXPECT_EQ(PermissionNote("/dev/ttyS0", 020666, 0, 20, 1000, {1000}), "");  // open to all
  EXPECT_EQ(PermissionNote("/dev/ttyS0", 020600, 0, 20, 0, {0}), "");        // root
  EXPECT_NE(PermissionNote("/dev/ttyS0", 020640, 0, 20, 1000, {20}).find("usermod"), std::string::npos);  // read only
}

TEST(OpenFailureMessage, ReadableTextForEachCode) {
  const std::string inUse =
      "The communications port is in use ( Com 3 )\r\n\r\nPlease make sure that all communication programs "
      "(internet, AOL, etc) are closed, and then try again.";
  EXPECT_EQ(OpenFailureMessage(-fe::ecAlreadyOpen, 3), inUse);
  EXPECT_EQ(OpenFailureMessage(-fe::ecHardware, 3), inUse);
  EXPECT_EQ(OpenFailureMessage(-fe::ecBadId, 4), "Unable to open the specified communications port ( Com4 )");
  EXPECT_EQ(OpenFailureMessage(-fe::ecNoPortSelected, 1),
            "Unable to open the specified communications port ( Com1 )\r\nError message: " +
                fe::ErrorText(fe::ecNoPortSelected));
  EXPECT_EQ(OpenFailureMessage(-7777, 2),
            "Unable to open the specified communications port ( Com2 )\r\nError message: Unknown error");
}

TEST(ComNumberOf, NamesAndPaths) {
  EXPECT_EQ(ComNumberOf("COM3"), 3u);
  EXPECT_EQ(ComNumberOf("com12"), 12u);
  EXPECT_EQ(ComNumberOf("COM"), 0u);
  EXPECT_EQ(ComNumberOf("/dev/ttyS0"), 0u);
  EXPECT_EQ(ComNumberOf("COM1x"), 0u);
}

// A port another program holds: the message says which program, and after the
// program lets go the port opens.
TEST(ComPortDevice, ThroughTheProgramsSettingsFile) {
  // Key COM<n> of [Ports] in QN.INI (names in any letter case), read afresh at
  // every lookup; the environment first, the default devices last.
  const auto home = std::filesystem::temp_directory_path() / ("qn-port-home-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home);
  const auto write = [&](const std::string& text) { std::ofstream(home / "qn.ini") << text; };
  write("[Modem]\r\nComPort=2\r\n[ports]\r\n com3 = /dev/ttyFAKE3 \r\n");
  setenv("QUILLON_HOME", home.c_str(), 1);
  qn::ResetProgramFolder();
  unsetenv("QN_COM3");
  EXPECT_EQ(qn::ComPortDevice(3), "/dev/ttyFAKE3");
  EXPECT_EQ(qn::ComPortDevice(1), "/dev/ttyS0");
  write("[Ports]\nCOM1=/dev/ttyFAKE1\n");  // the modem finder's pick counts at once
  EXPECT_EQ(qn::ComPortDevice(1), "/dev/ttyFAKE1");
  EXPECT_EQ(qn::ComPortDevice(3), "/dev/ttyS2");
  setenv("QN_COM1", "/dev/pts/999", 1);
  EXPECT_EQ(qn::ComPortDevice(1), "/dev/pts/999");
  unsetenv("QN_COM1");
  unsetenv("QUILLON_HOME");
  qn::ResetProgramFolder();
  std::filesystem::remove_all(home);
}

TEST(SessionPort, PortHeldByAnotherProgramIsNamed) {
  qnsim::ScriptedModem modem;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(modem.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ::flock(fd, LOCK_EX);
    (void)!::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  TFaxSessionPort port;
  const int rc = port.Open(modem.DevicePath());
  EXPECT_EQ(rc, -fe::ecHardware);
  const std::string message = OpenFailureMessage(rc, 3, modem.DevicePath());
  EXPECT_NE(message.find("The communications port is in use ( Com 3 )"), std::string::npos) << message;
  EXPECT_NE(message.find("(process " + std::to_string(child) + ")"), std::string::npos) << message;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(port.Open(modem.DevicePath()), 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

// A program that holds the port by a UUCP lock file only (it has not even opened
// the device) is named from the process id in its lock file.
TEST(SessionPort, PortHeldByALockFileNamesItsProcess) {
  qnsim::ScriptedModem modem;
  const std::string folder = "/tmp/qn-session-locks-" + std::to_string(::getpid());
  ::mkdir(folder.c_str(), 0755);
  ::setenv("QN_LOCK_DIR", folder.c_str(), 1);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execlp("sleep", "sleep", "120", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  // The child shows its own name once it runs the program.
  for (int i = 0; i < 200 && ReadFile("/proc/" + std::to_string(child) + "/comm") != "sleep\n"; ++i)
    std::this_thread::sleep_for(10ms);
  const std::string lock = fe::LockFilePath(modem.DevicePath());
  {
    std::ofstream out(lock);
    out << std::string(10 - std::to_string(child).size(), ' ') << child << "\n";
  }
  TFaxSessionPort port;
  const int rc = port.Open(modem.DevicePath());
  EXPECT_EQ(rc, -fe::ecHardware);
  const std::string message = OpenFailureMessage(rc, 2, modem.DevicePath());
  EXPECT_NE(message.find("is held by sleep (process " + std::to_string(child) + ")."), std::string::npos) << message;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  // The holder has gone: its lock is stale, the port ours, with our own lock.
  EXPECT_EQ(port.Open(modem.DevicePath()), 0);
  EXPECT_EQ(ReadFile(lock),
            std::string(10 - std::to_string(::getpid()).size(), ' ') + std::to_string(::getpid()) + "\n");
  port.Close();
  EXPECT_NE(::access(lock.c_str(), F_OK), 0);
  ::unsetenv("QN_LOCK_DIR");
  ::rmdir(folder.c_str());
}

TEST(SessionPort, ModemCheckTriesTheResetStringWhenATGoesUnanswered) {
  qnsim::ScriptedModem modem;
  modem.SetExpectTimeout(5s);
  modem.Expect("AT").Answer("ATZ", "OK").Answer("AT&F", "OK").Expect("ATX");
  modem.Start();
  TFaxSessionPort port;
  int idled = 0;
  port.Idle = [&](int ms) { idled += ms; };
  ASSERT_EQ(port.Open(modem.DevicePath()), 0);
  EXPECT_TRUE(port.CheckForModem("ATZ"));
  EXPECT_GE(idled, 600);  // the modem gets time to settle before the first "AT"
  std::string reset = "&F";
  EXPECT_TRUE(port.SendModemCommand(reset));
  EXPECT_EQ(reset, "AT&F");  // the caller's setting keeps the prefix
  std::string unanswered = "X";
  EXPECT_FALSE(port.SendModemCommand(unanswered));
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(modem.WaitDone(5s)) << modem.Report();
}

TEST(SessionPort, NoModemWithoutResetString) {
  qnsim::ScriptedModem modem;
  modem.Expect("AT");  // and never answers
  modem.Start();
  TFaxSessionPort port;
  port.Idle = [](int) {};
  ASSERT_EQ(port.Open(modem.DevicePath()), 0);
  EXPECT_FALSE(port.CheckForModem("   "));
  EXPECT_TRUE(modem.WaitDone(1s)) << modem.Report();
  EXPECT_EQ(modem.Received(), "AT\r");
}

// Marks sit between the bytes in the order they happened; a paused trace takes
// nothing more; the dump replaces the file and the port opens again afterwards.
TEST(SessionPort, TraceHoldsMarksBetweenTheBytes) {
  qnsim::ScriptedModem modem;
  modem.Answer("AT", "OK").Answer("ATI", "OK");
  modem.Start();
  const std::string trace = ::testing::TempDir() + "qn-port-trace-" + std::to_string(::getpid()) + ".log";
  { std::ofstream(trace) << "old"; }
  TFaxSessionPort port;
  port.Idle = [](int) {};
  ASSERT_EQ(port.Open(modem.DevicePath(), trace), 0);
  port.Mark("Check_for_modem");
  ASSERT_TRUE(port.CheckForModem(""));
  port.Mark("Between");
  port.PauseTrace();
  std::string ati = "ATI";
  ASSERT_TRUE(port.SendModemCommand(ati));
  port.Mark("After_pause");
  EXPECT_EQ(port.DumpTrace(), 0);
  port.Close();
  const std::string text = ReadFile(trace);
  const auto mark1 = text.find(" Mark Check_for_modem\r\n");
  const auto at = text.find("41 54 0D");
  const auto ok = text.find("|..OK..|");
  const auto mark2 = text.find(" Mark Between\r\n");
  ASSERT_NE(mark1, std::string::npos) << text;
  ASSERT_NE(at, std::string::npos) << text;
  ASSERT_NE(ok, std::string::npos) << text;
  ASSERT_NE(mark2, std::string::npos) << text;
  EXPECT_LT(mark1, at);
  EXPECT_LT(at, ok);
  EXPECT_LT(ok, mark2);
  EXPECT_EQ(text.find("41 54 49"), std::string::npos) << "paused trace took more bytes";
  EXPECT_EQ(text.find("After_pause"), std::string::npos);
  EXPECT_EQ(text.find("old"), std::string::npos);
  TFaxSessionPort again;
  EXPECT_EQ(again.Open(modem.DevicePath()), 0);
  std::remove(trace.c_str());
}

}  // namespace
}  // namespace qn
