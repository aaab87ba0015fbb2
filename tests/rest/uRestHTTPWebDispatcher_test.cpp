// The REST call protocol as a client sees it: paths, verbs, arguments, envelopes, statuses.
#include "rest/uRestHTTPWebDispatcher.h"

#include <gtest/gtest.h>

#include "RestTeste.h"

namespace tamrix::rest::teste {
namespace {

// Each row: verb, path (and query), body, expected status and body.
struct CasoChamada {
  std::string Verbo;
  std::string Caminho;
  std::optional<std::string> Corpo;
  int Status;
  const char* Resposta;
};

class RestProtocolo : public ::testing::Test {
 protected:
  RestProtocolo() {
    servidor.RegistrarClasse(TabelaTeste());
    servidor.DefinirOnError(
        [this](const TRestErrorEvent& e) { erros.push_back(e.Metodo + "|" + e.Error.what()); });
    servidor.DefinirOnDisconnect([this] { ++desconexoes; });
    servidor.Iniciar();
  }

  TResposta Get(const std::string& caminho) { return Chamar(d, {"GET", caminho}); }

  template <std::size_t N>
  void Verificar(const CasoChamada (&casos)[N]) {
    for (const auto& c : casos) {
      SCOPED_TRACE(c.Verbo + " " + c.Caminho);
      auto r = Chamar(d, {c.Verbo, c.Caminho, c.Corpo});
      EXPECT_EQ(r.R.StatusCode, c.Status);
      EXPECT_EQ(r.R.Content, c.Resposta);
    }
  }

