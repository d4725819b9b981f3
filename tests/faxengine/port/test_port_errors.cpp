// Opening ports: mapping COM numbers, missing, busy and already open devices.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fe_device.h"
#include "fe_errors.h"
#include "port_test_util.h"
#include "scripted_modem.h"

namespace {

using qnsim::ScriptedModem;

TEST(PortOpen, ComNumbersMapThroughEnvironmentLookupAndDefaults) {
  // The program hands down its own map (its settings file); the environment
  // comes first, the default devices last.
  fe::SetComPortLookup([](unsigned n) { return n == 3 ? std::string("/dev/ttyFAKE3") : std::string(); });
  unsetenv("QN_COM3");
  unsetenv("QN_COM1");
  EXPECT_EQ(fe::MapComNumber(3), "/dev/ttyFAKE3");
  EXPECT_EQ(fe::MapComNumber(1), "/dev/ttyS0");
  EXPECT_EQ(fe::MapComNumber(5), "/dev/ttyUSB0");
  EXPECT_EQ(fe::MapComNumber(6), "/dev/ttyACM0");
  EXPECT_EQ(fe::MapComNumber(0), "");
  EXPECT_EQ(fe::MapComNumber(7), "");
  setenv("QN_COM3", "/dev/pts/999", 1);
  EXPECT_EQ(fe::MapComNumber(3), "/dev/pts/999");
  unsetenv("QN_COM3");
  fe::SetComPortLookup({});
  EXPECT_EQ(fe::MapComNumber(3), "/dev/ttyS2");
}

TEST(PortOpen, MissingUnsetBusyAndDoubleOpens) {
  fe::TFeComPort port;
  port.SetAutoOpen(false);
  EXPECT_EQ(port.SetOpen(true), -fe::ecNoPortSelected);
  EXPECT_EQ(port.SendText("AT\r"), -fe::ecNotOpen);  // no automatic opening
  port.SetDevicePath("/dev/no-such-modem");
  EXPECT_EQ(port.SetOpen(true), -fe::ecBadId);
  port.SetDevicePath("/dev/null");  // not a serial device
  EXPECT_EQ(port.SetOpen(true), -fe::ecBadId);
  EXPECT_EQ(port.SetDeviceLayer(fe::dlWinsock), -fe::ecBadArgument);

  // PromptForPort: the hook chooses another number, or gives up with 0.
  ScriptedModem modem;
  setenv("QN_COM4", modem.DevicePath().c_str(), 1);
  fe::TFeComPort asked;
  int prompts = 0;
  asked.OnPromptForPort = [&](fe::TFeComPort&) { return ++prompts == 1 ? 4u : 0u; };
  EXPECT_EQ(asked.SetOpen(true), 0);
  EXPECT_EQ(asked.ComNumber(), 4u);
  EXPECT_EQ(prompts, 1);

  // Another port object of this program has it: already open.
  fe::TFeComPort second;
  second.SetComNumber(4);
  EXPECT_EQ(second.SetOpen(true), -fe::ecAlreadyOpen);
  asked.SetOpen(false);
  unsetenv("QN_COM4");

  // Another program holds it (its own lock): in use.
  const int fd = ::open(modem.DevicePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  fe::TFeComPort third;
  third.SetDevicePath(modem.DevicePath());
  EXPECT_EQ(third.SetOpen(true), -fe::ecHardware);
  ::close(fd);
  EXPECT_EQ(third.SetOpen(true), 0);
  // AutoOpen (the default) opens on first use.
  fe::TFeComPort automatic;
  ScriptedModem other;
  automatic.SetDevicePath(other.DevicePath());
  EXPECT_EQ(automatic.SendText("AT\r"), 0);
  EXPECT_TRUE(automatic.Open());
}

}  // namespace
