#include "core/uEventosServRest.h"

#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::core {

namespace {

const char* const kSqlInserir =
    "INSERT \r\n"
    "  INTO EventosServRest( \r\n"
    "       dt_evento, \r\n"
    "       descricao) \r\n"
    "VALUES (:pdt_evento,\r\n"
    "        :pdescricao)";

}  // namespace

TEventosServRest::TEventosServRest() : FqyEventos(std::make_unique<db::TDBQuery>()) {
  FqyEventos->SetName("FqyEventos");
  FqyEventos->SetFetchAll(true);
}

TEventosServRest::~TEventosServRest() = default;

db::TDBConnection* TEventosServRest::Conexao() const {
  std::lock_guard lock(FoLockConexao);
  return FqyEventos->Connection();
}

void TEventosServRest::DefinirConexao(db::TDBConnection* poConexao) {
  std::lock_guard lock(FoLockConexao);
  if (FqyEventos) FqyEventos->SetConnection(poConexao);
}

void TEventosServRest::ConsultarEventos() {
  db::TDBConnection* conexao = Conexao();
  db::TDBConnectionLock lockConexao;
  if (conexao != nullptr) lockConexao = conexao->Lock();
  FqyEventos->Close();
  // The statement differs per engine only in SQL Server's table hint.
  FqyEventos->SetSQL((conexao != nullptr ? conexao->Profile()
                                         : db::TDBDriverProfile::For(db::TDBConnectionParams{}))
                         .Text(db::TDBEngineText::EventosDoDia));
  FqyEventos->Open();
}

bool TEventosServRest::InserirEvento(const std::string& pspDescricao) {
  db::TDBConnection* conexao = Conexao();
  if (conexao == nullptr) return false;
  auto lockConexao = conexao->Lock();
  try {
    // A main connection the database dropped is reopened; a closed one takes no events.
    if (!conexao->Connected() && !conexao->ReopenIfLost()) return false;
    db::TDBQuery qy(conexao);
    qy.SetSQL(kSqlInserir);
    qy.ParamByName("pdt_evento").SetAsDateTime(db::TDBTimeStamp::Now());
    qy.ParamByName("pdescricao").SetAsString(pspDescricao);
    qy.ExecSQL();
    return true;
  } catch (const std::exception& e) {
    lockConexao.unlock();  // the log has a lock of its own; no need to hold both
    diagnostics::GravarLog(diagnostics::TraduzirErro(e), diagnostics::tlErro);
    return false;
  }
}

bool TEventosServRest::InserirEventoErro(const std::string& pspDescricao) {
  return InserirEvento("* ERRO * " + pspDescricao);
}

bool TEventosServRest::InserirEventoServidorIniciado() {
  return InserirEvento("Servidor iniciado.");
}

bool TEventosServRest::InserirEventoServidorParado() {
  return InserirEvento("Servidor parado.");
}

db::TDBQuery& TEventosServRest::DataSet() {
  if (Conexao() != nullptr) ConsultarEventos();
  return *FqyEventos;
}

}  // namespace tamrix::core
