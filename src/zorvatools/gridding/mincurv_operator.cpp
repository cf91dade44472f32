#include "zorvatools/gridding/mincurv_operator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {
namespace {

struct Tap {
  int di;
  int dj;
  double weight;
};

// 0.75 x biharmonic (20, -8, 2, 1) + 0.25 x negative Laplacian (4, -1): minimum curvature with
// tension 0.25. Applied in this order.
constexpr Tap kStencil[13] = {
    {0, 0, 16.0},                                                  // centre
    {0, 1, -6.25}, {0, -1, -6.25}, {1, 0, -6.25}, {-1, 0, -6.25},  // axis
    {1, 1, 1.5},   {-1, 1, 1.5},   {1, -1, 1.5},  {-1, -1, 1.5},   // diagonal
    {0, 2, 0.75},  {0, -2, 0.75},  {2, 0, 0.75},  {-2, 0, 0.75},   // axis, distance 2
};

constexpr std::size_t kMinAnchorsForShift = 4;
constexpr double kRetryShift = 1e-8;  // relative to the largest absolute diagonal entry

}  // namespace

MinCurvatureOperator::MinCurvatureOperator(std::size_t nx, std::size_t ny, const AnchorSet& anchors)
    : nx_(nx), ny_(ny), anchor_count_(anchors.nodes.size()), node_anchor_(anchors.node_anchor) {}

AlgoResult<MinCurvatureOperator> MinCurvatureOperator::assemble(std::size_t nx, std::size_t ny,
                                                                const AnchorSet& anchors) {
  require(nx >= 2 && ny >= 2, "min-curvature operator needs a lattice of at least 2x2");
  require(nx * ny <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()),
          "min-curvature lattice exceeds 32-bit node indices");
  require(anchors.node_anchor.size() == nx * ny, "anchor map size mismatch");
  MinCurvatureOperator op(nx, ny, anchors);
  op.number_free_nodes();
  op.assemble_rows();
  if (!op.factor()) {
    return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
  }
  return op;
}

void MinCurvatureOperator::number_free_nodes() {
  node_free_.assign(nx_ * ny_, -1);
  free_nodes_.reserve(nx_ * ny_);
  auto visit = [this](std::size_t i, std::size_t j) {
    const std::size_t node = i * ny_ + j;
    if (node_anchor_[node] >= 0) return;
    node_free_[node] = static_cast<std::int32_t>(free_nodes_.size());
    free_nodes_.push_back(node);
  };
  // The shorter axis runs fastest, keeping the band proportional to it.
  if (ny_ >= nx_) {
    for (std::size_t j = 0; j < ny_; ++j) {
      for (std::size_t i = 0; i < nx_; ++i) visit(i, j);
    }
  } else {
    for (std::size_t i = 0; i < nx_; ++i) {
      for (std::size_t j = 0; j < ny_; ++j) visit(i, j);
    }
  }
}

void MinCurvatureOperator::assemble_rows() {
  const std::size_t n = free_nodes_.size();
  entries_.reserve(n * std::size(kStencil));
  coupling_start_.reserve(n + 1);
  coupling_start_.push_back(0);
  for (std::size_t row = 0; row < n; ++row) {
    const auto i = static_cast<std::int64_t>(free_nodes_[row] / ny_);
    const auto j = static_cast<std::int64_t>(free_nodes_[row] % ny_);
    for (const Tap& tap : kStencil) {
      accumulate(static_cast<std::uint32_t>(row), i + tap.di, j + tap.dj, tap.weight);
    }
    coupling_start_.push_back(couplings_.size());
  }
}

void MinCurvatureOperator::accumulate(std::uint32_t row, std::int64_t i, std::int64_t j,
                                      double weight) {
  const auto nx = static_cast<std::int64_t>(nx_);
  const auto ny = static_cast<std::int64_t>(ny_);
  // z(i) = 2 z(i + 1) - z(i + 2) before the first node, mirrored after the last; i first, then j.
  if (i < 0) {
    accumulate(row, i + 1, j, 2 * weight);
    accumulate(row, i + 2, j, -weight);
  } else if (i >= nx) {
    accumulate(row, i - 1, j, 2 * weight);
    accumulate(row, i - 2, j, -weight);
  } else if (j < 0) {
    accumulate(row, i, j + 1, 2 * weight);
    accumulate(row, i, j + 2, -weight);
  } else if (j >= ny) {
    accumulate(row, i, j - 1, 2 * weight);
    accumulate(row, i, j - 2, -weight);
  } else {
    const auto node = static_cast<std::size_t>(i * ny + j);
    if (const std::int32_t anchor = node_anchor_[node]; anchor >= 0) {
      couplings_.push_back({anchor, weight});
    } else {
      const auto col = static_cast<std::uint32_t>(node_free_[node]);
      entries_[entry_key(row, col)] += weight;
    }
  }
}

std::size_t MinCurvatureOperator::half_bandwidth() const {
  std::size_t b = 0;
  for (const auto& entry : entries_) {
    const std::uint32_t row = entry_row(entry.first);
    const std::uint32_t col = entry_col(entry.first);
    b = std::max<std::size_t>(b, row > col ? row - col : col - row);
  }
  return b;
}

bool MinCurvatureOperator::factor() {
  const std::size_t n = free_nodes_.size();
  const std::size_t b = half_bandwidth();
  auto lu = build_and_factor(entries_, n, b, 0.0);
  if (!lu) {
    if (anchor_count_ < kMinAnchorsForShift) return false;
    double largest_diagonal = 0;
    for (const auto& [key, value] : entries_) {
      if (entry_row(key) == entry_col(key)) {
        largest_diagonal = std::max(largest_diagonal, std::fabs(value));
      }
    }
    lu = build_and_factor(entries_, n, b, kRetryShift * largest_diagonal);
    if (!lu) return false;
  }
  lu_ = std::move(*lu);
  SparseEntries().swap(entries_);
  rhs_.assign(n, 0.0);
  return true;
}

Array2D<double> MinCurvatureOperator::solve(std::span<const double> anchor_values) {
  require(anchor_values.size() == anchor_count_, "anchor value count mismatch");
  const std::size_t n = free_nodes_.size();
  for (std::size_t r = 0; r < n; ++r) {
    double sum = 0;
    for (std::size_t c = coupling_start_[r]; c < coupling_start_[r + 1]; ++c) {
      sum += couplings_[c].weight * anchor_values[static_cast<std::size_t>(couplings_[c].anchor)];
    }
    rhs_[r] = -sum;
  }
  lu_.solve_in_place(rhs_);

  Array2D<double> out(nx_, ny_);
  std::vector<double>& values = out.data();
  for (std::size_t node = 0; node < values.size(); ++node) {
    const std::int32_t anchor = node_anchor_[node];
    values[node] = anchor >= 0 ? anchor_values[static_cast<std::size_t>(anchor)]
                               : rhs_[static_cast<std::size_t>(node_free_[node])];
  }
  return out;
}

}  // namespace zorvatools
