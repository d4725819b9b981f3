// An input file mapped read-only into memory, so readers can parse it as bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fe {

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();
  // Returns 0 or a negative file error code (2 for an empty name or a missing file).
  int Open(const std::string& path);
  std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  void* map_ = nullptr;
};

}  // namespace fe
