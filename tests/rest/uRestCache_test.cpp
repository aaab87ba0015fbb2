// Cache mode and the /tamrix/cache requests through the dispatcher: kept values and their
// references, the descriptions, deletion, the failures, and the per-session bounds.
#include "rest/uRestCache.h"

#include <gtest/gtest.h>

#include <thread>

#include "ResultadosTeste.h"

namespace tamrix::rest::teste {
namespace {

constexpr const char* kSessaoExpirada =
    R"({"SessionExpired":"The specified session has expired due to inactivity or was an invalid Session ID"})";

class RestCache : public ::testing::Test {
 protected:
  RestCache() {
    servidor.RegistrarClasse(TabelaResultados());
    servidor.Iniciar();
    sessao = Chamar(d, {"GET", "/tamrix/rest/TsmResultados/Texto/x"}).Sessao();
  }

  // A call of this fixture's session, in cache mode unless told otherwise.
  TResposta Pedir(const std::string& verbo, const std::string& caminho, bool modoCache = true) {
    TRequisicao r(verbo, caminho);
    r.Cabecalhos.push_back({"Pragma", "dssession=" + sessao});
    if (modoCache) r.Cabecalhos.push_back({"Accept", "text/html, application/rest"});
    return Chamar(d, r);
  }
  TResposta Get(const std::string& caminho) { return Pedir("GET", caminho); }

  TRestCache& Cache() { return servidor.Sessoes().ProcurarSessao(sessao)->Cache(); }

