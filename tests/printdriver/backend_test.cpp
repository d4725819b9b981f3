// The "Quillon Fax" backend run as CUPS runs it: argv job-id user title copies
// options [file], DEVICE_URI set, the document as a file or on standard input.
// Good jobs leave an APF and its ".JFD" in the user's SEND folder, which the
// program's pick-up turns into one record; bad jobs are cancelled with a clear
// message and leave nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "common/folders.h"
#include "common/instance_channel.h"
#include "faxprep/pickup.h"
#include "fe_fax_unpacker.h"
#include "printdriver/print_job.h"
#include "records/record_tables.h"

namespace fs = std::filesystem;

namespace {

const std::string kBackend = std::string(QN_BINARY_DIR) + "/bin/quillon-backend";

struct JobRun {
  int status = -1;
  std::string log;  // what the backend wrote for the CUPS job log
};

// An ordinary account to print as. Faxes are never made for root, so a test
// run as root prints as an account of its own, made on first use.
constexpr char kTestAccount[] = "qnfaxtest";

std::string Me() {
  if (::getuid() != 0) return ::getpwuid(::getuid())->pw_name;
  if (!::getpwnam(kTestAccount))
    std::system((std::string("useradd --no-create-home --shell /bin/sh ") + kTestAccount + " >/dev/null 2>&1").c_str());
  return kTestAccount;
}

uid_t MyUid() {
  const passwd* pw = ::getpwnam(Me().c_str());
  return pw ? pw->pw_uid : ::getuid();
}

// Gives the tree to the printing account (when the test runs as root).
void GiveToPrinter(const fs::path& p) {
  if (::getuid() != 0) return;
  const passwd* pw = ::getpwnam(Me().c_str());
  ASSERT_TRUE(pw) << "no account " << Me();
  ASSERT_EQ(::chown(p.c_str(), pw->pw_uid, pw->pw_gid), 0) << p;
  if (fs::is_directory(p)) {
    for (const auto& e : fs::recursive_directory_iterator(p)) {
      ASSERT_EQ(::lchown(e.path().c_str(), pw->pw_uid, pw->pw_gid), 0) << e.path();
    }
  }
}

// The folder of the printing account's channel to a running program, made as
// that account would have it (its own, closed to others).
std::string ChannelPath(const std::string& programFolder) {
  const uid_t uid = MyUid();
  if (::getuid() == 0) {
    const std::string tmp = "/tmp/quillon-" + std::to_string(uid);
    ::mkdir(tmp.c_str(), 0700);
    if (::chown(tmp.c_str(), uid, static_cast<gid_t>(-1)) != 0) return {};
  }
  return qn::InstanceChannelPath(programFolder, uid, nullptr);
}

// A listening socket at `path` the printing account may connect to.
int Listen(const std::string& path, int backlog, sockaddr_un& addr) {
  ::unlink(path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  addr = {};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0) return -1;
  if (::getuid() == 0 && ::chown(path.c_str(), MyUid(), static_cast<gid_t>(-1)) != 0) return -1;
  return fd;
}

void Write(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A PostScript document of `pages` pages with a line of text on each.
std::string PostScript(int pages) {
  std::string ps = "%!PS\n/Helvetica findfont 20 scalefont setfont\n";
  for (int i = 1; i <= pages; ++i) ps += "72 720 moveto (Page " + std::to_string(i) + ") show showpage\n";
  return ps;
}

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    homes_ = fs::path(QN_BINARY_DIR) / "test-output" / "printdriver" /
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(homes_);
    program_ = homes_ / Me() / ".local/share/quillon";
    fs::create_directories(program_);
    GiveToPrinter(homes_ / Me());
  }
  fs::path SendFolder() const { return program_ / "SEND"; }
  // The backend's temporary folder, where its converter's private folders go.
  fs::path TempFolder() const { return homes_ / "tmp"; }

