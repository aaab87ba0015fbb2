// Price-table items (spcPDVTabPrecoItem).
#ifndef TAMRIX_ENDPOINTS_USMADM_H
#define TAMRIX_ENDPOINTS_USMADM_H

#include <cstdint>
#include <string>

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmADM : public TsmBase {
 public:
  // piId_Grupo is bound only when the procedure has @id_grupo (older versions lack it);
  // @cd_usuario is the session's user code, low 16 bits.
  rest::TJSONDataSetsPtr ConsultarTabPrecoItem(std::int32_t piCd_Empresa,
                                               const std::string& pspCd_TabPreco,
                                               std::int64_t piId_Grupo);

  static rest::TRestServerClass Tabela();
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMADM_H
