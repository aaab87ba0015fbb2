// The connection-holding base and the tenant directory against the test main database.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "config/uEmbaralharTexto.h"
#include "core/uClasses.h"
#include "core/uConfigBD.h"
#include "support/pgtest.h"

namespace tamrix::core {
namespace {

using diagnostics::EDatabaseError;

TEST(Classes, QueryFollowsTheConnectionSetLater) {
  TClasses c;
  db::TDBQuery& q = c.PegarQuery();  // before any connection
  EXPECT_EQ(q.Connection(), nullptr);
  db::TDBConnection a, b;
  c.SetConexaoBD(&a);
  EXPECT_EQ(&c.PegarQuery(), &q);
  EXPECT_EQ(q.Connection(), &a);
  // The same connection again still rebinds (a query moved elsewhere comes back).
  q.SetConnection(&b);
  c.SetConexaoBD(&a);
  EXPECT_EQ(q.Connection(), &a);
  c.SetConexaoBD(nullptr);
  EXPECT_EQ(q.Connection(), nullptr);
}

TEST(Classes, UpdateErrorFailsTheRowAndKeepsTheTranslation) {
  TClasses c;
  db::TDBQuery q;
  db::TDBErrorAction action = db::TDBErrorAction::eaSkip;
  c.QueryUpdateError(q, EDatabaseError("Value out of bounds."), 1, db::TDBUpdateRequest::arInsert,
                     action);
  EXPECT_EQ(action, db::TDBErrorAction::eaFail);
  EXPECT_EQ(c.UpdateError(), "Valor fora de faixa.");
}

class ConfigBDTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    pgtest::Configure(main_, pgtest::Env()->mainDb);
    main_.Open();
    dir_.SetConexaoBD(&main_);
  }
  db::TDBConnection main_;
  TConfigBD dir_;
};

TEST_F(ConfigBDTest, ExactTokenMatch) {
  dir_.ConsultarConfig();
  TConfigBDItem item;
  ASSERT_TRUE(dir_.PegarConfig(pgtest::kTokenLoja2, item));
  EXPECT_EQ(item.FspToken, pgtest::kTokenLoja2);
  EXPECT_EQ(item.FspIpBD, "127.0.0.1");
  EXPECT_EQ(item.FspInstancia, "");
  EXPECT_EQ(item.FspNomeBD, "tamrix_tenant2");
  EXPECT_EQ(item.FspUsuarioBD, pgtest::Env()->userScrambled);  // still scrambled
  EXPECT_EQ(item.FspSenhaBD, pgtest::Env()->passwordScrambled);
  // Twice in a row: the current row answers.
  ASSERT_TRUE(dir_.PegarConfig(pgtest::kTokenLoja2, item));
  EXPECT_EQ(item.FspNomeBD, "tamrix_tenant2");
  ASSERT_TRUE(dir_.PegarConfig(pgtest::kTokenLoja1, item));
  EXPECT_EQ(item.FspNomeBD, "tamrix_tenant1");
  EXPECT_EQ(item.FspInstancia, "");  // null reads as empty

  for (const char* miss :
       {"tkloja1-7f3a9c", "TkLoja1-7F3A9", "TkLoja1-7F3A9C ", " TkLoja1-7F3A9C", ""}) {
    item.FspNomeBD = "x";
    EXPECT_FALSE(dir_.PegarConfig(miss, item)) << "[" << miss << "]";
    EXPECT_EQ(item.FspNomeBD, "") << miss;
    EXPECT_EQ(item.FspToken, "") << miss;
  }
}

// The fixtures store the login role's credentials scrambled; a tenant connection built from
// the directory's entry, unscrambled, really logs in (scram over TCP).
TEST_F(ConfigBDTest, StoredCredentialsUnscrambleAndOpenTheTenantDatabase) {
  const auto* env = pgtest::Env();
  EXPECT_EQ(config::EmbaralharTexto(env->user, true), env->userScrambled);
  EXPECT_EQ(config::EmbaralharTexto(env->password, true), env->passwordScrambled);
  dir_.ConsultarConfig();
  for (const char* token : {pgtest::kTokenLoja1, pgtest::kTokenLoja2}) {
    TConfigBDItem item;
    ASSERT_TRUE(dir_.PegarConfig(token, item));
    EXPECT_EQ(config::EmbaralharTexto(item.FspUsuarioBD, false), env->user);
    EXPECT_EQ(config::EmbaralharTexto(item.FspSenhaBD, false), env->password);
    db::TDBConnection tenant;
    tenant.Params() = main_.Params();
    tenant.Params().SetValue("SERVER", item.FspInstancia.empty()
                                           ? item.FspIpBD
                                           : item.FspIpBD + "\\" + item.FspInstancia);
    tenant.Params().SetValue("DATABASE", item.FspNomeBD);
    tenant.Params().SetValue("User_Name", config::EmbaralharTexto(item.FspUsuarioBD, false));
    tenant.Params().SetValue("Password", config::EmbaralharTexto(item.FspSenhaBD, false));
    tenant.Open();
    db::TDBQuery q(&tenant);
    q.SetSQL("SELECT current_database()");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString(), item.FspNomeBD);
  }
}

TEST_F(ConfigBDTest, TokenExistsIsAskedOfTheDatabase) {
  EXPECT_TRUE(dir_.ConsultarTokenExiste(pgtest::kTokenSemBanco));
  EXPECT_FALSE(dir_.ConsultarTokenExiste("tkloja1-7f3a9c"));  // PostgreSQL's case-sensitive rule
  EXPECT_FALSE(dir_.ConsultarTokenExiste("nao-existe"));
  // Blanks never reach the database: this instance has no connection at all.
  TConfigBD semConexao;
  EXPECT_FALSE(semConexao.ConsultarTokenExiste(""));
  EXPECT_FALSE(semConexao.ConsultarTokenExiste(" \t\r\n "));
  EXPECT_THROW(semConexao.ConsultarTokenExiste(pgtest::kTokenLoja1), EDatabaseError);
}

