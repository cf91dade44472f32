#pragma once
// Standardisation of a collocated secondary variable before it enters the kriging systems.

#include "zorvatools/foundation/array2d.hpp"

namespace zorvatools {

// Over the finite entries: (e - mean) / sqrt(population variance), non-finite entries 0. With
// zero variance every entry is 0; with no finite entry the array is returned unchanged.
[[nodiscard]] Array2D<double> standardised_secondary(const Array2D<double>& secondary);

}  // namespace zorvatools
