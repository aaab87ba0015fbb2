// The ways a call avoids holding its data twice, through the dispatcher: a result handed over
// already written as JSON, and a body the request gives up. The client sees no difference.
#include "rest/uRestEnvelope.h"

#include <gtest/gtest.h>

#include "ResultadosTeste.h"

namespace tamrix::rest::teste {
namespace {

class RestEnvelope : public ::testing::Test {
 protected:
  RestEnvelope() {
    servidor.RegistrarClasse(TabelaResultados());
    servidor.Iniciar();
  }
  TResposta Get(const std::string& caminho, bool modoCache) {
    TRequisicao r("GET", caminho);
    if (modoCache) r.Cabecalhos.push_back({"Accept", "application/rest"});
    return Chamar(d, r);
  }

  TRestServer servidor;
  TRestHTTPWebDispatcher d{servidor};
};

TEST_F(RestEnvelope, ReadyTextIsAnsweredAsThePlainStringWouldBe) {
  const struct {
    const char *Pronto, *Plano, *Query;
    bool Cache;
  } casos[] = {
      {"TextoPronto", "Texto", "", false},
      {"TextoPronto", "Texto", "?ss.o=1&ss.c=4", false},  // cropped by characters
      {"ProntoComSaida", "ComSaida", "", false},          // not the first element
      {"ProntoComSaida", "ComSaida", "?ss[1].r=5,2", false},
      {"TextoPronto", "Texto", "", true},
      {"ProntoComSaida", "ComSaida", "?ss[0].c=1", true},
  };
  // a ã " / \ 😀 z
  const std::string texto = "/a%C3%A3%22%2F%5C%F0%9F%98%80z";
  for (const auto& c : casos) {
    SCOPED_TRACE(std::string(c.Pronto) + c.Query + (c.Cache ? " cache" : ""));
    const auto pronto =
        Get("/tamrix/rest/TsmResultados/" + std::string(c.Pronto) + texto + c.Query, c.Cache);
    const auto plano =
        Get("/tamrix/rest/TsmResultados/" + std::string(c.Plano) + texto + c.Query, c.Cache);
    EXPECT_EQ(pronto.R.StatusCode, 200);
    EXPECT_EQ(pronto.R.Content, plano.R.Content);
    EXPECT_EQ(pronto.R.ContentType, plano.R.ContentType);
  }
  EXPECT_EQ(Get("/tamrix/rest/TsmResultados/TextoPronto" + texto, false).R.Content,
            R"({"result":["a\u00E3\"\/\\\uD83D\uDE00z"]})");
}

TEST_F(RestEnvelope, OnlyARequestGivenUpLosesItsBody) {
  const struct {
    const char *Caminho, *Corpo, *Resposta;
    bool Tomado;
  } casos[] = {
      {"/tamrix/rest/TsmResultados/Tomar", R"({"a":[1,"x"]})",
       R"({"result":[{"a":[1,"x"],"tomado":true}]})", true},
      {"/tamrix/rest/TsmResultados/Tomar", R"({"_parameters":[{"b":2}]})",
       R"({"result":[{"b":2,"tomado":true}]})", true},
      // a body that stands for nothing: the query's one parameter is bound instead
      {"/tamrix/rest/TsmResultados/Tomar?v=%7B%7D", "xy", R"({"result":[{"tomado":true}]})", false},
      {"/tamrix/rest/TsmResultados/Tomar", "{",
       R"({"error":"Message content is not a valid JSON value."})", true},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Corpo);
    const util::TWebRequest mantido = MontarRequisicao({"POST", c.Caminho, c.Corpo});
    util::TWebRequest cedido = mantido;
    util::TWebResponse r1, r2;
    ASSERT_TRUE(d.DispatchRequest(mantido, r1));
    ASSERT_TRUE(d.DispatchRequest(cedido, r2));
    EXPECT_EQ(r1.Content, c.Resposta);
    EXPECT_EQ(r2.Content, c.Resposta);
    EXPECT_EQ(mantido.Content, c.Corpo);
    EXPECT_EQ(cedido.Content, c.Tomado ? "" : c.Corpo);
  }
}

}  // namespace
}  // namespace tamrix::rest::teste
