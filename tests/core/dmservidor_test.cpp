// The server data module against the private PostgreSQL: start and stop, the REST hooks, the
// per-thread tenant connections and their end-of-call release, transactions, and the column
// metadata. REST calls go through the REST dispatcher in process, on threads of the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <regex>
#include <thread>
#include <vector>

#include "config/uConfigServidor.h"
#include "core/uConfigBD.h"
#include "core/uEventosServRest.h"
#include "core/uSessaoDados.h"
#include "core/udmServidor.h"
#include "db/uDBQuery.h"
#include "diagnostics/uLogServidor.h"
#include "rest/uRestHTTPWebDispatcher.h"
#include "rest/uRestSession.h"
#include "support/pgtest.h"
#include "util/uMensagem.h"

namespace tamrix::core {
namespace {

using namespace std::chrono_literals;

// A server class of the test: stores a session's login and answers from its tenant database.
class TsmTeste {
 public:
  std::string Entrar(const std::string& pspToken, const std::string& pspUsuario) {
    GravarToken(pspToken);
    GravarUsuario(pspUsuario);
    return "ok";
  }
  // The tenant database reached, and the connection's SERVER and Workstation parameters.
  std::string Banco() {
    db::TDBConnection* c = dmServidor->PegarConexao(true);
    // A second request within the call gets the same connection.
    if (dmServidor->PegarConexao(true) != c) return "outra conexão";
    db::TDBQuery q(c);
    q.SetSQL("SELECT current_database()");
    q.Open();
    return q.Fields(0).AsString() + "|" + c->Params().Value("SERVER") + "|" +
           c->Params().Value("Workstation");
  }
  std::string Nada() { return dmServidor->PegarConexao(false) == nullptr ? "sem" : "com"; }

  static rest::TRestServerClass Tabela(rest::TLifeCycle ciclo = rest::TLifeCycle::lcSession) {
    return rest::TTabelaClasse<TsmTeste>("TsmTeste", ciclo)
        .Metodo("Entrar", &TsmTeste::Entrar, "pspToken", "pspUsuario")
        .Metodo("Banco", &TsmTeste::Banco)
        .Metodo("Nada", &TsmTeste::Nada);
  }
};

class TsmBaseTeste {};

// Points the process-wide log at a file of this test and empties it.
class LogDoTeste {
 public:
  LogDoTeste() {
    path_ = (std::filesystem::temp_directory_path() /
             ("tamrix-dmservidor-" + std::to_string(::getpid()) + ".txt"))
                .string();
    auto& log = diagnostics::TLogServidorSingleton::GetInstance();
    log.DefinirArquivo(path_);
    log.LimparLog();
  }
  ~LogDoTeste() { std::remove(path_.c_str()); }
  void Limpar() { diagnostics::TLogServidorSingleton::GetInstance().LimparLog(); }
  std::vector<std::string> Linhas() const {
    return diagnostics::TLogServidorSingleton::GetInstance().Linhas();
  }

 private:
  std::string path_;
};

bool LinhaHorario(const std::string& linha, const std::string& texto) {
  static const std::regex kHorario(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - )");
  return std::regex_search(linha, kHorario) && linha.size() == 22 + texto.size() &&
         linha.compare(22, std::string::npos, texto) == 0;
}

bool LinhaErro(const std::string& linha, const std::string& texto) {
  static const std::regex kErro(R"(^\* ERRO \d\d/\d\d/\d{4} \d\d:\d\d:\d\d \* )");
  return std::regex_search(linha, kErro) && linha.compare(29, std::string::npos, texto) == 0;
}

class DmServidorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    const auto* env = pgtest::Env();
    main_ = std::make_unique<pgtest::TPgScratchDatabase>(env->mainTemplate);
    ConfigurarPrincipal(env->passwordScrambled);
  }
  void TearDown() override {
    util::DefinirJanelaPrincipal({});
    dm_.reset();
  }

