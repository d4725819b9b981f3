// APF files: exact bytes written, page walking, joins, and files that lie.
#include <gtest/gtest.h>

#include <cstring>

#include "apf_reader.h"
#include "apf_writer.h"
#include "fe_errors.h"
#include "mh_codec.h"
#include "test_pages.h"

namespace fe {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::uint16_t Get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// Writes a file whose pages have the given flags and line counts (stripes of ink).
void WritePages(const std::string& path, const std::vector<std::pair<std::uint16_t, unsigned>>& pages,
                const std::string& station = "") {
  TApfWriter w;
  ASSERT_EQ(w.Create(path), 0);
  w.SetStationId(station);
  for (auto [flags, lines] : pages) {
    ASSERT_EQ(w.BeginPage(flags), 0);
    std::uint8_t line[256] = {};
    for (unsigned y = 0; y < lines; ++y) {
      line[y % 256] = static_cast<std::uint8_t>(y | 1);
      ASSERT_EQ(w.AppendRasterLine(line, PageWidthPixels(flags)), 0);  // raw pages get the coded stream
    }
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Close(), 0);
}

TEST(ApfFile, WriterStoresHeaderRecordsAndReturnToControlExactly) {
  TempDir dir;
  std::string path = dir.file("A.APF");
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 7;
  when.tm_hour = 8;
  when.tm_min = 3;
  when.tm_sec = 11;
  when.tm_isdst = -1;
  {
    TApfWriter w;
    ASSERT_EQ(w.Create(path), 0);
    w.SetStationId("ABC");
    w.SetFileTime(std::mktime(&when));
    ASSERT_EQ(w.BeginPage(pfHighRes | pfLineRecords), 0);
    std::uint8_t line[216] = {};
    ASSERT_EQ(w.AppendRasterLine(line, 1728), 0);  // all white
    line[0] = 0x80;
    ASSERT_EQ(w.AppendRasterLine(line, 1728), 0);  // one black pixel first
    ASSERT_EQ(w.EndPage(), 0);
    EXPECT_EQ(w.PageCount(), 1u);
    ASSERT_EQ(w.Close(), 0);
  }
  Bytes b = ReadBytes(path);
  ASSERT_EQ(b.size(), 64u + 16 + 8 + 9 + 14);
  EXPECT_EQ(0, std::memcmp(b.data(), "APF10\x1A", 6));
  EXPECT_EQ(Get32(b, 6), ((2026u - 1980) << 25 | 12u << 21 | 7u << 16 | 8u << 11 | 3u << 5 | 5u));
  EXPECT_EQ(b[10], 20);
  EXPECT_EQ(std::string(b.begin() + 11, b.begin() + 31), "ABC                 ");
  EXPECT_EQ(b[31], 0);
  EXPECT_EQ(Get16(b, 32), 1);
  EXPECT_EQ(Get32(b, 34), 64u);
  for (int i = 38; i < 64; ++i) EXPECT_EQ(b[i], 0) << i;
  // Page header: image length = sum of (2 + N), flags fine + line records.
  EXPECT_EQ(Get32(b, 64), 8u + 9 + 14);
  EXPECT_EQ(Get16(b, 68), 5);
  for (int i = 70; i < 80; ++i) EXPECT_EQ(b[i], 0);
  Bytes records(b.begin() + 80, b.end());
  Bytes expected = {0x06, 0x00, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00,                    // white 1728, white 0
                    0x07, 0x00, 0x00, 0x80, 0xAC, 0x32, 0x58, 0x00, 0x00,              // white 0, black 1, white 1727
                    0x0C, 0x00, 0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00,  // return to control
                    0x08, 0x80, 0x00};
  EXPECT_EQ(records, expected);
}

TEST(ApfFile, ReaderValidatesSignatureAndLocatesPagesByWalking) {
  TempDir dir;
  std::string path = dir.file("P.APF");
  WritePages(path, {{pfLineRecords, 10}, {pfHighRes | pfWide | pfLineRecords, 30}, {pfHighRes, 5}},
             "Station 12345678901234");
  TApfReader r;
  ASSERT_EQ(r.Open(path), 0);
  EXPECT_EQ(r.PageCount(), 3u);
  EXPECT_EQ(r.Header().stationId, "Station 123456789012");  // cut to 20
  for (unsigned k = 1; k <= 3; ++k) {
    unsigned before = r.PageHeaderReads();
    TApfPageInfo page;
    ASSERT_EQ(r.LocatePage(k, &page), 0);
    EXPECT_EQ(r.PageHeaderReads() - before, k);
    EXPECT_EQ(page.number, k);
    EXPECT_FALSE(page.truncated);
  }
  TApfPageInfo page;
  std::vector<std::uint8_t> data;
  ASSERT_EQ(r.ReadPage(2, &page, &data), 0);
  EXPECT_TRUE(page.wide() && page.highRes() && page.lineRecords());
  EXPECT_EQ(data.size(), page.header.imageLength);
  TMhDecodeStats st = MhDecodePage(data.data(), data.size(), true, page.widthPixels(), nullptr);
  EXPECT_EQ(st.lines, 30u);
  EXPECT_TRUE(st.clean() && st.rtc);
  ASSERT_EQ(r.ReadPage(3, &page, &data), 0);
  EXPECT_EQ(MhDecodePage(data.data(), data.size(), false, 1728, nullptr).lines, 5u);

  EXPECT_EQ(r.LocatePage(0, &page), -ecFaxBadFormat);
  EXPECT_EQ(r.LocatePage(4, &page), -ecFaxBadFormat);
  std::vector<TApfPageInfo> pages;
  ASSERT_EQ(r.ScanPages(&pages), 0);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[2].offset, pages[1].dataOffset + pages[1].header.imageLength);

