#pragma once
// Dense column-major matrices through the machine's BLAS and LAPACK: a product, and an LU
// factorisation with partial pivoting that reports its reciprocal condition number.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace zorvatools {

// c = c - a b for column-major a (m x k), b (k x n), c (m x n).
void subtract_product(std::size_t m, std::size_t n, std::size_t k, std::span<const double> a,
                      std::span<const double> b, std::span<double> c);

class DenseLu {
 public:
  // Factors the n x n column-major matrix `a`; nothing when a pivot is exactly zero.
  static std::optional<DenseLu> factor(std::vector<double> a, std::size_t n);

  // Overwrites the n x nrhs column-major right-hand sides with the solutions.
  void solve_in_place(std::span<double> rhs, std::size_t nrhs = 1) const;
  [[nodiscard]] std::size_t size() const { return n_; }
  // Estimate of 1 / (||A||_1 ||A^-1||_1).
  [[nodiscard]] double reciprocal_condition() const { return rcond_; }

 private:
  DenseLu() = default;
  std::size_t n_ = 0;
  std::vector<double> lu_;
  std::vector<int> pivots_;
  double rcond_ = 0;
};

}  // namespace zorvatools
