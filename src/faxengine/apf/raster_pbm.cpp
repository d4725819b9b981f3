#include "raster_pbm.h"

#include <cctype>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {
constexpr unsigned kMaxDimension = 1u << 16;

class Scanner {
 public:
  Scanner(const std::uint8_t* p, std::size_t n) : p_(p), end_(p + n) {}
  bool AtEnd() const { return p_ >= end_; }
  void SkipSpace() {
    while (p_ < end_) {
      if (*p_ == '#') {
        while (p_ < end_ && *p_ != '\n') ++p_;
      } else if (std::isspace(*p_)) {
        ++p_;
      } else {
        break;
      }
    }
  }
  bool Number(unsigned* v) {
    SkipSpace();
    if (p_ >= end_ || !std::isdigit(*p_)) return false;
    unsigned long n = 0;
    while (p_ < end_ && std::isdigit(*p_)) {
      n = n * 10 + (*p_++ - '0');
      if (n > kMaxDimension) return false;
    }
    *v = static_cast<unsigned>(n);
    return true;
  }
  const std::uint8_t*& pos() { return p_; }
  const std::uint8_t* end() const { return end_; }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};
}  // namespace

int ParsePbm(const std::uint8_t* data, std::size_t size, std::vector<TRasterImage>* images) {
  images->clear();
  Scanner s(data, size);
  for (;;) {
    s.SkipSpace();
    if (s.AtEnd()) break;
    const std::uint8_t*& p = s.pos();
    if (s.end() - p < 2 || p[0] != 'P' || (p[1] != '4' && p[1] != '1')) return -ecBadGraphicsFormat;
    bool binary = p[1] == '4';
    p += 2;
    TRasterImage img;
    unsigned w = 0, h = 0;
    if (!s.Number(&w) || !s.Number(&h) || w == 0 || h == 0) return -ecBadGraphicsFormat;
    // The data must be there before memory is taken for it.
    std::size_t need = binary ? (w + 7) / 8 * std::size_t{h} : std::size_t{w} * h;
    if (static_cast<std::size_t>(s.end() - p) < need) return -ecBadGraphicsFormat;
    img.resize(w, h);
    if (binary) {
      if (p >= s.end() || !std::isspace(*p)) return -ecBadGraphicsFormat;
      ++p;  // the single whitespace character before the raster
      if (static_cast<std::size_t>(s.end() - p) < img.bits.size()) return -ecBadGraphicsFormat;
      std::copy(p, p + img.bits.size(), img.bits.begin());
      p += img.bits.size();
    } else {
      for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
          s.SkipSpace();
          if (s.AtEnd() || (*p != '0' && *p != '1')) return -ecBadGraphicsFormat;
          if (*p++ == '1') img.row(y)[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
        }
    }
    images->push_back(std::move(img));
  }
  return images->empty() ? -ecBadGraphicsFormat : 0;
}

int ReadPbmFile(const std::string& path, std::vector<TRasterImage>* images) {
  if (path.empty()) return -ecFileNotFound;
  std::ifstream in(path, std::ios::binary);
  if (!in) return -IoErrorCode(errno ? errno : ENOENT);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParsePbm(bytes.data(), bytes.size(), images);
}

std::string EncodePbm(const TRasterImage& image) {
  std::string s = "P4\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n";
  s.append(reinterpret_cast<const char*>(image.bits.data()), image.bits.size());
  return s;
}

}  // namespace fe
