#pragma once
// JSON reading for the store schema. Internal to zorvatools: nlohmann/json is linked privately,
// so only the library's own sources include this header.

#include <nlohmann/json.hpp>

#include <string_view>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/text/json_writer.hpp"

namespace zorvatools::store {

// Parses one JSON document; a key given twice in one object is an error. Failures are Parse
// errors: the reader's message followed by " at line {line} column {column}".
AlgoResult<nlohmann::json> parse_strict_json(std::string_view text);

// Writes `value` compactly with object keys in ascending byte order. Iterative, so that nesting
// of any depth from an untrusted file cannot exhaust the stack.
void write_canonical_json(const nlohmann::json& value, JsonWriter& out);

}  // namespace zorvatools::store
