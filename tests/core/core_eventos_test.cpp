// The server events writer against a copy of the test main database.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>
#include <utility>
#include <vector>

#include "core/uEventosServRest.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTextoLog.h"
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
  // The rows, oldest first.
  std::vector<std::string> Linhas() {
    db::TDBQuery q(&main_);
    q.SetSQL("SELECT descricao FROM EventosServRest ORDER BY id_evento");
    q.Open();
    std::vector<std::string> r;
    for (; !q.Eof(); q.Next()) r.push_back(q.Fields(0).AsString());
    return r;
  }
  // Rows that are not a count of events left out, and the sum of those counts.
  std::pair<long, long> RegistradosEOmitidos(const std::vector<std::string>& linhas) {
    const std::regex resumo(
        R"(\* ERRO \* (\d+) evento\(s\) omitido\(s\) em \d\d/\d\d/\d{4} \d\d:\d\d:\d\d: )"
        R"(mais de 10 no mesmo segundo \(ver log\.txt\)\.)");
    long registrados = 0, omitidos = 0;
    for (const auto& l : linhas) {
      std::smatch m;
      if (std::regex_match(l, m, resumo))
        omitidos += std::stol(m[1]);
      else
        ++registrados;
    }
    return {registrados, omitidos};
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

// Every insert is either a row or counted in a row of events left out, whatever the threads.
TEST_F(EventosTest, EightThreadsInsertingAtOnceLoseNoEvent) {
  main_.Open();
  TEventosServRest ev;
  ev.DefinirConexao(&main_);
  constexpr int kThreads = 8;
  constexpr int kPorThread = 50;
  std::atomic<int> gravados{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPorThread; ++i) {
        if (ev.InserirEvento("t" + std::to_string(t) + "-" + std::to_string(i))) ++gravados;
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
  ev.GravarOmitidos();
  EXPECT_TRUE(log_.Linhas().empty());
  const auto [registrados, omitidos] = RegistradosEOmitidos(Linhas());
  EXPECT_EQ(registrados, gravados.load());
  EXPECT_EQ(registrados + omitidos, kThreads * kPorThread);
}

// 50 errors at once, next to 50 other events: at most 10 rows of each a second, the rest
// told in one row before the next event; start and stop are never left out, and a lone
// burst's count is told at the stop.
TEST_F(EventosTest, AtMostTenErrorsASecondAndOneRowForTheRest) {
  main_.Open();
  TEventosServRest ev;
  ev.DefinirConexao(&main_);
  const std::time_t inicio = std::time(nullptr);
  for (int i = 0; i < 50; ++i) {
    ev.InserirEvento("Token T" + std::to_string(i) + " não cadastrado.");
    ev.InserirEventoErro("falha " + std::to_string(i));
  }
  EXPECT_TRUE(ev.InserirEventoServidorIniciado());
  for (int i = 0; i < 30; ++i) ev.InserirEventoErro("rajada " + std::to_string(i));
  const long segundos = static_cast<long>(std::time(nullptr) - inicio) + 1;
  EXPECT_TRUE(ev.InserirEventoServidorParado());
  EXPECT_FALSE(ev.GravarOmitidos());  // nothing left to tell

  const auto linhas = Linhas();
  ASSERT_GE(linhas.size(), 3u);
  EXPECT_EQ(linhas[0], "Token T0 não cadastrado.");
  EXPECT_EQ(linhas[1], "* ERRO * falha 0");
  EXPECT_EQ(linhas.back(), "Servidor parado.");
  EXPECT_NE(std::find(linhas.begin(), linhas.end(), "Servidor iniciado."), linhas.end());
  const auto [registrados, omitidos] = RegistradosEOmitidos(linhas);
  EXPECT_GT(omitidos, 0);
  EXPECT_EQ(registrados + omitidos, 50 + 50 + 30 + 2);
  long erros = 0, outros = 0;
  for (const auto& l : linhas) {
    erros += l.rfind("* ERRO * falha", 0) == 0 || l.rfind("* ERRO * rajada", 0) == 0;
    outros += l.rfind("Token T", 0) == 0;
  }
  EXPECT_EQ(erros + outros + 2, registrados);
  EXPECT_LE(erros, 10 * segundos);
  EXPECT_LE(outros, 10 * segundos);
  EXPECT_GE(erros, 10);  // the other events take no place of the errors
  EXPECT_TRUE(log_.Linhas().empty());
}

// No row is longer than the column; the server's own line breaks stay (a client's text is
// escaped and cut where it is inserted).
TEST_F(EventosTest, RowTextIsCutToTheColumn) {
  main_.Open();
  TEventosServRest ev;
  ev.DefinirConexao(&main_);
  EXPECT_TRUE(ev.InserirEventoErro("Falha ao conectar.\r\n  - Token: " +
                                   diagnostics::TextoChamador("a\r\n* ERRO * forjado", 512)));
  EXPECT_TRUE(ev.InserirEvento(std::string(12 * 1024, 'x') + "\n"));
  const auto linhas = Linhas();
  ASSERT_EQ(linhas.size(), 2u);
  EXPECT_EQ(linhas[0], "* ERRO * Falha ao conectar.\r\n  - Token: a\\r\\n* ERRO * forjado");
  EXPECT_EQ(linhas[1], std::string(TEventosServRest::kTamanhoMaximoDescricao - 5, 'x') + "[...]");
  EXPECT_TRUE(log_.Linhas().empty());
}

}  // namespace
}  // namespace tamrix::core
