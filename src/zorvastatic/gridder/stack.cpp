#include "zorvastatic/gridder/stack.hpp"

#include <cmath>

namespace zorvastatic {

StackHorizon StackHorizon::mapped(std::string name, std::vector<double> values, std::size_t ni,
                                  std::size_t nj) {
  std::vector<std::uint8_t> mask(values.size());
  for (std::size_t n = 0; n < values.size(); ++n) mask[n] = std::isnan(values[n]) ? 0 : 1;
  return {std::move(name), MappedGrid{std::move(values), std::move(mask), ni, nj}};
}

StackHorizon StackHorizon::tops_only(std::string name, std::vector<ControlPoint> tops) {
  return {std::move(name), WellTops{std::move(tops)}};
}

const char* resolution_method_name(ResolutionMethod method) {
  switch (method) {
    case ResolutionMethod::Reference:
      return "reference";
    case ResolutionMethod::Isochore:
      return "isochore";
    case ResolutionMethod::RebuiltAgainst:
      return "rebuilt_against";
    case ResolutionMethod::OwnNodes:
      return "own_nodes";
    case ResolutionMethod::TopsBetween:
      return "tops_between";
    case ResolutionMethod::TopsBelow:
      return "tops_below";
    case ResolutionMethod::TopsAbove:
      return "tops_above";
  }
  return "unknown";
}

}  // namespace zorvastatic
