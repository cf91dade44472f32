#pragma once
// Where everything lies in a store file:
//   0..3 "ZTS", 3 version, 4..8 schema length L (u32), 8..8+L schema JSON,
//   lanes each on a 64-byte boundary, then at data_end rounded up to 8 the seal:
//   "ZTSZ", nslabs (u64), data_end (u64). All integers little-endian.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/store/schema.hpp"

namespace zorvatools::store {

inline constexpr std::string_view kStoreMagic = "ZTS";
inline constexpr std::uint8_t kStoreVersion = 1;
inline constexpr std::uint64_t kHeaderBytes = 8;
inline constexpr std::uint64_t kLaneAlignment = 64;
inline constexpr std::string_view kSealMagic = "ZTSZ";
inline constexpr std::uint64_t kSealBytes = 20;

// Reported when a schema's lane sizes do not fit a file: past 64 bits, or past the largest file
// length the system can map.
inline constexpr std::string_view kLaneSizesOverflow = "store schema lane sizes overflow";

struct LanePlacement {
  std::uint64_t offset = 0;    // from the start of the file, a multiple of 64
  std::uint64_t byte_len = 0;  // element count times element size
};

struct Layout {
  // One per lane, in schema order.
  std::vector<LanePlacement> lanes;
  std::uint64_t data_end = 0;
  std::uint64_t seal_offset = 0;
  std::uint64_t file_len = 0;

  // The layout of `schema` behind a schema JSON of `schema_len` bytes; absent when any offset or
  // length overflows 64 bits or the file would be longer than the largest signed 64-bit size.
  static std::optional<Layout> compute(const StoreSchema& schema, std::uint64_t schema_len);

  // Checks the end-of-store seal in `file` (the whole mapped file) against the layout and the
  // schema's `nslabs`; fails with a Parse error naming what is wrong.
  static AlgoResult<void> verify_seal(const Layout& layout, std::span<const std::byte> file,
                                      std::uint64_t nslabs);
};

// Little-endian integers at `at`.
std::uint32_t load_u32_le(const std::byte* at);
std::uint64_t load_u64_le(const std::byte* at);
void store_u32_le(std::byte* at, std::uint32_t value);
void store_u64_le(std::byte* at, std::uint64_t value);

}  // namespace zorvatools::store
