#include "zorvastatic/volumetrics/zone_report.hpp"

#include "zorvatools/text/json_writer.hpp"

namespace zorvastatic {

std::string zoned_in_place_json(const ZonedInPlace& zoned, double boi) {
  zorvatools::JsonWriter json(128 + 96 * zoned.zones.size());
  auto volumes = [&](const InPlace& in_place) {
    json.member("grv_m3", in_place.grv_m3)
        .member("hcpv_m3", in_place.hcpv_m3)
        .member("ooip_sm3", in_place.hcpv_m3 / boi);
  };
  json.begin_object().key("total").begin_object();
  volumes(zoned.total);
  json.end_object().key("zones").begin_array();
  for (const ZoneInPlace& zone : zoned.zones) {
    json.begin_object();
    volumes(zone.in_place);
    json.member("zone", zone.zone).end_object();
  }
  json.end_array().end_object();
  return std::move(json).str();
}

}  // namespace zorvastatic
