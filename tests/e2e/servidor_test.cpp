// The dist/ executable, headless, against the test PostgreSQL: start and stop, a main
// database that refuses the login, the log lines and events of both.
#include <atomic>
#include <regex>
#include <thread>

#include "config/uEmbaralharTexto.h"
#include "e2e/e2e_servidor.h"

namespace tamrix::e2e {
namespace {

const std::regex kLinhaHorario(R"((\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d) - (.*))");

// Seconds between now and a "dd/MM/yyyy hh:nn:ss" local time.
double SegundosDesde(const std::smatch& m) {
  std::tm t{};
  t.tm_mday = std::stoi(m[1]);
  t.tm_mon = std::stoi(m[2]) - 1;
  t.tm_year = std::stoi(m[3]) - 1900;
  t.tm_hour = std::stoi(m[4]);
  t.tm_min = std::stoi(m[5]);
  t.tm_sec = std::stoi(m[6]);
  t.tm_isdst = -1;
  return std::difftime(std::time(nullptr), std::mktime(&t));
}

void EsperarLinhaHorario(const std::string& linha, const std::string& texto) {
  std::smatch m;
  ASSERT_TRUE(std::regex_match(linha, m, kLinhaHorario)) << linha;
  EXPECT_EQ(m[7], texto);
  const double s = SegundosDesde(m);
  EXPECT_GE(s, -2) << linha;
  EXPECT_LE(s, 120) << linha;
}

class ServidorE2E : public ::testing::TestWithParam<int> {};

TEST_P(ServidorE2E, StartLogsAndRecordsTheStartAndASignalStopsItCleanly) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  TServidorE2E servidor({.MainDb = main.Name()});
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();

  auto log = servidor.Log();
  ASSERT_EQ(log.size(), 1u);
  EsperarLinhaHorario(log[0], "Iniciando servidor.");
  EXPECT_EQ(Eventos(main.Name()), std::vector<std::string>{"Servidor iniciado."});
  EXPECT_EQ(servidor.Get("/tamrix/rest/TsmComum/InverterString/abc").Body, R"({"result":["cba"]})");

  EXPECT_EQ(servidor.Parar(GetParam()), 0) << servidor.Erros();
  log = servidor.Log();
  ASSERT_EQ(log.size(), 2u);
  EsperarLinhaHorario(log[1], "Parando servidor.");
  EXPECT_EQ(Eventos(main.Name()),
            (std::vector<std::string>{"Servidor iniciado.", "Servidor parado."}));
  EXPECT_EQ(EnviarBruto(servidor.Porta(), "GET / HTTP/1.0\r\n\r\n").Status, 0)
      << "the port still answers after the stop";
}

TEST(ServidorE2ESemTela, WithoutAReachableDisplayItRunsHeadlessAndIgnoresItsArguments) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E servidor;
  ASSERT_TRUE(servidor.Iniciar({"--porta=1", "janela", "-h"}, ":987")) << servidor.Erros();
  EXPECT_NE(servidor.Erros().find("sem tela"), std::string::npos) << servidor.Erros();
  EXPECT_EQ(servidor.Get("/tamrix/rest/TsmComum/InverterString/123").Body, R"({"result":["321"]})");
  EXPECT_EQ(servidor.Parar(SIGTERM), 0);
}

TEST(ServidorE2EParada, StopWhileCallsAreRunningEndsCleanly) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E servidor;
  ASSERT_TRUE(servidor.Iniciar()) << servidor.Erros();
  std::atomic<bool> parar{false};
  std::atomic<int> respondidas{0};
  std::vector<std::thread> clientes;
  for (int i = 0; i < 16; ++i)
    clientes.emplace_back([&] {
      while (!parar) {
        const auto r = servidor.Get(std::string("/tamrix/rest/TsmUsuario/Login/ADMIN/admin123/") +
                                    pgtest::kTokenLoja1);
        if (r.Status == 200) ++respondidas;
      }
    });
  while (respondidas < 50) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const int status = servidor.Parar(SIGTERM);
  parar = true;
  for (auto& t : clientes) t.join();
  EXPECT_EQ(status, 0) << servidor.Erros();
  const auto log = servidor.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("Parando servidor."), std::string::npos) << log.back();
}

INSTANTIATE_TEST_SUITE_P(Sinais, ServidorE2E, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) {
                           return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT");
                         });

TEST(ServidorE2EFalha, WrongPasswordInConfigLogsTheErrorStopsTwiceAndExitsWithFailure) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  TServidorE2E servidor(
      {.MainDb = main.Name(), .Senha = config::EmbaralharTexto("senha-errada", true)});
  EXPECT_FALSE(servidor.Iniciar());
  ASSERT_TRUE(servidor.Terminou(std::chrono::seconds(60)));
  EXPECT_EQ(servidor.Status(), 1);

  const auto log = servidor.Log();
  ASSERT_EQ(log.size(), 4u) << servidor.Erros();
  EsperarLinhaHorario(log[0], "Iniciando servidor.");
  EXPECT_TRUE(std::regex_match(
      log[1],
      std::regex(
          R"(\* ERRO \d\d/\d\d/\d{4} \d\d:\d\d:\d\d \* Usuário ou senha do banco de dados inválido\.)")))
      << log[1];
  // One stop from the start sequence itself, one from the Stop that follows a false start.
  EsperarLinhaHorario(log[2], "Parando servidor.");
  EsperarLinhaHorario(log[3], "Parando servidor.");
  EXPECT_TRUE(Eventos(main.Name()).empty());
  EXPECT_NE(servidor.Erros().find("Usuário ou senha do banco de dados inválido."),
            std::string::npos)
      << servidor.Erros();
}

TEST(ServidorE2EFalha, TakenPortIsReportedAndNothingStarts) {
  TAMRIX_REQUIRE_DIST();
  TServidorE2E primeiro;
  ASSERT_TRUE(primeiro.Iniciar()) << primeiro.Erros();
  TServidorE2E segundo({.Porta = primeiro.Porta()});
  EXPECT_FALSE(segundo.Iniciar());
  ASSERT_TRUE(segundo.Terminou(std::chrono::seconds(30)));
  EXPECT_EQ(segundo.Status(), 1);
  EXPECT_FALSE(segundo.Erros().empty());
  EXPECT_TRUE(segundo.Log().empty()) << "the server must not start without its listener";
  EXPECT_EQ(primeiro.Get("/tamrix/rest/TsmComum/InverterString/ok").Body, R"({"result":["ko"]})");
}

}  // namespace
}  // namespace tamrix::e2e
