// Pages of an outgoing fax and their byte streams; see send_pages.h.
#include "send_pages.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "fe_errors.h"
#include "mh_codec.h"
#include "send_text.h"
#include "t30.h"

namespace fe {

namespace {
constexpr size_t kBlock = 4096;

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

int HeaderPageNumber(const std::vector<TSendPage>& pages, size_t idx) {
  const bool hasCover = !pages.empty() && pages.front().number == 0;
  return pages[idx].number + (hasCover ? 1 : 0);
}

bool CoverIsApf(const std::string& coverFile, const std::string& ext) {
  std::string dotExt(1, '.');  // appended: GCC 12 at -O3 sees a false overlap in "." + std::string
  dotExt += Upper(ext);
  return Upper(coverFile).find(dotExt) != std::string::npos;
}

int ListFaxPages(const std::string& faxFile, const std::string& coverFile, const std::string& ext,
                 std::vector<TSendPage>& pages) {
  pages.clear();
  if (faxFile.empty() && coverFile.empty()) return -ecNoFilename;
  bool firstFine = false;
  std::vector<TSendPage> body;
  if (!faxFile.empty()) {
    TApfReader r;
    int rc = r.Open(faxFile);
    if (rc < 0) return rc;
    for (unsigned n = 1; n <= r.PageCount(); ++n) {
      TApfPageInfo info;
      rc = r.LocatePage(n, &info);
      if (rc < 0) return rc;
      TSendPage p;
      p.file = faxFile;
      p.filePage = n;
      p.fine = info.highRes();
      p.wide = info.wide();
      p.number = static_cast<int>(n);
      body.push_back(p);
    }
    if (!body.empty()) firstFine = body.front().fine;
  }
  if (!coverFile.empty()) {
    TSendPage c;
    c.file = coverFile;
    c.number = 0;
    if (CoverIsApf(coverFile, ext)) {
      TApfReader r;
      int rc = r.Open(coverFile);
      if (rc < 0) return rc;
      TApfPageInfo info;
      rc = r.LocatePage(1, &info);
      if (rc < 0) return rc;
      c.fine = info.highRes();
      c.wide = info.wide();
    } else {
      std::ifstream f(coverFile, std::ios::binary);
      if (!f) return -ecFileNotFound;
      c.kind = TSendPage::kTextCover;
      c.fine = firstFine;
    }
    pages.push_back(c);
  }
  pages.insert(pages.end(), body.begin(), body.end());
  if (pages.empty()) return -ecNoFilename;
  return 0;
}

int TPageStream::Open(const TSendPage& page, const std::string& headerText, int minLine, TextLineRenderer* enhHeader,
                      TextLineRenderer* enhText) {
  page_ = page;
  minLine_ = minLine;
  header_.clear();
  headerSent_ = headerText.empty();
  data_.clear();
  pos_ = 0;
  done_ = 0;
  textLines_.clear();
  textLine_ = 0;
  rtcSent_ = false;
  if (!headerText.empty()) {
    int rc = BuildHeaderBlock(header_, headerText, page.fine, page.wide, minLine, enhHeader);
    if (rc < 0) return rc;
  }
  if (page.kind == TSendPage::kApfPage) {
    TApfReader r;
    int rc = r.Open(page.file);
    if (rc < 0) return rc;
    TApfPageInfo info;
    rc = r.ReadPage(page.filePage, &info, &data_);
    if (rc < 0) return rc;
    records_ = info.lineRecords();
    length_ = static_cast<long>(data_.size());
    return 0;
  }
  std::ifstream f(page.file, std::ios::binary);
  if (!f) return -ecFileNotFound;
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  length_ = static_cast<long>(text.size());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::string expanded;
    for (char c : line) {
      if (c == '\t') expanded.append(8 - expanded.size() % 8, ' ');
      else if (c != '\f') expanded += c;
    }
    textLines_.push_back(DecodeTextBytes(reinterpret_cast<const uint8_t*>(expanded.data()), expanded.size()));
    start = end;
    if (start < text.size() && text[start] == '\r') ++start;
    if (start < text.size() && text[start] == '\n') ++start;
  }
  textRenderer_ = enhText;
  if (!textRenderer_) {
    auto own = std::make_unique<FontLineRenderer>();
    int rc = own->Init(ffStandard, page.fine, page.wide ? 2048 : 1728, 0);
    if (rc < 0) return rc;
    ownRenderer_ = std::move(own);
    textRenderer_ = ownRenderer_.get();
  }
  return 0;
}

int TPageStream::NextApf(std::vector<uint8_t>& plain) {
  if (pos_ >= data_.size()) return 0;
  if (!records_) {
    size_t n = std::min(kBlock, data_.size() - pos_);
    plain.assign(data_.begin() + static_cast<long>(pos_), data_.begin() + static_cast<long>(pos_ + n));
    pos_ += n;
    done_ = static_cast<long>(pos_);
    return 1;
  }
  // Several records make one block, so that each write carries a useful amount.
  while (pos_ + 2 <= data_.size() && plain.size() < kBlock) {
    size_t n = data_[pos_] | static_cast<size_t>(data_[pos_ + 1]) << 8;
    pos_ += 2;
    n = std::min(n, data_.size() - pos_);
    size_t take = std::min(n, kBlock);
    plain.insert(plain.end(), data_.begin() + static_cast<long>(pos_), data_.begin() + static_cast<long>(pos_ + take));
    for (size_t k = take; static_cast<int>(k) < minLine_; ++k) plain.push_back(0);
    pos_ += n;
  }
  if (pos_ + 2 > data_.size()) pos_ = data_.size();
  done_ = static_cast<long>(pos_);
  return plain.empty() ? 0 : 1;
}

int TPageStream::NextText(std::vector<uint8_t>& plain) {
  if (textLine_ < textLines_.size()) {
    unsigned width = page_.wide ? 2048 : 1728;
    while (textLine_ < textLines_.size() && plain.size() < kBlock) {
      int rc = AppendTextLines(plain, *textRenderer_, textLines_[textLine_++], width, minLine_);
      if (rc < 0) return rc;
    }
    done_ = length_ * static_cast<long>(textLine_) / static_cast<long>(textLines_.size());
    return 1;
  }
  if (rtcSent_) return 0;
  rtcSent_ = true;
  uint8_t rtc[kRtcRecordLength];
  size_t n = MhEncodeRtc(rtc);
  plain.assign(rtc, rtc + n);
  done_ = length_;
  return 1;
}

int TPageStream::Next(std::vector<uint8_t>& block) {
  block.clear();
  std::vector<uint8_t> plain;
  int rc;
  if (!headerSent_) {
    headerSent_ = true;
    plain.swap(header_);
    rc = 1;
  } else {
    rc = page_.kind == TSendPage::kApfPage ? NextApf(plain) : NextText(plain);
  }
  if (rc <= 0) return rc;
  block.reserve(plain.size() + plain.size() / 16);
  t30::AppendStuffed(block, plain.data(), plain.size());
  return 1;
}

}  // namespace fe
