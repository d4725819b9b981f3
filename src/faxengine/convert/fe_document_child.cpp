// The parent's side of document conversion: starts quillon-convert, reads its
// pages, and watches its time and memory.
#include "fe_document_child.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "fe_document_protocol.h"
#include "fe_document_reader.h"
#include "fe_errors.h"

namespace fe {

namespace fs = std::filesystem;

namespace {

constexpr int kBad = -ecBadGraphicsFormat;
constexpr std::int64_t kStaleSeconds = 3600;

double Now() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Virtual size and resident size of a process in bytes (0 when unknown).
void MemoryOf(pid_t pid, std::uint64_t& vm, std::uint64_t& rss) {
  vm = rss = 0;
  std::ifstream in("/proc/" + std::to_string(pid) + "/statm");
  std::uint64_t v = 0, r = 0;
  if (in >> v >> r) {
    const auto page = std::uint64_t(::sysconf(_SC_PAGESIZE));
    vm = v * page;
    rss = r * page;
  }
}

// A descriptor number of at least 3, so that it never collides with the
// child's standard descriptors; close-on-exec.
int AboveStandard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

}  // namespace

std::string DescribeBytes(std::uint64_t bytes) {
  if (bytes >= (std::uint64_t(1) << 30) && bytes % (std::uint64_t(1) << 30) == 0)
    return std::to_string(bytes >> 30) + " GB";
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

bool SniffDocumentKind(std::span<const std::uint8_t> head, DocumentKind& kind) {
  auto starts = [&](std::string_view magic) {
    return head.size() >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
  };
  if (LooksLikePdf(head))
    kind = DocumentKind::Pdf;
  else if (LooksLikePostScript(head))
    kind = DocumentKind::PostScript;
  else if (starts(std::string_view("II*\0", 4)) || starts(std::string_view("MM\0*", 4)))
    kind = DocumentKind::Tiff;
  else if (starts("BM"))
    kind = DocumentKind::Bmp;
  else if (starts(std::string_view("\xB1\x68\xDE\x3A", 4)))
    kind = DocumentKind::Dcx;
  // PCX: manufacturer 10, version 0-5, run-length coding 1, 1/2/4/8 bits per plane.
  else if (head.size() >= 128 && head[0] == 0x0A && head[1] <= 5 && head[2] == 1 &&
           (head[3] == 1 || head[3] == 2 || head[3] == 4 || head[3] == 8))
    kind = DocumentKind::Pcx;
  else
    return false;
  return true;
}

const char* DocumentKindSwitch(DocumentKind kind) {
  switch (kind) {
    case DocumentKind::Pdf: return "--pdf";
    case DocumentKind::PostScript: return "--ps";
    case DocumentKind::Tiff: return "--tiff";
    case DocumentKind::Pcx: return "--pcx";
    case DocumentKind::Dcx: return "--dcx";
    case DocumentKind::Bmp: return "--bmp";
    case DocumentKind::Text: return "--text";
  }
  return "--pdf";
}

std::string WorkTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  struct stat st {};
  if (tmp && *tmp == '/' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode) && ::access(tmp, W_OK | X_OK) == 0) return tmp;
  return "/tmp";
}

std::string ConverterProgram() {
  if (const char* named = std::getenv("QUILLON_CONVERTER"); named && *named == '/' && ::access(named, X_OK) == 0)
    return named;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const fs::path& p :
         {exe.parent_path() / "quillon-convert", (exe.parent_path() / QN_CONVERTER_FROM_BINDIR).lexically_normal()})
      if (::access(p.c_str(), X_OK) == 0) return p.string();
  }
  if (::access(QN_CONVERTER_INSTALLED, X_OK) == 0) return QN_CONVERTER_INSTALLED;
  return {};
}

