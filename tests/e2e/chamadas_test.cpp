// REST calls through the real listener of the dist/ executable: sessions in the Pragma
// header, logins that reach each token's own tenant database, the error line and events of
// an unknown token, and tenant connections that never outlive their call.
#include <atomic>
#include <regex>
#include <thread>

#include "e2e/e2e_servidor.h"
#include "rest/uDataSetReader.h"

namespace tamrix::e2e {
namespace {

constexpr const char* kToken1 = pgtest::kTokenLoja1;
constexpr const char* kToken2 = pgtest::kTokenLoja2;

std::string Login(const TServidorE2E& s, const std::string& sessao, const std::string& usuario,
                  const std::string& senha, const std::string& token) {
  return s
      .Get("/tamrix/rest/TsmUsuario/Login/" + usuario + "/" + senha + "/" + token,
           sessao.empty() ? "" : Pragma(sessao))
      .Body;
}

// The "nome" column of every row ConsultarDadosUsuario answers in that session.
std::vector<std::string> NomesUsuario(const TServidorE2E& s, const std::string& sessao,
                                      const std::string& usuario, const std::string& senha) {
  const auto r = s.Get("/tamrix/rest/TsmUsuario/ConsultarDadosUsuario/" + usuario + "/" + senha,
                       Pragma(sessao));
  EXPECT_EQ(r.Status, 200) << r.Body;
  std::vector<std::string> nomes;
  const auto ds = rest::LerRespostaDataSets(r.Body);
  if (ds.empty()) return nomes;
  std::size_t col = 0;
  while (col < ds[0].Colunas.size() && ds[0].Colunas[col].Nome != "nome") ++col;
  EXPECT_LT(col, ds[0].Colunas.size());
  for (const auto& linha : ds[0].Linhas)
    if (col < linha.size()) nomes.push_back(linha[col].value_or(""));
  return nomes;
}

// Backends connected to a database now (counted from another database).
int ConexoesAbertas(const std::string& banco) {
  return std::stoi(pgtest::QueryText(
      "postgres", "SELECT count(*) FROM pg_stat_activity WHERE datname = '" + banco + "'"));
}

// Sessions ever opened on a database, as the statistics report them.
long SessoesAbertas(const std::string& banco) {
  return std::stol(pgtest::QueryText(
      "postgres", "SELECT sessions FROM pg_stat_database WHERE datname = '" + banco + "'"));
}

template <class F>
bool Esperar(F condicao, std::chrono::milliseconds limite = 15s) {
  const auto fim = std::chrono::steady_clock::now() + limite;
  while (!condicao()) {
    if (std::chrono::steady_clock::now() >= fim) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// A main database whose first token leads to a private copy of tenant 1, so connection
// counts are not disturbed by other tests.
struct TBancosPrivados {
  pgtest::TPgScratchDatabase main{pgtest::Env()->mainTemplate};
  pgtest::TPgScratchDatabase tenant{pgtest::Env()->tenant1Template};
  TBancosPrivados() {
    pgtest::Exec(main.Name(), "UPDATE ConfigBD SET nome_bd = '" + tenant.Name() +
                                  "' WHERE token = '" + kToken1 + "'");
  }
};

TEST(ChamadasE2E, SessionIdTravelsInPragmaAndClosedOrUnknownSessionsExpire) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s;
  ASSERT_TRUE(s.Iniciar()) << s.Erros();

  const auto nova = s.Get("/tamrix/rest/TsmComum/InverterString/abc");
  EXPECT_EQ(nova.Status, 200);
  EXPECT_EQ(nova.Body, R"({"result":["cba"]})");
  const std::string id = nova.Sessao();
  EXPECT_TRUE(std::regex_match(id, std::regex(R"(\d{1,6}\.\d{1,6}\.\d{1,6})"))) << id;

  const auto mesma = s.Get("/tamrix/rest/TsmComum/InverterString/xyz", Pragma(id));
  EXPECT_EQ(mesma.Sessao(), id);
  EXPECT_EQ(s.Get("/tamrix/rest/TsmComum/InverterString/q?sid=" + id).Sessao(), id);

  const auto inventada = s.Get("/tamrix/rest/TsmComum/InverterString/abc", Pragma("1.2.3"));
  EXPECT_EQ(inventada.Status, 403);
  EXPECT_EQ(inventada.Reason, "Session has expired");
  EXPECT_EQ(inventada.Header("Pragma"), "");

  const auto fechar = s.Get("/tamrix/rest/CloseSession/", Pragma(id));
  EXPECT_EQ(fechar.Status, 200);
  EXPECT_EQ(fechar.Reason, R"({"result":[true]})");
  EXPECT_EQ(s.Get("/tamrix/rest/TsmComum/InverterString/abc", Pragma(id)).Status, 403);

  // The pages and the generated client library come from the same process.
  const auto pagina = s.Get("/");
  EXPECT_EQ(pagina.Status, 200);
  EXPECT_NE(pagina.Body.find("serverfunctions.js"), std::string::npos);
  const auto js = s.Get("/js/serverfunctions.js");
  EXPECT_EQ(js.Status, 200);
  EXPECT_NE(js.Body.find("InverterString"), std::string::npos);
}

TEST(ChamadasE2E, SessionsOfDifferentTokensEachReachTheirOwnTenantDatabase) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s;
  ASSERT_TRUE(s.Iniciar()) << s.Erros();

  // Both tenants have an ADMIN, each with its own password.
  const std::string a = s.Get("/tamrix/rest/TsmComum/InverterString/a").Sessao();
  const std::string b = s.Get("/tamrix/rest/TsmComum/InverterString/b").Sessao();
  EXPECT_EQ(Login(s, a, "ADMIN", "admin123", kToken1), R"({"result":["Sucesso",true]})");
  EXPECT_EQ(Login(s, b, "ADMIN", "farma2016", kToken2), R"({"result":["Sucesso",true]})");

  // Served one after the other, each session keeps its own tenant.
  EXPECT_EQ(NomesUsuario(s, a, "ADMIN", "admin123"), std::vector<std::string>{"ADMINISTRADOR"});
  EXPECT_EQ(NomesUsuario(s, b, "ADMIN", "farma2016"),
            std::vector<std::string>{"ADMINISTRADOR FARMACIA"});
  EXPECT_TRUE(NomesUsuario(s, a, "ADMIN", "farma2016").empty());
  EXPECT_TRUE(NomesUsuario(s, b, "ADMIN", "admin123").empty());
  EXPECT_EQ(NomesUsuario(s, a, "ADMIN", "admin123"), std::vector<std::string>{"ADMINISTRADOR"});
}

TEST(ChamadasE2E, UnknownTokenGivesOneErrorLineAndTwoEvents) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  TServidorE2E s({.MainDb = main.Name()});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string msg = "Token TkNaoExiste-1 não cadastrado.";

