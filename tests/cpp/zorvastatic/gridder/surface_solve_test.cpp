#include "zorvastatic/gridder/surface_solve.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <sstream>
#include <string>

#include "test_support.hpp"

namespace zorvastatic {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Sets or clears SRS_PROFILE for one test and restores the previous state.
class ProfileEnv {
 public:
  explicit ProfileEnv(const char* value) {
    if (const char* old = std::getenv("SRS_PROFILE")) saved_ = old;
    if (value) {
      setenv("SRS_PROFILE", value, 1);
    } else {
      unsetenv("SRS_PROFILE");
    }
  }
  ~ProfileEnv() {
    if (saved_) {
      setenv("SRS_PROFILE", saved_->c_str(), 1);
    } else {
      unsetenv("SRS_PROFILE");
    }
  }

 private:
  std::optional<std::string> saved_;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Replaces each time value ("12.3": digits, a point, one decimal) after the timing keys by "T";
// a malformed value is left in place so that the comparison fails.
std::string mask_times(std::string line) {
  for (const std::string key : {"first_solve_ms=", "restart_ms=", "cum_ms=", " ms="}) {
    const std::size_t at = line.find(key);
    if (at == std::string::npos) continue;
    const std::size_t start = at + key.size();
    std::size_t end = start;
    while (end < line.size() && line[end] != ' ') ++end;
    const std::string value = line.substr(start, end - start);
    const std::size_t point = value.find('.');
    const bool digits = point != std::string::npos && point > 0 && point + 2 == value.size() &&
                        value.find_first_not_of("0123456789.") == std::string::npos;
    if (digits) line.replace(start, end - start, "T");
  }
  return line;
}

double plane(std::size_t i, std::size_t j) {
  return 2000 + 1.5 * static_cast<double>(i) - 0.75 * static_cast<double>(j);
}

TEST(SolveSurfaceSeeded, ReportsSeedSizeThenFirstOffLatticeControlThenEngineFailure) {
  EXPECT_ERROR_TEXT(solve_surface_seeded(Surface(1, 3, {0, 0, 0}), {{0, 0, 1}}),
                    "grid error: seed lattice must be at least 2x2, got 1x3");
  const Surface seed = Surface::constant(4, 3, 0);
  EXPECT_ERROR_TEXT(solve_surface_seeded(seed, {{1, 1, 1}, {4, 1, 2}, {0, 9, 3}}),
                    "grid error: control (4,1) outside lattice 4x3");
  EXPECT_ERROR_TEXT(solve_surface_seeded(seed, {{0, 3, 1}}),
                    "grid error: control (0,3) outside lattice 4x3");
  EXPECT_ERROR_TEXT(solve_surface_seeded(seed, {}),
                    "grid error: zorvatools seeded grid failed: empty input: min-curvature "
                    "gridding needs samples");
}

TEST(SolveSurfaceConverged, NeedsControlsAndPassesSolveFailuresUp) {
  EXPECT_ERROR_TEXT(solve_surface_converged(3, 3, {}),
                    "invalid input: structural solve needs at least one control point");
  EXPECT_ERROR_TEXT(solve_surface_converged(3, 3, {{0, 0, 1}, {3, 0, 1}}),
                    "grid error: control (3,0) outside lattice 3x3");
}

TEST(SolveSurfaceConverged, OneControlGivesItsDepthEverywhere) {
  ASSERT_OK_AND_ASSIGN(Surface s, solve_surface_converged(5, 4, {{2, 1, 1234.5}}));
  EXPECT_EQ(s.values(), std::vector<double>(20, 1234.5));
}

TEST(SolveSurfaceConverged, ReproducesPlanesFromThreeOrMoreControls) {
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
    for (std::size_t j = 0; j < 6; ++j) {
      for (std::size_t i = 0; i < 7; ++i) EXPECT_NEAR(s.at(i, j), plane(i, j), 1e-9);
    }
  }
}

TEST(SolveSurfaceConverged, HonoursControlsOfACurvedSurface) {
  const std::vector<ControlPoint> controls = {{0, 0, 1000}, {7, 0, 1010}, {0, 6, 1004},
                                              {7, 6, 990},  {3, 3, 1030}, {5, 2, 1001}};
  ASSERT_OK_AND_ASSIGN(Surface s, solve_surface_converged(8, 7, controls));
  for (const ControlPoint& cp : controls) EXPECT_NEAR(s.at(cp.i, cp.j), cp.z, 1e-9);
  EXPECT_GT(s.at(3, 2), 1010);  // the bump at (3, 3) spreads to its neighbours
}

TEST(SolveSurfaceConverged, WritesNothingWithoutTheProfileSwitch) {
  ProfileEnv env(nullptr);
  testing::internal::CaptureStderr();
  ASSERT_OK(solve_surface_converged(5, 5, {{0, 0, 1}, {4, 0, 2}, {0, 4, 3}, {4, 4, 5}}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(SolveSurfaceConverged, DirectSolveProfilesOneRestartThatDoesNotMove) {
  ProfileEnv env("");  // set but empty still switches profiling on
  testing::internal::CaptureStderr();
  ASSERT_OK(solve_surface_converged(5, 6, {{0, 0, 1}, {4, 0, 2}, {0, 5, 3}, {4, 5, 5}, {2, 2, 9}}));
  const std::vector<std::string> lines = lines_of(testing::internal::GetCapturedStderr());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(mask_times(lines[0]),
            "[SRS_PROFILE] solve_converged START nx=5 ny=6 controls=5 first_solve_ms=T");
  EXPECT_EQ(mask_times(lines[1]),
            "[SRS_PROFILE]   restart 1/16 moved=0.0000m restart_ms=T cum_ms=T");
  EXPECT_EQ(mask_times(lines[2]),
            "[SRS_PROFILE] solve_converged DONE controls=5 restarts=1 maxed=false "
            "last_moved=0.0000 ms=T");
}

TEST(SolveSurfaceConverged, RelaxationRestartsContinueFromThePreviousSolutionAndAreProfiled) {
  // Two controls: the plane fit is flat at their mean (15) and the residuals are -5 and +5. The
  // direct system is singular, so every solve relaxes further from the previous one; on this
  // strip the first relaxation stops at the sweep limit and the restarts keep moving.
  const std::size_t nx = 40, ny = 2;
  const std::vector<ControlPoint> controls = {{1, 1, 10}, {38, 0, 20}};
  const std::vector<ControlPoint> residuals = {{1, 1, -5}, {38, 0, 5}};
  ASSERT_OK_AND_ASSIGN(Surface current,
                       solve_surface_seeded(Surface::constant(nx, ny, 0), residuals));
  int expected_restarts = 0;
  while (expected_restarts < kSolveRestartLimit) {
    ++expected_restarts;
    ASSERT_OK_AND_ASSIGN(Surface next, solve_surface_seeded(current, residuals));
    double moved = 0;
    for (std::size_t n = 0; n < nx * ny; ++n) {
      moved = std::fmax(moved, std::fabs(next.values()[n] - current.values()[n]));
    }
    current = next;
    if (moved < kSolveMovementThreshold) break;
  }
  for (double& z : current.values()) z = 15 + z;

  ProfileEnv env("1");
  testing::internal::CaptureStderr();
  ASSERT_OK_AND_ASSIGN(Surface converged, solve_surface_converged(nx, ny, controls));
  const std::vector<std::string> lines = lines_of(testing::internal::GetCapturedStderr());
  EXPECT_EQ(converged, current);
  EXPECT_EQ(converged.at(1, 1), 10);
  EXPECT_EQ(converged.at(38, 0), 20);

  ASSERT_GE(expected_restarts, 2);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(expected_restarts) + 2);
  EXPECT_EQ(mask_times(lines[0]),
            "[SRS_PROFILE] solve_converged START nx=40 ny=2 controls=2 first_solve_ms=T");
  std::string last_moved;
  for (int r = 1; r <= expected_restarts; ++r) {
    const std::string line = mask_times(lines[static_cast<std::size_t>(r)]);
    const std::string head = "[SRS_PROFILE]   restart " + std::to_string(r) + "/16 moved=";
    const std::string tail = "m restart_ms=T cum_ms=T";
    ASSERT_EQ(line.substr(0, head.size()), head);
    ASSERT_GT(line.size(), head.size() + tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    last_moved = line.substr(head.size(), line.size() - head.size() - tail.size());
    EXPECT_EQ(last_moved.size() - last_moved.find('.'), 5u) << "four decimals: " << last_moved;
  }
  EXPECT_EQ(mask_times(lines.back()), "[SRS_PROFILE] solve_converged DONE controls=2 restarts=" +
                                          std::to_string(expected_restarts) +
                                          " maxed=false last_moved=" + last_moved + " ms=T");
}

Surface column_with_control() {
  return Surface::constant(12, 3, 0);
}

TEST(TaperBeyondData, KeepsNearNodesBlendsMiddleNodesAndReplacesFarNodes) {
  const std::vector<ControlPoint> controls = {{0, 1, 100}};
  ASSERT_EQ(taper_beyond_data(column_with_control(), controls, {true, 2, 4}).at(1, 1), 0);
  const Surface t = taper_beyond_data(column_with_control(), controls, {true, 2, 4});
  EXPECT_EQ(t.at(2, 1), 0);
  EXPECT_EQ(t.at(4, 1), 50);
  EXPECT_EQ(t.at(6, 1), 100);
  EXPECT_EQ(t.at(11, 1), 100);
  EXPECT_DOUBLE_EQ(t.at(3, 0), 100 * ((std::sqrt(10.0) - 2) / 4));  // diagonal distance
}

TEST(TaperBeyondData, UsesTheNearestControlAndTheLaterOfTwoOnOneNode) {
  const std::vector<ControlPoint> controls = {{0, 0, 10}, {11, 2, 50}, {11, 2, 70}};
  const Surface t = taper_beyond_data(column_with_control(), controls, {true, 0, 0});
  EXPECT_EQ(t.at(0, 0), 0);  // distance 0 is not beyond the start
  EXPECT_EQ(t.at(5, 0), 10);
  EXPECT_EQ(t.at(7, 1), 70);
  EXPECT_EQ(t.at(11, 2), 0);
}

TEST(TaperBeyondData, WithoutWidthReplacesBeyondTheStartAndANaNStartCountsAsZero) {
  const std::vector<ControlPoint> controls = {{0, 1, 100}};
  const Surface step = taper_beyond_data(column_with_control(), controls, {true, 3, -1});
  EXPECT_EQ(step.at(3, 1), 0);
  EXPECT_EQ(step.at(4, 1), 100);
  const Surface nan_start = taper_beyond_data(column_with_control(), controls, {true, kNaN, kNaN});
  EXPECT_EQ(nan_start.at(0, 1), 0);
  EXPECT_EQ(nan_start.at(1, 1), 100);
}

TEST(TaperBeyondData, UndefinedNodesStayUndefinedUntilFullyTapered) {
  Surface s(12, 1, std::vector<double>(12, kNaN));
  const Surface t = taper_beyond_data(s, {{0, 0, 100}}, {true, 2, 4});
  EXPECT_TRUE(std::isnan(t.at(1, 0)));
  EXPECT_TRUE(std::isnan(t.at(4, 0)));
  EXPECT_EQ(t.at(6, 0), 100);
}

TEST(TaperBeyondData, DisabledOrWithoutReachableControlsReturnsTheSurface) {
  Surface s = column_with_control();
  s.at(5, 2) = kNaN;
  const std::vector<ControlPoint> controls = {{0, 0, 100}};
  const Surface off = taper_beyond_data(s, controls, {false, 2, 4});
  EXPECT_EQ(off.values().size(), s.values().size());
  EXPECT_TRUE(std::isnan(off.at(5, 2)));
  EXPECT_EQ(off.at(11, 0), 0);
  // A control off the lattice owns no node.
  const Surface unreached = taper_beyond_data(s, {{12, 0, 100}}, {true, 0, 1});
  EXPECT_EQ(unreached.at(11, 0), 0);
  EXPECT_TRUE(std::isnan(unreached.at(5, 2)));
}

}  // namespace
}  // namespace zorvastatic
