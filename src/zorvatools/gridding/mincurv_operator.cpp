#include "zorvatools/gridding/mincurv_operator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/physical_memory.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/foundation/worker_pool.hpp"
#include "zorvatools/gridding/krylov.hpp"

namespace zorvatools {
namespace {

constexpr std::size_t kMinAnchorsForShift = 4;
constexpr double kRetryShift = 1e-8;  // relative to the largest absolute diagonal entry
// A solution whose normwise backward error exceeds this is not accepted from a factorisation.
constexpr double kBackwardErrorTolerance = 1e-12;

// Seconds per unit of work, measured on the surface-solve benchmark: the band's n b^2 and the
// sparse LU's nested-dissection estimate 180 s^2 l (s, l the shorter and longer axes) plus its
// ordering, about linear in n.
constexpr double kBandSecondsPerWork = 0.22e-9;
constexpr double kSparseSecondsPerWork = 0.16e-9;
constexpr double kSparseSecondsPerUnknown = 5.4e-6;
// The iterative solve stops two orders below the direct paths' check: a backward error of 1e-12
// left a forward error of about 1e-9 of the depths on a lattice of 80 nodes a side.
constexpr KrylovOptions kKrylov{1e-2 * kBackwardErrorTolerance, 30, 600};
// The transform solve is exact but for rounding; a few preconditioned steps polish it to the
// iterative path's tolerance.
constexpr KrylovOptions kPolish{1e-2 * kBackwardErrorTolerance, 8, 16};
// The transform solve, measured on the surface-solve benchmark: dense flops of its capacitance
// systems; per node one Green's function per anchor (spread over the threads) and about a dozen
// whole-lattice solves to finish and polish; the reading of each Green's function at the anchors
// (a pass over a lattice line per anchor, or a transform when that is cheaper).
constexpr double kDenseSecondsPerFlop = 0.03e-9;
constexpr double kSpectralSecondsPerNodeSolve = 16e-9;
constexpr double kSpectralSolvesBeyondAnchors = 12;
constexpr double kSpectralSecondsPerSample = 1.5e-9;  // reading a Green's function at a node
// Below this estimate the band is taken whatever the other paths promise: it stays the
// reference for small lattices.
constexpr double kBandReferenceSeconds = 0.1;

// Bytes per node while assembling: the node maps, the free-node list, the matrix rows (13
// entries of index and value at most) and the couplings.
constexpr std::uint64_t kAssemblyBytesPerNode = 2 * sizeof(std::int32_t) + sizeof(std::size_t) +
                                                13 * (sizeof(std::int32_t) + sizeof(double)) +
                                                sizeof(std::int64_t) + 2 * sizeof(double);

}  // namespace

bool is_singular_system(const AlgoError& error) {
  return error.kind() == AlgoError::Kind::InvalidArgument && error.text() == kSingularSystemText;
}

bool anchors_pin_bilinear(std::size_t nx, std::size_t ny, const AnchorSet& anchors) {
  if (anchors.nodes.size() < kMinAnchorsForShift) return false;
  // Gram matrix of the bilinear basis 1, u, v, u v over the anchors, with u and v the node
  // coordinates scaled to [-1, 1]; rank 4 unless one bilinear vanishes on every anchor.
  double gram[4][4] = {};
  const double su = nx > 1 ? 2.0 / static_cast<double>(nx - 1) : 0.0;
  const double sv = ny > 1 ? 2.0 / static_cast<double>(ny - 1) : 0.0;
  for (const std::size_t node : anchors.nodes) {
    const double u = static_cast<double>(node / ny) * su - 1;
    const double v = static_cast<double>(node % ny) * sv - 1;
    const double basis[4] = {1, u, v, u * v};
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) gram[r][c] += basis[r] * basis[c];
    }
  }
  // Cholesky: a pivot at rounding level relative to its diagonal means a vanishing bilinear.
  const double scale = gram[0][0];
  for (int k = 0; k < 4; ++k) {
    double pivot = gram[k][k];
    for (int p = 0; p < k; ++p) pivot -= gram[k][p] * gram[k][p];
    if (!(pivot > 1e-12 * scale)) return false;
    const double root = std::sqrt(pivot);
    gram[k][k] = root;
    for (int r = k + 1; r < 4; ++r) {
      double s = gram[r][k];
      for (int p = 0; p < k; ++p) s -= gram[r][p] * gram[k][p];
      gram[r][k] = s / root;
    }
  }
  return true;
}