TEST(ConfigBD, WithoutConnectionALookupSaysTheServerIsStarting) {
  TConfigBD dir;
  TConfigBDItem item;
  try {
    dir.PegarConfig(pgtest::kTokenLoja1, item);
    ADD_FAILURE() << "no exception";
  } catch (const diagnostics::Exception& e) {
    EXPECT_STREQ(e.what(),
                 "O servidor está iniciando: o banco principal ainda não está conectado. Tente "
                 "novamente em instantes.");
  }
  EXPECT_FALSE(dir.DataSet().Active());  // no connection: no load attempt
}

class ConfigBDWritingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    db_ = std::make_unique<pgtest::TPgScratchDatabase>(pgtest::Env()->mainTemplate);
    pgtest::Configure(main_, db_->Name());
    main_.Open();
    dir_.SetConexaoBD(&main_);
  }
  void Exec(const std::string& sql) { pgtest::Exec(db_->Name(), sql); }
  std::unique_ptr<pgtest::TPgScratchDatabase> db_;
  db::TDBConnection main_;
  TConfigBD dir_;
};

TEST_F(ConfigBDWritingTest, ATokenInsertedAfterTheLoadWaitsForTheNextLoad) {
  dir_.ConsultarConfig();
  Exec("INSERT INTO ConfigBD VALUES ('NOVO', '10.0.0.9', 'INST', 'novo_bd', 'u', 's')");
  TConfigBDItem item;
  EXPECT_FALSE(dir_.PegarConfig("NOVO", item));    // no reload on a miss
  EXPECT_TRUE(dir_.ConsultarTokenExiste("NOVO"));  // the database knows it at once
  dir_.ConsultarConfig();                          // the next server start
  ASSERT_TRUE(dir_.PegarConfig("NOVO", item));
  EXPECT_EQ(item.FspInstancia, "INST");
  // Removed from the table: still answered from the loaded copy.
  Exec("DELETE FROM ConfigBD WHERE token = 'NOVO'");
  EXPECT_TRUE(dir_.PegarConfig("NOVO", item));
}

TEST_F(ConfigBDWritingTest, AnEmptyTableIsReloadedOnEveryLookup) {
  Exec("DELETE FROM ConfigBD");
  dir_.ConsultarConfig();
  TConfigBDItem item;
  // With no current row the token reads as empty: the empty token is "found", all empty.
  EXPECT_TRUE(dir_.PegarConfig("", item));
  EXPECT_EQ(item.FspNomeBD, "");
  EXPECT_FALSE(dir_.PegarConfig("TARDIO", item));
  Exec("INSERT INTO ConfigBD VALUES ('TARDIO', '127.0.0.1', NULL, 'tardio_bd', 'u', 's')");
  ASSERT_TRUE(dir_.PegarConfig("TARDIO", item));
  EXPECT_EQ(item.FspNomeBD, "tardio_bd");
  EXPECT_EQ(dir_.DataSet().RecordCount(), 1);
}

TEST_F(ConfigBDWritingTest, AFailedLoadPropagatesAndTheNextLookupTriesAgain) {
  Exec("ALTER TABLE ConfigBD RENAME TO ConfigBD_fora");
  TConfigBDItem item;
  EXPECT_THROW(dir_.PegarConfig(pgtest::kTokenLoja1, item), diagnostics::EDBEngineException);
  Exec("ALTER TABLE ConfigBD_fora RENAME TO ConfigBD");
  EXPECT_TRUE(dir_.PegarConfig(pgtest::kTokenLoja1, item));
}

TEST_F(ConfigBDWritingTest, ThreadsNeverReceiveAnotherTenantsEntry) {
  constexpr int kThreads = 8;
  constexpr int kLookups = 10000;
  std::string values;
  for (int t = 0; t < kThreads; ++t) {
    values += (t ? ", " : "") + std::string("('tok") + std::to_string(t) + "', 'host" +
              std::to_string(t) + "', 'inst" + std::to_string(t) + "', 'bd" + std::to_string(t) +
              "', 'u" + std::to_string(t) + "', 's" + std::to_string(t) + "')";
  }
  Exec("INSERT INTO ConfigBD VALUES " + values);
  dir_.ConsultarConfig();
  std::atomic<int> wrong{0}, missing{0}, checks{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string n = std::to_string(t);
      const std::string mine = "tok" + n;
      const std::string other = "tok" + std::to_string((t + 1) % kThreads);
      for (int i = 0; i < kLookups; ++i) {
        TConfigBDItem item;
        // Alternate with a neighbour's token so the shared cursor keeps moving.
        const bool own = i % 2 == 0;
        if (!dir_.PegarConfig(own ? mine : other, item)) {
          ++missing;
          continue;
        }
        const std::string k = own ? n : std::to_string((t + 1) % kThreads);
        if (item.FspIpBD != "host" + k || item.FspInstancia != "inst" + k ||
            item.FspNomeBD != "bd" + k || item.FspUsuarioBD != "u" + k ||
            item.FspSenhaBD != "s" + k) {
          ++wrong;
        }
        if (i % 1000 == 0) {
          if (!dir_.ConsultarTokenExiste(mine)) ++wrong;
          ++checks;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(missing.load(), 0);
  EXPECT_EQ(checks.load(), kThreads * kLookups / 1000);
}

}  // namespace
}  // namespace tamrix::core
