#pragma once
// Scratch directories and raw file bytes for the store tests.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "zorvatools/store/layout.hpp"
#include "zorvatools/store/schema_json.hpp"

namespace zorvatools::store::testing_support {

using Bytes = std::vector<std::byte>;

// A fresh directory under the test temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "/zv-store-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::filesystem::path file(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes bytes(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = static_cast<std::byte>(text[i]);
  return bytes;
}

inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void append_text(Bytes& bytes, std::string_view text) {
  for (char ch : text) bytes.push_back(static_cast<std::byte>(ch));
}

// A store file built by hand around `schema_text`: header with `version`, the text, and, when
// the text reads as a schema whose file is at most `max_len` bytes, zero lanes and a correct seal;
// otherwise `tail` zero bytes after the text.
inline Bytes craft_store(std::string_view schema_text, std::uint8_t version = 1,
                         std::uint64_t max_len = 1 << 20, std::size_t tail = 64) {
  Bytes bytes;
  append_text(bytes, "ZTS");
  bytes.push_back(std::byte{version});
  bytes.resize(8);
  store_u32_le(bytes.data() + 4, static_cast<std::uint32_t>(schema_text.size()));
  append_text(bytes, schema_text);
  const auto schema = read_schema_json(schema_text);
  const auto layout = schema ? Layout::compute(*schema, schema_text.size()) : std::nullopt;
  if (layout && layout->file_len <= max_len) {
    bytes.resize(layout->file_len);
    std::byte* seal = bytes.data() + layout->seal_offset;
    for (std::size_t i = 0; i < kSealMagic.size(); ++i) seal[i] = std::byte(kSealMagic[i]);
    store_u64_le(seal + 4, schema->nslabs);
    store_u64_le(seal + 12, layout->data_end);
  } else {
    bytes.resize(bytes.size() + tail);
  }
  return bytes;
}

}  // namespace zorvatools::store::testing_support