MinCurvatureOperator::MinCurvatureOperator(std::size_t nx, std::size_t ny, const AnchorSet& anchors,
                                           const MinCurvatureOptions& options)
    : nx_(nx),
      ny_(ny),
      anchor_count_(anchors.nodes.size()),
      options_(options),
      memory_limit_(
          options.memory_limit_bytes != 0
              ? options.memory_limit_bytes
              : physical_memory_bytes().value_or(std::numeric_limits<std::uint64_t>::max())),
      node_anchor_(anchors.node_anchor),
      anchor_nodes_(anchors.nodes) {}

AlgoResult<MinCurvatureOperator> MinCurvatureOperator::assemble(
    std::size_t nx, std::size_t ny, const AnchorSet& anchors, const MinCurvatureOptions& options) {
  require(nx >= 2 && ny >= 2, "min-curvature operator needs a lattice of at least 2x2");
  require(nx * ny <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()),
          "min-curvature lattice exceeds 32-bit node indices");
  require(anchors.node_anchor.size() == nx * ny, "anchor map size mismatch");
  // Fewer than four anchors never pin the bilinear null space: nothing to allocate or factor.
  if (anchors.nodes.size() < kMinAnchorsForShift) {
    return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
  }
  const bool pinned = anchors_pin_bilinear(nx, ny, anchors);
  MinCurvatureOperator op(nx, ny, anchors, options);
  const auto assembly_bytes = checked_mul(nx * ny, kAssemblyBytesPerNode);
  if (!assembly_bytes || *assembly_bytes > op.memory_limit_) {
    return std::unexpected(op.out_of_memory(assembly_bytes.value_or(UINT64_MAX)));
  }
  try {
    op.number_free_nodes();
    op.assemble_rows();
    ZV_TRY(op.factor(pinned));
  } catch (const std::bad_alloc&) {
    return std::unexpected(op.out_of_memory(*assembly_bytes));
  }
  return op;
}

const BandLu& MinCurvatureOperator::band() const {
  require(band_.has_value(), "min-curvature operator: no band factors");
  return *band_;
}

const SparseLu& MinCurvatureOperator::sparse() const {
  require(sparse_.has_value(), "min-curvature operator: no sparse factors");
  return *sparse_;
}

AlgoError MinCurvatureOperator::out_of_memory(std::uint64_t needed_bytes) const {
  return AlgoError::invalid_argument(
      memory_shortfall_text("minimum-curvature solve", nx_, ny_, needed_bytes, memory_limit_));
}

void MinCurvatureOperator::number_free_nodes() {
  node_free_.assign(nx_ * ny_, -1);
  free_nodes_.reserve(nx_ * ny_);
  auto visit = [this](std::size_t i, std::size_t j) {
    const std::size_t node = i * ny_ + j;
    if (node_anchor_[node] >= 0) return;
    node_free_[node] = static_cast<std::int32_t>(free_nodes_.size());
    free_nodes_.push_back(node);
  };
  // The shorter axis runs fastest, keeping the band proportional to it.
  if (ny_ >= nx_) {
    for (std::size_t j = 0; j < ny_; ++j) {
      for (std::size_t i = 0; i < nx_; ++i) visit(i, j);
    }
  } else {
    for (std::size_t i = 0; i < nx_; ++i) {
      for (std::size_t j = 0; j < ny_; ++j) visit(i, j);
    }
  }
}

void MinCurvatureOperator::assemble_rows() {
  StencilSystem system = assemble_stencil(nx_, ny_, StencilWeights::at_level(0), node_anchor_,
                                          node_free_, free_nodes_, true);
  rows_ = std::move(system.rows);
  coupling_start_ = std::move(system.coupling_start);
  couplings_ = std::move(system.couplings);
  half_bandwidth_ = system.half_bandwidth;
}

