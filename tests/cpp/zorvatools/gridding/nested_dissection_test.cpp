#include "zorvatools/gridding/nested_dissection.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "zorvatools/gridding/min_curvature.hpp"

namespace zorvatools {
namespace {

// Rows numbered naturally, with a few nodes that are no unknowns.
std::vector<std::int32_t> rows_without(std::size_t nx, std::size_t ny,
                                       std::vector<std::size_t> skipped) {
  std::vector<std::int32_t> rows(nx * ny, -1);
  std::int32_t next = 0;
  for (std::size_t node = 0; node < nx * ny; ++node) {
    if (std::find(skipped.begin(), skipped.end(), node) == skipped.end()) rows[node] = next++;
  }
  return rows;
}

TEST(LatticeNestedDissection, IsAPermutationOfTheUnknowns) {
  const std::pair<std::size_t, std::size_t> shapes[] = {{1, 1}, {2, 2}, {3, 70}, {70, 3}, {37, 29}};
  for (const auto& [nx, ny] : shapes) {
    const auto rows = rows_without(nx, ny, {0, nx * ny / 2});
    std::vector<std::int64_t> order = lattice_nested_dissection(nx, ny, rows);
    const auto unknowns = static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(),
                                                                 [](auto r) { return r >= 0; }));
    ASSERT_EQ(order.size(), unknowns);
    std::sort(order.begin(), order.end());
    for (std::size_t k = 0; k < order.size(); ++k) EXPECT_EQ(order[k], std::int64_t(k));
  }
}

TEST(LatticeNestedDissection, TheLastSeparatorCutsTheLatticeInTwoUncoupledHalves) {
  // 40 x 10: the top-level separator is the two columns i = 19, 20, eliminated last.
  const std::size_t nx = 40, ny = 10;
  const auto rows = rows_without(nx, ny, {});
  const std::vector<std::int64_t> order = lattice_nested_dissection(nx, ny, rows);
  for (const std::int64_t row : std::vector<std::int64_t>(order.end() - 2 * ny, order.end())) {
    const auto i = static_cast<std::size_t>(row) / ny;  // natural numbering: row = node
    EXPECT_TRUE(i == 19 || i == 20) << i;
  }
  // Nodes before the separator fall on both sides of it, never closer than two nodes apart across.
  bool left = false, right = false;
  for (auto it = order.begin(); it != order.end() - 2 * ny; ++it) {
    const auto i = static_cast<std::size_t>(*it) / ny;
    left |= i < 19;
    right |= i > 20;
    EXPECT_TRUE(i < 19 || i > 20);
  }
  EXPECT_TRUE(left && right);
}

TEST(SparseLu, TheLatticeOrderingAndTheLibrarysOwnGiveTheSameSolution) {
  const std::size_t nx = 33, ny = 27;
  std::vector<Sample> samples;
  for (std::size_t k = 0; k < 12; ++k) {
    samples.push_back({double((k * 7) % nx), double((k * 11) % ny), 100 + double(k * k % 13)});
  }
  const AnchorSet anchors = collect_anchors(samples, Lattice::unit(nx, ny));
  ASSERT_TRUE(anchors_pin_bilinear(nx, ny, anchors));
  auto op = MinCurvatureOperator::assemble(nx, ny, anchors, {MinCurvaturePath::Sparse, 0});
  ASSERT_TRUE(op.has_value());
  const CompressedRows& a = op->matrix();
  std::vector<double> b(a.n), x_lattice(a.n), x_library(a.n);
  for (std::size_t r = 0; r < a.n; ++r) b[r] = std::cos(0.3 * double(r));
  auto library = SparseLu::factor(a, 0.0, {}, UINT64_MAX);
  ASSERT_TRUE(library.has_value());
  x_library = b;
  library->solve_in_place(x_library);
  x_lattice = b;
  op->sparse().solve_in_place(x_lattice);
  double scale = 0;
  for (double v : x_library) scale = std::max(scale, std::abs(v));
  for (std::size_t r = 0; r < a.n; ++r) EXPECT_NEAR(x_lattice[r], x_library[r], 1e-9 * scale);
  // Both solve the equations: A x reproduces b.
  std::vector<double> ax(a.n);
  a.multiply(x_lattice, ax);
  for (std::size_t r = 0; r < a.n; ++r) EXPECT_NEAR(ax[r], b[r], 1e-10);
  // A singular matrix is reported as such.
  CompressedRows zero_row = a;
  for (auto p = zero_row.start[3]; p < zero_row.start[4]; ++p) zero_row.value[p] = 0;
  EXPECT_EQ(SparseLu::factor(zero_row, 0.0, {}, UINT64_MAX).error(), SparseLuFailure::Singular);
}

}  // namespace
}  // namespace zorvatools
