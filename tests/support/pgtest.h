// Helpers for tests against the private PostgreSQL that scripts/pg starts.
//
// Setup, once per shell:   eval "$(bash scripts/pg start /tmp/pg-$USER)"
// scripts/test does this itself and sets TAMRIX_REQUIRE_DB=1, so a missing database fails
// there instead of skipping.
//
// In a test (or a fixture's SetUp):
//
//   TAMRIX_REQUIRE_PG();                         // skip, or fail under TAMRIX_REQUIRE_DB=1
//   tamrix::db::TDBConnection c;
//   tamrix::pgtest::Configure(c, tamrix::pgtest::Env()->tenant1Db);
//   c.Open();
//
// The shared databases (Env()->mainDb, tenant1Db, tenant2Db) are for tests that only read.
// A test that writes makes its own copy, dropped when the object goes:
//
//   tamrix::pgtest::TPgScratchDatabase db(tamrix::pgtest::Env()->tenant1Template);
//   tamrix::pgtest::Configure(c, db.Name());
//
// Copies have unique names, so tests may run in parallel (ctest -j). The fixtures are in
// tests/sql/: main.sql (ConfigBD with the tokens below, EventosServRest), tenant.sql with
// tenant1.sql / tenant2.sql (the tenant tables and procedures).
#ifndef TAMRIX_TESTS_SUPPORT_PGTEST_H
#define TAMRIX_TESTS_SUPPORT_PGTEST_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"

