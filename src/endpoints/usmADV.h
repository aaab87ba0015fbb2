// Sales-order items: by the system's own statement, or by spcPDVItemPedidoVenda for the
// session's user.
#ifndef TAMRIX_ENDPOINTS_USMADV_H
#define TAMRIX_ENDPOINTS_USMADV_H

#include <cstdint>

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmADV : public TsmBase {
 public:
  // Items of one order with item and customer data (inner joins: an item whose Item,
  // PedidoVenda or Cadastro row is missing is left out).
  rest::TJSONDataSetsPtr ConsultarItensPedido(std::int32_t piCd_Empresa, std::int32_t piNr_Pedido);
  // The procedure's items of one order; @cd_usuario is the session's user code.
  rest::TJSONDataSetsPtr ConsultarItensPedidoPDV(std::int32_t piCd_Empresa,
                                                 std::int32_t piNr_Pedido);

  static rest::TRestServerClass Tabela();
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMADV_H
