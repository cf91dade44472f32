#pragma once
// The small dense linear systems of a kriging solve, solved by LU factorisation with partial
// pivoting.
//
// The matrix is stored column by column with the right-hand side as one more column, each column
// padded to whole blocks of kLuBlock rows and the first aligned to 64 bytes: an elimination step
// then loads and stores every block of a column as one vector at the same address, step after
// step. Every entry sees the same operations in the same order as in the textbook row-by-row
// loops (factorisation, then forward and back substitution of the permuted right-hand side), so
// results agree with them to the bit.

#include <cstddef>
#include <utility>
#include <vector>

namespace zorvatools {

inline constexpr std::size_t kLuBlock = 8;

class LinearSystem {
 public:
  // Makes room for an m x m matrix and its right-hand side (storage never shrinks), with zero
  // padding rows.
  void reset(std::size_t m);
  [[nodiscard]] std::size_t size() const { return m_; }
  [[nodiscard]] std::size_t stride() const { return stride_; }
  [[nodiscard]] double* column(std::size_t c) { return base_ + c * stride_; }
  [[nodiscard]] const double* column(std::size_t c) const { return base_ + c * stride_; }
  [[nodiscard]] double* rhs() { return column(m_); }
  double& operator()(std::size_t row, std::size_t col) { return base_[col * stride_ + row]; }
  double operator()(std::size_t row, std::size_t col) const { return base_[col * stride_ + row]; }

 private:
  std::vector<double> storage_;
  double* base_ = nullptr;
  std::size_t m_ = 0;
  std::size_t stride_ = 0;
};

// Solves the system into x, overwriting it with its factors: the largest magnitude at or below
// the diagonal pivots (the upper row on ties) and whole rows are swapped. False on an exactly
// zero pivot (a singular system).
[[nodiscard]] bool solve_in_place(LinearSystem& system, std::vector<double>& x);

// Both systems, as solve_in_place solves each (the same results to the bit), faster together
// when they are of one size. Whether each was regular.
[[nodiscard]] std::pair<bool, bool> solve_both_in_place(LinearSystem& a, std::vector<double>& x_a,
                                                        LinearSystem& b, std::vector<double>& x_b);

}  // namespace zorvatools
