#include "endpoints/usmADF.h"

#include "core/uSessaoDados.h"

namespace tamrix::endpoints {

rest::TJSONDataSetsPtr TsmADF::ConsultarBandeirasAtivas() {
  auto sp = CriarStoredProc("spcVEXConsultarBandeira");
  sp->ParamByName("@cd_usuario").SetAsSmallInt(core::PegarCodigoUsuario());
  return AbrirEmpacotar(std::move(sp));
}

rest::TRestServerClass TsmADF::Tabela() {
  return rest::TTabelaClasse<TsmADF>("TsmADF").Metodo("ConsultarBandeirasAtivas",
                                                      &TsmADF::ConsultarBandeirasAtivas);
}

}  // namespace tamrix::endpoints