  // Runs the backend; input: a file name (6th argument) or, when stdinFile is
  // set, that file on standard input. env: more "NAME=value" words for its
  // environment; wrap: a command the backend runs under.
  JobRun Print(const std::string& user, const std::string& title, const std::string& file, bool onStdin = false,
               const std::string& env = "", const std::string& wrap = "", const std::string& options = "media=A4") {
    const fs::path log = homes_ / "log.txt";
    fs::create_directories(TempFolder());
    GiveToPrinter(TempFolder());
    std::string cmd = "cd '" + homes_.string() + "' && " + wrap + " env DEVICE_URI=quillon:/ QUILLON_BACKEND_HOMES='" +
                      homes_.string() + "' TMPDIR='" + TempFolder().string() + "' " + env + " '" + kBackend + "' 42 '" +
                      user + "' '" + title + "' 1 '" + options + "'";
    cmd += onStdin ? " < '" + file + "'" : " '" + file + "'";
    cmd += " 2> '" + log.string() + "'";
    JobRun r;
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.log = Read(log);
    return r;
  }

  // Every file under the homes folder, relative to it (the log excepted).
  std::set<std::string> Files() const {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(homes_))
      if (e.is_regular_file() && e.path().filename() != "log.txt" && e.path().parent_path() != homes_ &&
          e.path().parent_path() != TempFolder())
        out.insert(fs::relative(e.path(), homes_).string());
    return out;
  }

  fs::path homes_, program_;
};

TEST_F(Backend, PdfAndPostScriptJobsBecomeFaxesThePickUpTakes) {
  // Without arguments the backend names its device for lpinfo.
  FILE* p = ::popen(kBackend.c_str(), "r");
  char line[200] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, p));
  ::pclose(p);
  EXPECT_STREQ(line, "direct quillon \"Unknown\" \"Quillon Fax\"\n");

  Write(homes_ / "doc.ps", PostScript(3));
  ASSERT_EQ(
      std::system(("ps2pdf '" + (homes_ / "doc.ps").string() + "' '" + (homes_ / "doc.pdf").string() + "'").c_str()),
      0);
  JobRun r = Print(Me(), "Quarterly report", (homes_ / "doc.pdf").string());
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_NE(r.log.find("INFO: Quillon Fax: 3 pages faxed to"), std::string::npos) << r.log;
  r = Print(Me(), "Letter from stdin", (homes_ / "doc.ps").string(), true);
  ASSERT_EQ(r.status, 0) << r.log;

  const std::set<std::string> want = {
      Me() + "/.local/share/quillon/SEND/FAX00000.APF", Me() + "/.local/share/quillon/SEND/FAX00000.JFD",
      Me() + "/.local/share/quillon/SEND/FAX00001.APF", Me() + "/.local/share/quillon/SEND/FAX00001.JFD"};
  EXPECT_EQ(Files(), want);
  EXPECT_EQ(Read(SendFolder() / "FAX00000.JFD"), "\n\nQuarterly report\n");
  for (const char* apf : {"FAX00000.APF", "FAX00001.APF"}) {
    fe::TFeFaxUnpacker u;
    u.InFileName = (SendFolder() / apf).string();
    EXPECT_EQ(u.NumPages(), 3u) << apf;
    EXPECT_EQ(u.PageResolution(), fe::frHigh);
    EXPECT_EQ(u.PageWidth(), fe::fwNormal);
  }

  // The program's pick-up makes one record per printed fax, the title as subject.
  setenv("QUILLON_HOME", program_.c_str(), 1);
  qn::ResetProgramFolder();
  xb::Table fax;
  ASSERT_TRUE(records::OpenFaxDBF(fax, qn::ProgramFolder(), ""));
  const faxprep::PickUpReport report = faxprep::PickUpPrintedFaxes(fax);
  EXPECT_EQ(report.added, 2) << report.problems.join(QLatin1Char('\n')).toStdString();
  fax.goTop();
  EXPECT_EQ(fax.getString("SUBJECT").substr(0, 16), "Quarterly report");
  fax.close();
  unsetenv("QUILLON_HOME");
  qn::ResetProgramFolder();
}

