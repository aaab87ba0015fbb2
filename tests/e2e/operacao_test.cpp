// Operating the real server of dist/: the access log on standard output (one line per
// request, passwords masked), SIGHUP reloading the tenant directory from ConfigBD, and the
// drain at SIGTERM (serving on, then refusing new connections while the ones in progress
// finish; a second signal stops at once).
#include <algorithm>
#include <regex>
#include <sstream>

#include "e2e/e2e_servidor.h"
#include "support/httpcliente.h"

namespace tamrix::e2e {
namespace {

using testes::TClienteHTTP;

// The lines of the server's standard output that contain texto.
std::vector<std::string> LinhasCom(const TServidorE2E& s, const std::string& texto) {
  std::vector<std::string> r;
  std::istringstream in(s.Saida());
  for (std::string l; std::getline(in, l);)
    if (l.find(texto) != std::string::npos) r.push_back(l);
  return r;
}

// Waits (a generous while) until n lines of standard output contain texto.
bool EsperarLinhas(const TServidorE2E& s, const std::string& texto, std::size_t n = 1) {
  for (int i = 0; i < 1000; ++i) {
    if (LinhasCom(s, texto).size() >= n) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

std::vector<std::string> Campos(const std::string& linha) {
  std::vector<std::string> r;
  std::istringstream in(linha);
  for (std::string c; in >> c;) r.push_back(c);
  return r;
}

// Whether a new connection to the port is refused.
bool Recusa(int porta) {
  try {
    TClienteHTTP c(static_cast<std::uint16_t>(porta));
    return false;
  } catch (const std::runtime_error&) {
    return true;
  }
}

std::string Login(const TServidorE2E& s, const std::string& metodo, const std::string& usuario,
                  const std::string& senha, const std::string& token) {
  return s.Get("/tamrix/rest/TsmUsuario/" + metodo + "/" + usuario + "/" + senha + "/" + token)
      .Body;
}

constexpr const char* kSucesso = R"({"result":["Sucesso",true]})";

TEST(AcessoE2E, OneLinePerRequestWithPasswordsAndTokensLeftOut) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s({.ExtraServidor = "TamanhoMaximoCabecalho=2048\r\n"});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();

  const auto login =
      s.Get(std::string("/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/") + pgtest::kTokenLoja1);
  ASSERT_EQ(login.Body, kSucesso);
  const std::string sessao = login.Sessao();
  ASSERT_FALSE(sessao.empty());
  // The session of a call comes from the request when the answer carries none (a page).
  EXPECT_EQ(s.Get("/ReverseString", Pragma(sessao)).Status, 200);
  // A password in _parameters, in a body, quoted or percent-encoded in the path.
  s.Get("/tamrix/rest/TsmUsuario/Login?_parameters=%5B%22ADMIN%22,%22SegredoQuery%22%5D");
  Pedir(s.Porta(), "PUT", "/tamrix/rest/TsmComum/UploadFile", Pragma(sessao), "SegredoCorpo");
  s.Get("/tamrix/rest/TsmUsuario/%22Log%69nPDV%22/MARIA/SegredoCodificado/x");
  // A request refused for its header size gets its line too, masked the same way.
  const auto grande = s.Get("/tamrix/rest/TsmUsuario/Login/ADMIN/Segredo431/x",
                            "X-Grande: " + std::string(4096, 'g') + "\r\n");
  EXPECT_EQ(grande.Status, 431);
  ASSERT_TRUE(EsperarLinhas(s, " 431 ")) << s.Saida();
  ASSERT_TRUE(EsperarLinhas(s, "/tamrix/rest/", 5)) << s.Saida();

  const std::string saida = s.Saida();
  for (const char* segredo : {"caixa01", "Segredo", "_parameters", pgtest::kTokenLoja1})
    EXPECT_EQ(saida.find(segredo), std::string::npos) << segredo << "\n" << saida;

  const auto linhas = LinhasCom(s, "/LoginPDV/");
  ASSERT_EQ(linhas.size(), 1u) << saida;
  const auto c = Campos(linhas[0]);
  ASSERT_EQ(c.size(), 8u) << linhas[0];
  EXPECT_TRUE(std::regex_match(c[0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
      << c[0];
  EXPECT_EQ(c[1], "127.0.0.1");
  EXPECT_EQ(c[2], "GET");
  EXPECT_EQ(c[3], "/tamrix/rest/TsmUsuario/LoginPDV/MARIA/***/***");
  EXPECT_EQ(c[4], "200");
  EXPECT_GT(std::stoul(c[5]), login.Body.size());
  EXPECT_GE(std::stol(c[6]), 0);
  EXPECT_EQ(c[7], sessao);

  const auto pagina = LinhasCom(s, " /ReverseString ");
  ASSERT_EQ(pagina.size(), 1u) << saida;
  EXPECT_EQ(Campos(pagina[0]).back(), sessao);
  EXPECT_EQ(LinhasCom(s, "/%22Log%69nPDV%22/MARIA/***/*** ").size(), 1u) << saida;
  EXPECT_EQ(LinhasCom(s, " GET /tamrix/rest/TsmUsuario/Login/ADMIN/***/*** 431 ").size(), 1u)
      << saida;
  EXPECT_EQ(LinhasCom(s, " - 431 ").size(), 0u) << saida;
}

TEST(AcessoE2E, OffWithLogAcessoZero) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s({.ExtraServidor = "LogAcesso=0\r\n"});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  EXPECT_EQ(s.Get("/tamrix/rest/TsmComum/InverterString/abc").Status, 200);
  ASSERT_EQ(s.Parar(), 0);
  EXPECT_TRUE(LinhasCom(s, "InverterString").empty()) << s.Saida();
}

TEST(RecargaE2E, SighupPicksUpAddedAndRemovedTokensAndKeepsTheCopyOnFailure) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  TServidorE2E s({.MainDb = main.Name()});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string novo = "TkNovo-5E1F";
  const std::string naoCadastrado = "n\\u00E3o cadastrado";

  // Registered after the start: unknown until the reload (a miss never reloads).
  pgtest::Exec(main.Name(), "INSERT INTO ConfigBD SELECT '" + novo +
                                "', ip_bd, instancia, nome_bd, usuario_bd, senha_bd FROM "
                                "ConfigBD WHERE token = '" +
                                pgtest::kTokenLoja1 + "'");
  EXPECT_NE(Login(s, "Login", "ADMIN", "admin123", novo).find(naoCadastrado), std::string::npos);
  // A session that logged in before the reloads keeps going through them.
  const auto antes =
      s.Get(std::string("/tamrix/rest/TsmUsuario/Login/ADMIN/farma2016/") + pgtest::kTokenLoja2);
  ASSERT_EQ(antes.Body, kSucesso);

  ASSERT_EQ(::kill(s.Pid(), SIGHUP), 0);
  ASSERT_TRUE(EsperarLinhas(s, "Diretório de bancos recarregado (4 tokens).")) << s.Saida();
  EXPECT_EQ(Login(s, "Login", "ADMIN", "admin123", novo), kSucesso);

  pgtest::Exec(main.Name(),
               std::string("DELETE FROM ConfigBD WHERE token = '") + pgtest::kTokenLoja2 + "'");
  ASSERT_EQ(::kill(s.Pid(), SIGHUP), 0);
  ASSERT_TRUE(EsperarLinhas(s, "Diretório de bancos recarregado (3 tokens).")) << s.Saida();
  EXPECT_NE(Login(s, "Login", "ADMIN", "farma2016", pgtest::kTokenLoja2).find(naoCadastrado),
            std::string::npos);
  const auto sessaoAntiga =
      s.Get("/tamrix/rest/TsmComum/InverterString/abc", Pragma(antes.Sessao()));
  EXPECT_EQ(sessaoAntiga.Status, 200);
  EXPECT_EQ(sessaoAntiga.Sessao(), antes.Sessao());

  // A reload that fails keeps the copy in use.
  pgtest::Exec(main.Name(), "ALTER TABLE ConfigBD RENAME TO ConfigBD_fora");
  ASSERT_EQ(::kill(s.Pid(), SIGHUP), 0);
  ASSERT_TRUE(EsperarLinhas(s, "não foi recarregado")) << s.Saida();
  EXPECT_EQ(Login(s, "Login", "ADMIN", "admin123", novo), kSucesso);
  EXPECT_NE(Login(s, "Login", "ADMIN", "farma2016", pgtest::kTokenLoja2).find(naoCadastrado),
            std::string::npos);

  ASSERT_EQ(s.Parar(), 0);
  const auto eventos = Eventos(main.Name());
  for (const char* e : {"Diretório de bancos recarregado (4 tokens).",
                        "Diretório de bancos recarregado (3 tokens)."})
    EXPECT_NE(std::find(eventos.begin(), eventos.end(), e), eventos.end()) << e;
  bool falha = false;
  for (const auto& l : s.Log()) falha |= l.find("não foi recarregado") != std::string::npos;
  EXPECT_TRUE(falha);
}

// A request whose body is still on its way: a call in progress for as long as the test likes.
std::unique_ptr<TClienteHTTP> PedidoPelaMetade(int porta) {
  auto c = std::make_unique<TClienteHTTP>(static_cast<std::uint16_t>(porta));
  c->Enviar(
      "GET /tamrix/rest/TsmComum/InverterString/metade HTTP/1.1\r\nHost: h\r\nContent-Length: "
      "4\r\n\r\nab");
  return c;
}

TEST(DrenagemE2E, ServesOnThenRefusesWhileTheCallInProgressFinishes) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s({.ExtraServidor = "EsperaDrenagem=2\r\nTempoEncerramento=60\r\n"});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  auto emCurso = PedidoPelaMetade(s.Porta());
  std::this_thread::sleep_for(200ms);  // accepted

  ASSERT_EQ(::kill(s.Pid(), SIGTERM), 0);
  std::this_thread::sleep_for(1s);
  const auto durante = s.Get("/tamrix/rest/TsmComum/InverterString/abc");
  EXPECT_EQ(durante.Body, R"({"result":["cba"]})");

  bool recusou = false;
  for (int i = 0; i < 300 && !(recusou = Recusa(s.Porta())); ++i)
    std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(recusou);
  EXPECT_FALSE(s.Terminou(0ms));  // waiting for the call in progress

  emCurso->Enviar("cd");
  const std::string r = emCurso->LerTudo(30s);
  EXPECT_EQ(r.substr(0, 15), "HTTP/1.1 200 OK") << r;
  EXPECT_NE(r.find(R"({"result":["edatem"]})"), std::string::npos) << r;
  ASSERT_TRUE(s.Terminou(60s));
  EXPECT_EQ(s.Status(), 0);
  EXPECT_EQ(LinhasCom(s, "/InverterString/metade 200 ").size(), 1u) << s.Saida();
}

TEST(DrenagemE2E, SecondSignalStopsAtOnceAndTempoEncerramentoBoundsTheWait) {
  TAMRIX_REQUIRE_DIST();
  {
    SCOPED_TRACE("second SIGTERM during a long drain");
    TServidorE2E s({.ExtraServidor = "EsperaDrenagem=600\r\nTempoEncerramento=600\r\n"});
    ASSERT_TRUE(s.Iniciar()) << s.Erros();
    auto emCurso = PedidoPelaMetade(s.Porta());
    ASSERT_EQ(::kill(s.Pid(), SIGTERM), 0);
    ASSERT_TRUE(EsperarLinhas(s, "SIGTERM recebido")) << s.Saida();
    EXPECT_EQ(s.Get("/tamrix/rest/TsmComum/InverterString/abc").Status, 200);
    EXPECT_EQ(s.Parar(SIGTERM, 120s), 0);
    EXPECT_EQ(emCurso->LerTudo(30s), "");  // cut without an answer
  }
  {
    SCOPED_TRACE("a call in progress past TempoEncerramento");
    TServidorE2E s(
        {.ExtraServidor = "TempoLeitura=600\r\nEsperaDrenagem=0\r\nTempoEncerramento=1\r\n"});
    ASSERT_TRUE(s.Iniciar()) << s.Erros();
    auto emCurso = PedidoPelaMetade(s.Porta());
    std::this_thread::sleep_for(200ms);  // accepted
    ASSERT_EQ(::kill(s.Pid(), SIGTERM), 0);
    ASSERT_TRUE(s.Terminou(120s));
    EXPECT_EQ(s.Status(), 0);
    EXPECT_EQ(emCurso->LerTudo(30s), "");
  }
}

}  // namespace
}  // namespace tamrix::e2e

namespace tamrix::e2e {
namespace {

TEST(EmbaralharE2E, ScramblesEachLineOfStandardInputAsConfigIniStoresIt) {
  TAMRIX_REQUIRE_DIST();
  TAMRIX_REQUIRE_PG();
  const std::string cmd = "printf '%s\\r\\n%s\\n' '" + pgtest::Env()->user + "' '" +
                          pgtest::Env()->password + "' | '" + PastaDist() +
                          "/tamrix-rest-server' --embaralhar";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string saida;
  char buf[256];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) saida.append(buf, n);
  EXPECT_EQ(::pclose(p), 0);
  EXPECT_EQ(saida, pgtest::Env()->userScrambled + "\n" + pgtest::Env()->passwordScrambled + "\n");
}

}  // namespace
}  // namespace tamrix::e2e