  TRestServer servidor;
  TRestHTTPWebDispatcher d{servidor};
  std::vector<std::string> erros;
  int desconexoes = 0;
};

TEST_F(RestProtocolo, AnswersResultEnvelopeWithNewSession) {
  auto r = Get("/tamrix/rest/TsmTeste/InverterString/abc");
  EXPECT_TRUE(r.Atendida);
  EXPECT_EQ(r.R.StatusCode, 200);
  EXPECT_EQ(r.R.Content, R"({"result":["cba"]})");
  EXPECT_TRUE(r.R.ContentType.empty());  // the listener's default applies
  EXPECT_FALSE(r.Sessao().empty());
}

TEST_F(RestProtocolo, VerbsPathsAndArgumentSources) {
  const std::string arq = "/tamrix/rest/TsmTeste/EnviarArquivoVendas/tk/cn/dt/nm";
  const CasoChamada casos[] = {
      // Verb prefixes, the PUT status and the prefix exceptions.
      {"PUT", arq, R"({"a":"b"})", 201,
       R"({"result":[{"token":"tk","cnpj":"cn","data":"dt","nome":"nm","arquivo":{"a":"b"}}]})"},
      {"POST", arq, R"({"a":"b"})", 500,
       R"({"error":"TsmTeste.updateEnviarArquivoVendas method not found in the server method list"})"},
      {"POST", "/tamrix/rest/TsmTeste/UploadFile/1/2/3", R"({"f":1})", 200,
       R"({"result":["post:123:{\"f\":1}"]})"},
      {"POST", "/tamrix/rest/TsmTeste/%22UploadFile%22/1/2/3", R"({"f":1})", 200,
       R"({"result":["get:123:{\"f\":1}"]})"},
      {"POST", "/tamrix/rest/TsmTeste/'UploadFile'/1/2/3", R"({"f":1})", 200,
       R"({"result":["get:123:{\"f\":1}"]})"},
      {"GET", "/tamrix/rest/TsmTeste/updateUploadFile/1/2/3", std::nullopt, 200,
       R"({"result":["post:123:null"]})"},
      {"GET", "/tamrix/rest/TsmTeste/UploadFile/1/2/3/x", std::nullopt, 200,
       R"({"result":["get:123:\"x\""]})"},
      {"DELETE", "/tamrix/rest/TsmTeste/Apagar/7", std::nullopt, 200,
       R"({"result":["apagado 7"]})"},
      // "_parameters", body as the last parameter, the surplus-argument message.
      {"PUT", arq, R"({"_parameters":[{"a":1}]})", 201,
       R"({"result":[{"token":"tk","cnpj":"cn","data":"dt","nome":"nm","arquivo":{"a":1}}]})"},
      {"PUT", "/tamrix/rest/TsmTeste/EnviarArquivoVendas/tk/cn", R"({"_parameters":["d","n"]})",
       201, R"({"result":[{"token":"tk","cnpj":"cn","data":"d","nome":"n","arquivo":null}]})"},
      {"PUT", arq + "/x/y", R"({"a":1})", 500,
       R"({"error":"Server method TsmTeste.acceptEnviarArquivoVendas consumed only 5 input parameters out of 6. Either call with more parameters or change method definition."})"},
      {"PUT", arq + "/x", R"({"a":1})", 201,
       R"({"result":[{"token":"tk","cnpj":"cn","data":"dt","nome":"nm","arquivo":"x"}]})"},
      {"PUT", arq, "isto não é JSON", 500,
       R"({"error":"Message content is not a valid JSON value."})"},
      {"PUT", arq + "?x=7", std::nullopt, 500,
       R"({"error":"Message content is not a valid JSON value."})"},
      {"PUT", "/tamrix/rest/TsmTeste/EnviarArquivoVendas/a/b/c/d/e", "não é JSON, e não é lido",
       201, R"({"result":[{"token":"a","cnpj":"b","data":"c","nome":"d","arquivo":"e"}]})"},
      // A POST whose only query field stands in for a body that is not JSON.
      {"POST", "/tamrix/rest/TsmTeste/%22InverterString%22?x=%22abc%22", std::nullopt, 200,
       R"({"result":["cba"]})"},
      // Out parameter before the result; a missing segment binds the empty string.
      {"GET", "/tamrix/rest/TsmTeste/Login/u/s/t", std::nullopt, 200,
       R"({"result":["u=u;s=s;t=t",true]})"},
      {"GET", "/tamrix/rest/TsmTeste/Login/u/s", std::nullopt, 200,
       R"({"result":["u=u;s=s;t=",false]})"},
      {"GET", "/tamrix/rest/tsmteste/LOGIN/u/s/t", std::nullopt, 200,
       R"({"result":["u=u;s=s;t=t",true]})"},
      {"GET", "/TAMRIX/REST/TsmTeste/Login/u/s/t/", std::nullopt, 200,
       R"({"result":["u=u;s=s;t=t",true]})"},
      {"GET", "/tamrix/rest/TsmTeste/Login/u//t", std::nullopt, 200,
       R"({"result":["u=u;s=;t=t",true]})"},
      {"GET", "/tamrix/rest/TsmTeste/Login/a%20b/a+b/%u00E9%2F", std::nullopt, 200,
       R"({"result":["u=a b;s=a+b;t=\u00E9\/",true]})"},
      {"GET", "/tamrix/rest/TsmTeste/Login/null/%C3%A7/%uD83D%uDE00", std::nullopt, 200,
       R"({"result":["u=;s=\u00E7;t=\uD83D\uDE00",true]})"},
      {"GET", "/tamrix/rest/TsmTeste/Dobrar/21", std::nullopt, 200, R"({"result":[42,"42"]})"},
      // Bad paths and unknown names.
      {"GET", "/tamrix/rest/TsmTeste", std::nullopt, 500,
       R"({"error":"Invalid request format. \/className\/methodName and eventual parameters expected."})"},
      {"GET", "/tamrix/rest/TsmTeste/", std::nullopt, 500,
       R"({"error":"Invalid request format. \/className\/methodName and eventual parameters expected."})"},
      {"GET", "/tamrix/rest", std::nullopt, 500,
       R"({"error":"Invalid request format. \/className\/methodName and eventual parameters expected."})"},
      {"GET", "/tamrix/rest//Login", std::nullopt, 500,
       R"({"error":"Invalid request format. \/className\/methodName and eventual parameters expected."})"},
      {"GET", "/tamrix/rest/TsmOutra/%22Login%22", std::nullopt, 500,
       R"({"error":"TsmOutra.Login method not found in the server method list"})"},
      {"GET", "/tamrix/rest/RestAdmin/GetPlatformName", std::nullopt, 500,
       R"({"error":"RestAdmin.GetPlatformName method not found in the server method list"})"},
  };
  Verificar(casos);
}

