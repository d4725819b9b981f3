// Copy quality of a received page: its lines are decoded and counted (bad
// lines, the longest run of bad lines in a row, whether the page ended), and
// the count judged against the receiver's limits into the answer a page
// without error correction gets: MCF (good), RTP (fair: kept, the caller
// retrains) or RTN (poor: dropped, the caller retrains and sends it again).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mr_codec.h"

namespace fe {

struct TCopyQualityLimits {
  unsigned rtpBadPercent = 0;   // RTP when more than this share of lines is bad (0: any bad line)
  unsigned rtnBadPercent = 10;  // RTN when more than this share of lines is bad
  unsigned rtnBadRun = 16;      // RTN when more than this many bad lines follow each other
};

struct TPageQuality {
  unsigned lines = 0;       // lines decoded, bad ones included
  unsigned badLines = 0;    // lines the decoder could not read
  unsigned worstRun = 0;    // the most bad lines in a row
  bool ended = false;       // RTC (MH, MR) or EOFB (MMR) ended the page
  bool incomplete = false;  // data was lost on the way (error correction gave up on frames)
  void Line(bool bad) {
    ++lines;
    if (!bad) {
      run_ = 0;
      return;
    }
    ++badLines;
    if (++run_ > worstRun) worstRun = run_;
  }
  bool Damaged() const { return badLines > 0 || incomplete; }

 private:
  unsigned run_ = 0;
};

enum class TCopyQuality { Good, Fair, Poor };

TCopyQuality JudgeCopy(const TPageQuality& q, const TCopyQualityLimits& limits);

// Decodes a page as it came from the line (MH raw stream, MR or MMR) and
// counts its lines; widthPixels 1728 or 2048.
TPageQuality MeasurePage(const std::uint8_t* data, std::size_t size, TFaxCoding coding, unsigned widthPixels);

// "34 bad lines", "incomplete", "34 bad lines, incomplete"; empty for a clean page.
std::string DamageText(unsigned badLines, bool incomplete);

}  // namespace fe
