#include "core/udmServidor.h"

#include <utility>

#include "config/uConfigServidor.h"
#include "config/uEmbaralharTexto.h"
#include "core/uConfigBD.h"
#include "core/uEventosServRest.h"
#include "core/uSessaoDados.h"
#include "db/uDBConnectionParams.h"
#include "db/uDBDriverProfile.h"
#include "db/uDBEnvironment.h"
#include "diagnostics/uExcecoes.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTextoLog.h"
#include "diagnostics/uTraduzirErro.h"
#include "util/uDataHora.h"
#include "util/uMensagem.h"
#include "util/uSistema.h"

namespace tamrix::core {

TdmServidor* dmServidor = nullptr;

namespace {

constexpr std::string_view kNomeAplicacao = "TamrixRestServer";
constexpr std::string_view kLifeCycleSessao = "Session";

// The main connection's parameters as the form sets them; SERVER, User_Name,
// Password and DATABASE are always replaced before the first open.
const char* const kParametrosFormulario[] = {
    "DriverID=MSSQL",
    "MARS=yes",
    "ApplicationName=TamrixRestServer",
    "Workstation=RestServer",
    "SERVER=localhost",
    "User_Name=sa",
    "Password=",
    "DATABASE=TAMRIX",
};

// "host" or, with an instance, "host\instance".
std::string EnderecoServidor(const std::string& host, const std::string& instancia) {
  return instancia.empty() ? host : host + "\\" + instancia;
}

std::string LinhaHorario(std::string_view texto) {
  return util::DataHoraAtual() + " - " + std::string(texto);
}

// Raised by the registration of classes while the REST server runs.
class EAssertionFailed : public diagnostics::Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EAssertionFailed"; }
};

}  // namespace

// ---------------------------------------------------------------------------------------
// TRegistroServerClass

TRegistroServerClass::TRegistroServerClass(rest::TRestServer& poServidor,
                                           rest::TRestServerClass poClasse, bool pbExporProvider,
                                           std::string_view pspLifeCycle)
    : FoPersistentClass(std::move(poClasse)), FbExporProvider(pbExporProvider) {
  FoPersistentClass.LifeCycle = rest::LifeCycleDeTexto(pspLifeCycle);
  poServidor.RegistrarClasse(FoPersistentClass);
}

// ---------------------------------------------------------------------------------------
// Creation and destruction

TdmServidor::TdmServidor(TOpcoesDmServidor opcoes)
    : FoClasseBase(std::move(opcoes.ClasseBase)),
      FiEsperaChamadas(opcoes.EsperaChamadas),
      FdHorarioInicio(std::chrono::system_clock::now()),
      FoRestServer(std::move(opcoes.OpcoesRestServer)) {
  for (const char* linha : kParametrosFormulario) FoConexao.Params().AddLine(linha);
  // Shared by every thread for the server's whole run: a database restart must not end it.
  FoConexao.SetReopenWhenLost(true);
  qyColumns.SetName("qyColumns");
  qyColumns.SetConnection(&FoConexao);
  qyColumns.SetCachedUpdates(true);

  FoRestServer.DefinirOnError(
      [this](const rest::TRestErrorEvent& evento) { RestServerError(evento); });
  FoRestServer.DefinirOnDisconnect([this] { RestServerDisconnect(); });
  FoRestAuthenticationManager.OnUserAuthenticate =
      [this](const std::string& protocolo, const std::string& contexto, const std::string& usuario,
             const std::string& senha) {
        return RestAuthenticationManagerUserAuthenticate(protocolo, contexto, usuario, senha);
      };
  FoRestAuthenticationManager.OnUserAuthorize = [this](const rest::TRestAuthorizeEvent& e) {
    return RestAuthenticationManagerUserAuthorize(e);
  };

  RegistrarClassesServidor(std::move(opcoes.Classes));
  dmServidor = this;
}

TdmServidor::~TdmServidor() {
  if (dmServidor == this) dmServidor = nullptr;
  FoRestServer.Parar();
  FecharColunas();
  // The directory keeps a plain pointer to the main connection, which goes with this module.
  if (TConfigBDSingleton::HasInstance()) {
    auto& diretorio = TConfigBDSingleton::GetInstance();
    if (diretorio.ConexaoBD() == &FoConexao) diretorio.SetConexaoBD(nullptr);
  }
}

rest::TRestServer* PegarRestServer() {
  return dmServidor != nullptr ? &dmServidor->RestServer() : nullptr;
}

rest::TRestAuthenticationManager* PegarRestAuthenticationManager() {
  return dmServidor != nullptr ? &dmServidor->RestAuthenticationManager() : nullptr;
}

