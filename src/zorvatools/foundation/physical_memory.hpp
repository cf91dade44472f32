#pragma once
// The machine's physical memory, for checking a large allocation before it is made.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorvatools {

// Total physical memory in bytes, read once per process; absent when the system does not say.
std::optional<std::uint64_t> physical_memory_bytes();

// a * b, or absent when the product does not fit in 64 bits.
std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b);
// a + b, or absent when the sum does not fit in 64 bits.
std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b);

// "{what} of lattice {nx}x{ny} needs {needed} bytes (1.5 GiB) of memory, more than the {limit}
// bytes (1.0 GiB) available".
std::string memory_shortfall_text(std::string_view what, std::uint64_t nx, std::uint64_t ny,
                                  std::uint64_t needed, std::uint64_t limit);

}  // namespace zorvatools
