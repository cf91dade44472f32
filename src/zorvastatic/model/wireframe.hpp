#pragma once
// The structural input of a build: horizons on an areal node lattice, fluid contacts and the
// areal outline. Horizons are shared by reference count, never copied.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"

namespace zorvastatic {

using zorvatools::Point2;

enum class HorizonRole : std::uint8_t { Top = 0, Base = 1, Intermediate = 2 };

struct Horizon {
  std::string name;
  std::vector<double> depths;  // node (i, j) at j * ni + i; NaN marks an undefined node
  std::size_t ni = 0;
  std::size_t nj = 0;
  HorizonRole role = HorizonRole::Top;
};

enum class ContactKind : std::uint8_t { Owc = 0, Goc = 1, Gwc = 2 };

// "OWC", "GOC", "GWC".
const char* contact_kind_name(ContactKind kind);

struct Contact {
  double depth_m = 0;
  ContactKind kind = ContactKind::Owc;
};

struct Wireframe {
  std::vector<Point2> outline;  // closed: first vertex repeated last
  std::vector<Contact> contacts;
  std::vector<std::shared_ptr<const Horizon>> horizons;

  // The first horizon of that role, or nullptr.
  [[nodiscard]] const Horizon* first_with_role(HorizonRole role) const;
};

}  // namespace zorvastatic
