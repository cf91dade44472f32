#pragma once
// The memory budget above which a model is spilled out of core.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zorvastatic {

inline constexpr std::uint64_t kFallbackSpillBudget = 4294967296;  // 4 GiB

// Total physical memory in bytes from "/proc/meminfo", read once per process; absent on any
// failure.
std::optional<std::uint64_t> query_physical_ram();

// The "MemTotal:" value of a meminfo text in bytes, or absent when missing or malformed.
std::optional<std::uint64_t> parse_meminfo_total(std::string_view text);

// Half the physical memory (rounded down), or 4 GiB when it is unknown.
std::uint64_t default_spill_budget(std::optional<std::uint64_t> physical_bytes);

}  // namespace zorvastatic
