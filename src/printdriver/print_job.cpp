#include "print_job.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <stdio.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/fax_names.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "common/instance_channel.h"
#include "faxprep/send_job.h"
#include "fe_document_child.h"
#include "fe_document_reader.h"
#include "fe_errors.h"

namespace printdriver {

namespace {

constexpr char kWorkPrefix[] = ".qnprint-";

JobResult Fail(std::string why) {
  JobResult r;
  r.message = std::move(why);
  return r;
}

// A passing failure (a full disk or quota): CUPS keeps the job and tries again later.
JobResult Retry(std::string why) {
  JobResult r = Fail(std::move(why));
  r.retry = true;
  return r;
}

const char kCancelled[] = "the job was cancelled";

bool ReadAll(int fd, std::vector<std::uint8_t>& out, std::string& why, const volatile std::sig_atomic_t* stop) {
  std::uint8_t buf[65536];
  for (;;) {
    if (stop && *stop) {
      why = kCancelled;
      return false;
    }
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::string("the document cannot be read: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    if (out.size() + std::size_t(n) > kMaxJobBytes) {
      why = "the document is larger than 512 MB";
      return false;
    }
    out.insert(out.end(), buf, buf + n);
  }
}

// Gives up root for the user for good. Without root the job must already run
// as that user (tests, or a backend installed without root).
bool BecomeUser(const passwd& pw, std::string& why) {
  if (::geteuid() != 0) {
    if (::getuid() == pw.pw_uid) return true;
    why = "the backend runs without root and cannot write for another user; install it with mode 0700";
    return false;
  }
  if (::initgroups(pw.pw_name, pw.pw_gid) != 0 || ::setgid(pw.pw_gid) != 0 || ::setuid(pw.pw_uid) != 0 ||
      ::getuid() != pw.pw_uid || ::geteuid() != pw.pw_uid || ::setuid(0) == 0) {
    why = "cannot switch to the user's account";
    return false;
  }
  return true;
}

// Tells a running Quillon of this user and folder to pick the fax up now. The
// socket is looked for only in the user's private folder, and the connection
// and the line have two seconds: a program that does not take them costs the
// queue nothing but the message that the fax is picked up at the next start.
bool TellProgram(const std::string& programFolder, unsigned uid) {
  const std::string path = qn::InstanceChannelPath(programFolder, uid, nullptr);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  auto ready = [fd](short events) {
    pollfd p{fd, events, 0};
    int n;
    do n = ::poll(&p, 1, 2000);
    while (n < 0 && errno == EINTR);
    return n == 1 && (p.revents & events) && !(p.revents & (POLLERR | POLLHUP));
  };
  bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 ||
            ((errno == EINPROGRESS || errno == EAGAIN) && ready(POLLOUT));
  if (ok) {
    int err = 0;
    socklen_t len = sizeof err;
    ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
  }
  if (ok) {
    const std::string line = std::string(qn::kChannelPickUp) + "\n";
    ok = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(line.size());
  }
  ::close(fd);
  return ok;
}

// UID_MIN of /etc/login.defs (1000 when it says nothing): accounts below it
// belong to the system, not to people who fax.
unsigned FirstPersonUid() {
  unsigned uidMin = 1000;
  if (FILE* f = std::fopen("/etc/login.defs", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      unsigned v = 0;
      if (std::sscanf(line, " UID_MIN %u", &v) == 1) uidMin = v;
    }
    std::fclose(f);
  }
  return uidMin;
}

// The user's SEND folder as the user's Quillon last named it in its hand-off
// file (~/.config/quillon/QNPD.INI, key QNOutPath of [Location]: the program
// writes it at every start, so QUILLON_HOME and XDG_DATA_HOME are followed),
// when that is a folder of the user's own; else empty. Read as the user.
std::string HandedOffSendFolder(const std::string& home, unsigned uid) {
  const qn::IniFile ini(home + "/.config/quillon/QNPD.INI");
  std::string send = ini.ReadString("Location", "QNOutPath", "");
  if (send.empty() || send.front() != '/' || send.find("/../") != std::string::npos) return {};
  if (send.back() != '/') send += '/';
  struct stat st {};
  if (::stat(send.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid) return {};
  return send;
}

}  // namespace

bool IsLoginShell(const std::string& shell) {
  if (shell.empty() || shell.front() != '/') return false;
  const std::string base = shell.substr(shell.rfind('/') + 1);
  if (base == "nologin" || base == "false") return false;
  bool listed = false;
  if (FILE* f = std::fopen("/etc/shells", "re")) {
    char line[512];
    while (!listed && std::fgets(line, sizeof line, f)) {
      std::string l(line);
      while (!l.empty() && (l.back() == '\n' || l.back() == '\r' || l.back() == ' ')) l.pop_back();
      listed = l == shell;
    }
    std::fclose(f);
  } else {
    listed = true;  // no list to check against: any real shell path
  }
  return listed;
}

bool MayPrintFaxes(unsigned uid, const std::string& shell, std::string& why) {
  if (uid == 0) {
    why = "faxes are not made for root: print as the user whose Quillon sends them";
    return false;
  }
  if (uid < FirstPersonUid()) {
    why = "faxes are made only for people's accounts, not for system accounts";
    return false;
  }
  if (!IsLoginShell(shell)) {
    why = "faxes are made only for accounts that can log in";
    return false;
  }
  return true;
}

bool IsPlainUserName(const std::string& user) {
  if (user.empty() || user.size() > 32 || user[0] == '-' || user[0] == '.') return false;
  for (const char c : user)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-')) return false;
  return true;
}

std::string JobOption(const std::string& options, const std::string& name) {
  std::size_t i = 0;
  const std::size_t n = options.size();
  while (i < n) {
    while (i < n && options[i] == ' ') ++i;
    std::string word, value;
    bool hasValue = false;
    while (i < n && options[i] != ' ' && options[i] != '=') word += options[i++];
    if (i < n && options[i] == '=') {
      hasValue = true;
      ++i;
      while (i < n && options[i] != ' ') {
        const char c = options[i];
        if (c == '\\' && i + 1 < n) {
          value += options[i + 1];
          i += 2;
        } else if (c == '\'' || c == '"') {
          ++i;
          while (i < n && options[i] != c) {
            if (options[i] == '\\' && i + 1 < n) ++i;
            value += options[i++];
          }
          if (i < n) ++i;  // the closing quote
        } else {
          value += c;
          ++i;
        }
      }
    }
    if (hasValue && strcasecmp(word.c_str(), name.c_str()) == 0) return value;
  }
  return {};
}

std::string DescriptionFromTitle(const std::string& title) {
  const std::string s = OneLine(title);
  return s.empty() ? "Printed document" : s;
}

JobResult RunPrintJob(const JobRequest& req) {
  if (!IsPlainUserName(req.user))
    return Fail("the user name \"" + DescriptionFromTitle(req.user) + "\" is not allowed");
  errno = 0;
  const passwd* found = ::getpwnam(req.user.c_str());
  if (!found) return Fail("there is no user \"" + req.user + "\" on this computer");
  passwd pw = *found;
  // The document is interpreted by Ghostscript and poppler: never as root or a
  // system account, whatever user name the job claims.
  {
    std::string refused;
    if (!MayPrintFaxes(pw.pw_uid, pw.pw_shell ? pw.pw_shell : "", refused)) return Fail(refused);
  }
  const std::string name = pw.pw_name,
                    home = req.homesOverride.empty() ? std::string(pw.pw_dir) : req.homesOverride + "/" + req.user;
  pw.pw_name = const_cast<char*>(name.c_str());

  // The document is read while the backend may still read the spool file.
  std::vector<std::uint8_t> doc;
  std::string why;
  {
    const int fd = req.inputPath.empty() ? 0 : ::open(req.inputPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail("the document cannot be opened: " + std::string(std::strerror(errno)));
    const bool ok = ReadAll(fd, doc, why, req.stop);
    if (fd != 0) ::close(fd);
    if (!ok) return Fail(why);
  }
  if (!BecomeUser(pw, why)) return Fail(why);
  // CUPS' temporary folder belongs to its own account: the interpreter's
  // temporary files go to the system's shared one when ours is not writable.
  const char* tmp = std::getenv("TMPDIR");
  if (tmp && *tmp && ::access(tmp, W_OK | X_OK) != 0) ::setenv("TMPDIR", "/tmp", 1);
  if (doc.empty()) return Fail("the job is empty: there is nothing to fax");

  std::string programFolder = home + "/.local/share/quillon/";
  std::string send = HandedOffSendFolder(home, pw.pw_uid);
  if (!send.empty()) {
    // The program's folder holds its SEND folder (and names its channel).
    programFolder = send.substr(0, send.find_last_of('/', send.size() - 2) + 1);
  } else {
    struct stat st {};
    if (::stat(programFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Fail("user " + req.user + " has no Quillon folder (" + programFolder + "); start Quillon once as " +
                  req.user + ", then print again");
    send = qn::ResolvePath(programFolder + "SEND/");
    if (::mkdir(send.c_str(), 0700) != 0 && errno != EEXIST) return Fail("the SEND folder " + send + " cannot be made");
  }

  // Files of earlier jobs that were killed before they could clean up.
  fe::SweepStaleWorkFiles(send.substr(0, send.size() - 1), kWorkPrefix);

  // The converter process reads the document from a memory file: nothing of
  // it is written to disk, and no interpreter sees a file name.
  const bool postScript = !fe::LooksLikePdf(doc);
  if (postScript && !fe::LooksLikePostScript(doc)) return Fail("the document is neither PDF nor PostScript");
  struct Descriptor {
    int fd = -1;
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
  } memory;
  memory.fd = ::memfd_create("qnprint-document", MFD_CLOEXEC);
  if (memory.fd < 0) return Retry("no memory to hold the document: " + std::string(std::strerror(errno)));
  for (std::size_t at = 0; at < doc.size();) {
    const ssize_t w = ::write(memory.fd, doc.data() + at, doc.size() - at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return Retry("no memory to hold the document: " + std::string(std::strerror(errno)));
    at += std::size_t(w);
  }
  std::vector<std::uint8_t>().swap(doc);  // the backend itself stays small

  faxprep::SendJob job(send);
  faxprep::DocumentInput input;
  input.fd = memory.fd;
  input.kind = postScript ? fe::DocumentKind::PostScript : fe::DocumentKind::Pdf;
  input.limits.maxPages = kMaxFaxPages;
  input.limits.seconds = req.timeLimitSeconds;
  input.limits.memoryBytes = req.memoryLimitBytes;
  input.stop = req.stop;
  if (!job.Convert(input, JobOption(req.options, "phone"), JobOption(req.options, "recipient"),
                   DescriptionFromTitle(req.title)))
    return job.retry() ? Retry(job.message()) : Fail(job.cancelled() ? kCancelled : job.message());
  if (req.stop && *req.stop) return Fail(kCancelled);
  if (!job.Place()) return job.retry() ? Retry(job.message()) : Fail(job.message());
  JobResult result;
  result.apfPath = job.apfPath();
  result.jfdPath = job.jfdPath();
  result.ok = true;
  result.pages = job.pages();
  result.programTold = TellProgram(programFolder, pw.pw_uid);
  result.message = std::to_string(result.pages) + (result.pages == 1 ? " page" : " pages") + " faxed to " +
                   result.apfPath + (result.programTold ? "" : "; Quillon picks it up when it starts");
  return result;
}

}  // namespace printdriver
