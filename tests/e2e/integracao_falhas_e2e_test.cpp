// Sales-file uploads that fail inside the tenant database, lose it halfway, race each other or
// cannot write their log row: the answer still tells the truth and no half of an import stays.
#include <algorithm>
#include <future>
#include <latch>

#include "e2e/integracao_e2e.h"

namespace tamrix::e2e::upload {
namespace {

bool Contem(const std::string& texto, const std::string& trecho) {
  return texto.find(trecho) != std::string::npos;
}

std::string Minusculas(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

constexpr const char* kAssinatura =
    "(cnpj_cpf varchar, dt_movimento timestamp, "
    "tp_arquivo varchar, arquivo varchar)";

// Puts a wait of some seconds in front of the tenant's import procedure.
void RetardarImportacao(const std::string& banco, int segundos) {
  pgtest::Exec(banco, std::string("ALTER FUNCTION POS_spcImportaArquivo") + kAssinatura +
                          " RENAME TO pos_importa_original");
  pgtest::Exec(banco, std::string("CREATE FUNCTION POS_spcImportaArquivo") + kAssinatura +
                          " RETURNS void LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_sleep(" +
                          std::to_string(segundos) +
                          "); PERFORM pos_importa_original($1, $2, $3, $4); END $$");
}

void RestaurarImportacao(const std::string& banco) {
  pgtest::Exec(banco, std::string("DROP FUNCTION POS_spcImportaArquivo") + kAssinatura);
  pgtest::Exec(banco, std::string("ALTER FUNCTION pos_importa_original") + kAssinatura +
                          " RENAME TO POS_spcImportaArquivo");
}

TEST_F(TUploadE2E, StorageFailureAnswersCode0WithTheDatabaseTextAndKeepsNothing) {
  const std::string bom = "|V|11222333000181|1,00|\r\n|V|11222333000181|2,00|\r\n";
  struct TCaso {
    const char* Caso;
    std::string Nome, Arquivo, Antes, Depois;  // SQL that breaks the tenant and mends it
    std::string Trecho;                        // what the answer must name
  };
  const std::vector<TCaso> casos = {
      {"the procedure rejects a line", "PROC.TXT", bom + "|V|ERRO|\r\n", "", "",
       "Linha 3 do arquivo PROC.TXT rejeitada na importação"},
      {"a constraint rejects the control row", "BLOQ.TXT", bom,
       "ALTER TABLE POS_Controle ADD CONSTRAINT ck_bloqueio CHECK (arquivo <> 'BLOQ.TXT')",
       "ALTER TABLE POS_Controle DROP CONSTRAINT ck_bloqueio", "ck_bloqueio"},
      {"the lines table is missing", "LINHAS.TXT", bom,
       "ALTER TABLE Pos_Arquivo RENAME TO pos_arquivo_fora",
       "ALTER TABLE pos_arquivo_fora RENAME TO Pos_Arquivo", "pos_arquivo"},
      {"the duplicate check cannot run", "DUPL.TXT", bom,
       "ALTER TABLE POS_Controle RENAME TO pos_controle_fora",
       "ALTER TABLE pos_controle_fora RENAME TO POS_Controle", "pos_controle"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Caso);
    if (!c.Antes.empty()) pgtest::Exec(Tenant(), c.Antes);
    const auto u = EnviarArquivo(c.Nome, c.Arquivo);
    if (!c.Depois.empty()) pgtest::Exec(Tenant(), c.Depois);

    EXPECT_EQ(u.Status, 201) << u.Body;
    EXPECT_EQ(u.Codigo, 0) << u.Body;
    EXPECT_TRUE(Contem(u.Mensagem, "Ocorreu um erro inesperado. Detalhes: ")) << u.Mensagem;
    EXPECT_TRUE(Contem(u.Mensagem, c.Trecho)) << u.Mensagem;
    EXPECT_FALSE(Contem(u.Mensagem, "][")) << "driver tags left in: " << u.Mensagem;
    EXPECT_EQ(LinhasImportadas(), 0) << "Pos_Arquivo, POS_Controle and Pos_Venda stay empty";
    const auto log = LogIntegracao();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), (std::vector<std::string>{kToken, kCnpj, "0", u.Mensagem}));

    // Nothing of the failed attempt stands in the way of sending the file again.
    const auto de_novo = EnviarArquivo(c.Nome, bom);
    EXPECT_EQ(de_novo.Codigo, 1) << de_novo.Body;
    EXPECT_EQ(LinhasArquivo(c.Nome).size(), 2u);
    pgtest::Exec(Tenant(), "DELETE FROM Pos_Venda");
    pgtest::Exec(Tenant(), "DELETE FROM Pos_Arquivo");
    pgtest::Exec(Tenant(), "DELETE FROM POS_Controle");
  }
}

TEST_F(TUploadE2E, DatabaseGoneDuringTheImportLeavesNothingHalfStored) {
  RetardarImportacao(Tenant(), 60);
  auto resposta = std::async(std::launch::async, [this] {
    return EnviarArquivo("QUEDA.TXT", "|V|11222333000181|1,00|\r\n|V|11222333000181|2,00|");
  });
  // The rows are sent and the import is running: cut every connection to the tenant.
  ASSERT_TRUE(Esperar([&] {
    return pgtest::QueryText("postgres", "SELECT count(*) FROM pg_stat_activity WHERE datname = '" +
                                             Tenant() + "' AND wait_event = 'PgSleep'") == "1";
  }));
  pgtest::QueryText("postgres",
                    "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                    "WHERE datname = '" +
                        Tenant() + "'");
  ASSERT_EQ(resposta.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  const auto u = resposta.get();

  EXPECT_EQ(u.Status, 201) << u.Body;
  EXPECT_EQ(u.Codigo, 0) << u.Body;
  EXPECT_FALSE(u.Mensagem.empty());
  EXPECT_EQ(LinhasImportadas(), 0);

  // The server goes on: the next call gets a new connection and imports the file.
  RestaurarImportacao(Tenant());
  const auto de_novo = EnviarArquivo("QUEDA.TXT", "|V|11222333000181|1,00|");
  EXPECT_EQ(de_novo.Codigo, 1) << de_novo.Body;
  EXPECT_EQ(Contar(Tenant(), "POS_Controle"), 1);
}

TEST_F(TUploadE2E, TwoTerminalsSendingTheSameFileAtOnceImportItOnce) {
  // Both pass the duplicate check while the first import is still running.
  RetardarImportacao(Tenant(), 1);
  const std::string arquivo =
      "|V|11222333000181|1,00|\r\n|V|11222333000181|2,00|\r\n|V|11222333000181|3,00|";
  std::latch largada(2);
  auto terminal = [&] {
    largada.arrive_and_wait();
    return EnviarArquivo("DUPLO.TXT", arquivo);
  };
  auto a = std::async(std::launch::async, terminal);
  auto b = std::async(std::launch::async, terminal);
  const TRespostaUpload r[2] = {a.get(), b.get()};

  const int vencedor = r[0].Codigo == 1 ? 0 : 1;
  const auto& outro = r[1 - vencedor];
  EXPECT_EQ(r[vencedor].Codigo, 1) << r[0].Body << "\n" << r[1].Body;
  EXPECT_NE(outro.Codigo, 1) << outro.Body;
  // The loser is told why: the file is already there.
  EXPECT_TRUE(outro.Codigo == 7 || Contem(outro.Mensagem, "uq_pos_controle_arquivo") ||
              Contem(outro.Mensagem, "DUPLO.TXT"))
      << outro.Body;

  EXPECT_EQ(Contar(Tenant(), "POS_Controle"), 1);
  EXPECT_EQ(LinhasArquivo("DUPLO.TXT").size(), 3u);
  EXPECT_EQ(Contar(Tenant(), "Pos_Venda"), 3);
  const auto log = LogIntegracao();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0][2] == "1" ? log[1][3] : log[0][3], outro.Mensagem);
}

