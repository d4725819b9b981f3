// rtpengine started and stopped for tests, and its ng control client.
#include "rtpengine_rig.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace fe::voip::test {

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A port the system hands out as free (bound to port 0, then let go).
int AnyFreePort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

namespace {

using namespace std::chrono_literals;


// True when nobody holds this UDP port on 127.0.0.1 right now.
bool PortFree(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  const sockaddr_in a = Loopback(port);
  const bool ok = bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}


std::atomic<unsigned> gRigCount{0};

}  // namespace

std::string RtpEngineBinary() {
  for (const char* path : {"/usr/bin/rtpengine", "/usr/sbin/rtpengine", "/usr/local/bin/rtpengine"})
    if (access(path, X_OK) == 0) return path;
  return {};
}

// ------------------------------------------------------------ ng client --

TNgClient::~TNgClient() {
  if (fd_ >= 0) close(fd_);
}

bool TNgClient::Open(int port) {
  if (fd_ >= 0) close(fd_);
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return error_ = "no socket for the ng client", false;
  const sockaddr_in any = Loopback(0);
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
    return error_ = "cannot bind the ng client", false;
  timeval tv{0, 100000};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  port_ = port;
  return true;
}

bool TNgClient::Call(const TBValue& command, TBValue& reply, int waitMs, int attempts) {
  if (fd_ < 0) return error_ = "ng client not open", false;
  const std::string cookie = std::to_string(getpid()) + "_" + std::to_string(++counter_);
  const std::string datagram = cookie + " " + command.Encode();
  const sockaddr_in to = Loopback(port_);
  std::vector<uint8_t> buf(65536);
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
      return error_ = "cannot send to the ng port", false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (std::chrono::steady_clock::now() < until) {
      const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
      if (n <= 0) continue;
      const std::string text(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
      // Replies to earlier, resent commands carry other cookies.
      if (text.compare(0, cookie.size() + 1, cookie + " ") != 0) continue;
      std::string why;
      if (!BDecode(buf.data() + cookie.size() + 1, static_cast<size_t>(n) - cookie.size() - 1, reply, &why))
        return error_ = "unreadable ng reply: " + why, false;
      if (!reply.IsDict()) return error_ = "ng reply is not a dictionary", false;
      error_ = reply.Text("result") == "error" ? "rtpengine: " + reply.Text("error-reason") : std::string();
      return true;
    }
  }
  return error_ = "no ng reply from port " + std::to_string(port_), false;
}

bool TNgClient::Ping(int waitMs, int attempts) {
  TBValue command = TBValue::Dict(), reply;
  command.Set("command", "ping");
  if (!Call(command, reply, waitMs, attempts)) return false;
  if (reply.Text("result") != "pong") return error_ = "ping answered with " + reply.Encode(), false;
  return true;
}

std::string TNgClient::Sdp(TBValue command, const TBValue& flags) {
  for (const auto& [key, value] : flags.Entries()) command.Set(key, value);
  TBValue reply;
  if (!Call(command, reply)) return {};
  if (reply.Text("result") != "ok") {
    if (error_.empty()) error_ = "ng reply without result ok: " + reply.Encode();
    return {};
  }
  const std::string sdp = reply.Text("sdp");
  if (sdp.empty()) error_ = "ng reply without sdp";
  return sdp;
}

std::string TNgClient::Offer(const std::string& callId, const std::string& fromTag, const std::string& sdp,
                             const TBValue& flags) {
  TBValue command = TBValue::Dict();
  command.Set("command", "offer");
  command.Set("call-id", callId);
  command.Set("from-tag", fromTag);
  command.Set("sdp", sdp);
  return Sdp(std::move(command), flags);
}

std::string TNgClient::Answer(const std::string& callId, const std::string& fromTag, const std::string& toTag,
                              const std::string& sdp, const TBValue& flags) {
  TBValue command = TBValue::Dict();
  command.Set("command", "answer");
  command.Set("call-id", callId);
  command.Set("from-tag", fromTag);
  command.Set("to-tag", toTag);
  command.Set("sdp", sdp);
  return Sdp(std::move(command), flags);
}

bool TNgClient::Delete(const std::string& callId) {
  TBValue command = TBValue::Dict(), reply;
  command.Set("command", "delete");
  command.Set("call-id", callId);
  if (!Call(command, reply)) return false;
  if (reply.Text("result") != "ok") return false;
  if (!reply.Text("warning").empty()) return error_ = "rtpengine: " + reply.Text("warning"), false;
  return true;
}

// --------------------------------------------------------------- daemon --

bool TRtpEngine::Start(const std::string& logFile, int ports) {
  // A port found free can be taken before the daemon binds it; it then exits
  // at once, and another try picks other ports.
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool exited = false;
    if (Launch(logFile, ports, exited)) return true;
    if (!exited) return false;
  }
  return false;
}