  // Login turns the failure into its message; only the connection request's event is kept.
  const std::string sessao = s.Get("/tamrix/rest/TsmComum/InverterString/x").Sessao();
  // The answer is ASCII: "ã" travels as \u00E3.
  EXPECT_EQ(Login(s, sessao, "ADMIN", "admin123", "TkNaoExiste-1"),
            R"({"result":["Token TkNaoExiste-1 n\u00E3o cadastrado.",false]})");
  EXPECT_EQ(Eventos(main.Name()), (std::vector<std::string>{"Servidor iniciado.", msg}));
  EXPECT_EQ(s.Log().size(), 1u);

  // A data call of that session fails: the error envelope, one error line, two events.
  const auto r =
      s.Get("/tamrix/rest/TsmUsuario/ConsultarDadosUsuario/ADMIN/admin123", Pragma(sessao));
  EXPECT_EQ(r.Status, 500);
  EXPECT_NE(r.Body.find("TkNaoExiste-1"), std::string::npos) << r.Body;
  const auto log = s.Log();
  ASSERT_EQ(log.size(), 2u);
  const std::regex linha(R"(\* ERRO \d\d/\d\d/\d{4} \d\d:\d\d:\d\d \* (.*))");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(log[1], m, linha)) << log[1];
  EXPECT_EQ(m[1], "Ocorreu um erro inesperado. Detalhes: " + msg +
                      " (Exception). [Erro original: " + msg + "]");
  EXPECT_EQ(Eventos(main.Name()),
            (std::vector<std::string>{"Servidor iniciado.", msg, msg, "* ERRO * " + msg}));
}

TEST(ChamadasE2E, CallsThatNeedNoTenantOpenNoConnection) {
  TAMRIX_REQUIRE_DIST();
  TBancosPrivados bancos;
  // Without reuse, so that the login's backend is gone once its call ends.
  TServidorE2E s({.MainDb = bancos.main.Name(), .ExtraBD = "ReutilizarConexoes=0\r\n"});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();

  const long antes = SessoesAbertas(bancos.tenant.Name());
  const std::string sessao = s.Get("/tamrix/rest/TsmComum/InverterString/x").Sessao();
  ASSERT_EQ(Login(s, sessao, "ADMIN", "admin123", kToken1), R"({"result":["Sucesso",true]})");
  ASSERT_TRUE(Esperar([&] { return SessoesAbertas(bancos.tenant.Name()) == antes + 1; }))
      << "the login's connection is not seen in the statistics";
  ASSERT_TRUE(Esperar([&] { return ConexoesAbertas(bancos.tenant.Name()) == 0; }));

  // The session now holds a token, yet these calls never ask for its database.
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(s.Get("/tamrix/rest/TsmComum/InverterString/ab", Pragma(sessao)).Body,
              R"({"result":["ba"]})");
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(SessoesAbertas(bancos.tenant.Name()), antes + 1);
  EXPECT_EQ(ConexoesAbertas(bancos.tenant.Name()), 0);
}

TEST(ChamadasE2E, TwoHundredConcurrentCallsLeaveNoTenantConnectionBehind) {
  TAMRIX_REQUIRE_DIST();
  TBancosPrivados bancos;
  TServidorE2E s({.MainDb = bancos.main.Name(), .ExtraBD = "ReutilizarConexoes=0\r\n"});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  ASSERT_EQ(ConexoesAbertas(bancos.tenant.Name()), 0);

  std::atomic<int> sucesso{0}, limite{0}, outras{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 200; ++i)
    threads.emplace_back([&] {
      const auto r = s.Get(std::string("/tamrix/rest/TsmUsuario/Login/ADMIN/admin123/") + kToken1);
      if (r.Status == 200 && r.Body == R"({"result":["Sucesso",true]})")
        ++sucesso;
      else if (r.Status == 500 && r.Body.find("Maximum number of concurrent connections") == 0)
        ++limite;  // more than 32 requests in progress
      else
        ++outras;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(outras, 0);
  EXPECT_GT(sucesso, 0);
  EXPECT_EQ(sucesso + limite, 200);
  EXPECT_TRUE(Esperar([&] { return ConexoesAbertas(bancos.tenant.Name()) == 0; }))
      << ConexoesAbertas(bancos.tenant.Name()) << " connections still open";
  EXPECT_EQ(s.Log().size(), 1u) << "no call may fail";
}

}  // namespace
}  // namespace tamrix::e2e
