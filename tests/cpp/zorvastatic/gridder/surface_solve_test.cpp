#include "zorvastatic/gridder/surface_solve.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>

#include "test_support.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Runs `solve` with SRS_PROFILE set to `value` (or unset) and returns the standard-error lines,
// each timing value ("12.3": digits, a point, one decimal) replaced by "T".
template <class Solve>
std::vector<std::string> profiled_lines(const char* value, Solve solve) {
  value ? setenv("SRS_PROFILE", value, 1) : unsetenv("SRS_PROFILE");
  testing::internal::CaptureStderr();
  solve();
  const std::string text = testing::internal::GetCapturedStderr();
  unsetenv("SRS_PROFILE");
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    for (const std::string key : {"first_solve_ms=", "restart_ms=", "cum_ms=", " ms="}) {
      const std::size_t start =
          line.find(key) == std::string::npos ? line.size() : line.find(key) + key.size();
      const std::size_t end = std::min(line.find(' ', start), line.size());
      const std::string v = line.substr(start, end - start);
      if (v.size() >= 3 && v[v.size() - 2] == '.' &&
          v.find_first_not_of("0123456789.") == std::string::npos) {
        line.replace(start, end - start, "T");
      }
    }
    lines.push_back(line);
  }
  return lines;
}

double plane(std::size_t i, std::size_t j) {
  return 2000 + 1.5 * static_cast<double>(i) - 0.75 * static_cast<double>(j);
}

TEST(SolveSurface, ReportsSeedSizeThenFirstOffLatticeControlThenEngineFailure) {
  EXPECT_ERROR_TEXT(solve_surface_seeded(Surface(1, 3, {0, 0, 0}), {{0, 0, 1}}),
                    "grid error: seed lattice must be at least 2x2, got 1x3");
  const Surface seed = Surface::constant(4, 3, 0);
  EXPECT_ERROR_TEXT(solve_surface_seeded(seed, {{1, 1, 1}, {4, 1, 2}, {0, 9, 3}}),
                    "grid error: control (4,1) outside lattice 4x3");
  EXPECT_ERROR_TEXT(solve_surface_seeded(seed, {}),
                    "grid error: zorvatools seeded grid failed: empty input: min-curvature "
                    "gridding needs samples");
  EXPECT_ERROR_TEXT(solve_surface_converged(3, 3, {}),
                    "invalid input: structural solve needs at least one control point");
  EXPECT_ERROR_TEXT(solve_surface_converged(3, 3, {{0, 0, 1}, {0, 3, 1}}),
                    "grid error: control (0,3) outside lattice 3x3");
  // Callers validate lattice sizes first; the constant seed refuses anything below 2x2.
  EXPECT_THROW((void)solve_surface_converged(1, 4, {{0, 1, 5}}), zorvatools::InternalFault);
}

TEST(SolveSurfaceConverged, ALatticeBeyondTheMachinesMemoryFailsBeforeAllocating) {
  const auto result = solve_surface_converged(200000, 200000, {{0, 0, 1}, {5, 9, 2}});
  ASSERT_FALSE(result.has_value());
  EXPECT_TRUE(result.error().display().starts_with(
      "grid error: surface solve of lattice 200000x200000 needs 1920000000000 bytes (1788.1 GiB) "
      "of memory, more than the "))
      << result.error().display();
}

TEST(SolveSurfaceConverged, FiftyWellsOnALatticeForTheSparseLuRestartOnceWithoutMoving) {
  // 180 x 170 nodes: the sparse LU is cheaper than a band about 340 wide; the restart reuses its
  // factors and reproduces the first solution exactly.
  std::vector<ControlPoint> wells;
  for (std::size_t k = 0; k < 50; ++k) {
    const std::size_t i = (k * 157) % 180, j = (k * 23) % 170;
    wells.push_back({i, j, 2000 + 0.1 * double(i) - 0.2 * double(j) + 5 * std::sin(double(k))});
  }
  Surface converged;
  const auto lines = profiled_lines(
      "", [&] { ASSERT_OK_AND_ASSIGN(converged, solve_surface_converged(180, 170, wells)); });
  for (const ControlPoint& cp : wells) {
    EXPECT_NEAR(converged.at(cp.i, cp.j), cp.z, 1e-9 * 2000);
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "[SRS_PROFILE]   restart 1/16 moved=0.0000m restart_ms=T cum_ms=T");
}