namespace tamrix::pgtest {

// Tokens registered in the main database's ConfigBD.
inline constexpr const char* kTokenLoja1 = "TkLoja1-7F3A9C";      // tenant 1, instancia null
inline constexpr const char* kTokenLoja2 = "TkLoja2-91C4B0";      // tenant 2, instancia ''
inline constexpr const char* kTokenSemBanco = "TkSemBanco-0000";  // its database does not exist

struct TPgEnv {
  std::string host, port;
  std::string user, password;                    // the login role (ConfigBD holds it scrambled)
  std::string userScrambled, passwordScrambled;  // the same, as config.ini stores them
  std::string superuser, superuserPassword;
  std::string mainDb, tenant1Db, tenant2Db;                    // shared, read-only use
  std::string mainTemplate, tenant1Template, tenant2Template;  // for TPgScratchDatabase
};

namespace detail {
inline std::string Var(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}
}  // namespace detail

// The environment scripts/pg printed, or nullptr when it is not set.
inline const TPgEnv* Env() {
  static const std::unique_ptr<TPgEnv> env = []() -> std::unique_ptr<TPgEnv> {
    using detail::Var;
    if (Var("TAMRIX_PG_PORT").empty() || Var("TAMRIX_PG_USER").empty()) return nullptr;
    auto e = std::make_unique<TPgEnv>();
    e->host = Var("TAMRIX_PG_HOST").empty() ? "127.0.0.1" : Var("TAMRIX_PG_HOST");
    e->port = Var("TAMRIX_PG_PORT");
    e->user = Var("TAMRIX_PG_USER");
    e->password = Var("TAMRIX_PG_PASSWORD");
    e->userScrambled = Var("TAMRIX_PG_USER_SCRAMBLED");
    e->passwordScrambled = Var("TAMRIX_PG_PASSWORD_SCRAMBLED");
    e->superuser = Var("TAMRIX_PG_SUPERUSER");
    e->superuserPassword = Var("TAMRIX_PG_SUPERUSER_PASSWORD");
    e->mainDb = Var("TAMRIX_PG_MAIN_DB");
    e->tenant1Db = Var("TAMRIX_PG_TENANT1_DB");
    e->tenant2Db = Var("TAMRIX_PG_TENANT2_DB");
    e->mainTemplate = Var("TAMRIX_PG_MAIN_TEMPLATE");
    e->tenant1Template = Var("TAMRIX_PG_TENANT1_TEMPLATE");
    e->tenant2Template = Var("TAMRIX_PG_TENANT2_TEMPLATE");
    return e;
  }();
  return env.get();
}

// True when a missing database must fail the test (TAMRIX_REQUIRE_DB=1).
inline bool Required() {
  return detail::Var("TAMRIX_REQUIRE_DB") == "1";
}

// Fills the connection's parameters for `database` on the test cluster, as the login role
// unless a user is given. The driver is the cluster's "PostgreSQL" (odbcinst.ini in
// ODBCSYSINI).
inline void Configure(db::TDBConnection& c, const std::string& database,
                      const std::string& user = {}, const std::string& password = {}) {
  const TPgEnv* e = Env();
  auto& p = c.Params();
  p.SetValue("DriverID", "PG");
  p.SetValue("Driver", "PostgreSQL");
  p.SetValue("SERVER", e->host);
  p.SetValue("Porta", e->port);
  p.SetValue("DATABASE", database);
  p.SetValue("User_Name", user.empty() ? e->user : user);
  p.SetValue("Password", user.empty() ? e->password : password);
  p.SetValue("ApplicationName", "TamrixRestServer");
}

// Runs SQL that returns no rows on `database` as the login role.
inline void Exec(const std::string& database, const std::string& sql) {
  db::TDBConnection c;
  Configure(c, database);
  c.Open();
  db::TDBQuery q(&c);
  q.SetSQL(sql);
  q.ExecSQL();
}

// The first column of the first row as text ("" for null or no row).
inline std::string QueryText(const std::string& database, const std::string& sql) {
  db::TDBConnection c;
  Configure(c, database);
  c.Open();
  db::TDBQuery q(&c);
  q.SetSQL(sql);
  q.Open();
  return q.Eof() ? std::string() : q.Fields(0).AsString();
}

// Ends the server session of an open connection from another one, as a database restart
// does; the connection does not know yet.
inline void EndSession(db::TDBConnection& c) {
  db::TDBQuery spid(&c);
  spid.SetSQL(c.Profile().Text(db::TDBEngineText::SPID));
  spid.Open();
  const std::string pid = spid.FieldByName("SPID").AsString();
  spid.Close();
  Exec("postgres", "SELECT pg_terminate_backend(" + pid + ")");
}

// A fresh database copied from a template (CREATE DATABASE ... TEMPLATE ...) under a unique
// name, dropped (closing any connection still on it) when the object is destroyed.
class TPgScratchDatabase {
 public:
  explicit TPgScratchDatabase(const std::string& templateDb) {
    static std::atomic<int> counter{0};
    std::random_device rd;
    name_ = "tmp_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
            std::to_string(rd() % 1000000);
    Exec("postgres", "CREATE DATABASE " + name_ + " TEMPLATE " + templateDb);
  }
  ~TPgScratchDatabase() {
    try {
      Exec("postgres", "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (...) {
      // A copy left behind only takes space in the private cluster.
    }
  }
  TPgScratchDatabase(const TPgScratchDatabase&) = delete;
  TPgScratchDatabase& operator=(const TPgScratchDatabase&) = delete;

  const std::string& Name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace tamrix::pgtest

// Skips the test without a database, or fails it when TAMRIX_REQUIRE_DB=1.
#define TAMRIX_REQUIRE_PG()                                                                \
  do {                                                                                     \
    if (::tamrix::pgtest::Env() == nullptr) {                                              \
      if (::tamrix::pgtest::Required()) {                                                  \
        FAIL() << "TAMRIX_REQUIRE_DB=1 but TAMRIX_PG_* is not set (scripts/pg start DIR)"; \
      } else {                                                                             \
        GTEST_SKIP() << "no database: eval \"$(bash scripts/pg start DIR)\" first";        \
      }                                                                                    \
    }                                                                                      \
  } while (0)

#endif  // TAMRIX_TESTS_SUPPORT_PGTEST_H