TEST_F(Backend, RunningProgramIsToldAtOnce) {
  // A running Quillon listens on its channel; the backend's line asks for a pick-up.
  const std::string folder = program_.string() + "/";
  const std::string path = ChannelPath(folder);
  ASSERT_FALSE(path.empty());
  sockaddr_un addr{};
  const int fd = Listen(path, 1, addr);
  ASSERT_GE(fd, 0);
  Write(homes_ / "doc.ps", PostScript(1));
  const JobRun r = Print(Me(), "Told", (homes_ / "doc.ps").string());
  ASSERT_EQ(r.status, 0) << r.log;
  const int c = ::accept(fd, nullptr, nullptr);
  ASSERT_GE(c, 0);
  char buf[32] = {};
  EXPECT_GT(::read(c, buf, sizeof buf - 1), 0);
  EXPECT_STREQ(buf, "pickup\n");
  ::close(c);
  ::close(fd);
  ::unlink(path.c_str());
  EXPECT_EQ(r.log.find("picks it up when it starts"), std::string::npos) << r.log;
}

TEST_F(Backend, ProgramThatDoesNotAnswerCostsTheQueueNothing) {
  // A socket whose queue is full and which never accepts (a hung program) makes
  // a blocking connect wait for ever; the backend gives up after its time-out.
  const std::string folder = program_.string() + "/";
  const std::string path = ChannelPath(folder);
  ASSERT_FALSE(path.empty());
  sockaddr_un addr{};
  const int fd = Listen(path, 0, addr);
  ASSERT_GE(fd, 0);
  std::vector<int> waiting;
  for (int i = 0; i < 8; ++i) {
    const int c = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    waiting.push_back(c);
    if (::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) break;  // the queue is full
  }
  Write(homes_ / "doc.ps", PostScript(1));
  const auto start = std::chrono::steady_clock::now();
  const JobRun r = Print(Me(), "Hung", (homes_ / "doc.ps").string());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_NE(r.log.find("picks it up when it starts"), std::string::npos) << r.log;
  for (int c : waiting) ::close(c);
  ::close(fd);
  ::unlink(path.c_str());
}

TEST_F(Backend, JobsForRootAndSystemAccountsAreRefused) {
  // Anyone may name any user on a print job: a document is never interpreted as
  // root or as a system account, even where such an account has a Quillon folder.
  Write(homes_ / "doc.ps", PostScript(1));
  for (const char* user : {"root", "daemon", "nobody"}) {
    if (!::getpwnam(user)) continue;
    fs::create_directories(homes_ / user / ".local/share/quillon");
    const JobRun r = Print(user, "t", (homes_ / "doc.ps").string());
    EXPECT_EQ(r.status, 5) << user << ": " << r.log;
    EXPECT_NE(r.log.find("ERROR: Quillon Fax: faxes are "), std::string::npos) << r.log;
    EXPECT_FALSE(fs::exists(homes_ / user / ".local/share/quillon/SEND")) << user;
  }
  std::string why;
  EXPECT_FALSE(printdriver::MayPrintFaxes(0, "/bin/bash", why));
  EXPECT_NE(why.find("root"), std::string::npos);
  EXPECT_FALSE(printdriver::MayPrintFaxes(999, "/bin/bash", why));
  EXPECT_NE(why.find("system accounts"), std::string::npos);
  EXPECT_FALSE(printdriver::MayPrintFaxes(1000, "/usr/sbin/nologin", why));
  EXPECT_FALSE(printdriver::MayPrintFaxes(1000, "/bin/false", why));
  EXPECT_FALSE(printdriver::MayPrintFaxes(1000, "", why));
  EXPECT_FALSE(printdriver::MayPrintFaxes(1000, "/tmp/myshell", why));  // not a listed shell
  EXPECT_TRUE(printdriver::MayPrintFaxes(1000, "/bin/sh", why));
}