TEST_F(RestProtocolo, TypeMappingOfPathAndJsonArguments) {
  const CasoChamada casos[] = {
      {"GET", "/tamrix/rest/TsmTeste/Somar/2/-3000000000", std::nullopt, 200,
       R"({"result":[-2999999998]})"},
      {"GET", "/tamrix/rest/TsmTeste/Somar/TRUE/false", std::nullopt, 200, R"({"result":[1]})"},
      {"GET", "/tamrix/rest/TsmTeste/Somar/null/null", std::nullopt, 200, R"({"result":[0]})"},
      {"GET", "/tamrix/rest/TsmTeste/Somar/x/1", std::nullopt, 500,
       R"({"error":"'x' is not a valid integer value"})"},
      {"GET", "/tamrix/rest/TsmTeste/Somar/2147483648/1", std::nullopt, 500,
       R"({"error":"'2147483648' is not a valid integer value"})"},
      {"GET", "/tamrix/rest/TsmTeste/Somar//1", std::nullopt, 500,
       R"({"error":"'' is not a valid integer value"})"},
      {"GET", "/tamrix/rest/TsmTeste/Negar/0", std::nullopt, 200, R"({"result":[true]})"},
      {"GET", "/tamrix/rest/TsmTeste/Negar/7", std::nullopt, 200, R"({"result":[false]})"},
      {"GET", "/tamrix/rest/TsmTeste/Negar/False", std::nullopt, 200, R"({"result":[true]})"},
      {"GET", "/tamrix/rest/TsmTeste/Metade/3", std::nullopt, 200, R"({"result":[1.5]})"},
      {"GET", "/tamrix/rest/TsmTeste/UmDiaDepois/2024-02-28%2023:59:58.5", std::nullopt, 200,
       R"({"result":["2024-02-29 23:59:58.500"]})"},
      {"GET", "/tamrix/rest/TsmTeste/UmDiaDepois/1899-12-30", std::nullopt, 200,
       R"({"result":["1899-12-31 00:00:00"]})"},
      {"GET", "/tamrix/rest/TsmTeste/UmDiaDepois/2023-02-29", std::nullopt, 500,
       R"({"error":"'2023-02-29' is not a valid date and time"})"},
      {"GET", "/tamrix/rest/TsmTeste/UmDiaDepois/2023-01-01T10:00", std::nullopt, 500,
       R"({"error":"'2023-01-01T10:00' is not a valid date and time"})"},
      {"GET", "/tamrix/rest/TsmTeste/Eco/abc", std::nullopt, 200, R"({"result":["abc"]})"},
      {"GET", "/tamrix/rest/TsmTeste/Eco/null", std::nullopt, 200, R"({"result":[null]})"},
      {"GET", "/tamrix/rest/TsmTeste/Eco", std::nullopt, 200, R"({"result":[null]})"},
      // JSON arguments, through a quoted name so that POST adds no prefix.
      {"POST", "/tamrix/rest/TsmTeste/%22Somar%22", R"({"_parameters":[1,"2"]})", 200,
       R"({"result":[3]})"},
      {"POST", "/tamrix/rest/TsmTeste/%22Somar%22", R"({"_parameters":[true,2.5]})", 500,
       R"({"error":"'2.5' is not a valid integer value"})"},
      {"POST", "/tamrix/rest/TsmTeste/%22Somar%22", R"({"_parameters":[{"a":1},2]})", 500,
       R"({"error":"Cannot convert JSON value {\"a\":1} input into Integer"})"},
      {"POST", "/tamrix/rest/TsmTeste/%22Somar%22/4", R"(5)", 200, R"({"result":[9]})"},
      {"POST", "/tamrix/rest/TsmTeste/%22Negar%22", R"(2)", 200, R"({"result":[true]})"},
      {"POST", "/tamrix/rest/TsmTeste/%22Negar%22", R"(1)", 200, R"({"result":[false]})"},
      {"POST", "/tamrix/rest/TsmTeste/%22InverterString%22", R"(123)", 200,
       R"({"result":["321"]})"},
      {"POST", "/tamrix/rest/TsmTeste/%22InverterString%22", R"(["a"])", 500,
       R"({"error":"Cannot convert JSON value [\"a\"] input into string"})"},
      {"POST", "/tamrix/rest/TsmTeste/%22UmDiaDepois%22", R"("2000-01-01 12:00:00")", 200,
       R"({"result":["2000-01-02 12:00:00"]})"},
      {"POST", "/tamrix/rest/TsmTeste/%22Eco%22", R"({"z":1,"a":"\u00e9/"})", 200,
       R"({"result":[{"z":1,"a":"\u00E9\/"}]})"},
  };
  Verificar(casos);
}

