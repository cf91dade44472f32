#include "zorvatools/store/layout.hpp"

#include <cstring>
#include <limits>

namespace zorvatools::store {
namespace {

// `value` rounded up to a multiple of the power of two `to`; false on overflow.
bool round_up(std::uint64_t value, std::uint64_t to, std::uint64_t& out) {
  if (__builtin_add_overflow(value, to - 1, &out)) return false;
  out &= ~(to - 1);
  return true;
}

bool lane_byte_len(const LaneSpec& lane, std::uint64_t nslabs, std::uint64_t& out) {
  std::uint64_t count = lane.kind.count();
  if (lane.kind.is_slab() && __builtin_mul_overflow(count, nslabs, &count)) return false;
  return !__builtin_mul_overflow(count, std::uint64_t{dtype_size(lane.dtype)}, &out);
}

}  // namespace

std::optional<Layout> Layout::compute(const StoreSchema& schema, std::uint64_t schema_len) {
  Layout layout;
  layout.lanes.reserve(schema.lanes.size());
  std::uint64_t at = 0;
  if (__builtin_add_overflow(kHeaderBytes, schema_len, &at)) return std::nullopt;
  if (!round_up(at, kLaneAlignment, at)) return std::nullopt;
  for (const LaneSpec& lane : schema.lanes) {
    LanePlacement placement;
    if (!round_up(at, kLaneAlignment, placement.offset)) return std::nullopt;
    if (!lane_byte_len(lane, schema.nslabs, placement.byte_len)) return std::nullopt;
    if (__builtin_add_overflow(placement.offset, placement.byte_len, &at)) return std::nullopt;
    layout.lanes.push_back(placement);
  }
  layout.data_end = at;
  if (!round_up(at, 8, layout.seal_offset)) return std::nullopt;
  if (__builtin_add_overflow(layout.seal_offset, kSealBytes, &layout.file_len)) {
    return std::nullopt;
  }
  // File sizes and mapping lengths are signed 64-bit on this platform.
  if (layout.file_len > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  return layout;
}

AlgoResult<void> Layout::verify_seal(const Layout& layout, std::span<const std::byte> file,
                                     std::uint64_t nslabs) {
  if (file.size() < layout.file_len) {
    return std::unexpected(AlgoError::parse(
        "store not finalized or partially written (file shorter than its schema)"));
  }
  const std::byte* seal = file.data() + layout.seal_offset;
  if (std::memcmp(seal, kSealMagic.data(), kSealMagic.size()) != 0) {
    return std::unexpected(AlgoError::parse("store not finalized (missing end-of-store seal)"));
  }
  if (load_u64_le(seal + 4) != nslabs || load_u64_le(seal + 12) != layout.data_end) {
    return std::unexpected(
        AlgoError::parse("store seal disagrees with its header (corrupt or truncated)"));
  }
  return {};
}

std::uint32_t load_u32_le(const std::byte* at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | std::to_integer<std::uint32_t>(at[i]);
  return value;
}

std::uint64_t load_u64_le(const std::byte* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | std::to_integer<std::uint64_t>(at[i]);
  return value;
}

void store_u32_le(std::byte* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::byte>(value >> (8 * i));
}

void store_u64_le(std::byte* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::byte>(value >> (8 * i));
}

}  // namespace zorvatools::store
