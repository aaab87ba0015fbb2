#include "endpoints/usmConfigBD.h"

namespace tamrix::endpoints {

rest::TJSONDataSetsPtr TsmConfigBD::ConsultarConfiguracoes(const std::string& pspToken) {
  TReservaQuery reserva = ReservarQuery();
  db::TDBConnection& conexao = DataModule().Conexao();
  {
    // The main connection serves the events writer and the directory from other threads.
    const db::TDBConnectionLock lock = conexao.Lock();
    qySQL.Close();
    qySQL.SetConnection(&conexao);
    qySQL.SetSQL(TextoSQL({
        "SELECT token,",
        "       ip_bd,",
        "       instancia,",
        "       nome_bd,",
        "       usuario_bd,",
        "       senha_bd",
        "  FROM ConfigBD",
        " WHERE token = :ptoken",
    }));
    qySQL.ParamByName("ptoken").SetAsString(pspToken);
    qySQL.SetFetchAll(true);
    qySQL.Open();
  }
  return EmpacotarDataSet(qySQL, std::move(reserva));
}

rest::TRestServerClass TsmConfigBD::Tabela() {
  return rest::TTabelaClasse<TsmConfigBD>("TsmConfigBD")
      .Metodo("ConsultarConfiguracoes", &TsmConfigBD::ConsultarConfiguracoes, "pspToken");
}

}  // namespace tamrix::endpoints
