#include "zorvatools/store/reader.hpp"

#include <fcntl.h>

#include <cstring>
#include <string>
#include <string_view>

#include "zorvatools/foundation/try.hpp"
#include "zorvatools/store/lane_access.hpp"
#include "zorvatools/store/schema_json.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvatools::store {
namespace {

struct Header {
  std::string_view schema_json;
};

// Steps 2 to 5 of opening: length, magic, version, schema length.
AlgoResult<Header> read_header(std::span<const std::byte> file) {
  if (file.size() < kHeaderBytes) {
    return std::unexpected(AlgoError::parse("not a zorvaTools store (truncated header)"));
  }
  if (std::memcmp(file.data(), kStoreMagic.data(), kStoreMagic.size()) != 0) {
    return std::unexpected(AlgoError::parse("not a zorvaTools store (bad magic)"));
  }
  const auto version = std::to_integer<unsigned>(file[3]);
  if (version > kMaxReadableVersion) {
    return std::unexpected(AlgoError::parse(
        str_cat("unsupported store format version ", version, " (this build reads ≤ ",
                unsigned{kMaxReadableVersion}, ") — re-write with a newer writer")));
  }
  const std::uint64_t schema_len = load_u32_le(file.data() + 4);
  if (file.size() - kHeaderBytes < schema_len) {
    return std::unexpected(AlgoError::parse("store header truncated"));
  }
  return Header{std::string_view(reinterpret_cast<const char*>(file.data()) + kHeaderBytes,
                                 static_cast<std::size_t>(schema_len))};
}

}  // namespace

AlgoResult<Store> open(const std::filesystem::path& path) {
  FileMapping mapping;
  {
    // Non-blocking so that a FIFO at the path cannot stall the open; no effect on files.
    ZV_ASSIGN_OR_RETURN(const UniqueFd fd, open_file(path, O_RDONLY | O_NONBLOCK));
    ZV_ASSIGN_OR_RETURN(const std::uint64_t length, file_length(fd.get()));
    ZV_ASSIGN_OR_RETURN(mapping, FileMapping::map(fd.get(), length, FileMapping::Access::ReadOnly));
  }
  const std::span<const std::byte> file = mapping.bytes();
  ZV_ASSIGN_OR_RETURN(const Header header, read_header(file));
  ZV_ASSIGN_OR_RETURN(StoreSchema schema, read_schema_json(header.schema_json));
  std::optional<Layout> layout = Layout::compute(schema, header.schema_json.size());
  if (!layout) return std::unexpected(AlgoError::parse(std::string(kLaneSizesOverflow)));
  ZV_TRY(Layout::verify_seal(*layout, file, schema.nslabs));
  return Store(std::move(schema), std::move(*layout), std::move(mapping));
}

template <class T>
AlgoResult<std::span<const T>> Store::slab(std::string_view lane, std::uint64_t slab) const {
  ZV_ASSIGN_OR_RETURN(const std::span<std::byte> bytes,
                      slab_bytes(schema_, layout_, mapping_.bytes(), lane, slab, lane_dtype_of<T>(),
                                 ViewUse::Read));
  return as_elements<const T>(bytes);
}

template <class T>
AlgoResult<std::span<const T>> Store::flat(std::string_view lane) const {
  ZV_ASSIGN_OR_RETURN(const std::span<std::byte> bytes,
                      flat_bytes(schema_, layout_, mapping_.bytes(), lane, lane_dtype_of<T>()));
  return as_elements<const T>(bytes);
}

AlgoResult<std::span<const float>> Store::slab_f32(std::string_view lane,
                                                   std::uint64_t slab) const {
  return this->slab<float>(lane, slab);
}
AlgoResult<std::span<const double>> Store::slab_f64(std::string_view lane,
                                                    std::uint64_t slab) const {
  return this->slab<double>(lane, slab);
}
AlgoResult<std::span<const std::uint16_t>> Store::slab_u16(std::string_view lane,
                                                           std::uint64_t slab) const {
  return this->slab<std::uint16_t>(lane, slab);
}
AlgoResult<std::span<const std::uint32_t>> Store::slab_u32(std::string_view lane,
                                                           std::uint64_t slab) const {
  return this->slab<std::uint32_t>(lane, slab);
}
AlgoResult<std::span<const float>> Store::flat_f32(std::string_view lane) const {
  return flat<float>(lane);
}
AlgoResult<std::span<const double>> Store::flat_f64(std::string_view lane) const {
  return flat<double>(lane);
}
AlgoResult<std::span<const std::uint16_t>> Store::flat_u16(std::string_view lane) const {
  return flat<std::uint16_t>(lane);
}
AlgoResult<std::span<const std::uint32_t>> Store::flat_u32(std::string_view lane) const {
  return flat<std::uint32_t>(lane);
}

}  // namespace zorvatools::store