TEST_F(Backend, FaxGoesWhereTheUsersProgramKeepsItsFaxes) {
  // The program names its SEND folder in its hand-off file at every start
  // (QUILLON_HOME, XDG_DATA_HOME): the backend follows it when the folder is the
  // user's own, and keeps to the default folder otherwise.
  const fs::path elsewhere = homes_ / Me() / "faxes" / "quillon";
  fs::create_directories(elsewhere / "SEND");
  const fs::path handOff = homes_ / Me() / ".config/quillon/QNPD.INI";
  fs::create_directories(handOff.parent_path());
  Write(handOff, "[Location]\nQNOutPath=" + (elsewhere / "SEND").string() + "/\nQNExecutable=/usr/bin/quillon\n");
  GiveToPrinter(homes_ / Me());
  Write(homes_ / "doc.ps", PostScript(1));
  JobRun r = Print(Me(), "Elsewhere", (homes_ / "doc.ps").string());
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_TRUE(fs::exists(elsewhere / "SEND/FAX00000.APF")) << r.log;
  EXPECT_TRUE(fs::exists(elsewhere / "SEND/FAX00000.JFD"));
  EXPECT_FALSE(fs::exists(SendFolder() / "FAX00000.APF"));

  // A folder that is not the user's own (or a relative path) is not followed.
  if (::getuid() == 0) {
    const fs::path foreign = homes_ / "foreign" / "SEND";
    fs::create_directories(foreign);
    Write(handOff, "[Location]\nQNOutPath=" + foreign.string() + "/\n");
    GiveToPrinter(handOff);
    r = Print(Me(), "Foreign", (homes_ / "doc.ps").string());
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_TRUE(fs::is_empty(foreign));
    EXPECT_TRUE(fs::exists(SendFolder() / "FAX00000.APF")) << r.log;
  }
  Write(handOff, "[Location]\nQNOutPath=faxes/quillon/SEND/\n");
  GiveToPrinter(handOff);
  r = Print(Me(), "Relative", (homes_ / "doc.ps").string());
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_NE(r.log.find(SendFolder().string()), std::string::npos) << r.log;
}

TEST_F(Backend, NumberAndRecipientComeFromTheJobOptions) {
  // lp -o phone=... -o recipient=... (or a print dialog that knows fax queues):
  // the fax arrives with its number and recipient; the title is the subject.
  Write(homes_ / "doc.ps", PostScript(1));
  JobRun r = Print(Me(), "Invoice 12", (homes_ / "doc.ps").string(), false, "", "",
                   "media=A4 phone=+1\\ (555)\\ 123-4567;rm recipient=\"Ada Lindqvist\" job-priority=50");
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(Read(SendFolder() / "FAX00000.JFD"), "+1 (555) 123-4567\nAda Lindqvist\nInvoice 12\n");
  // Without them both lines stay empty: the program asks when it picks the fax up.
  r = Print(Me(), "Plain", (homes_ / "doc.ps").string());
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(Read(SendFolder() / "FAX00001.JFD"), "\n\nPlain\n");

  using printdriver::JobOption;
  EXPECT_EQ(JobOption("a=1 phone=5551234 b=2", "phone"), "5551234");
  EXPECT_EQ(JobOption("recipient='Ada Lindqvist' x=y", "recipient"), "Ada Lindqvist");
  EXPECT_EQ(JobOption("recipient=Ada\\ Lindqvist", "recipient"), "Ada Lindqvist");
  EXPECT_EQ(JobOption("recipient=\"Say \\\"hi\\\"\"", "recipient"), "Say \"hi\"");
  EXPECT_EQ(JobOption("nophone=1 phoneX=2", "phone"), "");
  EXPECT_EQ(JobOption("phone", "phone"), "");
  EXPECT_EQ(JobOption("recipient='unterminated", "recipient"), "unterminated");
  EXPECT_EQ(printdriver::DialableNumber("Fax: 555-0199 / 12\n"), "555-0199  12");
  EXPECT_EQ(printdriver::OneLine("Ada\n\tLindqvist "), "Ada  Lindqvist");
}

