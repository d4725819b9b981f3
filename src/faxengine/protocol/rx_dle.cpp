#include "rx_dle.h"

namespace fe {

std::size_t DleDecoder::Feed(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out) {
  std::size_t i = 0;
  while (i < n && !ended_) {
    if (pendingDle_) {
      pendingDle_ = false;
      if (in[i] == kETX) {
        ended_ = true;
      } else {
        out.push_back(in[i]);
      }
      ++i;
      continue;
    }
    // Copy the run up to the next DLE in one step: page data is mostly plain bytes.
    std::size_t j = i;
    while (j < n && in[j] != kDLE) ++j;
    out.insert(out.end(), in + i, in + j);
    i = j;
    if (i < n) {
      pendingDle_ = true;
      ++i;
    }
  }
  return i;
}

void TrainingCheck::Add(const std::uint8_t* data, std::size_t n) {
  bytes_ += n;
  for (std::size_t i = 0; i < n; ++i) nonZero_ += data[i] != 0;
}

}  // namespace fe
