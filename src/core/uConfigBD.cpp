#include "core/uConfigBD.h"

#include "diagnostics/uExcecoes.h"
#include "util/uAparar.h"

namespace tamrix::core {

namespace {

const char* const kSqlConfig =
    "SELECT token,\r\n"
    "       ip_bd,\r\n"
    "       instancia,\r\n"
    "       nome_bd,\r\n"
    "       usuario_bd,\r\n"
    "       senha_bd\r\n"
    "  FROM ConfigBD";

const char* const kSqlTokenExiste =
    "SELECT 1\r\n"
    "  FROM ConfigBD\r\n"
    " WHERE token = :token";

}  // namespace

TConfigBD::TConfigBD() : FqyConfig(std::make_unique<db::TDBQuery>()) {
  FqyConfig->SetName("FqyConfig");
  FqyConfig->SetFetchAll(true);  // the whole table is read while the lock is held
}

TConfigBD::~TConfigBD() = default;

void TConfigBD::ConexaoAlterada() {
  TClasses::ConexaoAlterada();
  std::lock_guard lock(FoLockConfig);
  FqyConfig->SetConnection(ConexaoBD());
}

void TConfigBD::ConsultarConfig() {
  std::lock_guard lock(FoLockConfig);
  Carregar();
}

void TConfigBD::Carregar() {
  Ler(*FqyConfig);
}

void TConfigBD::Ler(db::TDBQuery& q) {
  q.Close();
  q.SetSQL(kSqlConfig);
  q.Open();
  q.ClearIndexes();
  q.AddIndex("idxConfig", "token");
  q.SetIndexName("idxConfig");
}

std::size_t TConfigBD::Recarregar() {
  db::TDBConnection* conexao = ConexaoBD();
  if (conexao == nullptr)
    throw diagnostics::Exception("O diretório de bancos não tem conexão com o banco principal.");
  auto nova = std::make_unique<db::TDBQuery>();
  nova->SetName("FqyConfig");
  nova->SetFetchAll(true);
  nova->SetConnection(conexao);
  // The statement takes the main connection's own lock; lookups go on with the old copy.
  Ler(*nova);
  const auto linhas = static_cast<std::size_t>(nova->RecordCount());
  // An empty table is a mistake (wrong database, a table being rewritten), never a tenant
  // list: taking it would refuse every terminal.
  if (linhas == 0)
    throw diagnostics::Exception("A tabela ConfigBD está vazia; nenhum token seria aceito.");
  {
    std::lock_guard lock(FoLockConfig);
    FqyConfig.swap(nova);
  }
  // The old copy goes here, outside the lock.
  return linhas;
}

bool TConfigBD::PegarConfig(const std::string& pspToken, TConfigBDItem& pConfig) {
  pConfig = TConfigBDItem{};
  std::lock_guard lock(FoLockConfig);
  if (!FqyConfig->Active() || FqyConfig->IsEmpty()) {
    // A call that arrives while the server starts, before the main database is open.
    if (ConexaoBD() == nullptr)
      throw diagnostics::Exception(
          "O servidor está iniciando: o banco principal ainda não está conectado. Tente "
          "novamente em instantes.");
    Carregar();
  }
  // With no current row the token reads as the empty text.
  bool encontrado = FqyConfig->FieldByName("token").AsString() == pspToken;
  if (!encontrado) encontrado = FqyConfig->FindKey({pspToken});
  if (encontrado) {
    pConfig.FspToken = pspToken;
    pConfig.FspIpBD = FqyConfig->FieldByName("ip_bd").AsString();
    pConfig.FspInstancia = FqyConfig->FieldByName("instancia").AsString();
    pConfig.FspNomeBD = FqyConfig->FieldByName("nome_bd").AsString();
    pConfig.FspUsuarioBD = FqyConfig->FieldByName("usuario_bd").AsString();
    pConfig.FspSenhaBD = FqyConfig->FieldByName("senha_bd").AsString();
  }
  return encontrado;
}

bool TConfigBD::ConsultarTokenExiste(const std::string& psToken) {
  if (util::EstaVazio(psToken)) return false;
  std::lock_guard lock(FoLockToken);
  db::TDBQuery& qy = PegarQuery();
  qy.Close();
  qy.SetSQL(kSqlTokenExiste);
  qy.ParamByName("token").SetAsString(psToken);
  qy.Open();
  const bool existe = !qy.IsEmpty();
  // Closed at once, so no cursor stays open on the shared main connection.
  qy.Close();
  return existe;
}

db::TDBQuery& TConfigBD::DataSet() {
  std::lock_guard lock(FoLockConfig);
  if (FqyConfig->Connection() != nullptr && FqyConfig->IsEmpty()) Carregar();
  return *FqyConfig;
}

}  // namespace tamrix::core