TEST_F(Backend, FaxesAreNamedWhereTheFileSystemHasNoHardLinks) {
  // Without hard links the names are taken by a rename that never replaces a
  // file: the first free names, never one already there, no search through
  // every number.
  fs::create_directories(SendFolder());
  Write(SendFolder() / "FAX00000.APF", "someone else's");
  GiveToPrinter(homes_ / Me());
  Write(homes_ / "doc.ps", PostScript(1));
  const std::string noLinks =
      std::string("LD_PRELOAD=") + QN_NO_HARDLINKS + " ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\"";
  for (const char* title : {"First", "Second"}) {
    const auto start = std::chrono::steady_clock::now();
    const JobRun r = Print(Me(), title, (homes_ / "doc.ps").string(), false, noLinks);
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  }
  EXPECT_EQ(Read(SendFolder() / "FAX00000.APF"), "someone else's");
  EXPECT_EQ(Read(SendFolder() / "FAX00001.JFD"), "\n\nFirst\n");
  EXPECT_EQ(Read(SendFolder() / "FAX00002.JFD"), "\n\nSecond\n");
  fe::TFeFaxUnpacker u;
  u.InFileName = (SendFolder() / "FAX00002.APF").string();
  EXPECT_EQ(u.NumPages(), 1u);
  for (const auto& e : fs::directory_iterator(SendFolder()))
    EXPECT_EQ(e.path().filename().string().rfind(".qnprint-", 0), std::string::npos) << e.path();
}

TEST_F(Backend, BadJobsAreCancelledAndLeaveNothing) {
  const std::string mine = Me();
  auto cancelled = [&](const JobRun& r, const std::string& words) {
    EXPECT_EQ(r.status, 5) << r.log;  // CUPS_BACKEND_CANCEL: the job goes, the queue stays
    EXPECT_NE(r.log.find("ERROR: Quillon Fax: " + words), std::string::npos) << r.log;
  };
  Write(homes_ / "empty.pdf", "");
  cancelled(Print(mine, "t", (homes_ / "empty.pdf").string()), "the job is empty");
  Write(homes_ / "corrupt.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ngarbage\n%%EOF\n");
  cancelled(Print(mine, "t", (homes_ / "corrupt.pdf").string()), "the document is damaged");
  Write(homes_ / "text.txt", "just text\n");
  cancelled(Print(mine, "t", (homes_ / "text.txt").string()), "the document is neither PDF nor PostScript");

  // 500 pages: a PDF is refused after counting, before any page is rendered;
  // PostScript as soon as its 201st page is made.
  Write(homes_ / "long.ps", PostScript(500));
  ASSERT_EQ(
      std::system(("ps2pdf '" + (homes_ / "long.ps").string() + "' '" + (homes_ / "long.pdf").string() + "'").c_str()),
      0);
  const auto start = std::chrono::steady_clock::now();
  cancelled(Print(mine, "t", (homes_ / "long.pdf").string()), "the document has 500 pages; a fax takes at most 200");
  cancelled(Print(mine, "t", (homes_ / "long.ps").string()),
            "the document has more than 200 pages; a fax takes at most 200");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

  // User names that would lead elsewhere, and users that do not exist.
  Write(homes_ / "doc.ps", PostScript(1));
  for (const std::string& user : std::vector<std::string>{"../" + mine, "/etc", "-x", ".hidden", mine + "/..", "a b"})
    cancelled(Print(user, "t", (homes_ / "doc.ps").string()), "the user name");
  cancelled(Print("nosuchuser4711", "t", (homes_ / "doc.ps").string()), "there is no user \"nosuchuser4711\"");
  EXPECT_TRUE(Files().empty()) << *Files().begin();
  EXPECT_FALSE(fs::exists(SendFolder()) && !fs::is_empty(SendFolder()));

  // A user without a Quillon folder: a message that says what to do.
  fs::remove_all(homes_ / mine);
  cancelled(Print(mine, "t", (homes_ / "doc.ps").string()), "user " + mine + " has no Quillon folder");
  EXPECT_FALSE(fs::exists(homes_ / mine));
}