void TdmServidor::RegistrarClassesServidor(std::vector<rest::TRestServerClass> poClasses) {
  if (FoRestServer.Iniciado())
    throw EAssertionFailed(
        "Não é possível adicionar classes com o servidor "
        "ativo (udmServidor, line 467)");
  FoRegistros.reserve(poClasses.size() + 1);
  if (FoClasseBase)
    FoRegistros.emplace_back(FoRestServer, scBaseGetClass(), true, kLifeCycleSessao);
  for (auto& classe : poClasses)
    FoRegistros.emplace_back(FoRestServer, std::move(classe), true, kLifeCycleSessao);
}

rest::TRestServerClass TdmServidor::scBaseGetClass() const {
  return FoClasseBase ? *FoClasseBase : rest::TRestServerClass{};
}

// ---------------------------------------------------------------------------------------
// Start and stop

bool TdmServidor::ConfigurarConexaoPrincipal() {
  std::string erro;
  {
    auto lock = FoConexao.Lock();
    try {
      const auto& config = config::TConfigServidorSingleton::GetInstance();
      FoConexao.Close();
      auto& p = FoConexao.Params();
      p.SetValue(db::params::kServer, EnderecoServidor(config.Host(), config.Instancia()));
      p.SetValue(db::params::kDatabase, config.Database());
      p.SetValue(db::params::kUserName, config::EmbaralharTexto(config.UsuarioBD(), false));
      p.SetValue(db::params::kPassword, config::EmbaralharTexto(config.SenhaBD(), false));
      p.SetValue(db::params::kApplicationName, std::string(kNomeAplicacao));
      p.SetValue(db::params::kWorkstation,
                 util::PegarNomeEstacao() + " - " + std::string(kNomeAplicacao));
      // The driver and port config.ini may name; the tenant connections copy them.
      if (!config.Driver().empty()) p.SetValue(db::params::kDriver, config.Driver());
      if (config.PortaBD() > 0)
        p.SetValue(db::params::kPorta, std::to_string(config.PortaBD()));
      else
        p.Remove(db::params::kPorta);
      // The time limits too: a tenant server that hangs costs a call seconds, not the
      // instance for good.
      p.SetValue(db::params::kLoginTimeout, std::to_string(config.TempoConexao()));
      p.SetValue(db::params::kQueryTimeout, std::to_string(config.TempoConsulta()));
      ConfigurarReusoConexoes();
      FoConexao.Open();
      return FoConexao.Connected();
    } catch (const std::exception& e) {
      erro = diagnostics::TraduzirErro(e);
    }
  }
  // Outside the connection's lock: the box waits for the operator.
  try {
    if (util::TemJanelaPrincipal()) util::MostrarMensagem(erro, false);
  } catch (const std::exception&) {
    // The operator is told through the log below in any case.
  }
  diagnostics::GravarLog(erro, diagnostics::tlErro);
  return false;
}

void TdmServidor::ConfigurarReusoConexoes() {
  if (FbReusoDecidido) return;
  FbReusoDecidido = true;
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  if (!config.ReutilizarConexoes() || config.TempoReuso() <= 0) return;
  try {
    // False only when something connected first (tests); the server's first connection is
    // the main one.
    db::TDBEnvironment::SetConnectionPooling(db::TDBDriverProfile::DriverName(FoConexao.Params()),
                                             config.TempoReuso());
  } catch (const std::exception& e) {
    // The server works as well without reuse, only slower.
    diagnostics::GravarLog(diagnostics::TraduzirErro(e), diagnostics::tlErro);
  }
}

bool TdmServidor::IniciarServidor() {
  bool resultado = false;
  // The log's size limit comes from config.ini, applied before this run's first line.
  const std::int64_t tamanhoLog =
      config::TConfigServidorSingleton::GetInstance().TamanhoMaximoLog();
  diagnostics::TLogServidorSingleton::GetInstance().DefinirTamanhoMaximo(
      tamanhoLog > 0 ? static_cast<std::uint64_t>(tamanhoLog)
                     : diagnostics::TLogServidor::kTamanhoMaximoPadrao);
  diagnostics::GravarLog(LinhaHorario("Iniciando servidor."), diagnostics::tlNormal);
  FiThreadIDServer = PegarThreadID();
  FdHorarioInicio = std::chrono::system_clock::now();
  if (!FoRestServer.Iniciado()) FoRestServer.Iniciar();

  // Step 6 runs whatever step 5 did, before an exception of step 5 leaves.
  auto pararSeDesconectado = [this] {
    if (!PegarConexao(true)->Connected()) PararServidor();
  };
  try {
    FecharColunas();
    {
      db::TDBConnection* principal = PegarConexao(true);
      auto lock = principal->Lock();
      principal->Close();
    }
    if (ConfigurarConexaoPrincipal()) {
      resultado = true;
      auto& eventos = TEventosServRestSingleton::GetInstance();
      eventos.DefinirConexao(&FoConexao);
      // A log that cannot be written says so where the operator still looks.
      diagnostics::TLogServidorSingleton::GetInstance().SetAoFalhar([](const std::string& texto) {
        TEventosServRestSingleton::GetInstance().InserirEventoErro(texto);
      });
      eventos.InserirEventoServidorIniciado();
      AbrirColunas();
      auto& diretorio = TConfigBDSingleton::GetInstance();
      diretorio.SetConexaoBD(&FoConexao);
      diretorio.ConsultarConfig();
    }
  } catch (...) {
    pararSeDesconectado();
    throw;
  }
  pararSeDesconectado();
  return resultado;
}

