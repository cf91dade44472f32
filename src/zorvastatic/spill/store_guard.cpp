#include "zorvastatic/spill/store_guard.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

namespace zorvastatic {
namespace {

namespace fs = std::filesystem;
using zorvatools::store::UniqueFd;

constexpr std::string_view kNamePrefix = "zorvastatic-spill-";
constexpr std::string_view kLockSuffix = ".zts.lock";

fs::path with_suffix(const fs::path& path, std::string_view suffix) {
  fs::path result = path;
  result += suffix;
  return result;
}

// "zorvastatic-spill-{pid}-{seq}-{nanos}.zts.lock": the prefix, three runs of digits joined by
// dashes, the suffix.
bool is_lock_name(std::string_view name) {
  if (!name.starts_with(kNamePrefix) || !name.ends_with(kLockSuffix)) return false;
  if (name.size() < kNamePrefix.size() + kLockSuffix.size()) return false;
  const std::string_view numbers =
      name.substr(kNamePrefix.size(), name.size() - kNamePrefix.size() - kLockSuffix.size());
  int dashes = 0;
  bool digit_before = false;
  for (char ch : numbers) {
    if (ch >= '0' && ch <= '9') {
      digit_before = true;
    } else if (ch == '-' && digit_before) {
      ++dashes;
      digit_before = false;
    } else {
      return false;
    }
  }
  return digit_before && dashes == 2;
}

// Unlinks `path` when it is a regular file of this user; never follows a link.
void remove_if_ours(const fs::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return;
  if (S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) ::unlink(path.c_str());
}

// The store, what is left of it being written, then its lock file (last, so that a process that
// dies half-way leaves a lock file for the next sweep to find).
void remove_store_files(const fs::path& store) {
  ::unlink(store.c_str());
  ::unlink(partial_store_path(store).c_str());
  ::unlink(store_lock_path(store).c_str());
}

// Stores this process created and still guards, each with the creating pid: removed at normal
// exit if their model was never released (a handle kept in a module global, say). A forked
// child inherits the table and must leave its parent's stores alone.
struct LiveStores {
  std::mutex mutex;
  std::map<fs::path, pid_t> owners;
};

// Never destroyed: the exit handler may run after static destructors.
LiveStores& live_stores() {
  static auto* stores = new LiveStores;
  return *stores;
}

void remove_live_stores_at_exit() {
  LiveStores& stores = live_stores();
  // A fork taken while another thread held the mutex leaves it locked for ever in the child,
  // whose table lists only its parent's stores anyway.
  std::unique_lock lock(stores.mutex, std::defer_lock);
  for (int attempt = 0; attempt < 100 && !lock.try_lock(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!lock.owns_lock()) return;
  const pid_t self = ::getpid();
  for (const auto& [store, owner] : stores.owners) {
    if (owner == self) remove_store_files(store);
  }
  stores.owners.clear();
}

void register_live_store(const fs::path& store, pid_t owner) {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(remove_live_stores_at_exit); });
  LiveStores& stores = live_stores();
  std::lock_guard lock(stores.mutex);
  stores.owners[store] = owner;
}

void forget_live_store(const fs::path& store) {
  LiveStores& stores = live_stores();
  std::lock_guard lock(stores.mutex);
  stores.owners.erase(store);
}

// flock(2), retried when interrupted by a signal; false with errno set otherwise.
bool lock_file(int fd, int operation) {
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void sweep_lock_file(const fs::path& lock_path) {
  const int fd = ::open(lock_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  const UniqueFd lock(fd);
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
    return;
  }
  // Held: its store is in use. A lock file that cannot be locked at all is left alone too.
  if (!lock_file(fd, LOCK_EX | LOCK_NB)) return;
  // Still the file of that name, not one removed (and perhaps replaced) since it was opened.
  struct stat named {};
  if (::lstat(lock_path.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
      named.st_ino != opened.st_ino) {
    return;
  }
  const fs::path store = lock_path.parent_path() / lock_path.stem();  // drops ".lock"
  remove_if_ours(store);
  remove_if_ours(partial_store_path(store));
  ::unlink(lock_path.c_str());
}

}  // namespace

fs::path partial_store_path(const fs::path& store) {
  return with_suffix(store, ".partial");
}

fs::path store_lock_path(const fs::path& store) {
  return with_suffix(store, ".lock");
}

Result<StoreGuard> StoreGuard::acquire(const fs::path& store) {
  const fs::path lock_path = store_lock_path(store);
  // A sweep in another process may take a lock file created an instant ago, before it was locked,
  // for a stale one and remove it; the lock is then taken again on a new file.
  for (int attempt = 0; attempt < 16; ++attempt) {
    ZV_ASSIGN_OR_RETURN(
        UniqueFd lock,
        zorvatools::store::open_file(lock_path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    // A file system without locks leaves the file unlocked; a sweep cannot lock it either, so
    // it is never taken for a stale one.
    lock_file(lock.get(), LOCK_EX);
    struct stat status {};
    if (::fstat(lock.get(), &status) != 0) {
      const int error = errno;
      ::unlink(lock_path.c_str());
      return std::unexpected(AlgoError::io(error));
    }
    if (status.st_nlink == 0) continue;
    StoreGuard guard(store, std::move(lock));
    register_live_store(store, guard.owner_);
    return guard;
  }
  return std::unexpected(AlgoError::io(EAGAIN));
}

StoreGuard::StoreGuard(StoreGuard&& other) noexcept
    : store_(std::move(other.store_)), lock_(std::move(other.lock_)), owner_(other.owner_) {}

StoreGuard& StoreGuard::operator=(StoreGuard&& other) noexcept {
  if (this != &other) {
    release();
    store_ = std::move(other.store_);
    lock_ = std::move(other.lock_);
    owner_ = other.owner_;
  }
  return *this;
}

void StoreGuard::keep() {
  if (lock_.get() < 0) return;
  if (owner_ == ::getpid()) {
    ::unlink(store_lock_path(store_).c_str());
    forget_live_store(store_);
  }
  lock_.reset();
}

void StoreGuard::release() {
  if (lock_.get() < 0) return;
  if (owner_ == ::getpid()) {
    remove_store_files(store_);  // failures ignored: a later sweep finds what is left
    forget_live_store(store_);
  }
  lock_.reset();
}

void sweep_stale_stores(const fs::path& directory) {
  std::error_code error;
  fs::directory_iterator entry(directory, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    if (is_lock_name(entry->path().filename().native())) sweep_lock_file(entry->path());
  }
}

}  // namespace zorvastatic
