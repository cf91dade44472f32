#pragma once
// The normal-score transform: data mapped to standard normal quantiles by rank, and back, by
// piecewise-linear lookup in two parallel tables.

#include <span>
#include <vector>

namespace zorvatools {

// Piecewise-linear lookup of x in the ascending table xs (ys of the same length, at least one
// entry); beyond either end the end value of ys.
[[nodiscard]] double interp(std::span<const double> xs, std::span<const double> ys, double x);

// The standard normal quantile of p in (0, 1).
[[nodiscard]] double normal_quantile(double p);

struct NormalScore {
  std::vector<double> values;  // distinct data values, strictly ascending
  std::vector<double> scores;  // the normal score of each value, ascending

  // Tables from a non-empty list of finite data; tied data share the mean of their scores.
  [[nodiscard]] static NormalScore fit(std::span<const double> data);

  [[nodiscard]] double forward(double value) const { return interp(values, scores, value); }
  [[nodiscard]] double back(double score) const { return interp(scores, values, score); }
};

}  // namespace zorvatools