TEST_F(Backend, TitlesOnlyEverBecomeText) {
  Write(homes_ / "doc.ps", PostScript(1));
  const std::string title = "../../../etc/passwd\x01\x1b[31m\nsecond line\t/abs";
  const JobRun r = Print(Me(), title, (homes_ / "doc.ps").string());
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(Files(), (std::set<std::string>{Me() + "/.local/share/quillon/SEND/FAX00000.APF",
                                            Me() + "/.local/share/quillon/SEND/FAX00000.JFD"}));
  EXPECT_EQ(Read(SendFolder() / "FAX00000.JFD"), "\n\n../../../etc/passwd  [31m second line /abs\n");
  EXPECT_EQ(r.log.find('\x1b'), std::string::npos);
}

// The converter processes' private folders left in the backend's temporary folder.
std::set<std::string> ConverterFolders(const fs::path& tmp) {
  std::set<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(tmp, ec)) out.insert(e.path().filename().string());
  return out;
}

// The pid of a quillon-convert process whose parent is `parent` (0 when none).
pid_t ConverterOf(pid_t parent) {
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string pid, comm, state;
    long ppid = 0;
    if (stat >> pid >> comm >> state >> ppid && comm == "(quillon-convert)" && ppid == parent)
      return pid_t(std::stol(pid));
  }
  return 0;
}

TEST_F(Backend, HostileDocumentsStopAtTheirLimitsAndFailTheJob) {
  const std::string mine = Me();
  // Each limit on its own: on a busy machine the others must not strike first.
  auto failed = [&](const std::string& ps, const std::string& words, int seconds, const std::string& limits) {
    Write(homes_ / "hostile.ps", ps);
    const auto start = std::chrono::steady_clock::now();
    const JobRun r = Print(mine, "t", (homes_ / "hostile.ps").string(), false, limits);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(seconds)) << words;
    EXPECT_EQ(r.status, 5) << r.log;  // never "Job completed" for a fax that was not made
    EXPECT_NE(r.log.find("ERROR: Quillon Fax: " + words), std::string::npos) << r.log;
  };
  failed("%!PS\n{} loop\n", "the document took longer than 3 seconds to convert", 15, "QUILLON_BACKEND_TIME_LIMIT=3");
  // Pages without end: stopped once page 201 is made, not when the disk is full.
  failed("%!PS\n/Helvetica findfont 20 scalefont setfont\n{ 72 720 moveto (Again) show showpage } loop\n",
         "the document has more than 200 pages; a fax takes at most 200", 60, "");
  failed("%!PS\n/l 0 def { /l [ l 1000000 array ] def } loop\n", "the document needs more than 300 MB of memory", 60,
         "QUILLON_BACKEND_MEMORY_LIMIT=300");
  // A converter killed from outside (as the out-of-memory killer does) fails the job too.
  Write(homes_ / "loop.ps", "%!PS\n{} loop\n");
  const fs::path log = homes_ / "killed.txt";
  const std::string cmd = "cd '" + homes_.string() + "' && exec env DEVICE_URI=quillon:/ QUILLON_BACKEND_HOMES='" +
                          homes_.string() + "' TMPDIR='" + TempFolder().string() + "' '" + kBackend + "' 42 '" + mine +
                          "' t 1 '' '" + (homes_ / "loop.ps").string() + "' 2> '" + log.string() + "'";
  const pid_t backend = ::fork();
  if (backend == 0) {
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  pid_t child = 0;
  for (int i = 0; i < 1500 && !child; ++i, ::usleep(20000)) child = ConverterOf(backend);
  ASSERT_NE(child, 0);
  ::kill(child, SIGKILL);
  int st = 0;
  ASSERT_EQ(::waitpid(backend, &st, 0), backend);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 5) << Read(log);
  EXPECT_NE(Read(log).find("stopped by the system"), std::string::npos) << Read(log);

  // Nothing is left: no fax, no hidden copy in SEND, no converter folder.
  EXPECT_TRUE(Files().empty()) << *Files().begin();
  EXPECT_TRUE(ConverterFolders(TempFolder()).empty()) << *ConverterFolders(TempFolder()).begin();
}

