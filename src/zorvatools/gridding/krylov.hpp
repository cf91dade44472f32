#pragma once
// Restarted GMRES with a right preconditioner, stopped on the normwise backward error
// ||b - A x|| / (||A|| ||x|| + ||b||) in the max norm: the measure the direct solves are checked
// against, and one that double arithmetic can reach whatever the condition number (a plain
// relative residual of a system conditioned like h^-4 may not be). Serial, so the iterates do not
// depend on the thread count; polls the current call once per iteration.

#include <cstddef>
#include <functional>
#include <span>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/gridding/compressed_rows.hpp"

namespace zorvatools {

struct KrylovOptions {
  double tolerance = 1e-12;          // on the normwise backward error
  std::size_t restart = 30;          // Krylov vectors kept between restarts
  std::size_t max_iterations = 600;  // preconditioned products, over all restarts
};

struct KrylovOutcome {
  bool converged = false;
  std::size_t iterations = 0;
  double backward_error = 0;
};

// z = M^-1 r, a fixed linear map.
using Preconditioner = std::function<void(std::span<const double> r, std::span<double> z)>;

// Improves x (the start on entry) towards the solution of a x = b. Fails only when the call is
// stopped; a solve that runs out of iterations reports converged false with the last iterate in x.
AlgoResult<KrylovOutcome> gmres(const CompressedRows& a, const Preconditioner& precondition,
                                std::span<const double> b, std::span<double> x,
                                const KrylovOptions& options = {});

// ||b - A x||_inf / (||A||_inf ||x||_inf + ||b||_inf), with `r` receiving b - A x; infinity when
// x is not finite.
double backward_error(const CompressedRows& a, double a_norm, std::span<const double> b,
                      std::span<const double> x, std::span<double> r);

}  // namespace zorvatools
