// Sessions as a client sees them: creation, the id carriers, expiry, closing, the sweep.
#include "rest/uRestSession.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

#include "RestTeste.h"
#include "rest/uRestSessionSweeper.h"

namespace tamrix::rest::teste {
namespace {

using namespace std::chrono_literals;

class RestSessoes : public ::testing::Test {
 protected:
  RestSessoes() {
    servidor.RegistrarClasse(TabelaTeste());
    servidor.Iniciar();
  }
  ~RestSessoes() override { servidor.Sessoes().TerminarTodasSessoes(); }

  TResposta Get(const std::string& caminho, std::vector<util::THeaderField> cab = {}) {
    TRequisicao r("GET", caminho);
    r.Cabecalhos = std::move(cab);
    return Chamar(d, r);
  }
  TResposta ComPragma(const std::string& caminho, const std::string& id) {
    return Get(caminho, {{"Pragma", "dssession=" + id}});
  }
  static void EsperarExpirada(const TResposta& r) {
    EXPECT_EQ(r.R.StatusCode, 403);
    EXPECT_EQ(r.R.ReasonString, "Session has expired");
    EXPECT_EQ(
        r.R.Content,
        R"({"SessionExpired":"The specified session has expired due to inactivity or was an invalid Session ID"})");
    EXPECT_EQ(r.Pragma(), "");
  }

