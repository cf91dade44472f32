#pragma once
// Named property cubes, one value per cell in linear-index order.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "zorvastatic/error.hpp"

namespace zorvastatic {

struct Property {
  std::string name;
  std::vector<double> values;
};

class Properties {
 public:
  explicit Properties(std::size_t cell_count = 0) : cell_count_(cell_count) {}

  [[nodiscard]] std::size_t cell_count() const { return cell_count_; }
  [[nodiscard]] std::size_t size() const { return cubes_.size(); }

  // The cube of that name, or nullptr.
  [[nodiscard]] const Property* get(const std::string& name) const;
  // Inserts under the property's own name, replacing any cube of that name. Fails, dropping
  // the offered cube and leaving the map unchanged, when the value count is not the cell count.
  Status set(Property property);
  // Removes the cube and returns its values; an absent name gives an empty array.
  std::vector<double> take_values(const std::string& name);

  // Names in ascending byte order (the map itself has no order).
  [[nodiscard]] std::vector<std::string> sorted_names() const;
  [[nodiscard]] const std::unordered_map<std::string, Property>& cubes() const { return cubes_; }

 private:
  std::size_t cell_count_;
  std::unordered_map<std::string, Property> cubes_;
};

}  // namespace zorvastatic