  TRestServer servidor;
  TRestHTTPWebDispatcher d{servidor};
  std::string sessao;
};

TEST_F(RestCache, DataSetIsKeptEncodedAndReadAfterTheCallIsGone) {
  auto r = Get("/tamrix/rest/TsmResultados/Linhas/5?t.o=1");
  EXPECT_EQ(r.R.StatusCode, 200);
  EXPECT_EQ(r.R.ContentType, "application/rest");
  EXPECT_EQ(r.R.Content, R"({"result":["0\/0\/0"],"cacheId":0,"cmdIndex":0})");
  EXPECT_TRUE(gUltimaColecao.expired());  // the data set went with the call's answer

  auto valor = Get("/tamrix/cache/0/0/0");
  EXPECT_EQ(valor.R.StatusCode, 200);
  EXPECT_EQ(valor.Sessao(), sessao);
  const auto corpo = boost::json::parse(valor.R.Content);
  ASSERT_EQ(corpo.as_object().size(), 1u);
  const auto lidos = LerContainerDataSets(corpo.at("result"));
  ASSERT_EQ(lidos.size(), 1u);
  EXPECT_EQ(lidos[0].Nome, "qySQL");
  EXPECT_EQ(Numeros(lidos[0]), (std::vector<int>{1, 2, 3, 4}));  // cropped before it was kept

  // The same value as the plain answer carries it.
  auto plano = Pedir("GET", "/tamrix/rest/TsmResultados/Linhas/5?t.o=1", false);
  EXPECT_EQ(plano.R.Content, R"({"result":[)" + boost::json::serialize(corpo.at("result")) + "]}");
  EXPECT_TRUE(plano.R.ContentType.empty());
}

TEST_F(RestCache, WhatIsKeptAndWhatStaysInline) {
  const struct {
    const char* Caminho;
    const char* Resposta;
  } casos[] = {
      {"/tamrix/rest/TsmResultados/ComTexto/2",
       R"({"result":["linhas: 2","0\/0\/1"],"cacheId":0,"cmdIndex":0})"},
      {"/tamrix/rest/TsmResultados/Objeto/a", R"({"result":["1\/0\/0"],"cacheId":1,"cmdIndex":0})"},
      {"/tamrix/rest/TsmResultados/Eco/7", R"({"result":["2\/0\/0"],"cacheId":2,"cmdIndex":0})"},
      {"/tamrix/rest/TsmResultados/Texto/abc", R"({"result":["abc"]})"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Caminho);
    auto r = Get(c.Caminho);
    EXPECT_EQ(r.R.Content, c.Resposta);
    EXPECT_EQ(r.R.ContentType, "application/rest");
  }
  EXPECT_EQ(Get("/tamrix/cache/1/0/0").R.Content, R"({"result":{"s":"a"}})");
  EXPECT_EQ(Get("/tamrix/cache/2/0/0").R.Content, R"({"result":"7"})");
  EXPECT_EQ(Get("/tamrix/cache/0/0/1").R.Content.rfind(R"({"result":{"type":"Data.JSONReflect)", 0),
            0u);

  const std::string bytes0 = std::to_string(Cache().Procurar(0)->Bytes);
  const std::string param0 =
      R"({"parameters":[{"paramIndex":1,"type":"TJSONDataSets","bytes":)" + bytes0 + "}]}";
  EXPECT_EQ(Get("/tamrix/cache/0/0").R.Content, param0);
  EXPECT_EQ(Get("/tamrix/cache/0/0/").R.Content, param0);
  EXPECT_EQ(Get("/tamrix/cache/0").R.Content, R"({"commands":[)" + param0 + "]}");
  EXPECT_EQ(
      Get("/tamrix/cache").R.Content,
      R"({"0":{"commands":[)" + param0 +
          R"(]},"1":{"commands":[{"parameters":[{"paramIndex":0,"type":"TJSONObject","bytes":9}]}]},)"
          R"("2":{"commands":[{"parameters":[{"paramIndex":0,"type":"TJSONValue","bytes":3}]}]}})");

  // A failing call keeps nothing and still answers in the cache mode's content type.
  auto falha = Get("/tamrix/rest/TsmResultados/Nada");
  EXPECT_EQ(falha.R.StatusCode, 500);
  EXPECT_EQ(falha.R.ContentType, "application/rest");
  EXPECT_EQ(Cache().Quantidade(), 3u);
}

TEST_F(RestCache, DeleteDiscardsOneOrAll) {
  for (int i = 0; i < 3; ++i) Get("/tamrix/rest/TsmResultados/Objeto/" + std::to_string(i));
  auto um = Pedir("DELETE", "/tamrix/cache/1");
  EXPECT_EQ(um.R.StatusCode, 200);
  EXPECT_EQ(um.R.Content, R"({"result":[true]})");
  EXPECT_EQ(Get("/tamrix/cache/1").R.Content, R"({"error":"There is no cached item with ID: 1"})");
  EXPECT_EQ(Pedir("DELETE", "/tamrix/cache/1").R.Content,
            R"({"error":"There is no cached item with ID: 1"})");
  EXPECT_EQ(Get("/tamrix/cache/2/0/0").R.Content, R"({"result":{"s":"2"}})");
  EXPECT_EQ(Pedir("DELETE", "/tamrix/cache/").R.Content, R"({"result":[true]})");
  EXPECT_EQ(Get("/tamrix/cache").R.Content, "{}");
  EXPECT_EQ(Cache().Bytes(), 0u);
  // Ids are not reused: an old reference never reaches a newer value.
  EXPECT_EQ(Get("/tamrix/rest/TsmResultados/Objeto/z").R.Content,
            R"({"result":["3\/0\/0"],"cacheId":3,"cmdIndex":0})");
}

TEST_F(RestCache, FailedCacheRequests) {
  Get("/tamrix/rest/TsmResultados/Objeto/a");
  const std::string comando =
      "Command %s in request is not supported. Accepted commands are: GET, POST, PUT and DELETE";
  const struct {
    const char* Verbo;
    const char* Caminho;
    int Status;
    const char* Motivo;
    std::string Corpo;
  } casos[] = {
      {"GET", "/tamrix/cache/7", 500, "", R"({"error":"There is no cached item with ID: 7"})"},
      {"GET", "/tamrix/cache/7/0/0", 500, "", R"({"error":"There is no cached item with ID: 7"})"},
      {"GET", "/tamrix/cache/0/0/5", 500, "",
       R"({"error":"There is no parameter for command 0, parameter index 5."})"},
      {"GET", "/tamrix/cache/0/3/0", 500, "",
       R"({"error":"There is no parameter for command 3, parameter index 0."})"},
      {"GET", "/tamrix/cache/0/3", 500, "",
       R"({"error":"N\u00E3o h\u00E1 comando 3 no item de cache 0."})"},
      {"GET", "/tamrix/cache/x", 400, "Invalid request format. (/tamrix/cache/x)", ""},
      {"GET", "/tamrix/cache/-1", 400, "Invalid request format. (/tamrix/cache/-1)", ""},
      {"GET", "/tamrix/cache/0//0", 400, "Invalid request format. (/tamrix/cache/0//0)", ""},
      {"GET", "/tamrix/cache/0/0/0/0", 400, "Invalid request format. (/tamrix/cache/0/0/0/0)", ""},
      {"GET", "/tamrix/cache/99999999999999999999", 400,
       "Invalid request format. (/tamrix/cache/99999999999999999999)", ""},
      {"DELETE", "/tamrix/cache/0/0", 400, "Invalid request format. (/tamrix/cache/0/0)", ""},
      {"PUT", "/tamrix/cache/0", 501, "",
       "Command PUT in request is not supported. Accepted commands are: GET, POST, PUT and DELETE"},
      {"POST", "/tamrix/cache", 501, "",
       "Command POST in request is not supported. Accepted commands are: GET, POST, PUT and "
       "DELETE"},
      {"HEAD", "/tamrix/cache/0", 501, "",
       "Command HEAD in request is not supported. Accepted commands are: GET, POST, PUT and "
       "DELETE"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(std::string(c.Verbo) + " " + c.Caminho);
    auto r = Pedir(c.Verbo, c.Caminho);
    EXPECT_EQ(r.R.StatusCode, c.Status);
    EXPECT_EQ(r.R.ReasonString, c.Motivo);
    EXPECT_EQ(r.R.Content, c.Corpo);
  }
  EXPECT_EQ(Cache().Quantidade(), 1u);  // the bad DELETE discarded nothing
}

TEST_F(RestCache, UnknownOrMissingSessionGetsTheExpiredAnswer) {
  Get("/tamrix/rest/TsmResultados/Objeto/a");
  TRequisicao inventada("GET", "/tamrix/cache/0/0/0");
  inventada.Cabecalhos.push_back({"Pragma", "dssession=1.2.3"});
  TRequisicao semSessao("PUT", "/tamrix/cache/0");
  for (const auto& req : {inventada, semSessao}) {
    auto r = Chamar(d, req);
    EXPECT_EQ(r.R.StatusCode, 403);
    EXPECT_EQ(r.R.ReasonString, "Session has expired");
    EXPECT_EQ(r.R.Content, kSessaoExpirada);
    EXPECT_TRUE(r.Pragma().empty());
  }
  EXPECT_EQ(servidor.Sessoes().Quantidade(), 1u);  // no session is made for a cache request
  // The id may come in the query too, and one session never sees another's values.
  EXPECT_EQ(Chamar(d, {"GET", "/tamrix/cache/0/0/0?sid=" + sessao}).R.Content,
            R"({"result":{"s":"a"}})");
  const std::string outra = Chamar(d, {"GET", "/tamrix/rest/TsmResultados/Texto/x"}).Sessao();
  EXPECT_EQ(Chamar(d, {"GET", "/tamrix/cache/0?SESSIONID=" + outra}).R.Content,
            R"({"error":"There is no cached item with ID: 0"})");
}

TEST_F(RestCache, OldestEntriesGoFirstWithinTheEntryAndByteLimits) {
  servidor.DefinirLimitesCache({3, 1 << 20});
  for (int i = 0; i < 5; ++i) Get("/tamrix/rest/TsmResultados/Objeto/" + std::to_string(i));
  std::vector<std::uint64_t> ids;
  for (const auto& [id, entrada] : Cache().Entradas()) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::uint64_t>{2, 3, 4}));
  EXPECT_EQ(Get("/tamrix/cache/1").R.Content, R"({"error":"There is no cached item with ID: 1"})");