TEST_F(RestProtocolo, DataSetResultIsWrittenAfterTheMethodAndItsFailureIsAnError) {
  auto ok = Get("/tamrix/rest/TsmTeste/Dados/false");
  EXPECT_EQ(ok.R.StatusCode, 200);
  EXPECT_EQ(ok.R.Content.rfind(R"({"result":[{"type":"Data.JSONReflect.TJSONDataSets","id":1,)", 0),
            0u)
      << ok.R.Content;
  auto falha = Get("/tamrix/rest/TsmTeste/Dados/true");
  EXPECT_EQ(falha.R.StatusCode, 500);
  EXPECT_EQ(falha.R.Content, R"({"error":"Tabela inexistente."})");
  ASSERT_EQ(erros.size(), 1u);
  EXPECT_EQ(erros[0], "TsmTeste.Dados|Tabela inexistente.");
}

TEST_F(RestProtocolo, ErrorAndDisconnectHooksRunForEveryCall) {
  auto r = Get("/tamrix/rest/TsmTeste/Falhar");
  EXPECT_EQ(r.R.StatusCode, 500);
  EXPECT_EQ(r.R.Content, R"({"error":"Falhou de prop\u00F3sito."})");
  Get("/tamrix/rest/TsmTeste/InverterString/x");
  Get("/tamrix/rest/Nada/Nada");
  EXPECT_EQ(erros,
            (std::vector<std::string>{"TsmTeste.Falhar|Falhou de propósito.",
                                      "|Nada.Nada method not found in the server method list"}));
  EXPECT_EQ(desconexoes, 3);
}

TEST_F(RestProtocolo, HookFailuresDoNotChangeTheAnswer) {
  TRestServer s;
  s.RegistrarClasse(TabelaTeste());
  s.DefinirOnError([](const TRestErrorEvent&) { throw std::runtime_error("log indisponível"); });
  s.DefinirOnDisconnect([] { throw std::runtime_error("conexão presa"); });
  s.Iniciar();
  TRestHTTPWebDispatcher d2(s);
  auto r = Chamar(d2, {"GET", "/tamrix/rest/TsmTeste/Falhar"});
  EXPECT_EQ(r.R.StatusCode, 500);
  EXPECT_EQ(r.R.Content, R"({"error":"Falhou de prop\u00F3sito."})");
  EXPECT_EQ(Chamar(d2, {"GET", "/tamrix/rest/TsmTeste/InverterString/ab"}).R.Content,
            R"({"result":["ba"]})");
}

