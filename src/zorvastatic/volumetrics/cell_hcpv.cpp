#include "zorvastatic/volumetrics/cell_hcpv.hpp"

#include "zorvastatic/model/population.hpp"

namespace zorvastatic {

Result<double> cell_hcpv(bool use_sw_gas, double volume, double poro, double ntg, double sw,
                         double sw_gas) {
  ZV_TRY(require_fraction("PORO", poro));
  ZV_TRY(require_fraction("NTG", ntg));
  const double pore_volume = poro * (volume * ntg);
  if (use_sw_gas) return pore_volume * (1 - sw_gas);
  ZV_TRY(require_fraction("SW", sw));
  return pore_volume * (1 - sw);
}

}  // namespace zorvastatic
