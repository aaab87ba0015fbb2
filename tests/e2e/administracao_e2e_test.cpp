// The admin port of the real server: liveness, readiness following the main database (a
// PostgreSQL of the test's own, stopped and started), the metrics checked by promtool and
// scraped by a real Prometheus, and the port answering while every REST instance is busy.
#include <cstdio>
#include <future>

#include "e2e/e2e_servidor.h"
#include "e2e/integracao_e2e.h"

namespace tamrix::e2e {
namespace {

bool Contem(const std::string& s, const std::string& trecho) {
  return s.find(trecho) != std::string::npos;
}

// Runs a shell command; its standard output, and its exit status in *status.
std::string Executar(const std::string& comando, int* status = nullptr) {
  std::string saida;
  FILE* p = ::popen(comando.c_str(), "r");
  if (p == nullptr) return saida;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) saida.append(buf, n);
  const int st = ::pclose(p);
  if (status != nullptr) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return saida;
}

bool TemPrograma(const std::string& nome) {
  int st = 0;
  Executar("command -v " + nome + " >/dev/null 2>&1", &st);
  return st == 0;
}

template <class F>
bool AteQue(F condicao, std::chrono::seconds limite = 30s) {
  return upload::Esperar(condicao, limite);
}

TConfigE2E ComAdministracao(int portaAdm, TConfigE2E c = {}) {
  c.ExtraBD += "[Administracao]\r\nPorta=" + std::to_string(portaAdm) + "\r\n";
  return c;
}

TEST(AdministracaoE2E, LiveReadyAndMetricsThatPromtoolAccepts) {
  TAMRIX_REQUIRE_DIST();
  const int adm = PortaLivre();
  TServidorE2E s(ComAdministracao(adm));
  ASSERT_TRUE(s.Iniciar()) << s.Erros();

  const auto live = Pedir(adm, "GET", "/live");
  EXPECT_EQ(live.Status, 200);
  EXPECT_EQ(live.Body, R"({"status":"vivo"})");
  EXPECT_TRUE(AteQue([&] { return Pedir(adm, "GET", "/ready").Status == 200; }))
      << Pedir(adm, "GET", "/ready").Body;
  EXPECT_EQ(Pedir(adm, "GET", "/ready").Body, R"({"status":"pronto"})");
  // The REST paths are not served on the admin port, nor the admin paths on the REST one.
  EXPECT_EQ(Pedir(adm, "GET", "/tamrix/rest/TsmComum/InverterString/abc").Status, 404);
  EXPECT_FALSE(Contem(s.Get("/metrics").Body, "tamrix_rest_requests_total"));

  ASSERT_EQ(s.Get("/tamrix/rest/TsmComum/InverterString/abc").Status, 200);
  ASSERT_EQ(s.Get("/tamrix/rest/Tsm%22Nada/x%0Ay").Status, 500);
  const auto m = Pedir(adm, "GET", "/metrics");
  ASSERT_EQ(m.Status, 200);
  EXPECT_EQ(m.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_TRUE(Contem(m.Body,
                     "tamrix_rest_requests_total{class=\"TsmComum\",method=\"InverterString\","
                     "status=\"200\"} 1\n"))
      << m.Body;
  // A name the server does not know is never a label of its own.
  EXPECT_TRUE(Contem(m.Body,
                     "tamrix_rest_requests_total{class=\"desconhecido\",method=\"desconhecido\","
                     "status=\"500\"} 1\n"));
  EXPECT_FALSE(Contem(m.Body, "Nada"));
  EXPECT_TRUE(Contem(m.Body, "tamrix_pool_instances_in_use{pool=\"rest\"} 0\n"));
  EXPECT_TRUE(Contem(m.Body, "\nprocess_resident_memory_bytes "));

  if (!TemPrograma("promtool"))
    GTEST_SKIP() << "promtool not installed (Debian package prometheus)";
  testes::TPastaTemp t;
  int st = -1;
  const std::string saida =
      Executar("promtool check metrics < '" + t.Gravar("m.txt", m.Body) + "' 2>&1", &st);
  EXPECT_EQ(st, 0) << saida;
  EXPECT_EQ(saida, "") << "lint remarks";
}

TEST(AdministracaoE2E, ReadyIs503WhilePostgresIsStoppedAnd200AfterItComesBack) {
  TAMRIX_REQUIRE_DIST();
  // A cluster of this test's own: the shared one serves the other tests running meanwhile.
  const std::string pg = std::string("bash '") + TAMRIX_SOURCE_DIR + "/scripts/pg' ";
  testes::TPastaTemp cluster;
  // Run as root, scripts/pg hands the cluster to the postgres user, who must reach it.
  std::filesystem::permissions(cluster.Pasta(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  const std::string pasta = cluster.Pasta() + "pg";
  const std::string env = Executar(pg + "start '" + pasta + "' 2>/dev/null");
  const auto i = env.find("TAMRIX_PG_PORT=");
  ASSERT_NE(i, std::string::npos) << "scripts/pg start failed";
  const std::string porta = env.substr(i + 15, env.find('\n', i) - i - 15);
  struct TParar {
    std::string comando;
    ~TParar() { Executar(comando + " >/dev/null 2>&1"); }
  } parar{pg + "stop '" + pasta + "'"};

  const int adm = PortaLivre();
  TServidorE2E s(ComAdministracao(adm));
  // The server's main database on that cluster (same role and fixtures): config.ini rewritten.
  std::string ini = testes::LerArquivo(s.Pasta() + "config.ini");
  const std::string antes = "\r\nPorta=" + pgtest::Env()->port + "\r\n";
  ASSERT_NE(ini.find(antes), std::string::npos);
  ini.replace(ini.find(antes), antes.size(), "\r\nPorta=" + porta + "\r\n");
  std::ofstream(s.Pasta() + "config.ini", std::ios::binary) << ini;
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  ASSERT_TRUE(AteQue([&] { return Pedir(adm, "GET", "/ready").Status == 200; }));

  ASSERT_EQ(std::system((parar.comando + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_TRUE(AteQue([&] { return Pedir(adm, "GET", "/ready").Status == 503; }));
  const auto fora = Pedir(adm, "GET", "/ready");
  EXPECT_TRUE(Contem(fora.Body, R"("status":"indisponivel","motivo":"banco principal n)"))
      << fora.Body;
  EXPECT_EQ(Pedir(adm, "GET", "/live").Status, 200);
  EXPECT_EQ(Pedir(adm, "GET", "/metrics").Status, 200);

  const std::string de_novo = Executar(pg + "start '" + pasta + "' 2>/dev/null");
  ASSERT_TRUE(Contem(de_novo, "TAMRIX_PG_PORT=" + porta + "\n")) << "came back on another port";
  EXPECT_TRUE(AteQue([&] { return Pedir(adm, "GET", "/ready").Status == 200; }))
      << Pedir(adm, "GET", "/ready").Body;
}

TEST(AdministracaoE2E, PrometheusScrapesTheRequestCounter) {
  TAMRIX_REQUIRE_DIST();
  if (!TemPrograma("prometheus")) GTEST_SKIP() << "prometheus not installed";
  const int adm = PortaLivre();
  TServidorE2E s(ComAdministracao(adm));
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  ASSERT_EQ(s.Get("/tamrix/rest/TsmComum/InverterString/abc").Status, 200);

  testes::TPastaTemp t;
  const std::string config = t.Gravar("prometheus.yml",
                                      "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                      "scrape_configs:\n  - job_name: tamrix\n    static_configs:\n"
                                      "      - targets: ['127.0.0.1:" +
                                          std::to_string(adm) + "']\n");
  const int web = PortaLivre();
  testes::TPastaTemp dados;
  const std::string comando = "prometheus --config.file='" + config + "' --storage.tsdb.path='" +
                              dados.Pasta() +
                              "' --web.listen-address=127.0.0.1:" + std::to_string(web) + " >'" +
                              t.Caminho("prometheus.log") + "' 2>&1 & echo $!";
  const pid_t pid = std::atoi(Executar(comando).c_str());
  ASSERT_GT(pid, 0);
  struct TMatar {
    pid_t pid;
    ~TMatar() { ::kill(pid, SIGTERM); }
  } matar{pid};

  std::string resposta;
  const bool achou = AteQue(
      [&] {
        resposta =
            Pedir(
                web, "GET",
                "/api/v1/query?query=tamrix_rest_requests_total%7Bmethod%3D%22InverterString%22%7D")
                .Body;
        return Contem(resposta, R"("status":"success")") &&
               Contem(resposta, R"("method":"InverterString")");
      },
      60s);
  EXPECT_TRUE(achou) << resposta << "\n" << testes::LerArquivo(t.Caminho("prometheus.log"));
  EXPECT_TRUE(Contem(resposta, R"("job":"tamrix")")) << resposta;
}

TEST(AdministracaoE2E, AnswersWhileEveryRestInstanceIsBusy) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  pgtest::TPgScratchDatabase tenant(pgtest::Env()->tenant1Template);
  pgtest::Exec(main.Name(), "UPDATE ConfigBD SET nome_bd = '" + tenant.Name() +
                                "' WHERE token = '" + upload::kToken + "'");
  const int adm = PortaLivre();
  TServidorE2E s(ComAdministracao(
      adm, TConfigE2E{.MainDb = main.Name(), .ExtraServidor = "MaximoInstancias=1\r\n"}));
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  ASSERT_TRUE(AteQue([&] { return Pedir(adm, "GET", "/ready").Status == 200; }));

  // A sales file held on a table lock: its call keeps the only REST instance.
  db::TDBConnection trava;
  pgtest::Configure(trava, tenant.Name());
  trava.Open();
  trava.StartTransaction();
  db::TDBQuery q(&trava);
  q.SetSQL("LOCK TABLE Pos_Arquivo IN ACCESS EXCLUSIVE MODE");
  q.ExecSQL();
  auto envio = std::async(std::launch::async, [&] {
    return upload::Enviar(s.Porta(), upload::kToken, upload::kCnpj, "2016-10-09", "PRESO.TXT",
                          upload::Corpo("|V|11222333000181|1,00|\r\n"));
  });
  const bool preso = AteQue([&] {
    return pgtest::QueryText(
               tenant.Name(),
               "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
               "AND wait_event_type = 'Lock'") != "0";
  });
  ASSERT_TRUE(preso) << "the upload never waited on the lock";

  const auto recusada = s.Get("/tamrix/rest/TsmComum/InverterString/abc");
  EXPECT_EQ(recusada.Status, 500);
  EXPECT_TRUE(Contem(recusada.Body, "Maximum number of concurrent connections exceeded"))
      << recusada.Body;
  EXPECT_EQ(Pedir(adm, "GET", "/live").Status, 200);
  EXPECT_EQ(Pedir(adm, "GET", "/ready").Status, 200);
  const auto m = Pedir(adm, "GET", "/metrics");
  EXPECT_EQ(m.Status, 200);
  EXPECT_TRUE(Contem(m.Body, "tamrix_pool_instances_in_use{pool=\"rest\"} 1\n")) << m.Body;
  EXPECT_TRUE(Contem(m.Body, "tamrix_pool_refusals_total{pool=\"rest\"} 1\n")) << m.Body;
  EXPECT_TRUE(Contem(m.Body, "tamrix_rest_requests_in_progress 1\n")) << m.Body;

  trava.Rollback();
  const auto r = envio.get();
  EXPECT_EQ(r.Codigo, 1) << r.Body;
  const auto depois = Pedir(adm, "GET", "/metrics").Body;
  EXPECT_TRUE(Contem(depois, "tamrix_sales_files_total{code=\"1\"} 1\n")) << depois;
  EXPECT_TRUE(Contem(depois, "tamrix_sales_file_lines_stored_total 1\n")) << depois;
}

}  // namespace
}  // namespace tamrix::e2e
