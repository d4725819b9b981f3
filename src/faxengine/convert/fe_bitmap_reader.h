// In-memory bitmap input (one page) and application-supplied lines (idUser).
#pragma once

#include <QImage>
#include <functional>
#include <string>

#include "fe_raster_reader.h"

namespace fe {

// One-bit images keep their pixels (the darker colour-table entry is black; with
// no colour table, as in a monochrome device bitmap, 1 is white); every other
// format is thresholded with the ordered-dither matrix, transparent pixels white.
class BitmapReader : public RasterReader {
 public:
  explicit BitmapReader(const QImage& image) : image_(image) {}
  int open() override;
  unsigned imageWidth() const override { return width_; }
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;

 private:
  QImage image_;
  unsigned width_ = 0, row_ = 0;
  bool mono_ = false, oneIsBlack_ = false;
};

// idUser input: the application's callbacks are the whole contract.
class UserReader : public RasterReader {
 public:
  using OpenFn = std::function<void(const std::string& name)>;
  using CloseFn = std::function<void()>;
  using ReadFn = std::function<void(std::uint8_t* data, unsigned& len, bool& endOfPage, bool& morePages)>;
  UserReader(std::string name, OpenFn open, CloseFn close, ReadFn read)
      : name_(std::move(name)), open_(std::move(open)), close_(std::move(close)), read_(std::move(read)) {}
  ~UserReader() override;
  int open() override;
  int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) override;

 private:
  std::string name_;
  OpenFn open_;
  CloseFn close_;
  ReadFn read_;
  bool opened_ = false;
};

}  // namespace fe
