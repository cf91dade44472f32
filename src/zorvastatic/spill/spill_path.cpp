#include "zorvastatic/spill/spill_path.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

std::atomic<std::uint64_t> spill_sequence{0};

}  // namespace

std::filesystem::path system_temp_dir() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') return tmpdir;
  return "/tmp";
}

Result<std::filesystem::path> spill_directory(
    const std::optional<std::filesystem::path>& configured) {
  std::error_code error;
  std::filesystem::path directory =
      std::filesystem::absolute(configured ? *configured : system_temp_dir(), error);
  if (error) return std::unexpected(AlgoError::io(error.value()));
  return directory;
}

std::filesystem::path unique_spill_path(const std::filesystem::path& directory) {
  const std::uint64_t seq = spill_sequence.fetch_add(1);
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
  // Nanoseconds since the epoch (0 before it); the clock's range fits 64 bits.
  const std::uint64_t wide = nanos > 0 ? static_cast<std::uint64_t>(nanos) : 0;
  return directory / zorvatools::str_cat("zorvastatic-spill-", static_cast<long>(getpid()), "-",
                                         seq, "-", wide, ".zts");
}

}  // namespace zorvastatic
