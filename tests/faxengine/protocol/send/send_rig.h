// A send engine on a real port, with what its events reported, for the send
// engine tests (scripted modem and simulated fax line).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "apf_writer.h"
#include "comport_link.h"
#include "fe_comport.h"
#include "fe_faxlog.h"
#include "send_fax.h"

namespace fe::test {

// Raster of a test page: a few black bars whose place depends on the line and seed.
inline std::vector<uint8_t> TestLine(unsigned widthPixels, unsigned line, unsigned seed) {
  std::vector<uint8_t> r(widthPixels / 8, 0);
  unsigned x = (line * 37 + seed * 101) % (widthPixels - 64);
  for (unsigned k = 0; k < 24 + (line + seed) % 17; ++k) r[(x + k) / 8] |= static_cast<uint8_t>(0x80 >> ((x + k) % 8));
  if (line % 9 == seed % 9) r[0] |= 0x80;  // some lines start black
  return r;
}

// Writes an APF file of pages with the given flags and lines per page.
inline void MakeFax(const std::string& path, const std::vector<uint16_t>& pageFlags, unsigned lines,
                    unsigned seed = 1) {
  TApfWriter w;
  ASSERT_EQ(w.Create(path), 0);
  for (size_t p = 0; p < pageFlags.size(); ++p) {
    uint16_t flags = pageFlags[p] | pfLineRecords;
    ASSERT_EQ(w.BeginPage(flags), 0);
    unsigned width = PageWidthPixels(flags);
    for (unsigned l = 0; l < lines; ++l) {
      auto r = TestLine(width, l, seed + static_cast<unsigned>(p));
      ASSERT_EQ(w.AppendRasterLine(r.data(), width), 0);
    }
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Close(), 0);
}

inline std::string TempDir(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / ("qn-send-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

// A history file as read back, each date and time written since `since` shown as "<T>".
inline std::string HistoryText(const std::string& path, std::time_t since) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::time_t t = since - 1; t <= std::time(nullptr) + 1; ++t) {
    const std::string at = FormatDateTime(t);
    for (size_t pos; !at.empty() && (pos = text.find(at)) != std::string::npos;) text.replace(pos, at.size(), "<T>");
  }
  return text;
}

// The engine, its port and everything its events said.
struct SendRig {
  TFeComPort port;
  std::unique_ptr<TComPortLink> link;
  TFeFaxLog history;
  TFeSendFax fax;
  std::mutex mu;
  std::vector<int> statuses, errors, finishes, logs;  // statuses: all but the last update
  int firsts = 0, lasts = 0;

  explicit SendRig(const std::string& device) {
    port.SetDevicePath(device);
    port.SetPromptForPort(false);
    port.SetInSize(8192);
    port.SetOutSize(8192);
    EXPECT_EQ(port.SetOpen(true), 0);
    link = std::make_unique<TComPortLink>(port);
    fax.SetComPort(link.get());
    fax.OnFaxStatus = [this](TFeAbstractFax& cp, bool first, bool last) {
      std::lock_guard<std::mutex> lk(mu);
      if (first) ++firsts;
      if (last)
        ++lasts;
      else
        statuses.push_back(cp.Status());
    };
    fax.OnFaxError = [this](TFeAbstractFax&, int code) {
      std::lock_guard<std::mutex> lk(mu);
      errors.push_back(code);
    };
    fax.OnFaxFinish = [this](TFeAbstractFax&, int code) {
      std::lock_guard<std::mutex> lk(mu);
      finishes.push_back(code);
    };
    fax.OnFaxLog = [this](TFeAbstractFax&, int code) {
      std::lock_guard<std::mutex> lk(mu);
      logs.push_back(code);
    };
  }

  // Runs the send to its end; the finish codes it reported.
  std::vector<int> Run(std::chrono::seconds limit) {
    int rc = fax.StartSend();
    (void)rc;
    EXPECT_TRUE(fax.WaitDone(static_cast<int>(limit.count() * 1000))) << "state " << StateName(fax.State());
    std::lock_guard<std::mutex> lk(mu);
    EXPECT_EQ(firsts, 1);
    EXPECT_EQ(lasts, 1);
    return finishes;
  }

  int Count(const std::vector<int>& v, int code) {
    std::lock_guard<std::mutex> lk(mu);
    return static_cast<int>(std::count(v.begin(), v.end(), code));
  }
};

}  // namespace fe::test