void TdmServidor::PararServidor() {
  diagnostics::GravarLog(LinhaHorario("Parando servidor."), diagnostics::tlNormal);
  TEventosServRestSingleton::GetInstance().InserirEventoServidorParado();
  if (FoRestServer.Iniciado()) FoRestServer.Parar();
  FecharColunas();
  {
    db::TDBConnection* principal = PegarConexao(true);
    auto lock = principal->Lock();
    principal->Close();
  }
  DestruirConexoes();
}

// ---------------------------------------------------------------------------------------
// Per-thread tenant connections

std::uint32_t TdmServidor::PegarThreadID() const {
  return PegarThreadIDAtual();
}

bool TdmServidor::ServidorExecutando() const {
  return PegarThreadID() == FiThreadIDServer;
}

db::TDBConnection* TdmServidor::PegarConexao(bool pbCriarConexao) {
  if (ServidorExecutando()) return &FoConexao;
  if (db::TDBConnection* existente = FoDicConexoes.Procurar()) return existente;
  if (!pbCriarConexao) return nullptr;
  return CriarConexao();
}

db::TDBConnection* TdmServidor::CriarConexao() {
  auto conexao = std::make_unique<db::TDBConnection>();
  {
    // The main thread may be configuring the main connection right now.
    auto lock = FoConexao.Lock();
    conexao->Params() = FoConexao.Params();
  }

  const std::string token = PegarToken();
  TConfigBDItem item;
  if (!TConfigBDSingleton::GetInstance().PegarConfig(token, item)) {
    const std::string msg = "Token " + token + " não cadastrado.";
    // The token is the client's text: cut in the event, whole in the answer.
    TEventosServRestSingleton::GetInstance().InserirEvento(
        "Token " + diagnostics::TextoChamador(token) + " não cadastrado.");
    throw diagnostics::Exception(msg);
  }

  auto& p = conexao->Params();
  const std::string servidor = EnderecoServidor(item.FspIpBD, item.FspInstancia);
  p.SetValue(db::params::kServer, servidor);
  p.SetValue(db::params::kDatabase, item.FspNomeBD);
  p.SetValue(db::params::kUserName, config::EmbaralharTexto(item.FspUsuarioBD, false));
  p.SetValue(db::params::kPassword, config::EmbaralharTexto(item.FspSenhaBD, false));
  p.SetValue(db::params::kApplicationName, std::string(kNomeAplicacao));
  p.SetValue(
      db::params::kWorkstation,
      util::PegarNomeEstacao() + " - " + std::string(kNomeAplicacao) + " (" + PegarUsuario() + ")");
  try {
    conexao->Open();
  } catch (const std::exception& e) {
    const std::string inicio = "Não foi possível conectar ao banco de dados " + item.FspNomeBD +
                               " em " + servidor +
                               ".\r\nDetalhes: " + diagnostics::TraduzirErro(e) + "\r\n  - Token ";
    const std::string msg = inicio + PegarToken() + "\r\n  - Usuário " + PegarUsuario();
    // Token and user are the client's texts: cut in the event, whole in the answer.
    TEventosServRestSingleton::GetInstance().InserirEventoErro(
        inicio + diagnostics::TextoChamador(PegarToken()) + "\r\n  - Usuário " +
        diagnostics::TextoChamador(PegarUsuario()));
    throw diagnostics::Exception(msg);
  }
  return FoDicConexoes.Adicionar(std::move(conexao));
}

void TdmServidor::DestruirConexao() {
  // Only the table: on the server thread the main connection stays as it is.
  LiberarConexao(FoDicConexoes.Retirar());
}

void TdmServidor::DestruirConexoes() {
  if (FoDicConexoes.AguardarVazia(FiEsperaChamadas)) return;
  diagnostics::GravarLog(std::to_string(FoDicConexoes.Quantidade()) +
                             " chamada(s) ainda em andamento ao parar o servidor; cada uma "
                             "fecha sua conexão ao terminar.",
                         diagnostics::tlErro);
}

