// Input side of the converter: every input kind is a RasterReader that hands out
// raster lines (most significant bit = leftmost pixel, 1 = black), page by page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fe {

// Widest raster a reader may hand out: 32768 pixels, the converter's 4096-byte line buffer.
inline constexpr unsigned kMaxRasterBytes = 4096;
inline constexpr unsigned kMaxRasterPixels = kMaxRasterBytes * 8;

class RasterReader {
 public:
  virtual ~RasterReader() = default;
  // Prepares the first page. Returns 0 or a negative error code.
  virtual int open() = 0;
  // Pixel width of the current page's image, used to place it on the fax line
  // (doubling, centring). 0 for text, which is placed at the left margin as is.
  virtual unsigned imageWidth() const { return 0; }
  // Writes the next raster line of the current page into buf (kMaxRasterBytes
  // long) and its byte length into len (0 = all white). endOfPage is set on the
  // page's last line, morePages with it when another page follows. Returns 0 or
  // a negative error code.
  virtual int readLine(std::uint8_t* buf, unsigned& len, bool& endOfPage, bool& morePages) = 0;
  // Input bytes consumed so far and in all, where the reader knows them (else 0).
  virtual std::uint64_t bytesRead() const { return 0; }
  virtual std::uint64_t bytesTotal() const { return 0; }
};

// Byte view of an input file with bounds-checked little/big-endian access.
class ByteView {
 public:
  ByteView() = default;
  explicit ByteView(std::span<const std::uint8_t> data) : data_(data) {}
  std::size_t size() const { return data_.size(); }
  const std::uint8_t* data() const { return data_.data(); }
  bool has(std::uint64_t offset, std::uint64_t count) const {
    return offset <= data_.size() && count <= data_.size() - offset;
  }
  std::uint8_t u8(std::size_t at) const { return data_[at]; }
  std::uint16_t u16le(std::size_t at) const { return std::uint16_t(data_[at] | data_[at + 1] << 8); }
  std::uint32_t u32le(std::size_t at) const { return std::uint32_t(u16le(at)) | std::uint32_t(u16le(at + 2)) << 16; }
  std::uint16_t u16be(std::size_t at) const { return std::uint16_t(data_[at] << 8 | data_[at + 1]); }
  std::uint32_t u32be(std::size_t at) const { return std::uint32_t(u16be(at)) << 16 | u16be(at + 2); }
  ByteView sub(std::size_t offset, std::size_t count) const { return ByteView(data_.subspan(offset, count)); }

 private:
  std::span<const std::uint8_t> data_;
};

// Ordered-dither threshold for a pixel at column x of row y (0-310): a pixel is
// black when red + green + blue is below it.
unsigned DitherThreshold(unsigned x, unsigned y);

// One row of grey pixels (0 black - 255 white) to raster bits ((width + 7) / 8
// bytes in out). Near-black and near-white pixels are taken as they are, so
// crisp text and lines stay solid; the greys between (pictures, tints) are
// ordered-dithered with the matrix above, evenly over the whole grey scale.
void GreyRowToBits(const std::uint8_t* grey, unsigned width, unsigned row, std::uint8_t* out);

}  // namespace fe
