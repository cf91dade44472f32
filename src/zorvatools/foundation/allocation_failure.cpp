#include "zorvatools/foundation/allocation_failure.hpp"

#include <string>

#include "zorvatools/foundation/call_scope.hpp"

namespace zorvatools {

AlgoError out_of_memory(std::string_view activity) {
  return AlgoError::out_of_memory(std::string(current_stage(activity)));
}

}  // namespace zorvatools
