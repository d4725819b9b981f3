// Helpers the coder benchmarks share: TIFF files in memory for libtiff, and
// timing two contenders alternately.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace qn::bench {

struct MemFile {
  std::vector<std::uint8_t> data;
  toff_t pos = 0;
};
inline tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  tmsize_t avail = static_cast<tmsize_t>(f->data.size()) - static_cast<tmsize_t>(f->pos);
  n = std::max<tmsize_t>(0, std::min(n, avail));
  std::memcpy(buf, f->data.data() + f->pos, static_cast<std::size_t>(n));
  f->pos += static_cast<toff_t>(n);
  return n;
}
inline tmsize_t MemWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  if (f->pos + static_cast<toff_t>(n) > f->data.size()) f->data.resize(f->pos + static_cast<toff_t>(n));
  std::memcpy(f->data.data() + f->pos, buf, static_cast<std::size_t>(n));
  f->pos += static_cast<toff_t>(n);
  return n;
}
inline toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemFile*>(h);
  if (whence == SEEK_SET)
    f->pos = off;
  else if (whence == SEEK_CUR)
    f->pos += off;
  else
    f->pos = f->data.size() + off;
  return f->pos;
}
inline int MemClose(thandle_t) {
  return 0;
}
inline toff_t MemSize(thandle_t h) {
  return static_cast<MemFile*>(h)->data.size();
}
inline int MemMap(thandle_t, void**, toff_t*) {
  return 0;
}
inline void MemUnmap(thandle_t, void*, toff_t) {}

inline TIFF* OpenMem(MemFile* f, const char* mode) {
  f->pos = 0;
  return TIFFClientOpen("mem", mode, f, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
}

// Processor time of this thread: on a shared machine, time spent waiting for a
// processor would otherwise count against whichever contender it fell on.
inline double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline double Seconds(const std::function<void()>& f) {
  double t0 = ThreadSeconds();
  f();
  return ThreadSeconds() - t0;
}

// Best time of each of two contenders, measured alternately so that both see the
// same load on a shared machine.
inline std::pair<double, double> BestOfAlternating(const std::function<void()>& a, const std::function<void()>& b,
                                                   int rounds) {
  double ba = 1e9, bb = 1e9;
  for (int r = 0; r < rounds; ++r) {
    ba = std::min(ba, Seconds(a));
    bb = std::min(bb, Seconds(b));
  }
  return {ba, bb};
}

}  // namespace qn::bench
