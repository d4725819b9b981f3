// Table engine benchmark on the outgoing-fax table: append with all six tags
// maintained, rebuild of the six tags, a full ordered scan by each tag, a
// filtered count and a pack after deleting 10 %. Prints records per second for
// each step and, when both 100 000 and 1 000 000 are run, how the time grows
// against n log n.
//
//   bench-xbase              10 000 and 100 000 records
//   bench-xbase N [N ...]    the given sizes (1000000 for the large case)
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "records/record_tables.h"
#include "xbase/xb_env.h"
#include "xbase/xb_table.h"

namespace {

// Time of a step: processor time of this process (user and system), which the
// other programs on a shared machine disturb far less than the wall clock.
struct Clock {
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};

double seconds(double since) {
  return Clock::now() - since;
}

std::map<std::string, double> runSize(uint32_t n) {
  char tmpl[] = "/tmp/qn-bench-xbase-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  std::map<std::string, double> t;
  {
    xb::env() = xb::Env{};
    xb::setDeleted(true);
    xb::Table fax;
    if (!records::OpenFaxDBF(fax, dir, "", xb::OpenMode::Exclusive) ||
        fax.createTag("DATEND", "DTOS(DATESENT)+TIMESENT", records::kNotDeleted, false) != 0) {
      std::fprintf(stderr, "cannot create the table in %s\n", dir.c_str());
      std::exit(1);
    }
    std::mt19937 rng(42);
    const char* words[] = {"Invoice", "Order", "Quote", "Meeting", "Contract", "Re:", "Delivery", "Offer"};
    auto start = Clock::now();
    for (uint32_t i = 0; i < n; ++i) {
      fax.appendBlank();
      fax.setString("SUBJECT", std::string(words[rng() % 8]) + " " + std::to_string(rng() % 100000));
      fax.setString("RECIPIENT", std::string(words[rng() % 8]) + " Ltd " + std::to_string(rng() % 5000));
      fax.setString("PHONE", std::to_string(5550000 + rng() % 10000));
      fax.setString("CODES", "C" + std::to_string(rng() % 300));
      if (rng() % 5) {
        char date[16], time[8];
        std::snprintf(date, sizeof date, "20%02u%02u%02u", unsigned(10 + rng() % 16), unsigned(1 + rng() % 12),
                      unsigned(1 + rng() % 28));
        std::snprintf(time, sizeof time, "%02u:%02u", unsigned(rng() % 24), unsigned(rng() % 60));
        fax.setDate("DATESENT", date);
        fax.setString("TIMESENT", time);
      }
      fax.setLogical("ARCHIVED", rng() % 4 == 0);
      if (fax.post() != 0) {
        std::fprintf(stderr, "post failed: %s\n", fax.lastError().c_str());
        std::exit(1);
      }
    }
    t["append (6 tags kept)"] = seconds(start);

    start = Clock::now();
    fax.reindex();
    t["rebuild of the 6 tags"] = seconds(start);

    start = Clock::now();
    uint64_t visited = 0;
    for (int order = 1; order <= fax.tagCount(); ++order) {
      fax.setOrder(order);
      for (fax.goTop(); !fax.eof(); fax.skip()) ++visited;
    }
    t["ordered scan, each tag"] = seconds(start) / fax.tagCount();
    if (visited != static_cast<uint64_t>(n) * fax.tagCount())
      std::fprintf(stderr, "scan visited %llu\n", (unsigned long long)visited);

    start = Clock::now();
    fax.setOrder(0);
    fax.setFilter(".not. archived");
    uint32_t visible = fax.countVisible();
    t["filtered count"] = seconds(start);
    if (visible == 0 || visible == n) std::fprintf(stderr, "filtered count %u\n", visible);
    fax.setFilter("");

    start = Clock::now();
    for (uint32_t r = 1; r <= n; r += 10) {
      fax.go(r);
      fax.deleteRecord();
    }
    t["delete 10 %"] = seconds(start) * 10;  // per record deleted, scaled to n
    start = Clock::now();
    fax.pack();
    t["pack (and rebuild)"] = seconds(start);
    if (fax.recCount() != n - (n + 9) / 10) std::fprintf(stderr, "pack left %u\n", fax.recCount());
  }
  std::filesystem::remove_all(dir);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint32_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));
  if (sizes.empty()) sizes = {10000, 100000};
  std::map<uint32_t, std::map<std::string, double>> all;
  for (uint32_t n : sizes) {
    auto t = runSize(n);
    std::printf("%u records:\n", n);
    for (const auto& [step, secs] : t) std::printf("  %-24s %8.3f s  %12.0f records/s\n", step.c_str(), secs, n / secs);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("  %-24s %8ld MB so far\n", "peak memory", usage.ru_maxrss / 1024);
    std::fflush(stdout);
    all[n] = t;
  }
  if (all.count(100000) && all.count(1000000)) {
    double nlogn = 10.0 * std::log(1e6) / std::log(1e5);
    std::printf("growth 100000 -> 1000000 (n log n would be %.1fx):\n", nlogn);
    std::string last = "ratio";
    for (const auto& [step, secs] : all[1000000]) {
      double g = secs / all[100000][step];
      std::printf("  %-24s %6.1fx\n", step.c_str(), g);
      std::string key = step.substr(0, step.find(' '));
      last += " nlogn_over_growth_" + key + "=" + std::to_string(nlogn / g).substr(0, 4);
    }
    std::printf("%s\n", last.c_str());
  } else {
    std::printf("ratio none=1 (run with 100000 1000000 for the growth figures)\n");
  }
  return 0;
}
