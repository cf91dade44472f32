#include "zorvatools/store/lane_access.hpp"

#include <cstdint>
#include <limits>
#include <string>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvatools::store {
namespace {

struct FoundLane {
  const LaneSpec* definition;
  LanePlacement placement;
};

// Lookup by exact byte-wise name in schema order; the first match wins. Checks the dtype too.
AlgoResult<FoundLane> find_lane(const StoreSchema& schema, const Layout& layout,
                                std::string_view name, LaneDtype dtype) {
  require(schema.lanes.size() == layout.lanes.size(), "store layout does not match its schema");
  for (std::size_t i = 0; i < schema.lanes.size(); ++i) {
    const LaneSpec& lane = schema.lanes[i];
    if (lane.name != name) continue;
    if (lane.dtype != dtype) {
      return std::unexpected(AlgoError::invalid_argument(
          str_cat("lane '", name, "' is ", dtype_text(lane.dtype), ", not ", dtype_text(dtype))));
    }
    return FoundLane{&lane, layout.lanes[i]};
  }
  return std::unexpected(AlgoError::not_found(str_cat("store lane '", name, "'")));
}

// s + 1 in decimal, also for the largest 64-bit s.
std::string successor_text(std::uint64_t s) {
  if (s == std::numeric_limits<std::uint64_t>::max()) return "18446744073709551616";
  return str_cat(s + 1);
}

// The view's bytes after the alignment checks; `check_length` for flat lanes.
AlgoResult<std::span<std::byte>> aligned_view(std::span<std::byte> file, std::string_view name,
                                              std::uint64_t offset, std::uint64_t byte_len,
                                              LaneDtype dtype, bool check_length) {
  require(offset <= file.size() && byte_len <= file.size() - offset,
          "store view outside the mapped file");
  const std::size_t size = dtype_size(dtype);
  std::byte* start = file.data() + offset;
  if (reinterpret_cast<std::uintptr_t>(start) % size != 0) {
    return std::unexpected(AlgoError::invalid_argument(str_cat(
        "lane '", name, "': view at file offset ", offset, " is not aligned to ", size, " bytes")));
  }
  if (check_length && byte_len % size != 0) {
    return std::unexpected(AlgoError::invalid_argument(
        str_cat("lane '", name, "': byte length ", byte_len, " is not a multiple of ", size)));
  }
  return std::span<std::byte>(start, static_cast<std::size_t>(byte_len));
}

}  // namespace

AlgoResult<ByteRange> slab_range(const StoreSchema& schema, const Layout& layout,
                                 std::string_view name, std::uint64_t slab, LaneDtype dtype,
                                 ViewUse use) {
  ZV_ASSIGN_OR_RETURN(const FoundLane lane, find_lane(schema, layout, name, dtype));
  if (lane.definition->kind.is_flat()) {
    return std::unexpected(AlgoError::invalid_argument(
        use == ViewUse::Read ? str_cat("lane '", name, "' is flat — use flat_*")
                             : str_cat("lane '", name, "' is flat — use write_flat_*/flat_mut_*")));
  }
  if (slab >= schema.nslabs) {
    return std::unexpected(AlgoError::invalid_argument(
        use == ViewUse::Read
            ? str_cat("slab window [", slab, ", ", successor_text(slab),
                      ") out of range (nslabs = ", schema.nslabs, ")")
            : str_cat("slab ", slab, " out of range (nslabs = ", schema.nslabs, ")")));
  }
  // slab < nslabs and the lane's nslabs × slab bytes fit 64 bits, so neither product overflows.
  const std::uint64_t slab_len = lane.definition->kind.count() * dtype_size(dtype);
  return ByteRange{lane.placement.offset + slab * slab_len, slab_len};
}

AlgoResult<ByteRange> flat_range(const StoreSchema& schema, const Layout& layout,
                                 std::string_view name, LaneDtype dtype) {
  ZV_ASSIGN_OR_RETURN(const FoundLane lane, find_lane(schema, layout, name, dtype));
  if (lane.definition->kind.is_slab()) {
    return std::unexpected(AlgoError::invalid_argument(
        str_cat("lane '", name, "' is a slab lane — use write_slab_*/slab_mut_*")));
  }
  return ByteRange{lane.placement.offset, lane.placement.byte_len};
}

AlgoResult<std::span<std::byte>> slab_bytes(const StoreSchema& schema, const Layout& layout,
                                            std::span<std::byte> file, std::string_view name,
                                            std::uint64_t slab, LaneDtype dtype, ViewUse use) {
  ZV_ASSIGN_OR_RETURN(const ByteRange range, slab_range(schema, layout, name, slab, dtype, use));
  return aligned_view(file, name, range.offset, range.byte_len, dtype, false);
}

AlgoResult<std::span<std::byte>> flat_bytes(const StoreSchema& schema, const Layout& layout,
                                            std::span<std::byte> file, std::string_view name,
                                            LaneDtype dtype) {
  ZV_ASSIGN_OR_RETURN(const ByteRange range, flat_range(schema, layout, name, dtype));
  return aligned_view(file, name, range.offset, range.byte_len, dtype, true);
}

}  // namespace zorvatools::store
