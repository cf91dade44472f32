#include "zorvastatic/grid/property.hpp"

#include <algorithm>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

const Property* Properties::get(const std::string& name) const {
  auto found = cubes_.find(name);
  return found == cubes_.end() ? nullptr : &found->second;
}

Status Properties::set(Property property) {
  if (property.values.size() != cell_count_) {
    return std::unexpected(StaticError::invalid_input(
        zorvatools::str_cat("property '", property.name, "' has ", property.values.size(),
                            " values, expected ", cell_count_)));
  }
  std::string key = property.name;
  cubes_.insert_or_assign(std::move(key), std::move(property));
  return {};
}

std::vector<double> Properties::take_values(const std::string& name) {
  auto found = cubes_.find(name);
  if (found == cubes_.end()) return {};
  std::vector<double> values = std::move(found->second.values);
  cubes_.erase(found);
  return values;
}

std::vector<std::string> Properties::sorted_names() const {
  std::vector<std::string> names;
  names.reserve(cubes_.size());
  for (const auto& [name, cube] : cubes_) names.push_back(name);
  std::ranges::sort(names);
  return names;
}

}  // namespace zorvastatic
