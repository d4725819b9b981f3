// UUCP lock files around opening a port: a running holder refuses the port, a
// stale lock is taken over, ours is there while the port is open and gone after.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fe_comport.h"
#include "fe_errors.h"
#include "fe_lockfile.h"
#include "scripted_modem.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Hdb(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// A lock folder of the test's own, named through QN_LOCK_DIR.
class LockFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("qn-locks-" + std::to_string(::getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    ::setenv("QN_LOCK_DIR", folder.c_str(), 1);
    device = modem.DevicePath();
    lock = (folder / ("LCK.." + fs::path(device).filename().string())).string();
  }
  void TearDown() override {
    if (child > 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
    ::unsetenv("QN_LOCK_DIR");
    fs::remove_all(folder);
  }
  // A process that runs until the test ends.
  pid_t StartSleeper() {
    char arg0[] = "sleep", arg1[] = "120";
    char* argv[] = {arg0, arg1, nullptr};
    if (::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ) != 0) child = 0;
    return child;
  }
  // The id of a process that has ended and been reaped.
  static pid_t DeadPid() {
    pid_t pid = 0;
    char arg0[] = "true";
    char* argv[] = {arg0, nullptr};
    if (::posix_spawnp(&pid, "true", nullptr, nullptr, argv, environ) != 0) return 0;
    ::waitpid(pid, nullptr, 0);
    return pid;
  }

  qnsim::ScriptedModem modem;
  fs::path folder;
  std::string device, lock;
  pid_t child = 0;
};

TEST_F(LockFolderTest, NamesAndTheFormsOfTheProcessId) {
  EXPECT_EQ(fe::LockFolder(), folder.string());
  EXPECT_EQ(fe::LockFilePath(device), lock);
  EXPECT_EQ(fe::LockFilePath(""), "");
  // A link to the device is locked under the device's own name.
  const fs::path link = folder / "modem";
  fs::create_symlink(device, link);
  EXPECT_EQ(fe::LockFilePath(link.string()), lock);
  ::unsetenv("QN_LOCK_DIR");
  EXPECT_TRUE(fe::LockFolder() == "/run/lock" || fe::LockFolder() == "/var/lock") << fe::LockFolder();
  ::setenv("QN_LOCK_DIR", folder.c_str(), 1);

  const std::string f = (folder / "LCK..x").string();
  WriteAll(f, Hdb(4321));
  EXPECT_EQ(fe::ReadLockFile(f), 4321);
  WriteAll(f, "4321");
  EXPECT_EQ(fe::ReadLockFile(f), 4321);
  const int binary = 98765;
  WriteAll(f, std::string(reinterpret_cast<const char*>(&binary), sizeof binary));
  EXPECT_EQ(fe::ReadLockFile(f), 98765);
  for (const std::string& bad : {std::string(), std::string("tty"), std::string("12 34\n"), std::string("-5\n"),
                                 std::string("99999999999\n"), std::string(200, '1')}) {
    WriteAll(f, bad);
    EXPECT_EQ(fe::ReadLockFile(f), 0) << bad;
  }
  EXPECT_EQ(fe::ReadLockFile((folder / "LCK..none").string()), 0);
}

// A running process holds the device by its lock file: the port is refused as
// in use (nothing of the lock is touched), and is ours once the process ended.
TEST_F(LockFolderTest, ARunningHolderRefusesThePort) {
  const pid_t sleeper = StartSleeper();
  ASSERT_GT(sleeper, 0);
  WriteAll(lock, Hdb(sleeper));
  EXPECT_EQ(fe::LockFileOwner(device), sleeper);

  fe::TFeComPort port;
  port.SetAutoOpen(false);
  port.SetDevicePath(device);
  EXPECT_EQ(port.SetOpen(true), -fe::ecHardware);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(ReadAll(lock), Hdb(sleeper));
  // The binary form of older programs holds it just as well.
  const int binary = sleeper;
  WriteAll(lock, std::string(reinterpret_cast<const char*>(&binary), sizeof binary));
  EXPECT_EQ(port.SetOpen(true), -fe::ecHardware);

  // A program given a link to the device locks it under the link's name.
  fs::remove(lock);
  const fs::path link = folder / "faxmodem";
  fs::create_symlink(device, link);
  const std::string linkLock = (folder / "LCK..faxmodem").string();
  WriteAll(linkLock, Hdb(sleeper));
  EXPECT_EQ(fe::LockFileOwner(link.string()), sleeper);
  fe::TFeComPort viaLink;
  viaLink.SetAutoOpen(false);
  viaLink.SetDevicePath(link.string());
  EXPECT_EQ(viaLink.SetOpen(true), -fe::ecHardware);
  fs::remove(linkLock);
  fs::remove(link);

  ::kill(sleeper, SIGKILL);
  ::waitpid(sleeper, nullptr, 0);
  child = 0;
  EXPECT_EQ(fe::LockFileOwner(device), 0);
  EXPECT_EQ(port.SetOpen(true), 0);
  EXPECT_EQ(ReadAll(lock), Hdb(::getpid()));
}