  TRelogioManual relogio;
  TRestServer servidor{TOpcoesRestServer{relogio.Relogio()}};
  TRestHTTPWebDispatcher d{servidor};
};

const char* const kContar = "/tamrix/rest/TsmTeste/Contar";

TEST_F(RestSessoes, NewSessionIdFormAndPragmaAnswer) {
  auto r = Get(kContar);
  EXPECT_TRUE(std::regex_match(
      r.Pragma(), std::regex(R"(dssession=\d{1,6}\.\d{1,6}\.\d{1,6},dssessionexpires=1200000)")))
      << r.Pragma();
  // Every call without an id gets a session of its own, with new server-class instances.
  EXPECT_NE(Get(kContar).Sessao(), r.Sessao());
  EXPECT_EQ(Get(kContar).R.Content, R"({"result":[1]})");
  EXPECT_EQ(servidor.Sessoes().Quantidade(), 3u);
}

TEST_F(RestSessoes, ReusedByPragmaAndByQuery) {
  auto r = Get(kContar);
  const std::string id = r.Sessao();
  relogio.Avancar(60s);
  auto p = ComPragma(kContar, id);
  EXPECT_EQ(p.Sessao(), id);
  EXPECT_EQ(p.R.Content, R"({"result":[2]})");  // the session's own instance
  EXPECT_EQ(p.Pragma(), "dssession=" + id + ",dssessionexpires=1200000");
  EXPECT_EQ(Get(std::string(kContar) + "?sid=" + id).R.Content, R"({"result":[3]})");
  EXPECT_EQ(Get(std::string(kContar) + "?SessionId=" + id).R.Content, R"({"result":[4]})");
  // A later query parameter wins, and the query wins over Pragma.
  EXPECT_EQ(Get(std::string(kContar) + "?sid=1.2.3&SID=" + id).R.Content, R"({"result":[5]})");
  EXPECT_EQ(Get(std::string(kContar) + "?sid=" + id, {{"Pragma", "dssession=9.9.9"}}).R.Content,
            R"({"result":[6]})");
  EXPECT_EQ(Get(kContar, {{"Pragma", "no-cache, dssession=" + id + " ,x=y"}}).R.Content,
            R"({"result":[7]})");
  EXPECT_EQ(servidor.Sessoes().Quantidade(), 1u);
}

TEST_F(RestSessoes, MadeUpOrIdleIdGets403) {
  EsperarExpirada(ComPragma(kContar, "1.2.3"));
  EsperarExpirada(Get(std::string(kContar) + "?sid=1.2.3"));
  const std::string id = Get(kContar).Sessao();
  relogio.Avancar(1'199'999ms);
  EXPECT_EQ(ComPragma(kContar, id).R.StatusCode, 200);  // activity restarts the 20 minutes
  relogio.Avancar(1'199'999ms);
  EXPECT_EQ(ComPragma(kContar, id).R.StatusCode, 200);
  relogio.Avancar(1'200'000ms);
  EsperarExpirada(ComPragma(kContar, id));
  EXPECT_EQ(servidor.Sessoes().Quantidade(), 0u);  // the expired one was ended on the spot
  EsperarExpirada(ComPragma("/tamrix/rest/CloseSession/", id));
}

TEST_F(RestSessoes, CloseSession) {
  const int antes = gInstanciasVivas;
  const std::string id = Get(kContar).Sessao();
  EXPECT_EQ(gInstanciasVivas, antes + 1);
  auto r = ComPragma("/tamrix/rest/closesession/", id);
  EXPECT_EQ(r.R.StatusCode, 200);
  EXPECT_EQ(r.R.ReasonString, R"({"result":[true]})");
  EXPECT_FALSE(r.R.HasContent());
  EXPECT_EQ(gInstanciasVivas, antes);  // its server-class instance went with it
  EsperarExpirada(ComPragma(kContar, id));
  auto semSessao = Get("/tamrix/rest/CloseSession/");
  EXPECT_EQ(semSessao.R.StatusCode, 400);
  EXPECT_FALSE(semSessao.R.HasContent());
  EXPECT_EQ(servidor.Sessoes().Quantidade(), 0u);
}

TEST_F(RestSessoes, DataItemsAtCreationAndCaseInsensitiveKeys) {
  TRequisicao req("GET", "/tamrix/rest/TsmTeste/Ler/RemoteIP");
  req.Cabecalhos = {{"User-Agent", "PDV/2.0"}};
  const std::string id = Chamar(d, req).Sessao();
  auto ler = [&](const std::string& chave) {
    return ComPragma("/tamrix/rest/TsmTeste/Ler/" + chave, id).R.Content;
  };
  EXPECT_EQ(ler("RemoteIP"), R"({"result":["127.0.0.1"]})");
  EXPECT_EQ(ler("remoteappname"), R"({"result":["PDV\/2.0"]})");
  EXPECT_EQ(ler("CommunicationProtocol"), R"({"result":["HTTP\/1.1"]})");
  EXPECT_EQ(ler("ProtocolSubType"), R"({"result":["rest"]})");
  EXPECT_EQ(ler("Token"), R"({"result":[""]})");
  ComPragma("/tamrix/rest/TsmTeste/Guardar/Token/abc", id);
  EXPECT_EQ(ler("TOKEN"), R"({"result":["abc"]})");
  ComPragma("/tamrix/rest/TsmTeste/Guardar/token/def", id);
  EXPECT_EQ(ler("Token"), R"({"result":["def"]})");
}

TEST_F(RestSessoes, AuthenticationSeesBasicCredentialsOfNewSessionsOnly) {
  TRestAuthenticationManager auth;
  std::vector<std::string> vistos;
  auth.OnUserAuthenticate = [&](const std::string& p, const std::string& c, const std::string& u,
                                const std::string& s) {
    vistos.push_back(p + "|" + c + "|" + u + "|" + s);
    return u != "intruso";
  };
  TRestHTTPWebDispatcher d2(servidor, &auth);
  auto pedir = [&](const std::string& autorizacao, const std::string& usuario,
                   std::vector<util::THeaderField> extra = {}) {
    TRequisicao r("GET", kContar);
    r.Cabecalhos = std::move(extra);
    if (!autorizacao.empty()) r.Cabecalhos.push_back({"Authorization", autorizacao});
    r.Usuario = usuario;
    r.Senha = "segredo";
    return Chamar(d2, r);
  };
  const std::string id = pedir("Basic am9hbzpzZWdyZWRv", "joao").Sessao();
  pedir("basic am9hbzpzZWdyZWRv", "joao");  // only "Basic" as written counts
  pedir("", "");
  pedir("Basic x", "joao", {{"Pragma", "dssession=" + id}});  // existing session: no call
  EXPECT_EQ(vistos, (std::vector<std::string>{"tamrix|rest/|joao|segredo", "tamrix|rest/||",
                                              "tamrix|rest/||"}));
  const std::size_t abertas = servidor.Sessoes().Quantidade();
  auto recusada = pedir("Basic aW50cnVzbw==", "intruso");
  EXPECT_EQ(recusada.R.StatusCode, 401);
  EXPECT_EQ(recusada.Pragma(), "");
  EXPECT_EQ(servidor.Sessoes().Quantidade(), abertas);
}

TEST_F(RestSessoes, CurrentSessionIsBoundOnlyDuringTheCall) {
  std::shared_ptr<TRestSession> vistaNoFim;
  TRestServer s;
  s.RegistrarClasse(TabelaTeste());
  s.DefinirOnDisconnect([&] { vistaNoFim = SessaoDaThread(); });
  s.Iniciar();
  TRestHTTPWebDispatcher d2(s);
  auto r = Chamar(d2, {"GET", kContar});
  ASSERT_NE(vistaNoFim, nullptr);  // still bound while the end of the call is signalled
  EXPECT_EQ(vistaNoFim->Id(), r.Sessao());
  EXPECT_EQ(SessaoDaThread(), nullptr);
  EXPECT_EQ(PegarDadoSessao("Token"), "");
  EXPECT_THROW(GravarDadoSessao("Token", "x"), diagnostics::Exception);
}

TEST_F(RestSessoes, TerminateAllFreesEverySessionAndItsInstances) {
  const int antes = gInstanciasVivas;
  const std::string id = Get(kContar).Sessao();
  Get(kContar);
  EXPECT_EQ(gInstanciasVivas, antes + 2);
  servidor.Sessoes().TerminarTodasSessoes();
  EXPECT_EQ(gInstanciasVivas, antes);
  EsperarExpirada(ComPragma(kContar, id));
}

TEST(RestSessionManager, RemoveExpiredWithInjectedClock) {
  TRelogioManual relogio;
  TRestSessionManager m(relogio.Relogio());
  auto velha = m.CriarSessao("a");
  relogio.Avancar(10min);
  auto nova = m.CriarSessao("b");
  EXPECT_EQ(velha->MilissegundosRestantes(m.Agora()), 600'000);
  relogio.Avancar(10min);
  EXPECT_EQ(velha->MilissegundosRestantes(m.Agora()), 0);
  EXPECT_EQ(m.RemoverExpiradas(), 1u);
  EXPECT_TRUE(velha->Encerrada());
  EXPECT_FALSE(nova->Encerrada());
  EXPECT_EQ(m.ProcurarSessao(nova->Id()), nova);
  EXPECT_EQ(m.ProcurarSessao(velha->Id()), nullptr);
}

TEST(RestSessionManager, AtTheCeilingExpiredThenIdlestSessionsWithoutDataGoFirst) {
  TRelogioManual relogio;
  TRestSessionManager m(relogio.Relogio(), 20min, 10);
  std::vector<std::shared_ptr<TRestSession>> s;
  for (int i = 0; i < 10; ++i) {
    s.push_back(m.CriarSessao(""));
    // What the protocol writes into every new session does not make it one in use.
    s.back()->PutDataProtocolo("RemoteAppName", "PDV");
    s.back()->PutDataProtocolo("RemoteIP", "10.0.0.1");
    relogio.Avancar(1min);
  }
  // Logged in: the two oldest; touched again: the third.
  s[0]->PutData("usuario", "a");
  s[1]->PutData("usuario", "b");
  m.ProcurarSessao(s[2]->Id());

  // A tenth is freed: the oldest without data that was not touched again.
  const auto nova = m.CriarSessao("");
  EXPECT_EQ(m.Quantidade(), 10u);
  EXPECT_TRUE(s[3]->Encerrada());
  EXPECT_EQ(m.ProcurarSessao(s[3]->Id()), nullptr);
  for (int i : {0, 1, 2, 4, 9}) EXPECT_EQ(m.ProcurarSessao(s[i]->Id()), s[i]) << i;
  EXPECT_EQ(m.ProcurarSessao(nova->Id()), nova);

  // Only sessions with data left: the idlest of them goes.
  for (auto& x : s) x->PutData("usuario", "x");
  nova->PutData("usuario", "n");
  m.CriarSessao("")->PutData("usuario", "o");
  EXPECT_EQ(m.Quantidade(), 10u);
  // s[0], s[1], s[4] and s[9] were found again above; s[5] has been idle the longest.
  EXPECT_TRUE(s[5]->Encerrada());
  for (int i : {0, 1, 2, 4, 6, 9}) EXPECT_FALSE(s[static_cast<std::size_t>(i)]->Encerrada()) << i;

  // A session a login succeeded in outlasts those only written into, however idle.
  s[6]->MarcarAutenticada();  // now the idlest of all
  m.CriarSessao("");
  EXPECT_FALSE(s[6]->Encerrada());
  EXPECT_TRUE(s[7]->Encerrada());

  // Expired sessions make the room when there are any: all of them go, nothing else.
  relogio.Avancar(21min);
  const auto viva = m.CriarSessao("");
  EXPECT_EQ(m.Quantidade(), 1u);
  EXPECT_EQ(m.ProcurarSessao(viva->Id()), viva);
}

TEST(RestSession, ProtocolItemsAreCutToTheirLimitOnACharacterBoundary) {
  TRestSession s("id", "", std::chrono::steady_clock::now(), 20min);
  s.PutDataProtocolo("RemoteAppName", std::string(2u << 20, 'u'));
  EXPECT_EQ(s.GetData("RemoteAppName").size(), kMaximoDadoProtocolo);
  // A two-byte character across the limit goes whole.
  s.PutDataProtocolo("RemoteAppName", std::string(kMaximoDadoProtocolo - 1, 'a') + "\xC3\xA7xyz");
  EXPECT_EQ(s.GetData("RemoteAppName"), std::string(kMaximoDadoProtocolo - 1, 'a'));
  s.PutDataProtocolo("CommunicationProtocol", "HTTP/1.1");
  EXPECT_EQ(s.GetData("CommunicationProtocol"), "HTTP/1.1");
  EXPECT_TRUE(s.SemDados());
  s.PutData("Token", "t");
  EXPECT_FALSE(s.SemDados());
  EXPECT_EQ(s.Uso(), TUsoSessao::usDados);
  // What a method writes is bounded too: a flood of failed logins cannot hold much.
  s.PutData("Usuario", std::string(16384, 'u'));
  EXPECT_EQ(s.GetData("Usuario").size(), kMaximoDadoSessao);
  s.MarcarAutenticada();
  s.PutData("App", "PDV");
  EXPECT_EQ(s.Uso(), TUsoSessao::usAutenticada);
}

TEST(RestSessionManager, SweeperRemovesExpiredSessionsInTheBackground) {
  TRelogioManual relogio;
  TRestSessionManager m(relogio.Relogio());
  m.CriarSessao("");
  m.CriarSessao("");
  TRestSessionSweeper varredura(m, 1ms);
  relogio.Avancar(21min);
  // The round is counted after its removals, so both are awaited.
  for (int i = 0; i < 10'000 && (m.Quantidade() != 0 || varredura.Voltas() == 0); ++i)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(m.Quantidade(), 0u);
  EXPECT_GT(varredura.Voltas(), 0u);
}

TEST(RestSessionManager, ConcurrentCallsShareOneSessionAndNewIdsAreUnique) {
  TRestServer s;
  s.RegistrarClasse(TabelaTeste());
  s.Iniciar();
  TRestHTTPWebDispatcher d(s);
  const std::string id = Chamar(d, {"GET", "/tamrix/rest/TsmTeste/Ler/x"}).Sessao();
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::set<std::string> ids;
  std::atomic<int> falhas{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        TRequisicao r(
            "GET", "/tamrix/rest/TsmTeste/Guardar/k" + std::to_string(t) + "/" + std::to_string(i));
        r.Cabecalhos = {{"Pragma", "dssession=" + id}};
        if (Chamar(d, r).R.StatusCode != 200) ++falhas;
        auto nova = Chamar(d, {"GET", "/tamrix/rest/TsmTeste/InverterString/x"}).Sessao();
        std::lock_guard lock(mutex);
        ids.insert(nova);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(falhas, 0);
  EXPECT_EQ(ids.size(), 1600u);
  auto sessao = s.Sessoes().ProcurarSessao(id);
  ASSERT_NE(sessao, nullptr);
  for (int t = 0; t < 8; ++t) EXPECT_EQ(sessao->GetData("k" + std::to_string(t)), "199");
}

}  // namespace
}  // namespace tamrix::rest::teste
