// Times `qnfax convert` and efax's `efix -i text -o fax` on the same 200-page
// plain-text document at fine resolution (best of several runs each), and
// `qnfax unpack` turning the resulting pages into a multi-page image file.
// Both the elapsed time and the processor time (user + system) of each command
// are measured; on a shared, loaded machine the processor time is the steadier
// figure, so the ratio is taken from it. Last line:
// ratio convert=<efix CPU time / qnfax CPU time> ...
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_time.h"

namespace {

namespace fs = std::filesystem;
using bench::Timing;

constexpr int kPages = 200, kLinesPerPage = 60, kRuns = 5;

Timing Best(const std::vector<std::string>& args) {
  return bench::Best(args, kRuns);
}

}  // namespace

int main(int, char** argv) {
  const fs::path bin = fs::absolute(argv[0]).parent_path();
  const fs::path dir = fs::temp_directory_path() / ("qn-bench-convert-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string text = (dir / "doc.txt").string();
  {
    std::ofstream out(text);
    const char* words[] = {"fax",     "modem",    "page",  "line",  "Huffman",    "station",
                           "receive", "transmit", "cover", "sheet", "resolution", "quick",
                           "brown",   "fox",      "ECM",   "T.30",  "96",         "14400"};
    unsigned seed = 12345;
    for (int p = 0; p < kPages; ++p)
      for (int l = 0; l < kLinesPerPage; ++l) {
        std::string line = std::to_string(p + 1) + "." + std::to_string(l + 1) + "\t";
        while (line.size() < 72) {
          seed = seed * 1103515245 + 12345;
          line += words[(seed >> 16) % (sizeof words / sizeof *words)];
          line += ' ';
        }
        out << line << "\n";
      }
  }
  const std::string qnfax = (bin / "qnfax").string(), apf = (dir / "doc.apf").string();
  const Timing ours = Best({qnfax, "convert", text, "-o", apf, "--fine", "--lines-per-page", "60"});
  const Timing efix =
      Best({"efix", "-i", "text", "-o", "fax", "-l", "60", "-r", "204x196", "-n", (dir / "efix.%03d").string(), text});
  const Timing unpack = Best({qnfax, "unpack", apf, "-o", (dir / "doc.dcx").string()});
  std::error_code ec;
  const auto pages = std::count_if(fs::directory_iterator(dir), fs::directory_iterator(),
                                   [](const auto& e) { return e.path().filename().string().rfind("efix.", 0) == 0; });
  fs::remove_all(dir, ec);
  if (ours.wall < 0 || efix.wall < 0 || unpack.wall < 0) {
    std::fprintf(stderr, "bench-convert: a command failed\n");
    return 1;
  }
  std::printf("document: %d pages of %d text lines, fine resolution (best of %d runs)\n", kPages, kLinesPerPage, kRuns);
  std::printf("qnfax convert:        %.3f s elapsed, %.3f s CPU\n", ours.wall, ours.cpu);
  std::printf("efix -i text -o fax:  %.3f s elapsed, %.3f s CPU (%ld pages)\n", efix.wall, efix.cpu, long(pages));
  std::printf("qnfax unpack to DCX:  %.3f s elapsed, %.3f s CPU\n", unpack.wall, unpack.cpu);
  std::printf("ratio convert=%.2f convert_wall=%.2f unpack_s=%.3f unpack_cpu_s=%.3f\n", efix.cpu / ours.cpu,
              efix.wall / ours.wall, unpack.wall, unpack.cpu);
  return 0;
}