bool IsStaleWorkName(const std::string& name, const std::string& prefix, std::int64_t ageSeconds) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  if (ageSeconds > kStaleSeconds) return true;
  long pid = 0;
  std::size_t i = prefix.size();
  for (; i < name.size() && i < prefix.size() + 10 && name[i] >= '0' && name[i] <= '9'; ++i)
    pid = pid * 10 + (name[i] - '0');
  if (i == prefix.size() || i >= name.size() || name[i] != '-' || pid <= 0) return false;  // not our naming
  return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

unsigned SweepStaleWorkFiles(const std::string& folder, const std::string& prefix) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir))
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.emplace_back(e->d_name);
  ::closedir(dir);
  unsigned removed = 0;
  const std::time_t now = std::time(nullptr);
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
    if (!IsStaleWorkName(name, prefix, std::int64_t(now - st.st_mtime))) continue;
    std::error_code ec;
    if (fs::remove_all(path, ec) > 0 && !ec) ++removed;
  }
  return removed;
}

ChildDocumentReader::ChildDocumentReader(int input, bool postScript, unsigned lineWidth, bool highRes,
                                         DocumentLimits limits, const volatile std::sig_atomic_t* stop)
    : ChildDocumentReader(input, postScript ? DocumentKind::PostScript : DocumentKind::Pdf, lineWidth, highRes, limits,
                          stop) {}

ChildDocumentReader::ChildDocumentReader(int input, DocumentKind kind, unsigned lineWidth, bool highRes,
                                         DocumentLimits limits, const volatile std::sig_atomic_t* stop)
    : input_(input),
      kind_(kind),
      postScript_(kind == DocumentKind::PostScript),
      highRes_(highRes),
      lineWidth_(lineWidth),
      limits_(limits),
      stop_(stop) {}

ChildDocumentReader::~ChildDocumentReader() {
  finish();
}

int ChildDocumentReader::fail(int code, std::string text) {
  if (!failed_) {
    failed_ = code;
    error_ = std::move(text);
  }
  return failed_;
}

void ChildDocumentReader::finish() {
  if (pid_ > 0) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (out_ >= 0) ::close(out_);
  out_ = -1;
  if (!folder_.empty()) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
    folder_.clear();
  }
}

int ChildDocumentReader::start() {
  const std::string program = ConverterProgram();
  if (program.empty()) return fail(kBad, "the document converter quillon-convert is not installed");
  const std::string tmp = WorkTempFolder();
  SweepStaleWorkFiles(tmp, "qnps-");
  folder_ = tmp + "/qnps-" + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(folder_.data())) {
    folder_.clear();
    return fail(-ecAccessDenied, "no private temporary folder can be made in " + tmp);
  }
  std::vector<std::string> args = {program,
                                   DocumentKindSwitch(kind_),
                                   "--width",
                                   std::to_string(lineWidth_),
                                   highRes_ ? "--fine" : "--normal",
                                   "--max-pages",
                                   std::to_string(limits_.maxPages),
                                   "--memory",
                                   std::to_string(limits_.memoryBytes),
                                   "--cpu",
                                   std::to_string(limits_.seconds),
                                   "--file-size",
                                   std::to_string(limits_.fileBytes),
                                   "--parent",
                                   std::to_string(::getpid())};
  // The child's environment: what fonts and locale need, the sanitizers'
  // settings, and its own temporary folder. Built here, as setenv is not for a
  // program that may run threads.
  std::vector<std::string> env;
  for (const char* name :
       {"HOME", "PATH", "LANG", "LC_ALL", "LC_CTYPE", "FONTCONFIG_FILE", "FONTCONFIG_PATH", "XDG_CACHE_HOME",
        "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "GS_LIB", "GS_FONTPATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
  if (!std::getenv("PATH")) env.emplace_back("PATH=/usr/bin:/bin");
  for (const char* name : {"TMPDIR=", "TEMP=", "TMP="}) env.push_back(name + folder_);
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int in = AboveStandard(::fcntl(input_, F_DUPFD_CLOEXEC, 3));
  if (in < 0) return fail(kBad, "the document cannot be read");
  ::lseek(in, 0, SEEK_SET);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    ::close(in);
    return fail(-ecTooManyOpenFiles, "no pipe for the document converter");
  }
  const int readEnd = AboveStandard(pipeFds[0]), writeEnd = AboveStandard(pipeFds[1]);
  // Room for a whole page, so the child renders the next one while this one is
  // coded, without a round of wake-ups per 64 KB (a smaller pipe still works).
  ::fcntl(readEnd, F_SETPIPE_SZ, 1 << 20);
  const long openMax = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    ::setpgid(0, 0);
    if (::dup2(in, 0) < 0 || ::dup2(writeEnd, 1) < 0) ::_exit(127);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGXCPU, SIGXFSZ, SIGCHLD}) ::sigaction(s, &dfl, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
      for (long fd = 3; fd < openMax; ++fd) ::close(int(fd));
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in);
  ::close(writeEnd);
  out_ = readEnd;
  if (pid < 0) return fail(kBad, "the document converter cannot be started");
  pid_ = pid;
  ::setpgid(pid_, pid_);  // also here, so that a kill of the group never misses it
  deadline_ = Now() + limits_.seconds;
  return 0;
}

