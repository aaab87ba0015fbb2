// The lock on password guessing through the real listener: the block after five wrong
// passwords, its doubling, what it leaves alone, that a blocked attempt never reaches the
// database, and that a spray of made-up names keeps memory flat.
#include <thread>

#include "e2e/e2e_servidor.h"

namespace tamrix::e2e {
namespace {

constexpr const char* kBloqueado = "Muitas tentativas de login sem sucesso. Tente novamente em ";

// A call from the given loopback source address (the lock counts by client address).
std::string LoginDe(const TServidorE2E& s, const char* origem, const std::string& sessao,
                    const std::string& usuario, const std::string& senha) {
  return EnviarBruto(s.Porta(),
                     "GET /tamrix/rest/TsmUsuario/Login/" + usuario + "/" + senha + "/" +
                         pgtest::kTokenLoja1 + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
                         (sessao.empty() ? "" : Pragma(sessao)) + "\r\n",
                     origem)
      .Body;
}

std::string Login(const TServidorE2E& s, const std::string& sessao, const std::string& usuario,
                  const std::string& senha, const std::string& metodo = "Login") {
  return s
      .Get("/tamrix/rest/TsmUsuario/" + metodo + "/" + usuario + "/" + senha + "/" +
               pgtest::kTokenLoja1,
           Pragma(sessao))
      .Body;
}

bool Bloqueado(const std::string& corpo, int segundos) {
  return corpo == std::string(R"({"result":[")") + kBloqueado + std::to_string(segundos) +
                      R"( segundos.",false]})";
}

TEST(BloqueioLoginE2E, BloqueioDobraSucessoLimpaEOBancoNaoEConsultado) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main{pgtest::Env()->mainTemplate};
  pgtest::TPgScratchDatabase tenant{pgtest::Env()->tenant1Template};
  pgtest::Exec(main.Name(), "UPDATE ConfigBD SET nome_bd = '" + tenant.Name() +
                                "' WHERE token = '" + pgtest::kTokenLoja1 + "'");
  TConfigE2E c;
  c.MainDb = main.Name();
  c.ExtraServidor = "BloqueioLogin=2\r\n";
  TServidorE2E s(c);
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string sessao = s.Get("/tamrix/rest/TsmComum/InverterString/a").Sessao();

  const std::string negado = R"({"result":["Usu\u00E1rio sem permiss\u00E3o de acesso.",false]})";
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Login(s, sessao, "ADMIN", "errada"), negado) << i;
  EXPECT_TRUE(Bloqueado(Login(s, sessao, "ADMIN", "errada"), 2));
  // The right password is refused too while the block lasts.
  EXPECT_TRUE(Bloqueado(Login(s, sessao, "ADMIN", "admin123"), 2));
  // So is the other call that checks a password, and another spelling of the same name.
  const auto dados =
      s.Get("/tamrix/rest/TsmUsuario/ConsultarDadosUsuario/ADMIN/admin123", Pragma(sessao));
  EXPECT_NE(dados.Body.find(kBloqueado), std::string::npos) << dados.Body;
  EXPECT_TRUE(Bloqueado(Login(s, sessao, "admin%20", "admin123"), 2));
  // Another user from the same address, and the same user from another address, are not
  // blocked (the other address's session is its own: a session counts for the address that
  // opened it).
  EXPECT_EQ(Login(s, sessao, "MARIA", "caixa01", "LoginPDV"), R"({"result":["Sucesso",true]})");
  EXPECT_EQ(LoginDe(s, "127.0.0.2", "", "ADMIN", "admin123"), R"({"result":["Sucesso",true]})");

  // The next failure after the block doubles it.
  std::this_thread::sleep_for(2100ms);
  EXPECT_EQ(Login(s, sessao, "ADMIN", "errada"), negado);
  EXPECT_TRUE(Bloqueado(Login(s, sessao, "ADMIN", "errada"), 4));

  // A success once it ends clears the count: four more failures do not block.
  std::this_thread::sleep_for(4100ms);
  EXPECT_EQ(Login(s, sessao, "ADMIN", "admin123"), R"({"result":["Sucesso",true]})");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Login(s, sessao, "ADMIN", "errada"), negado) << i;
  EXPECT_EQ(Login(s, sessao, "ADMIN", "admin123"), R"({"result":["Sucesso",true]})");

  // Blocked attempts never reach the database: with the tenant database gone, the blocked
  // user still gets the block, while anyone else gets the connection error.
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Login(s, sessao, "ADMIN", "errada"), negado) << i;
  pgtest::Exec("postgres", "DROP DATABASE " + tenant.Name() + " WITH (FORCE)");
  EXPECT_TRUE(Bloqueado(Login(s, sessao, "ADMIN", "admin123"), 2));
  const std::string outro = Login(s, sessao, "JOSE", "x");
  EXPECT_NE(outro.find(R"(N\u00E3o foi poss\u00EDvel conectar)"), std::string::npos) << outro;
  // Blocks are logged once per block.
  const std::string log = testes::LerArquivo(s.Pasta() + "/log.txt");
  std::size_t n = 0;
  for (auto p = log.find("Login bloqueado"); p != std::string::npos;
       p = log.find("Login bloqueado", p + 1))
    ++n;
  EXPECT_EQ(n, 3u) << log;
}

TEST(BloqueioLoginE2E, NomesInventadosBloqueiamOEnderecoSemCrescerAMemoria) {
  TAMRIX_REQUIRE_DIST();
  if (!kMemoriaComparavel) GTEST_SKIP() << "memory figures are not comparable under ASan";
  TServidorE2E s;
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string sessao = s.Get("/tamrix/rest/TsmComum/InverterString/a").Sessao();
  for (int i = 0; i < 1000; ++i) Login(s, sessao, "aquecimento", "x");
  const long antes = MemoriaKiB(s.Pid(), "VmRSS");

  constexpr int kThreads = 4, kPorThread = 25000;
  std::atomic<int> bloqueados{0};
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kPorThread; ++i)
        if (Login(s, sessao, "u" + std::to_string(t) + "x" + std::to_string(i), "x")
                .find(kBloqueado) != std::string::npos)
          ++bloqueados;
    });
  for (auto& t : ts) t.join();
  const long depois = MemoriaKiB(s.Pid(), "VmRSS");
  // Only the first 50 names of the address reach the database; the rest are refused.
  EXPECT_GE(bloqueados.load(), kThreads * kPorThread - 50);
  EXPECT_LT(depois - antes, 8 * 1024) << antes << " KiB -> " << depois << " KiB";
}

}  // namespace
}  // namespace tamrix::e2e