  // Each {"s":"n"} is 9 bytes: 30 bytes hold three, a larger value pushes out two.
  servidor.DefinirLimitesCache({100, 30});
  Get("/tamrix/rest/TsmResultados/Objeto/abcdefgh");  // 16 bytes
  ids.clear();
  for (const auto& [id, entrada] : Cache().Entradas()) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::uint64_t>{4, 5}));
  EXPECT_EQ(Cache().Bytes(), 25u);

  // A value larger than the whole budget is answered inline and keeps nothing.
  auto grande = Get("/tamrix/rest/TsmResultados/Objeto/" + std::string(40, 'g'));
  EXPECT_EQ(grande.R.Content, R"({"result":[{"s":")" + std::string(40, 'g') + R"("}]})");
  EXPECT_EQ(Cache().Quantidade(), 2u);

  servidor.DefinirLimitesCache({0, 1 << 20});
  EXPECT_EQ(Get("/tamrix/rest/TsmResultados/Objeto/a").R.Content, R"({"result":[{"s":"a"}]})");
}

TEST_F(RestCache, CallsOfOneSessionAtOnceKeepTheBoundsAndTheByteCount) {
  servidor.DefinirLimitesCache({10, 1 << 20});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) {
        Get("/tamrix/rest/TsmResultados/Objeto/" + std::string(static_cast<std::size_t>(i), 'x'));
        if (t == 0) Pedir("DELETE", "/tamrix/cache/" + std::to_string(i * 3));
        if (t == 1) Get("/tamrix/cache");
      }
    });
  for (auto& t : threads) t.join();
  std::uint64_t soma = 0;
  for (const auto& [id, entrada] : Cache().Entradas()) soma += entrada->Bytes;
  EXPECT_LE(Cache().Quantidade(), 10u);
  EXPECT_EQ(Cache().Bytes(), soma);
}

TEST_F(RestCache, CacheEndsWithItsSession) {
  Get("/tamrix/rest/TsmResultados/Linhas/50");
  const auto s = servidor.Sessoes().ProcurarSessao(sessao);
  ASSERT_EQ(s->Cache().Quantidade(), 1u);
  EXPECT_EQ(Pedir("GET", "/tamrix/rest/CloseSession/").R.StatusCode, 200);
  EXPECT_EQ(s->Cache().Quantidade(), 0u);
  EXPECT_EQ(s->Cache().Bytes(), 0u);
  EXPECT_EQ(Get("/tamrix/cache/0/0/0").R.StatusCode, 403);
  // A call still running in the ended session keeps nothing.
  std::vector<TComandoCache> comandos(1);
  comandos[0].push_back({0, TTipoRest::trJSONObject, "{}"});
  EXPECT_FALSE(s->Cache().Guardar(std::move(comandos), {}));
}

}  // namespace
}  // namespace tamrix::rest::teste
