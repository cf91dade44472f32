#pragma once
// Sparse LU with partial pivoting after a fill-reducing nested-dissection ordering: the
// minimum-curvature system of lattices too large for the band, and of well-posed systems whose
// unpivoted band factorisation fails.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "zorvatools/gridding/compressed_rows.hpp"

namespace zorvatools {

enum class SparseLuFailure : std::uint8_t {
  Singular,     // a zero or non-finite pivot, or a condition estimate at rounding level
  OutOfMemory,  // the factors need more than the limit, or an allocation failed
  Stopped,      // the call was stopped (the factorisation finishes alone and is dropped)
};

struct SparseLuFactors;  // the library's factors; immutable once made, shared by copies

class SparseLu {
 public:
  // Factors `a` plus `shift` on its diagonal, after a nested-dissection ordering of the graph of
  // its symmetric pattern (METIS). The memory the factors need is estimated from the ordering
  // before they are allocated; more than `memory_limit` bytes fails with OutOfMemory and
  // `needed_bytes` set. Inside a call it can be stopped: see `poll_call`.
  static std::expected<SparseLu, SparseLuFailure> factor(const CompressedRows& a, double shift,
                                                         std::uint64_t memory_limit,
                                                         std::uint64_t* needed_bytes = nullptr);

  // Overwrites the right-hand side with the solution of the factored (shifted) system, with
  // iterative refinement against it. Deterministic: the same right-hand side gives the same bits.
  void solve_in_place(std::span<double> x) const;

  [[nodiscard]] std::size_t size() const;
  // Entries of the L and U factors.
  [[nodiscard]] std::uint64_t factor_entries() const;

 private:
  explicit SparseLu(std::shared_ptr<const SparseLuFactors> factors) : f_(std::move(factors)) {}
  std::shared_ptr<const SparseLuFactors> f_;
};

// Bytes of the assembled matrix and a lower bound of the factors for an n-unknown lattice system
// whose shorter axis has `short_axis` nodes, before any ordering is computed; absent on overflow.
std::optional<std::uint64_t> sparse_lu_bytes_lower_bound(std::uint64_t n, std::uint64_t nonzeros,
                                                         std::uint64_t short_axis);

}  // namespace zorvatools
