#include "zorvatools/gridding/dense_lu.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "zorvatools/foundation/internal_fault.hpp"

// The Fortran interfaces; gfortran passes the lengths of character arguments last.
extern "C" {
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, std::size_t, std::size_t);
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetrs_(const char* trans, const int* n, const int* nrhs, const double* a, const int* lda,
             const int* ipiv, double* b, const int* ldb, int* info, std::size_t);
void dgecon_(const char* norm, const int* n, const double* a, const int* lda, const double* anorm,
             double* rcond, double* work, int* iwork, int* info, std::size_t);
}

namespace zorvatools {
namespace {

int as_int(std::size_t v) {
  require(v <= static_cast<std::size_t>(INT_MAX), "dense matrix dimension exceeds int");
  return static_cast<int>(v);
}

}  // namespace

void subtract_product(std::size_t m, std::size_t n, std::size_t k, std::span<const double> a,
                      std::span<const double> b, std::span<double> c) {
  require(a.size() == m * k && b.size() == k * n && c.size() == m * n,
          "subtract_product: bad sizes");
  if (m == 0 || n == 0 || k == 0) return;
  const int mi = as_int(m), ni = as_int(n), ki = as_int(k);
  const double alpha = -1, beta = 1;
  dgemm_("N", "N", &mi, &ni, &ki, &alpha, a.data(), &mi, b.data(), &ki, &beta, c.data(), &mi, 1, 1);
}

std::optional<DenseLu> DenseLu::factor(std::vector<double> a, std::size_t n) {
  require(a.size() == n * n, "DenseLu: bad size");
  DenseLu lu;
  lu.n_ = n;
  if (n == 0) return lu;
  double norm1 = 0;  // largest column sum
  for (std::size_t c = 0; c < n; ++c) {
    double sum = 0;
    for (std::size_t r = 0; r < n; ++r) sum += std::fabs(a[c * n + r]);
    norm1 = std::max(norm1, sum);
  }
  const int ni = as_int(n);
  lu.pivots_.resize(n);
  int info = 0;
  dgetrf_(&ni, &ni, a.data(), &ni, lu.pivots_.data(), &info);
  if (info != 0) return std::nullopt;
  std::vector<double> work(4 * n);
  std::vector<int> iwork(n);
  dgecon_("1", &ni, a.data(), &ni, &norm1, &lu.rcond_, work.data(), iwork.data(), &info, 1);
  if (info != 0 || !std::isfinite(lu.rcond_)) return std::nullopt;
  lu.lu_ = std::move(a);
  return lu;
}

void DenseLu::solve_in_place(std::span<double> rhs, std::size_t nrhs) const {
  require(rhs.size() == n_ * nrhs, "DenseLu::solve_in_place: bad size");
  if (n_ == 0 || nrhs == 0) return;
  const int ni = as_int(n_), nr = as_int(nrhs);
  int info = 0;
  dgetrs_("N", &ni, &nr, lu_.data(), &ni, pivots_.data(), rhs.data(), &ni, &info, 1);
}

}  // namespace zorvatools