TEST(SolveSurfaceConverged, ReproducesPlanesAndHonoursControls) {
  ASSERT_OK_AND_ASSIGN(Surface single, solve_surface_converged(5, 4, {{2, 1, 1234.5}}));
  EXPECT_EQ(single.values(), std::vector<double>(20, 1234.5));
  // Three controls: the trend is the plane and the residual surface is zero.
  const std::vector<ControlPoint> three = {
      {0, 0, plane(0, 0)}, {4, 0, plane(4, 0)}, {0, 4, plane(0, 4)}};
  const std::vector<ControlPoint> five = {{0, 0, plane(0, 0)},
                                          {6, 1, plane(6, 1)},
                                          {2, 4, plane(2, 4)},
                                          {5, 5, plane(5, 5)},
                                          {3, 2, plane(3, 2)}};
  for (const auto* controls : {&three, &five}) {
    ASSERT_OK_AND_ASSIGN(Surface s, solve_surface_converged(7, 6, *controls));
    for (std::size_t n = 0; n < 42; ++n) EXPECT_NEAR(s.values()[n], plane(n % 7, n / 7), 1e-9);
  }
  const std::vector<ControlPoint> bump = {{0, 0, 1000}, {7, 0, 1010}, {0, 6, 1004},
                                          {7, 6, 990},  {3, 3, 1030}, {5, 2, 1001}};
  ASSERT_OK_AND_ASSIGN(Surface s, solve_surface_converged(8, 7, bump));
  for (const ControlPoint& cp : bump) EXPECT_NEAR(s.at(cp.i, cp.j), cp.z, 1e-9);
  EXPECT_GT(s.at(3, 2), 1010);
}

TEST(SolveSurfaceConverged, ProfilesOnlyWhenSwitchedOnAndADirectSolveRestartsOnce) {
  const std::vector<ControlPoint> controls = {
      {0, 0, 1}, {4, 0, 2}, {0, 5, 3}, {4, 5, 5}, {2, 2, 9}};
  auto solve = [&] { ASSERT_OK(solve_surface_converged(5, 6, controls)); };
  EXPECT_TRUE(profiled_lines(nullptr, solve).empty());
  EXPECT_EQ(profiled_lines("", solve),  // set but empty still switches profiling on
            (std::vector<std::string>{
                "[SRS_PROFILE] solve_converged START nx=5 ny=6 controls=5 first_solve_ms=T",
                "[SRS_PROFILE]   restart 1/16 moved=0.0000m restart_ms=T cum_ms=T",
                "[SRS_PROFILE] solve_converged DONE controls=5 restarts=1 maxed=false "
                "last_moved=0.0000 ms=T"}));
}

