#include "print_job.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
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

#include "common/folders.h"
#include "common/instance_channel.h"
#include "fe_converter_core.h"
#include "fe_document_reader.h"
#include "fe_errors.h"

namespace printdriver {

namespace {

JobResult Fail(std::string why) {
  JobResult r;
  r.message = std::move(why);
  return r;
}

bool ReadAll(int fd, std::vector<std::uint8_t>& out, std::string& why) {
  std::uint8_t buf[65536];
  for (;;) {
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

// A hidden temporary file in folder; its name in `path`.
bool MakeTemp(const std::string& folder, std::string& path) {
  path = folder + ".qnprint-XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

struct RemoveOnExit {
  std::string path;
  ~RemoveOnExit() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

bool WriteFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size()) && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
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

std::string DescriptionFromTitle(const std::string& title) {
  std::string s;
  for (const char c : title) s += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
  const std::size_t first = s.find_first_not_of(' '), last = s.find_last_not_of(' ');
  s = first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
  if (s.size() > 80) {
    std::size_t cut = 80;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;  // not inside a UTF-8 character
    s.resize(cut);
  }
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
    const bool ok = ReadAll(fd, doc, why);
    if (fd != 0) ::close(fd);
    if (!ok) return Fail(why);
  }
  if (!BecomeUser(pw, why)) return Fail(why);
  // CUPS' temporary folder belongs to its own account: the interpreter's
  // temporary files go to the system's shared one when ours is not writable.
  const char* tmp = std::getenv("TMPDIR");
  if (tmp && *tmp && ::access(tmp, W_OK | X_OK) != 0) ::setenv("TMPDIR", "/tmp", 1);
  if (doc.empty()) return Fail("the job is empty: there is nothing to fax");

  const std::string programFolder = home + "/.local/share/quillon/";
  struct stat st {};
  if (::stat(programFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Fail("user " + req.user + " has no Quillon folder (" + programFolder + "); start Quillon once as " +
                req.user + ", then print again");
  std::string send = qn::ResolvePath(programFolder + "SEND/");
  if (::mkdir(send.c_str(), 0700) != 0 && errno != EEXIST) return Fail("the SEND folder " + send + " cannot be made");

  // PostScript becomes PDF first; the interpreter reads it from a private file.
  std::vector<std::uint8_t> fromPs;
  if (!fe::LooksLikePdf(doc)) {
    if (!fe::LooksLikePostScript(doc)) return Fail("the document is neither PDF nor PostScript");
    RemoveOnExit ps;
    if (!MakeTemp(send, ps.path) || !WriteFile(ps.path, std::string(doc.begin(), doc.end())))
      return Fail("no room for the document in " + send);
    if (fe::PostScriptToPdf(ps.path, fromPs) != 0) return Fail("the PostScript document cannot be read");
    doc.swap(fromPs);
  }
  fe::DocumentReader reader(doc, 1728, true);
  if (reader.open() != 0) return Fail("the document is damaged or not a readable PDF");
  if (reader.pageCount() > kMaxFaxPages)
    return Fail("the document has " + std::to_string(reader.pageCount()) + " pages; a fax takes at most " +
                std::to_string(kMaxFaxPages));

  RemoveOnExit apfTemp, jfdTemp;
  if (!MakeTemp(send, apfTemp.path) || !MakeTemp(send, jfdTemp.path)) return Fail("cannot write in " + send);
  fe::TFaxConverterCore::Settings settings;
  settings.width = 1728;
  settings.highRes = true;
  settings.leftMargin = 0;
  settings.options = 0;
  fe::TFaxConverterCore core(settings);
  if (int rc = core.Convert(reader, apfTemp.path))
    return Fail("the fax could not be made (error " + std::to_string(-rc) + ")");
  const std::string jfd = "\n\n" + DescriptionFromTitle(req.title) + "\n";
  if (!WriteFile(jfdTemp.path, jfd)) return Fail("cannot write the job description in " + send);

  // The first free FAX#####: link() never replaces a file another writer made.
  JobResult result;
  for (unsigned n = 0; n <= 99999 && result.apfPath.empty(); ++n) {
    char base[16];
    std::snprintf(base, sizeof base, "FAX%05u", n);
    const std::string apf = send + base + ".APF", desc = send + base + ".JFD";
    if (qn::FileExists(apf) || qn::FileExists(desc)) continue;
    if (::link(apfTemp.path.c_str(), apf.c_str()) != 0) continue;
    if (::link(jfdTemp.path.c_str(), desc.c_str()) != 0) {
      ::unlink(apf.c_str());
      continue;
    }
    result.apfPath = apf;
    result.jfdPath = desc;
  }
  if (result.apfPath.empty()) return Fail("the SEND folder " + send + " has no free fax file name");
  result.ok = true;
  result.pages = core.Progress().pagesConverted;
  result.programTold = TellProgram(programFolder, pw.pw_uid);
  result.message = std::to_string(result.pages) + (result.pages == 1 ? " page" : " pages") + " faxed to " +
                   result.apfPath + (result.programTold ? "" : "; Quillon picks it up when it starts");
  return result;
}

}  // namespace printdriver
