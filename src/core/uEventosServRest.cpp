#include "core/uEventosServRest.h"

#include <chrono>

#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTextoLog.h"
#include "diagnostics/uTraduzirErro.h"
#include "util/uAparar.h"
#include "util/uDataHora.h"

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

bool TEventosServRest::Gravar(db::TDBConnection* conexao, const std::string& pspDescricao) {
  // Cut to the column; a client's text in it was already escaped and cut by the caller, and
  // the server's own line breaks stay, as readers of the table expect.
  std::string descricao(util::CortarUTF8(pspDescricao, kTamanhoMaximoDescricao));
  if (descricao.size() < pspDescricao.size())
    descricao = std::string(util::CortarUTF8(descricao, kTamanhoMaximoDescricao - 5)) + "[...]";
  auto lockConexao = conexao->Lock();
  try {
    // A main connection the database dropped is reopened; a closed one takes no events.
    if (!conexao->Connected() && !conexao->ReopenIfLost()) return false;
    db::TDBQuery qy(conexao);
    qy.SetSQL(kSqlInserir);
    qy.ParamByName("pdt_evento").SetAsDateTime(db::TDBTimeStamp::Now());
    qy.ParamByName("pdescricao").SetAsString(descricao);
    qy.ExecSQL();
    return true;
  } catch (const std::exception& e) {
    lockConexao.unlock();  // the log has a lock of its own; no need to hold both
    diagnostics::GravarLog(diagnostics::TraduzirErro(e), diagnostics::tlErro);
    return false;
  }
}

std::string TEventosServRest::Admitir(TContagem pContagem, bool pbForcar, bool& pbAdmitido) {
  std::lock_guard lock(FoLockLimite);
  const std::time_t agora = std::time(nullptr);
  std::string resumo;
  if (FiOmitidos > 0 && (agora != FiSegundo || pbForcar)) {
    resumo = "* ERRO * " + std::to_string(FiOmitidos) + " evento(s) omitido(s) em " +
             util::FormatarDataHora(util::kPadraoDataHora,
                                    std::chrono::system_clock::from_time_t(FiSegundoOmitidos)) +
             ": mais de " + std::to_string(kMaximoPorSegundo) + " no mesmo segundo (ver log.txt).";
    FiOmitidos = 0;
  }
  if (agora != FiSegundo) {
    FiSegundo = agora;
    FiErrosNoSegundo = 0;
    FiOutrosNoSegundo = 0;
  }
  pbAdmitido = true;
  if (pContagem != TContagem::Nenhuma) {
    int& noSegundo = pContagem == TContagem::Erro ? FiErrosNoSegundo : FiOutrosNoSegundo;
    if (noSegundo < kMaximoPorSegundo) {
      ++noSegundo;
    } else {
      pbAdmitido = false;
      if (FiOmitidos++ == 0) FiSegundoOmitidos = agora;
    }
  }
  return resumo;
}

bool TEventosServRest::Inserir(const std::string& pspDescricao, TContagem pContagem) {
  db::TDBConnection* conexao = Conexao();
  if (conexao == nullptr) return false;
  bool admitido = false;
  const std::string resumo = Admitir(pContagem, false, admitido);
  if (!resumo.empty()) Gravar(conexao, resumo);
  return admitido && Gravar(conexao, pspDescricao);
}

bool TEventosServRest::InserirEvento(const std::string& pspDescricao) {
  return Inserir(pspDescricao, TContagem::Outro);
}

bool TEventosServRest::InserirEventoErro(const std::string& pspDescricao) {
  return Inserir("* ERRO * " + pspDescricao, TContagem::Erro);
}

bool TEventosServRest::InserirEventoServidorIniciado() {
  return Inserir("Servidor iniciado.", TContagem::Nenhuma);
}

bool TEventosServRest::InserirEventoServidorParado() {
  db::TDBConnection* conexao = Conexao();
  if (conexao == nullptr) return false;
  GravarOmitidos();
  return Gravar(conexao, "Servidor parado.");
}

bool TEventosServRest::GravarOmitidos() {
  db::TDBConnection* conexao = Conexao();
  if (conexao == nullptr) return false;
  bool admitido = false;
  const std::string resumo = Admitir(TContagem::Nenhuma, true, admitido);
  return !resumo.empty() && Gravar(conexao, resumo);
}

db::TDBQuery& TEventosServRest::DataSet() {
  if (Conexao() != nullptr) ConsultarEventos();
  return *FqyEventos;
}

}  // namespace tamrix::core
