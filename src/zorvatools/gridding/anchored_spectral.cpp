#include "zorvatools/gridding/anchored_spectral.hpp"

#include <tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <optional>

#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/foundation/worker_pool.hpp"
#include "zorvatools/gridding/mincurv_operator.hpp"

namespace zorvatools {

AnchoredSpectralSolver::AnchoredSpectralSolver(WholeLatticeSolver whole,
                                               std::span<const std::size_t> anchor_nodes)
    : whole_(std::move(whole)), anchors_(anchor_nodes.begin(), anchor_nodes.end()) {
  const std::size_t nx = whole_.nx(), ny = whole_.ny();
  // Corner c: first-axis end c / 2, second-axis end c % 2.
  corners_[0] = 0;
  corners_[1] = ny - 1;
  corners_[2] = (nx - 1) * ny;
  corners_[3] = (nx - 1) * ny + ny - 1;
}

std::uint64_t AnchoredSpectralSolver::bytes_estimate(std::size_t nx, std::size_t ny,
                                                     std::size_t anchors) {
  const std::uint64_t order = anchors + 4;
  // The Green's functions' columns and the system's factor; each thread's solver's scratch.
  return WholeLatticeSolver::bytes_estimate(nx, ny) +
         max_threads() * WholeLatticeSolver::scratch_bytes(nx, ny) +
         sizeof(double) * (2 * order * order + 2 * static_cast<std::uint64_t>(nx) * ny);
}

double AnchoredSpectralSolver::corner_hat(std::size_t corner, std::size_t node) const {
  const std::size_t nx = whole_.nx(), ny = whole_.ny();
  const double u = static_cast<double>(node / ny) / static_cast<double>(nx - 1);
  const double v = static_cast<double>(node % ny) / static_cast<double>(ny - 1);
  return (corner / 2 == 1 ? u : 1 - u) * (corner % 2 == 1 ? v : 1 - v);
}

AlgoResult<AnchoredSpectralSolver> AnchoredSpectralSolver::build(
    std::size_t nx, std::size_t ny, std::span<const std::size_t> anchor_nodes,
    WholeLatticeSolver::Weights weights) {
  ZV_ASSIGN_OR_RETURN(WholeLatticeSolver whole, WholeLatticeSolver::build(nx, ny, weights));
  AnchoredSpectralSolver solver(std::move(whole), anchor_nodes);
  const std::size_t m = anchor_nodes.size(), order = m + 4;
  solver.w_.resize(nx * ny);
  solver.coefficients_.resize(order);
  // The Green's function of every anchor, read at the anchors and the corners: one column of the
  // system each, computed in parallel on solvers that share the factors.
  std::vector<std::size_t> targets(anchor_nodes.begin(), anchor_nodes.end());
  targets.insert(targets.end(), std::begin(solver.corners_), std::end(solver.corners_));
  const NodeSamples samples = solver.whole_.samples_at(targets);
  const WholeLatticeSolver& prototype = solver.whole_;
  tbb::enumerable_thread_specific<std::optional<WholeLatticeSolver>> copies;
  ZV_ASSIGN_OR_RETURN(std::vector<std::vector<double>> greens,
                      parallel_collect<AlgoResult<std::vector<double>>>(
                          m,
                          [&](std::size_t b) -> AlgoResult<std::vector<double>> {
                            ZV_TRY(poll_call());
                            std::optional<WholeLatticeSolver>& local = copies.local();
                            if (!local) local.emplace(prototype);
                            std::vector<double> column(order);
                            local->solve_unit_at(anchor_nodes[b], samples, column);
                            return column;
                          },
                          "minimum-curvature anchors"));
  std::vector<double> system(order * order, 0.0);  // column-major
  for (std::size_t b = 0; b < m; ++b) {
    std::copy(greens[b].begin(), greens[b].end(),
              system.begin() + static_cast<std::ptrdiff_t>(b * order));
  }
  greens.clear();
  for (std::size_t c = 0; c < 4; ++c) {
    double* column = &system[(m + c) * order];
    for (std::size_t a = 0; a < m; ++a) column[a] = solver.corner_hat(c, anchor_nodes[a]);
  }
  auto lu = DenseLu::factor(std::move(system), order);
  if (!lu) return std::unexpected(AlgoError::invalid_argument(kSingularSystemText));
  solver.system_ = std::move(*lu);
  return solver;
}

void AnchoredSpectralSolver::solve(std::span<const double> anchor_values,
                                   std::span<const double> node_rhs, std::span<double> out) {
  const std::size_t nodes = whole_.nx() * whole_.ny(), m = anchors_.size();
  require(anchor_values.size() == m && out.size() == nodes &&
              (node_rhs.empty() || node_rhs.size() == nodes),
          "AnchoredSpectralSolver::solve: bad sizes");
  const bool loaded = !node_rhs.empty();
  if (loaded) {
    std::copy(node_rhs.begin(), node_rhs.end(), w_.begin());
    for (const std::size_t node : anchors_) w_[node] = 0;
    whole_.solve(w_);
  }
  for (std::size_t a = 0; a < m; ++a) {
    coefficients_[a] = anchor_values[a] - (loaded ? w_[anchors_[a]] : 0.0);
  }
  for (std::size_t c = 0; c < 4; ++c) coefficients_[m + c] = loaded ? -w_[corners_[c]] : 0.0;
  system_->solve_in_place(coefficients_);
  std::fill(out.begin(), out.end(), 0.0);
  for (std::size_t a = 0; a < m; ++a) out[anchors_[a]] = coefficients_[a];
  whole_.solve(out);
  const std::size_t nx = whole_.nx(), ny = whole_.ny();
  const double* gamma = &coefficients_[m];
  for (std::size_t i = 0; i < nx; ++i) {
    const double u = static_cast<double>(i) / static_cast<double>(nx - 1);
    // sum_c gamma_c hat_c along this row: a line in v.
    const double at0 = (1 - u) * gamma[0] + u * gamma[2];
    const double at1 = (1 - u) * gamma[1] + u * gamma[3];
    for (std::size_t j = 0; j < ny; ++j) {
      const double v = static_cast<double>(j) / static_cast<double>(ny - 1);
      out[i * ny + j] += (1 - v) * at0 + v * at1 + (loaded ? w_[i * ny + j] : 0.0);
    }
  }
}

}  // namespace zorvatools
