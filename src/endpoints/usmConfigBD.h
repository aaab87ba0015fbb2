// The tenant directory entry of an access token, read from ConfigBD in the main database.
#ifndef TAMRIX_ENDPOINTS_USMCONFIGBD_H
#define TAMRIX_ENDPOINTS_USMCONFIGBD_H

#include <string>

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmConfigBD : public TsmBase {
 public:
  // The ConfigBD rows of pspToken (none for an unknown token), credentials as stored,
  // scrambled. Runs on the main connection under its lock and reads every row there, so
  // the container is written without touching the connection again.
  rest::TJSONDataSetsPtr ConsultarConfiguracoes(const std::string& pspToken);

  static rest::TRestServerClass Tabela();
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMCONFIGBD_H
