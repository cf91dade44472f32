#include "zorvastatic/model/layering_warnings.hpp"

namespace zorvastatic {

void add_layering_warnings(const LayeringReport& report, std::vector<BuildWarning>& warnings) {
  if (report.pinched_cells != 0) {
    warnings.push_back(BuildWarning::pinched_cells(report.pinched_cells));
  }
  if (report.collapsed_cells != 0) {
    warnings.push_back(BuildWarning::collapsed_cells(report.collapsed_cells));
  }
  if (report.capped) warnings.push_back(BuildWarning::layers_capped(report.grid.dims().nk));
}

}  // namespace zorvastatic
