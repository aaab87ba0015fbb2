// Request filters and cache mode over real sockets on ConsultarCadastro: "?t.c=2" answers the
// first two rows of the full answer, and in cache mode the same rows come from /tamrix/cache
// within the entry limit that config.ini sets.
#include "e2e/e2e_servidor.h"
#include "rest/uDataSetReader.h"

namespace tamrix::e2e {
namespace {

constexpr const char* kCadastros = "/tamrix/rest/TsmCadastro/ConsultarCadastro/0///";

TEST(FiltrosCacheE2E, TableFilterAndCacheOnConsultarCadastro) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s(TConfigE2E{.ExtraServidor = "CacheMaximoEntradas=1\r\n"});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string sessao = s.Get("/tamrix/rest/TsmComum/InverterString/a").Sessao();
  ASSERT_EQ(
      s.Get(std::string("/tamrix/rest/TsmUsuario/Login/ADMIN/admin123/") + pgtest::kTokenLoja1,
            Pragma(sessao))
          .Body,
      R"({"result":["Sucesso",true]})");

  const auto todos = rest::LerRespostaDataSets(s.Get(kCadastros, Pragma(sessao)).Body);
  ASSERT_EQ(todos.size(), 1u);
  ASSERT_GT(todos[0].Linhas.size(), 2u);

  const auto doisResp = s.Get(std::string(kCadastros) + "?t.c=2", Pragma(sessao));
  ASSERT_EQ(doisResp.Status, 200) << doisResp.Body;
  const auto dois = rest::LerRespostaDataSets(doisResp.Body);
  ASSERT_EQ(dois.size(), 1u);
  EXPECT_EQ(dois[0].Colunas, todos[0].Colunas);
  EXPECT_EQ(dois[0].Linhas,
            std::vector<rest::TLinhaDataSet>(todos[0].Linhas.begin(), todos[0].Linhas.begin() + 2));

  const auto rejeitado = s.Get(std::string(kCadastros) + "?t.r=5", Pragma(sessao));
  EXPECT_EQ(rejeitado.Status, 409);
  EXPECT_EQ(rejeitado.Body, "");

  // Cache mode: two calls, and the entry limit of 1 keeps only the second.
  const std::string cache = Pragma(sessao) + "Accept: application/rest\r\n";
  EXPECT_EQ(s.Get(std::string(kCadastros) + "?t.c=1", cache).Body,
            R"({"result":["0\/0\/0"],"cacheId":0,"cmdIndex":0})");
  const auto guardado = s.Get(std::string(kCadastros) + "?t.c=2", cache);
  EXPECT_EQ(guardado.Header("Content-Type").rfind("application/rest", 0), 0u);
  EXPECT_EQ(guardado.Body, R"({"result":["1\/0\/0"],"cacheId":1,"cmdIndex":0})");
  EXPECT_EQ(s.Get("/tamrix/cache/0", Pragma(sessao)).Body,
            R"({"error":"There is no cached item with ID: 0"})");
  const auto valor = s.Get("/tamrix/cache/1/0/0", Pragma(sessao));
  ASSERT_EQ(valor.Status, 200);
  EXPECT_EQ(valor.Body,
            R"({"result":)" + doisResp.Body.substr(11, doisResp.Body.size() - 13) + "}");
  EXPECT_EQ(Pedir(s.Porta(), "PUT", "/tamrix/cache/1", Pragma(sessao)).Status, 501);
}

}  // namespace
}  // namespace tamrix::e2e