TEST_F(Backend, CancelledJobStopsItsConverterAndCleansUp) {
  // CUPS cancels a job with SIGTERM to the backend while it converts.
  Write(homes_ / "loop.ps", "%!PS\n{} loop\n");
  fs::create_directories(TempFolder());
  GiveToPrinter(TempFolder());
  const fs::path log = homes_ / "log.txt";
  const std::string cmd = "cd '" + homes_.string() + "' && exec env DEVICE_URI=quillon:/ QUILLON_BACKEND_HOMES='" +
                          homes_.string() + "' TMPDIR='" + TempFolder().string() + "' '" + kBackend + "' 42 '" + Me() +
                          "' t 1 '' '" + (homes_ / "loop.ps").string() + "' 2> '" + log.string() + "'";
  const pid_t backend = ::fork();
  if (backend == 0) {
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  pid_t child = 0;
  for (int i = 0; i < 1500 && !child; ++i, ::usleep(20000)) child = ConverterOf(backend);
  ASSERT_NE(child, 0);
  // Mid-job: the hidden fax file and the converter's folder exist now.
  EXPECT_FALSE(ConverterFolders(TempFolder()).empty());
  const auto start = std::chrono::steady_clock::now();
  ::kill(backend, SIGTERM);
  int st = 0;
  ASSERT_EQ(::waitpid(backend, &st, 0), backend);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0) << Read(log);
  EXPECT_NE(Read(log).find("the job was cancelled"), std::string::npos) << Read(log);
  EXPECT_NE(::kill(child, 0), 0);  // the converter went with the job
  EXPECT_TRUE(Files().empty()) << *Files().begin();
  EXPECT_TRUE(ConverterFolders(TempFolder()).empty());

  // Cancelled while the document still arrives on standard input.
  const fs::path fifo = homes_ / "in.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR);  // keeps the pipe open, never ends it
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "%!PS\n", 5), 5);
  const std::string reading = "cd '" + homes_.string() + "' && exec env DEVICE_URI=quillon:/ QUILLON_BACKEND_HOMES='" +
                              homes_.string() + "' '" + kBackend + "' 43 '" + Me() + "' t 1 '' < '" + fifo.string() +
                              "' 2> '" + log.string() + "'";
  const pid_t reader = ::fork();
  if (reader == 0) {
    ::execl("/bin/sh", "sh", "-c", reading.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 1500 && Read(log).find("Making a fax") == std::string::npos; ++i) ::usleep(20000);
  ::usleep(100000);
  ::kill(reader, SIGTERM);
  ASSERT_EQ(::waitpid(reader, &st, 0), reader);
  ::close(writer);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0) << Read(log);
  EXPECT_NE(Read(log).find("the job was cancelled"), std::string::npos) << Read(log);
  EXPECT_TRUE(Files().empty()) << *Files().begin();
}