// Stale locks (a process that ended, content that names none) are taken over;
// ours is in HDB form while the port is open and is gone after it closed,
// also when the port is reopened on another number.
TEST_F(LockFolderTest, StaleLocksAreTakenOverAndOursGoesAtClose) {
  const pid_t dead = DeadPid();
  ASSERT_GT(dead, 0);
  for (const std::string& stale : {Hdb(dead), std::string("garbage"), std::string()}) {
    WriteAll(lock, stale);
    fe::TFeComPort port;
    port.SetAutoOpen(false);
    port.SetDevicePath(device);
    ASSERT_EQ(port.SetOpen(true), 0) << stale;
    EXPECT_EQ(ReadAll(lock), Hdb(::getpid()));
    EXPECT_EQ(fe::LockFileOwner(device), 0);  // our own lock is no other holder
    struct stat st {};
    ASSERT_EQ(::stat(lock.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    port.SetOpen(false);
    EXPECT_FALSE(fs::exists(lock)) << stale;
  }
  // No temporary files are left beside the locks.
  EXPECT_TRUE(fs::is_empty(folder));

  // Closed by the component's destructor, and a lock another program put in
  // place of ours meanwhile is not ours to remove.
  {
    fe::TFeComPort port;
    port.SetAutoOpen(false);
    port.SetDevicePath(device);
    ASSERT_EQ(port.SetOpen(true), 0);
    EXPECT_TRUE(fs::exists(lock));
  }
  EXPECT_FALSE(fs::exists(lock));
  {
    fe::TFeComPort port;
    port.SetAutoOpen(false);
    port.SetDevicePath(device);
    ASSERT_EQ(port.SetOpen(true), 0);
    WriteAll(lock, Hdb(4242));
  }
  EXPECT_EQ(ReadAll(lock), Hdb(4242));
}

// A lock folder we cannot write in does not stop the port: it opens without a
// lock file.
TEST_F(LockFolderTest, NoWritableLockFolderStillOpens) {
  const fs::path missing = folder / "no-such-folder";
  ::setenv("QN_LOCK_DIR", missing.c_str(), 1);
  fe::TFeComPort port;
  port.SetAutoOpen(false);
  port.SetDevicePath(device);
  EXPECT_EQ(port.SetOpen(true), 0);
  EXPECT_FALSE(fs::exists(missing));
  port.SetOpen(false);
  if (::geteuid() != 0) {
    // A folder without write permission (root writes anyway): a live foreign
    // lock there still refuses, without one the port opens.
    const pid_t sleeper = StartSleeper();
    ASSERT_GT(sleeper, 0);
    ::setenv("QN_LOCK_DIR", folder.c_str(), 1);
    WriteAll(lock, Hdb(sleeper));
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(port.SetOpen(true), -fe::ecHardware);
    fs::permissions(folder, fs::perms::owner_all);
    fs::remove(lock);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(port.SetOpen(true), 0);
    port.SetOpen(false);
    fs::permissions(folder, fs::perms::owner_all);
    // A lock we may not read cannot be judged: the device counts as held.
    WriteAll(lock, Hdb(sleeper));
    fs::permissions(lock, fs::perms::none);
    EXPECT_EQ(port.SetOpen(true), -fe::ecHardware);
    fs::remove(lock);
  }
}

}  // namespace
