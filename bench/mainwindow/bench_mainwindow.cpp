// Main window benchmark on the offscreen platform: the time from creating the
// window to its first complete paint with empty tables and with N records in
// each fax list, the memory of the process with the full lists, the slowest
// step while paging through the outgoing list and the time of a change of
// sort order. Each case runs in its own process so that its memory and start
// are its own.
//
//   bench-mainwindow          100 000 records in each list
//   bench-mainwindow N        N records in each list
//   bench-mainwindow --make DIR N, then --case DIR: one case on a kept folder
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/main/hooks.h"
#include "app/main/main_screen.h"
#include "common/folders.h"
#include "common/ini_file.h"
#include "records/record_tables.h"
#include "records/ui/record_grid.h"
#include "xbase/xb_env.h"

namespace {

// Resident memory of this process in kB ("VmRSS" or "VmHWM" of /proc/self/status).
long MemoryKb(const char* key) {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QByteArray wanted = QByteArray(key) + ':';
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith(wanted)) return line.mid(wanted.size()).trimmed().split(' ').first().toLong();
  return 0;
}

// A program folder with both fax tables in their full layout and n records each.
void MakeFolder(const std::string& dir, uint32_t n) {
  std::filesystem::create_directories(dir);
  {
    qn::IniFile ini(dir + "/QN.INI");
    ini.WriteInteger("Modem", "ComPort", 1);
    ini.Flush();
  }
  xb::setDeleted(true);
  xb::setCentury(true);
  xb::Table fax, rec;
  if (!records::OpenFaxDBF(fax, dir, "") || !records::OpenRecFaxDBF(rec, dir)) {
    std::fprintf(stderr, "cannot create the tables in %s\n", dir.c_str());
    std::exit(1);
  }
  fax.createTag("DATEND", "DTOS(DATESENT)+TIMESENT", records::kNotDeleted, false);
  rec.createTag("DATEND", "DTOS(DATEREC)+TIMEREC", records::kNotDeleted, false);
  std::mt19937 rng(7);
  const char* words[] = {"Invoice", "Order", "Quote", "Meeting", "Contract", "Re:", "Delivery", "Offer"};
  auto date = [&] {
    char d[16];
    std::snprintf(d, sizeof d, "20%02u%02u%02u", unsigned(10 + rng() % 16), unsigned(1 + rng() % 12),
                  unsigned(1 + rng() % 28));
    return std::string(d);
  };
  auto time = [&] {
    char t[8];
    std::snprintf(t, sizeof t, "%02u:%02u", unsigned(rng() % 24), unsigned(rng() % 60));
    return std::string(t);
  };
  for (uint32_t i = 0; i < n; ++i) {
    fax.appendBlank();
    fax.setString("SUBJECT", std::string(words[rng() % 8]) + " " + std::to_string(rng() % 100000));
    fax.setString("RECIPIENT", std::string(words[rng() % 8]) + " Ltd " + std::to_string(rng() % 5000));
    fax.setString("PHONE", std::to_string(5550000 + rng() % 10000));
    fax.setString("FAXDOC", "FAX" + std::to_string(10000 + i % 90000) + ".APF");
    fax.setDate("DATESENT", date());
    fax.setString("TIMESENT", time());
    fax.setLogical("ARCHIVED", rng() % 10 == 0);
    rec.appendBlank();
    rec.setDate("DATEREC", date());
    rec.setString("TIMEREC", time());
    rec.setString("FROM", std::string(words[rng() % 8]) + " " + std::to_string(rng() % 5000));
    rec.setNumber("PAGES", 1 + rng() % 9);
    rec.setString("FAXFILE", "REC" + std::to_string(10000 + i % 90000) + ".APF");
    rec.setLogical("ARCHIVED", rng() % 10 == 0);
    if (fax.post() != 0 || rec.post() != 0) {
      std::fprintf(stderr, "post failed: %s %s\n", fax.lastError().c_str(), rec.lastError().c_str());
      std::exit(1);
    }
  }
}

