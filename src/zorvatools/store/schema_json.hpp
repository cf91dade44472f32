#pragma once
// The schema's JSON text at the head of a store file.

#include <string>
#include <string_view>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/store/schema.hpp"

namespace zorvatools::store {

// Compact JSON: {"nslabs":..,"lanes":[{"name":..,"dtype":..,"kind":..,"elems_per_slab"|"len":..}],
// "app":..}. `schema.app_json` is copied as it is; canonicalise it first.
std::string write_schema_json(const StoreSchema& schema);

// Reads a schema, ignoring unknown keys. Shape and syntax errors are Parse errors; the app value
// comes back in canonical form.
AlgoResult<StoreSchema> read_schema_json(std::string_view text);

// `text` as compact JSON with object keys in ascending byte order, or a Parse error.
AlgoResult<std::string> canonical_json(std::string_view text);

}  // namespace zorvatools::store
