#include "zorvastatic/model/model.hpp"

#include <cmath>

#include "zorvastatic/spill/backing.hpp"
#include "zorvastatic/volumetrics/clip_kernel.hpp"
#include "zorvastatic/volumetrics/volumetrics.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"

namespace zorvastatic {


StaticModel StaticModel::with_zone_contacts(std::vector<std::vector<Contact>> contacts) && {
  zone_contacts = std::move(contacts);
  return std::move(*this);
}

std::size_t StaticModel::layer_count() const {
  return spill ? spill->dims().nk : grid.dims().nk;
}

std::vector<std::string> StaticModel::property_names() const {
  return spill ? spill->cube_names() : grid.properties.sorted_names();
}

Result<InPlace> StaticModel::volumetrics(const ContactSpec& spec, std::size_t k_start,
                                         std::size_t k_end, bool with_cells) const {
  return zorvatools::catch_allocation_failure("computing volumes", [&] {
    if (spill) return compute_clipped(SpillSource(*spill), spec, k_start, k_end, with_cells);
    return grid_volumetrics(grid, spec, k_start, k_end, with_cells);
  });
}

Result<InPlace> StaticModel::in_place_impl(bool with_cells) const {
  const std::optional<ContactSpec> spec = contact_spec_from(wireframe.contacts, sw_gas);
  if (!spec) return std::unexpected(StaticError::grid("static model has no fluid contact"));
  return volumetrics(*spec, 0, layer_count(), with_cells);
}

Result<ZonedInPlace> StaticModel::in_place_by_zone() const {
  ZonedInPlace result;
  for (std::size_t z = 0; z < zone_table.zones.size(); ++z) {
    const Zone& zone = zone_table.zones[z];
    const std::vector<Contact>& contacts =
        zone_contacts && z < zone_contacts->size() ? (*zone_contacts)[z] : wireframe.contacts;
    const ContactSpec spec =
        contact_spec_from(contacts, sw_gas).value_or(ContactSpec::no_contact());
    Result<InPlace> computed = volumetrics(spec, zone.k_start, zone.k_end, false);
    if (!computed) return std::unexpected(std::move(computed).error());
    const InPlace& in_place = *computed;
    InPlace& total = result.total;
    total.grv_m3 += in_place.grv_m3;
    total.hcpv_m3 += in_place.hcpv_m3;
    total.cells += in_place.cells;
    auto add_phase = [](std::optional<PhaseTotals>& sum, const std::optional<PhaseTotals>& part) {
      if (!part) return;
      if (!sum) sum = PhaseTotals{};
      sum->grv_m3 += part->grv_m3;
      sum->hcpv_m3 += part->hcpv_m3;
      sum->cells += part->cells;
    };
    add_phase(total.gas, in_place.gas);
    add_phase(total.oil, in_place.oil);
    result.zones.push_back({zone.name, std::move(*computed)});
  }
  ZV_TRY(require_finite_totals(result.total));
  return result;
}

Result<double> StaticModel::bulk_volume() const {
  if (spill) {
    ZV_ASSIGN_OR_RETURN(const InPlace gross,
                        volumetrics(ContactSpec::no_contact(), 0, layer_count(), false));
    return gross.grv_m3;
  }
  double total = -0.0;
  const Dims& dims = grid.dims();
  const std::size_t layer = dims.layer_cells();
  for (std::size_t k = 0; k < dims.nk; ++k) {
    ZV_TRY(zorvatools::poll_call("computing volumes", k, dims.nk));
    for (std::size_t c = k * layer; c < (k + 1) * layer; ++c) total += grid.geom.cell_volume_at(c);
    if (std::isfinite(total)) continue;
    // A cell whose volume overflowed, or else the sum.
    for (std::size_t c = k * layer; c < (k + 1) * layer; ++c) {
      if (std::isfinite(grid.geom.cell_volume_at(c))) continue;
      const CellIndex cell = dims.triple(c);
      return std::unexpected(clip_detail::volume_overflow(cell.i, cell.j, cell.k));
    }
    InPlace gross;
    gross.grv_m3 = total;
    ZV_TRY(require_finite_totals(gross));
  }
  return total;
}

}  // namespace zorvastatic
