#include "zorvatools/geostat/variogram.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_support.hpp"

namespace zorvatools {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

AnisotropicVariogram spherical(double nugget, double sill, double major, double minor,
                               double azimuth) {
  return {nugget, sill, major, minor, 10, azimuth, VariogramModel::Spherical};
}

TEST(AnisotropicVariogram, ValidationFailsInOrderWithTheFirstMessage) {
  struct Case {
    AnisotropicVariogram variogram;
    const char* message;
  };
  const std::string finite =
      "anisotropic variogram: nugget, sill, ranges and azimuth must be finite";
  const std::string negative = "anisotropic variogram: nugget and sill must be non-negative";
  const std::string total = "anisotropic variogram: total sill (nugget + sill) must be positive";
  const std::string ranges =
      "anisotropic variogram: major, minor and vertical ranges must be positive";
  const std::string nugget_only =
      "anisotropic variogram: the Nugget model uses only its nugget (sill is ignored), so nugget "
      "must be positive";
  const Case cases[] = {
      {{-1, 1, 0, 1, 1, kNaN, VariogramModel::Spherical}, finite.c_str()},
      {{0, 1, 1, kInf, 1, 0, VariogramModel::Spherical}, finite.c_str()},
      {{-0.1, 1, 0, 1, 1, 0, VariogramModel::Spherical}, negative.c_str()},
      {{0, -1, 1, 1, 1, 0, VariogramModel::Exponential}, negative.c_str()},
      {{0, 0, 0, 1, 1, 0, VariogramModel::Gaussian}, total.c_str()},
      {{0, 5, 1, 1, 1, 0, VariogramModel::Nugget}, nugget_only.c_str()},
      {{0.1, 0, 1, 0, 1, 0, VariogramModel::Nugget}, ranges.c_str()},
      {{0, 1, 1, 1, -2, 0, VariogramModel::Spherical}, ranges.c_str()},
  };
  for (const Case& c : cases) {
    EXPECT_ERROR_TEXT(c.variogram.validated(), std::string("invalid argument: ") + c.message);
  }
}

TEST(AnisotropicVariogram, AzimuthIsNormalisedToAFullTurn) {
  struct Case {
    double given;
    double stored;
  };
  for (const Case c : {Case{-30, 330}, Case{720, 0}, Case{360, 0}, Case{-720, 0}, Case{45, 45},
                       Case{359.5, 359.5}, Case{-1e-20, 0}, Case{1000, 280}}) {
    ASSERT_OK_AND_ASSIGN(const auto v, spherical(0, 1, 100, 50, c.given).validated());
    EXPECT_EQ(v.azimuth, c.stored) << c.given;
    EXPECT_FALSE(std::signbit(v.azimuth)) << c.given;
  }
}

TEST(IsotropicVariogram, ValidationNamesTheIsotropicForm) {
  const Variogram bad_range = IsotropicVariogram{0, 1, 0, VariogramModel::Spherical};
  EXPECT_ERROR_TEXT(validated(bad_range),
                    "invalid argument: isotropic variogram: range must be positive");
  const Variogram zero_total = IsotropicVariogram{0, 0, kNaN, VariogramModel::Exponential};
  EXPECT_ERROR_TEXT(validated(zero_total),
                    "invalid argument: isotropic variogram: nugget, sill and range must be finite");
}

TEST(Correlation, SphericalWithNuggetAlongTheAzimuth) {
  for (double azimuth : {0.0, 30.0, 90.0, 200.0}) {
    const Correlation rho(Variogram(spherical(0.2, 0.8, 100, 40, azimuth)));
    const double s = std::sin(azimuth * 0.017453292519943295);
    const double c = std::cos(azimuth * 0.017453292519943295);
    EXPECT_EQ(rho(0, 0), 1.0);
    EXPECT_NEAR(rho(50 * s, 50 * c), 0.25, 1e-12) << azimuth;
    EXPECT_NEAR(rho(-50 * s, -50 * c), 0.25, 1e-12) << azimuth;
    EXPECT_NEAR(rho(1e-9 * s, 1e-9 * c), 0.8, 1e-9) << azimuth;  // the nugget acts off zero lag
    EXPECT_NEAR(rho(100 * s, 100 * c), 0.0, 1e-12) << azimuth;
    EXPECT_EQ(rho(250 * s, 250 * c), 0.0) << azimuth;
    // Across the azimuth the lag is stretched by major / minor = 2.5: 20 m there is 50 m along.
    EXPECT_NEAR(rho(20 * c, -20 * s), 0.25, 1e-12) << azimuth;
  }
}

TEST(Correlation, AzimuthNinetyPutsTheMajorAxisAlongX) {
  const AnisotropicVariogram v{0, 1, 200, 50, 10, 90, VariogramModel::Exponential};
  const Correlation rho((Variogram(v)));
  EXPECT_NEAR(rho(100, 0), std::exp(-3.0 * 100 / 200), 1e-12);  // h = 100
  EXPECT_NEAR(rho(0, 100), std::exp(-3.0 * 400 / 200), 1e-12);  // h = 100 * 200 / 50
}

TEST(Correlation, ModelsAtKnownLags) {
  const Correlation gaussian(Variogram(IsotropicVariogram{0, 2, 30, VariogramModel::Gaussian}));
  EXPECT_NEAR(gaussian(18, 24), std::exp(-3.0), 1e-15);  // h = 30 = range
  EXPECT_NEAR(gaussian(0, 15), std::exp(-0.75), 1e-15);
  const Correlation exponential(
      Variogram(IsotropicVariogram{1, 3, 90, VariogramModel::Exponential}));
  EXPECT_NEAR(exponential(30, 0), 0.75 * std::exp(-1.0), 1e-15);
  // The isotropic form equals the anisotropic one with equal horizontal ranges.
  const Correlation iso(Variogram(IsotropicVariogram{0.1, 0.9, 70, VariogramModel::Spherical}));
  const Correlation aniso(Variogram(spherical(0.1, 0.9, 70, 70, 37)));
  EXPECT_NEAR(iso(-41, 22), aniso(-41, 22), 1e-12);
}

// A pure nugget ignores its sill: no correlation at any lag off zero, however the sill is set.
TEST(Correlation, NuggetModelHasNoCorrelationOffZeroLag) {
  const Correlation rho(
      Variogram(AnisotropicVariogram{0.3, 0.7, 10, 10, 10, 0, VariogramModel::Nugget}));
  EXPECT_EQ(rho(0, 0), 1.0);
  EXPECT_EQ(rho(0.001, 0), 0.0);
  EXPECT_EQ(rho(500, -3), 0.0);
}

TEST(Variogram, LongestRangeSizesTheSearch) {
  const AnisotropicVariogram v{0, 1, 20, 30, 50, 0, VariogramModel::Spherical};
  EXPECT_EQ(longest_range_m(Variogram(v)), 50);
  EXPECT_EQ(longest_range_m(Variogram(IsotropicVariogram{0, 1, 75, VariogramModel::Gaussian})), 75);
}

}  // namespace
}  // namespace zorvatools
