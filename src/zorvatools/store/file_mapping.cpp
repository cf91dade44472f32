#include "zorvatools/store/file_mapping.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

namespace zorvatools::store {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

int UniqueFd::release() {
  return std::exchange(fd_, -1);
}

void UniqueFd::reset() {
  // A failed close leaves nothing to retry on Linux: the descriptor is gone either way.
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

AlgoResult<UniqueFd> open_file(const std::filesystem::path& path, int flags, mode_t mode) {
  for (;;) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EINTR) return std::unexpected(AlgoError::io(errno));
  }
}

AlgoResult<std::uint64_t> file_length(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(AlgoError::io(errno));
  // Directory sizes depend on the file system; none of them is a file's content.
  if (S_ISDIR(status.st_mode)) return std::unexpected(AlgoError::io(EISDIR));
  return static_cast<std::uint64_t>(status.st_size);
}

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

AlgoResult<FileMapping> FileMapping::map(int fd, std::uint64_t length, Access access) {
  if (length == 0) return FileMapping();
  if (length > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
    return std::unexpected(AlgoError::io(EOVERFLOW));
  }
  const int protection = access == Access::ReadWrite ? PROT_READ | PROT_WRITE : PROT_READ;
  void* data = ::mmap(nullptr, length, protection, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) return std::unexpected(AlgoError::io(errno));
  return FileMapping(static_cast<std::byte*>(data), static_cast<std::size_t>(length));
}

AlgoResult<void> FileMapping::sync() const {
  if (size_ != 0 && ::msync(data_, size_, MS_SYNC) != 0) {
    return std::unexpected(AlgoError::io(errno));
  }
  return {};
}

void FileMapping::reset() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace zorvatools::store