TEST_F(Backend, LeftOversOfKilledJobsAreSwept) {
  // A backend killed outright leaves its hidden copy in SEND and a converter
  // folder; the next job and the program's pick-up remove those of processes
  // that are gone, and keep those of a job still running.
  fs::create_directories(SendFolder());
  fs::create_directories(TempFolder());
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string dead = std::to_string(gone), alive = std::to_string(::getpid());
  Write(SendFolder() / (".qnprint-" + dead + "-abcdef"), std::string(100000, 'x'));
  Write(SendFolder() / (".qnprint-" + alive + "-abcdef"), "running");
  fs::create_directories(TempFolder() / ("qnps-" + dead + "-abcdef"));
  Write(TempFolder() / ("qnps-" + dead + "-abcdef") / "page-1.pdf", "x");
  GiveToPrinter(homes_ / Me());  // as the printing user's own jobs would have left them
  GiveToPrinter(TempFolder());
  Write(homes_ / "doc.ps", PostScript(1));
  ASSERT_EQ(Print(Me(), "t", (homes_ / "doc.ps").string()).status, 0);
  EXPECT_FALSE(fs::exists(SendFolder() / (".qnprint-" + dead + "-abcdef")));
  EXPECT_TRUE(fs::exists(SendFolder() / (".qnprint-" + alive + "-abcdef")));
  EXPECT_FALSE(fs::exists(TempFolder() / ("qnps-" + dead + "-abcdef")));

  // The pick-up at the program's start does the same in its own SEND folder;
  // an hour-old file goes even when its number belongs to a running process.
  Write(SendFolder() / (".qnprint-" + dead + "-second"), "x");
  // The program sweeps its own user's files: when the test prints as another
  // account than it runs as, the left-over job file becomes the test's own.
  ASSERT_EQ(::chown((SendFolder() / (".qnprint-" + alive + "-abcdef")).c_str(), ::getuid(), ::getgid()), 0);
  fs::last_write_time(SendFolder() / (".qnprint-" + alive + "-abcdef"),
                      fs::file_time_type::clock::now() - std::chrono::hours(2));
  setenv("QUILLON_HOME", program_.c_str(), 1);
  qn::ResetProgramFolder();
  xb::Table fax;
  ASSERT_TRUE(records::OpenFaxDBF(fax, qn::ProgramFolder(), ""));
  const faxprep::PickUpReport report = faxprep::PickUpPrintedFaxes(fax);
  fax.close();
  unsetenv("QUILLON_HOME");
  qn::ResetProgramFolder();
  EXPECT_EQ(report.added, 1);
  EXPECT_GE(report.swept, 2u);
  EXPECT_FALSE(fs::exists(SendFolder() / (".qnprint-" + dead + "-second")));
  EXPECT_FALSE(fs::exists(SendFolder() / (".qnprint-" + alive + "-abcdef")));
}

TEST_F(Backend, FullDiskAsksCupsToRetry) {
  // SEND on a 100 KB file system, in a mount namespace of the backend's own.
  if (::geteuid() != 0 || std::system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "needs root for a mount";
  fs::create_directories(SendFolder());
  // A page of grey tint codes to far more than 100 KB.
  Write(homes_ / "grey.ps", "%!PS\n0.5 setgray 0 0 612 792 rectfill showpage\n");
  const std::string wrap = "unshare -m sh -c \"mount -t tmpfs -o size=100k tmpfs '" + SendFolder().string() +
                           "' && \\\"\\$0\\\" \\\"\\$@\\\"\"";
  const JobRun r = Print(Me(), "t", (homes_ / "grey.ps").string(), false, "", wrap);
  EXPECT_EQ(r.status, 6) << r.log;  // CUPS_BACKEND_RETRY: the job stays for a later try
  EXPECT_NE(r.log.find("is full"), std::string::npos) << r.log;
  EXPECT_TRUE(Files().empty());
}

TEST_F(Backend, PrinterJobLanguageAndChattyProgramsAreFaxed) {
  // PostScript behind a PJL header (as many drivers send it), and a program
  // that prints far more than 4 KB on its standard output before its page.
  Write(homes_ / "pjl.prn", "\x1b%-12345X@PJL JOB NAME=\"t\"\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n" + PostScript(2) +
                                "\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X");
  JobRun r = Print(Me(), "pjl", (homes_ / "pjl.prn").string());
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_NE(r.log.find("2 pages faxed"), std::string::npos) << r.log;
  Write(homes_ / "chatty.ps",
        "%!PS\n1 1 400 { (chatter chatter chatter chatter\\n) print pop } for\n" + PostScript(1).substr(5));
  r = Print(Me(), "chatty", (homes_ / "chatty.ps").string(), true);
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_NE(r.log.find("1 page faxed"), std::string::npos) << r.log;
}

}  // namespace
