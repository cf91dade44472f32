#include "zorvastatic/volumetrics/cell_hcpv.hpp"

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

StaticError fraction_error(const char* name, double value) {
  return StaticError::invalid_input(
      zorvatools::str_cat(name, " must be a fraction in [0,1], got ", value));
}

}  // namespace zorvastatic