  // Any one changed signature byte makes the file foreign, however sound the rest.
  Bytes good = ReadBytes(path);
  for (int i = 0; i < 6; ++i) {
    Bytes bad = good;
    bad[i] ^= 0x01;
    WriteBytes(dir.file("BAD.APF"), bad);
    EXPECT_EQ(ValidateApfFile(dir.file("BAD.APF")), -ecFaxBadFormat) << i;
  }
  EXPECT_EQ(ValidateApfFile(""), -ecFileNotFound);
  EXPECT_EQ(ValidateApfFile(dir.file("none.apf")), -ecFileNotFound);
  EXPECT_EQ(ValidateApfFile(dir.file("")), -ecAccessDenied);  // a folder
}

TEST(ApfFile, EmptyFileIsValidButHasNoPageOne) {
  TempDir dir;
  WritePages(dir.file("E.APF"), {});
  TApfReader r;
  ASSERT_EQ(r.Open(dir.file("E.APF")), 0);
  EXPECT_EQ(r.PageCount(), 0u);
  EXPECT_EQ(r.Header().stationId, "");
  TApfPageInfo page;
  EXPECT_EQ(r.LocatePage(1, &page), -ecFaxBadFormat);
  EXPECT_EQ(r.FileSize(), 64u);
}

TEST(ApfFile, RawStreamPagesKeepModemBytesAndCanBeAbandoned) {
  TempDir dir;
  std::string path = dir.file("R.APF");
  // A received page: modem bytes (fill included) stored unchanged, no length words.
  std::uint8_t coded[kMaxCodedLine];
  std::uint8_t line[216] = {0xF0, 0x0F};
  Bytes stream;
  for (int i = 0; i < 3; ++i) {
    std::size_t n = MhEncodeLine(line, 1728, 1728, false, coded);
    stream.insert(stream.end(), coded, coded + n);
  }
  std::size_t n = MhEncodeRtc(coded);
  stream.insert(stream.end(), coded, coded + n);
  {
    TApfWriter w;
    ASSERT_EQ(w.Create(path), 0);
    w.SetStationId("REMOTE");
    ASSERT_EQ(w.BeginPage(pfHighRes), 0);
    ASSERT_EQ(w.AppendRaw(stream.data(), 5), 0);
    ASSERT_EQ(w.AppendRaw(stream.data() + 5, stream.size() - 5), 0);
    EXPECT_EQ(w.AppendLineRecord(coded, 4), -ecBadArgument);  // no records in a raw page
    ASSERT_EQ(w.EndPage(), 0);
    ASSERT_EQ(w.BeginPage(pfHighRes), 0);  // a page the sender will repeat
    ASSERT_EQ(w.AppendRaw(stream.data(), stream.size()), 0);
    ASSERT_EQ(w.AbandonPage(), 0);
    ASSERT_EQ(w.Close(), 0);
  }
  Bytes b = ReadBytes(path);
  ASSERT_EQ(b.size(), 64 + 16 + stream.size());
  EXPECT_EQ(Get16(b, 32), 1);
  EXPECT_EQ(Get32(b, 64), stream.size());
  EXPECT_EQ(Get16(b, 68), pfHighRes);
  EXPECT_EQ(Bytes(b.begin() + 80, b.end()), stream);
}

