#pragma once
// Writes a store once: created at its full size, filled through mutable views of the mapping,
// then sealed and flushed by finalize().

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/store/file_mapping.hpp"
#include "zorvatools/store/layout.hpp"
#include "zorvatools/store/schema.hpp"

namespace zorvatools::store {

class StoreWriter {
 public:
  // Whether finalize() waits for the data to reach the disk. A store that no process will read
  // after this one ends (it is removed when its user lets go) need not be written back at all.
  enum class Flush { Synchronous, Skip };

  // Validates the schema, creates or truncates the file (readable by its owner only), reserves
  // every byte of it on the file system, maps it and writes the header and schema. Lane bytes
  // start zero. A store that does not fit in the free space fails with an Io error (ENOSPC)
  // naming the directory, the bytes needed and the bytes free; a failed create leaves no file.
  static AlgoResult<StoreWriter> create(const std::filesystem::path& path, StoreSchema schema);

  // The length of the file `create` would make for `schema`, with the same checks.
  static AlgoResult<std::uint64_t> file_len(const StoreSchema& schema);

  // Mutable views into the mapping. Each stays valid until finalize() or the writer is dropped;
  // hold one at a time.
  AlgoResult<std::span<float>> slab_mut_f32(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<double>> slab_mut_f64(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<std::uint16_t>> slab_mut_u16(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<std::uint32_t>> slab_mut_u32(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<float>> flat_mut_f32(std::string_view lane);
  AlgoResult<std::span<double>> flat_mut_f64(std::string_view lane);
  AlgoResult<std::span<std::uint16_t>> flat_mut_u16(std::string_view lane);
  AlgoResult<std::span<std::uint32_t>> flat_mut_u32(std::string_view lane);

  // Writes the end-of-store seal and, unless told to skip it, flushes the mapping synchronously;
  // the mapping is released whether or not the flush succeeds. Without it the file has no seal
  // and does not open.
  AlgoResult<void> finalize(Flush flush = Flush::Synchronous) &&;

  // The schema as written: its app value in canonical form.
  [[nodiscard]] const StoreSchema& schema() const { return schema_; }
  [[nodiscard]] const Layout& layout() const { return layout_; }

 private:
  StoreWriter(StoreSchema schema, Layout layout, FileMapping mapping)
      : schema_(std::move(schema)), layout_(std::move(layout)), mapping_(std::move(mapping)) {}

  template <class T>
  AlgoResult<std::span<T>> slab_mut(std::string_view lane, std::uint64_t slab);
  template <class T>
  AlgoResult<std::span<T>> flat_mut(std::string_view lane);

  StoreSchema schema_;
  Layout layout_;
  FileMapping mapping_;
};

}  // namespace zorvatools::store
