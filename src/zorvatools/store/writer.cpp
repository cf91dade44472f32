#include "zorvatools/store/writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/store/lane_access.hpp"
#include "zorvatools/store/schema_json.hpp"
#include "zorvatools/store/utf8.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvatools::store {
namespace {

AlgoResult<void> validate(const StoreSchema& schema) {
  if (schema.nslabs == 0) {
    return std::unexpected(AlgoError::invalid_argument("store nslabs must be > 0"));
  }
  std::unordered_set<std::string_view> names;
  for (std::size_t index = 0; index < schema.lanes.size(); ++index) {
    const LaneSpec& lane = schema.lanes[index];
    if (lane.name.empty()) {
      return std::unexpected(
          AlgoError::invalid_argument(str_cat("store lane ", index, " has an empty name")));
    }
    // The schema is UTF-8 JSON: a name that is not UTF-8 would make a file no reader accepts.
    if (!is_valid_utf8(lane.name)) {
      return std::unexpected(
          AlgoError::invalid_argument(str_cat("store lane ", index, " name is not valid UTF-8")));
    }
    if (lane.kind.count() == 0) {
      return std::unexpected(
          AlgoError::invalid_argument(str_cat("store lane '", lane.name, "' has zero elements")));
    }
    if (!names.insert(lane.name).second) {
      return std::unexpected(
          AlgoError::invalid_argument(str_cat("store lane name '", lane.name, "' is not unique")));
    }
  }
  return {};
}

// What a schema becomes on disk: the schema with its app value in canonical form, its JSON and
// the layout behind it.
struct Plan {
  StoreSchema schema;
  std::string json;
  Layout layout;
};

AlgoResult<Plan> plan_store(StoreSchema schema) {
  ZV_TRY(validate(schema));
  auto app = canonical_json(schema.app_json);
  if (!app) {
    return std::unexpected(
        AlgoError::invalid_argument("store app value is not valid JSON: " + app.error().text()));
  }
  schema.app_json = std::move(*app);
  std::string json = write_schema_json(schema);
  // The header holds the schema length in 32 bits.
  if (json.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(AlgoError::invalid_argument(
        str_cat("store schema JSON of ", json.size(), " bytes exceeds 4294967295 bytes")));
  }
  std::optional<Layout> layout = Layout::compute(schema, json.size());
  if (!layout) return std::unexpected(AlgoError::invalid_argument(std::string(kLaneSizesOverflow)));
  return Plan{std::move(schema), std::move(json), std::move(*layout)};
}

AlgoError no_room(const std::filesystem::path& path, std::uint64_t needed, std::uint64_t free) {
  const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : ".";
  return AlgoError::io(ENOSPC, str_cat("store in ", directory.string(), " needs ", needed,
                                       " bytes, ", free, " bytes free"));
}

// Reserves every byte of the freshly truncated file. The free space is checked first so that a
// store that cannot fit says where and by how much.
AlgoResult<void> reserve(int fd, const std::filesystem::path& path, std::uint64_t file_len) {
  ZV_ASSIGN_OR_RETURN(const std::uint64_t free, free_bytes(fd));
  if (free < file_len) return std::unexpected(no_room(path, file_len, free));
  if (auto reserved = reserve_file_space(fd, file_len); !reserved) {
    if (reserved.error().os_code() != ENOSPC) return std::unexpected(reserved.error());
    // Another writer took the space between the check and the reservation.
    return std::unexpected(no_room(path, file_len, free_bytes(fd).value_or(0)));
  }
  ZV_ASSIGN_OR_RETURN(const std::uint64_t length, file_length(fd));
  // Only a concurrent truncation could make the file shorter than it was just sized.
  if (length < file_len) return std::unexpected(AlgoError::io(EIO));
  return {};
}

// Magic, version, schema length and schema JSON.
std::vector<std::byte> header_bytes(std::string_view schema_json) {
  std::vector<std::byte> header(kHeaderBytes + schema_json.size());
  std::memcpy(header.data(), kStoreMagic.data(), kStoreMagic.size());
  header[3] = std::byte{kStoreVersion};
  store_u32_le(header.data() + 4, static_cast<std::uint32_t>(schema_json.size()));
  std::memcpy(header.data() + kHeaderBytes, schema_json.data(), schema_json.size());
  return header;
}

// A failed write of the store at `path`, said with the system's error.
AlgoError write_failure(const std::filesystem::path& path, const AlgoError& error) {
  return AlgoError::io(error.os_code(), str_cat("writing store ", path.string()));
}

AlgoResult<void> check_value_count(std::string_view lane, std::size_t values,
                                   std::uint64_t elements) {
  if (values == elements) return {};
  return std::unexpected(AlgoError::invalid_argument(
      str_cat("lane '", lane, "': ", values, " values given for its ", elements, " elements")));
}

}  // namespace