TEST(ApfFile, WriterRefusesCallsOutOfOrderAndReportsDiskFull) {
  TApfWriter w;
  EXPECT_EQ(w.BeginPage(0), -ecFileNotOpen);
  EXPECT_EQ(w.Close(), -ecFileNotOpen);
  EXPECT_EQ(w.Create(""), -ecFileNotFound);
  EXPECT_EQ(w.Create("/nonexistent-folder/x.apf"), -ecFileNotFound);
  TempDir dir;
  ASSERT_EQ(w.Create(dir.file("O.APF")), 0);
  EXPECT_EQ(w.AppendRaw(reinterpret_cast<const std::uint8_t*>("x"), 1), -ecBadArgument);
  EXPECT_EQ(w.EndPage(), -ecBadArgument);
  ASSERT_EQ(w.BeginPage(pfLineRecords), 0);
  EXPECT_EQ(w.BeginPage(pfLineRecords), -ecBadArgument);
  ASSERT_EQ(w.Close(), 0);  // ends the open page
  TApfReader r;
  ASSERT_EQ(r.Open(dir.file("O.APF")), 0);
  EXPECT_EQ(r.PageCount(), 1u);

  TApfWriter full;
  if (full.Create("/dev/full") == 0) {  // every write fails with "no space"
    ASSERT_EQ(full.BeginPage(pfLineRecords), 0);
    EXPECT_EQ(full.EndPage(), -ecDiskFull);
  }
}

TEST(ApfFile, JoinAppendsPagesAndSumsCounts) {
  TempDir dir;
  WritePages(dir.file("1.APF"), {{pfLineRecords, 4}}, "FIRST");
  WritePages(dir.file("2.APF"), {});
  WritePages(dir.file("3.APF"), {{pfHighRes | pfLineRecords, 7}, {pfWide | pfLineRecords, 2}}, "THIRD");
  ASSERT_EQ(JoinApfFiles({dir.file("1.APF"), dir.file("2.APF"), dir.file("3.APF")}, dir.file("J.APF")), 0);
  TApfReader r;
  ASSERT_EQ(r.Open(dir.file("J.APF")), 0);
  EXPECT_EQ(r.PageCount(), 3u);
  EXPECT_EQ(r.Header().stationId, PadStationId("FIRST"));
  std::vector<TApfPageInfo> pages;
  ASSERT_EQ(r.ScanPages(&pages), 0);
  const unsigned lines[] = {4, 7, 2};
  for (unsigned i = 0; i < 3; ++i) {
    std::vector<std::uint8_t> data;
    ASSERT_EQ(r.ReadPageData(pages[i], &data), 0);
    EXPECT_EQ(MhDecodePage(data.data(), data.size(), true, pages[i].widthPixels(), nullptr).lines, lines[i]);
  }
  EXPECT_EQ(r.FileSize(), ReadBytes(dir.file("1.APF")).size() + ReadBytes(dir.file("3.APF")).size() - 64);

  // A foreign file stops the join and leaves the destination as it was; joining
  // into one of the sources works.
  Bytes before = ReadBytes(dir.file("J.APF"));
  WriteBytes(dir.file("X.APF"), Bytes(100, 'x'));
  EXPECT_EQ(JoinApfFiles({dir.file("1.APF"), dir.file("X.APF")}, dir.file("J.APF")), -ecFaxBadFormat);
  EXPECT_EQ(ReadBytes(dir.file("J.APF")), before);
  ASSERT_EQ(JoinApfFiles({dir.file("1.APF"), dir.file("1.APF")}, dir.file("1.APF")), 0);
  ASSERT_EQ(r.Open(dir.file("1.APF")), 0);
  EXPECT_EQ(r.PageCount(), 2u);
  EXPECT_EQ(JoinApfFiles({}, dir.file("J.APF")), -ecBadArgument);

  // Page counts that would not fit the 16-bit field are refused, not wrapped.
  Bytes big = ReadBytes(dir.file("2.APF"));
  big[32] = 0x40, big[33] = 0x9C;  // 40000
  WriteBytes(dir.file("BIG.APF"), big);
  EXPECT_EQ(JoinApfFiles({dir.file("BIG.APF"), dir.file("BIG.APF")}, dir.file("J.APF")), -ecBadArgument);
  EXPECT_EQ(ReadBytes(dir.file("J.APF")), before);
}

