// Active card brands (spcVEXConsultarBandeira) for the session's user.
#ifndef TAMRIX_ENDPOINTS_USMADF_H
#define TAMRIX_ENDPOINTS_USMADF_H

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmADF : public TsmBase {
 public:
  // @cd_usuario: the session's user code (0 before a successful Login), low 16 bits.
  rest::TJSONDataSetsPtr ConsultarBandeirasAtivas();

  static rest::TRestServerClass Tabela();
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMADF_H
