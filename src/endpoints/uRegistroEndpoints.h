// The server-method classes the data module registers, in its order of registration.
#ifndef TAMRIX_ENDPOINTS_UREGISTROENDPOINTS_H
#define TAMRIX_ENDPOINTS_UREGISTROENDPOINTS_H

#include <vector>

#include "rest/uRestServerClass.h"

namespace tamrix::endpoints {

struct TClassesServidor {
  rest::TRestServerClass ClasseBase;            // TsmBase, what scBase exposes
  std::vector<rest::TRestServerClass> Classes;  // the ten classes, in registration order
};

// TsmBase, then TsmUsuario, TsmConfigBD, TsmComum, TsmCadastro, TsmADF, TsmADM, TsmADV,
// TsmMLO, TsmVEX and, last, poIntegracaoArquivo (TsmIntegracaoArquivo, whose table lives
// with the sales-file integration).
TClassesServidor ClassesServidor(rest::TRestServerClass poIntegracaoArquivo);

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_UREGISTROENDPOINTS_H
