#include "zorvatools/store/schema.hpp"

namespace zorvatools::store {

std::string_view dtype_text(LaneDtype dtype) {
  switch (dtype) {
    case LaneDtype::F32:
      return "f32";
    case LaneDtype::F64:
      return "f64";
    case LaneDtype::U16:
      return "u16";
    case LaneDtype::U32:
      return "u32";
  }
  internal_fault("unknown lane dtype");
}

std::size_t dtype_size(LaneDtype dtype) {
  switch (dtype) {
    case LaneDtype::F32:
    case LaneDtype::U32:
      return 4;
    case LaneDtype::F64:
      return 8;
    case LaneDtype::U16:
      return 2;
  }
  internal_fault("unknown lane dtype");
}

std::optional<LaneDtype> dtype_from_text(std::string_view text) {
  for (LaneDtype dtype : {LaneDtype::F32, LaneDtype::F64, LaneDtype::U16, LaneDtype::U32}) {
    if (dtype_text(dtype) == text) return dtype;
  }
  return std::nullopt;
}

}  // namespace zorvatools::store
