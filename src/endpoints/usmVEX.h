// Synchronisation data (spcVEXValSincronia).
#ifndef TAMRIX_ENDPOINTS_USMVEX_H
#define TAMRIX_ENDPOINTS_USMVEX_H

#include <cstdint>
#include <string>

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmVEX : public TsmBase {
 public:
  // @dt_sincronizacao is bound only when pdDt_Sincronizacao is above zero (null
  // otherwise); @cd_usuario comes from piCd_Usuario (low 16 bits), not from the session.
  rest::TJSONDataSetsPtr ConsultarDadosSincronizacao(std::int32_t piCd_Empresa,
                                                     std::int32_t piCd_Usuario,
                                                     const std::string& psCd_TabPreco,
                                                     rest::TDateTime pdDt_Sincronizacao);

  static rest::TRestServerClass Tabela();
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMVEX_H
