#include "endpoints/usmADM.h"

#include "core/uSessaoDados.h"

namespace tamrix::endpoints {

rest::TJSONDataSetsPtr TsmADM::ConsultarTabPrecoItem(std::int32_t piCd_Empresa,
                                                     const std::string& pspCd_TabPreco,
                                                     std::int64_t piId_Grupo) {
  auto sp = CriarStoredProc("spcPDVTabPrecoItem");
  sp->ParamByName("@cd_empresa").SetAsInteger(piCd_Empresa);
  sp->ParamByName("@cd_tabpreco").SetAsString(pspCd_TabPreco);
  if (sp->ParamExists("@id_grupo")) sp->ParamByName("@id_grupo").SetAsLargeInt(piId_Grupo);
  sp->ParamByName("@cd_usuario").SetAsSmallInt(core::PegarCodigoUsuario());
  return AbrirEmpacotar(std::move(sp));
}

rest::TRestServerClass TsmADM::Tabela() {
  return rest::TTabelaClasse<TsmADM>("TsmADM").Metodo(
      "ConsultarTabPrecoItem", &TsmADM::ConsultarTabPrecoItem, "piCd_Empresa", "pspCd_TabPreco",
      "piId_Grupo");
}

}  // namespace tamrix::endpoints
