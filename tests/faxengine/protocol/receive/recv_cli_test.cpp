// qnfax receive on a scripted modem: what it prints for a received fax, and a
// clean stop on Ctrl+C.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "recv_fixture.h"

namespace recvtest {
namespace {

struct Child {
  pid_t pid = -1;
  std::string out;
  std::string Output() const {
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Exit status, or -1 when it did not end in time (it is then killed).
  int Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
      if (std::chrono::steady_clock::now() > end) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

Child Spawn(std::vector<std::string> args, const std::string& out) {
  Child c;
  c.out = out;
  std::vector<char*> argv;
  const std::string prog = std::string(QN_BINARY_DIR) + "/bin/qnfax";
  argv.push_back(const_cast<char*>(prog.c_str()));
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  c.pid = fork();
  if (c.pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return c;
}

using RecvCli = RecvFixture;

TEST_F(RecvCli, PrintsReceivedFileAndStopsAfterOne) {
  const std::string page = CodedPage(20, 51);
  modem.Answer("ATE0Q0V1X4S0=0S2=43")
      .Answer("AT+FCLASS=2")
      .Answer("AT+FCR=1")
      .Answer("AT+FLID=\"QN\"")
      .Answer("AT+FAA=0")
      .Answer("AT+FCLASS=2")
      .Answer("AT+FDCC=1,3,0,2,0,0,0,0")
      .Ring(2, 100ms)
      .Expect("ATA")
      .Reply("+FCON")
      .Reply("+FTSI:\"REMOTE\"")
      .Reply("+FDCS:1,3,0,2,0,0,0,0")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply("CONNECT")
      .ExpectByte('\x12')
      .Send(Stuffed(page))
      .Reply("+FPTS:1")
      .Reply("+FET:2")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply("+FHNG:0")
      .Reply("OK");
  modem.Start();
  Child c = Spawn({"receive", "--port", modem.DevicePath(), "--dir", dir.string(), "--class", "2", "--rings", "2",
                   "--station-id", "qn", "--one", "--log", (dir / "FAXHIST.HIS").string()},
                  (dir / "out.txt").string());
  EXPECT_EQ(c.Wait(30s), 0) << c.Output();
  EXPECT_TRUE(modem.WaitDone(2s)) << modem.Report();
  const std::string out = c.Output();
  EXPECT_NE(out.find("Waiting for incoming call"), std::string::npos) << out;
  EXPECT_NE(out.find("Received " + (dir / "FAX0001.APF").string() + ": 1 page from REMOTE"), std::string::npos) << out;
  EXPECT_EQ(DecodePage((dir / "FAX0001.APF").string(), 1).size(), 20u);
  std::ifstream in(dir / "FAXHIST.HIS", std::ios::binary);
  const std::string history((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(history.rfind("Receive " + (dir / "FAX0001.APF").string() + " from REMOTE started at ", 0), 0u) << history;
  EXPECT_NE(history.find("\r\nReceive finished OK at "), std::string::npos) << history;
}

TEST_F(RecvCli, CtrlCStopsCleanly) {
  Class1Prep();
  modem.Pause(20s);
  modem.Start();
  Child c = Spawn({"receive", "--port", modem.DevicePath(), "--dir", dir.string(), "--class", "1"},
                  (dir / "out.txt").string());
  const auto end = std::chrono::steady_clock::now() + 15s;
  while (c.Output().find("Waiting for incoming call") == std::string::npos && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(50ms);
  kill(c.pid, SIGINT);
  EXPECT_EQ(c.Wait(5s), 0) << c.Output();
  EXPECT_NE(c.Output().find("Stopped"), std::string::npos) << c.Output();
}

TEST_F(RecvCli, BadArguments) {
  Child c = Spawn({"receive", "--port", "/dev/null"}, (dir / "out.txt").string());
  EXPECT_EQ(c.Wait(5s), 2);
  Child d = Spawn({"receive", "--port", "/nonexistent/tty", "--dir", dir.string()}, (dir / "out2.txt").string());
  EXPECT_EQ(d.Wait(5s), 1) << d.Output();
  EXPECT_NE(d.Output().find("cannot open"), std::string::npos) << d.Output();
}

}  // namespace
}  // namespace recvtest
