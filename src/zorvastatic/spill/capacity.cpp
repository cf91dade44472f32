#include "zorvastatic/spill/capacity.hpp"

#include <cerrno>
#include <limits>

#include "zorvastatic/spill/spill.hpp"
#include "zorvastatic/spill/store_guard.hpp"
#include "zorvatools/store/file_mapping.hpp"
#include "zorvatools/store/writer.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

namespace fs = std::filesystem;
using zorvatools::str_cat;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// A byte count, saying so when it stands for anything beyond 64 bits.
std::string bytes_text(std::uint64_t bytes) {
  return bytes == kMax ? str_cat("at least ", bytes, " bytes") : str_cat(bytes, " bytes");
}

// The directory itself, or the nearest parent that exists.
fs::path existing_ancestor(fs::path directory) {
  std::error_code error;
  while (!fs::exists(directory, error) && directory.has_relative_path()) {
    directory = directory.parent_path();
  }
  return directory;
}

}  // namespace

std::optional<std::uint64_t> spill_store_bytes(const Dims& dims,
                                               const std::vector<std::string>& cube_names) {
  std::uint64_t layer = 0;
  std::uint64_t corners = 0;
  std::uint64_t nodes = 0;
  std::uint64_t coords = 0;
  if (dims.ni == kMax || dims.nj == kMax ||
      __builtin_mul_overflow(std::uint64_t{dims.ni}, std::uint64_t{dims.nj}, &layer) ||
      __builtin_mul_overflow(layer, std::uint64_t{8}, &corners) ||
      __builtin_mul_overflow(std::uint64_t{dims.ni} + 1, std::uint64_t{dims.nj} + 1, &nodes) ||
      __builtin_mul_overflow(nodes, std::uint64_t{6}, &coords)) {
    return std::nullopt;
  }
  // The lane counts are now known to fit; the writer checks every offset and length.
  auto length = zorvatools::store::StoreWriter::file_len(
      store_schema(dims, static_cast<std::size_t>(nodes), cube_names));
  if (!length) return std::nullopt;
  return *length;
}

Status check_spill_fits(const Dims& dims, const std::vector<std::string>& cube_names,
                        std::uint64_t estimate, std::uint64_t budget, const fs::path& directory) {
  sweep_stale_stores(directory);
  const auto free = zorvatools::store::free_bytes(existing_ancestor(directory));
  if (!free) return {};
  const std::uint64_t needed = spill_store_bytes(dims, cube_names).value_or(kMax);
  if (needed <= *free) return {};
  return std::unexpected(AlgoError::io(
      ENOSPC, str_cat("a model of ", dims.ni, " x ", dims.nj, " x ", dims.nk, " cells needs ",
                      bytes_text(estimate), " of memory (budget ", budget, " bytes) or ",
                      bytes_text(needed), " in spill directory ", directory.string(), " (", *free,
                      " bytes free)")));
}

}  // namespace zorvastatic
