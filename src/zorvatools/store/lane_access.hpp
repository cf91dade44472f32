#pragma once
// Finding a lane and checking a requested view of it: shared by the reader and the writer, which
// differ only in some messages.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/store/layout.hpp"
#include "zorvatools/store/schema.hpp"

namespace zorvatools::store {

enum class ViewUse { Read, Write };

// The dtype of each element type a view can have.
template <class T>
constexpr LaneDtype lane_dtype_of() {
  using Element = std::remove_const_t<T>;
  if constexpr (std::is_same_v<Element, float>) {
    return LaneDtype::F32;
  } else if constexpr (std::is_same_v<Element, double>) {
    return LaneDtype::F64;
  } else if constexpr (std::is_same_v<Element, std::uint16_t>) {
    return LaneDtype::U16;
  } else {
    static_assert(std::is_same_v<Element, std::uint32_t>, "no lane dtype for this type");
    return LaneDtype::U32;
  }
}

// Where a view lies in the file, from its start.
struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t byte_len = 0;
};

// Where slab `slab` of the slab lane `name`, elements of `dtype`, lies in the file.
AlgoResult<ByteRange> slab_range(const StoreSchema& schema, const Layout& layout,
                                 std::string_view name, std::uint64_t slab, LaneDtype dtype,
                                 ViewUse use);

// Where the flat lane `name`, elements of `dtype`, lies in the file.
AlgoResult<ByteRange> flat_range(const StoreSchema& schema, const Layout& layout,
                                 std::string_view name, LaneDtype dtype);

// The bytes of slab `slab` of the slab lane `name`, elements of `dtype`. `file` is the whole
// mapped file, which the layout has been checked to fit.
AlgoResult<std::span<std::byte>> slab_bytes(const StoreSchema& schema, const Layout& layout,
                                            std::span<std::byte> file, std::string_view name,
                                            std::uint64_t slab, LaneDtype dtype, ViewUse use);

// The bytes of the flat lane `name`, elements of `dtype`.
AlgoResult<std::span<std::byte>> flat_bytes(const StoreSchema& schema, const Layout& layout,
                                            std::span<std::byte> file, std::string_view name,
                                            LaneDtype dtype);

// Checked bytes seen as elements; T may be const.
template <class T>
std::span<T> as_elements(std::span<std::byte> bytes) {
  return {reinterpret_cast<T*>(bytes.data()), bytes.size() / sizeof(T)};
}

}  // namespace zorvatools::store
