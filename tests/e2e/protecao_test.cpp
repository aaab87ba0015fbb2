// What an anonymous client can make the real server do: a flood of session-less calls does
// not log a terminal out, no GET writes a file outside js/, REST answers are never run as a
// page, and uploads stop at their disk quota.
#include <atomic>
#include <set>
#include <thread>

#include "e2e/e2e_servidor.h"
#include "e2e/integracao_e2e.h"

namespace tamrix::e2e {
namespace {

namespace fs = std::filesystem;

std::set<std::string> ArquivosDe(const std::string& pasta) {
  std::set<std::string> r;
  for (const auto& e : fs::recursive_directory_iterator(pasta)) r.insert(e.path().string());
  return r;
}

TEST(Protecao, ALoggedInTerminalKeepsItsSessionThroughAFloodOfSessionlessCalls) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s;
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const auto login =
      s.Get(std::string("/tamrix/rest/TsmUsuario/Login/ADMIN/admin123/") + pgtest::kTokenLoja1);
  ASSERT_EQ(login.Body, R"({"result":["Sucesso",true]})");
  const std::string sessao = login.Sessao();

  // More than the registry's 100,000 sessions, each call opening one of its own.
  constexpr int kChamadas = 150'000, kThreads = 8;
  std::atomic<int> proxima{0}, respondidas{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      while (proxima.fetch_add(1) < kChamadas)
        if (s.Get("/tamrix/rest/TsmComum/InverterString/ab").Status == 200) ++respondidas;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(respondidas.load(), kChamadas);

  const auto r =
      s.Get("/tamrix/rest/TsmUsuario/ConsultarDadosUsuario/ADMIN/admin123", Pragma(sessao));
  EXPECT_EQ(r.Status, 200) << r.Body;
  EXPECT_EQ(r.Body.find("Session has expired"), std::string::npos) << r.Body;
}

TEST(Protecao, OnlyTheLibraryInJsIsEverWrittenByAGet) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s;
  fs::remove(s.Pasta() + "js/serverfunctions.js");
  fs::create_directories(s.Pasta() + "x");
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  auto antes = ArquivosDe(s.Pasta());
  for (const char* alvo : {"/serverfunctions.js", "/x/serverfunctions.js",
                           "/proxy/serverfunctions.js", "/js/ServerFunctions.js"})
    EXPECT_NE(s.Get(alvo).Status, 200) << alvo;
  auto depois = ArquivosDe(s.Pasta());
  for (const char* nome : {"log.txt", "stdout.txt", "stderr.txt"}) {
    antes.erase(s.Pasta() + nome);
    depois.erase(s.Pasta() + nome);
  }
  EXPECT_EQ(depois, antes);

  EXPECT_EQ(s.Get("/js/serverfunctions.js").Status, 200);
  EXPECT_TRUE(fs::exists(s.Pasta() + "js/serverfunctions.js"));
}

TEST(Protecao, RestAnswersForbidScriptsAndSniffingButKeepTheirBody) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E s;
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const struct {
    const char* alvo;
    int status;
    const char* corpo;  // "" when only the headers are checked
  } casos[] = {
      {"/tamrix/rest/TsmComum/InverterString/abc", 200, R"({"result":["cba"]})"},
      {"/tamrix/rest/TsmComum/%3Cimg%20src%3Dx%20onerror%3Dalert(1)%3E", 500,
       R"({"error":"TsmComum.<img src=x onerror=alert(1)> method not found in the server method list"})"},
      {"/tamrix/cache/0", 0, ""},
  };
  for (const auto& c : casos) {
    const auto r = s.Get(c.alvo);
    if (c.status != 0) {
      EXPECT_EQ(r.Status, c.status) << c.alvo;
    }
    if (*c.corpo != '\0') {
      EXPECT_EQ(r.Body, c.corpo) << c.alvo;
    }
    EXPECT_EQ(r.Header("Content-Security-Policy"), "default-src 'none'") << c.alvo;
    EXPECT_EQ(r.Header("X-Content-Type-Options"), "nosniff") << c.alvo;
  }
  // Pages keep running their own scripts.
  EXPECT_EQ(s.Get("/ReverseString").Header("Content-Security-Policy"), "");
}

TEST(Protecao, UploadsStopAtTheirQuotaWritingNothing) {
  TAMRIX_REQUIRE_DIST();
  TConfigE2E c;
  c.ExtraServidor = "EspacoMaximoUploads=6000\r\n";  // one 4 KiB block, not two
  TServidorE2E s(c);
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string corpo = upload::Corpo(std::string(600, 'a'));
  const auto primeiro =
      Pedir(s.Porta(), "POST", "/tamrix/rest/TsmComum/UploadFile/a/b/c", "", corpo);
  EXPECT_EQ(primeiro.Body.rfind(R"({"result":["#Sucesso#)", 0), 0u) << primeiro.Body.substr(0, 200);
  const auto antes = ArquivosDe(s.Pasta());
  const auto segundo =
      Pedir(s.Porta(), "POST", "/tamrix/rest/TsmComum/UploadFile/a/b/c", "", corpo);
  EXPECT_EQ(segundo.Body.rfind(R"({"error":"O arquivo enviado)", 0), 0u) << segundo.Body;
  EXPECT_NE(segundo.Body.find("EspacoMaximoUploads"), std::string::npos) << segundo.Body;
  auto depois = ArquivosDe(s.Pasta());
  EXPECT_EQ(depois.size(), antes.size());
}

}  // namespace
}  // namespace tamrix::e2e
