#include "zorvatools/gridding/krylov.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"

namespace zorvatools {
namespace {

double dot(std::span<const double> u, std::span<const double> v) {
  double s = 0;
  for (std::size_t k = 0; k < u.size(); ++k) s += u[k] * v[k];
  return s;
}

double norm2(std::span<const double> u) { return std::sqrt(dot(u, u)); }

}  // namespace

double backward_error(const CompressedRows& a, double a_norm, std::span<const double> b,
                      std::span<const double> x, std::span<double> r) {
  a.multiply(x, r);
  double r_norm = 0, x_norm = 0, b_norm = 0;
  for (std::size_t k = 0; k < r.size(); ++k) {
    if (!std::isfinite(x[k])) return std::numeric_limits<double>::infinity();
    r[k] = b[k] - r[k];
    r_norm = std::max(r_norm, std::fabs(r[k]));
    x_norm = std::max(x_norm, std::fabs(x[k]));
    b_norm = std::max(b_norm, std::fabs(b[k]));
  }
  const double scale = a_norm * x_norm + b_norm;
  return scale > 0 ? r_norm / scale : 0.0;
}

AlgoResult<KrylovOutcome> gmres(const CompressedRows& a, const Preconditioner& precondition,
                                std::span<const double> b, std::span<double> x,
                                const KrylovOptions& options) {
  const std::size_t n = a.n;
  require(b.size() == n && x.size() == n, "gmres: vector length mismatch");
  require(options.restart >= 1, "gmres: restart length must be positive");
  const std::size_t m = options.restart;
  const double a_norm = a.norm_inf();
  std::vector<std::vector<double>> basis(m + 1, std::vector<double>(n));
  std::vector<double> h((m + 1) * m), cs(m), sn(m), g(m + 1), y(m);
  std::vector<double> r(n), w(n);
  auto hess = [&](std::size_t row, std::size_t col) -> double& { return h[row * m + col]; };

  KrylovOutcome outcome;
  while (true) {
    outcome.backward_error = backward_error(a, a_norm, b, x, r);
    if (outcome.backward_error <= options.tolerance) {
      outcome.converged = true;
      return outcome;
    }
    if (!std::isfinite(outcome.backward_error) || outcome.iterations >= options.max_iterations) {
      return outcome;
    }
    // The 2-norm of the residual is what the cycle sees; ask it for the reduction the max-norm
    // measure still needs, with a margin for the two norms' ratio drifting.
    const double beta = norm2(r);
    const double target = beta * 0.5 * options.tolerance / outcome.backward_error;
    for (std::size_t k = 0; k < n; ++k) basis[0][k] = r[k] / beta;
    std::fill(g.begin(), g.end(), 0.0);
    g[0] = beta;
    std::size_t used = 0;
    while (used < m && outcome.iterations < options.max_iterations) {
      ZV_TRY(poll_call());
      const std::size_t j = used;
      precondition(basis[j], r);
      a.multiply(r, w);
      // Modified Gram-Schmidt against the basis so far.
      for (std::size_t i = 0; i <= j; ++i) {
        const double hij = dot(w, basis[i]);
        hess(i, j) = hij;
        for (std::size_t k = 0; k < n; ++k) w[k] -= hij * basis[i][k];
      }
      const double next = norm2(w);
      hess(j + 1, j) = next;
      if (next > 0) {
        for (std::size_t k = 0; k < n; ++k) basis[j + 1][k] = w[k] / next;
      }
      // Givens rotations turn the Hessenberg column upper triangular.
      for (std::size_t i = 0; i < j; ++i) {
        const double t = cs[i] * hess(i, j) + sn[i] * hess(i + 1, j);
        hess(i + 1, j) = -sn[i] * hess(i, j) + cs[i] * hess(i + 1, j);
        hess(i, j) = t;
      }
      const double radius = std::hypot(hess(j, j), hess(j + 1, j));
      cs[j] = radius > 0 ? hess(j, j) / radius : 1.0;
      sn[j] = radius > 0 ? hess(j + 1, j) / radius : 0.0;
      hess(j, j) = radius;
      hess(j + 1, j) = 0;
      g[j + 1] = -sn[j] * g[j];
      g[j] = cs[j] * g[j];
      ++used;
      ++outcome.iterations;
      if (std::fabs(g[j + 1]) <= target || next == 0) break;
    }
    // x += M^-1 (V y), with y from the triangular system.
    for (std::size_t i = used; i-- > 0;) {
      double s = g[i];
      for (std::size_t k = i + 1; k < used; ++k) s -= hess(i, k) * y[k];
      y[i] = hess(i, i) != 0 ? s / hess(i, i) : 0.0;
    }
    std::fill(w.begin(), w.end(), 0.0);
    for (std::size_t i = 0; i < used; ++i) {
      for (std::size_t k = 0; k < n; ++k) w[k] += y[i] * basis[i][k];
    }
    precondition(w, r);
    for (std::size_t k = 0; k < n; ++k) x[k] += r[k];
  }
}

}  // namespace zorvatools
