// Connection reuse through the driver manager's pool, against the private PostgreSQL.
//
// Pooling is decided once per process, before its first connection, so every case runs in a
// child process of this executable (the ReusoFilho tests, skipped unless started so) and the
// parent test checks that the child passed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "db/uDBConnection.h"
#include "db/uDBEnvironment.h"
#include "db/uDBQuery.h"
#include "support/pgtest.h"
#include "support/processofilho.h"

namespace tamrix::db {
namespace {

using namespace std::chrono_literals;

// Runs one ReusoFilho test in a child process; idleSeconds 0 leaves pooling off.
void RodarFilho(const std::string& caso, int idleSeconds) {
  const auto r =
      testes::RodarFilho("ReusoFilho." + caso,
                         "TAMRIX_REUSO_FILHO=1 TAMRIX_REUSO_TEMPO=" + std::to_string(idleSeconds));
  EXPECT_TRUE(r.Passou) << r.Saida;
}

// In the child: pooling as the parent asked, before anything connects.
void PrepararFilho() {
  const int tempo = std::atoi(std::getenv("TAMRIX_REUSO_TEMPO"));
  if (tempo > 0) {
    ASSERT_TRUE(TDBEnvironment::SetConnectionPooling("PostgreSQL", tempo));
    ASSERT_NE(TDBEnvironment::DriverManagerIniFile().find("tamrix-odbc-"), std::string::npos);
    EXPECT_TRUE(TDBEnvironment::PoolingActive());
  }
}

#define TAMRIX_FILHO()                                                              \
  do {                                                                              \
    if (std::getenv("TAMRIX_REUSO_FILHO") == nullptr) GTEST_SKIP() << "child only"; \
    TAMRIX_REQUIRE_PG();                                                            \
    PrepararFilho();                                                                \
    if (HasFatalFailure()) return;                                                  \
  } while (0)

std::string Texto(TDBConnection& c, const std::string& sql) {
  TDBQuery q(&c);
  q.SetSQL(sql);
  q.Open();
  return q.Eof() ? std::string() : q.Fields(0).AsString();
}

void Executar(TDBConnection& c, const std::string& sql) {
  TDBQuery q(&c);
  q.SetSQL(sql);
  q.ExecSQL();
}

// Opens a connection to the database, runs the SQL, closes it, and gives the backend pid.
std::string Ciclo(const std::string& banco, const std::string& sql = {}) {
  TDBConnection c;
  pgtest::Configure(c, banco);
  c.Open();
  const std::string pid = Texto(c, "SELECT pg_backend_pid()");
  if (!sql.empty()) Texto(c, sql);
  c.Close();
  return pid;
}

bool BackendVivo(const std::string& pid) {
  return pgtest::QueryText("postgres",
                           "SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid) == "1";
}

template <class F>
bool Esperar(F condicao) {
  for (int i = 0; i < 100; ++i) {
    if (condicao()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condicao();
}

// --- children -------------------------------------------------------------------------------

TEST(ReusoFilho, BackendDeDoisCiclos) {
  TAMRIX_FILHO();
  const std::string& banco = pgtest::Env()->tenant1Db;
  const std::string a = Ciclo(banco), b = Ciclo(banco);
  std::printf("pids %s %s\n", a.c_str(), b.c_str());
  if (TDBEnvironment::PoolingActive()) {
    EXPECT_EQ(a, b);
    EXPECT_TRUE(BackendVivo(a)) << "the idle connection stays open in the pool";
  } else {
    EXPECT_NE(a, b);
    EXPECT_TRUE(Esperar([&] { return !BackendVivo(a); }));
  }
}

TEST(ReusoFilho, ConexaoReutilizadaChegaLimpa) {
  TAMRIX_FILHO();
  pgtest::TPgScratchDatabase banco(pgtest::Env()->tenant1Template);
  pgtest::Exec(banco.Name(), "CREATE TABLE reuso (n int)");
  std::string pid;
  {
    // A call that leaves everything behind: a transaction with work, a temporary table, a
    // session setting, and then only closes.
    TDBConnection c;
    pgtest::Configure(c, banco.Name());
    c.Open();
    pid = Texto(c, "SELECT pg_backend_pid()");
    Executar(c, "CREATE TEMP TABLE rascunho AS SELECT 1 AS n");
    Texto(c, "SELECT set_config('tamrix.marca', 'suja', false)");
    c.StartTransaction();
    Executar(c, "INSERT INTO reuso VALUES (1)");
    c.Close();
  }
  TDBConnection c;
  pgtest::Configure(c, banco.Name());
  c.Open();
  EXPECT_EQ(Texto(c, "SELECT pg_backend_pid()"), pid) << "not reused";
  EXPECT_FALSE(c.InTransaction());
  EXPECT_EQ(Texto(c, "SELECT count(*) FROM pg_class WHERE relname = 'rascunho'"), "0");
  EXPECT_EQ(Texto(c, "SELECT coalesce(current_setting('tamrix.marca', true), '')"), "");
  EXPECT_EQ(Texto(c, "SELECT count(*) FROM reuso"), "0") << "the open transaction was kept";
  // Autocommit is back: a row written now is seen from another session at once.
  Executar(c, "INSERT INTO reuso VALUES (2)");
  EXPECT_EQ(pgtest::QueryText(banco.Name(), "SELECT count(*) FROM reuso WHERE n = 2"), "1");
}

TEST(ReusoFilho, BackendsEncerradosSaoSubstituidos) {
  TAMRIX_FILHO();
  pgtest::TPgScratchDatabase banco(pgtest::Env()->tenant1Template);
  // Two idle connections in the pool, both killed (as when the server restarts).
  std::string pids[2];
  {
    TDBConnection a, b;
    pgtest::Configure(a, banco.Name());
    pgtest::Configure(b, banco.Name());
    a.Open();
    b.Open();
    pids[0] = Texto(a, "SELECT pg_backend_pid()");
    pids[1] = Texto(b, "SELECT pg_backend_pid()");
  }
  for (const auto& pid : pids) {
    pgtest::QueryText("postgres", "SELECT pg_terminate_backend(" + pid + ")");
    ASSERT_TRUE(Esperar([&] { return !BackendVivo(pid); }));
  }
  TDBConnection c;
  pgtest::Configure(c, banco.Name());
  ASSERT_NO_THROW(c.Open());
  const std::string novo = Texto(c, "SELECT pg_backend_pid()");
  EXPECT_NE(novo, pids[0]);
  EXPECT_NE(novo, pids[1]);
  EXPECT_EQ(Texto(c, "SELECT count(*) FROM Usuario WHERE login = 'ADMIN'"), "1");
}

TEST(ReusoFilho, ConexaoOciosaExpiraNoTempoDeReuso) {
  TAMRIX_FILHO();
  const std::string pid = Ciclo(pgtest::Env()->tenant2Db);
  EXPECT_TRUE(BackendVivo(pid));
  std::this_thread::sleep_for(2500ms);
  // The driver manager has no timer: it closes expired connections at its next connect.
  const std::string outro = Ciclo(pgtest::Env()->tenant2Db);
  EXPECT_NE(outro, pid);
  EXPECT_TRUE(Esperar([&] { return !BackendVivo(pid); })) << "expired backend still open";
}

TEST(ReusoFilho, ConfiguracaoRecusada) {
  TAMRIX_FILHO();
  const std::string antes = TDBEnvironment::DriverManagerIniFile();
  try {
    TDBEnvironment::SetConnectionPooling("DriverQueNaoExiste", 60);
    ADD_FAILURE() << "a driver missing from odbcinst.ini was accepted";
  } catch (const diagnostics::EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("\"DriverQueNaoExiste\""), std::string::npos) << e.what();
  }
  EXPECT_THROW(TDBEnvironment::SetConnectionPooling("PostgreSQL", 0), diagnostics::EDatabaseError);
  EXPECT_EQ(TDBEnvironment::DriverManagerIniFile(), antes);
  Ciclo(pgtest::Env()->tenant1Db);
  // Too late once something connected.
  EXPECT_FALSE(TDBEnvironment::SetConnectionPooling("PostgreSQL", 60));
  EXPECT_FALSE(TDBEnvironment::PoolingActive());
  EXPECT_EQ(TDBEnvironment::DriverManagerIniFile(), antes);
}

// --- parents --------------------------------------------------------------------------------

class ReusoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("TAMRIX_REUSO_FILHO") != nullptr) GTEST_SKIP();
    TAMRIX_REQUIRE_PG();
  }
};

TEST_F(ReusoTest, ComPoolingOMesmoBackendSemPoolingOutro) {
  RodarFilho("BackendDeDoisCiclos", 60);
  RodarFilho("BackendDeDoisCiclos", 0);
}

TEST_F(ReusoTest, ConexaoReutilizadaNaoTrazTransacaoNemEstado) {
  RodarFilho("ConexaoReutilizadaChegaLimpa", 60);
}

TEST_F(ReusoTest, BackendEncerradoNoPoolESubstituidoEAChamadaSegue) {
  RodarFilho("BackendsEncerradosSaoSubstituidos", 60);
}

TEST_F(ReusoTest, TempoDeReusoFechaBackendsOciosos) {
  RodarFilho("ConexaoOciosaExpiraNoTempoDeReuso", 1);
}

TEST_F(ReusoTest, ConfiguracaoRecusadaDeixaTudoComoEstava) {
  RodarFilho("ConfiguracaoRecusada", 0);
}

}  // namespace
}  // namespace tamrix::db
