// Connection reuse as config.ini asks for it, through the data module: the start turns the
// driver manager's pool on before the first connection, calls on different threads get the
// same backend, and a call whose pooled backend was killed still succeeds.
//
// Pooling is decided once per process, so each case runs in a child process of this
// executable (ReusoDmFilho, skipped unless started so); the parent checks that it passed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "config/uConfigServidor.h"
#include "core/uSessaoDados.h"
#include "core/udmServidor.h"
#include "db/uDBEnvironment.h"
#include "diagnostics/uLogServidor.h"
#include "rest/uRestSession.h"
#include "support/pgtest.h"
#include "support/processofilho.h"

namespace tamrix::core {
namespace {

using namespace std::chrono_literals;

// The backend of one call of a session of `token`, served on a thread of its own.
std::int32_t SpidDeUmaChamada(TdmServidor& dm, const std::string& token) {
  std::int32_t spid = -1;
  std::thread([&] {
    auto sessao =
        std::make_shared<rest::TRestSession>("9.9.9", "", std::chrono::steady_clock::now(), 1200s);
    rest::TSessaoDaThread vinculo(sessao);
    GravarToken(token);
    GravarUsuario("reuso");
    try {
      spid = dm.PegarSPID();
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
    dm.RestServerDisconnect();
  }).join();
  return spid;
}

TEST(ReusoDmFilho, ChamadasComOuSemReuso) {
  const char* principal = std::getenv("TAMRIX_REUSO_MAIN");
  if (principal == nullptr) GTEST_SKIP() << "child only";
  TAMRIX_REQUIRE_PG();
  const bool reuso = std::string(std::getenv("TAMRIX_REUSO_LIGADO")) == "1";
  const std::string log = (std::filesystem::temp_directory_path() /
                           ("tamrix-reuso-" + std::to_string(::getpid()) + ".txt"))
                              .string();
  auto& registro = diagnostics::TLogServidorSingleton::GetInstance();
  registro.DefinirArquivo(log);
  registro.LimparLog();

  const auto* env = pgtest::Env();
  auto& config = config::TConfigServidorSingleton::GetInstance();
  config.SetHost(env->host);
  config.SetDatabase(principal);
  config.SetUsuarioBD(env->userScrambled);
  config.SetSenhaBD(env->passwordScrambled);
  config.SetDriver("PostgreSQL");
  config.SetPortaBD(std::stoi(env->port));
  config.SetReutilizarConexoes(reuso);
  config.SetTempoReuso(60);

  {
    TdmServidor dm;
    ASSERT_TRUE(dm.IniciarServidor());
    EXPECT_EQ(db::TDBEnvironment::PoolingActive(), reuso);

    const std::int32_t a = SpidDeUmaChamada(dm, pgtest::kTokenLoja1);
    const std::int32_t b = SpidDeUmaChamada(dm, pgtest::kTokenLoja1);
    ASSERT_GT(a, 0);
    if (reuso) {
      EXPECT_EQ(a, b) << "the second call did not reuse the first one's backend";
      pgtest::QueryText("postgres", "SELECT pg_terminate_backend(" + std::to_string(a) + ")");
      for (int i = 0; i < 100 && pgtest::QueryText("postgres",
                                                   "SELECT count(*) FROM pg_stat_activity WHERE "
                                                   "pid = " +
                                                       std::to_string(a)) != "0";
           ++i)
        std::this_thread::sleep_for(50ms);
      const std::int32_t c = SpidDeUmaChamada(dm, pgtest::kTokenLoja1);
      EXPECT_GT(c, 0);
      EXPECT_NE(c, a);
    } else {
      EXPECT_NE(a, b);
    }
    // Another tenant never gets this tenant's backend.
    const std::int32_t outro = SpidDeUmaChamada(dm, pgtest::kTokenLoja2);
    EXPECT_NE(outro, a);
    EXPECT_NE(outro, b);
    dm.PararServidor();
  }
  for (const auto& linha : registro.Linhas())
    EXPECT_EQ(linha.find("ERRO"), std::string::npos) << linha;
  std::remove(log.c_str());
}

TEST(ReusoDmServidor, ConfigIniLigaEDesligaOReusoDasConexoesDosTenants) {
  if (std::getenv("TAMRIX_REUSO_MAIN") != nullptr) GTEST_SKIP();
  TAMRIX_REQUIRE_PG();
  pgtest::TPgScratchDatabase principal(pgtest::Env()->mainTemplate);
  for (const char* ligado : {"1", "0"}) {
    SCOPED_TRACE(std::string("ReutilizarConexoes=") + ligado);
    const auto r = testes::RodarFilho(
        "ReusoDmFilho.ChamadasComOuSemReuso",
        "TAMRIX_REUSO_MAIN=" + principal.Name() + " TAMRIX_REUSO_LIGADO=" + ligado);
    EXPECT_TRUE(r.Passou) << r.Saida;
  }
}

}  // namespace
}  // namespace tamrix::core
