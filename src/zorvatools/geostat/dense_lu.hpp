#pragma once
// LU factorisation with partial pivoting of the small dense systems of a kriging solve.
//
// The matrix is stored column by column, each column padded to whole blocks of kLuBlock rows and
// the first column aligned to 64 bytes: an elimination step then loads and stores every block
// of a column as one vector at the same address, step after step. Every entry sees the same
// operations in the same order as in the textbook row-by-row loops, so results agree with them
// to the bit.

#include <cstddef>
#include <vector>

namespace zorvatools {

inline constexpr std::size_t kLuBlock = 8;

class LuMatrix {
 public:
  // Makes room for an m x m matrix (storage never shrinks) with zero padding rows.
  void reset(std::size_t m);
  [[nodiscard]] std::size_t size() const { return m_; }
  [[nodiscard]] std::size_t stride() const { return stride_; }
  [[nodiscard]] double* column(std::size_t c) { return base_ + c * stride_; }
  [[nodiscard]] const double* column(std::size_t c) const { return base_ + c * stride_; }
  double& operator()(std::size_t row, std::size_t col) { return base_[col * stride_ + row]; }
  double operator()(std::size_t row, std::size_t col) const { return base_[col * stride_ + row]; }

 private:
  std::vector<double> storage_;
  double* base_ = nullptr;
  std::size_t m_ = 0;
  std::size_t stride_ = 0;
};

// In place: the largest magnitude at or below the diagonal pivots (the upper row on ties), whole
// rows are swapped along with `pivots`, multipliers stay below the diagonal. False on an exactly
// zero pivot.
[[nodiscard]] bool lu_decompose(LuMatrix& a, std::vector<std::size_t>& pivots);

// Forward then back substitution of the factors with the permuted right-hand side.
void lu_solve(const LuMatrix& a, const std::vector<std::size_t>& pivots,
              const std::vector<double>& rhs, std::vector<double>& x);

}  // namespace zorvatools