AlgoResult<void> MinCurvatureOperator::factor(bool pinned) {
  const std::size_t n = free_nodes_.size();
  const std::size_t b = half_bandwidth_;
  rhs_.assign(n, 0.0);
  scratch_.assign(n, 0.0);
  double largest_diagonal = 0;
  for (std::size_t r = 0; r < n; ++r) {
    for (auto p = rows_.start[r]; p < rows_.start[r + 1]; ++p) {
      if (static_cast<std::size_t>(rows_.column[p]) == r) {
        largest_diagonal = std::max(largest_diagonal, std::fabs(rows_.value[p]));
      }
    }
  }
  const double retry_shift = kRetryShift * largest_diagonal;
  // Anchors that certainly leave the system singular go straight to the shifted system.
  double shift = pinned ? 0.0 : retry_shift;

  const auto band_values = checked_mul(n, 2 * static_cast<std::uint64_t>(b) + 1);
  const auto band_bytes = band_values ? checked_mul(*band_values, sizeof(double)) : std::nullopt;
  const bool band_fits = band_bytes && *band_bytes <= memory_limit_;
  if (options_.path == MinCurvaturePath::Iterative) {
    // Anchors that leave the system singular would leave it unconverged: the relaxation serves.
    if (!pinned) return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
    return build_multigrid();
  }
  const double n1 = static_cast<double>(std::min(nx_, ny_));
  const double n2 = static_cast<double>(std::max(nx_, ny_));
  const double order = static_cast<double>(anchor_count_ + 4);
  // The transform solve and its polishing basis, beside the assembled rows.
  const auto spectral_bytes =
      checked_add(AnchoredSpectralSolver::bytes_estimate(nx_, ny_, anchor_count_),
                  static_cast<std::uint64_t>(nx_ * ny_) *
                      ((kPolish.restart + 4) * sizeof(double) + kAssemblyBytesPerNode));
  const bool spectral_fits = pinned && spectral_bytes && *spectral_bytes <= memory_limit_;
  bool use_band = band_fits;
  bool use_spectral = false;
  if (options_.path == MinCurvaturePath::Sparse) {
    use_band = false;
  } else if (options_.path == MinCurvaturePath::Spectral) {
    use_band = false;
    use_spectral = spectral_fits;
  } else if (options_.path == MinCurvaturePath::Cheapest) {
    const double band_seconds =
        static_cast<double>(n) * double(b) * double(b) * kBandSecondsPerWork;
    const double sparse_seconds = static_cast<double>(n) * kSparseSecondsPerUnknown +
                                  180 * n1 * n1 * n2 * kSparseSecondsPerWork;
    const auto threads = static_cast<double>(max_threads());
    const double spectral_seconds =
        (n1 * n1 * n2 / threads + n1 * n1 * n1 / 2 + order * order * order) * kDenseSecondsPerFlop +
        (order / threads + kSpectralSolvesBeyondAnchors) * n1 * n2 * kSpectralSecondsPerNodeSolve +
        order * std::min(order * n1, 2 * n1 * n2) / threads * kSpectralSecondsPerSample;
    double best = sparse_seconds;
    if (spectral_fits && spectral_seconds < best) {
      best = spectral_seconds;
      use_spectral = true;
    }
    use_band = band_fits && band_seconds <= std::max(best, kBandReferenceSeconds);
    if (use_band) use_spectral = false;
  }
  if (use_spectral) {
    auto spectral = build_spectral();
    if (spectral || spectral.error().kind() == AlgoError::Kind::Interrupted) return spectral;
    use_band = false;  // the capacitance could not be factored or did not fit: the sparse LU
  }
  if (!use_band) {
    auto sparse = factor_sparse(shift);
    if (sparse || shift != 0 || !is_singular_system(sparse.error())) return sparse;
    return factor_sparse(retry_shift);  // singular after all: the shifted retry
  }
  auto lu = build_and_factor(rows_, b, shift);
  if (lu) {
    band_ = std::move(*lu);
    shift_ = shift;
    return {};
  }
  if (lu.error() == BandLuFailure::Stopped) return std::unexpected(AlgoError::interrupted());
  if (shift != 0) return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
  // A well-posed system the unpivoted band cannot factor: the pivoting LU solves it.
  auto sparse = factor_sparse(0.0);
  if (sparse || !is_singular_system(sparse.error())) return sparse;
  auto shifted = build_and_factor(rows_, b, retry_shift);
  if (shifted) {
    band_ = std::move(*shifted);
    shift_ = retry_shift;
    return {};
  }
  if (shifted.error() == BandLuFailure::Stopped) return std::unexpected(AlgoError::interrupted());
  return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
}

