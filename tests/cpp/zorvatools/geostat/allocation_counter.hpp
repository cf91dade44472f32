#pragma once
// Counts heap allocations while counting is switched on, through the sanitizer runtime's
// allocation hooks (the tests' usual build); without that runtime counting is unavailable.

#include <cstddef>

namespace zorvatools::testing_alloc {

// Whether allocations can be counted in this build.
bool available();
void start_counting();
// Stops counting and returns the allocations made since start_counting.
std::size_t stop_counting();

}  // namespace zorvatools::testing_alloc
