#include "zorvatools/gridding/lattice_multigrid.hpp"

#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/gridding/mincurv_operator.hpp"
#include "zorvatools/gridding/stencil_rows.hpp"

namespace zorvatools {

using SparseRows = Eigen::SparseMatrix<double, Eigen::RowMajor, std::int32_t>;

namespace {

// On a lattice this short the system is factored instead.
constexpr std::size_t kCoarsestAxis = 8;
// The coarse lattices' stencils match the finer operators less well at each level (the edge rule
// does not scale with the spacing), and Krylov iterations grow quickly past two coarse levels:
// the coarsest level is factored however large it is.
constexpr unsigned kMaxCoarseLevels = 2;
// Gauss-Seidel sweeps before and after the coarse correction.
constexpr int kPreSweeps = 2;
constexpr int kPostSweeps = 2;

}  // namespace

struct MultigridLevel {
  SparseRows a;                     // this lattice's system
  std::vector<std::int32_t> diag;   // position of each row's diagonal entry in a's values
  SparseRows p;                     // interpolation from the next coarser lattice (empty last)
  SparseRows pt;                    // its transpose, the restriction
  SparseRows c;                     // the anchors' share of a (coarse lattices only)
  std::vector<double> rhs, x, res;  // the cycle's scratch (rhs and x unused on the finest)
};

struct MultigridLevels {
  std::vector<MultigridLevel> levels;
  std::optional<SparseLu> coarsest;
  std::mutex scratch;  // copies share the levels' scratch: one cycle at a time
};

std::size_t interpolation_weights(std::size_t n, std::size_t i, std::vector<double>& weights) {
  weights.clear();
  if (i % 2 == 0) {
    weights.push_back(1.0);
    return i / 2;
  }
  const std::size_t nc = (n + 1) / 2;
  const double x = static_cast<double>(i) / 2;  // position in coarse node units
  const bool beyond = static_cast<double>(nc - 1) < x;
  const std::size_t m = std::min<std::size_t>(nc, beyond ? 3 : 4);
  const std::size_t below = i / 2;  // the coarse node just before x
  const std::size_t first = std::min(below > 0 ? below - 1 : 0, nc - m);
  for (std::size_t k = 0; k < m; ++k) {
    double w = 1;
    const auto xk = static_cast<double>(first + k);
    for (std::size_t l = 0; l < m; ++l) {
      if (l != k) w *= (x - static_cast<double>(first + l)) / (xk - static_cast<double>(first + l));
    }
    weights.push_back(w);
  }
  return first;
}

namespace {

std::vector<std::int32_t> diagonal_positions(const SparseRows& a) {
  std::vector<std::int32_t> diag(static_cast<std::size_t>(a.rows()), -1);
  for (std::int32_t r = 0; r < a.rows(); ++r) {
    for (auto p = a.outerIndexPtr()[r]; p < a.outerIndexPtr()[r + 1]; ++p) {
      if (a.innerIndexPtr()[p] == r) diag[static_cast<std::size_t>(r)] = p;
    }
    require(diag[static_cast<std::size_t>(r)] >= 0 && a.valuePtr()[diag[std::size_t(r)]] != 0,
            "multigrid: a row without a diagonal entry");
  }
  return diag;
}

// The interpolation from the lattice of every other node (free numbering `coarse_free`, -1 for
// fixed nodes, whose correction is zero) into the free nodes of this one.
SparseRows interpolation(std::size_t nx, std::size_t ny, std::span<const std::int32_t> node_free,
                         std::size_t free_count, std::span<const std::int32_t> coarse_free,
                         std::int32_t coarse_count) {
  const std::size_t cy = (ny + 1) / 2;
  std::vector<Eigen::Triplet<double, std::int32_t>> entries;
  entries.reserve(free_count * 7);
  std::vector<double> wi, wj;
  for (std::size_t i = 0; i < nx; ++i) {
    const std::size_t fi = interpolation_weights(nx, i, wi);
    for (std::size_t j = 0; j < ny; ++j) {
      const std::int32_t row = node_free[i * ny + j];
      if (row < 0) continue;
      const std::size_t fj = interpolation_weights(ny, j, wj);
      for (std::size_t a = 0; a < wi.size(); ++a) {
        for (std::size_t b = 0; b < wj.size(); ++b) {
          const std::int32_t col = coarse_free[(fi + a) * cy + fj + b];
          if (col >= 0) entries.emplace_back(row, col, wi[a] * wj[b]);
        }
      }
    }
  }
  SparseRows p(static_cast<std::int32_t>(free_count), coarse_count);
  p.setFromTriplets(entries.begin(), entries.end());
  return p;
}

SparseRows to_sparse(const CompressedRows& a) {
  SparseRows m(static_cast<std::int32_t>(a.n), static_cast<std::int32_t>(a.n));
  std::vector<Eigen::Triplet<double, std::int32_t>> entries;
  entries.reserve(a.column.size());
  for (std::size_t r = 0; r < a.n; ++r) {
    for (auto p = a.start[r]; p < a.start[r + 1]; ++p) {
      entries.emplace_back(static_cast<std::int32_t>(r), a.column[std::size_t(p)],
                           a.value[std::size_t(p)]);
    }
  }
  m.setFromTriplets(entries.begin(), entries.end());
  return m;
}

CompressedRows compressed(const SparseRows& a) {
  CompressedRows rows;
  rows.n = static_cast<std::size_t>(a.rows());
  rows.start.assign(a.outerIndexPtr(), a.outerIndexPtr() + a.rows() + 1);
  rows.column.assign(a.innerIndexPtr(), a.innerIndexPtr() + a.nonZeros());
  rows.value.assign(a.valuePtr(), a.valuePtr() + a.nonZeros());
  return rows;
}

// In-place Gauss-Seidel sweeps on a x = b, rows in order (forward) or in reverse.
void gauss_seidel(const MultigridLevel& level, std::span<const double> b, std::span<double> x,
                  bool forward) {
  const auto n = static_cast<std::int32_t>(level.a.rows());
  const std::int32_t* start = level.a.outerIndexPtr();
  const std::int32_t* col = level.a.innerIndexPtr();
  const double* val = level.a.valuePtr();
  for (std::int32_t k = 0; k < n; ++k) {
    const std::int32_t r = forward ? k : n - 1 - k;
    double s = b[static_cast<std::size_t>(r)];
    for (std::int32_t p = start[r]; p < start[r + 1]; ++p) s -= val[p] * x[std::size_t(col[p])];
    const std::int32_t d = level.diag[static_cast<std::size_t>(r)];
    x[static_cast<std::size_t>(r)] += s / val[d];
  }
}

void residual(const SparseRows& a, std::span<const double> b, std::span<const double> x,
              std::span<double> r) {
  const std::int32_t* start = a.outerIndexPtr();
  const std::int32_t* col = a.innerIndexPtr();
  const double* val = a.valuePtr();
  for (std::int32_t row = 0; row < a.rows(); ++row) {
    double s = b[static_cast<std::size_t>(row)];
    for (std::int32_t p = start[row]; p < start[row + 1]; ++p) {
      s -= val[p] * x[std::size_t(col[p])];
    }
    r[static_cast<std::size_t>(row)] = s;
  }
}

// y = m x, or y += m x.
void multiply(const SparseRows& m, std::span<const double> x, std::span<double> y, bool add) {
  const std::int32_t* start = m.outerIndexPtr();
  const std::int32_t* col = m.innerIndexPtr();
  const double* val = m.valuePtr();
  for (std::int32_t row = 0; row < m.rows(); ++row) {
    double s = 0;
    for (std::int32_t p = start[row]; p < start[row + 1]; ++p) s += val[p] * x[std::size_t(col[p])];
    y[static_cast<std::size_t>(row)] = add ? y[std::size_t(row)] + s : s;
  }
}

}  // namespace

namespace {

// Selection of `picked` among `count` indices: row r has a 1 in column picked[r].
SparseRows selection(std::span<const std::size_t> picked, std::size_t count) {
  std::vector<Eigen::Triplet<double, std::int32_t>> entries;
  entries.reserve(picked.size());
  for (std::size_t r = 0; r < picked.size(); ++r) {
    entries.emplace_back(static_cast<std::int32_t>(r), static_cast<std::int32_t>(picked[r]), 1.0);
  }
  SparseRows s(static_cast<std::int32_t>(picked.size()), static_cast<std::int32_t>(count));
  s.setFromTriplets(entries.begin(), entries.end());
  return s;
}

// The stencil of a lattice without fixed nodes, rows `nodes` (all nodes when empty).
SparseRows stencil_matrix(std::size_t nx, std::size_t ny, unsigned level,
                          std::span<const std::size_t> nodes) {
  std::vector<std::int32_t> none(nx * ny, -1), identity(nx * ny);
  std::vector<std::size_t> all;
  for (std::size_t k = 0; k < identity.size(); ++k) identity[k] = static_cast<std::int32_t>(k);
  if (nodes.empty()) {
    all.resize(nx * ny);
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = k;
    nodes = all;
  }
  const StencilSystem system =
      assemble_stencil(nx, ny, StencilWeights::at_level(level), none, identity, nodes, false);
  SparseRows m(static_cast<std::int32_t>(nodes.size()), static_cast<std::int32_t>(nx * ny));
  m.resize(static_cast<std::int32_t>(nodes.size()), static_cast<std::int32_t>(nx * ny));
  std::vector<Eigen::Triplet<double, std::int32_t>> entries;
  entries.reserve(system.rows.column.size());
  for (std::size_t r = 0; r < nodes.size(); ++r) {
    for (auto p = system.rows.start[r]; p < system.rows.start[r + 1]; ++p) {
      entries.emplace_back(static_cast<std::int32_t>(r), system.rows.column[std::size_t(p)],
                           system.rows.value[std::size_t(p)]);
    }
  }
  m.setFromTriplets(entries.begin(), entries.end());
  return m;
}

// The anchors' share of the first coarse operator. With D the free-node indicator and P the
// interpolation onto every fine node, the Galerkin operator of the anchored system is
// P^T D A D P. For a smooth coarse correction u this is u^T P^T A P u plus, at each anchor a,
// A_aa (P u)_a^2 less terms in (A P u)_a, which smoothness makes small: the coarse stencil
// (standing for P^T A P, and sound at the edges) plus the penalty Pa^T diag(A_aa) Pa, which is
// positive semidefinite, keeps the coarse operators definite and pins every coarse level.
SparseRows anchor_correction(std::size_t nx, std::size_t ny,
                             std::span<const std::int32_t> node_fixed, const SparseRows& p_all) {
  std::vector<std::size_t> anchors;
  for (std::size_t node = 0; node < nx * ny; ++node) {
    if (node_fixed[node] >= 0) anchors.push_back(node);
  }
  const SparseRows a_rows = stencil_matrix(nx, ny, 0, anchors);
  std::vector<Eigen::Triplet<double, std::int32_t>> weights;
  for (std::size_t r = 0; r < anchors.size(); ++r) {
    weights.emplace_back(std::int32_t(r), std::int32_t(r),
                         a_rows.coeff(std::int32_t(r), std::int32_t(anchors[r])));
  }
  SparseRows w(std::int32_t(anchors.size()), std::int32_t(anchors.size()));
  w.setFromTriplets(weights.begin(), weights.end());
  const SparseRows pa = selection(anchors, nx * ny) * p_all;
  const SparseRows pa_t = pa.transpose();
  return pa_t * SparseRows(w * pa);
}

}  // namespace

std::expected<LatticeMultigrid, SparseLuFailure> LatticeMultigrid::build(
    const CompressedRows& a, std::size_t nx, std::size_t ny,
    std::span<const std::int32_t> node_fixed, std::span<const std::int32_t> node_free,
    std::size_t coarsest_unknowns) {
  require(node_free.size() == nx * ny && node_fixed.size() == nx * ny,
          "multigrid: node map size mismatch");
  auto levels = std::make_shared<MultigridLevels>();
  levels->levels.emplace_back();
  levels->levels.back().a = to_sparse(a);
  std::vector<std::int32_t> free_map(node_free.begin(), node_free.end());
  // Coarse lattices have no fixed nodes: the anchors live on in a Galerkin correction.
  SparseRows correction;
  for (unsigned depth = 1;; ++depth) {
    MultigridLevel& level = levels->levels.back();
    level.diag = diagonal_positions(level.a);
    const auto unknowns = static_cast<std::size_t>(level.a.rows());
    if (unknowns <= coarsest_unknowns || std::min(nx, ny) <= kCoarsestAxis ||
        depth > kMaxCoarseLevels) {
      break;
    }
    const std::size_t cx = (nx + 1) / 2, cy = (ny + 1) / 2;
    std::vector<std::int32_t> coarse_free(cx * cy);
    for (std::size_t c = 0; c < coarse_free.size(); ++c) coarse_free[c] = std::int32_t(c);
    level.p = interpolation(nx, ny, free_map, unknowns, coarse_free, std::int32_t(cx * cy));
    level.pt = level.p.transpose();
    if (depth == 1) {
      std::vector<std::int32_t> every(nx * ny);
      for (std::size_t k = 0; k < every.size(); ++k) every[k] = static_cast<std::int32_t>(k);
      const SparseRows p_all =
          interpolation(nx, ny, every, nx * ny, coarse_free, std::int32_t(cx * cy));
      correction = anchor_correction(nx, ny, node_fixed, p_all);
    } else {
      correction = level.pt * SparseRows(level.c * level.p);
    }
    MultigridLevel coarse;
    coarse.c = correction;
    coarse.a = SparseRows(stencil_matrix(cx, cy, depth, {})) + correction;
    levels->levels.push_back(std::move(coarse));
    nx = cx;
    ny = cy;
    free_map = std::move(coarse_free);
  }
  for (std::size_t l = 0; l < levels->levels.size(); ++l) {
    MultigridLevel& level = levels->levels[l];
    const auto n = static_cast<std::size_t>(level.a.rows());
    if (l > 0) {
      level.rhs.resize(n);
      level.x.resize(n);
    }
    level.res.resize(n);
  }
  auto lu = SparseLu::factor(compressed(levels->levels.back().a), 0.0, UINT64_MAX);
  if (!lu) return std::unexpected(lu.error());
  levels->coarsest.emplace(std::move(*lu));
  return LatticeMultigrid(std::move(levels));
}

std::size_t LatticeMultigrid::level_count() const {
  return levels_->levels.size();
}

std::uint64_t LatticeMultigrid::operator_entries() const {
  std::uint64_t entries = 0;
  for (const MultigridLevel& level : levels_->levels) {
    entries += static_cast<std::uint64_t>(level.a.nonZeros() + 2 * level.p.nonZeros());
  }
  return entries;
}

std::uint64_t multigrid_bytes_estimate(std::uint64_t n) {
  // Per fine unknown, 12 bytes an entry: the fine matrix copy (13 entries), the interpolation,
  // its transpose and the set-up's interpolation onto every node (about 7 entries each), the
  // coarse operators (a third of the fine one, with the anchor penalty), and the V-cycle's
  // vectors on every level.
  constexpr std::uint64_t kBytesPerUnknown = (13 + 3 * 7 + 8) * 12 + 4 * 8;
  return n * kBytesPerUnknown;
}

void LatticeMultigrid::apply(std::span<const double> r, std::span<double> z) const {
  std::vector<MultigridLevel>& levels = levels_->levels;
  require(r.size() == static_cast<std::size_t>(levels.front().a.rows()) && z.size() == r.size(),
          "multigrid: vector length mismatch");
  const std::lock_guard<std::mutex> lock(levels_->scratch);
  // The finest level works in r and z, the others in their own scratch.
  auto rhs_of = [&](std::size_t l) -> std::span<const double> {
    return l == 0 ? r : std::span<const double>(levels[l].rhs);
  };
  auto x_of = [&](std::size_t l) -> std::span<double> {
    return l == 0 ? z : std::span<double>(levels[l].x);
  };
  const std::size_t last = levels.size() - 1;
  // Down: smooth from zero, restrict the residual.
  for (std::size_t l = 0; l < last; ++l) {
    std::span<double> xl = x_of(l);
    std::fill(xl.begin(), xl.end(), 0.0);
    for (int s = 0; s < kPreSweeps; ++s) gauss_seidel(levels[l], rhs_of(l), xl, true);
    residual(levels[l].a, rhs_of(l), xl, levels[l].res);
    multiply(levels[l].pt, levels[l].res, levels[l + 1].rhs, false);
  }
  std::span<double> xc = x_of(last);
  std::copy(rhs_of(last).begin(), rhs_of(last).end(), xc.begin());
  levels_->coarsest->solve_in_place(xc);
  // Up: add the interpolated correction, smooth in reverse order.
  for (std::size_t l = last; l-- > 0;) {
    std::span<double> xl = x_of(l);
    multiply(levels[l].p, x_of(l + 1), xl, true);
    for (int s = 0; s < kPostSweeps; ++s) gauss_seidel(levels[l], rhs_of(l), xl, false);
  }
}

}  // namespace zorvatools