AlgoResult<void> MinCurvatureOperator::factor_sparse(double shift) {
  std::uint64_t needed = 0;
  auto lu = SparseLu::factor(rows_, shift, memory_limit_, &needed);
  if (!lu) {
    if (lu.error() == SparseLuFailure::Stopped) return std::unexpected(AlgoError::interrupted());
    if (lu.error() == SparseLuFailure::Singular) {
      return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
    }
    const auto bound =
        sparse_lu_bytes_lower_bound(rows_.n, rows_.column.size(), std::min(nx_, ny_));
    return std::unexpected(out_of_memory(needed != 0 ? needed : bound.value_or(UINT64_MAX)));
  }
  band_.reset();
  spectral_.reset();
  sparse_ = std::move(*lu);
  shift_ = shift;
  return {};
}

AlgoResult<void> MinCurvatureOperator::build_multigrid() {
  const std::uint64_t n = rows_.n;
  // The hierarchy, and the Krylov basis with its three work vectors.
  const auto krylov_bytes = checked_mul(n, (kKrylov.restart + 4) * sizeof(double));
  const auto needed =
      krylov_bytes ? checked_add(multigrid_bytes_estimate(n), *krylov_bytes) : std::nullopt;
  if (!needed || *needed > memory_limit_) {
    return std::unexpected(out_of_memory(needed.value_or(UINT64_MAX)));
  }
  auto mg = LatticeMultigrid::build(rows_, nx_, ny_, node_anchor_, node_free_,
                                    options_.multigrid_coarsest_unknowns);
  if (!mg) {
    if (mg.error() == SparseLuFailure::Stopped) return std::unexpected(AlgoError::interrupted());
    if (mg.error() == SparseLuFailure::Singular) {
      return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
    }
    return std::unexpected(out_of_memory(*needed));
  }
  band_.reset();
  sparse_.reset();
  multigrid_ = std::move(*mg);
  shift_ = 0;
  return {};
}

AlgoResult<void> MinCurvatureOperator::build_spectral() {
  const StencilWeights w = StencilWeights::at_level(0);
  const WholeLatticeSolver::Weights weights{w.axis2, -(w.axis + 8 * w.axis2)};
  try {
    ZV_ASSIGN_OR_RETURN(AnchoredSpectralSolver solver,
                        AnchoredSpectralSolver::build(nx_, ny_, anchor_nodes_, weights));
    spectral_.emplace(std::move(solver));
  } catch (const std::bad_alloc&) {
    return std::unexpected(
        out_of_memory(AnchoredSpectralSolver::bytes_estimate(nx_, ny_, anchor_nodes_.size())));
  }
  shift_ = 0;
  return {};
}

AlgoResult<void> MinCurvatureOperator::solve_spectral(std::span<const double> anchor_values,
                                                      std::span<const double> b) {
  const std::size_t nodes = nx_ * ny_;
  std::vector<double> surface(nodes), node_rhs(nodes);
  spectral_->solve(anchor_values, {}, surface);
  for (std::size_t r = 0; r < rhs_.size(); ++r) rhs_[r] = surface[free_nodes_[r]];
  // Polish: GMRES preconditioned by the transform solve of the free rows (anchors held at 0).
  const std::vector<double> held(anchor_count_, 0.0);
  const auto precondition = [&](std::span<const double> r, std::span<double> z) {
    for (std::size_t k = 0; k < r.size(); ++k) node_rhs[free_nodes_[k]] = r[k];
    spectral_->solve(held, node_rhs, surface);
    for (std::size_t k = 0; k < z.size(); ++k) z[k] = surface[free_nodes_[k]];
  };
  ZV_ASSIGN_OR_RETURN(const KrylovOutcome outcome, gmres(rows_, precondition, b, rhs_, kPolish));
  last_iterations_ = outcome.iterations;
  return {};
}