AlgoResult<std::uint64_t> StoreWriter::file_len(const StoreSchema& schema) {
  ZV_ASSIGN_OR_RETURN(const Plan plan, plan_store(schema));
  return plan.layout.file_len;
}

AlgoResult<StoreWriter> StoreWriter::create(const std::filesystem::path& path, StoreSchema schema) {
  ZV_ASSIGN_OR_RETURN(Plan plan, plan_store(std::move(schema)));
  ZV_ASSIGN_OR_RETURN(UniqueFd fd, open_file(path, O_RDWR | O_CREAT | O_TRUNC, 0600));
  auto started = reserve(fd.get(), path, plan.layout.file_len);
  if (started) {
    if (auto header = write_at(fd.get(), header_bytes(plan.json), 0); !header) {
      started = std::unexpected(write_failure(path, header.error()));
    }
  }
  if (!started) {
    // A store that could not be made leaves no file behind.
    ::unlink(path.c_str());
    return std::unexpected(started.error());
  }
  return StoreWriter(path, std::move(plan.schema), std::move(plan.layout), std::move(fd));
}

AlgoResult<void> StoreWriter::write_bytes(std::span<const std::byte> bytes, std::uint64_t offset) {
  auto written = write_at(fd_.get(), bytes, offset);
  if (written) return {};
  write_failed_ = true;
  return std::unexpected(write_failure(path_, written.error()));
}

AlgoResult<std::span<std::byte>> StoreWriter::mapped() {
  if (mapping_.size() == 0) {
    ZV_ASSIGN_OR_RETURN(
        mapping_, FileMapping::map(fd_.get(), layout_.file_len, FileMapping::Access::ReadWrite));
    mapping_.advise_no_read_ahead();
  }
  return mapping_.bytes();
}

std::byte* StoreWriter::buffer_bytes(std::size_t count, std::size_t size) {
  std::size_t bytes = 0;
  require(!__builtin_mul_overflow(count, size, &bytes), "store writer buffer size overflows");
  if (bytes > buffer_capacity_) {
    buffer_ = std::make_unique_for_overwrite<std::byte[]>(bytes);
    buffer_capacity_ = bytes;
  }
  return buffer_.get();
}

template <class T>
AlgoResult<void> StoreWriter::write_slab(std::string_view lane, std::uint64_t slab,
                                         std::span<const T> values) {
  ZV_ASSIGN_OR_RETURN(const ByteRange range,
                      slab_range(schema_, layout_, lane, slab, lane_dtype_of<T>(), ViewUse::Write));
  ZV_TRY(check_value_count(lane, values.size(), range.byte_len / sizeof(T)));
  return write_bytes(std::as_bytes(values), range.offset);
}

template <class T>
AlgoResult<void> StoreWriter::write_part(std::string_view lane, ByteRange range,
                                         std::uint64_t first, std::span<const T> values) {
  const std::uint64_t elements = range.byte_len / sizeof(T);
  if (first > elements || values.size() > elements - first) {
    return std::unexpected(AlgoError::invalid_argument(
        str_cat("lane '", lane, "': ", values.size(), " values at element ", first,
                " run past its ", elements, " elements")));
  }
  return write_bytes(std::as_bytes(values), range.offset + first * sizeof(T));
}

template <class T>
AlgoResult<void> StoreWriter::write_slab_part(std::string_view lane, std::uint64_t slab,
                                              std::uint64_t first, std::span<const T> values) {
  ZV_ASSIGN_OR_RETURN(const ByteRange range,
                      slab_range(schema_, layout_, lane, slab, lane_dtype_of<T>(), ViewUse::Write));
  return write_part(lane, range, first, values);
}

template <class T>
AlgoResult<void> StoreWriter::write_flat(std::string_view lane, std::span<const T> values) {
  ZV_ASSIGN_OR_RETURN(const ByteRange range,
                      flat_range(schema_, layout_, lane, lane_dtype_of<T>()));
  ZV_TRY(check_value_count(lane, values.size(), range.byte_len / sizeof(T)));
  return write_bytes(std::as_bytes(values), range.offset);
}

