#pragma once
// Spill stores that never outlive their use. Next to each store that is being written or is in
// use lies "{store}.lock", held locked (flock) by the creating process for as long as the store's
// model lives; the kernel drops the lock when that process ends, however it ends. Creating a
// store first sweeps its directory: a lock file nobody holds belongs to a process that is gone
// (the lock decides, not the pid in the name, which may have been reused), so its store goes
// too. A store is written under "{store}.partial" and renamed once complete, so a kept store is
// complete or absent; a kept store has no lock file and is never swept.

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>

#include "zorvastatic/error.hpp"
#include "zorvatools/store/file_mapping.hpp"

namespace zorvastatic {

// "{store}.partial": where the store is written until it is complete.
std::filesystem::path partial_store_path(const std::filesystem::path& store);
// "{store}.lock": present and locked while the store may still be used.
std::filesystem::path store_lock_path(const std::filesystem::path& store);

class StoreGuard {
 public:
  // Guards nothing: a store that is kept, or was not created here.
  StoreGuard() = default;

  // Creates and locks the lock file of `store` (an absolute path); the store itself does not
  // exist yet.
  static Result<StoreGuard> acquire(const std::filesystem::path& store);

  StoreGuard(StoreGuard&& other) noexcept;
  StoreGuard& operator=(StoreGuard&& other) noexcept;
  StoreGuard(const StoreGuard&) = delete;
  StoreGuard& operator=(const StoreGuard&) = delete;
  // In the creating process, removes the store (and what is left of it being written) and then
  // its lock file; a forked child only lets go of its copy of the lock.
  ~StoreGuard() { release(); }

  // The store is complete and kept: it stays after its model and its process.
  void keep();
  // Whether the store goes when this guard does.
  [[nodiscard]] bool removes_store() const { return lock_.get() >= 0; }

 private:
  StoreGuard(std::filesystem::path store, zorvatools::store::UniqueFd lock)
      : store_(std::move(store)), lock_(std::move(lock)), owner_(::getpid()) {}
  void release();

  std::filesystem::path store_;
  zorvatools::store::UniqueFd lock_;
  pid_t owner_ = 0;
};

// Removes, in `directory`, every spill store (and partial store) whose lock file nobody holds,
// and those lock files. Touches nothing else; failures are ignored (a store that cannot be
// swept now is swept by a later spill).
void sweep_stale_stores(const std::filesystem::path& directory);

}  // namespace zorvastatic
