#include "zorvatools/store/schema_json.hpp"

#include "zorvatools/foundation/try.hpp"
#include "zorvatools/store/strict_json.hpp"
#include "zorvatools/text/json_writer.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvatools::store {
namespace {

using nlohmann::json;

std::string_view count_key(const LaneKind& kind) {
  return kind.is_slab() ? "elems_per_slab" : "len";
}

std::string canonical_text(const json& value) {
  JsonWriter out;
  write_canonical_json(value, out);
  return std::move(out).str();
}

// `where` names the object in messages: "store schema" or "store schema lane {index}".
AlgoResult<const json*> member(const json& object, std::string_view key, std::string_view where) {
  const auto found = object.find(key);
  if (found == object.end()) {
    return std::unexpected(AlgoError::parse(str_cat(where, " is missing \"", key, "\"")));
  }
  return &*found;
}

AlgoResult<std::uint64_t> unsigned_member(const json& object, std::string_view key,
                                          std::string_view where) {
  ZV_ASSIGN_OR_RETURN(const json* value, member(object, key, where));
  // Negative numbers, fractions and integers beyond 64 bits parse as other number types.
  if (!value->is_number_unsigned()) {
    return std::unexpected(
        AlgoError::parse(str_cat(where, " \"", key, "\" is not an unsigned 64-bit integer")));
  }
  return value->get<std::uint64_t>();
}

AlgoResult<const std::string*> string_member(const json& object, std::string_view key,
                                             std::string_view where) {
  ZV_ASSIGN_OR_RETURN(const json* value, member(object, key, where));
  if (!value->is_string()) {
    return std::unexpected(AlgoError::parse(str_cat(where, " \"", key, "\" is not a string")));
  }
  return &value->get_ref<const std::string&>();
}

AlgoResult<LaneSpec> read_lane(const json& object, std::size_t index) {
  const std::string where = str_cat("store schema lane ", index);
  if (!object.is_object()) {
    return std::unexpected(AlgoError::parse(where + " is not an object"));
  }
  LaneSpec lane;
  ZV_ASSIGN_OR_RETURN(const std::string* name, string_member(object, "name", where));
  lane.name = *name;
  ZV_ASSIGN_OR_RETURN(const std::string* dtype, string_member(object, "dtype", where));
  const std::optional<LaneDtype> parsed_dtype = dtype_from_text(*dtype);
  if (!parsed_dtype) {
    return std::unexpected(
        AlgoError::parse(where + " \"dtype\" is not one of \"f32\", \"f64\", \"u16\", \"u32\""));
  }
  lane.dtype = *parsed_dtype;
  ZV_ASSIGN_OR_RETURN(const std::string* kind, string_member(object, "kind", where));
  if (*kind == "slab") {
    ZV_ASSIGN_OR_RETURN(const std::uint64_t count,
                        unsigned_member(object, "elems_per_slab", where));
    lane.kind = LaneKind::slab(count);
  } else if (*kind == "flat") {
    ZV_ASSIGN_OR_RETURN(const std::uint64_t count, unsigned_member(object, "len", where));
    lane.kind = LaneKind::flat(count);
  } else {
    return std::unexpected(AlgoError::parse(where + " \"kind\" is not \"slab\" or \"flat\""));
  }
  return lane;
}

}  // namespace

std::string write_schema_json(const StoreSchema& schema) {
  JsonWriter out;
  out.begin_object().member("nslabs", schema.nslabs).key("lanes").begin_array();
  for (const LaneSpec& lane : schema.lanes) {
    out.begin_object()
        .member("name", std::string_view(lane.name))
        .member("dtype", dtype_text(lane.dtype))
        .member("kind", std::string_view(lane.kind.is_slab() ? "slab" : "flat"))
        .member(count_key(lane.kind), lane.kind.count())
        .end_object();
  }
  out.end_array().key("app").raw(schema.app_json).end_object();
  return std::move(out).str();
}

AlgoResult<StoreSchema> read_schema_json(std::string_view text) {
  ZV_ASSIGN_OR_RETURN(const json document, parse_strict_json(text));
  constexpr std::string_view kWhere = "store schema";
  if (!document.is_object()) {
    return std::unexpected(AlgoError::parse("store schema is not a JSON object"));
  }
  StoreSchema schema;
  ZV_ASSIGN_OR_RETURN(schema.nslabs, unsigned_member(document, "nslabs", kWhere));
  ZV_ASSIGN_OR_RETURN(const json* lanes, member(document, "lanes", kWhere));
  if (!lanes->is_array()) {
    return std::unexpected(AlgoError::parse("store schema \"lanes\" is not an array"));
  }
  schema.lanes.reserve(lanes->size());
  for (std::size_t index = 0; index < lanes->size(); ++index) {
    ZV_ASSIGN_OR_RETURN(LaneSpec lane, read_lane((*lanes)[index], index));
    schema.lanes.push_back(std::move(lane));
  }
  ZV_ASSIGN_OR_RETURN(const json* app, member(document, "app", kWhere));
  schema.app_json = canonical_text(*app);
  return schema;
}

AlgoResult<std::string> canonical_json(std::string_view text) {
  ZV_ASSIGN_OR_RETURN(const json value, parse_strict_json(text));
  return canonical_text(value);
}

}  // namespace zorvatools::store