TEST(SolveSurfaceConverged, RelaxationRestartsContinueFromThePreviousSolution) {
  // Two controls: the plane fit is flat at their mean (15) and the residuals are -5 and +5. The
  // direct system is singular, so every solve relaxes further from the previous one; on this
  // strip the first relaxation stops at the sweep limit and the restarts keep moving.
  const std::size_t nx = 40, ny = 2;
  const std::vector<ControlPoint> residuals = {{1, 1, -5}, {38, 0, 5}};
  ASSERT_OK_AND_ASSIGN(Surface current,
                       solve_surface_seeded(Surface::constant(nx, ny, 0), residuals));
  std::vector<double> moves;
  while (moves.size() < kSolveRestartLimit &&
         (moves.empty() || moves.back() >= kSolveMovementThreshold)) {
    ASSERT_OK_AND_ASSIGN(Surface next, solve_surface_seeded(current, residuals));
    double moved = 0;
    for (std::size_t n = 0; n < nx * ny; ++n) {
      moved = std::fmax(moved, std::fabs(next.values()[n] - current.values()[n]));
    }
    moves.push_back(moved);
    current = next;
  }
  for (double& z : current.values()) z = 15 + z;
  ASSERT_GE(moves.size(), 2u);

  Surface converged;
  const auto lines = profiled_lines("1", [&] {
    ASSERT_OK_AND_ASSIGN(converged, solve_surface_converged(nx, ny, {{1, 1, 10}, {38, 0, 20}}));
  });
  EXPECT_EQ(converged, current);
  EXPECT_EQ(converged.at(38, 0), 20);
  ASSERT_EQ(lines.size(), moves.size() + 2);
  auto four_decimals = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    return std::string(text);
  };
  for (std::size_t r = 1; r <= moves.size(); ++r) {
    EXPECT_EQ(lines[r], "[SRS_PROFILE]   restart " + std::to_string(r) +
                            "/16 moved=" + four_decimals(moves[r - 1]) + "m restart_ms=T cum_ms=T");
  }
  EXPECT_EQ(lines.back(), "[SRS_PROFILE] solve_converged DONE controls=2 restarts=" +
                              std::to_string(moves.size()) +
                              " maxed=false last_moved=" + four_decimals(moves.back()) + " ms=T");
}

TEST(TaperBeyondData, KeepsNearNodesBlendsMiddleNodesAndReplacesFarNodes) {
  const Surface flat = Surface::constant(12, 3, 0);
  const Surface t = taper_beyond_data(flat, {{0, 1, 100}}, {true, 2, 4});
  EXPECT_EQ(t.at(1, 1), 0);
  EXPECT_EQ(t.at(2, 1), 0);
  EXPECT_EQ(t.at(4, 1), 50);
  EXPECT_EQ(t.at(6, 1), 100);
  EXPECT_EQ(t.at(11, 1), 100);
  EXPECT_DOUBLE_EQ(t.at(3, 0), 100 * ((std::sqrt(10.0) - 2) / 4));  // diagonal distance

  // Without a width: replaced beyond the start; the later of two controls on one node wins.
  const Surface step =
      taper_beyond_data(flat, {{0, 0, 10}, {11, 2, 50}, {11, 2, 70}}, {true, 3, -1});
  EXPECT_EQ(step.at(3, 0), 0);
  EXPECT_EQ(step.at(4, 0), 10);
  EXPECT_EQ(step.at(7, 1), 70);
  const Surface nan_start = taper_beyond_data(flat, {{0, 1, 100}}, {true, kNaN, kNaN});
  EXPECT_EQ(nan_start.at(0, 1), 0);
  EXPECT_EQ(nan_start.at(1, 1), 100);
}

TEST(TaperBeyondData, UndefinedNodesDisabledTaperAndUnreachableControls) {
  const Surface undefined(12, 1, std::vector<double>(12, kNaN));
  const Surface t = taper_beyond_data(undefined, {{0, 0, 100}}, {true, 2, 4});
  EXPECT_TRUE(std::isnan(t.at(1, 0)));
  EXPECT_TRUE(std::isnan(t.at(4, 0)));
  EXPECT_EQ(t.at(6, 0), 100);  // fully tapered nodes take the depth whatever they held

  const Surface off = taper_beyond_data(undefined, {{0, 0, 100}}, {false, 2, 4});
  EXPECT_TRUE(std::isnan(off.at(11, 0)));
  // A control off the lattice owns no node.
  const Surface unreached =
      taper_beyond_data(Surface::constant(3, 2, 1), {{3, 0, 100}}, {true, 0, 1});
  EXPECT_EQ(unreached.values(), std::vector<double>(6, 1));
}

}  // namespace
}  // namespace zorvastatic
