// The server events writer against a copy of the test main database.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "core/uEventosServRest.h"
#include "diagnostics/uLogServidor.h"
#include "support/pgtest.h"

namespace tamrix::core {
namespace {

// Points the process-wide log at a file of this test and empties it.
class LogDoTeste {
 public:
  LogDoTeste() {
    path_ = (std::filesystem::temp_directory_path() /
             ("tamrix-eventos-" + std::to_string(::getpid()) + ".txt"))
                .string();
    auto& log = diagnostics::TLogServidorSingleton::GetInstance();
    log.DefinirArquivo(path_);
    log.LimparLog();
  }
  ~LogDoTeste() { std::remove(path_.c_str()); }
  std::vector<std::string> Linhas() const {
    return diagnostics::TLogServidorSingleton::GetInstance().Linhas();
  }
  bool ArquivoExiste() const { return std::filesystem::exists(path_); }

 private:
  std::string path_;
};

class EventosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    db_ = std::make_unique<pgtest::TPgScratchDatabase>(pgtest::Env()->mainTemplate);
    pgtest::Configure(main_, db_->Name());
  }
  std::string Eventos() {
    return pgtest::QueryText(db_->Name(),
                             "SELECT string_agg(descricao, '|' ORDER BY id_evento) "
                             "FROM EventosServRest");
  }
  std::unique_ptr<pgtest::TPgScratchDatabase> db_;
  db::TDBConnection main_;
  LogDoTeste log_;
};

TEST_F(EventosTest, NoConnectionOrAClosedOneStoresNothingAndLogsNothing) {
  TEventosServRest ev;
  EXPECT_FALSE(ev.InserirEvento("antes de iniciar"));
  ev.DefinirConexao(&main_);  // set but not open
  EXPECT_FALSE(ev.InserirEventoServidorIniciado());
  main_.Open();
  main_.Close();
  EXPECT_FALSE(ev.InserirEventoServidorParado());
  EXPECT_TRUE(log_.Linhas().empty());
  EXPECT_FALSE(log_.ArquivoExiste());
  EXPECT_EQ(Eventos(), "");
}

TEST_F(EventosTest, EventTextsAndTodaysEvents) {
  main_.Open();
  TEventosServRest ev;
  ev.DefinirConexao(&main_);
  const auto antes = db::TDBTimeStamp::Now();
  EXPECT_TRUE(ev.InserirEventoServidorIniciado());
  EXPECT_TRUE(ev.InserirEvento("Token X não cadastrado."));
  EXPECT_TRUE(ev.InserirEventoErro(""));
  EXPECT_TRUE(ev.InserirEventoErro("falhou"));
  EXPECT_TRUE(ev.InserirEventoServidorParado());
  EXPECT_EQ(
      Eventos(),
      "Servidor iniciado.|Token X não cadastrado.|* ERRO * |* ERRO * falhou|Servidor parado.");
  pgtest::Exec(
      db_->Name(),
      "INSERT INTO EventosServRest (dt_evento, descricao) VALUES "
      "(GETDATE() - interval '1 day', 'ontem'), (GETDATE() + interval '1 hour', 'depois')");
  db::TDBQuery& hoje = ev.DataSet();
  std::vector<std::string> textos;
  for (; !hoje.Eof(); hoje.Next()) textos.push_back(hoje.FieldByName("descricao").AsString());
  ASSERT_EQ(textos.size(), 6u);  // yesterday's is left out, the later one is in, in time order
  EXPECT_EQ(textos.front(), "Servidor iniciado.");
  EXPECT_EQ(textos.back(), "depois");
  hoje.First();
  EXPECT_GE(hoje.FieldByName("dt_evento").AsDateTime().ToDateTime(),
            antes.ToDateTime() - 1.0 / 86400);
  EXPECT_TRUE(log_.Linhas().empty());
}

TEST_F(EventosTest, MissingTableGivesFalseAndOneTranslatedLogLine) {
  pgtest::Exec(db_->Name(), "DROP TABLE EventosServRest");
  main_.Open();
  TEventosServRest ev;
  ev.DefinirConexao(&main_);
  EXPECT_FALSE(ev.InserirEvento("perdido"));
  const auto linhas = log_.Linhas();
  ASSERT_EQ(linhas.size(), 1u);
  EXPECT_EQ(linhas[0].rfind("* ERRO ", 0), 0u) << linhas[0];
  EXPECT_NE(linhas[0].find("* Ocorreu um erro inesperado. Detalhes: "), std::string::npos)
      << linhas[0];
  EXPECT_NE(linhas[0].find("eventosservrest"), std::string::npos) << linhas[0];
  EXPECT_NE(linhas[0].find("(EDBEngineException)."), std::string::npos) << linhas[0];
  EXPECT_TRUE(log_.ArquivoExiste());
  // The connection stays usable for the caller.
  EXPECT_TRUE(main_.Connected());
  EXPECT_EQ(pgtest::QueryText(db_->Name(), "SELECT 1"), "1");
}

TEST_F(EventosTest, EightThreadsInsertingAtOnceStoreEveryRow) {
  main_.Open();
  TEventosServRest ev;
  ev.DefinirConexao(&main_);
  constexpr int kThreads = 8;
  constexpr int kPorThread = 50;
  std::atomic<int> falhas{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPorThread; ++i) {
        if (!ev.InserirEvento("t" + std::to_string(t) + "-" + std::to_string(i))) ++falhas;
      }
    });
  }
  // The main thread keeps using the same connection meanwhile.
  db::TDBQuery q(&main_);
  q.SetSQL("SELECT COUNT(*) FROM ConfigBD");
  for (int i = 0; i < 20; ++i) {
    auto lock = main_.Lock();
    q.Open();
    EXPECT_EQ(q.Fields(0).AsInteger(), 3);
    q.Close();
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(falhas.load(), 0);
  EXPECT_TRUE(log_.Linhas().empty());
  EXPECT_EQ(pgtest::QueryText(db_->Name(), "SELECT COUNT(DISTINCT descricao) FROM EventosServRest"),
            std::to_string(kThreads * kPorThread));
}

}  // namespace
}  // namespace tamrix::core
