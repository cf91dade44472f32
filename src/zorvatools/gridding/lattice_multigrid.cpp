#include "zorvatools/gridding/lattice_multigrid.hpp"

#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

using SparseRows = Eigen::SparseMatrix<double, Eigen::RowMajor, std::int32_t>;

namespace {

// On a lattice this short the system is factored instead.
constexpr std::size_t kCoarsestAxis = 8;
// Gauss-Seidel sweeps before and after the coarse correction.
constexpr int kPreSweeps = 2;
constexpr int kPostSweeps = 2;

// A matrix by rows as the kernels read it, with the position of each row's diagonal entry.
template <class Start>
struct RowsRef {
  std::size_t n;
  const Start* start;
  const std::int32_t* column;
  const double* value;
  const std::int64_t* diag;
};

}  // namespace

struct MultigridLevel {
  SparseRows a;                     // this lattice's operator (coarse levels only)
  std::vector<std::int64_t> diag;   // position of each row's diagonal entry
  SparseRows p;                     // interpolation from the next coarser lattice (empty last)
  SparseRows pt;                    // its transpose, the restriction
  std::vector<double> rhs, x, res;  // the cycle's scratch (rhs and x unused on the finest)
  std::vector<std::size_t> edge_rows;  // finest only: rows near the lattice's edges
};