// Reads n bytes of the child's output, watching the clock, the stop flag and
// the child's memory while it waits.
int ChildDocumentReader::readExact(void* to, std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(to);
  double nextLook = 0;
  while (n > 0) {
    if (stop_ && *stop_) {
      fail(-ecConvertAbort, "the conversion was cancelled");
      finish();
      return failed_;
    }
    const double now = Now();
    if (now >= deadline_) {
      fail(-ecConvertAbort, "the document took longer than " + std::to_string(limits_.seconds) + " seconds to convert");
      finish();
      return failed_;
    }
    if (now >= nextLook) {
      nextLook = now + 0.05;
      // PostScript pages are made into files of the converter's folder first:
      // the file of the page after the cap ends the document at once.
      if (postScript_ && limits_.maxPages &&
          ::access((folder_ + "/page-" + std::to_string(limits_.maxPages + 1) + ".pdf").c_str(), F_OK) == 0) {
        fail(kBad, "the document has more than " + std::to_string(limits_.maxPages) + " pages; a fax takes at most " +
                       std::to_string(limits_.maxPages));
        finish();
        return failed_;
      }
      std::uint64_t vm = 0, rss = 0;
      MemoryOf(pid_, vm, rss);
      peakVm_ = std::max(peakVm_, vm);
      // The address space limit stops the child first in ordinary builds; under
      // the address sanitizer, which cannot run with one, this is the limit.
      if (rss > limits_.memoryBytes) {
        fail(kBad, "the document needs more than " + DescribeBytes(limits_.memoryBytes) + " of memory");
        finish();
        return failed_;
      }
    }
    pollfd pfd{out_, POLLIN, 0};
    const int wait = int(std::clamp((deadline_ - now) * 1000, 1.0, 50.0));
    const int ready = ::poll(&pfd, 1, wait);
    if (ready < 0 && errno != EINTR) return fail(kBad, "the document converter cannot be read");
    if (ready <= 0) continue;
    const ssize_t got = ::read(out_, p, n);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return childGone();
    p += got;
    n -= std::size_t(got);
  }
  return 0;
}

// The child's output ended before its answer: says why from its exit.
int ChildDocumentReader::childGone() {
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  if (r == pid_) pid_ = -1;
  const std::string limit = DescribeBytes(limits_.memoryBytes);
  if (WIFEXITED(status)) {
    if (WEXITSTATUS(status) == 127) return fail(kBad, "the document converter could not be started");
    return fail(kBad, "the document converter stopped without finishing the document");
  }
  const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (sig == SIGXCPU)
    return fail(-ecConvertAbort, "the document took more than " + std::to_string(limits_.seconds) +
                                     " seconds of processor time to convert");
  if (sig == SIGXFSZ)
    return fail(kBad,
                "the document made a file larger than " + DescribeBytes(limits_.fileBytes) + " while it was converted");
  if (sig == SIGKILL)  // not ours: the system's out-of-memory killer
    return fail(kBad,
                "the document converter was stopped by the system (the document needs more memory than there "
                "is)");
  if (peakVm_ + (std::uint64_t(64) << 20) >= limits_.memoryBytes)
    return fail(kBad, "the document needs more than " + limit + " of memory");
  return fail(kBad, "the document converter failed on this document (signal " + std::to_string(sig) + ")");
}

