// Time limits against the real drivers: a statement past its limit is cancelled with the
// translated error and leaves nothing of its transaction; a login to a server that never
// answers gives up at the login timeout.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "db/uDBConnection.h"
#include "db/uDBEnvironment.h"
#include "db/uDBQuery.h"
#include "db/uDBStoredProc.h"
#include "diagnostics/uTraduzirErro.h"
#include "support/pgtest.h"
#include "support/processofilho.h"

namespace tamrix::db {
namespace {

using diagnostics::EDBEngineException;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Runs `work`, which must fail; gives the translated text and the seconds it took.
std::string Falha(const std::function<void()>& work, double& took) {
  const auto start = Clock::now();
  try {
    work();
  } catch (const EDBEngineException& e) {
    took = Seconds(start);
    return diagnostics::TraduzirErro(e);
  }
  took = Seconds(start);
  ADD_FAILURE() << "no error after " << took << " s";
  return {};
}

class TimeLimitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    db_ = std::make_unique<pgtest::TPgScratchDatabase>(pgtest::Env()->tenant1Template);
    pgtest::Exec(db_->Name(),
                 "CREATE FUNCTION espera(segundos float8) RETURNS void LANGUAGE plpgsql AS "
                 "$$ BEGIN PERFORM pg_sleep(segundos); END $$");
    pgtest::Configure(conn_, db_->Name());
    conn_.Params().SetValue(params::kQueryTimeout, "1");
    conn_.Open();
  }
  std::int64_t Count(const std::string& sql) {
    TDBQuery q(&conn_);
    q.SetSQL(sql);
    q.Open();
    return q.Fields(0).AsLargeInt();
  }
  std::unique_ptr<pgtest::TPgScratchDatabase> db_;
  TDBConnection conn_;
};

TEST_F(TimeLimitTest, StatementPastItsLimitIsCancelledAndTheConnectionGoesOn) {
  EXPECT_EQ(conn_.QueryTimeout(), 1);
  TDBQuery q(&conn_);
  TDBStoredProc proc(&conn_);
  proc.SetStoredProcName("espera");
  struct TCaso {
    const char* caso;
    std::function<void()> work;
  };
  const TCaso casos[] = {
      {"a cursor", [&] { q.SetSQL("SELECT pg_sleep(5)"), q.Open(); }},
      {"a statement without rows", [&] { q.SetSQL("SELECT pg_sleep(5)"), q.ExecSQL(); }},
      {"a procedure", [&] { proc.ParamByName("segundos").SetAsFloat(5), proc.ExecProc(); }},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.caso);
    double took = 0;
    EXPECT_EQ(Falha(c.work, took), "Tempo limite da consulta ao banco de dados excedido (1 s).");
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 4.0) << "cancelled at the limit, not after the 5 s";
    q.Close();
    EXPECT_TRUE(conn_.Connected());
    EXPECT_EQ(Count("SELECT 7"), 7);
  }
}

// The tenant connection of a call comes from the driver manager's pool, reset for reuse; on
// such a connection psqlODBC parses a statement with parameters on the server before it runs
// it, and the parse waits on a lock like the statement. Pooling is decided once per process:
// the case runs in a child process.
TEST(TimeLimitPool, StatementOfAReusedConnectionWaitingOnALockIsCancelledAtTheLimit) {
  TAMRIX_REQUIRE_PG();
  const auto r = testes::RodarFilho("TempoFilho.LockOnAReusedConnection", "TAMRIX_TEMPO_FILHO=1");
  EXPECT_TRUE(r.Passou) << r.Saida;
}

TEST(TempoFilho, LockOnAReusedConnection) {
  if (std::getenv("TAMRIX_TEMPO_FILHO") == nullptr) GTEST_SKIP() << "child only";
  TAMRIX_REQUIRE_PG();
  ASSERT_TRUE(TDBEnvironment::SetConnectionPooling("PostgreSQL", 60));
  pgtest::TPgScratchDatabase db(pgtest::Env()->tenant1Template);
  TDBConnection conn;
  pgtest::Configure(conn, db.Name());
  conn.Params().SetValue(params::kQueryTimeout, "1");
  conn.Open();
  conn.Close();
  conn.Open();  // the same backend, reset

  TDBConnection outra;
  pgtest::Configure(outra, db.Name());
  outra.Open();
  TDBQuery lock(&outra);
  // Should the statement wait on, the lock goes after 10 s and the test fails, not hangs.
  lock.SetSQL("SET idle_in_transaction_session_timeout = '10s'");
  lock.ExecSQL();
  outra.StartTransaction();
  lock.SetSQL("LOCK TABLE Usuario IN ACCESS EXCLUSIVE MODE");
  lock.ExecSQL();

  TDBQuery q(&conn);
  q.SetSQL("SELECT nome FROM Usuario WHERE login = :login AND senha = :senha");
  q.ParamByName("login").SetAsString("ADMIN");
  q.ParamByName("senha").SetAsString("admin123");
  double took = 0;
  EXPECT_EQ(Falha([&] { q.Open(); }, took),
            "Tempo limite da consulta ao banco de dados excedido (1 s).");
  EXPECT_LT(took, 4.0);
  outra.Rollback();
  q.Close();
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "ADMINISTRADOR");
}