AlgoResult<void> StoreWriter::write_slab_f32(std::string_view lane, std::uint64_t slab,
                                             std::span<const float> values) {
  return write_slab(lane, slab, values);
}
AlgoResult<void> StoreWriter::write_slab_f64(std::string_view lane, std::uint64_t slab,
                                             std::span<const double> values) {
  return write_slab(lane, slab, values);
}
AlgoResult<void> StoreWriter::write_slab_u16(std::string_view lane, std::uint64_t slab,
                                             std::span<const std::uint16_t> values) {
  return write_slab(lane, slab, values);
}
AlgoResult<void> StoreWriter::write_slab_u32(std::string_view lane, std::uint64_t slab,
                                             std::span<const std::uint32_t> values) {
  return write_slab(lane, slab, values);
}
AlgoResult<void> StoreWriter::write_slab_part_f32(std::string_view lane, std::uint64_t slab,
                                                  std::uint64_t first,
                                                  std::span<const float> values) {
  return write_slab_part(lane, slab, first, values);
}
AlgoResult<void> StoreWriter::write_flat_part_f64(std::string_view lane, std::uint64_t first,
                                                  std::span<const double> values) {
  ZV_ASSIGN_OR_RETURN(const ByteRange range,
                      flat_range(schema_, layout_, lane, lane_dtype_of<double>()));
  return write_part(lane, range, first, values);
}
AlgoResult<void> StoreWriter::write_flat_f32(std::string_view lane, std::span<const float> values) {
  return write_flat(lane, values);
}
AlgoResult<void> StoreWriter::write_flat_f64(std::string_view lane,
                                             std::span<const double> values) {
  return write_flat(lane, values);
}
AlgoResult<void> StoreWriter::write_flat_u16(std::string_view lane,
                                             std::span<const std::uint16_t> values) {
  return write_flat(lane, values);
}
AlgoResult<void> StoreWriter::write_flat_u32(std::string_view lane,
                                             std::span<const std::uint32_t> values) {
  return write_flat(lane, values);
}

template <class T>
AlgoResult<std::span<T>> StoreWriter::slab_mut(std::string_view lane, std::uint64_t slab) {
  // The lane is checked before the file is mapped: a wrong name maps nothing.
  ZV_TRY(slab_range(schema_, layout_, lane, slab, lane_dtype_of<T>(), ViewUse::Write));
  ZV_ASSIGN_OR_RETURN(const std::span<std::byte> file, mapped());
  ZV_ASSIGN_OR_RETURN(
      const std::span<std::byte> bytes,
      slab_bytes(schema_, layout_, file, lane, slab, lane_dtype_of<T>(), ViewUse::Write));
  return as_elements<T>(bytes);
}

template <class T>
AlgoResult<std::span<T>> StoreWriter::flat_mut(std::string_view lane) {
  ZV_TRY(flat_range(schema_, layout_, lane, lane_dtype_of<T>()));
  ZV_ASSIGN_OR_RETURN(const std::span<std::byte> file, mapped());
  ZV_ASSIGN_OR_RETURN(const std::span<std::byte> bytes,
                      flat_bytes(schema_, layout_, file, lane, lane_dtype_of<T>()));
  return as_elements<T>(bytes);
}

AlgoResult<std::span<float>> StoreWriter::slab_mut_f32(std::string_view lane, std::uint64_t slab) {
  return slab_mut<float>(lane, slab);
}
AlgoResult<std::span<double>> StoreWriter::slab_mut_f64(std::string_view lane, std::uint64_t slab) {
  return slab_mut<double>(lane, slab);
}
AlgoResult<std::span<std::uint16_t>> StoreWriter::slab_mut_u16(std::string_view lane,
                                                               std::uint64_t slab) {
  return slab_mut<std::uint16_t>(lane, slab);
}
AlgoResult<std::span<std::uint32_t>> StoreWriter::slab_mut_u32(std::string_view lane,
                                                               std::uint64_t slab) {
  return slab_mut<std::uint32_t>(lane, slab);
}
AlgoResult<std::span<float>> StoreWriter::flat_mut_f32(std::string_view lane) {
  return flat_mut<float>(lane);
}
AlgoResult<std::span<double>> StoreWriter::flat_mut_f64(std::string_view lane) {
  return flat_mut<double>(lane);
}
AlgoResult<std::span<std::uint16_t>> StoreWriter::flat_mut_u16(std::string_view lane) {
  return flat_mut<std::uint16_t>(lane);
}
AlgoResult<std::span<std::uint32_t>> StoreWriter::flat_mut_u32(std::string_view lane) {
  return flat_mut<std::uint32_t>(lane);
}

AlgoResult<void> StoreWriter::finalize(Flush flush) && {
  // Owned here so that the mapping and the file are released on every path out.
  const FileMapping mapping = std::move(mapping_);
  const UniqueFd fd = std::move(fd_);
  require(fd.get() >= 0, "store writer finalised twice");
  if (write_failed_) {
    return std::unexpected(
        AlgoError::io(EIO, str_cat("store ", path_.string(), " not sealed: a write to it failed")));
  }
  std::byte seal[kSealBytes];
  std::memcpy(seal, kSealMagic.data(), kSealMagic.size());
  store_u64_le(seal + 4, schema_.nslabs);
  store_u64_le(seal + 12, layout_.data_end);
  if (auto written = write_at(fd.get(), seal, layout_.seal_offset); !written) {
    return std::unexpected(write_failure(path_, written.error()));
  }
  if (flush == Flush::Skip) return {};
  // Pages written through the mapping are dirty in the page cache like those written by pwrite:
  // one flush of the file takes both.
  if (::fdatasync(fd.get()) != 0) {
    return std::unexpected(AlgoError::io(errno, str_cat("flushing store ", path_.string())));
  }
  return {};
}

}  // namespace zorvatools::store