TEST_F(TUploadE2E, LogRowThatCannotBeWrittenDoesNotUndoTheAnswer) {
  pgtest::Exec(Tenant(), "ALTER TABLE LogIntegracaoArquivo RENAME TO log_integracao_fora");

  // A committed import stays a success, recorded as such.
  const auto u = EnviarArquivo("LOG.TXT", "|V|11222333000181|1,00|");
  EXPECT_EQ(u.Status, 201);
  EXPECT_EQ(u.Body, R"({"result":[{"C\u00F3digo":1,"Mensagem":"Sucesso."}]})");
  EXPECT_EQ(Contar(Tenant(), "POS_Controle"), 1);
  EXPECT_EQ(LinhasArquivo("LOG.TXT").size(), 1u);

  // The failure itself is in the events table and in log.txt.
  const auto eventos = Eventos(Main());
  EXPECT_TRUE(std::any_of(eventos.begin(), eventos.end(), [](const std::string& e) {
    return Contem(Minusculas(e), "logintegracaoarquivo");
  })) << ::testing::PrintToString(eventos);
  const auto linhas = Servidor().Log();
  EXPECT_TRUE(std::any_of(linhas.begin(), linhas.end(), [](const std::string& l) {
    return Contem(l, "* ERRO ") && Contem(Minusculas(l), "logintegracaoarquivo");
  })) << ::testing::PrintToString(linhas);

  // An answer that was a refusal anyway keeps its own code too.
  const auto recusa = Enviar("11222333000182", "2016-10-09", "LOG2.TXT", Corpo("|V|1|"));
  EXPECT_EQ(recusa.Status, 201);
  EXPECT_EQ(recusa.Codigo, 3) << recusa.Body;

  // With the table back, the next answer is logged again.
  pgtest::Exec(Tenant(), "ALTER TABLE log_integracao_fora RENAME TO LogIntegracaoArquivo");
  EXPECT_EQ(EnviarArquivo("LOG.TXT", "|V|11222333000181|1,00|").Codigo, 7);
  EXPECT_EQ(LogIntegracao(), (std::vector<std::vector<std::string>>{
                                 {kToken, kCnpj, "7", "Arquivo LOG.TXT já importado."}}));
}

}  // namespace
}  // namespace tamrix::e2e::upload