  void ConfigurarPrincipal(const std::string& senhaEmbaralhada, const std::string& instancia = {}) {
    const auto* env = pgtest::Env();
    auto& config = config::TConfigServidorSingleton::GetInstance();
    config.SetHost(env->host);
    config.SetInstancia(instancia);
    config.SetDatabase(main_->Name());
    config.SetUsuarioBD(env->userScrambled);
    config.SetSenhaBD(senhaEmbaralhada);
    config.SetDriver("PostgreSQL");
    config.SetPortaBD(std::stoi(env->port));
    // Backends are counted here: every connection must really close at the end of its call.
    config.SetReutilizarConexoes(false);
  }

  TdmServidor& Criar(std::chrono::milliseconds espera = 30s) {
    TOpcoesDmServidor o;
    o.Classes.push_back(TsmTeste::Tabela(rest::TLifeCycle::lcInvocation));
    o.ClasseBase = rest::TTabelaClasse<TsmBaseTeste>("TsmBase");
    o.EsperaChamadas = espera;
    dm_ = std::make_unique<TdmServidor>(std::move(o));
    dispatcher_ = std::make_unique<rest::TRestHTTPWebDispatcher>(dm_->RestServer(),
                                                                 &dm_->RestAuthenticationManager());
    return *dm_;
  }

  // One REST call; sessao names the session (empty: a new one, whose id comes back there).
  util::TWebResponse Chamar(const std::string& caminho, std::string& sessao) {
    util::TWebRequest req;
    req.Method = "GET";
    req.MethodType = util::TMethodType::mtGet;
    req.ProtocolVersion = "HTTP/1.1";
    req.PathInfo = req.RawPathInfo = "/tamrix/rest/TsmTeste/" + caminho;
    if (!sessao.empty()) req.Headers.push_back({"Pragma", "dssession=" + sessao});
    util::TWebResponse r;
    dispatcher_->DispatchRequest(req, r);
    for (const auto& h : r.CustomHeaders) {
      static const std::regex kId("dssession=([0-9.]+)");
      std::smatch m;
      if (h.Name == "Pragma" && std::regex_search(h.Value, m, kId)) sessao = m[1];
    }
    return r;
  }
  // The same from a request thread of its own (the test's thread is the server thread).
  util::TWebResponse ChamarNumaThread(const std::string& caminho, std::string& sessao) {
    util::TWebResponse r;
    std::thread([&] { r = Chamar(caminho, sessao); }).join();
    return r;
  }
  std::string Sessao(const std::string& token, const std::string& usuario = "ana") {
    std::string id;
    EXPECT_EQ(Chamar("Entrar/" + token + "/" + usuario, id).Content, R"({"result":["ok"]})");
    return id;
  }

  std::string TextoLog() const {
    std::string t;
    for (const auto& l : log_.Linhas()) t += l + "\n";
    return t;
  }
  std::string Eventos() {
    return pgtest::QueryText(main_->Name(),
                             "SELECT coalesce(string_agg(descricao, '|' ORDER BY id_evento), '') "
                             "FROM EventosServRest");
  }
  void RegistrarToken(const std::string& token, const std::string& instancia,
                      const std::string& banco) {
    const auto* env = pgtest::Env();
    pgtest::Exec(main_->Name(), "INSERT INTO ConfigBD VALUES ('" + token + "', '127.0.0.1', '" +
                                    instancia + "', '" + banco + "', '" + env->userScrambled +
                                    "', '" + env->passwordScrambled + "')");
  }

  std::unique_ptr<pgtest::TPgScratchDatabase> main_;
  LogDoTeste log_;
  std::unique_ptr<TdmServidor> dm_;
  std::unique_ptr<rest::TRestHTTPWebDispatcher> dispatcher_;
};

// A call simulated on the calling thread: the session bound as the REST layer binds it, and
// the end-of-call release at the end.
class TChamadaSimulada {
 public:
  TChamadaSimulada(TdmServidor& dm, const std::string& token)
      : dm_(dm),
        sessao_(std::make_shared<rest::TRestSession>("1.2.3", "", std::chrono::steady_clock::now(),
                                                     1200s)),
        vinculo_(sessao_) {
    GravarToken(token);
    GravarUsuario("teste");
  }
  ~TChamadaSimulada() { dm_.RestServerDisconnect(); }

