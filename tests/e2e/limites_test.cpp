// The listener's limits in the dist/ executable, set through config.ini: header size (and
// the server's memory under a flood of header lines), whole-request read time, whole-answer
// write time, connections per client address and the request pool.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "e2e/limites_e2e.h"
#include "web/uHTTPAcceptor.h"

namespace tamrix::e2e {
namespace {

constexpr const char* kInverter = "/tamrix/rest/TsmComum/InverterString/abc";
constexpr const char* kInvertido = R"({"result":["cba"]})";

// A GET of alvo whose header lines (each 1,000 bytes) bring the header to about tamanho bytes.
std::string PedidoComCabecalho(const std::string& alvo, std::size_t tamanho, bool dobrado) {
  std::string p = "GET " + alvo + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n";
  if (dobrado) p += "X-Dobrado: a\r\n";
  for (int i = 0; p.size() + 1000 < tamanho; ++i)
    p += dobrado ? " " + std::string(997, 'b') + "\r\n"
                 : "X-" + std::to_string(1000 + i) + ": " + std::string(990, 'b') + "\r\n";
  return p + "\r\n";
}

TEST(LimitesE2E, HeaderOverTheTotalAnswers431AndUnderItIsServed) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E servidor;
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();
  for (bool dobrado : {false, true}) {
    SCOPED_TRACE(dobrado ? "one folded header" : "many lines");
    const auto grande =
        EnviarBruto(servidor.Porta(), PedidoComCabecalho(kInverter, 70000, dobrado));
    EXPECT_EQ(grande.Status, 431);
    EXPECT_EQ(grande.Reason, "Request Header Fields Too Large");
    const auto cabe = EnviarBruto(servidor.Porta(), PedidoComCabecalho(kInverter, 60000, dobrado));
    EXPECT_EQ(cabe.Status, 200);
    EXPECT_EQ(cabe.Body, kInvertido);
  }
}

TEST(LimitesE2E, FloodOfHeaderLinesDoesNotGrowTheServer) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E servidor;
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();
  const pid_t pid = servidor.Pid();
  ASSERT_GT(pid, 0);
  constexpr int kClientes = 12;
  // Warm-up as wide as the flood, so that its threads and their arenas exist already.
  {
    std::vector<std::thread> t;
    for (int i = 0; i < kClientes; ++i)
      t.emplace_back([&] {
        for (int j = 0; j < 5; ++j) EXPECT_EQ(servidor.Get(kInverter).Body, kInvertido);
      });
    for (auto& x : t) x.join();
  }
  const long antes = MemoriaKiB(pid, "VmRSS");
  ASSERT_GT(antes, 0);
  std::atomic<long> pico{antes};
  std::atomic<bool> fim{false};
  std::thread amostras([&] {
    while (!fim) {
      pico = std::max(pico.load(), MemoriaKiB(pid, "VmRSS"));
      std::this_thread::sleep_for(2ms);
    }
  });
  // Each client sends 15 MiB of header lines of 15,000 bytes (under the line limit, and
  // fewer than the line-count limit) and never ends its header.
  std::string mega;
  for (int i = 0; mega.size() < (1u << 20); ++i)
    mega += "X-Linha-" + std::to_string(i) + ": " + std::string(15000, 'a') + "\r\n";
  std::atomic<int> fechadas{0};
  std::vector<std::thread> clientes;
  for (int i = 0; i < kClientes; ++i)
    clientes.emplace_back([&] {
      TConexaoE2E c(servidor.Porta());
      bool aberta = c.Enviar("GET / HTTP/1.1\r\nHost: h\r\n");
      for (int m = 0; m < 15 && aberta; ++m) aberta = c.Enviar(mega);
      bool fechou = false;
      const std::string r = c.LerTudo(fechou);
      if (fechou) ++fechadas;
      // The 431 may be lost to the reset that drops the rest of the flood.
      EXPECT_TRUE(r.empty() || r.rfind("HTTP/1.1 431 ", 0) == 0) << r.substr(0, 40);
    });
  for (auto& t : clientes) t.join();
  fim = true;
  amostras.join();
  RecordProperty("VmRSS_antes_KiB", std::to_string(antes));
  RecordProperty("VmRSS_pico_KiB", std::to_string(pico.load()));
  EXPECT_EQ(fechadas, kClientes);
  if (kMemoriaComparavel) {
    EXPECT_LT(pico - antes, 8 * 1024) << "VmRSS " << antes << " KiB before, peak " << pico
                                      << " KiB, VmHWM " << MemoriaKiB(pid, "VmHWM") << " KiB";
  }
  EXPECT_EQ(servidor.Get(kInverter).Body, kInvertido);
}

