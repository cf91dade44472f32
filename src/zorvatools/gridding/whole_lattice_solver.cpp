#include "zorvatools/gridding/whole_lattice_solver.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>

#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/foundation/worker_pool.hpp"
#include "zorvatools/gridding/dense_lu.hpp"
#include "zorvatools/gridding/mincurv_operator.hpp"

namespace zorvatools {
namespace {

// Beyond this many samples per node of the longer axis, the first axis's inverse transform costs
// less than evaluating its basis at every sample (measured at 301 and 1001 nodes a side).
constexpr std::size_t kSamplesPerColumnBeforeTransform = 2;

std::vector<double> eigenvalues(std::size_t n) {
  std::vector<double> lambda(n);
  for (std::size_t m = 0; m < n; ++m) lambda[m] = second_difference_eigenvalue(n, m);
  return lambda;
}

// Row `row` of G applied to sine m is lambda_m sin(pi m row / (n - 1)); the end rows of P - G^2
// are rows 1 and n - 2 of G.
std::vector<double> edge_excess(std::size_t n, std::size_t row, const std::vector<double>& lambda) {
  std::vector<double> q(n, 0.0);
  for (std::size_t m = 1; m + 1 < n; ++m) {
    q[m] = lambda[m] *
           std::sin(std::numbers::pi * static_cast<double>(m * row) / static_cast<double>(n - 1));
  }
  return q;
}

// Dot products along a lattice line keep this many partial sums, summed in a fixed order at the
// end: independent chains that vectorise, and bits that depend on the line's length alone.
constexpr std::size_t kLanes = 8;
using Lanes = std::array<double, kLanes>;

double lane_sum(const Lanes& lanes) {
  double sum = 0;
  for (const double x : lanes) sum += x;
  return sum;
}

// (u, v) -> ((u + v) / sqrt 2, (u - v) / sqrt 2): orthogonal and its own inverse.
void rotate_pair(double& u, double& v) {
  constexpr double kHalfRoot = 1 / std::numbers::sqrt2;
  const double sum = (u + v) * kHalfRoot, difference = (u - v) * kHalfRoot;
  u = sum;
  v = difference;
}

// Parity under the axis's mirror of coefficient m: 0 even, 1 odd. Sine m is even for odd m; the
// end hats, once replaced by their sum (at 0) and difference (at n - 1), are even and odd.
std::size_t parity(std::size_t m, std::size_t n) {
  if (m == 0) return 0;
  if (m == n - 1) return 1;
  return m % 2 == 1 ? 0 : 1;
}

// The sum (0) and difference (1) of a pair of end vectors, with their hat coefficients rotated
// the same way, so that each has one parity.
std::array<std::vector<double>, 2> symmetric_pair(const std::array<std::vector<double>, 2>& v) {
  std::array<std::vector<double>, 2> out{v[0], v[1]};
  const std::size_t n = v[0].size();
  for (std::size_t m = 0; m < n; ++m) rotate_pair(out[0][m], out[1][m]);
  for (std::size_t e = 0; e < 2; ++e) rotate_pair(out[e][0], out[e][n - 1]);
  return out;
}

}  // namespace

struct WholeLatticeSolver::Factors {
  std::size_t nx, ny;
  std::size_t n1, n2;  // the shorter axis, then the longer (the transform's rows and columns)
  bool transposed;     // the shorter axis is j
  Weights weights;
  std::vector<double> dinv;  // 1 / f(lambda1 + lambda2), 1 at the four corner coefficients
  // Coefficients of the unit vectors at the two ends of each axis (p), and the edge rows'
  // excess of P over G^2 in coefficients (q).
  std::array<std::vector<double>, 2> p1, q1, p2, q2;
  std::vector<double> caa_inv;  // per column: the inverse 2 x 2 capacitance of the row edges
  // The column edges' capacitance after eliminating the rows' (order 2 n1), in the basis of the
  // lattice's two mirror symmetries, where it falls into four blocks: block 2 tau + sigma for
  // the sum (tau 0) or difference (tau 1) of the two column edges, over the first-axis
  // coefficients of parity sigma. rows[sigma] lists those coefficients (the end hats replaced by
  // their sum, even, at 0 and their difference, odd, at n1 - 1).
  std::array<std::vector<std::size_t>, 2> rows;
  std::array<std::optional<DenseLu>, 4> blocks;

