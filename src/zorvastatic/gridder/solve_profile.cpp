#include "zorvastatic/gridder/solve_profile.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

void write_line(const std::string& line) {
  // One write per line so that lines of concurrent solves do not interleave mid-line.
  std::fputs((line + "\n").c_str(), stderr);
}

}  // namespace

std::string fixed_decimals(double value, int decimals) {
  char text[400];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return "0";
  return std::string(text, end);
}

SolveProfile::SolveProfile()
    : enabled_(std::getenv("SRS_PROFILE") != nullptr), start_(std::chrono::steady_clock::now()) {}

double SolveProfile::ms_since(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

double SolveProfile::elapsed_ms() const {
  return ms_since(start_);
}

void SolveProfile::start_line(std::size_t nx, std::size_t ny, std::size_t controls,
                              double first_solve_ms) const {
  if (!enabled_) return;
  write_line(str_cat("[SRS_PROFILE] solve_converged START nx=", nx, " ny=", ny, " controls=",
                     controls, " first_solve_ms=", fixed_decimals(first_solve_ms, 1)));
}

void SolveProfile::restart_line(int restart, int max_restarts, double moved_m,
                                double restart_ms) const {
  if (!enabled_) return;
  write_line(str_cat(
      "[SRS_PROFILE]   restart ", restart, "/", max_restarts, " moved=", fixed_decimals(moved_m, 4),
      "m restart_ms=", fixed_decimals(restart_ms, 1), " cum_ms=", fixed_decimals(elapsed_ms(), 1)));
}

void SolveProfile::done_line(std::size_t controls, int restarts, bool maxed, double moved_m) const {
  if (!enabled_) return;
  write_line(str_cat("[SRS_PROFILE] solve_converged DONE controls=", controls,
                     " restarts=", restarts, " maxed=", maxed ? "true" : "false", " last_moved=",
                     fixed_decimals(moved_m, 4), " ms=", fixed_decimals(elapsed_ms(), 1)));
}

}  // namespace zorvastatic
