#include "recv_fixture.h"

#include <random>

#include "mh_codec.h"
#include "t30.h"

namespace recvtest {

bool Contains(const std::vector<int>& v, int x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

std::string CodedPage(int lines, unsigned seed, std::vector<std::vector<std::uint8_t>>* rasters) {
  std::mt19937 rng(seed);
  std::string out;
  std::vector<std::uint8_t> line(216), coded(fe::kMaxCodedLine);
  for (int y = 0; y < lines; ++y) {
    std::fill(line.begin(), line.end(), 0);
    // A few black bars per line, some at the edges, so that both colours and
    // make-up codes occur and coded bytes take every value, DLE included.
    for (int k = 0; k < 4; ++k) {
      const unsigned x0 = rng() % 1728, len = 1 + rng() % 300;
      for (unsigned x = x0; x < std::min(1728u, x0 + len); ++x) line[x / 8] |= 0x80 >> (x % 8);
    }
    if (y % 7 == 0) line[0] |= 0x80;
    if (rasters) rasters->push_back(line);
    const std::size_t n = fe::MhEncodeLine(line.data(), 1728, 1728, false, coded.data());
    out.append(reinterpret_cast<const char*>(coded.data()), n);
  }
  const std::size_t n = fe::MhEncodeRtc(coded.data());
  out.append(reinterpret_cast<const char*>(coded.data()), n);
  return out;
}

std::string CodedPageWithBadLines(int lines, unsigned seed, const std::vector<int>& bad,
                                  std::vector<std::vector<std::uint8_t>>* rasters) {
  std::vector<std::vector<std::uint8_t>> all;
  CodedPage(lines, seed, &all);
  std::string out;
  std::vector<std::uint8_t> coded(fe::kMaxCodedLine), wide(256);
  for (int y = 0; y < lines; ++y) {
    if (std::find(bad.begin(), bad.end(), y) == bad.end()) {
      const std::size_t n = fe::MhEncodeLine(all[y].data(), 1728, 1728, false, coded.data());
      out.append(reinterpret_cast<const char*>(coded.data()), n);
      if (rasters) rasters->push_back(all[y]);
      continue;
    }
    std::copy(all[y].begin(), all[y].end(), wide.begin());
    const std::size_t n = fe::MhEncodeLine(wide.data(), 2048, 2048, false, coded.data());
    out.append(reinterpret_cast<const char*>(coded.data()), n);
  }
  const std::size_t n = fe::MhEncodeRtc(coded.data());
  out.append(reinterpret_cast<const char*>(coded.data()), n);
  return out;
}

std::vector<std::vector<std::uint8_t>> DecodePage(const std::string& file, unsigned n) {
  fe::TApfReader r;
  std::vector<std::vector<std::uint8_t>> lines;
  if (r.Open(file) != 0) return lines;
  fe::TApfPageInfo info;
  std::vector<std::uint8_t> data;
  if (r.ReadPage(n, &info, &data) != 0) return lines;
  fe::MhDecodePage(data.data(), data.size(), info.lineRecords(), info.widthPixels(),
                   [&](const std::uint8_t* line, unsigned bytes) {
                     lines.emplace_back(line, line + bytes);
                     return true;
                   });
  return lines;
}

void RecvFixture::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir = fs::temp_directory_path() / ("qn-recv-" + std::to_string(::getpid()) + "-" + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  modem.SetExpectTimeout(15s);
  rx.DestinationDir = dir.string();
  rx.FaxClass = fe::TFaxClass::fcClass1;
  rx.StationID = "Quillon rx";
  rx.OneFax = true;
  rx.OnFaxStatus = [this](fe::TFeAbstractFax& f, bool first, bool last) {
    std::lock_guard<std::mutex> lk(ev.mu);
    ev.statuses.push_back(f.Status());
    if (first || last) ev.flagged.push_back(std::to_string(f.Status()) + (first ? "F" : "") + (last ? "L" : ""));
  };
  rx.OnFaxLog = [this](fe::TFeAbstractFax&, int code) {
    std::lock_guard<std::mutex> lk(ev.mu);
    ev.logs.push_back(code);
  };
  rx.OnFaxError = [this](fe::TFeAbstractFax&, int code) {
    std::lock_guard<std::mutex> lk(ev.mu);
    ev.errors.push_back(code);
  };
  rx.OnFaxFinish = [this](fe::TFeAbstractFax&, int code) {
    std::lock_guard<std::mutex> lk(ev.mu);
    ev.finish = code;
  };
}

void RecvFixture::TearDown() {
  rx.Cancel();
  rx.WaitDone(5000);
  modem.Stop();
  rx.SetComPort(nullptr);
  link.reset();
  port.SetOpen(false);
  fs::remove_all(dir);
}

void RecvFixture::Open() {
  port.SetDevicePath(modem.DevicePath());
  ASSERT_EQ(port.SetOpen(true), 0);
  link = std::make_unique<fe::TComPortLink>(port);
  rx.SetComPort(link.get());
  modem.Start();
}

void RecvFixture::Class1Prep(const std::string& modulations) {
  modem.Answer("ATE0Q0V1X4S0=0S2=43")
      .Answer("AT+FCLASS=1")
      .Expect("AT+FTM=?")
      .Reply(modulations)
      .Reply("OK")
      .Expect("AT+FRM=?")
      .Reply(modulations)
      .Reply("OK")
      .Answer("AT+FCLASS=1");
}

void RecvFixture::Class1Answer(int rings) {
  modem.Ring(rings, 100ms)
      .Expect("ATA")
      .Reply("CONNECT")
      .ExpectData()  // CSI
      .Reply("CONNECT")
      .ExpectData()  // DIS
      .Reply("OK");
}

void RecvFixture::Class1CallerFrames(const std::string& tsi, int bps, bool fine) {
  fe::t30::DcsParams p;
  p.bps = bps;
  p.fine = fine;
  Class1CallerFrames(tsi, p);
}

void RecvFixture::Class1CallerFrames(const std::string& tsi, const fe::t30::DcsParams& p) {
  modem.Expect("AT+FRH=3")
      .Reply("CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfTSI | 1, fe::t30::EncodeId(tsi), false))
      .Reply("OK")
      .Expect("AT+FRH=3")
      .Reply("CONNECT")
      .Frame(HdlcFrame(fe::t30::fcfDCS | 1, fe::t30::BuildDcs(p)))
      .Reply("OK");
}

std::vector<std::string> RecvFixture::Files() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace recvtest
