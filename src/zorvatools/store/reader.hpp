#pragma once
// Reads a finished store: the file mapped read-only, header, schema and seal checked before any
// view is handed out.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/store/file_mapping.hpp"
#include "zorvatools/store/layout.hpp"
#include "zorvatools/store/schema.hpp"

namespace zorvatools::store {

// The newest format version this build reads.
inline constexpr std::uint8_t kMaxReadableVersion = 1;

class Store {
 public:
  // Read-only views into the mapping; each lives as long as the Store.
  AlgoResult<std::span<const float>> slab_f32(std::string_view lane, std::uint64_t slab) const;
  AlgoResult<std::span<const double>> slab_f64(std::string_view lane, std::uint64_t slab) const;
  AlgoResult<std::span<const std::uint16_t>> slab_u16(std::string_view lane,
                                                      std::uint64_t slab) const;
  AlgoResult<std::span<const std::uint32_t>> slab_u32(std::string_view lane,
                                                      std::uint64_t slab) const;
  AlgoResult<std::span<const float>> flat_f32(std::string_view lane) const;
  AlgoResult<std::span<const double>> flat_f64(std::string_view lane) const;
  AlgoResult<std::span<const std::uint16_t>> flat_u16(std::string_view lane) const;
  AlgoResult<std::span<const std::uint32_t>> flat_u32(std::string_view lane) const;

  [[nodiscard]] const StoreSchema& schema() const { return schema_; }
  [[nodiscard]] const Layout& layout() const { return layout_; }
  // Maps the whole file's pages at once (see FileMapping::map_cached_pages).
  void map_cached_pages() const { mapping_.map_cached_pages(); }
  // The whole mapped file.
  [[nodiscard]] std::span<const std::byte> file_bytes() const { return mapping_.bytes(); }

 private:
  friend AlgoResult<Store> open(const std::filesystem::path& path);

  Store(StoreSchema schema, Layout layout, FileMapping mapping)
      : schema_(std::move(schema)), layout_(std::move(layout)), mapping_(std::move(mapping)) {}

  template <class T>
  AlgoResult<std::span<const T>> slab(std::string_view lane, std::uint64_t slab) const;
  template <class T>
  AlgoResult<std::span<const T>> flat(std::string_view lane) const;

  StoreSchema schema_;
  Layout layout_;
  FileMapping mapping_;
};

// Opens, maps and checks the store at `path`. Anything wrong with the bytes is a Parse error;
// failures of the system calls are Io errors.
AlgoResult<Store> open(const std::filesystem::path& path);

}  // namespace zorvatools::store
