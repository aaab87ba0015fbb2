#include "endpoints/usmVEX.h"

namespace tamrix::endpoints {

rest::TJSONDataSetsPtr TsmVEX::ConsultarDadosSincronizacao(std::int32_t piCd_Empresa,
                                                           std::int32_t piCd_Usuario,
                                                           const std::string& psCd_TabPreco,
                                                           rest::TDateTime pdDt_Sincronizacao) {
  auto sp = CriarStoredProc("spcVEXValSincronia");
  sp->ParamByName("@cd_empresa").SetAsInteger(piCd_Empresa);
  sp->ParamByName("@cd_tabpreco").SetAsString(psCd_TabPreco);
  if (pdDt_Sincronizacao.Valor > 0)
    sp->ParamByName("@dt_sincronizacao").SetAsFloat(pdDt_Sincronizacao.Valor);
  sp->ParamByName("@cd_usuario").SetAsSmallInt(piCd_Usuario);
  return AbrirEmpacotar(std::move(sp));
}

rest::TRestServerClass TsmVEX::Tabela() {
  return rest::TTabelaClasse<TsmVEX>("TsmVEX").Metodo(
      "ConsultarDadosSincronizacao", &TsmVEX::ConsultarDadosSincronizacao, "piCd_Empresa",
      "piCd_Usuario", "psCd_TabPreco", "pdDt_Sincronizacao");
}

}  // namespace tamrix::endpoints
