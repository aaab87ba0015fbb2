// Request filters through the dispatcher: "t" crops data-set rows before they are encoded
// (decoded here to check), "ss" crops strings, and faulty settings end the call unrun.
#include "rest/uRestFiltros.h"

#include <gtest/gtest.h>

#include "ResultadosTeste.h"

namespace tamrix::rest::teste {
namespace {

class RestFiltros : public ::testing::Test {
 protected:
  RestFiltros() {
    servidor.RegistrarClasse(TabelaResultados());
    servidor.Iniciar();
  }
  TResposta Get(const std::string& caminho) { return Chamar(d, {"GET", caminho}); }

  TRestServer servidor;
  TRestHTTPWebDispatcher d{servidor};
};

TEST_F(RestFiltros, TableFilterCropsRowsAndStopsFetching) {
  const struct {
    const char* Query;
    std::vector<int> Esperadas;
    std::size_t Buscadas;  // rows the data set was asked for
  } casos[] = {
      {"t.c=10", Sequencia(0, 10), 10},
      {"T.C=10", Sequencia(0, 10), 10},
      {"t.o=995", Sequencia(995, 5), 1000},
      {"t.r=5,3", {5, 6, 7}, 8},
      {"t.r=%205%20,%203", {5, 6, 7}, 8},
      {"t.o=2&t.c=3", {2, 3, 4}, 5},
      {"t[0].c=2", {0, 1}, 2},
      {"t[0,3].c=1", {0}, 1},
      {"t[1].c=2", Sequencia(0, 1000), 1000},  // another element: untouched
      {"t.c=0", {}, 0},
      {"t.o=5000", {}, 1000},
      {"ss.c=1", Sequencia(0, 1000), 1000},  // strings only
      {"foo=1&t.x=3&x.c=2&t=1&t[0]=4&t.x.c=9&json=TRUE", Sequencia(0, 1000), 1000},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Query);
    auto r = Get(std::string("/tamrix/rest/TsmResultados/Linhas/1000?") + c.Query);
    ASSERT_EQ(r.R.StatusCode, 200) << r.R.Content;
    const auto lidos = LerRespostaDataSets(r.R.Content);
    ASSERT_EQ(lidos.size(), 1u);
    EXPECT_EQ(Numeros(lidos[0]), c.Esperadas);
    EXPECT_EQ(lidos[0].Colunas.at(0).Nome, "n");
    ASSERT_TRUE(gUltimaColecao.expired());
    EXPECT_EQ(gLinhasBuscadas, c.Buscadas);
  }
}

TEST_F(RestFiltros, PositionsChooseTheElement) {
  // [0] is the out text, [1] the data set.
  const struct {
    const char* Query;
    const char* Texto;
    std::size_t Linhas;
  } casos[] = {
      {"", "linhas: 6", 6},
      {"ss[0].o=8", "6", 6},
      {"t[1].c=2&ss[0].r=0,6", "linhas", 2},
      {"t[0].c=2", "linhas: 6", 6},
      {"ss[1].c=2", "linhas: 6", 6},
      {"t[1].c=1&t[0].c=3", "linhas: 6", 1},  // disjoint positions do not conflict
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Query);
    auto r = Get(std::string("/tamrix/rest/TsmResultados/ComTexto/6?") + c.Query);
    ASSERT_EQ(r.R.StatusCode, 200) << r.R.Content;
    const auto corpo = boost::json::parse(r.R.Content);
    EXPECT_EQ(corpo.at("result").at(0).as_string(), c.Texto);
    EXPECT_EQ(LerRespostaDataSets(r.R.Content).at(0).Linhas.size(), c.Linhas);
  }
}

TEST_F(RestFiltros, StringFilterCountsCharactersNotBytes) {
  const struct {
    const char* Query;
    const char* Esperado;
  } casos[] = {
      {"ss.o=1&ss.c=2", R"({"result":["\u00E3\u00E7"]})"},
      {"ss.o=3", R"({"result":["\u00F5\uD83D\uDE00z"]})"},
      {"ss.r=4,1", R"({"result":["\uD83D\uDE00"]})"},
      {"ss.o=99", R"({"result":[""]})"},
      {"ss.c=0", R"({"result":[""]})"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Query);
    // "aãçõ😀z"
    auto r = Get(std::string("/tamrix/rest/TsmResultados/Texto/a%C3%A3%C3%A7%C3%B5%F0%9F%98%80z?") +
                 c.Query);
    EXPECT_EQ(r.R.StatusCode, 200);
    EXPECT_EQ(r.R.Content, c.Esperado);
  }
}

TEST_F(RestFiltros, FaultySettingsEndTheCallBeforeTheMethodRuns) {
  const std::string rejeitado =
      " is not accepted as a valid converter. The converter type might not be registered yet "
      "hence the request is rejected";
  const std::string conflito =
      "Query parameters are conflicting. This is usually due to references on the same output "
      "parameter";
  const struct {
    const char* Query;
    int Status;
    std::string Motivo;
  } casos[] = {
      {"t.r=5", 409, "Query parameter t.r (5)" + rejeitado},
      {"ss.r=abc", 409, "Query parameter ss.r (abc)" + rejeitado},
      {"t.c=-1", 409, "Query parameter t.c (-1)" + rejeitado},
      {"t.r=1,-2", 409, "Query parameter t.r (1,-2)" + rejeitado},
      {"t.c=1&t.c=2", 409, conflito},
      {"t.r=1,2&t.o=1", 409, conflito},
      {"t.c=1&t[0].o=2", 409, conflito},
      {"t[0,1].c=1&t[1].c=2", 409, conflito},
      {"t.c=abc", 500, ""},
      {"t.o=1.5", 500, ""},
      {"t.c=", 500, ""},
      {"t.r=a,b", 500, ""},
      {"t.r=1,2,3", 500, ""},
      {"t[x].c=1", 500, ""},
      {"t[].c=1", 500, ""},
      {"t[0.c=1", 500, ""},
      {"ss[1,].c=1", 500, ""},
      {"t.c=99999999999999999999", 500, ""},
      {"json=talvez", 500, ""},
      // The first faulty setting decides.
      {"t.c=x&t.r=5", 500, ""},
      {"t.r=5&t.c=x", 409, "Query parameter t.r (5)" + rejeitado},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Query);
    const int antes = gChamadasResultados;
    auto r = Get(std::string("/tamrix/rest/TsmResultados/Linhas/3?") + c.Query);
    EXPECT_EQ(r.R.StatusCode, c.Status);
    EXPECT_EQ(r.R.ReasonString, c.Motivo);
    EXPECT_FALSE(r.R.HasContent());
    EXPECT_EQ(gChamadasResultados, antes);
    EXPECT_FALSE(r.Sessao().empty());  // the session is bound all the same
  }
}

TEST_F(RestFiltros, SessionIdFieldsAreNotFiltersAndControlCharactersLeaveTheReason) {
  auto primeira = Get("/tamrix/rest/TsmResultados/Texto/abc");
  const std::string sid = primeira.Sessao();
  auto r = Get("/tamrix/rest/TsmResultados/Texto/abcdef?sid=" + sid + "&ss.c=2");
  EXPECT_EQ(r.R.Content, R"({"result":["ab"]})");
  EXPECT_EQ(r.Sessao(), sid);
  auto controle = Get("/tamrix/rest/TsmResultados/Texto/abc?t.r=%0D%0A");
  EXPECT_EQ(controle.R.StatusCode, 409);
  EXPECT_EQ(controle.R.ReasonString.find_first_of("\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tamrix::rest::teste