AlgoResult<void> MinCurvatureOperator::solve_iterative(std::span<const double> b,
                                                       const Array2D<double>* start) {
  const bool seeded = start != nullptr && start->same_shape(nx_, ny_);
  for (std::size_t r = 0; r < rhs_.size(); ++r) {
    const double z = seeded ? start->data()[free_nodes_[r]] : 0.0;
    rhs_[r] = std::isfinite(z) ? z : 0.0;
  }
  const LatticeMultigrid& mg = *multigrid_;
  ZV_ASSIGN_OR_RETURN(
      const KrylovOutcome outcome,
      gmres(
          rows_, [&mg, this](std::span<const double> r, std::span<double> z) { mg.apply(r, z); }, b,
          rhs_, kKrylov));
  last_iterations_ = outcome.iterations;
  if (!outcome.converged) {
    return std::unexpected(AlgoError::invalid_argument(
        "minimum-curvature iterative solve of lattice " + std::to_string(nx_) + "x" +
        std::to_string(ny_) + " did not converge in " + std::to_string(outcome.iterations) +
        " iterations (backward error " + std::to_string(outcome.backward_error) + ")"));
  }
  return {};
}

bool MinCurvatureOperator::residual_ok(std::span<const double> x, std::span<const double> b) {
  // Against the factored system: the matrix plus the shift on its diagonal.
  const double shift = shift_;
  rows_.multiply(x, scratch_);
  double residual = 0, x_norm = 0, b_norm = 0;
  for (std::size_t r = 0; r < rows_.n; ++r) {
    if (!std::isfinite(x[r])) return false;
    residual = std::max(residual, std::fabs(b[r] - (scratch_[r] + shift * x[r])));
    x_norm = std::max(x_norm, std::fabs(x[r]));
    b_norm = std::max(b_norm, std::fabs(b[r]));
  }
  const double scale = (rows_.norm_inf() + std::fabs(shift)) * x_norm + b_norm;
  return residual <= kBackwardErrorTolerance * scale;
}

AlgoResult<Array2D<double>> MinCurvatureOperator::solve(std::span<const double> anchor_values,
                                                        const Array2D<double>* start) {
  require(anchor_values.size() == anchor_count_, "anchor value count mismatch");
  const std::size_t n = free_nodes_.size();
  std::vector<double> b(n);
  for (std::size_t r = 0; r < n; ++r) {
    double sum = 0;
    for (std::size_t c = coupling_start_[r]; c < coupling_start_[r + 1]; ++c) {
      sum += couplings_[c].weight * anchor_values[static_cast<std::size_t>(couplings_[c].fixed)];
    }
    b[r] = -sum;
  }
  try {
    if (multigrid_) {
      ZV_TRY(solve_iterative(b, start));
    } else if (spectral_) {
      ZV_TRY(solve_spectral(anchor_values, b));
      if (!residual_ok(rhs_, b)) {
        // The transform solve lost accuracy: the pivoting LU takes over from here on.
        ZV_TRY(factor_sparse(0.0));
        rhs_ = b;
      }
    } else {
      rhs_ = b;
    }
    if (band_) {
      band_->solve_in_place(rhs_);
      if (!residual_ok(rhs_, b)) {
        // The unpivoted factors lost accuracy: the pivoting LU takes over from here on.
        ZV_TRY(factor_sparse(shift_));
        rhs_ = b;
      }
    }
    if (sparse_) {
      sparse_->solve_in_place(rhs_);
      if (!residual_ok(rhs_, b)) {
        return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
      }
    }
  } catch (const std::bad_alloc&) {
    return std::unexpected(out_of_memory(static_cast<std::uint64_t>(n) * 8 * sizeof(double)));
  }

  Array2D<double> out(nx_, ny_);
  std::vector<double>& values = out.data();
  for (std::size_t node = 0; node < values.size(); ++node) {
    const std::int32_t anchor = node_anchor_[node];
    values[node] = anchor >= 0 ? anchor_values[static_cast<std::size_t>(anchor)]
                               : rhs_[static_cast<std::size_t>(node_free_[node])];
  }
  return out;
}

}  // namespace zorvatools