// One case, in this process: prints "start=<s> rss=<kB> hwm=<kB> scroll=<s> sort=<s>".
int RunCase(int argc, char** argv, const std::string& dir) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QUILLON_HOME", QByteArray::fromStdString(dir));
  QApplication app(argc, argv);
  qn::ResetProgramFolder();
  QElapsedTimer clock;
  clock.start();
  auto w = std::make_unique<qn::TMainScreen>();
  const double created = clock.nsecsElapsed() * 1e-9;
  QSignalSpy done(w.get(), &qn::TMainScreen::FirstActivationDone);
  w->show();
  const double shown = clock.nsecsElapsed() * 1e-9;
  if (!w->TablesOpen() || !(done.count() > 0 || done.wait(60000))) {
    std::fprintf(stderr, "the main window did not start\n");
    return 1;
  }
  const double activated = clock.nsecsElapsed() * 1e-9;
  w->repaint();  // the first complete paint, grids included
  QCoreApplication::processEvents();
  const double start = clock.nsecsElapsed() * 1e-9;
  if (qEnvironmentVariableIsSet("QN_BENCH_PHASES"))
    std::fprintf(stderr, "created %.4f shown %.4f activated %.4f painted %.4f\n", created, shown, activated, start);
  const long rss = MemoryKb("VmRSS");

  // Paging through the outgoing list: the slowest step (key, move, paint).
  qn::TRecordGrid* grid = w->FaxGrid;
  grid->setFocus();
  double scroll = 0;
  for (int i = 0; i < 60; ++i) {
    clock.restart();
    QTest::keyClick(grid, i < 40 ? Qt::Key_PageDown : Qt::Key_End, Qt::NoModifier);
    grid->repaint();
    scroll = std::max(scroll, clock.nsecsElapsed() * 1e-9);
    if (i >= 40) QTest::keyClick(grid, Qt::Key_Home, Qt::NoModifier);
  }
  // A change of sort order and its paint, the slowest of the three orders.
  double sort = 0;
  for (QAction* a : {w->mnuSubject, w->mnuRecipient, w->mnuDateSent}) {
    clock.restart();
    a->trigger();
    grid->repaint();
    sort = std::max(sort, clock.nsecsElapsed() * 1e-9);
  }
  std::printf("start=%.4f rss=%ld hwm=%ld scroll=%.4f sort=%.4f rows=%d\n", start, rss, MemoryKb("VmHWM"), scroll, sort,
              grid->model()->rowCount());
  std::fflush(stdout);
  w->close();
  return 0;
}

struct Result {
  double start = 0, scroll = 0, sort = 0;
  long rss = 0, hwm = 0;
  int rows = 0;
};

// Runs one case in a child process and reads its line.
Result RunChild(const char* self, const std::string& dir) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    execl(self, self, "--case", dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t got; (got = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(got));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  if (std::sscanf(out.c_str(), "start=%lf rss=%ld hwm=%ld scroll=%lf sort=%lf rows=%d", &r.start, &r.rss, &r.hwm,
                  &r.scroll, &r.sort, &r.rows) != 6) {
    std::fprintf(stderr, "case %s failed: %s\n", dir.c_str(), out.c_str());
    std::exit(1);
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--case") return RunCase(argc, argv, argv[2]);
  if (argc == 4 && std::string(argv[1]) == "--make") {  // a folder to profile one case on
    MakeFolder(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    return 0;
  }
  const uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 100000;
  char tmpl[] = "/tmp/qn-bench-mainwindow-XXXXXX";
  const std::string base = ::mkdtemp(tmpl);
  const std::string empty = base + "/empty", full = base + "/full";
  MakeFolder(empty, 0);
  MakeFolder(full, n);
  // The best of three starts of each: the machine's other work only ever adds time.
  Result r0, rn;
  r0.start = rn.start = 1e9;
  for (int i = 0; i < 3; ++i) {
    Result a = RunChild(argv[0], empty), b = RunChild(argv[0], full);
    if (a.start < r0.start) r0 = a;
    if (b.start < rn.start) rn = b;
  }
  std::filesystem::remove_all(base);
  std::printf("first paint, empty tables:        %8.3f s   memory %6.1f MB (peak %6.1f MB)\n", r0.start,
              r0.rss / 1024.0, r0.hwm / 1024.0);
  std::printf("first paint, %u records each:  %8.3f s   memory %6.1f MB (peak %6.1f MB), %d rows shown\n", n, rn.start,
              rn.rss / 1024.0, rn.hwm / 1024.0, rn.rows);
  std::printf("memory for the lists:              %6.1f MB (peak %6.1f MB)\n", (rn.rss - r0.rss) / 1024.0,
              (rn.hwm - r0.hwm) / 1024.0);
  std::printf("slowest page step:                 %8.4f s\n", rn.scroll);
  std::printf("slowest change of sort order:      %8.4f s\n", rn.sort);
  std::printf("ratio start%uk/start0=%.2f\n", n / 1000, rn.start / r0.start);
  return 0;
}
