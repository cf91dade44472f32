#pragma once
// Reading the bit-exact random-stream reference vectors in tests/cpp/data/rng.

#include <bit>
#include <cstdint>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace zorvatools::rng_vectors {

inline nlohmann::json load(const std::string& file) {
  std::ifstream in(std::string(ZV_TEST_DATA_DIR) + "/rng/" + file);
  if (!in) ADD_FAILURE() << "cannot open reference vectors " << file;
  return nlohmann::json::parse(in);
}

// Hex words and bit patterns are strings; decimal seeds and large bounds too.
inline std::uint64_t hex(const nlohmann::json& text) {
  return std::stoull(text.get<std::string>(), nullptr, 16);
}
inline std::uint64_t decimal(const nlohmann::json& text) {
  return std::stoull(text.get<std::string>(), nullptr, 10);
}
inline double bits(const nlohmann::json& text) {
  return std::bit_cast<double>(hex(text));
}

}  // namespace zorvatools::rng_vectors
