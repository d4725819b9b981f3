// Kamailio as the SIP server between fax ends in tests and benchmarks: each
// rig writes its own configuration (a registrar that asks for digest
// authentication with plain-text passwords of the rig's accounts, locations
// kept in memory, a proxy between registered users, rtpengine as the media
// relay), starts Kamailio on a loopback port of its own in the foreground,
// with rtpengine beside it, and stops both by their process ids.
//
// Media: every offer and answer goes through rtpengine, which rewrites the
// addresses so that all media passes through it. A request to an account
// marked audio-only has a T.38 offer turned into G.711 for it
// ("T.38=decode"), which makes rtpengine the T.38 to G.711 gateway of the
// call; a T.38 offer refused with 488, 415 or 606 ends rtpengine's T.38
// handling of that call ("T.38=stop").
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "rtpengine_rig.h"

namespace fe::sip::test {

// Where Kamailio is; empty when it is not installed.
std::string KamailioBinary();

struct TKamailioAccount {
  std::string user, password;
  bool audioOnly = false;  // T.38 offers to this user become G.711
};

class TKamailio {
 public:
  TKamailio() = default;
  ~TKamailio() { Stop(); }
  TKamailio(const TKamailio&) = delete;
  TKamailio& operator=(const TKamailio&) = delete;

  // Starts rtpengine, then Kamailio with a configuration for these accounts
  // written into dir (kamailio.cfg; logs kamailio.log and rtpengine.log).
  // Waits until Kamailio answers an OPTIONS request. False with Error() set.
  bool Start(const std::string& dir, const std::vector<TKamailioAccount>& accounts);
  // SIGTERM to Kamailio's process id (SIGKILL after 5 s), then rtpengine.
  void Stop();

  static constexpr const char* kDomain = "quillon.test";
  static constexpr const char* kRealm = "quillon.test";
  int Port() const { return port_; }
  // "127.0.0.1:PORT": the registrar and outbound proxy of the accounts.
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  fe::voip::test::TRtpEngine& RtpEngine() { return rtpengine_; }
  const std::string& Error() const { return error_; }
  std::string LogTail(size_t lines = 40) const;

  // The configuration text for these accounts (what Start writes).
  static std::string Config(int port, int ngPort, const std::vector<TKamailioAccount>& accounts);

 private:
  bool Launch(const std::string& cfg, bool& exited);
  bool AnswersOptions(int waitMs);

  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_, log_, error_;
  fe::voip::test::TRtpEngine rtpengine_;
};

}  // namespace fe::sip::test
