#pragma once
// Owned file descriptors and shared memory mappings: every descriptor is closed and every
// mapping unmapped when its owner is dropped.

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "zorvatools/foundation/error.hpp"

namespace zorvatools::store {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  [[nodiscard]] int get() const { return fd_; }
  int release();
  void reset();

 private:
  int fd_ = -1;
};

// open(2), retried when interrupted by a signal.
AlgoResult<UniqueFd> open_file(const std::filesystem::path& path, int flags, mode_t mode = 0);
// The file's length from its status; a directory fails with EISDIR.
AlgoResult<std::uint64_t> file_length(int fd);
// Bytes an unprivileged process may still allocate on the file system of `fd`, or of the
// directory at `directory` (saturating).
AlgoResult<std::uint64_t> free_bytes(int fd);
AlgoResult<std::uint64_t> free_bytes(const std::filesystem::path& directory);
// Makes the file `length` bytes long with every block allocated, so that a store that does not
// fit fails before it is written, and writes through a shared mapping of it cannot fail for want
// of space (a failed write to a mapped page kills the process). Fails with ENOSPC when the file
// system is full.
AlgoResult<void> reserve_file_space(int fd, std::uint64_t length);
// The same by writing zeros, for file systems that cannot allocate without writing.
AlgoResult<void> reserve_by_writing_zeros(int fd, std::uint64_t length);

// Hands every byte of `bytes`, meant for the file at `offset`, to `write_some(data, size, at)`,
// which writes some of them as pwrite(2) does: the count written, or -1 with errno set. A short
// count is resumed after the bytes written, a signal (EINTR) retried; a count of 0 means the file
// system is full (ENOSPC). Any other failure is the Io error of its errno.
template <class WriteSome>
AlgoResult<void> write_fully(std::span<const std::byte> bytes, std::uint64_t offset,
                             WriteSome&& write_some) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write_some(bytes.data() + done, bytes.size() - done, offset + done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(AlgoError::io(errno));
    }
    if (written == 0) return std::unexpected(AlgoError::io(ENOSPC));
    done += static_cast<std::size_t>(written);
  }
  return {};
}

// Writes every byte of `bytes` to the file at `offset` with pwrite(2) calls of at most 64 KiB,
// as write_fully does.
AlgoResult<void> write_at(int fd, std::span<const std::byte> bytes, std::uint64_t offset);

class FileMapping {
 public:
  enum class Access { ReadOnly, ReadWrite };

  FileMapping() = default;
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  ~FileMapping() { reset(); }

  // Maps the first `length` bytes of the file shared. A length of 0 gives an empty mapping
  // without asking the system, which refuses to map nothing.
  static AlgoResult<FileMapping> map(int fd, std::uint64_t length, Access access);

  [[nodiscard]] std::span<std::byte> bytes() const { return {data_, size_}; }
  [[nodiscard]] std::size_t size() const { return size_; }

  // Advice that the pages are touched once each, in no order worth reading ahead: a fault then
  // brings in one small page instead of a run of large ones. A store being written reads
  // nothing, and the large pages of a read-ahead come from the memory that is slowest to get
  // (compacted, or backed by a host on first touch). Advice only: a failure changes nothing.
  void advise_no_read_ahead() const;

  // Maps every page of the file that is in the page cache now, in one call, so that a pass over
  // a store just written takes no fault per page. Advice only: a failure changes nothing.
  void map_cached_pages() const;

  void reset();

 private:
  FileMapping(std::byte* data, std::size_t size) : data_(data), size_(size) {}

  std::byte* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace zorvatools::store
