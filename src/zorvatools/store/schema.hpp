#pragma once
// What a store holds: named, typed numeric lanes, either cut into slabs (the same element count
// in each of `nslabs` slabs) or flat, plus an opaque application value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools::store {

enum class LaneDtype : std::uint8_t { F32, F64, U16, U32 };

// "f32", "f64", "u16", "u32": the dtype's name in the schema.
std::string_view dtype_text(LaneDtype dtype);
// Element size in bytes.
std::size_t dtype_size(LaneDtype dtype);
// The dtype named by its schema text, if any.
std::optional<LaneDtype> dtype_from_text(std::string_view text);

// Slab lanes hold `elems_per_slab` elements in each slab; flat lanes hold `len` elements.
class LaneKind {
 public:
  enum class Tag : std::uint8_t { Slab, Flat };

  static constexpr LaneKind slab(std::uint64_t elems_per_slab) {
    return {Tag::Slab, elems_per_slab};
  }
  static constexpr LaneKind flat(std::uint64_t len) { return {Tag::Flat, len}; }

  [[nodiscard]] constexpr Tag tag() const { return tag_; }
  [[nodiscard]] constexpr bool is_slab() const { return tag_ == Tag::Slab; }
  [[nodiscard]] constexpr bool is_flat() const { return tag_ == Tag::Flat; }
  // elems_per_slab for a slab lane, len for a flat lane.
  [[nodiscard]] constexpr std::uint64_t count() const { return count_; }
  [[nodiscard]] std::uint64_t elems_per_slab() const {
    require(is_slab(), "elems_per_slab of a flat lane");
    return count_;
  }
  [[nodiscard]] std::uint64_t len() const {
    require(is_flat(), "len of a slab lane");
    return count_;
  }

  friend bool operator==(const LaneKind&, const LaneKind&) = default;

 private:
  constexpr LaneKind(Tag tag, std::uint64_t count) : tag_(tag), count_(count) {}

  Tag tag_;
  std::uint64_t count_;
};

struct LaneSpec {
  std::string name;
  LaneDtype dtype = LaneDtype::F32;
  LaneKind kind = LaneKind::flat(0);

  friend bool operator==(const LaneSpec&, const LaneSpec&) = default;
};

struct StoreSchema {
  // Number of slabs, shared by every slab lane.
  std::uint64_t nslabs = 0;
  // In file order.
  std::vector<LaneSpec> lanes;
  // The application's value as JSON text. The writer stores it compactly with object keys in
  // ascending byte order, and a reader returns it in that form.
  std::string app_json = "null";

  friend bool operator==(const StoreSchema&, const StoreSchema&) = default;
};

}  // namespace zorvatools::store
