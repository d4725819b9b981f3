// Our UDPTL packets read by an independent decoder: Wireshark's T.38 dissector.
// dumpcap captures loopback while a UDPTL session sends a few dozen T.38 IFPs
// (with secondaries, some trimmed to the far datagram size, and FEC) over a real
// UDP socket; tshark then decodes the capture as T.38, and sequence numbers,
// message types, indicators, data types, field types, the error-recovery choice
// and the secondary and FEC counts must match what was sent.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ifp.h"
#include "udptl.h"

extern char** environ;

namespace fe::voip::udptl {
namespace {

namespace fs = std::filesystem;

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  return false;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What we sent in one datagram, in the terms tshark prints.
struct Expect {
  int seq = 0;
  std::string types;       // type-of-msg of the primary and then each secondary
  std::string indicators;  // t30-indicator values in order
  std::string data;        // t30-data values in order
  std::string fields;      // field-type values in order
  int recovery = 0;        // 0 secondaries, 1 FEC
  std::string secondaries;
  std::string fecSpan;
  std::string fecEntries;
  size_t size = 0;
};

void Append(std::string& list, int value) {
  if (!list.empty()) list += ',';
  list += std::to_string(value);
}

void Describe(const ifp::TIfp& p, Expect& e) {
  Append(e.types, p.indicator ? 0 : 1);
  Append(p.indicator ? e.indicators : e.data, p.value);
  for (const ifp::TField& f : p.fields) Append(e.fields, f.type);
}

// The IFPs of a short fax exchange, as a gateway sends them.
std::vector<ifp::TIfp> Exchange() {
  auto ind = [](int v) { return ifp::TIfp{true, v, false, {}}; };
  auto data = [](int type, std::vector<ifp::TField> fields) { return ifp::TIfp{false, type, true, std::move(fields)}; };
  auto bytes = [](size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); };
  std::vector<ifp::TIfp> out = {ind(ifp::kIndNoSignal), ind(ifp::kIndCng), ind(ifp::kIndCed),
                                ind(ifp::kIndV21Preamble)};
  out.push_back(data(ifp::kDataV21, {{ifp::kFieldHdlcData, bytes(20, 0xFF)}}));
  out.push_back(data(ifp::kDataV21, {{ifp::kFieldHdlcData, bytes(6, 0x13)}, {ifp::kFieldHdlcFcsOk, {}}}));
  out.push_back(data(ifp::kDataV21, {{ifp::kFieldHdlcData, bytes(4, 0x80)}, {ifp::kFieldHdlcFcsOkSigEnd, {}}}));
  out.push_back(ind(15));  // V.17 14400 long training
  for (int i = 0; i < 12; ++i) out.push_back(data(ifp::kDataV17_14400, {{ifp::kFieldT4NonEcmData, bytes(72, 0)}}));
  out.push_back(data(ifp::kDataV17_14400, {{ifp::kFieldT4NonEcmSigEnd, bytes(10, 0)}}));
  out.push_back(ind(ifp::kIndNoSignal));
  // (No two fields without data in a row: Wireshark, as strict PER, reads the
  // second from the rest of the first one's octet; spandsp 0.0.6, whose form the
  // gateway sends and reads, gives every field an octet of its own.)
  out.push_back(data(ifp::kDataV21, {{ifp::kFieldHdlcData, bytes(3, 0x7E)}, {ifp::kFieldHdlcFcsBad, {}}}));
  out.push_back(ind(ifp::kIndNoSignal));
  for (int i = 0; i < 6; ++i) out.push_back(data(ifp::kDataV29_9600, {{ifp::kFieldT4NonEcmData, bytes(48, 0x5A)}}));
  return out;
}

TEST(UdptlTshark, WiresharkReadsOurPacketsAsSent) {
  if (!OnPath("tshark") || !OnPath("dumpcap")) GTEST_SKIP() << "tshark or dumpcap is not installed";

  // The receiving socket only reserves a free port; nothing reads it.
  const int rx = socket(AF_INET, SOCK_DGRAM, 0);
  const int tx = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(rx, 0);
  ASSERT_GE(tx, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(rx, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const int port = ntohs(addr.sin_port);

  const fs::path dir = fs::path(QN_BINARY_DIR) / "Testing" / ("udptl-tshark-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path capture = dir / "udptl.pcapng";
  const fs::path log = dir / "dumpcap.log";
  const std::string filter = "udp port " + std::to_string(port);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args = {"dumpcap", "-i", "lo", "-f", filter, "-w", capture.string(), "-a", "duration:60"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "dumpcap", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(spawned, 0);
  bool capturing = false;
  for (int i = 0; i < 100 && !capturing; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    capturing = ReadAll(log).find("Capturing on") != std::string::npos;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      break;
    }
  }
  if (!capturing) {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    close(rx);
    close(tx);
    GTEST_SKIP() << "cannot capture on loopback here: " << ReadAll(log);
  }

  std::vector<Expect> expected;
  auto sendThrough = [&](TSession& session, const std::vector<ifp::TIfp>& ifps, std::vector<int> redundancy) {
    std::vector<ifp::TIfp> history;
    session.SetSend([&](const uint8_t* d, size_t n) {
      sendto(tx, d, n, 0, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
      // What actually went: decode only the counts, the content is what we sent.
      TPacket packet;
      ASSERT_EQ(Decode(d, n, packet), TDecodeError::None);
      Expect e;
      e.seq = packet.seq;
      e.size = n;
      Describe(history.back(), e);
      if (packet.fec) {
        e.recovery = 1;
        e.fecSpan = std::to_string(packet.fecSpan);
        e.fecEntries = std::to_string(packet.fecData.size());
      } else {
        e.secondaries = std::to_string(packet.secondaries.size());
        for (size_t k = 0; k < packet.secondaries.size(); ++k) Describe(history[history.size() - 2 - k], e);
      }
      expected.push_back(e);
    });
    for (size_t i = 0; i < ifps.size(); ++i) {
      history.push_back(ifps[i]);
      const auto bytes = ifp::Encode(ifps[i], 0);
      ASSERT_FALSE(bytes.empty());
      session.Send(bytes.data(), bytes.size(), redundancy[i % redundancy.size()]);
    }
  };
  // Redundancy, with a far datagram size that trims the secondaries of page data.
  TSession::TSettings redundant;
  redundant.farMaxDatagram = 200;
  TSession a(redundant);
  sendThrough(a, Exchange(), {3, 0, 1, 2, 4});
  // FEC: a second session, numbered from 0 again.
  TSession::TSettings fec;
  fec.fecSpan = 3;
  fec.fecEntries = 2;
  TSession b(fec);
  sendThrough(b, Exchange(), {0});

  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(pid, SIGINT);
  waitpid(pid, nullptr, 0);
  close(rx);
  close(tx);

  const fs::path out = dir / "tshark.txt";
  const std::string command = "tshark -r '" + capture.string() + "' -d udp.port==" + std::to_string(port) +
                              ",t38 -T fields -E separator='|' -e t38.seq_number -e t38.type_of_msg"
                              " -e t38.t30_indicator -e t38.t30_data -e t38.field_type -e t38.error_recovery"
                              " -e t38.secondary_ifp_packets -e t38.fec_npackets -e t38.fec_data -e _ws.malformed"
                              " > '" + out.string() + "' 2> '" + (dir / "tshark.log").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadAll(dir / "tshark.log");

  std::vector<std::string> lines;
  std::stringstream text(ReadAll(out));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const Expect& e = expected[i];
    const std::string want = std::to_string(e.seq) + "|" + e.types + "|" + e.indicators + "|" + e.data + "|" +
                             e.fields + "|" + std::to_string(e.recovery) + "|" + e.secondaries + "|" + e.fecSpan +
                             "|" + e.fecEntries + "|";
    EXPECT_EQ(lines[i], want) << "datagram " << i;
  }
  // The far datagram size really did cut secondaries: a page data IFP takes 77
  // bytes, so once two of them precede it only one fits beside the primary.
  const int redundancy[] = {3, 0, 1, 2, 4};
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_LE(expected[i].size, 200u);
    if (i < 10 || redundancy[i % 5] < 2) continue;
    EXPECT_EQ(expected[i].secondaries, "1") << "datagram " << i;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace fe::voip::udptl
