#include "zorvastatic/volumetrics/contact_spec.hpp"

#include <cmath>

namespace zorvastatic {

std::optional<ContactSpec> contact_spec_from(const std::vector<Contact>& contacts,
                                             std::optional<double> sw_gas) {
  if (contacts.empty()) return std::nullopt;
  const ContactSpec fallback = ContactSpec::single(contacts.front().depth_m);
  const Contact* goc = nullptr;
  for (const Contact& contact : contacts) {
    if (contact.kind == ContactKind::Goc) {
      goc = &contact;
      break;
    }
  }
  if (goc == nullptr) return fallback;
  std::optional<double> owc;
  for (const Contact& contact : contacts) {
    if (contact.kind == ContactKind::Goc || std::isnan(contact.depth_m)) continue;
    owc = owc ? std::fmax(*owc, contact.depth_m) : contact.depth_m;
  }
  if (!owc || !(*owc >= goc->depth_m)) return fallback;
  if (sw_gas) return ContactSpec::two_contacts_sw_gas(*sw_gas, goc->depth_m, *owc);
  return ContactSpec::two_contacts(goc->depth_m, *owc);
}

}  // namespace zorvastatic
