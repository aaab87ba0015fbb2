// Reloading the tenant directory while it serves lookups: the new copy replaces the old one
// whole, a failed reload leaves the old one in use, and lookups never find the copy missing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/uConfigBD.h"
#include "support/pgtest.h"

namespace tamrix::core {
namespace {

class ConfigBDRecargaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    db_ = std::make_unique<pgtest::TPgScratchDatabase>(pgtest::Env()->mainTemplate);
    pgtest::Configure(main_, db_->Name());
    main_.Open();
    dir_.SetConexaoBD(&main_);
    dir_.ConsultarConfig();
  }
  void Exec(const std::string& sql) { pgtest::Exec(db_->Name(), sql); }
  std::string NomeBD(const std::string& token) {
    TConfigBDItem item;
    return dir_.PegarConfig(token, item) ? item.FspNomeBD : "(ausente)";
  }
  std::unique_ptr<pgtest::TPgScratchDatabase> db_;
  db::TDBConnection main_;
  TConfigBD dir_;
};

TEST_F(ConfigBDRecargaTest, NewChangedAndRemovedTokensCountFromTheReload) {
  Exec("INSERT INTO ConfigBD VALUES ('NOVO', '127.0.0.1', NULL, 'novo_bd', 'u', 's')");
  Exec(std::string("UPDATE ConfigBD SET nome_bd = 'mudado_bd' WHERE token = '") +
       pgtest::kTokenLoja1 + "'");
  Exec(std::string("DELETE FROM ConfigBD WHERE token = '") + pgtest::kTokenLoja2 + "'");
  // Until the reload the copy answers as loaded.
  EXPECT_EQ(NomeBD("NOVO"), "(ausente)");
  EXPECT_EQ(NomeBD(pgtest::kTokenLoja1), "tamrix_tenant1");
  EXPECT_EQ(NomeBD(pgtest::kTokenLoja2), "tamrix_tenant2");

  EXPECT_EQ(dir_.Recarregar(), 3u);
  EXPECT_EQ(NomeBD("NOVO"), "novo_bd");
  EXPECT_EQ(NomeBD(pgtest::kTokenLoja1), "mudado_bd");
  EXPECT_EQ(NomeBD(pgtest::kTokenLoja2), "(ausente)");
}

TEST_F(ConfigBDRecargaTest, AFailedReloadKeepsTheCopyInUse) {
  Exec("ALTER TABLE ConfigBD RENAME TO ConfigBD_fora");
  EXPECT_THROW(dir_.Recarregar(), diagnostics::EDBEngineException);
  EXPECT_EQ(NomeBD(pgtest::kTokenLoja2), "tamrix_tenant2");
  // An emptied table is refused too: it would turn every terminal away.
  Exec("ALTER TABLE ConfigBD_fora RENAME TO ConfigBD");
  Exec("DELETE FROM ConfigBD");
  EXPECT_THROW(dir_.Recarregar(), diagnostics::Exception);
  EXPECT_EQ(NomeBD(pgtest::kTokenLoja2), "tamrix_tenant2");
  main_.Close();
  EXPECT_THROW(dir_.Recarregar(), std::exception);
  EXPECT_EQ(NomeBD(pgtest::kTokenLoja1), "tamrix_tenant1");
  TConfigBD semConexao;
  EXPECT_THROW(semConexao.Recarregar(), diagnostics::Exception);
}

TEST_F(ConfigBDRecargaTest, ThreadsLookUpWhileReloading) {
  constexpr int kThreads = 4;
  std::atomic<bool> fim{false};
  std::atomic<int> errados{0}, consultas{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const std::string token = t % 2 == 0 ? pgtest::kTokenLoja1 : pgtest::kTokenLoja2;
      const std::string nome = t % 2 == 0 ? "tamrix_tenant1" : "tamrix_tenant2";
      while (!fim) {
        TConfigBDItem item;
        if (!dir_.PegarConfig(token, item) || item.FspNomeBD != nome) ++errados;
        ++consultas;
      }
    });
  for (int i = 0; i < 50; ++i) EXPECT_EQ(dir_.Recarregar(), 3u);
  fim = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(errados.load(), 0);
  EXPECT_GT(consultas.load(), 0);
}

}  // namespace
}  // namespace tamrix::core