TEST(ApfFile, LyingAndTruncatedFilesGiveErrorsNotCrashes) {
  TempDir dir;
  std::string path = dir.file("T.APF");
  WritePages(path, {{pfLineRecords, 20}, {pfLineRecords, 20}});
  Bytes good = ReadBytes(path);
  std::uint32_t len1 = Get32(good, 64);
  TApfReader r;
  TApfPageInfo page;
  std::vector<std::uint8_t> data;

  // Cut inside the file header: not an APF file.
  ASSERT_EQ(r.OpenMemory(good.data(), 40), -ecFaxBadFormat);
  // Cut inside page 2's header: page 1 reads, page 2 lies beyond the end.
  std::size_t cut = 64 + 16 + len1 + 8;
  ASSERT_EQ(r.OpenMemory(good.data(), cut), 0);
  EXPECT_EQ(r.ReadPage(1, &page, &data), 0);
  EXPECT_EQ(r.LocatePage(2, &page), -ecReadBeyondEOF);
  // Cut inside page 1's data: the page is marked truncated and holds what is there.
  ASSERT_EQ(r.OpenMemory(good.data(), 64 + 16 + 30), 0);
  ASSERT_EQ(r.ReadPage(1, &page, &data), 0);
  EXPECT_TRUE(page.truncated);
  EXPECT_EQ(data.size(), 30u);
  // A page length far past the end of the file.
  Bytes lying = good;
  lying[64 + 3] = 0x7F;
  ASSERT_EQ(r.OpenMemory(lying.data(), lying.size()), 0);
  ASSERT_EQ(r.ReadPage(1, &page, &data), 0);
  EXPECT_TRUE(page.truncated);
  EXPECT_EQ(data.size(), lying.size() - 80);
  EXPECT_EQ(r.LocatePage(2, &page), -ecReadBeyondEOF);
  // More pages claimed than there are.
  Bytes more = good;
  more[32] = 9;
  ASSERT_EQ(r.OpenMemory(more.data(), more.size()), 0);
  std::vector<TApfPageInfo> pages;
  EXPECT_EQ(r.ScanPages(&pages), -ecReadBeyondEOF);
  EXPECT_EQ(pages.size(), 2u);
  EXPECT_EQ(r.LocatePage(3, &page), -ecReadBeyondEOF);
  // Every prefix of the file either opens or is refused; nothing reads out of bounds.
  for (std::size_t n = 0; n <= good.size(); n += 3) {
    Bytes prefix(good.begin(), good.begin() + static_cast<long>(n));
    if (r.OpenMemory(prefix.data(), prefix.size()) != 0) continue;
    for (unsigned k = 1; k <= r.PageCount(); ++k)
      if (r.ReadPage(k, &page, &data) == 0) MhDecodePage(data.data(), data.size(), true, 1728, nullptr);
  }
}

TEST(ApfFile, FileDatePacking) {
  std::tm t{};
  t.tm_year = 1980 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 1;
  EXPECT_EQ(PackFileDate(t), (1u << 21 | 1u << 16));
  t.tm_year = 2099 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 59;
  std::uint32_t packed = PackFileDate(t);
  std::tm back{};
  ASSERT_TRUE(UnpackFileDate(packed, &back));
  EXPECT_EQ(back.tm_year, t.tm_year);
  EXPECT_EQ(back.tm_mon, 11);
  EXPECT_EQ(back.tm_mday, 31);
  EXPECT_EQ(back.tm_hour, 23);
  EXPECT_EQ(back.tm_min, 59);
  EXPECT_EQ(back.tm_sec, 58);  // two-second steps
  t.tm_year = 1979 - 1900;
  EXPECT_EQ(PackFileDate(t), 0u);
  t.tm_year = 2100 - 1900;
  EXPECT_EQ(PackFileDate(t), 0u);
  EXPECT_FALSE(UnpackFileDate(0, &back));
}

}  // namespace
}  // namespace fe
