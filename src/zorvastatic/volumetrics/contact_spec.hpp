#pragma once
// The clipping rule volumetrics applies: which cells count as hydrocarbon, and as gas or oil.

#include <cstdint>
#include <optional>
#include <vector>

#include "zorvastatic/model/wireframe.hpp"

namespace zorvastatic {

struct ContactSpec {
  enum class Mode : std::uint8_t {
    TwoContacts = 0,       // oil leg between GOC and OWC, gas cap above GOC with the cell's SW
    TwoContactsSwGas = 1,  // as TwoContacts, gas-cap cells use the fixed sw_gas
    NoContact = 2,         // no clipping, no HCPV: gross volume only
    SingleContact = 3,     // every cell above the contact is oil leg
  };
  Mode mode = Mode::NoContact;
  double goc = 0;
  double owc = 0;
  double sw_gas = 0;
  double depth = 0;  // SingleContact

  static ContactSpec two_contacts(double goc, double owc) {
    return {Mode::TwoContacts, goc, owc, 0, 0};
  }
  static ContactSpec two_contacts_sw_gas(double sw_gas, double goc, double owc) {
    return {Mode::TwoContactsSwGas, goc, owc, sw_gas, 0};
  }
  static ContactSpec no_contact() { return {}; }
  static ContactSpec single(double depth) { return {Mode::SingleContact, 0, 0, 0, depth}; }

  [[nodiscard]] bool has_phases() const {
    return mode == Mode::TwoContacts || mode == Mode::TwoContactsSwGas;
  }
};

// The rule a contact list implies: the first GOC with the deepest other contact below it, else
// a single contact at the first contact's depth; nothing for an empty list.
std::optional<ContactSpec> contact_spec_from(const std::vector<Contact>& contacts,
                                             std::optional<double> sw_gas);

}  // namespace zorvastatic
