#include "endpoints/uRegistroEndpoints.h"

#include "endpoints/uSmBase.h"
#include "endpoints/usmADF.h"
#include "endpoints/usmADM.h"
#include "endpoints/usmADV.h"
#include "endpoints/usmCadastro.h"
#include "endpoints/usmComum.h"
#include "endpoints/usmConfigBD.h"
#include "endpoints/usmMLO.h"
#include "endpoints/usmUsuario.h"
#include "endpoints/usmVEX.h"

namespace tamrix::endpoints {

TClassesServidor ClassesServidor(rest::TRestServerClass poIntegracaoArquivo) {
  TClassesServidor r;
  r.ClasseBase = TsmBase::Tabela();
  r.Classes = {TsmUsuario::Tabela(),  TsmConfigBD::Tabela(), TsmComum::Tabela(),
               TsmCadastro::Tabela(), TsmADF::Tabela(),      TsmADM::Tabela(),
               TsmADV::Tabela(),      TsmMLO::Tabela(),      TsmVEX::Tabela()};
  r.Classes.push_back(std::move(poIntegracaoArquivo));
  return r;
}

}  // namespace tamrix::endpoints
