#include "endpoints/usmMLO.h"

namespace tamrix::endpoints {

rest::TJSONDataSetsPtr TsmMLO::ConsultarCuponsProcessados() {
  auto sp = CriarStoredProc("spcMLOVendas");
  sp->ParamByName("@cd_empresa").SetAsInteger(1);
  return AbrirEmpacotar(std::move(sp));
}

rest::TRestServerClass TsmMLO::Tabela() {
  return rest::TTabelaClasse<TsmMLO>("TsmMLO").Metodo("ConsultarCuponsProcessados",
                                                      &TsmMLO::ConsultarCuponsProcessados);
}

}  // namespace tamrix::endpoints
