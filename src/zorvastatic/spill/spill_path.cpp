#include "zorvastatic/spill/spill_path.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

std::atomic<std::uint64_t> spill_sequence{0};

struct UnkeptFiles {
  std::mutex mutex;
  std::set<std::filesystem::path> paths;
};

// Never destroyed: the exit handler may run after static destructors.
UnkeptFiles& unkept_files() {
  static auto* files = new UnkeptFiles;
  return *files;
}

void remove_unkept_files_at_exit() {
  UnkeptFiles& files = unkept_files();
  std::lock_guard lock(files.mutex);
  for (const auto& path : files.paths) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  files.paths.clear();
}

}  // namespace

std::filesystem::path system_temp_dir() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') return tmpdir;
  return "/tmp";
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

void register_unkept_spill_file(const std::filesystem::path& path) {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(remove_unkept_files_at_exit); });
  UnkeptFiles& files = unkept_files();
  std::lock_guard lock(files.mutex);
  files.paths.insert(path);
}

void forget_unkept_spill_file(const std::filesystem::path& path) {
  UnkeptFiles& files = unkept_files();
  std::lock_guard lock(files.mutex);
  files.paths.erase(path);
}

}  // namespace zorvastatic