bool TRtpEngine::Launch(const std::string& logFile, int ports, bool& exited) {
  Stop();
  const std::string binary = RtpEngineBinary();
  if (binary.empty()) return error_ = "rtpengine is not installed", false;
  log_ = logFile;
  portMin_ = portMax_ = 0;
  // A block of media ports below the system's ephemeral range (where the
  // tests' own sockets land), picked by process id and count so that rigs
  // running side by side take different blocks; a block in use is skipped.
  const int blocks = (32000 - 12000) / ports;
  const unsigned first = static_cast<unsigned>(getpid()) * 7u + gRigCount++ * 13u;
  for (int attempt = 0; attempt < 20 && portMin_ == 0; ++attempt) {
    const int base = 12000 + static_cast<int>((first + static_cast<unsigned>(attempt) * 31u) % blocks) * ports;
    if (PortFree(base) && PortFree(base + 1) && PortFree(base + ports / 2) && PortFree(base + ports - 1)) {
      portMin_ = base;
      portMax_ = base + ports - 1;
    }
  }
  if (portMin_ == 0) return error_ = "no free block of media ports", false;
  ngPort_ = AnyFreePort();
  if (ngPort_ == 0) return error_ = "no free ng port", false;

  const char* level = std::getenv("QN_RTPENGINE_LOG_LEVEL");
  std::vector<std::string> args = {binary,
                                   "--config-file=none",
                                   "-t",
                                   "-1",
                                   "-i",
                                   "127.0.0.1",
                                   "-n",
                                   "127.0.0.1:" + std::to_string(ngPort_),
                                   "-m",
                                   std::to_string(portMin_),
                                   "-M",
                                   std::to_string(portMax_),
                                   "-f",
                                   "-E",
                                   "--no-log-timestamps",
                                   "-L",
                                   level && *level ? level : "4",
                                   "--num-threads=2",
                                   "--delete-delay=0"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int logFd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (logFd < 0) return error_ = "cannot write " + logFile, false;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(logFd);
    return error_ = "cannot start rtpengine", false;
  }
  if (pid == 0) {
    // The daemon goes with its parent, even one killed at a test's time-out.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    dup2(logFd, 1);
    dup2(logFd, 2);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(logFd);
  pid_ = pid;
  if (!ng_.Open(ngPort_)) return error_ = ng_.Error(), Stop(), false;
  // Ready when it answers a ping; give up when it exits or after 10 s.
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exited = true;
      return error_ = "rtpengine exited at start-up:\n" + LogTail(), false;
    }
    if (ng_.Ping(100, 1)) return true;
  }
  Stop();
  return error_ = "rtpengine does not answer on its ng port:\n" + LogTail(), false;
}

void TRtpEngine::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto until = std::chrono::steady_clock::now() + 3s;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  pid_ = -1;
}

std::string TRtpEngine::LogTail(size_t lines) const {
  std::ifstream in(log_);
  std::deque<std::string> tail;
  for (std::string line; std::getline(in, line);) {
    tail.push_back(line);
    if (tail.size() > lines) tail.pop_front();
  }
  std::string text;
  for (const std::string& line : tail) text += line + "\n";
  return text;
}

// --------------------------------------------------------- gateway call --

bool TGatewayCall::Connect(TNgClient& ng, std::string& error) {
  const std::string audio = AudioSdp("127.0.0.1", audioPort, codec);
  std::string image = ImageSdp("127.0.0.1", t38Port);
  TBValue flags = TBValue::Dict();
  flags.Set("T.38", TBValue::List({offerFromAudio ? "force" : "decode"}));
  std::string offered, answered;
  if (offerFromAudio) {
    offered = ng.Offer(callId, "audio-side", audio, flags);
    if (offered.empty()) return error = ng.Error(), false;
    if (t38Via) {
      TSdp sdp;
      TUdpAddress far;
      const TSdpMedia* m = ParseSdp(offered, sdp, &error) ? sdp.Find("image") : nullptr;
      if (!m || !ParseUdpAddress(m->address + ":" + std::to_string(m->port), far, &error))
        return error = "no T.38 stream offered:\n" + offered, false;
      const int via = t38Via(far);
      if (via <= 0) return error = "nothing to put between the T.38 side and rtpengine", false;
      image = ImageSdp("127.0.0.1", via);
    }
    answered = ng.Answer(callId, "audio-side", "t38-side", image);
  } else {
    offered = ng.Offer(callId, "t38-side", image, flags);
    if (!offered.empty()) answered = ng.Answer(callId, "t38-side", "audio-side", audio);
  }
  if (offered.empty() || answered.empty()) return error = ng.Error(), false;
  // The offer went to the answering side, the answer back to the offerer.
  const std::string& forT38 = offerFromAudio ? offered : answered;
  const std::string& forAudio = offerFromAudio ? answered : offered;
  if (!ParseSdp(forT38, t38Sdp, &error) || !ParseSdp(forAudio, audioSdp, &error)) return false;
  const TSdpMedia* t38 = t38Sdp.Find("image");
  const TSdpMedia* rtp = audioSdp.Find("audio");
  if (!t38 || t38->proto != "udptl" || t38->formats.empty() || t38->formats[0] != "t38")
    return error = "no T.38 stream for the T.38 side:\n" + forT38, false;
  // An answer names the codec; an offer to the audio side may list more,
  // and the audio side's answer picks ours.
  const std::string payload = codec == "pcma" ? "8" : "0";
  if (!rtp || rtp->formats.empty() ||
      (offerFromAudio ? rtp->formats[0] != payload
                      : std::find(rtp->formats.begin(), rtp->formats.end(), payload) == rtp->formats.end()))
    return error = "no " + codec + " stream for the audio side:\n" + forAudio, false;
  if (!ParseUdpAddress(t38->address + ":" + std::to_string(t38->port), t38SendsTo, &error) ||
      !ParseUdpAddress(rtp->address + ":" + std::to_string(rtp->port), audioSendsTo, &error))
    return false;
  return true;
}

}  // namespace fe::voip::test