 private:
  TdmServidor& dm_;
  std::shared_ptr<rest::TRestSession> sessao_;
  rest::TSessaoDaThread vinculo_;
};

std::string BancoAtual(db::TDBConnection& c) {
  db::TDBQuery q(&c);
  q.SetSQL("SELECT current_database()");
  q.Open();
  return q.Fields(0).AsString();
}

TEST_F(DmServidorTest, CreationRegistersBaseThenClassesAllPerSessionAndAcceptsEveryone) {
  auto& dm = Criar();
  EXPECT_EQ(dmServidor, &dm);
  EXPECT_EQ(PegarRestServer(), &dm.RestServer());
  EXPECT_EQ(PegarRestAuthenticationManager(), &dm.RestAuthenticationManager());
  EXPECT_FALSE(dm.RestServer().Iniciado());
  EXPECT_FALSE(dm.Conexao().Connected());
  EXPECT_EQ(dm.ThreadIDServer(), 0u);
  const auto& classes = dm.RestServer().Registro()->Classes();
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes[0].Nome, "TsmBase");
  EXPECT_EQ(classes[1].Nome, "TsmTeste");
  for (const auto& c : classes) EXPECT_EQ(c.LifeCycle, rest::TLifeCycle::lcSession) << c.Nome;
  EXPECT_TRUE(dm.RestAuthenticationManager().Autenticar("tamrix", "rest/", "quem", "qualquer"));
  EXPECT_TRUE(dm.RestAuthenticationManager().Autorizar({"TsmTeste", "TsmTeste.Banco", "x", {}}));
  EXPECT_EQ(dm.Conexao().Params().Value("MARS"), "yes");
  dm_.reset();
  EXPECT_EQ(dmServidor, nullptr);
  EXPECT_EQ(PegarRestServer(), nullptr);
}

TEST_F(DmServidorTest, StartAndStopWriteTheirLinesAndEvents) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  EXPECT_TRUE(dm.RestServer().Iniciado());
  EXPECT_TRUE(dm.Conexao().Connected());
  EXPECT_EQ(dm.ThreadIDServer(), static_cast<std::uint32_t>(::gettid()));
  EXPECT_TRUE(dm.ServidorExecutando());
  EXPECT_EQ(dm.PegarConexao(true), &dm.Conexao());
  EXPECT_EQ(dm.Conexao().Params().Value("SERVER"), pgtest::Env()->host);
  EXPECT_NE(dm.Conexao().Params().Value("Workstation").find(" - TamrixRestServer"),
            std::string::npos);
  EXPECT_EQ(dm.Conexao().Params().Value("Password"), pgtest::Env()->password);
  EXPECT_EQ(Eventos(), "Servidor iniciado.");
  auto linhas = log_.Linhas();
  ASSERT_EQ(linhas.size(), 1u);
  EXPECT_TRUE(LinhaHorario(linhas[0], "Iniciando servidor.")) << linhas[0];

  dm.PararServidor();
  EXPECT_FALSE(dm.RestServer().Iniciado());
  EXPECT_FALSE(dm.Conexao().Connected());
  EXPECT_EQ(Eventos(), "Servidor iniciado.|Servidor parado.");
  linhas = log_.Linhas();
  ASSERT_EQ(linhas.size(), 2u);
  EXPECT_TRUE(LinhaHorario(linhas[1], "Parando servidor.")) << linhas[1];
  // The main thread still gets the (closed) main connection.
  EXPECT_EQ(dm.PegarConexao(true), &dm.Conexao());

  // A second start repeats the whole sequence.
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  EXPECT_EQ(Eventos(), "Servidor iniciado.|Servidor parado.|Servidor iniciado.");
}

TEST_F(DmServidorTest, InstanceNameFollowsTheHostWithABackslash) {
  ConfigurarPrincipal(pgtest::Env()->passwordScrambled, "SQLEXPRESS");
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();  // PostgreSQL has no instances and ignores it
  EXPECT_EQ(dm.Conexao().Params().Value("SERVER"), pgtest::Env()->host + "\\SQLEXPRESS");
}

