#pragma once

#include <cstddef>
#include <string>

namespace zorvastatic {

// Quality summary of one upscaling run.
struct PropertyReport {
  std::string property;
  std::size_t informed_cells = 0;  // cube cells with a finite value
  std::size_t sample_count = 0;    // samples averaged into some cell (twice if into two)
  double sample_mean = 0;          // NaN when there are no samples
  double upscaled_mean = 0;        // over the finite cube values; NaN when there are none
  double min = 0;
  double max = 0;
  bool simulated = false;  // the Gaussian step ran after upscaling
};

}  // namespace zorvastatic
