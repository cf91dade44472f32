#include "zorvastatic/model/wireframe.hpp"

namespace zorvastatic {

const char* contact_kind_name(ContactKind kind) {
  switch (kind) {
    case ContactKind::Owc:
      return "OWC";
    case ContactKind::Goc:
      return "GOC";
    case ContactKind::Gwc:
      return "GWC";
  }
  return "OWC";
}

const Horizon* Wireframe::first_with_role(HorizonRole role) const {
  for (const auto& horizon : horizons) {
    if (horizon->role == role) return horizon.get();
  }
  return nullptr;
}

}  // namespace zorvastatic