TEST_F(DmServidorTest, WrongPasswordShowsOneBoxLogsTheErrorStopsOnceAndFails) {
  ConfigurarPrincipal("V2toMXRlWX9hWX=");  // not the role's password
  std::vector<std::string> caixas;
  util::DefinirJanelaPrincipal([&](const std::string& t) { caixas.push_back(t); });
  auto& dm = Criar();
  EXPECT_FALSE(dm.IniciarServidor());
  EXPECT_FALSE(dm.RestServer().Iniciado());
  EXPECT_FALSE(dm.Conexao().Connected());
  const std::string texto = "Usuário ou senha do banco de dados inválido.";
  EXPECT_EQ(caixas, std::vector<std::string>{texto});
  const auto linhas = log_.Linhas();
  ASSERT_EQ(linhas.size(), 3u);
  EXPECT_TRUE(LinhaHorario(linhas[0], "Iniciando servidor."));
  EXPECT_TRUE(LinhaErro(linhas[1], texto)) << linhas[1];
  EXPECT_TRUE(LinhaHorario(linhas[2], "Parando servidor.")) << linhas[2];
  EXPECT_EQ(Eventos(), "");
}

TEST_F(DmServidorTest, SessionsOfDifferentTokensOnOneThreadReachTheirOwnTenants) {
  RegistrarToken("TkInstancia", "SQLEXPRESS", pgtest::Env()->tenant1Db);
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  const std::string loja1 = Sessao(pgtest::kTokenLoja1, "ana");
  const std::string loja2 = Sessao(pgtest::kTokenLoja2, "bia");
  const std::string inst = Sessao("TkInstancia", "caio");
  const std::string estacao = " - TamrixRestServer (";
  // All on this one thread, one after the other, as a listener that reuses threads serves.
  struct {
    std::string sessao, banco, servidor, usuario;
  } casos[] = {
      {loja1, pgtest::Env()->tenant1Db, "127.0.0.1", "ana"},                // instancia null
      {loja2, pgtest::Env()->tenant2Db, "127.0.0.1", "bia"},                // instancia ''
      {inst, pgtest::Env()->tenant1Db, "127.0.0.1\\\\SQLEXPRESS", "caio"},  // JSON-escaped
      {loja1, pgtest::Env()->tenant1Db, "127.0.0.1", "ana"},
  };
  std::thread([&] {
    for (auto& c : casos) {
      std::string id = c.sessao;
      EXPECT_EQ(Chamar("Nada", id).Content, R"({"result":["sem"]})");
      const auto r = Chamar("Banco", id);
      EXPECT_EQ(r.StatusCode, 200) << r.Content;
      const std::string esperado = c.banco + "|" + c.servidor + "|";
      EXPECT_EQ(r.Content.rfind(R"({"result":[")" + esperado, 0), 0u) << r.Content;
      EXPECT_NE(r.Content.find(estacao + c.usuario + ")"), std::string::npos) << r.Content;
      EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
    }
  }).join();
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
  EXPECT_EQ(Eventos(), "Servidor iniciado.");
  EXPECT_EQ(log_.Linhas().size(), 1u);
}

TEST_F(DmServidorTest, UnregisteredTokenGivesOneErrorLineAndTwoEvents) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  // A token nobody registered, and a session that never logged in (two blanks after Token).
  for (const std::string token : {"TkNinguem", ""}) {
    SCOPED_TRACE("token '" + token + "'");
    log_.Limpar();
    pgtest::Exec(main_->Name(), "DELETE FROM EventosServRest");
    std::string id;
    if (!token.empty()) id = Sessao(token);
    const std::string msg = "Token " + token + " não cadastrado.";
    const auto r = ChamarNumaThread("Banco", id);
    EXPECT_EQ(r.StatusCode, 500);
    EXPECT_EQ(r.Content, R"({"error":"Token )" + token + R"( n\u00E3o cadastrado."})");
    const auto linhas = log_.Linhas();
    ASSERT_EQ(linhas.size(), 1u);
    EXPECT_TRUE(LinhaErro(linhas[0], "Ocorreu um erro inesperado. Detalhes: " + msg +
                                         " (Exception). [Erro original: " + msg + "]"))
        << linhas[0];
    EXPECT_EQ(Eventos(), msg + "|* ERRO * " + msg);
    EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
  }
}