TEST(LimitesE2E, ReadTimeCoversTheBodyAndWriteTimeTheWholeAnswer) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E servidor({.ExtraServidor = "TempoLeitura=2\r\nTempoEscrita=1\r\n"});
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();

  // A body at one byte every 200 ms: no pause is long, the whole would take 20 s.
  {
    TConexaoE2E c(servidor.Porta());
    const auto inicio = std::chrono::steady_clock::now();
    bool aberta = c.Enviar(
        "PUT /tamrix/rest/TsmComum/InverterString HTTP/1.1\r\nHost: h\r\n"
        "Content-Length: 100\r\n\r\n");
    for (int i = 0; i < 100 && aberta; ++i) {
      std::this_thread::sleep_for(200ms);
      aberta = c.Enviar("x");
    }
    bool fechou = false;
    EXPECT_EQ(c.LerTudo(fechou, 10s), "");
    EXPECT_TRUE(fechou);
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 12s);
  }

  // A 64 MiB page read at 256 KiB every 20 ms (about 5 s in all) is cut off after the write
  // time, though no single pause is long.
  const std::string pagina(64u << 20, 'p');
  {
    std::ofstream f(std::filesystem::path(servidor.Pasta()) / "grande.htm", std::ios::binary);
    f << pagina;
  }
  TConexaoE2E c(servidor.Porta());
  c.Enviar("GET /grande.htm HTTP/1.1\r\nHost: h\r\n\r\n");
  const auto inicio = std::chrono::steady_clock::now();
  std::size_t recebidos = 0;
  std::vector<char> buf(256 << 10);
  while (std::chrono::steady_clock::now() - inicio < 60s) {
    const ssize_t n = ::recv(c.Descritor(), buf.data(), buf.size(), MSG_WAITALL);
    if (n <= 0) break;
    recebidos += static_cast<std::size_t>(n);
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_GT(recebidos, 0u);
  EXPECT_LT(recebidos, pagina.size());
  EXPECT_EQ(servidor.Get(kInverter).Body, kInvertido);
}

TEST(LimitesE2E, ConnectionsPerAddressAreCapped) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E servidor({.ExtraServidor = "MaximoConexoesPorIP=3\r\n"});
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();
  std::vector<std::unique_ptr<TConexaoE2E>> abertas;
  for (int i = 0; i < 3; ++i) {
    abertas.push_back(std::make_unique<TConexaoE2E>(servidor.Porta()));
    ASSERT_TRUE(abertas.back()->Conectada());
    abertas.back()->Enviar("GET " + std::string(kInverter) + " HTTP/1.1\r\n");
  }
  // The three are counted once the server has taken them: until then a fourth may pass.
  TRespostaHTTP quarta;
  for (int i = 0; i < 200 && quarta.Status != 503; ++i) {
    quarta = servidor.Get(kInverter);
    if (quarta.Status != 503) std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(quarta.Status, 503);
  EXPECT_EQ(quarta.Reason, "Service Unavailable");
  EXPECT_EQ(quarta.Body, web::kTextoConexoesDemais);

  abertas[0]->Enviar("Host: h\r\n\r\n");
  bool fechou = false;
  EXPECT_NE(abertas[0]->LerTudo(fechou).find(kInvertido), std::string::npos);
  abertas[0].reset();
  TRespostaHTTP nova;
  for (int i = 0; i < 200 && nova.Status != 200; ++i) {
    nova = servidor.Get(kInverter);
    if (nova.Status != 200) std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(nova.Status, 200);
  EXPECT_EQ(nova.Body, kInvertido);
}

// Runs clientes threads of pedidos sequential requests of alvo each, every one on a new
// connection read only up to the end of its answer; the answers that were not 200.
std::vector<std::string> Rajada(const TServidorE2E& servidor, const std::string& alvo, int clientes,
                                int pedidos) {
  std::vector<std::string> falhas;
  std::mutex m;
  std::vector<std::thread> t;
  for (int i = 0; i < clientes; ++i)
    t.emplace_back([&] {
      for (int j = 0; j < pedidos; ++j) {
        TConexaoE2E c(servidor.Porta());
        c.Enviar("GET " + alvo + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
        const std::string r = c.LerResposta();
        if (r.rfind("HTTP/1.1 200 OK", 0) == 0) continue;
        std::lock_guard l(m);
        falhas.push_back(r);
      }
    });
  for (auto& x : t) x.join();
  return falhas;
}

TEST(LimitesE2E, ClientsWithNoMoreRequestsOutstandingThanInstancesAreNeverRefused) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E servidor({.ExtraServidor = "MaximoInstancias=4\r\n"});
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();
  // A login opens the tenant connection that the end of the call closes again: the slow part
  // of a call's last steps.
  const auto falhas = Rajada(
      servidor, std::string("/tamrix/rest/TsmUsuario/Login/ADMIN/admin123/") + pgtest::kTokenLoja1,
      4, 150);
  EXPECT_TRUE(falhas.empty()) << falhas.size() << " not served, e.g. " << falhas[0];
}

TEST(LimitesE2E, PoolSizeAndWaitComeFromTheConfiguration) {
  TAMRIX_REQUIRE_DIST();
  constexpr const char* kRecusa =
      "Maximum number of concurrent connections exceeded.  Please try again later";
  {
    // One instance, no wait: sixteen clients at once soon find it busy.
    TServidorE2E servidor({.ExtraServidor = "MaximoInstancias=1\r\nEsperaInstancia=0\r\n"});
    ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();
    std::vector<std::string> falhas;
    for (int i = 0; i < 20 && falhas.empty(); ++i) falhas = Rajada(servidor, kInverter, 16, 25);
    ASSERT_FALSE(falhas.empty());
    EXPECT_EQ(falhas[0].rfind("HTTP/1.1 500 ", 0), 0u) << falhas[0];
    EXPECT_NE(falhas[0].find(kRecusa), std::string::npos) << falhas[0];
  }
  // With a wait they take turns instead.
  TServidorE2E servidor({.ExtraServidor = "MaximoInstancias=1\r\nEsperaInstancia=60000\r\n"});
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();
  const auto falhas = Rajada(servidor, kInverter, 16, 25);
  EXPECT_TRUE(falhas.empty()) << falhas.size() << " not served, e.g. " << falhas[0];
}

}  // namespace
}  // namespace tamrix::e2e
