// Kamailio and rtpengine started and stopped for tests, with a configuration
// written for each rig.
#include "kamailio_rig.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fe::sip::test {

using fe::voip::test::AnyFreePort;
using fe::voip::test::Loopback;

namespace {

using namespace std::chrono_literals;


// Names and passwords go into the configuration's string literals as they
// are: only characters that need no quoting there.
bool PlainWord(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (const char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-')) return false;
  return true;
}

std::string ModuleDir() {
  for (const char* dir :
       {"/usr/lib/x86_64-linux-gnu/kamailio/modules", "/usr/lib/aarch64-linux-gnu/kamailio/modules",
        "/usr/lib/kamailio/modules", "/usr/local/lib64/kamailio/modules", "/usr/local/lib/kamailio/modules"})
    if (std::filesystem::exists(std::string(dir) + "/rtpengine.so")) return dir;
  return {};
}

}  // namespace

std::string KamailioBinary() {
  for (const char* path : {"/usr/sbin/kamailio", "/usr/bin/kamailio", "/usr/local/sbin/kamailio"})
    if (access(path, X_OK) == 0 && !ModuleDir().empty()) return path;
  return {};
}

std::string TKamailio::Config(int port, int ngPort, const std::vector<TKamailioAccount>& accounts) {
  std::ostringstream c;
  const std::string realm = kRealm;
  c << "#!KAMAILIO\n"
       "# Written by the test rig: registrar with digest authentication, in-memory\n"
       "# locations, proxy between registered users, rtpengine as media relay.\n"
       "debug=2\n"
       "log_stderror=yes\n"
       "children=2\n"
       "auto_aliases=no\n"
       "dns=no\n"
       "rev_dns=no\n"
       "listen=udp:127.0.0.1:"
    << port << "\n"
    << "alias=\"" << kDomain << "\"\n"
    << "mpath=\"" << ModuleDir() << "/\"\n";
  for (const char* m : {"kex", "corex", "tm", "tmx", "sl", "rr", "pv", "maxfwd", "usrloc", "registrar", "textops",
                        "siputils", "xlog", "sanity", "auth", "rtpengine"})
    c << "loadmodule \"" << m << ".so\"\n";
  c << "modparam(\"usrloc\", \"db_mode\", 0)\n"
       "modparam(\"registrar\", \"max_expires\", 3600)\n"
       "modparam(\"rr\", \"append_fromtag\", 1)\n"
       "modparam(\"rtpengine\", \"rtpengine_sock\", \"udp:127.0.0.1:"
    << ngPort << "\")\n"
    << "modparam(\"rtpengine\", \"rtpengine_tout_ms\", 2000)\n\n";

  c << "request_route {\n"
       "  if (!mf_process_maxfwd_header(\"10\")) { sl_send_reply(\"483\", \"Too Many Hops\"); exit; }\n"
       "  if (!sanity_check(\"17895\", \"7\")) { xlog(\"L_WARN\", \"malformed request from $si:$sp\\n\"); exit; }\n"
       "  if (is_method(\"OPTIONS\") && $rU == $null) { sl_send_reply(\"200\", \"Here\"); exit; }\n"
       "  if (is_method(\"CANCEL\")) {\n"
       "    if (t_check_trans()) { rtpengine_delete(); t_relay(); }\n"
       "    exit;\n"
       "  }\n"
       "  if (!is_method(\"ACK\")) { if (t_precheck_trans()) { t_check_trans(); exit; } t_check_trans(); }\n"
       "  if (has_totag()) { route(WITHIN_DIALOG); exit; }\n"
       "  remove_hf(\"Route\");\n"
       "  if (is_method(\"REGISTER\")) {\n"
       "    route(AUTHENTICATE);\n"
       "    if (!save(\"location\")) sl_reply_error();\n"
       "    exit;\n"
       "  }\n"
       "  if (!is_method(\"INVITE\")) { sl_send_reply(\"405\", \"Only calls here\"); exit; }\n"
       "  route(AUTHENTICATE);\n"
       "  if ($rU == $null) { sl_send_reply(\"484\", \"Address Incomplete\"); exit; }\n"
       "  if (!lookup(\"location\")) { sl_send_reply(\"404\", \"Not Registered\"); exit; }\n"
       "  record_route();\n"
       "  route(MEDIA_OFFER);\n"
       "  route(RELAY);\n"
       "}\n\n";

  c << "route[WITHIN_DIALOG] {\n"
       "  if (loose_route()) {\n"
       "    if (is_method(\"BYE\")) rtpengine_delete();\n"
       "    else if (is_method(\"INVITE\")) route(MEDIA_OFFER);\n"
       "    else if (is_method(\"ACK\") && has_body(\"application/sdp\")) rtpengine_answer(\"replace-origin "
       "replace-session-connection\");\n"
       "    route(RELAY);\n"
       "    exit;\n"
       "  }\n"
       "  if (is_method(\"ACK\")) { if (t_check_trans()) t_relay(); exit; }\n"
       "  sl_send_reply(\"404\", \"Not here\");\n"
       "}\n\n";

  // The password of the account in the credentials, by name.
  c << "route[PASSWORD] {\n"
       "  $var(password) = \"\";\n";
  for (const auto& a : accounts) c << "  if ($au == \"" << a.user << "\") $var(password) = \"" << a.password << "\";\n";
  c << "}\n\n";

  // Audio-only accounts get T.38 offers as G.711: rtpengine gateways.
  c << "route[AUDIO_ONLY] {\n"
       "  $var(audioOnly) = 0;\n";
  for (const auto& a : accounts)
    if (a.audioOnly) c << "  if ($tU == \"" << a.user << "\") $var(audioOnly) = 1;\n";
  c << "}\n\n";

  c << "route[AUTHENTICATE] {\n"
       "  if (is_method(\"REGISTER\")) {\n"
       "    if (!is_present_hf(\"Authorization\")) { www_challenge(\""
    << realm
    << "\", \"0\"); exit; }\n"
       "    route(PASSWORD);\n"
       "    if ($var(password) == \"\" || !pv_www_authenticate(\""
    << realm
    << "\", \"$var(password)\", \"0\")) {\n"
       "      xlog(\"L_NOTICE\", \"registration of $tU refused\\n\");\n"
       "      www_challenge(\""
    << realm
    << "\", \"0\"); exit;\n"
       "    }\n"
       "    if ($au != $tU) { sl_send_reply(\"403\", \"Not your account\"); exit; }\n"
       "  } else {\n"
       "    if (!is_present_hf(\"Proxy-Authorization\")) { proxy_challenge(\""
    << realm
    << "\", \"0\"); exit; }\n"
       "    route(PASSWORD);\n"
       "    if ($var(password) == \"\" || !pv_proxy_authenticate(\""
    << realm
    << "\", \"$var(password)\", \"0\")) {\n"
       "      xlog(\"L_NOTICE\", \"call from $fU refused\\n\");\n"
       "      proxy_challenge(\""
    << realm
    << "\", \"0\"); exit;\n"
       "    }\n"
       "    if ($au != $fU) { sl_send_reply(\"403\", \"Not your account\"); exit; }\n"
       "  }\n"
       "  consume_credentials();\n"
       "}\n\n";

  c << "route[MEDIA_OFFER] {\n"
       "  if (!has_body(\"application/sdp\")) return;\n"
       "  route(AUDIO_ONLY);\n"
       "  if ($var(audioOnly) == 1 && search_body(\"^m=image\")) {\n"
       "    xlog(\"L_NOTICE\", \"T.38 offer to audio-only $tU: rtpengine gateways\\n\");\n"
       "    rtpengine_offer(\"replace-origin replace-session-connection T.38=decode\");\n"
       "  } else {\n"
       "    rtpengine_offer(\"replace-origin replace-session-connection\");\n"
       "  }\n"
       "  t_on_reply(\"MEDIA_ANSWER\");\n"
       "  t_on_failure(\"REFUSED\");\n"
       "}\n\n"
       "onreply_route[MEDIA_ANSWER] {\n"
       "  if (status =~ \"^(18[03]|2[0-9][0-9])$\" && has_body(\"application/sdp\"))\n"
       "    rtpengine_answer(\"replace-origin replace-session-connection\");\n"
       "}\n\n"
       "failure_route[REFUSED] {\n"
       "  if (t_is_canceled()) exit;\n"
       "  if (has_totag() && t_check_status(\"488|415|606\") && search_body(\"^m=image\")) {\n"
       "    xlog(\"L_NOTICE\", \"T.38 refused by $tU: rtpengine stops its T.38 handling\\n\");\n"
       "    rtpengine_manage(\"T.38=stop\");\n"
       "  }\n"
       "}\n\n"
       "route[RELAY] {\n"
       "  if (!t_relay()) sl_reply_error();\n"
       "  exit;\n"
       "}\n";
  return c.str();
}

bool TKamailio::Start(const std::string& dir, const std::vector<TKamailioAccount>& accounts) {
  Stop();
  error_.clear();
  if (KamailioBinary().empty()) return error_ = "kamailio (with its rtpengine module) is not installed", false;
  if (fe::voip::test::RtpEngineBinary().empty()) return error_ = "rtpengine is not installed", false;
  for (const auto& a : accounts)
    if (!PlainWord(a.user) || !PlainWord(a.password))
      return error_ = "account names and passwords may hold only letters, digits, '.', '_' and '-'", false;
  dir_ = dir;
  std::filesystem::create_directories(dir_ + "/run");
  if (!rtpengine_.Start(dir_ + "/rtpengine.log")) return error_ = rtpengine_.Error(), false;
  // A port found free can be taken before Kamailio binds it: another try.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = AnyFreePort();
    if (port_ == 0) return error_ = "no free SIP port", false;
    const std::string cfg = dir_ + "/kamailio.cfg";
    {
      std::ofstream out(cfg, std::ios::trunc);
      out << Config(port_, rtpengine_.NgPort(), accounts);
      if (!out) return error_ = "cannot write " + cfg, false;
    }
    bool exited = false;
    if (Launch(cfg, exited)) return true;
    if (!exited) break;
  }
  rtpengine_.Stop();
  return false;
}

