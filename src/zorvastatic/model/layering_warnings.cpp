#include "zorvastatic/model/layering_warnings.hpp"

namespace zorvastatic {

namespace {

void add_warnings(std::size_t pinched, std::size_t collapsed, bool capped, std::size_t nk,
                  std::vector<BuildWarning>& warnings) {
  if (pinched != 0) warnings.push_back(BuildWarning::pinched_cells(pinched));
  if (collapsed != 0) warnings.push_back(BuildWarning::collapsed_cells(collapsed));
  if (capped) warnings.push_back(BuildWarning::layers_capped(nk));
}

}  // namespace

void add_layering_warnings(const LayeringReport& report, std::vector<BuildWarning>& warnings) {
  add_warnings(report.pinched_cells, report.collapsed_cells, report.capped,
               report.grid.dims().nk, warnings);
}

void add_layering_warnings(std::span<const StackedZone> zones, bool capped, std::size_t nk,
                           std::vector<BuildWarning>& warnings) {
  std::size_t pinched = 0;
  std::size_t collapsed = 0;
  for (const StackedZone& zone : zones) {
    pinched += zone.pinched_cells;
    collapsed += zone.collapsed_cells;
  }
  add_warnings(pinched, collapsed, capped, nk, warnings);
}

}  // namespace zorvastatic
