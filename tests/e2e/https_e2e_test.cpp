// The HTTPS port of the dist/ executable, with a CA and certificates made by the openssl tool
// and real clients (curl, openssl s_client): a terminal logging in and uploading its sales
// file, the protocol versions it takes, SIGHUP reloading the certificate, stalled handshakes,
// the pages, the access log and the metrics.
#include <signal.h>

#include "e2e/integracao_e2e.h"
#include "web/tls_teste.h"

namespace tamrix::e2e {
namespace {

using testes::Executar;
using testes::TCertificadosTeste;

bool Contem(const std::string& texto, const std::string& parte) {
  return texto.find(parte) != std::string::npos;
}

// config.ini's [HTTPS] for a port and the pair, and more sections after it.
std::string SecaoHTTPS(int porta, const std::string& certificado, const std::string& chave) {
  return "[HTTPS]\r\nPorta=" + std::to_string(porta) + "\r\nCertificado=" + certificado +
         "\r\nChavePrivada=" + chave + "\r\n";
}

// curl over HTTPS trusting only the test CA: the status line and headers, an empty line and the
// body; "" when curl failed.
std::string Curl(const TCertificadosTeste& certs, int porta, const std::string& alvo,
                 const std::string& opcoes = {}) {
  return Executar("curl -sS -i --max-time 60 --cacert " + certs.CA() + " " + opcoes +
                  " 'https://localhost:" + std::to_string(porta) + alvo + "' 2>/dev/null");
}

// What openssl s_client says of a handshake with these options (stdin closed).
std::string SClient(int porta, const std::string& opcoes) {
  return Executar("openssl s_client -connect 127.0.0.1:" + std::to_string(porta) + " " + opcoes +
                  " </dev/null 2>&1");
}

std::string SerialVisto(int porta) {
  std::string s = Executar("openssl s_client -connect 127.0.0.1:" + std::to_string(porta) +
                           " </dev/null 2>/dev/null | openssl x509 -noout -serial");
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

TEST(HttpsServidorE2E, TerminalLogsInAndUploadsOverHttpsBesidePlainHttp) {
  TAMRIX_REQUIRE_DIST();
  TCertificadosTeste certs;
  const int https = PortaLivre(), adm = PortaLivre();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  pgtest::TPgScratchDatabase tenant(pgtest::Env()->tenant1Template);
  pgtest::Exec(main.Name(), "UPDATE ConfigBD SET nome_bd = '" + tenant.Name() +
                                "' WHERE token = '" + upload::kToken + "'");
  // Relative paths: beside the executable.
  TServidorE2E s({.MainDb = main.Name(),
                  .ExtraBD = SecaoHTTPS(https, "tls/servidor.crt", "tls/servidor.key") +
                             "[Administracao]\r\nPorta=" + std::to_string(adm) + "\r\n"});
  std::filesystem::create_directory(s.Pasta() + "tls");
  std::filesystem::copy_file(certs.Certificado(), s.Pasta() + "tls/servidor.crt");
  std::filesystem::copy_file(certs.Chave(), s.Pasta() + "tls/servidor.key");
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  EXPECT_TRUE(Contem(s.Saida(), "https://localhost:" + std::to_string(https) + "/"));

  const std::string login =
      Curl(certs, https, "/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/TkLoja1-7F3A9C");
  EXPECT_TRUE(login.starts_with("HTTP/1.1 200")) << login;
  EXPECT_TRUE(Contem(login, R"({"result":["Sucesso",true]})")) << login;

  const std::string corpo = upload::Corpo("|V|11222333000181|100,00|");
  const std::string arquivoCorpo = certs.Pasta().Gravar("corpo.json", corpo);
  const std::string envio =
      Curl(certs, https,
           std::string("/tamrix/rest/TsmIntegracaoArquivo/EnviarArquivoVendas/") + upload::kToken +
               "/" + upload::kCnpj + "/2016-10-09/VENDAS.TXT",
           "-X PUT -H 'Content-Type: application/json' --data-binary @" + arquivoCorpo);
  EXPECT_TRUE(Contem(envio, R"({"result":[{"C\u00F3digo":1,"Mensagem":"Sucesso."}]})")) << envio;
  EXPECT_EQ(upload::Contar(tenant.Name(), "Pos_Venda"), 1);

  // The plain port serves at the same time.
  EXPECT_EQ(s.Get("/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/TkLoja1-7F3A9C").Status, 200);

  // The access log and the metrics see the HTTPS calls.
  EXPECT_TRUE(upload::Esperar([&] {
    return Contem(s.Saida(), " PUT /tamrix/rest/TsmIntegracaoArquivo/EnviarArquivoVendas/");
  })) << s.Saida();
  EXPECT_TRUE(Contem(s.Saida(), " GET /tamrix/rest/TsmUsuario/LoginPDV/MARIA/***/*** 200 "));
  const std::string m = Pedir(adm, "GET", "/metrics").Body;
  EXPECT_TRUE(Contem(
      m, R"(tamrix_rest_requests_total{class="TsmUsuario",method="LoginPDV",status="200"} 2)"))
      << m;
  EXPECT_TRUE(Contem(m, "tamrix_sales_files_total{code=\"1\"} 1")) << m;
}

TEST(HttpsServidorE2E, TakesTls12And13AndRefusesOlderVersions) {
  TAMRIX_REQUIRE_DIST();
  TCertificadosTeste certs;
  const int https = PortaLivre();
  TServidorE2E s({.ExtraBD = SecaoHTTPS(https, certs.Certificado(), certs.Chave())});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();

  // The client is allowed the old versions and weak ciphers: the refusal is the server's alert.
  for (const char* versao : {"-tls1", "-tls1_1"}) {
    SCOPED_TRACE(versao);
    const std::string r = SClient(https, std::string(versao) + " -cipher DEFAULT@SECLEVEL=0");
    EXPECT_TRUE(Contem(r, "alert protocol version")) << r;
    EXPECT_TRUE(Contem(r, "New, (NONE), Cipher is (NONE)")) << r;
  }
  for (const auto& [versao, nome] : {std::pair{"-tls1_2", "TLSv1.2"}, {"-tls1_3", "TLSv1.3"}}) {
    SCOPED_TRACE(versao);
    const std::string r = SClient(https, std::string(versao) + " -CAfile " + certs.CA() +
                                             " -verify_return_error -servername localhost");
    EXPECT_TRUE(Contem(r, std::string("New, ") + nome + ", Cipher is")) << r;
    EXPECT_TRUE(Contem(r, "Verify return code: 0 (ok)")) << r;
  }
}

TEST(HttpsServidorE2E, SighupReloadsTheCertificateAndABrokenPairKeepsTheOld) {
  TAMRIX_REQUIRE_DIST();
  TCertificadosTeste certs;
  const int https = PortaLivre();
  TServidorE2E s(
      {.ExtraBD = SecaoHTTPS(https, certs.Caminho("uso.crt"), certs.Caminho("uso.key"))});
  std::filesystem::copy_file(certs.Certificado(), certs.Caminho("uso.crt"));
  std::filesystem::copy_file(certs.Chave(), certs.Caminho("uso.key"));
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  EXPECT_EQ(SerialVisto(https), certs.Serial("servidor"));

  const std::string novo = certs.Emitir("novo");
  const auto sobre = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(certs.Certificado("novo"), certs.Caminho("uso.crt"), sobre);
  std::filesystem::copy_file(certs.Chave("novo"), certs.Caminho("uso.key"), sobre);
  ::kill(s.Pid(), SIGHUP);
  ASSERT_TRUE(upload::Esperar([&] { return Contem(s.Saida(), "Certificado HTTPS recarregado."); }))
      << s.Saida();
  EXPECT_EQ(SerialVisto(https), novo);

  // A key of another certificate: the new pair stays, and the log says why.
  std::filesystem::copy_file(certs.Chave("servidor"), certs.Caminho("uso.key"), sobre);
  ::kill(s.Pid(), SIGHUP);
  ASSERT_TRUE(upload::Esperar([&] {
    return Contem(s.Saida(), "O certificado HTTPS não foi recarregado");
  })) << s.Saida();
  EXPECT_EQ(SerialVisto(https), novo);
  bool noLog = false;
  for (const auto& l : s.Log())
    noLog = noLog || Contem(l,
                            "segue em uso o anterior. Motivo: Não foi possível carregar a "
                            "chave privada do HTTPS (" +
                                certs.Caminho("uso.key") +
                                "): a chave privada não corresponde ao certificado.");
  EXPECT_TRUE(noLog);
  // The tenant directory is still reloaded by the same signal.
  EXPECT_TRUE(Contem(s.Saida(), "Diretório de bancos recarregado"));
}

TEST(HttpsServidorE2E, StalledHandshakesAreClosedByTheReadTimeWhileOthersAreServed) {
  TAMRIX_REQUIRE_DIST();
  TCertificadosTeste certs;
  const int https = PortaLivre();
  TServidorE2E s({.ExtraServidor = "TempoLeitura=2\r\nMaximoConexoesPorIP=0\r\n",
                  .ExtraBD = SecaoHTTPS(https, certs.Certificado(), certs.Chave())});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();

  // 200 connections: half send nothing, half the start of a ClientHello.
  const char meio[] = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03";
  std::vector<int> paradas;
  for (int i = 0; i < 200; ++i) {
    const int c = testes::ConectarLocal(https);
    ASSERT_GE(c, 0);
    if (i % 2 == 1) ::send(c, meio, sizeof meio - 1, MSG_NOSIGNAL);
    paradas.push_back(c);
  }
  const std::string login =
      Curl(certs, https, "/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/TkLoja1-7F3A9C");
  EXPECT_TRUE(Contem(login, R"({"result":["Sucesso",true]})")) << login;
  EXPECT_EQ(s.Get("/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/TkLoja1-7F3A9C").Status, 200);

  // Each is closed by the server (the client's own limit is 60 s) without an answer.
  int fechadas = 0;
  for (int c : paradas) {
    char buf[256];
    ssize_t n;
    std::string lido;
    while ((n = ::recv(c, buf, sizeof buf, 0)) > 0) lido.append(buf, static_cast<std::size_t>(n));
    if ((n == 0 || errno == ECONNRESET) && !Contem(lido, "HTTP/")) ++fechadas;
    ::close(c);
  }
  EXPECT_EQ(fechadas, 200);
  EXPECT_TRUE(Contem(Curl(certs, https, "/"), "HTTP/1.1 200"));
}

TEST(HttpsServidorE2E, PagesFetchedOverHttpsCallBackOverHttpsOnTheTlsPort) {
  TAMRIX_REQUIRE_DIST();
  TCertificadosTeste certs;
  const int https = PortaLivre();
  TServidorE2E s({.ExtraBD = SecaoHTTPS(https, certs.Certificado(), certs.Chave())});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string porta = std::to_string(https);

  const std::string inicio = Curl(certs, https, "/");
  EXPECT_TRUE(Contem(inicio, "new TamrixConnectionInfo(\"\", \"" + porta + "\", \"\", \"https:\")"))
      << inicio;
  const std::string invocador = Curl(certs, https, "/ServerFunctionInvoker");
  EXPECT_TRUE(Contem(invocador, "porta " + porta)) << invocador;
  EXPECT_TRUE(
      Contem(invocador, "new TamrixConnectionInfo(\"\", \"" + porta + "\", \"\", \"https:\")"));
  EXPECT_TRUE(Contem(Curl(certs, https, "/js/serverfunctions.js"), "function TsmComum("));
  // The same page over the plain port stays on http.
  EXPECT_TRUE(Contem(s.Get("/").Body, "\"" + std::to_string(s.Porta()) + "\", \"\", \"http:\")"));
}

TEST(HttpsServidorE2E, ACertificateThatCannotBeLoadedStopsTheStartWithTheReason) {
  TAMRIX_REQUIRE_DIST();
  TCertificadosTeste certs;
  TServidorE2E s({.ExtraBD = SecaoHTTPS(PortaLivre(), certs.Caminho("falta.crt"), certs.Chave())});
  EXPECT_FALSE(s.Iniciar());
  EXPECT_EQ(s.Status(), 1);
  EXPECT_TRUE(Contem(s.Erros(), "Não foi possível carregar o certificado do HTTPS (" +
                                    certs.Caminho("falta.crt") + "): o arquivo não existe."))
      << s.Erros();
}

}  // namespace
}  // namespace tamrix::e2e