// ---------------------------------------------------------------------------------------
// Transactions

bool TdmServidor::IniciarTransacao() {
  db::TDBConnection* c = PegarConexao(true);
  auto lock = c->Lock();
  if (c->InTransaction()) return false;
  c->StartTransaction();
  return true;
}

bool TdmServidor::ComitarTransacao() {
  return EncerrarTransacao(&db::TDBConnection::Commit);
}

bool TdmServidor::VoltarTransacao() {
  return EncerrarTransacao(&db::TDBConnection::Rollback);
}

bool TdmServidor::EncerrarTransacao(void (db::TDBConnection::*encerrar)()) {
  db::TDBConnection* c = PegarConexao(true);
  auto lock = c->Lock();
  if (!c->InTransaction()) return false;
  (c->*encerrar)();
  return true;
}

bool TdmServidor::EstaEmTransacao() {
  db::TDBConnection* c = PegarConexao(true);
  return c != nullptr && c->InTransaction();
}

std::int32_t TdmServidor::PegarSPID() {
  db::TDBConnection* c = PegarConexao(true);
  auto lock = c->Lock();
  db::TDBQuery qy(c);
  qy.SetSQL(c->Profile().Text(db::TDBEngineText::SPID));
  qy.Open();
  return qy.Fields(0).AsInteger();
}

// ---------------------------------------------------------------------------------------
// Column metadata

void TdmServidor::AbrirColunas() {
  std::lock_guard lock(FoLockColunas);
  FbColunasAbertas = false;
  try {
    auto lockConexao = FoConexao.Lock();
    qyColumns.Close();
    qyColumns.SetSQL(FoConexao.Profile().Text(db::TDBEngineText::ColumnMetadata));
    qyColumns.Open();
    qyColumnsAfterOpen();
    FbColunasAbertas = true;
  } catch (const std::exception& e) {
    // Only the value masks depend on it; the server runs on without them.
    qyColumns.Close();
    diagnostics::GravarLog(diagnostics::TraduzirErro(e), diagnostics::tlErro);
  }
}

void TdmServidor::FecharColunas() {
  std::lock_guard lock(FoLockColunas);
  FbColunasAbertas = false;
  qyColumns.Close();
}

void TdmServidor::qyColumnsAfterOpen() {
  qyColumns.ClearIndexes();
  qyColumns.AddIndex("idxColumns", "tabname; name");
  qyColumns.SetIndexName("idxColumns");
}

bool TdmServidor::ColunasAbertas() const {
  std::lock_guard lock(FoLockColunas);
  return FbColunasAbertas;
}

std::optional<TFormatoCampo> TdmServidor::PegarFormatoCampo(const std::string& pspTabela,
                                                            const std::string& pspCampo) {
  std::lock_guard lock(FoLockColunas);
  if (!FbColunasAbertas || !qyColumns.FindKey({pspTabela, pspCampo})) return std::nullopt;
  TFormatoCampo formato;
  formato.Precisao = qyColumns.FieldByName("prec").AsInteger();
  formato.Escala = qyColumns.FieldByName("scale").AsInteger();
  formato.Tipo = qyColumns.FieldByName("type").AsString();
  return formato;
}

// ---------------------------------------------------------------------------------------
// Properties and REST hooks

std::chrono::system_clock::time_point TdmServidor::HorarioInicio() const {
  return FdHorarioInicio;
}

std::uint32_t TdmServidor::ThreadIDServer() const {
  return FiThreadIDServer;
}

void TdmServidor::RestServerError(const rest::TRestErrorEvent& RestErrorEventObject) {
  const std::exception& e = RestErrorEventObject.Error;
  // Both texts may carry what the client sent (a method name, a token): each is cut, so a
  // hostile call gives a line and an event of bounded size; the answer keeps them whole.
  const std::string mensagem = diagnostics::TextoChamador(diagnostics::MensagemExcecao(e));
  diagnostics::GravarLog(diagnostics::TextoChamador(diagnostics::TraduzirErro(e)) +
                             " [Erro original: " + mensagem + "]",
                         diagnostics::tlErro);
  TEventosServRestSingleton::GetInstance().InserirEventoErro(mensagem);
}

void TdmServidor::RestServerDisconnect() {
  DestruirConexao();
}

bool TdmServidor::RestAuthenticationManagerUserAuthenticate(const std::string&, const std::string&,
                                                            const std::string&,
                                                            const std::string&) {
  return true;
}

bool TdmServidor::RestAuthenticationManagerUserAuthorize(const rest::TRestAuthorizeEvent&) {
  return true;
}

}  // namespace tamrix::core