TEST_F(RestProtocolo, EscapingExceptionGives500WithoutBodyAndServerStaysUsable) {
  TRestAuthenticationManager auth;
  bool lancar = true;
  auth.OnUserAuthenticate = [&](const std::string&, const std::string&, const std::string&,
                                const std::string&) {
    if (lancar) throw std::runtime_error("quebrou");
    return true;
  };
  TRestHTTPWebDispatcher d2(servidor, &auth);
  auto r = Chamar(d2, {"GET", "/tamrix/rest/TsmTeste/InverterString/abc"});
  EXPECT_TRUE(r.Atendida);
  EXPECT_EQ(r.R.StatusCode, 500);
  EXPECT_FALSE(r.R.HasContent());
  EXPECT_EQ(desconexoes, 1);  // the end of the call is still signalled
  lancar = false;
  EXPECT_EQ(Chamar(d2, {"GET", "/tamrix/rest/TsmTeste/InverterString/abc"}).R.Content,
            R"({"result":["cba"]})");
}

TEST_F(RestProtocolo, CommandTypesWithoutBody) {
  for (const char* verbo : {"HEAD", "OPTIONS", "PATCH"}) {
    SCOPED_TRACE(verbo);
    auto r = Chamar(d, {verbo, "/tamrix/rest/TsmTeste/InverterString/abc"});
    EXPECT_EQ(r.R.StatusCode, 500);
    EXPECT_FALSE(r.R.HasContent());
  }
}

TEST_F(RestProtocolo, ContextsAndProtocols) {
  auto fora = Get("/tamrixx/rest/TsmTeste/InverterString/a");
  EXPECT_TRUE(fora.Atendida);
  EXPECT_EQ(fora.R.StatusCode, 404);
  EXPECT_EQ(fora.R.ReasonString,
            "Expected tamrix context in request /tamrixx/rest/TsmTeste/InverterString/a");
  auto outro = Get("/tamrix/json/x");
  EXPECT_EQ(outro.R.StatusCode, 501);
  EXPECT_EQ(outro.R.Content,
            "Specified protocol in request /json/x is not supported. Current supported protocols "
            "are: rest, json, tunnel");
  EXPECT_FALSE(Get("/ReverseString").Atendida);
  EXPECT_FALSE(Get("/").Atendida);
  EXPECT_EQ(desconexoes, 0);
}

TEST_F(RestProtocolo, StoppedServerAnswers503) {
  servidor.Parar();
  auto r = Get("/tamrix/rest/TsmTeste/InverterString/abc");
  EXPECT_EQ(r.R.StatusCode, 503);
  EXPECT_EQ(r.R.Content, R"({"error":"O servidor REST est\u00E1 parado."})");
  servidor.Iniciar();
  EXPECT_EQ(Get("/tamrix/rest/TsmTeste/InverterString/abc").R.StatusCode, 200);
}

TEST_F(RestProtocolo, AuthorizationHookIsAskedBeforeTheMethod) {
  TRestAuthenticationManager auth;
  std::vector<std::string> pedidos;
  auth.OnUserAuthorize = [&](const TRestAuthorizeEvent& e) {
    pedidos.push_back(e.Metodo);
    return e.Metodo != "TsmTeste.Contar";
  };
  TRestHTTPWebDispatcher d2(servidor, &auth);
  EXPECT_EQ(Chamar(d2, {"GET", "/tamrix/rest/TsmTeste/Login/a/b/c"}).R.StatusCode, 200);
  auto negado = Chamar(d2, {"GET", "/tamrix/rest/TsmTeste/Contar"});
  EXPECT_EQ(negado.R.StatusCode, 500);
  EXPECT_EQ(negado.R.Content,
            R"({"error":"Acesso n\u00E3o autorizado ao m\u00E9todo TsmTeste.Contar."})");
  EXPECT_EQ(pedidos, (std::vector<std::string>{"TsmTeste.Login", "TsmTeste.Contar"}));
}

}  // namespace
}  // namespace tamrix::rest::teste
