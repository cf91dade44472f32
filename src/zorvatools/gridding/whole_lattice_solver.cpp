#include "zorvatools/gridding/whole_lattice_solver.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/gridding/mincurv_operator.hpp"

namespace zorvatools {
namespace {

// Columns of the dense product formed between two polls of the call.
constexpr std::size_t kColumnsPerPoll = 256;

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

}  // namespace

WholeLatticeSolver::WholeLatticeSolver(std::size_t nx, std::size_t ny, Weights weights)
    : nx_(nx),
      ny_(ny),
      n1_(std::min(nx, ny)),
      n2_(std::max(nx, ny)),
      transposed_(ny < nx),
      weights_(weights),
      transform_(n1_, n2_) {}

std::uint64_t WholeLatticeSolver::bytes_estimate(std::size_t nx, std::size_t ny) {
  const std::uint64_t n1 = std::min(nx, ny), n2 = std::max(nx, ny);
  // Coefficients, transform and unit scratch; the two dense capacitance blocks and the Schur
  // complement with its factor.
  return sizeof(double) * (3 * n1 * n2 + 8 * n1 * n2 + 8 * n1 * n1 + 32 * n2);
}

AlgoResult<WholeLatticeSolver> WholeLatticeSolver::build(std::size_t nx, std::size_t ny,
                                                         Weights weights) {
  require(nx >= 2 && ny >= 2, "WholeLatticeSolver needs at least 2 x 2 nodes");
  require(weights.biharmonic > 0 && weights.tension >= 0, "WholeLatticeSolver: bad weights");
  WholeLatticeSolver solver(nx, ny, weights);
  const std::size_t n1 = solver.n1_, n2 = solver.n2_;
  const std::vector<double> lambda1 = eigenvalues(n1), lambda2 = eigenvalues(n2);
  solver.dinv_.resize(n1 * n2);
  for (std::size_t r = 0; r < n1; ++r) {
    for (std::size_t c = 0; c < n2; ++c) {
      const double s = lambda1[r] + lambda2[c];
      const bool corner = (r == 0 || r == n1 - 1) && (c == 0 || c == n2 - 1);
      solver.dinv_[r * n2 + c] =
          corner ? 1.0 : 1.0 / (weights.biharmonic * s * s - weights.tension * s);
    }
  }
  for (std::size_t end = 0; end < 2; ++end) {
    solver.p1_[end].resize(n1);
    unit_coefficients(n1, end == 0 ? 0 : n1 - 1, solver.p1_[end]);
    solver.p2_[end].resize(n2);
    unit_coefficients(n2, end == 0 ? 0 : n2 - 1, solver.p2_[end]);
    solver.q1_[end] = edge_excess(n1, end == 0 ? 1 : n1 - 2, lambda1);
    solver.q2_[end] = edge_excess(n2, end == 0 ? 1 : n2 - 2, lambda2);
  }
  solver.ta_.resize(2 * n2);
  solver.tb_.resize(2 * n1);
  solver.sa_.resize(2 * n2);
  solver.acc_.resize(4 * n2);
  solver.unit1_.resize(n1);
  solver.unit2_.resize(n2);
  ZV_TRY(solver.factor_capacitance());
  return solver;
}

AlgoResult<void> WholeLatticeSolver::factor_capacitance() {
  const std::size_t n1 = n1_, n2 = n2_;
  const double b = weights_.biharmonic;
  const double* dinv = dinv_.data();
  // Row-edge block (the two end rows of the first axis, one unknown per column and end): 2 x 2
  // per column.
  caa_inv_.assign(4 * n2, 0.0);
  for (std::size_t r = 0; r < n1; ++r) {
    for (std::size_t a = 0; a < 2; ++a) {
      for (std::size_t a2 = 0; a2 < 2; ++a2) {
        const double w = b * q1_[a][r] * p1_[a2][r];
        if (w == 0) continue;
        for (std::size_t c = 0; c < n2; ++c) caa_inv_[4 * c + 2 * a + a2] += w * dinv[r * n2 + c];
      }
    }
  }
  for (std::size_t c = 0; c < n2; ++c) {
    double* m = &caa_inv_[4 * c];
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
  // eliminating the row edges: S = Cbb - Cba Caa^-1 Cab, of order 2 n1, column-major.
  const std::size_t ns = 2 * n1, nl = 2 * n2;
  std::vector<double> schur(ns * ns, 0.0);
  for (std::size_t r = 0; r < n1; ++r) {
    for (std::size_t e = 0; e < 2; ++e) {
      for (std::size_t e2 = 0; e2 < 2; ++e2) {
        double sum = 0;
        for (std::size_t c = 0; c < n2; ++c) sum += q2_[e][c] * p2_[e2][c] * dinv[r * n2 + c];
        schur[(e2 * n1 + r) * ns + e * n1 + r] = (e == e2 ? 1.0 : 0.0) + b * sum;
      }
    }
  }
  {
    // cba (ns x nl): entry ((e, r), (a, c)) = b q2[e][c] p1[a][r] dinv[r, c].
    // m (nl x ns): Caa^-1 Cab, Cab's entry ((a, c), (e, r)) = b q1[a][r] p2[e][c] dinv[r, c].
    std::vector<double> cba(ns * nl), m(nl * ns);
    for (std::size_t a = 0; a < 2; ++a) {
      for (std::size_t c = 0; c < n2; ++c) {
        double* column = &cba[(a * n2 + c) * ns];
        for (std::size_t e = 0; e < 2; ++e) {
          for (std::size_t r = 0; r < n1; ++r) {
            column[e * n1 + r] = b * q2_[e][c] * p1_[a][r] * dinv[r * n2 + c];
          }
        }
      }
    }
    for (std::size_t e = 0; e < 2; ++e) {
      for (std::size_t r = 0; r < n1; ++r) {
        double* column = &m[(e * n1 + r) * nl];
        const double* drow = dinv + r * n2;
        for (std::size_t c = 0; c < n2; ++c) {
          const double cab0 = b * q1_[0][r] * p2_[e][c] * drow[c];
          const double cab1 = b * q1_[1][r] * p2_[e][c] * drow[c];
          const double* inv = &caa_inv_[4 * c];
          column[c] = inv[0] * cab0 + inv[1] * cab1;
          column[n2 + c] = inv[2] * cab0 + inv[3] * cab1;
        }
      }
    }
    for (std::size_t col = 0; col < ns; col += kColumnsPerPoll) {
      if (!poll_call()) return std::unexpected(AlgoError::interrupted());
      const std::size_t width = std::min(kColumnsPerPoll, ns - col);
      subtract_product(ns, width, nl, cba, std::span<const double>(m).subspan(col * nl, width * nl),
                       std::span<double>(schur).subspan(col * ns, width * ns));
    }
  }
  auto lu = DenseLu::factor(std::move(schur), ns);
  if (!lu || !(lu->reciprocal_condition() > 1e-15)) {
    return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
  }
  schur_ = std::move(*lu);
  return {};
}

void WholeLatticeSolver::load(std::span<const double> values) {
  require(values.size() == nx_ * ny_, "WholeLatticeSolver: value count mismatch");
  const std::span<double> v = transform_.values();
  if (!transposed_) {
    std::copy(values.begin(), values.end(), v.begin());
    return;
  }
  for (std::size_t i = 0; i < nx_; ++i) {
    for (std::size_t j = 0; j < ny_; ++j) v[j * nx_ + i] = values[i * ny_ + j];
  }
}

void WholeLatticeSolver::store(std::span<double> values) {
  const std::span<const double> v = transform_.values();
  if (!transposed_) {
    std::copy(v.begin(), v.end(), values.begin());
    return;
  }
  for (std::size_t i = 0; i < nx_; ++i) {
    for (std::size_t j = 0; j < ny_; ++j) values[i * ny_ + j] = v[j * nx_ + i];
  }
}

void WholeLatticeSolver::solve(std::span<double> values) {
  load(values);
  transform_.forward();
  solve_coefficients();
  transform_.inverse();
  store(values);
}

void WholeLatticeSolver::axis_unit(std::size_t axis, std::size_t node,
                                   std::span<double> out) const {
  const std::size_t n = out.size();
  const auto& ends = axis == 1 ? p1_ : p2_;
  if (node == 0 || node == n - 1) {
    const auto& p = ends[node == 0 ? 0 : 1];
    std::copy(p.begin(), p.end(), out.begin());
  } else {
    unit_coefficients(n, node, out);
  }
}

void WholeLatticeSolver::solve_unit(std::size_t node, std::span<double> out) {
  require(node < nx_ * ny_ && out.size() == nx_ * ny_, "WholeLatticeSolver::solve_unit: bad node");
  std::size_t r = node / ny_, c = node % ny_;
  if (transposed_) std::swap(r, c);
  axis_unit(1, r, unit1_);
  axis_unit(2, c, unit2_);
  const std::span<double> v = transform_.values();
  for (std::size_t i = 0; i < n1_; ++i) {
    for (std::size_t k = 0; k < n2_; ++k) v[i * n2_ + k] = unit1_[i] * unit2_[k];
  }
  solve_coefficients();
  transform_.inverse();
  store(out);
}

void WholeLatticeSolver::solve_coefficients() {
  const std::size_t n1 = n1_, n2 = n2_;
  const double b = weights_.biharmonic;
  double* y = transform_.values().data();
  const double* dinv = dinv_.data();
  // Y = D^-1 R, and the edge rows' measures of it: ta over the row edges, tb over the columns'.
  std::fill(ta_.begin(), ta_.end(), 0.0);
  double* ta0 = ta_.data();
  double* ta1 = ta0 + n2;
  const double* q20 = q2_[0].data();
  const double* q21 = q2_[1].data();
  for (std::size_t r = 0; r < n1; ++r) {
    double* row = y + r * n2;
    const double* drow = dinv + r * n2;
    const double q10 = q1_[0][r], q11 = q1_[1][r];
    double s0 = 0, s1 = 0;
    for (std::size_t c = 0; c < n2; ++c) {
      const double v = row[c] * drow[c];
      row[c] = v;
      ta0[c] += q10 * v;
      ta1[c] += q11 * v;
      s0 += q20[c] * v;
      s1 += q21[c] * v;
    }
    tb_[r] = b * s0;
    tb_[n1 + r] = b * s1;
  }
  for (double& t : ta_) t *= b;
  // u = Caa^-1 ta into sa; then tb -= Cba u, Cba u at (e, r) = b sum_a p1[a][r] sum_c dinv[r, c]
  // q2[e][c] u[a][c].
  double* u0 = sa_.data();
  double* u1 = u0 + n2;
  for (std::size_t c = 0; c < n2; ++c) {
    const double* inv = &caa_inv_[4 * c];
    u0[c] = inv[0] * ta0[c] + inv[1] * ta1[c];
    u1[c] = inv[2] * ta0[c] + inv[3] * ta1[c];
  }
  for (std::size_t r = 0; r < n1; ++r) {
    const double* drow = dinv + r * n2;
    double s00 = 0, s01 = 0, s10 = 0, s11 = 0;  // s_ea
    for (std::size_t c = 0; c < n2; ++c) {
      const double d0 = drow[c] * u0[c], d1 = drow[c] * u1[c];
      s00 += q20[c] * d0;
      s01 += q20[c] * d1;
      s10 += q21[c] * d0;
      s11 += q21[c] * d1;
    }
    const double p10 = p1_[0][r], p11 = p1_[1][r];
    tb_[r] -= b * (p10 * s00 + p11 * s01);
    tb_[n1 + r] -= b * (p10 * s10 + p11 * s11);
  }
  schur_->solve_in_place(tb_);  // now sb
  // sa = Caa^-1 (ta - Cab sb), Cab sb at (a, c) = b sum_e p2[e][c] sum_r q1[a][r] dinv[r, c]
  // sb[e][r].
  std::fill(acc_.begin(), acc_.end(), 0.0);
  double* acc = acc_.data();  // (a, e) blocks of n2
  for (std::size_t r = 0; r < n1; ++r) {
    const double* drow = dinv + r * n2;
    const double h00 = q1_[0][r] * tb_[r], h01 = q1_[0][r] * tb_[n1 + r];
    const double h10 = q1_[1][r] * tb_[r], h11 = q1_[1][r] * tb_[n1 + r];
    for (std::size_t c = 0; c < n2; ++c) {
      acc[c] += h00 * drow[c];
      acc[n2 + c] += h01 * drow[c];
      acc[2 * n2 + c] += h10 * drow[c];
      acc[3 * n2 + c] += h11 * drow[c];
    }
  }
  const double* p20 = p2_[0].data();
  const double* p21 = p2_[1].data();
  for (std::size_t c = 0; c < n2; ++c) {
    const double r0 = ta0[c] - b * (p20[c] * acc[c] + p21[c] * acc[n2 + c]);
    const double r1 = ta1[c] - b * (p20[c] * acc[2 * n2 + c] + p21[c] * acc[3 * n2 + c]);
    const double* inv = &caa_inv_[4 * c];
    u0[c] = inv[0] * r0 + inv[1] * r1;
    u1[c] = inv[2] * r0 + inv[3] * r1;
  }
  // Y -= D^-1 U s.
  for (std::size_t r = 0; r < n1; ++r) {
    double* row = y + r * n2;
    const double* drow = dinv + r * n2;
    const double p10 = p1_[0][r], p11 = p1_[1][r], sb0 = tb_[r], sb1 = tb_[n1 + r];
    for (std::size_t c = 0; c < n2; ++c) {
      row[c] -= drow[c] * (p10 * u0[c] + p11 * u1[c] + sb0 * p20[c] + sb1 * p21[c]);
    }
  }
}

}  // namespace zorvatools
