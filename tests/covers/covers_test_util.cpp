#include "covers_test_util.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdlib>
#include <fstream>

#include "apf_reader.h"
#include "mh_codec.h"

namespace covers_test {

void EnsureApp() {
  if (!QGuiApplication::instance()) std::abort();  // main() makes it
}

std::filesystem::path TempDir(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / ("qn-covers-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

long Page::Ink(int x1, int y1, int x2, int y2) const {
  long n = 0;
  for (int y = std::max(y1, 0); y < std::min<int>(y2, static_cast<int>(rows.size())); ++y)
    for (int x = std::max(x1, 0); x < std::min<int>(x2, static_cast<int>(width)); ++x)
      if (black(static_cast<unsigned>(x), static_cast<unsigned>(y))) ++n;
  return n;
}

namespace {
std::vector<std::uint8_t> PageData(const std::string& apf, fe::TApfPageInfo& info) {
  fe::TApfReader r;
  std::vector<std::uint8_t> data;
  if (r.Open(apf) != 0 || r.ReadPage(1, &info, &data) != 0) return {};
  return data;
}
}  // namespace

bool DecodeFirstPage(const std::string& apf, Page& page) {
  fe::TApfPageInfo info;
  const auto data = PageData(apf, info);
  if (data.empty()) return false;
  page.width = info.wide() ? 2048 : 1728;
  page.highRes = info.highRes();
  page.rows.clear();
  fe::MhDecodePage(data.data(), data.size(), info.lineRecords(), page.width, [&](const std::uint8_t* line, unsigned) {
    page.rows.emplace_back(line, line + page.width / 8);
    return true;
  });
  return true;
}

bool DecodeWithFax2tiff(const std::string& apf, const std::string& workDir, Page& page) {
  fe::TApfPageInfo info;
  const auto data = PageData(apf, info);
  if (data.empty()) return false;
  std::vector<std::uint8_t> stream;
  if (info.lineRecords()) {
    for (std::size_t at = 0; at + 2 <= data.size();) {
      const std::size_t n = data[at] | (data[at + 1] << 8);
      stream.insert(stream.end(), data.begin() + static_cast<long>(at) + 2,
                    data.begin() + static_cast<long>(std::min(at + 2 + n, data.size())));
      at += 2 + n;
    }
  } else {
    stream = data;
  }
  const std::string raw = workDir + "/page.raw", tif = workDir + "/page.tif", pbm = workDir + "/page.pbm";
  std::ofstream(raw, std::ios::binary)
      .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
  const std::string cmd = "fax2tiff -1 -L -W -X 1728 -u -o " + tif + " " + raw + " >/dev/null 2>&1 && tifftopnm " +
                          tif + " > " + pbm + " 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  // A raw PBM: "P4", width, height, then rows of (width+7)/8 bytes, 1 = black.
  std::ifstream in(pbm, std::ios::binary);
  std::string magic;
  unsigned w = 0, h = 0;
  in >> magic >> w >> h;
  in.get();
  if (magic != "P4" || w == 0) return false;
  page.width = w;
  page.rows.assign(h, std::vector<std::uint8_t>((w + 7) / 8));
  for (auto& row : page.rows) in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size()));
  return static_cast<bool>(in);
}

}  // namespace covers_test

// The tests run inside one offscreen application that is closed before the
// program ends, so that its font caches go with it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