// The main connection lives as long as the server: when the database ends its session (a
// restart), the call that meets it fails with the engine's error and the next one reopens it.
TEST_F(DmServidorTest, MainConnectionDroppedByTheDatabaseIsReopenedByTheNextUse) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  RegistrarToken("TkVolta", "", pgtest::Env()->tenant1Db);
  auto& configBD = TConfigBDSingleton::GetInstance();
  ASSERT_TRUE(configBD.ConsultarTokenExiste("TkVolta"));
  pgtest::Exec("postgres",
               "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                   main_->Name() + "' AND pid <> pg_backend_pid()");
  bool existe = false;
  for (int tentativa = 0; tentativa < 2 && !existe; ++tentativa) {
    try {
      existe = configBD.ConsultarTokenExiste("TkVolta");
    } catch (const diagnostics::EDBEngineException& e) {
      EXPECT_EQ(tentativa, 0) << e.Message();
      EXPECT_EQ(e.Kind(), diagnostics::ekServerGone) << e.Message();
    }
  }
  EXPECT_TRUE(existe);
  EXPECT_TRUE(dm.Conexao().Connected());
}

TEST_F(DmServidorTest, TenantDatabaseThatCannotOpenGivesTheConnectionText) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  std::string id = Sessao(pgtest::kTokenSemBanco, "rui");
  const auto r = ChamarNumaThread("Banco", id);
  EXPECT_EQ(r.StatusCode, 500);
  const std::string inicio =
      R"(N\u00E3o foi poss\u00EDvel conectar ao banco de dados tamrix_inexistente em 127.0.0.1.\r\nDetalhes: )";
  const std::string fim =
      std::string(R"(\r\n  - Token )") + pgtest::kTokenSemBanco + R"(\r\n  - Usu\u00E1rio rui)";
  EXPECT_NE(r.Content.find(inicio), std::string::npos) << r.Content;
  EXPECT_NE(r.Content.find(fim + "\"}"), std::string::npos) << r.Content;
  const std::string eventos = Eventos();
  EXPECT_EQ(eventos.rfind("Servidor iniciado.|* ERRO * Não foi possível conectar", 0), 0u)
      << eventos;
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
}

TEST_F(DmServidorTest, TransactionsAndSessionId) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  std::thread([&] {
    TChamadaSimulada chamada(dm, pgtest::kTokenLoja1);
    EXPECT_FALSE(dm.EstaEmTransacao());  // opens the connection
    EXPECT_EQ(dm.QuantidadeConexoes(), 1u);
    EXPECT_FALSE(dm.ComitarTransacao());
    EXPECT_FALSE(dm.VoltarTransacao());
    EXPECT_TRUE(dm.IniciarTransacao());
    EXPECT_FALSE(dm.IniciarTransacao());
    EXPECT_TRUE(dm.EstaEmTransacao());
    EXPECT_TRUE(dm.ComitarTransacao());
    EXPECT_FALSE(dm.ComitarTransacao());
    EXPECT_TRUE(dm.IniciarTransacao());
    EXPECT_TRUE(dm.VoltarTransacao());
    EXPECT_FALSE(dm.EstaEmTransacao());
    db::TDBQuery q(dm.PegarConexao(false));
    q.SetSQL("SELECT pg_backend_pid()");
    q.Open();
    EXPECT_EQ(dm.PegarSPID(), q.Fields(0).AsInteger());
  }).join();
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
  // The server thread works on the main connection.
  EXPECT_TRUE(dm.IniciarTransacao());
  EXPECT_TRUE(dm.Conexao().InTransaction());
  EXPECT_TRUE(dm.VoltarTransacao());
}

