#pragma once
// The timing lines of a converged surface solve, written to standard error when the environment
// variable SRS_PROFILE is set (to any value, even empty).

#include <chrono>
#include <cstddef>
#include <string>

namespace zorvastatic {

class SolveProfile {
 public:
  // Reads the switch and starts the clock.
  SolveProfile();

  [[nodiscard]] bool enabled() const { return enabled_; }
  // Milliseconds since construction.
  [[nodiscard]] double elapsed_ms() const;
  // Milliseconds since `since`.
  [[nodiscard]] static double ms_since(std::chrono::steady_clock::time_point since);

  void start_line(std::size_t nx, std::size_t ny, std::size_t controls,
                  double first_solve_ms) const;
  void restart_line(int restart, int max_restarts, double moved_m, double restart_ms) const;
  void done_line(std::size_t controls, int restarts, bool maxed, double moved_m) const;

 private:
  bool enabled_;
  std::chrono::steady_clock::time_point start_;
};

// `value` with exactly `decimals` digits after the point ("12.5", "0.0010").
std::string fixed_decimals(double value, int decimals);

}  // namespace zorvastatic
