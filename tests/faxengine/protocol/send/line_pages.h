// Pages and simulator-log readings shared by the real-time send tests and
// bench-send: APF files written from rasters, fine text pages set in the fax
// font, and what the receiving fax terminal logged about the session.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../../support/apf_pages.h"
#include "apf_writer.h"
#include "document_pages.h"
#include "fax_pages.h"

namespace fe::test {

using qntest::WriteApfPages;

// Fine pages of `rows` rows, 1728 pixels wide, as a document gives them: prose
// set in the fax font and an order form, taking turns; each prose page starts
// a quarter further into the text than the one before it.
inline std::vector<qn::sim::RasterPage> FineTextPages(int count, unsigned rows) {
  const std::string text = fe::testing::SampleText();
  std::vector<qn::sim::RasterPage> pages;
  for (int i = 0; i < count; ++i) {
    const size_t quarter = text.find('\n', text.size() * static_cast<size_t>(i / 2 % 4) / 4);
    const TRasterImage img =
        i % 2 ? fe::testing::FormPage(1728, rows, true)
              : fe::testing::TextPage(quarter == std::string::npos ? text : text.substr(quarter + 1), 1728, rows, true);
    qn::sim::RasterPage p;
    p.width = static_cast<int>(img.width);
    p.fine = true;
    for (unsigned y = 0; y < img.height; ++y) p.rows.emplace_back(img.row(y), img.row(y) + img.stride());
    pages.push_back(std::move(p));
  }
  return pages;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The coding the receiving terminal chose from our DCS, as spandsp logs it
// ("T.4 1-D", "T.4 2-D", "T.6"); the last choice of the session.
inline std::string SelectedCoding(const std::string& simLog) {
  const std::string key = "Selected compression ";
  const size_t at = simLog.rfind(key);
  if (at == std::string::npos) return {};
  const size_t end = simLog.find(" (", at);
  return simLog.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

inline size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A number field ("bytes", "bad") of a terminal's result event; -1 when absent.
inline long ResultField(const std::string& result, const std::string& key) {
  const size_t at = result.find(" " + key + "=");
  return at == std::string::npos ? -1 : std::atol(result.c_str() + at + key.size() + 2);
}

}  // namespace fe::test