TEST_F(DmServidorTest, ReleaseRollsBackWhatTheCallLeftUncommitted) {
  pgtest::TPgScratchDatabase loja(pgtest::Env()->tenant1Template);
  RegistrarToken("TkRascunho", "", loja.Name());
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  const auto contar = [&] {
    return pgtest::QueryText(loja.Name(), "SELECT count(*) FROM Cidade WHERE cd_cidade = 999001");
  };
  // One call: a row inserted in a transaction, committed or left open.
  const auto inserir = [&](bool comitar) {
    std::thread([&] {
      TChamadaSimulada chamada(dm, "TkRascunho");
      ASSERT_TRUE(dm.IniciarTransacao());
      db::TDBQuery q(dm.PegarConexao(true));
      q.SetSQL("INSERT INTO Cidade (cd_cidade, nome, cd_estado) VALUES (999001, 'Nova', 'SP')");
      q.ExecSQL();
      if (comitar) {
        EXPECT_TRUE(dm.ComitarTransacao());
      }
    }).join();
  };
  inserir(false);
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
  EXPECT_EQ(contar(), "0");
  inserir(true);  // the same call committed keeps its row
  EXPECT_EQ(contar(), "1");
}

TEST_F(DmServidorTest, TwoHundredConcurrentCallsLeaveTheTableEmpty) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  const std::string sessoes[] = {Sessao(pgtest::kTokenLoja1), Sessao(pgtest::kTokenLoja2)};
  const std::string bancos[] = {pgtest::Env()->tenant1Db, pgtest::Env()->tenant2Db};
  constexpr int kThreads = 20, kChamadas = 10;
  std::atomic<int> certas{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kChamadas; ++i) {
        const int k = (t + i) % 2;
        std::string id = sessoes[k];
        const auto r = Chamar("Banco", id);
        if (r.Content.rfind(R"({"result":[")" + bancos[k] + "|", 0) == 0)
          ++certas;
        else
          ADD_FAILURE() << r.Content;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(certas, kThreads * kChamadas);
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
  // A backend leaves pg_stat_activity a moment after its client closed: wait for it.
  const std::string abertas = "SELECT count(*) FROM pg_stat_activity WHERE datname IN ('" +
                              bancos[0] + "', '" + bancos[1] +
                              "') AND application_name = 'TamrixRestServer'";
  for (int i = 0; i < 100 && pgtest::QueryText(main_->Name(), abertas) != "0"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(pgtest::QueryText(main_->Name(), abertas), "0");
}

TEST_F(DmServidorTest, StopWaitsForRunningCallsBeforeTheirConnectionsGo) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  constexpr int kChamadas = 3;
  std::atomic<int> dentro{0}, liberadas{0}, consultasBoas{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kChamadas; ++i) {
    threads.emplace_back([&] {
      {
        TChamadaSimulada chamada(dm, pgtest::kTokenLoja1);
        db::TDBConnection* c = dm.PegarConexao(true);
        ++dentro;
        std::this_thread::sleep_for(300ms);  // the stop starts meanwhile
        if (c->Connected() && BancoAtual(*c) == pgtest::Env()->tenant1Db) ++consultasBoas;
      }
      ++liberadas;
    });
  }
  while (dentro < kChamadas) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(dm.QuantidadeConexoes(), static_cast<std::size_t>(kChamadas));
  dm.PararServidor();
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
  EXPECT_EQ(consultasBoas, kChamadas);
  for (auto& t : threads) t.join();
  EXPECT_EQ(liberadas, kChamadas);
}

TEST_F(DmServidorTest, ACallOutlastingTheStopKeepsItsConnectionUntilItEnds) {
  auto& dm = Criar(50ms);
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  std::promise<void> dentro, parou;
  std::atomic<bool> consultaBoa{false};
  std::thread t([&] {
    TChamadaSimulada chamada(dm, pgtest::kTokenLoja2);
    db::TDBConnection* c = dm.PegarConexao(true);
    dentro.set_value();
    parou.get_future().wait();
    consultaBoa =
        c->Connected() && BancoAtual(*c) == pgtest::Env()->tenant2Db && dm.PegarConexao(true) == c;
  });
  dentro.get_future().wait();
  dm.PararServidor();  // gives up waiting after 50 ms
  EXPECT_EQ(dm.QuantidadeConexoes(), 1u);
  parou.set_value();
  t.join();
  EXPECT_TRUE(consultaBoa);
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
  const auto linhas = log_.Linhas();
  ASSERT_FALSE(linhas.empty());
  EXPECT_TRUE(LinhaErro(linhas.back(),
                        "1 chamada(s) ainda em andamento ao parar o servidor; "
                        "cada uma fecha sua conexão ao terminar."))
      << linhas.back();
}

TEST_F(DmServidorTest, AThreadEndingWithoutReleaseFreesItsEntry) {
  auto& dm = Criar();
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  std::thread([&] {
    rest::TSessaoDaThread vinculo(
        std::make_shared<rest::TRestSession>("9.9.9", "", std::chrono::steady_clock::now(), 1200s));
    GravarToken(pgtest::kTokenLoja1);
    ASSERT_NE(dm.PegarConexao(true), nullptr);
    EXPECT_EQ(dm.QuantidadeConexoes(), 1u);
  }).join();
  EXPECT_EQ(dm.QuantidadeConexoes(), 0u);
}

TEST_F(DmServidorTest, ColumnFormatsOfTheMainDatabase) {
  pgtest::Exec(main_->Name(),
               "CREATE TABLE Preco (valor numeric(15,3), taxa money, nome varchar(10))");
  auto& dm = Criar();
  EXPECT_FALSE(dm.PegarFormatoCampo("preco", "valor"));
  ASSERT_TRUE(dm.IniciarServidor()) << TextoLog();
  EXPECT_TRUE(dm.ColunasAbertas());
  const auto valor = dm.PegarFormatoCampo("preco", "valor");
  ASSERT_TRUE(valor);
  EXPECT_EQ(valor->Escala, 3);
  EXPECT_EQ(valor->Precisao, 15);
  EXPECT_EQ(valor->Tipo, "D");
  const auto taxa = dm.PegarFormatoCampo("preco", "taxa");
  ASSERT_TRUE(taxa);
  EXPECT_EQ(taxa->Tipo, "M");
  EXPECT_FALSE(dm.PegarFormatoCampo("preco", "nome"));    // not money or decimal
  EXPECT_FALSE(dm.PegarFormatoCampo("preco", " valor"));  // exact names
  EXPECT_FALSE(dm.PegarFormatoCampo("", ""));
  dm.PararServidor();
  EXPECT_FALSE(dm.ColunasAbertas());
  EXPECT_FALSE(dm.PegarFormatoCampo("preco", "valor"));
}

TEST(SessaoDadosTest, AccessorsOverTheCallsSession) {
  EXPECT_EQ(PegarToken(), "");  // no session on this thread
  EXPECT_EQ(PegarCodigoUsuario(), 0);
  EXPECT_THROW(GravarToken("x"), diagnostics::Exception);
  auto sessao =
      std::make_shared<rest::TRestSession>("1.1.1", "", std::chrono::steady_clock::now(), 1200s);
  rest::TSessaoDaThread vinculo(sessao);
  EXPECT_EQ(PegarUsuario(), "");
  EXPECT_EQ(PegarCodigoUsuario(), 0);  // never written
  GravarToken("Tk");
  GravarUsuario("ana");
  GravarSenha("s3");
  GravarApp("PDV");
  GravarCodigoUsuario(-42);
  EXPECT_EQ(PegarToken(), "Tk");
  EXPECT_EQ(PegarUsuario(), "ana");
  EXPECT_EQ(sessao->GetData("senha"), "s3");
  EXPECT_EQ(sessao->GetData("APP"), "PDV");
  EXPECT_EQ(sessao->GetData("codigousuario"), "-42");
  EXPECT_EQ(PegarCodigoUsuario(), -42);
  sessao->PutData("TOKEN", "Tk2");  // another letter case, the same key
  EXPECT_EQ(PegarToken(), "Tk2");
  for (const auto& [texto, valor] :
       std::vector<std::pair<std::string, int>>{{"17", 17},
                                                {"+5", 5},
                                                {"abc", 0},
                                                {"12x", 0},
                                                {" 3", 0},
                                                {"", 0},
                                                {"2147483647", 2147483647},
                                                {"2147483648", 0},
                                                {"+-1", 0}}) {
    sessao->PutData("CodigoUsuario", texto);
    EXPECT_EQ(PegarCodigoUsuario(), valor) << texto;
  }
}

}  // namespace
}  // namespace tamrix::core
