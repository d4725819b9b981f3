#include "rx_quality.h"

#include <vector>

#include "mh_codec.h"

namespace fe {

TCopyQuality JudgeCopy(const TPageQuality& q, const TCopyQualityLimits& limits) {
  if (q.badLines == 0) return TCopyQuality::Good;
  // Shares compared in whole numbers: bad * 100 > lines * percent.
  const auto share = [&](unsigned percent) {
    return static_cast<std::uint64_t>(q.badLines) * 100 > static_cast<std::uint64_t>(q.lines) * percent;
  };
  if (q.worstRun > limits.rtnBadRun || share(limits.rtnBadPercent)) return TCopyQuality::Poor;
  if (share(limits.rtpBadPercent)) return TCopyQuality::Fair;
  return TCopyQuality::Good;
}

TPageQuality MeasurePage(const std::uint8_t* data, std::size_t size, TFaxCoding coding, unsigned widthPixels) {
  TPageQuality q;
  if (coding == TFaxCoding::MH) {
    TMhPageDecoder dec(data, size, false, widthPixels);
    std::vector<std::uint8_t> line(dec.WidthBytes());
    unsigned bad = 0;
    while (dec.NextLine(line.data())) {
      const TMhDecodeStats& st = dec.Stats();
      const unsigned nowBad = st.badLines + st.longLines;
      q.Line(nowBad != bad);
      bad = nowBad;
    }
    q.ended = dec.Stats().rtc;
    return q;
  }
  const T2dDecodeStats st = DecodePage2d(data, size, coding, widthPixels, [&](const std::uint8_t*, unsigned, bool bad) {
    q.Line(bad);
    return true;
  });
  q.ended = !st.truncated;
  return q;
}

std::string DamageText(unsigned badLines, bool incomplete) {
  std::string s;
  if (badLines > 0) s = std::to_string(badLines) + (badLines == 1 ? " bad line" : " bad lines");
  if (incomplete) s += s.empty() ? "incomplete" : ", incomplete";
  return s;
}

}  // namespace fe
