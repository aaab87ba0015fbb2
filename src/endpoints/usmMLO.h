// Processed coupons (spcMLOVendas).
#ifndef TAMRIX_ENDPOINTS_USMMLO_H
#define TAMRIX_ENDPOINTS_USMMLO_H

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmMLO : public TsmBase {
 public:
  // @cd_empresa is always 1, whatever the caller's company.
  rest::TJSONDataSetsPtr ConsultarCuponsProcessados();

  static rest::TRestServerClass Tabela();
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMMLO_H
