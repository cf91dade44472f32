#pragma once
// The assembled and factored minimum-curvature system: free nodes are the unknowns, anchors feed
// the right-hand side. Small lattices factor the band without pivoting; larger ones with anchors
// that pin the surface take the transform solve (sine transforms of the whole lattice and a
// dense system of the anchors); the rest, and well-posed systems the band cannot factor, a
// pivoting sparse LU. A Krylov solve preconditioned by a multigrid cycle is available on request.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/error.hpp"
#include "zorvatools/gridding/anchored_spectral.hpp"
#include "zorvatools/gridding/band_lu.hpp"
#include "zorvatools/gridding/lattice_multigrid.hpp"
#include "zorvatools/gridding/sparse_lu.hpp"
#include "zorvatools/gridding/stencil_rows.hpp"

namespace zorvatools {

// Lattice nodes holding at least one sample, numbered in order of first appearance. Nodes are
// numbered i * ny + j, as in Array2D.
struct AnchorSet {
  std::vector<std::int32_t> node_anchor;  // anchor index of every node, -1 for none
  std::vector<std::size_t> nodes;         // node of each anchor
  std::vector<double> values;             // mean depth of the samples snapped to each anchor
};

inline constexpr const char* kSingularSystemText =
    "MinCurvatureOperator: conditioning system is singular (too few / collinear hard anchors to "
    "pin the surface)";

// True for the singular-system failure, which the driver answers with the relaxation.
bool is_singular_system(const AlgoError& error);

// Every bilinear a + b i + c j + d i j is a null vector of the operator; anchors on which one of
// them vanishes (fewer than four, all on one line, on one row and one column, ...) cannot pin it.
bool anchors_pin_bilinear(std::size_t nx, std::size_t ny, const AnchorSet& anchors);

enum class MinCurvaturePath : std::uint8_t {
  Cheapest,   // the band, the sparse LU or the transform solve, whichever the lattice and its
              // anchors make cheaper
  Band,       // the band whenever it fits in memory (it still gives way to the sparse LU when it
              // cannot factor a well-posed system)
  Sparse,     // the sparse LU
  Spectral,   // the transform solve whenever the anchors pin the surface and it fits in memory
  Iterative,  // GMRES preconditioned by a multigrid cycle, to a backward error of 1e-14 (the
              // anchors must pin the surface); never chosen by the cost model: its iterations
              // grow too fast with the lattice to beat the other paths
};

struct MinCurvatureOptions {
  MinCurvaturePath path = MinCurvaturePath::Cheapest;
  std::uint64_t memory_limit_bytes = 0;  // 0: the machine's physical memory
  // Iterative path: systems this small are factored rather than coarsened further.
  std::size_t multigrid_coarsest_unknowns = kMultigridCoarsestUnknowns;
  friend bool operator==(const MinCurvatureOptions&, const MinCurvatureOptions&) = default;
};

class MinCurvatureOperator {
 public:
  // Assembles the stencil rows of every free node on an nx x ny lattice (both >= 2) and factors
  // them. Fails with the singular-system text when the anchors cannot pin the surface or no
  // factorisation succeeds, and with a memory error naming the lattice when neither path fits.
  static AlgoResult<MinCurvatureOperator> assemble(std::size_t nx, std::size_t ny,
                                                   const AnchorSet& anchors,
                                                   const MinCurvatureOptions& options = {});

  // The surface pinned to `anchor_values` (one per anchor): anchors take their values, free
  // nodes the solution. Borrows the right-hand-side scratch for the duration of the call. A band
  // solution whose residual fails its check is replaced by the sparse LU's, which then serves
  // every later solve. The iterative solve starts from `start` (its finite free-node values)
  // when it has the lattice's shape, else from zero; a start that already meets the backward
  // error tolerance is returned as it is, so a restart from a converged surface costs one product.
  AlgoResult<Array2D<double>> solve(std::span<const double> anchor_values,
                                    const Array2D<double>* start = nullptr);

  [[nodiscard]] std::size_t free_count() const { return free_nodes_.size(); }
  [[nodiscard]] bool uses_band() const { return band_.has_value(); }
  [[nodiscard]] bool uses_iterative() const { return multigrid_.has_value(); }
  [[nodiscard]] bool uses_spectral() const { return spectral_.has_value(); }
  // Preconditioned products of the last iterative solve.
  [[nodiscard]] std::size_t last_iterations() const { return last_iterations_; }
  [[nodiscard]] const BandLu& band() const;
  [[nodiscard]] const SparseLu& sparse() const;
  [[nodiscard]] const CompressedRows& matrix() const { return rows_; }

 private:
  MinCurvatureOperator(std::size_t nx, std::size_t ny, const AnchorSet& anchors,
                       const MinCurvatureOptions& options);
  void number_free_nodes();
  void assemble_rows();
  [[nodiscard]] AlgoResult<void> factor(bool pinned);
  [[nodiscard]] AlgoResult<void> factor_sparse(double shift);
  [[nodiscard]] AlgoResult<void> build_multigrid();
  [[nodiscard]] AlgoResult<void> build_spectral();
  [[nodiscard]] AlgoResult<void> solve_spectral(std::span<const double> anchor_values,
                                                std::span<const double> b);
  [[nodiscard]] AlgoResult<void> solve_iterative(std::span<const double> b,
                                                 const Array2D<double>* start);
  [[nodiscard]] AlgoError out_of_memory(std::uint64_t needed_bytes) const;
  [[nodiscard]] bool residual_ok(std::span<const double> x, std::span<const double> b);

  std::size_t nx_;
  std::size_t ny_;
  std::size_t anchor_count_;
  MinCurvatureOptions options_;
  std::uint64_t memory_limit_;
  std::vector<std::int32_t> node_anchor_;
  std::vector<std::int32_t> node_free_;
  std::vector<std::size_t> free_nodes_;
  CompressedRows rows_;  // the matrix, kept for residual checks
  std::size_t half_bandwidth_ = 0;
  double shift_ = 0;                         // on the diagonal of the factored system
  std::vector<std::size_t> coupling_start_;  // row r's couplings: [start[r], start[r + 1])
  std::vector<StencilCoupling> couplings_;
  std::optional<BandLu> band_;
  std::optional<SparseLu> sparse_;
  std::optional<LatticeMultigrid> multigrid_;
  std::optional<AnchoredSpectralSolver> spectral_;
  std::vector<std::size_t> anchor_nodes_;
  std::size_t last_iterations_ = 0;
  std::vector<double> rhs_;
  std::vector<double> scratch_;
};

}  // namespace zorvatools