// The next record: a page (loaded into bits_) or the end of the document.
int ChildDocumentReader::readPage() {
  std::uint32_t tag = 0;
  if (int rc = readExact(&tag, sizeof tag)) return rc;
  if (tag == protocol::kTagFail) {
    std::int32_t head[2] = {};
    if (int rc = readExact(head, sizeof head)) return rc;
    const std::uint32_t len = std::min<std::uint32_t>(std::uint32_t(head[1]), protocol::kMaxText);
    std::string text(len, '\0');
    if (int rc = readExact(text.data(), len)) return rc;
    const int code = head[0] < 0 && head[0] > -100000 ? head[0] : kBad;
    fail(code, text.empty() ? "the document cannot be converted" : text);
    finish();
    return failed_;
  }
  if (tag == protocol::kTagDone) {
    std::uint32_t pages = 0;
    if (int rc = readExact(&pages, sizeof pages)) return rc;
    finish();
    height_ = 0;
    return pagesDone_ == 0 ? fail(kBad, "the document has no pages") : 0;
  }
  protocol::PageHeader h{};
  if (tag != protocol::kTagPage || readExact(&h, sizeof h) != 0) {
    if (failed_) return failed_;
    finish();
    return fail(kBad, "the document converter answered with something unexpected");
  }
  if (h.width == 0 || h.width % 32 != 0 || h.width > lineWidth_ || h.height == 0 || h.height > protocol::kMaxPageRows ||
      h.more > 1) {
    finish();
    return fail(kBad, "the document converter answered with something unexpected");
  }
  if (limits_.maxPages && pagesDone_ >= limits_.maxPages) {
    finish();
    return fail(kBad, "the document has more than " + std::to_string(limits_.maxPages) +
                          " pages; a fax takes at most " + std::to_string(limits_.maxPages));
  }
  width_ = h.width;
  height_ = h.height;
  more_ = h.more != 0;
  pagesTotal_ = std::max<std::uint64_t>(h.pagesTotal, pagesDone_ + 1);
  bits_.resize(std::size_t(width_ / 8) * height_);
  if (int rc = readExact(bits_.data(), bits_.size())) return rc;
  ++pagesDone_;
  row_ = 0;
  return 0;
}

int ChildDocumentReader::open() {
  finish();
  failed_ = 0;
  error_.clear();
  peakVm_ = 0;
  pagesDone_ = pagesTotal_ = 0;
  width_ = height_ = 0;
  if (int rc = start()) return rc;
  if (int rc = readPage()) return rc;
  return height_ ? 0 : fail(kBad, "the document has no pages");
}

int ChildDocumentReader::readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) {
  if (failed_) return failed_;
  if (row_ >= height_) return kBad;  // read past the last page
  len = width_ / 8;
  std::memcpy(buf, bits_.data() + std::size_t(row_) * len, len);
  ++row_;
  endOfPage = row_ == height_;
  morePages = endOfPage && more_;
  if (!endOfPage) return 0;
  // After the last page the converter's end record must follow; a child that
  // fails there still fails the document.
  const bool wanted = more_;
  if (int rc = readPage()) return rc;
  if (wanted != (height_ != 0)) return fail(kBad, "the document converter answered with something unexpected");
  if (!wanted) row_ = height_ = 0;
  return 0;
}

}  // namespace fe
