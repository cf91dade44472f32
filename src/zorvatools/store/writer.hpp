#pragma once
// Writes a store once: created at its full size, filled by positioned writes of whole slabs and
// lanes (or through mutable views of a mapping of it), then sealed and flushed by finalize().

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/store/file_mapping.hpp"
#include "zorvatools/store/lane_access.hpp"
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

  // Writes one whole slab of a slab lane, or one whole flat lane, with positioned writes that hand
  // the bytes straight to the page cache: no page of the file is mapped or faulted in.
  // `values` must hold exactly the slab's or the lane's elements. A failed write is an Io error
  // naming the store, after which finalize() refuses to seal it.
  AlgoResult<void> write_slab_f32(std::string_view lane, std::uint64_t slab,
                                  std::span<const float> values);
  AlgoResult<void> write_slab_f64(std::string_view lane, std::uint64_t slab,
                                  std::span<const double> values);
  AlgoResult<void> write_slab_u16(std::string_view lane, std::uint64_t slab,
                                  std::span<const std::uint16_t> values);
  AlgoResult<void> write_slab_u32(std::string_view lane, std::uint64_t slab,
                                  std::span<const std::uint32_t> values);
  // Writes `values` as elements [first, first + values.size()) of slab `slab` of an f32 slab
  // lane: a slab handed over in pieces small enough to be filled and written while they are in
  // the processor's cache.
  AlgoResult<void> write_slab_part_f32(std::string_view lane, std::uint64_t slab,
                                       std::uint64_t first, std::span<const float> values);
  // The same for elements [first, first + values.size()) of an f64 flat lane.
  AlgoResult<void> write_flat_part_f64(std::string_view lane, std::uint64_t first,
                                       std::span<const double> values);
  AlgoResult<void> write_flat_f32(std::string_view lane, std::span<const float> values);
  AlgoResult<void> write_flat_f64(std::string_view lane, std::span<const double> values);
  AlgoResult<void> write_flat_u16(std::string_view lane, std::span<const std::uint16_t> values);
  AlgoResult<void> write_flat_u32(std::string_view lane, std::span<const std::uint32_t> values);

  // `count` elements of a buffer the writer owns and reuses for every call, to be filled and
  // handed to write_slab_* / write_flat_*: a store written slab by slab allocates once. The
  // contents are unspecified; the view stays valid until the next call or until the writer goes.
  template <class T>
  std::span<T> buffer(std::size_t count) {
    static_assert(std::is_arithmetic_v<T> && alignof(T) <= alignof(std::max_align_t));
    return {reinterpret_cast<T*>(buffer_bytes(count, sizeof(T))), count};
  }

  // Mutable views into a shared mapping of the file, made at the first call. Each stays valid
  // until finalize() or the writer is dropped; hold one at a time.
  AlgoResult<std::span<float>> slab_mut_f32(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<double>> slab_mut_f64(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<std::uint16_t>> slab_mut_u16(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<std::uint32_t>> slab_mut_u32(std::string_view lane, std::uint64_t slab);
  AlgoResult<std::span<float>> flat_mut_f32(std::string_view lane);
  AlgoResult<std::span<double>> flat_mut_f64(std::string_view lane);
  AlgoResult<std::span<std::uint16_t>> flat_mut_u16(std::string_view lane);
  AlgoResult<std::span<std::uint32_t>> flat_mut_u32(std::string_view lane);

  // Writes the end-of-store seal and, unless told to skip it, waits until every byte written
  // reaches the disk; the mapping and the file are released whether or not that succeeds. Without
  // it the file has no seal and does not open. A store one of whose writes failed is not sealed.
  AlgoResult<void> finalize(Flush flush = Flush::Synchronous) &&;

  // The schema as written: its app value in canonical form.
  [[nodiscard]] const StoreSchema& schema() const { return schema_; }
  [[nodiscard]] const Layout& layout() const { return layout_; }

 private:
  StoreWriter(std::filesystem::path path, StoreSchema schema, Layout layout, UniqueFd fd)
      : path_(std::move(path)),
        schema_(std::move(schema)),
        layout_(std::move(layout)),
        fd_(std::move(fd)) {}

  template <class T>
  AlgoResult<std::span<T>> slab_mut(std::string_view lane, std::uint64_t slab);
  template <class T>
  AlgoResult<std::span<T>> flat_mut(std::string_view lane);
  template <class T>
  AlgoResult<void> write_slab(std::string_view lane, std::uint64_t slab, std::span<const T> values);
  template <class T>
  AlgoResult<void> write_slab_part(std::string_view lane, std::uint64_t slab, std::uint64_t first,
                                   std::span<const T> values);
  template <class T>
  AlgoResult<void> write_flat(std::string_view lane, std::span<const T> values);
  // Writes `values` at element `first` of the lane's bytes `range`.
  template <class T>
  AlgoResult<void> write_part(std::string_view lane, ByteRange range, std::uint64_t first,
                              std::span<const T> values);

  // Writes `bytes` at `offset`; a failure names the store and poisons the writer.
  AlgoResult<void> write_bytes(std::span<const std::byte> bytes, std::uint64_t offset);
  // The whole file mapped, made at the first call.
  AlgoResult<std::span<std::byte>> mapped();
  // At least count × size bytes of the reusable buffer, grown when too small.
  std::byte* buffer_bytes(std::size_t count, std::size_t size);

  std::filesystem::path path_;
  StoreSchema schema_;
  Layout layout_;
  UniqueFd fd_;
  FileMapping mapping_;
  std::unique_ptr<std::byte[]> buffer_;
  std::size_t buffer_capacity_ = 0;
  bool write_failed_ = false;
};

}  // namespace zorvatools::store
