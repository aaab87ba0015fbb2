#include "endpoints/usmADV.h"

#include "core/uSessaoDados.h"

namespace tamrix::endpoints {

rest::TJSONDataSetsPtr TsmADV::ConsultarItensPedido(std::int32_t piCd_Empresa,
                                                    std::int32_t piNr_Pedido) {
  TReservaQuery reserva = ReservarQuery();
  PrepararQuery(TextoSQL({
      "SELECT PedidoItem.cd_empresa,",
      "       PedidoItem.nr_pedido,",
      "       PedidoVenda.cd_cadastro,",
      "       Cadastro.cgc_cpf,",
      "       Cadastro.razao,",
      "       Cadastro.fantasia,",
      "       PedidoItem.cd_item,",
      "       Item.descricao,",
      "       Item.unidade,",
      "       PedidoItem.qt_pedida,",
      "       PedidoItem.vl_unitario,",
      "       PedidoItem.vl_total",
      "  FROM PedidoItem",
      "  JOIN Item ON (Item.cd_item = PedidoItem.cd_item)",
      "  JOIN PedidoVenda ON (PedidoVenda.cd_empresa = PedidoItem.cd_empresa",
      "                  AND  PedidoVenda.nr_pedido = PedidoItem.nr_pedido)",
      "  JOIN Cadastro ON (Cadastro.cd_cadastro = PedidoVenda.cd_cadastro)",
      " WHERE PedidoItem.cd_empresa = :pcd_empresa",
      "   AND PedidoItem.nr_pedido = :pnr_pedido",
  }));
  qySQL.ParamByName("pcd_empresa").SetAsInteger(piCd_Empresa);
  qySQL.ParamByName("pnr_pedido").SetAsInteger(piNr_Pedido);
  qySQL.Open();
  return EmpacotarDataSet(qySQL, std::move(reserva));
}

rest::TJSONDataSetsPtr TsmADV::ConsultarItensPedidoPDV(std::int32_t piCd_Empresa,
                                                       std::int32_t piNr_Pedido) {
  auto sp = CriarStoredProc("spcPDVItemPedidoVenda");
  sp->ParamByName("@cd_empresa").SetAsInteger(piCd_Empresa);
  sp->ParamByName("@nr_pedido").SetAsInteger(piNr_Pedido);
  sp->ParamByName("@cd_usuario").SetAsSmallInt(core::PegarCodigoUsuario());
  return AbrirEmpacotar(std::move(sp));
}

rest::TRestServerClass TsmADV::Tabela() {
  return rest::TTabelaClasse<TsmADV>("TsmADV")
      .Metodo("ConsultarItensPedido", &TsmADV::ConsultarItensPedido, "piCd_Empresa", "piNr_Pedido")
      .Metodo("ConsultarItensPedidoPDV", &TsmADV::ConsultarItensPedidoPDV, "piCd_Empresa",
              "piNr_Pedido");
}

}  // namespace tamrix::endpoints