struct MultigridLevels {
  std::vector<MultigridLevel> levels;
  std::optional<SparseLu> coarsest;
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

CompressedRows surrogate_rows(std::size_t nx, std::size_t ny,
                              std::span<const std::int32_t> node_free,
                              std::span<const std::size_t> free_nodes) {
  const auto sx = static_cast<std::int64_t>(nx), sy = static_cast<std::int64_t>(ny);
  struct Tap {
    std::int64_t i, j;
    double w;
  };
  // The Laplacian at node (i, j): second differences along each axis, none along an axis on
  // whose edge the node lies (the extrapolated ghost cancels it).
  auto laplacian = [&](std::int64_t i, std::int64_t j, Tap* taps) {
    std::size_t count = 0;
    double centre = 0;
    if (i > 0 && i + 1 < sx) {
      taps[count++] = {i - 1, j, 1.0};
      taps[count++] = {i + 1, j, 1.0};
      centre -= 2;
    }
    if (j > 0 && j + 1 < sy) {
      taps[count++] = {i, j - 1, 1.0};
      taps[count++] = {i, j + 1, 1.0};
      centre -= 2;
    }
    if (centre != 0) taps[count++] = {i, j, centre};
    return count;
  };
  CompressedRows rows;
  rows.n = free_nodes.size();
  rows.start.reserve(rows.n + 1);
  rows.column.reserve(rows.n * 13);
  rows.value.reserve(rows.n * 13);
  rows.start.push_back(0);
  std::vector<std::pair<std::int32_t, double>> entries;
  auto add = [&](std::int64_t i, std::int64_t j, double w) {
    const std::int32_t col = node_free[static_cast<std::size_t>(i * sy + j)];
    if (col < 0) return;  // a fixed node: its column is not an unknown
    auto entry = std::find_if(entries.begin(), entries.end(),
                              [col](const auto& e) { return e.first == col; });
    if (entry == entries.end()) {
      entries.emplace_back(col, w);
    } else {
      entry->second += w;
    }
  };
  const std::int64_t di[5] = {0, -1, 1, 0, 0}, dj[5] = {0, 0, 0, -1, 1};
  for (const std::size_t node : free_nodes) {
    const auto i = static_cast<std::int64_t>(node / ny), j = static_cast<std::int64_t>(node % ny);
    entries.clear();
    // 0.75 L^T L: every Laplacian that sees this node, weighted by how it sees it.
    for (int k = 0; k < 5; ++k) {
      const std::int64_t mi = i + di[k], mj = j + dj[k];
      if (mi < 0 || mi >= sx || mj < 0 || mj >= sy) continue;
      Tap taps[5];
      const std::size_t count = laplacian(mi, mj, taps);
      double seen = 0;
      for (std::size_t t = 0; t < count; ++t) {
        if (taps[t].i == i && taps[t].j == j) seen = taps[t].w;
      }
      if (seen == 0) continue;
      for (std::size_t t = 0; t < count; ++t) add(taps[t].i, taps[t].j, 0.75 * seen * taps[t].w);
    }
    // 0.25 G^T G: one difference per lattice edge at this node.
    for (int k = 1; k < 5; ++k) {
      const std::int64_t mi = i + di[k], mj = j + dj[k];
      if (mi < 0 || mi >= sx || mj < 0 || mj >= sy) continue;
      add(i, j, 0.25);
      add(mi, mj, -0.25);
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [col, value] : entries) {
      rows.column.push_back(col);
      rows.value.push_back(value);
    }
    rows.start.push_back(static_cast<std::int64_t>(rows.column.size()));
  }
  return rows;
}

namespace {

template <class Start>
std::vector<std::int64_t> diagonal_positions(std::size_t n, const Start* start,
                                             const std::int32_t* column, const double* value) {
  std::vector<std::int64_t> diag(n, -1);
  for (std::size_t r = 0; r < n; ++r) {
    for (auto p = start[r]; p < start[r + 1]; ++p) {
      if (static_cast<std::size_t>(column[p]) == r) diag[r] = p;
    }
    require(diag[r] >= 0 && value[diag[r]] > 0, "multigrid: a row without a positive diagonal");
  }
  return diag;
}

// The interpolation from the lattice of every other node (free numbering `coarse_free`) into
// the free nodes of this one (`node_free`, -1 for fixed nodes, where corrections are zero).
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
  m.resizeNonZeros(static_cast<Eigen::Index>(a.column.size()));
  for (std::size_t r = 0; r <= a.n; ++r) m.outerIndexPtr()[r] = static_cast<std::int32_t>(a.start[r]);
  std::copy(a.column.begin(), a.column.end(), m.innerIndexPtr());
  std::copy(a.value.begin(), a.value.end(), m.valuePtr());
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

// A coarse unknown that no free fine node interpolates from has an empty row and column: it gets
// a unit diagonal, and its right-hand side is always zero.
SparseRows with_unit_empty_diagonals(SparseRows a) {
  std::vector<Eigen::Triplet<double, std::int32_t>> missing;
  for (std::int32_t r = 0; r < a.rows(); ++r) {
    if (a.outerIndexPtr()[r] == a.outerIndexPtr()[r + 1]) missing.emplace_back(r, r, 1.0);
  }
  if (missing.empty()) return a;
  SparseRows unit(a.rows(), a.cols());
  unit.setFromTriplets(missing.begin(), missing.end());
  return a + unit;
}

RowsRef<std::int64_t> view(const CompressedRows& a, const std::vector<std::int64_t>& diag) {
  return {a.n, a.start.data(), a.column.data(), a.value.data(), diag.data()};
}

RowsRef<std::int32_t> view(const SparseRows& a, const std::vector<std::int64_t>& diag) {
  return {static_cast<std::size_t>(a.rows()), a.outerIndexPtr(), a.innerIndexPtr(), a.valuePtr(),
          diag.data()};
}

// In-place Gauss-Seidel sweep on a x = b, rows in order (forward) or in reverse.
template <class Start>
void gauss_seidel(const RowsRef<Start>& a, std::span<const double> b, std::span<double> x,
                  bool forward) {
  for (std::size_t k = 0; k < a.n; ++k) {
    const std::size_t r = forward ? k : a.n - 1 - k;
    double s = b[r];
    for (Start p = a.start[r]; p < a.start[r + 1]; ++p) s -= a.value[p] * x[std::size_t(a.column[p])];
    x[r] += s / a.value[a.diag[r]];
  }
}

template <class Start>
void residual(const RowsRef<Start>& a, std::span<const double> b, std::span<const double> x,
              std::span<double> r) {
  for (std::size_t row = 0; row < a.n; ++row) {
    double s = b[row];
    for (Start p = a.start[row]; p < a.start[row + 1]; ++p) {
      s -= a.value[p] * x[std::size_t(a.column[p])];
    }
    r[row] = s;
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

std::expected<LatticeMultigrid, SparseLuFailure> LatticeMultigrid::build(
    const CompressedRows& a, std::size_t nx, std::size_t ny,
    std::span<const std::int32_t> node_free, std::size_t coarsest_unknowns) {
  require(node_free.size() == nx * ny,
          "multigrid: node map size mismatch");
  auto levels = std::make_shared<MultigridLevels>();
  {
    MultigridLevel& fine = levels->levels.emplace_back();
    fine.diag = diagonal_positions(a.n, a.start.data(), a.column.data(), a.value.data());
    fine.res.resize(a.n);
    const char* env = std::getenv("ZV_MG_EDGE");
    const std::size_t width = env ? std::size_t(std::atoi(env)) : 0;
    for (std::size_t node = 0; node < nx * ny; ++node) {
      const std::size_t i = node / ny, j = node % ny;
      const std::size_t d = std::min(std::min(i, nx - 1 - i), std::min(j, ny - 1 - j));
      if (d < width && node_free[node] >= 0) fine.edge_rows.push_back(std::size_t(node_free[node]));
    }
    std::sort(fine.edge_rows.begin(), fine.edge_rows.end());
  }
  if (a.n > coarsest_unknowns && std::min(nx, ny) > kCoarsestAxis) {
    // The surrogate serves the first product only; the coarse levels have no fixed nodes.
    std::vector<std::size_t> free_nodes(a.n);
    for (std::size_t node = 0; node < nx * ny; ++node) {
      if (node_free[node] >= 0) free_nodes[static_cast<std::size_t>(node_free[node])] = node;
    }
    SparseRows surrogate = std::getenv("ZV_MG_TRUE") ? to_sparse(a) : to_sparse(surrogate_rows(nx, ny, node_free, free_nodes));
    free_nodes = {};
    std::vector<std::int32_t> free_map(node_free.begin(), node_free.end());
    while (true) {
      MultigridLevel& level = levels->levels.back();
      const SparseRows& current = levels->levels.size() == 1 ? surrogate : level.a;
      const auto unknowns = static_cast<std::size_t>(current.rows());
      const std::size_t cx = (nx + 1) / 2, cy = (ny + 1) / 2;
      std::vector<std::int32_t> coarse_free(cx * cy);
      for (std::size_t c = 0; c < coarse_free.size(); ++c) coarse_free[c] = std::int32_t(c);
      level.p = interpolation(nx, ny, free_map, unknowns, coarse_free, std::int32_t(cx * cy));
      level.pt = level.p.transpose();
      SparseRows coarse =
          with_unit_empty_diagonals(SparseRows(level.pt * SparseRows(current * level.p)));
      if (levels->levels.size() == 1) surrogate = SparseRows();  // served its one product
      MultigridLevel& next = levels->levels.emplace_back();
      next.a = std::move(coarse);
      next.diag = diagonal_positions(static_cast<std::size_t>(next.a.rows()),
                                     next.a.outerIndexPtr(), next.a.innerIndexPtr(),
                                     next.a.valuePtr());
      next.rhs.resize(cx * cy);
      next.x.resize(cx * cy);
      next.res.resize(cx * cy);
      nx = cx;
      ny = cy;
      free_map = std::move(coarse_free);
      if (cx * cy <= coarsest_unknowns || std::min(cx, cy) <= kCoarsestAxis) break;
    }
  }
  if (levels->levels.size() > 1) {
    auto lu = SparseLu::factor(compressed(levels->levels.back().a), 0.0, UINT64_MAX);
    if (!lu) return std::unexpected(lu.error());
    levels->coarsest.emplace(std::move(*lu));
    levels->levels.back().a = SparseRows();  // the factors stand for it
  } else {
    auto lu = SparseLu::factor(a, 0.0, UINT64_MAX);
    if (!lu) return std::unexpected(lu.error());
    levels->coarsest.emplace(std::move(*lu));
  }
  return LatticeMultigrid(std::move(levels));
}

std::size_t LatticeMultigrid::level_count() const { return levels_->levels.size(); }

std::uint64_t LatticeMultigrid::operator_entries() const {
  std::uint64_t entries = 0;
  for (const MultigridLevel& level : levels_->levels) {
    entries += static_cast<std::uint64_t>(level.a.nonZeros() + 2 * level.p.nonZeros());
  }
  return entries;
}

std::uint64_t multigrid_bytes_estimate(std::uint64_t n) {
  // Per fine unknown, 12 bytes an entry: the surrogate (13 entries, held twice while converted),
  // the interpolation and its transpose (about 6 entries each), the surrogate times the
  // interpolation (about 36), the first coarse operator (81 taps on a quarter of the nodes) and
  // the coarser ones (a third of it); the diagonal positions and the cycle's vectors.
  constexpr std::uint64_t kBytesPerUnknown = (2 * 13 + 2 * 6 + 36 + 21 + 7) * 12 + 8 + 3 * 8;
  return n * kBytesPerUnknown;
}

void LatticeMultigrid::apply(const CompressedRows& a, std::span<const double> r,
                             std::span<double> z) const {
  std::vector<MultigridLevel>& levels = levels_->levels;
  require(a.n == levels.front().diag.size() && r.size() == a.n && z.size() == a.n,
          "multigrid: vector length mismatch");
  if (levels.size() == 1) {
    std::copy(r.begin(), r.end(), z.begin());
    levels_->coarsest->solve_in_place(z);
    return;
  }
  const RowsRef<std::int64_t> fine = view(a, levels.front().diag);
  auto smooth = [&](std::size_t l, std::span<const double> b, std::span<double> x, bool forward) {
    if (l == 0) {
      gauss_seidel(fine, b, x, forward);
      static const int extra = std::getenv("ZV_MG_EDGE_SWEEPS") ? std::atoi(std::getenv("ZV_MG_EDGE_SWEEPS")) : 0;
      const auto& rows = levels[0].edge_rows;
      for (int e = 0; e < extra; ++e) {
        for (std::size_t k = 0; k < rows.size(); ++k) {
          const std::size_t r = forward ? rows[k] : rows[rows.size() - 1 - k];
          double s = b[r];
          for (auto p = fine.start[r]; p < fine.start[r + 1]; ++p) s -= fine.value[p] * x[std::size_t(fine.column[p])];
          x[r] += s / fine.value[fine.diag[r]];
        }
      }
    } else {
      gauss_seidel(view(levels[l].a, levels[l].diag), b, x, forward);
    }
  };
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
    for (int s = 0; s < kPreSweeps; ++s) smooth(l, rhs_of(l), xl, true);
    if (l == 0) {
      residual(fine, rhs_of(l), xl, levels[l].res);
    } else {
      residual(view(levels[l].a, levels[l].diag), rhs_of(l), xl, levels[l].res);
    }
    multiply(levels[l].pt, levels[l].res, levels[l + 1].rhs, false);
  }
  std::span<double> xc = x_of(last);
  std::copy(rhs_of(last).begin(), rhs_of(last).end(), xc.begin());
  levels_->coarsest->solve_in_place(xc);
  // Up: add the interpolated correction, smooth in reverse order.
  for (std::size_t l = last; l-- > 0;) {
    std::span<double> xl = x_of(l);
    multiply(levels[l].p, x_of(l + 1), xl, true);
    for (int s = 0; s < kPostSweeps; ++s) smooth(l, rhs_of(l), xl, false);
  }
}

}  // namespace zorvatools