bool TKamailio::Launch(const std::string& cfg, bool& exited) {
  log_ = dir_ + "/kamailio.log";
  std::vector<std::string> args = {KamailioBinary(), "-f", cfg,  "-DD", "-E", "-Y",
                                   dir_ + "/run",    "-m", "64", "-M",  "8"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int logFd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (logFd < 0) return error_ = "cannot write " + log_, false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(logFd);
    return error_ = "cannot start kamailio", false;
  }
  if (pid == 0) {
    dup2(logFd, 1);
    dup2(logFd, 2);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(logFd);
  pid_ = pid;
  const auto until = std::chrono::steady_clock::now() + 15s;
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exited = true;
      return error_ = "kamailio exited at start-up:\n" + LogTail(), false;
    }
    if (AnswersOptions(200)) return true;
  }
  Stop();
  return error_ = "kamailio does not answer OPTIONS:\n" + LogTail(), false;
}

bool TKamailio::AnswersOptions(int waitMs) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in self = Loopback(0);
  socklen_t len = sizeof self;
  bool ok = false;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) == 0) {
    const int own = ntohs(self.sin_port);
    const std::string branch = "z9hG4bK-rig-" + std::to_string(getpid()) + "-" + std::to_string(own);
    std::ostringstream m;
    m << "OPTIONS sip:" << Address() << " SIP/2.0\r\n"
      << "Via: SIP/2.0/UDP 127.0.0.1:" << own << ";branch=" << branch << ";rport\r\n"
      << "Max-Forwards: 70\r\n"
      << "From: <sip:rig@127.0.0.1>;tag=rig" << own << "\r\n"
      << "To: <sip:" << Address() << ">\r\n"
      << "Call-ID: rig-" << own << "@127.0.0.1\r\n"
      << "CSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
    const std::string text = m.str();
    const sockaddr_in to = Loopback(port_);
    timeval tv{0, waitMs * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[2048];
    if (sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0) {
      const ssize_t n = recv(fd, buf, sizeof buf - 1, 0);
      ok = n > 12 && std::string(buf, 12) == "SIP/2.0 200 ";
    }
  }
  close(fd);
  if (!ok) std::this_thread::sleep_for(std::chrono::milliseconds(waitMs / 2));
  return ok;
}

void TKamailio::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + 5s;
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
  rtpengine_.Stop();
}

std::string TKamailio::LogTail(size_t lines) const {
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

}  // namespace fe::sip::test