  [[nodiscard]] AlgoResult<void> factor_capacitance();
  // Solves the column-edge capacitance in place (edge e, row r at e * n1 + r).
  void solve_edges(std::span<double> t, std::span<double> scratch) const;
  void axis_unit(std::size_t axis, std::size_t node, std::span<double> out) const;
};

WholeLatticeSolver::WholeLatticeSolver(std::shared_ptr<const Factors> factors)
    : factors_(std::move(factors)),
      transform_(factors_->n1, factors_->n2),
      ta_(2 * factors_->n2),
      tb_(2 * factors_->n1),
      sa_(2 * factors_->n2),
      acc_(4 * factors_->n2),
      edge_scratch_(factors_->n1),
      unit1_(factors_->n1),
      unit2_(factors_->n2) {}

std::size_t WholeLatticeSolver::nx() const {
  return factors_->nx;
}
std::size_t WholeLatticeSolver::ny() const {
  return factors_->ny;
}

std::uint64_t WholeLatticeSolver::bytes_estimate(std::size_t nx, std::size_t ny) {
  const std::uint64_t n1 = std::min(nx, ny), n2 = std::max(nx, ny);
  // The coefficient scaling; the four edge blocks with their factors; while they are formed, two
  // block-sized copies of the scaling per block; the edge vectors; one solver's scratch.
  return sizeof(double) * (n1 * n2 + 2 * n1 * n1 + 2 * n1 * n2 + 24 * n2) + scratch_bytes(nx, ny);
}

std::uint64_t WholeLatticeSolver::scratch_bytes(std::size_t nx, std::size_t ny) {
  const std::uint64_t n1 = std::min(nx, ny), n2 = std::max(nx, ny);
  return sizeof(double) * (n1 * n2 + 3 * n1 + 9 * n2);
}

AlgoResult<WholeLatticeSolver> WholeLatticeSolver::build(std::size_t nx, std::size_t ny,
                                                         Weights weights) {
  require(nx >= 2 && ny >= 2, "WholeLatticeSolver needs at least 2 x 2 nodes");
  require(weights.biharmonic > 0 && weights.tension >= 0, "WholeLatticeSolver: bad weights");
  auto f = std::make_shared<Factors>();
  f->nx = nx;
  f->ny = ny;
  f->n1 = std::min(nx, ny);
  f->n2 = std::max(nx, ny);
  f->transposed = ny < nx;
  f->weights = weights;
  const std::size_t n1 = f->n1, n2 = f->n2;
  const std::vector<double> lambda1 = eigenvalues(n1), lambda2 = eigenvalues(n2);
  f->dinv.resize(n1 * n2);
  for (std::size_t r = 0; r < n1; ++r) {
    for (std::size_t c = 0; c < n2; ++c) {
      const double s = lambda1[r] + lambda2[c];
      const bool corner = (r == 0 || r == n1 - 1) && (c == 0 || c == n2 - 1);
      f->dinv[r * n2 + c] = corner ? 1.0 : 1.0 / (weights.biharmonic * s * s - weights.tension * s);
    }
  }
  for (std::size_t end = 0; end < 2; ++end) {
    f->p1[end].resize(n1);
    unit_coefficients(n1, end == 0 ? 0 : n1 - 1, f->p1[end]);
    f->p2[end].resize(n2);
    unit_coefficients(n2, end == 0 ? 0 : n2 - 1, f->p2[end]);
    f->q1[end] = edge_excess(n1, end == 0 ? 1 : n1 - 2, lambda1);
    f->q2[end] = edge_excess(n2, end == 0 ? 1 : n2 - 2, lambda2);
  }
  ZV_TRY(f->factor_capacitance());
  return WholeLatticeSolver(std::move(f));
}

AlgoResult<void> WholeLatticeSolver::Factors::factor_capacitance() {
  const double b = weights.biharmonic;
  const double* d = dinv.data();
  // Row-edge block (the two end rows of the first axis, one unknown per column and end): 2 x 2
  // per column.
  caa_inv.assign(4 * n2, 0.0);
  for (std::size_t r = 0; r < n1; ++r) {
    for (std::size_t a = 0; a < 2; ++a) {
      for (std::size_t a2 = 0; a2 < 2; ++a2) {
        const double w = b * q1[a][r] * p1[a2][r];
        if (w == 0) continue;
        for (std::size_t c = 0; c < n2; ++c) caa_inv[4 * c + 2 * a + a2] += w * d[r * n2 + c];
      }
    }
  }
  for (std::size_t c = 0; c < n2; ++c) {
    double* m = &caa_inv[4 * c];
    m[0] += 1;
    m[3] += 1;
    const double det = m[0] * m[3] - m[1] * m[2];
    if (!(std::fabs(det) > 0) || !std::isfinite(det)) {
      return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
    }
    const double m0 = m[0];
    m[0] = m[3] / det;
    m[3] = m0 / det;
    m[1] = -m[1] / det;
    m[2] = -m[2] / det;
  }
  // Column-edge block (the end columns of the second axis, one unknown per row and end) after
  // eliminating the row edges: S = Cbb - Cba Caa^-1 Cab. In the symmetric basis (sums and
  // differences of the two ends, the end hats likewise) an end vector of parity sigma meets only
  // coefficients of parity sigma, so S is four blocks of about n1 / 2, each
  //   S = diag(Cbb') - b^2 diag(p1') (D W D^T) diag(q1'),  W = q2' p2' / Caa'  (over the columns
  // of parity tau), with D the coefficient scaling restricted to the block's rows and columns.
  const auto p1s = symmetric_pair(p1), q1s = symmetric_pair(q1);
  const auto p2s = symmetric_pair(p2), q2s = symmetric_pair(q2);
  for (std::size_t sigma = 0; sigma < 2; ++sigma) {
    rows[sigma].clear();
    for (std::size_t r = 0; r < n1; ++r) {
      if (parity(r, n1) == sigma) rows[sigma].push_back(r);
    }
  }
  std::array<std::vector<std::size_t>, 2> columns;  // sines of each parity (hats meet q2' = 0)
  for (std::size_t c = 1; c + 1 < n2; ++c) columns[parity(c, n2)].push_back(c);
  ZV_ASSIGN_OR_RETURN(
      std::vector<DenseLu> factored,
      parallel_collect<AlgoResult<DenseLu>>(
          4,
          [&](std::size_t block) -> AlgoResult<DenseLu> {
            ZV_TRY(poll_call());
            const std::size_t tau = block / 2, sigma = block % 2;
            const std::vector<std::size_t>& rs = rows[sigma];
            const std::vector<std::size_t>& cs = columns[tau];
            const std::size_t nr = rs.size(), nc = cs.size();
            // W over the block's columns: Caa' = 1 + b sum_r q1'[sigma] p1'[sigma] d[r, c].
            std::vector<double> w(nc);
            for (std::size_t k = 0; k < nc; ++k) {
              double caa = 0;
              for (const std::size_t r : rs)
                caa += q1s[sigma][r] * p1s[sigma][r] * d[r * n2 + cs[k]];
              w[k] = q2s[tau][cs[k]] * p2s[tau][cs[k]] / (1 + b * caa);
            }
            // x = D W (nr x nc) and D^T (nc x nr), column-major; -D W D^T into g.
            std::vector<double> x(nr * nc), dt(nc * nr), g(nr * nr, 0.0);
            for (std::size_t k = 0; k < nc; ++k) {
              for (std::size_t i = 0; i < nr; ++i) {
                const double dv = d[rs[i] * n2 + cs[k]];
                x[k * nr + i] = dv * w[k];
                dt[i * nc + k] = dv;
              }
            }
            subtract_product(nr, nr, nc, x, dt, g);
            for (std::size_t i = 0; i < nr; ++i) {
              const std::size_t r = rs[i];
              for (std::size_t k = 0; k < nr; ++k) {
                g[k * nr + i] *= b * b * p1s[sigma][r] * q1s[sigma][rs[k]];
              }
              double cbb = 0;  // Cbb' = 1 + b sum_c q2'[tau] p2'[tau] d[r, c]
              for (std::size_t k = 0; k < nc; ++k) {
                cbb += q2s[tau][cs[k]] * p2s[tau][cs[k]] * d[r * n2 + cs[k]];
              }
              g[i * nr + i] += 1 + b * cbb;
            }
            auto lu = DenseLu::factor(std::move(g), nr);
            if (!lu || !(lu->reciprocal_condition() > 1e-15)) {
              return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
            }
            return std::move(*lu);
          },
          "minimum-curvature edges"));
  for (std::size_t block = 0; block < 4; ++block) blocks[block] = std::move(factored[block]);
  return {};
}

void WholeLatticeSolver::Factors::solve_edges(std::span<double> t,
                                              std::span<double> scratch) const {
  // Into the symmetric basis (the map is its own inverse), solve block by block, and back.
  const auto to_symmetric = [this](std::span<double> v) {
    for (std::size_t r = 0; r < n1; ++r) rotate_pair(v[r], v[n1 + r]);
    for (std::size_t e = 0; e < 2; ++e) rotate_pair(v[e * n1], v[e * n1 + n1 - 1]);
  };
  to_symmetric(t);
  for (std::size_t block = 0; block < 4; ++block) {
    const std::size_t tau = block / 2, sigma = block % 2;
    const std::vector<std::size_t>& rs = rows[sigma];
    const std::span<double> x = scratch.first(rs.size());
    for (std::size_t i = 0; i < rs.size(); ++i) x[i] = t[tau * n1 + rs[i]];
    blocks[block]->solve_in_place(x);
    for (std::size_t i = 0; i < rs.size(); ++i) t[tau * n1 + rs[i]] = x[i];
  }
  to_symmetric(t);
}

void WholeLatticeSolver::load(std::span<const double> values) {
  copy_nodes(values, transform_.values(), true);
}

void WholeLatticeSolver::store(std::span<double> values) {
  copy_nodes(transform_.values(), values, false);
}

// Between node order (i * ny + j) and the transform's (shorter axis first).
void WholeLatticeSolver::copy_nodes(std::span<const double> from, std::span<double> to,
                                    bool into_transform) const {
  const Factors& f = *factors_;
  require(from.size() == f.nx * f.ny && to.size() == from.size(),
          "WholeLatticeSolver: value count mismatch");
  if (!f.transposed) {
    std::copy(from.begin(), from.end(), to.begin());
    return;
  }
  for (std::size_t i = 0; i < f.nx; ++i) {
    for (std::size_t j = 0; j < f.ny; ++j) {
      const std::size_t node = i * f.ny + j, transposed = j * f.nx + i;
      to[into_transform ? transposed : node] = from[into_transform ? node : transposed];
    }
  }
}

void WholeLatticeSolver::solve(std::span<double> values) {
  load(values);
  transform_.forward();
  solve_coefficients(false);
  transform_.inverse();
  store(values);
}

void WholeLatticeSolver::Factors::axis_unit(std::size_t axis, std::size_t node,
                                            std::span<double> out) const {
  const std::size_t n = out.size();
  const auto& ends = axis == 1 ? p1 : p2;
  if (node == 0 || node == n - 1) {
    const auto& p = ends[node == 0 ? 0 : 1];
    std::copy(p.begin(), p.end(), out.begin());
  } else {
    unit_coefficients(n, node, out);
  }
}

// The transform of e_node is the outer product of the two axes' unit coefficients, which the
// first pass of solve_coefficients forms.
void WholeLatticeSolver::load_unit(std::size_t node) {
  const Factors& f = *factors_;
  require(node < f.nx * f.ny, "WholeLatticeSolver: node off the lattice");
  std::size_t r = node / f.ny, c = node % f.ny;
  if (f.transposed) std::swap(r, c);
  f.axis_unit(1, r, unit1_);
  f.axis_unit(2, c, unit2_);
}

void WholeLatticeSolver::solve_unit(std::size_t node, std::span<double> out) {
  load_unit(node);
  solve_coefficients(true);
  transform_.inverse();
  store(out);
}

NodeSamples WholeLatticeSolver::samples_at(std::span<const std::size_t> nodes) const {
  const Factors& f = *factors_;
  NodeSamples samples;
  std::vector<std::int64_t> slot_of_row(f.n1, -1);
  std::vector<std::size_t> rows;
  for (const std::size_t node : nodes) {
    require(node < f.nx * f.ny, "WholeLatticeSolver: sample off the lattice");
    std::size_t r = node / f.ny, c = node % f.ny;
    if (f.transposed) std::swap(r, c);
    if (slot_of_row[r] < 0) {
      slot_of_row[r] = static_cast<std::int64_t>(rows.size());
      rows.push_back(r);
    }
    samples.row.push_back(r);
    samples.column.push_back(c);
    samples.slot.push_back(static_cast<std::uint32_t>(slot_of_row[r]));
  }
  // First-axis basis functions at each sampled row: the hats, then the sines.
  samples.slots = rows.size();
  samples.basis.resize(f.n1 * rows.size());
  const double last = static_cast<double>(f.n1 - 1);
  for (std::size_t s = 0; s < rows.size(); ++s) {
    const double t = static_cast<double>(rows[s]) / last;
    for (std::size_t m = 0; m < f.n1; ++m) {
      double value = 0;
      if (m == 0) {
        value = 1 - t;
      } else if (m == f.n1 - 1) {
        value = t;
      } else {
        value = std::sin(std::numbers::pi * static_cast<double>((m * rows[s]) % (2 * (f.n1 - 1))) /
                         last);
      }
      samples.basis[m * rows.size() + s] = value;
    }
  }
  return samples;
}

void WholeLatticeSolver::solve_unit_at(std::size_t node, const NodeSamples& samples,
                                       std::span<double> out) {
  const Factors& f = *factors_;
  require(out.size() == samples.column.size(), "WholeLatticeSolver: sample count mismatch");
  load_unit(node);
  solve_coefficients(true);
  transform_.inverse_second_axis();
  const double* v = transform_.values().data();
  if (out.size() > kSamplesPerColumnBeforeTransform * f.n2) {
    transform_.inverse_first_axis();
    for (std::size_t t = 0; t < out.size(); ++t) {
      out[t] = v[samples.row[t] * f.n2 + samples.column[t]];
    }
    return;
  }
  // The first axis's inverse at the sampled nodes only, row by row.
  std::fill(out.begin(), out.end(), 0.0);
  const std::size_t slots = samples.slots;
  for (std::size_t m = 0; m < f.n1; ++m) {
    const double* row = v + m * f.n2;
    const double* basis = &samples.basis[m * slots];
    for (std::size_t t = 0; t < out.size(); ++t) {
      out[t] += basis[samples.slot[t]] * row[samples.column[t]];
    }
  }
}

void WholeLatticeSolver::solve_coefficients(bool from_unit) {
  const Factors& f = *factors_;
  const std::size_t n1 = f.n1, n2 = f.n2;
  const double b = f.weights.biharmonic;
  double* y = transform_.values().data();
  const double* dinv = f.dinv.data();
  const auto& p1 = f.p1;
  const auto& q1 = f.q1;
  const double* caa_inv = f.caa_inv.data();
  // Y = D^-1 R, and the edge rows' measures of it: ta over the row edges, tb over the columns'.
  std::fill(ta_.begin(), ta_.end(), 0.0);
  double* ta0 = ta_.data();
  double* ta1 = ta0 + n2;
  const double* q20 = f.q2[0].data();
  const double* q21 = f.q2[1].data();
  // A unit vector's coefficients (an outer product) are formed here rather than loaded first.
  const auto first_pass = [&]<bool kUnit>() {
    for (std::size_t r = 0; r < n1; ++r) {
      double* row = y + r * n2;
      const double* drow = dinv + r * n2;
      const double q10 = q1[0][r], q11 = q1[1][r];
      const double u1 = kUnit ? unit1_[r] : 0.0;
      const auto scaled = [&](std::size_t c) {
        return (kUnit ? u1 * unit2_[c] : row[c]) * drow[c];
      };
      Lanes s0{}, s1{};
      std::size_t c = 0;
      for (; c + kLanes <= n2; c += kLanes) {
        for (std::size_t l = 0; l < kLanes; ++l) {
          const double v = scaled(c + l);
          row[c + l] = v;
          ta0[c + l] += q10 * v;
          ta1[c + l] += q11 * v;
          s0[l] += q20[c + l] * v;
          s1[l] += q21[c + l] * v;
        }
      }
      for (; c < n2; ++c) {
        const double v = scaled(c);
        row[c] = v;
        ta0[c] += q10 * v;
        ta1[c] += q11 * v;
        s0[0] += q20[c] * v;
        s1[0] += q21[c] * v;
      }
      tb_[r] = b * lane_sum(s0);
      tb_[n1 + r] = b * lane_sum(s1);
    }
  };
  if (from_unit) {
    first_pass.template operator()<true>();
  } else {
    first_pass.template operator()<false>();
  }
  for (double& t : ta_) t *= b;
  // u = Caa^-1 ta into sa; then tb -= Cba u, Cba u at (e, r) = b sum_a p1[a][r] sum_c dinv[r, c]
  // q2[e][c] u[a][c].
  double* u0 = sa_.data();
  double* u1 = u0 + n2;
  for (std::size_t c = 0; c < n2; ++c) {
    const double* inv = caa_inv + 4 * c;
    u0[c] = inv[0] * ta0[c] + inv[1] * ta1[c];
    u1[c] = inv[2] * ta0[c] + inv[3] * ta1[c];
  }
  double* w = acc_.data();  // w[(2 e + a) n2 + c] = q2[e][c] u[a][c]
  for (std::size_t c = 0; c < n2; ++c) {
    w[c] = q20[c] * u0[c];
    w[n2 + c] = q20[c] * u1[c];
    w[2 * n2 + c] = q21[c] * u0[c];
    w[3 * n2 + c] = q21[c] * u1[c];
  }
  for (std::size_t r = 0; r < n1; ++r) {
    const double* drow = dinv + r * n2;
    Lanes s00{}, s01{}, s10{}, s11{};  // s_ea
    std::size_t c = 0;
    for (; c + kLanes <= n2; c += kLanes) {
      for (std::size_t l = 0; l < kLanes; ++l) {
        const double d = drow[c + l];
        s00[l] += d * w[c + l];
        s01[l] += d * w[n2 + c + l];
        s10[l] += d * w[2 * n2 + c + l];
        s11[l] += d * w[3 * n2 + c + l];
      }
    }
    for (; c < n2; ++c) {
      const double d = drow[c];
      s00[0] += d * w[c];
      s01[0] += d * w[n2 + c];
      s10[0] += d * w[2 * n2 + c];
      s11[0] += d * w[3 * n2 + c];
    }
    const double p10 = p1[0][r], p11 = p1[1][r];
    tb_[r] -= b * (p10 * lane_sum(s00) + p11 * lane_sum(s01));
    tb_[n1 + r] -= b * (p10 * lane_sum(s10) + p11 * lane_sum(s11));
  }
  f.solve_edges(tb_, edge_scratch_);  // now sb
  // sa = Caa^-1 (ta - Cab sb), Cab sb at (a, c) = b sum_e p2[e][c] sum_r q1[a][r] dinv[r, c]
  // sb[e][r].
  std::fill(acc_.begin(), acc_.end(), 0.0);
  double* acc = acc_.data();  // (a, e) blocks of n2
  for (std::size_t r = 0; r < n1; ++r) {
    const double* drow = dinv + r * n2;
    const double h00 = q1[0][r] * tb_[r], h01 = q1[0][r] * tb_[n1 + r];
    const double h10 = q1[1][r] * tb_[r], h11 = q1[1][r] * tb_[n1 + r];
    for (std::size_t c = 0; c < n2; ++c) {
      acc[c] += h00 * drow[c];
      acc[n2 + c] += h01 * drow[c];
      acc[2 * n2 + c] += h10 * drow[c];
      acc[3 * n2 + c] += h11 * drow[c];
    }
  }
  const double* p20 = f.p2[0].data();
  const double* p21 = f.p2[1].data();
  for (std::size_t c = 0; c < n2; ++c) {
    const double r0 = ta0[c] - b * (p20[c] * acc[c] + p21[c] * acc[n2 + c]);
    const double r1 = ta1[c] - b * (p20[c] * acc[2 * n2 + c] + p21[c] * acc[3 * n2 + c]);
    const double* inv = caa_inv + 4 * c;
    u0[c] = inv[0] * r0 + inv[1] * r1;
    u1[c] = inv[2] * r0 + inv[3] * r1;
  }
  // Y -= D^-1 U s.
  for (std::size_t r = 0; r < n1; ++r) {
    double* row = y + r * n2;
    const double* drow = dinv + r * n2;
    const double p10 = p1[0][r], p11 = p1[1][r], sb0 = tb_[r], sb1 = tb_[n1 + r];
    for (std::size_t c = 0; c < n2; ++c) {
      row[c] -= drow[c] * (p10 * u0[c] + p11 * u1[c] + sb0 * p20[c] + sb1 * p21[c]);
    }
  }
}

}  // namespace zorvatools