TEST_F(TimeLimitTest, DataSetLimitOverridesTheConnections) {
  // The import procedure's longer limit: the connection's 1 s does not apply.
  TDBStoredProc proc(&conn_);
  proc.SetStoredProcName("espera");
  proc.SetTimeout(3);
  proc.ParamByName("segundos").SetAsFloat(1.5);
  EXPECT_NO_THROW(proc.ExecProc());
  proc.ParamByName("segundos").SetAsFloat(10);
  double took = 0;
  EXPECT_EQ(Falha([&] { proc.ExecProc(); }, took),
            "Tempo limite da consulta ao banco de dados excedido (3 s).");
  EXPECT_LT(took, 8.0);

  // 0: no limit at all.
  TDBQuery q(&conn_);
  q.SetTimeout(0);
  q.SetSQL("SELECT pg_sleep(1.5)");
  EXPECT_NO_THROW(q.ExecSQL());
}

TEST_F(TimeLimitTest, TransactionOfACancelledStatementIsRolledBack) {
  TDBQuery ins(&conn_);
  ins.SetSQL("INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao) VALUES (60, 'X', 'C')");
  TDBQuery lenta(&conn_);
  lenta.SetSQL("SELECT pg_sleep(5)");

  conn_.StartTransaction();
  ins.ExecSQL();
  double took = 0;
  EXPECT_EQ(Falha([&] { lenta.ExecSQL(); }, took),
            "Tempo limite da consulta ao banco de dados excedido (1 s).");
  // psqlODBC alone would keep the INSERT in a transaction still open.
  EXPECT_FALSE(conn_.InTransaction());
  EXPECT_THROW(conn_.Commit(), diagnostics::EDatabaseError);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 60"), 0);
  EXPECT_EQ(pgtest::QueryText(db_->Name(), "SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 60"),
            "0");

  // The connection takes the next transaction as usual.
  conn_.StartTransaction();
  ins.ExecSQL();
  conn_.Commit();
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 60"), 1);
}

// A TCP port that takes connections into its queue and never answers them, as a server that
// hangs or a firewall that swallows the login.
class TPortaMuda {
 public:
  TPortaMuda() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), n) != 0 || listen(fd_, 16) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      ADD_FAILURE() << "no listening socket";
    porta_ = ntohs(a.sin_port);
  }
  ~TPortaMuda() {
    if (fd_ >= 0) close(fd_);
  }
  TPortaMuda(const TPortaMuda&) = delete;
  TPortaMuda& operator=(const TPortaMuda&) = delete;
  std::string Porta() const { return std::to_string(porta_); }

 private:
  int fd_ = -1;
  int porta_ = 0;
};

TEST(LoginTimeout, ServerThatNeverAnswersIsGivenUpAtTheLimitOnBothDrivers) {
  TAMRIX_REQUIRE_PG();  // the drivers come from the test cluster's odbcinst.ini
  const TPortaMuda muda;
  struct TCaso {
    const char* driver;
    const char* driverID;
  };
  // libpq takes 2 s as its shortest connect_timeout.
  for (const TCaso& c : {TCaso{"PostgreSQL", "PG"}, TCaso{"FreeTDS", "MSSQL"}}) {
    SCOPED_TRACE(c.driver);
    TDBConnection conn;
    auto& p = conn.Params();
    p.SetValue(params::kDriverID, c.driverID);
    p.SetValue(params::kDriver, c.driver);
    p.SetValue(params::kServer, "127.0.0.1");
    p.SetValue(params::kPorta, muda.Porta());
    p.SetValue(params::kDatabase, "tamrix");
    p.SetValue(params::kUserName, "u");
    p.SetValue(params::kPassword, "p");
    p.SetValue(params::kLoginTimeout, "2");
    const auto start = Clock::now();
    try {
      conn.Open();
      ADD_FAILURE() << "connected";
    } catch (const EDBEngineException& e) {
      EXPECT_EQ(e.Kind(), diagnostics::ekServerGone) << e.Message();
      EXPECT_EQ(diagnostics::TraduzirErro(e),
                "IP ou instância do servidor de banco de dados inválido ou inalcançável.");
    }
    const double took = Seconds(start);
    EXPECT_GE(took, 1.5);
    // A generous bound: without the limit the login waits for minutes.
    EXPECT_LT(took, 10.0);
    EXPECT_FALSE(conn.Connected());
  }
}

}  // namespace
}  // namespace tamrix::db
