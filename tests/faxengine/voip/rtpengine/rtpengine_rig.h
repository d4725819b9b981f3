// rtpengine as a test peer: the daemon started on the loopback interface in
// the foreground without its kernel module, on an ng control port and a media
// port range of its own (so several rigs, in one process or many, never
// meet), stopped by its process id; and a client for its ng control protocol
// (bencode dictionaries over UDP, each datagram led by a cookie that the reply
// repeats).
#pragma once

#include <netinet/in.h>

#include <sys/types.h>

#include <functional>
#include <string>

#include "bencode.h"
#include "sdp_lite.h"
#include "udp_socket.h"

namespace fe::voip::test {

// 127.0.0.1 at the port, for the rigs' own sockets.
sockaddr_in Loopback(int port);
// A port the system hands out as free (bound to port 0, then let go).
int AnyFreePort();

// Where the daemon is; empty when it is not installed.
std::string RtpEngineBinary();

class TNgClient {
 public:
  TNgClient() = default;
  ~TNgClient();
  TNgClient(const TNgClient&) = delete;
  TNgClient& operator=(const TNgClient&) = delete;

  // Aims at the daemon's ng port on 127.0.0.1; false with Error() set.
  bool Open(int port);
  // Sends a command and waits for its reply (resent after each waitMs
  // without one, `attempts` times at most). False when none came or it did not
  // read; a reply with result "error" is true with its error-reason in
  // Error() and Ok() false.
  bool Call(const TBValue& command, TBValue& reply, int waitMs = 1000, int attempts = 3);
  const std::string& Error() const { return error_; }

  // The commands used here: ping, and offer/answer/delete of a call. flags
  // go into the dictionary as they are (lists, say {"T.38": ["force"]}).
  bool Ping(int waitMs = 1000, int attempts = 3);
  // Returns the SDP rtpengine made, or empty with Error() set.
  std::string Offer(const std::string& callId, const std::string& fromTag, const std::string& sdp,
                    const TBValue& flags = TBValue::Dict());
  std::string Answer(const std::string& callId, const std::string& fromTag, const std::string& toTag,
                     const std::string& sdp, const TBValue& flags = TBValue::Dict());
  // False also when rtpengine warns that it knew no such call.
  bool Delete(const std::string& callId);

 private:
  std::string Sdp(TBValue command, const TBValue& flags);

  int fd_ = -1;
  int port_ = 0;
  unsigned counter_ = 0;
  std::string error_;
};

class TRtpEngine {
 public:
  TRtpEngine() = default;
  ~TRtpEngine() { Stop(); }
  TRtpEngine(const TRtpEngine&) = delete;
  TRtpEngine& operator=(const TRtpEngine&) = delete;

  // Starts the daemon with its log in logFile and waits until it answers a
  // ping. media ports: a block of `ports` chosen from the process id and a
  // per-process count. False with Error() (and the log's end) when it did not
  // come up (three tries when it exits at once, as when a port it was given
  // has just been taken). QN_RTPENGINE_LOG_LEVEL (0-7) raises the log.
  bool Start(const std::string& logFile, int ports = 100);
  // SIGTERM to its process id, SIGKILL after 3 s.
  void Stop();
  bool Running() const { return pid_ > 0; }

  TNgClient& Ng() { return ng_; }
  int NgPort() const { return ngPort_; }
  int PortMin() const { return portMin_; }
  int PortMax() const { return portMax_; }
  const std::string& Error() const { return error_; }
  // The last lines of the daemon's log.
  std::string LogTail(size_t lines = 30) const;

 private:
  bool Launch(const std::string& logFile, int ports, bool& exited);

  pid_t pid_ = -1;
  int ngPort_ = 0, portMin_ = 0, portMax_ = 0;
  std::string log_, error_;
  TNgClient ng_;
};

// One call through rtpengine's T.38 gateway: a T.38 side (UDPTL) and an audio
// side (G.711), both on 127.0.0.1. The offer comes from the audio side with
// T.38 ["force"] or from the T.38 side with T.38 ["decode"]; the other side
// answers. Each side then sends to the port rtpengine gave it in its SDP.
struct TGatewayCall {
  std::string callId;
  std::string codec = "pcmu";
  bool offerFromAudio = true;
  int t38Port = 0, audioPort = 0;
  // With the offer from the audio side: called with where rtpengine takes
  // T.38 once the offer is made, returns the port the T.38 side's answer
  // names instead of t38Port (a lossy relay put in between, say); 0 fails.
  std::function<int(const TUdpAddress&)> t38Via;
  // Filled in by Connect: what each side got back, and where it sends.
  TSdp t38Sdp, audioSdp;
  TUdpAddress t38SendsTo, audioSendsTo;

  // False with the reason in error (rtpengine's own, or what is wrong with
  // the SDP it made).
  bool Connect(TNgClient& ng, std::string& error);
};

}  // namespace fe::voip::test
