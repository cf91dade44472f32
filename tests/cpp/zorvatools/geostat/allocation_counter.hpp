#pragma once
// Counts heap allocations made through operator new while counting is switched on. The
// replacement operators live in allocation_counter.cpp and serve the whole test binary.

#include <cstddef>

namespace zorvatools::testing_alloc {

void start_counting();
// Stops counting and returns the allocations made since start_counting.
std::size_t stop_counting();

}  // namespace zorvatools::testing_alloc
