#include "fe_mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

MappedFile::~MappedFile() {
  if (map_) munmap(map_, size_);
}

int MappedFile::Open(const std::string& path) {
  if (path.empty()) return -ecFileNotFound;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -IoErrorCode(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno ? errno : EISDIR;
    ::close(fd);
    return -IoErrorCode(err);
  }
  size_ = std::size_t(st.st_size);
  if (size_ > 0) {
    void* m = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (m == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      size_ = 0;
      return -IoErrorCode(err);
    }
    map_ = m;
    data_ = static_cast<const std::uint8_t*>(m);
  }
  ::close(fd);
  return 0;
}

}  // namespace fe
