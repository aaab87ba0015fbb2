// The sales-file endpoint over the REST dispatcher: one answer per outcome, with or without
// its row in the integration log, and a log row that cannot be written leaving the answer as
// it was.
#include <gtest/gtest.h>

#include <string>

#include "integration/IntegracaoTeste.h"

namespace tamrix::integration::teste {
namespace {

class EndpointTest : public IntegracaoTest {
 protected:
  TResposta Enviar(const std::string& bytes, const std::string& nome = "VENDAS.TXT",
                   const std::string& cnpj = kCnpj, const std::string& data = "2016-10-09",
                   const std::string& token = kToken) {
    return S().Enviar(token, cnpj, data, nome, CorpoArquivo(bytes));
  }
  // The log rows as "code text" lines, oldest first.
  std::string Logs() {
    return S().Tenant(
        "SELECT coalesce(string_agg(cd_mensagem || ' ' || ds_log, ';' ORDER BY id_log), '') "
        "FROM LogIntegracaoArquivo");
  }
  std::string Evento(const std::string& trecho) {
    return pgtest::QueryText(S().Main(),
                             "SELECT coalesce(max(descricao), '') FROM EventosServRest WHERE "
                             "descricao LIKE '%" +
                                 trecho + "%'");
  }
};

const std::string kLinha = "|V|11222333000181|100,00|";

TEST_F(EndpointTest, StoredImportedRegisteredThenDuplicate) {
  const TResposta r = Enviar(kLinha);
  EXPECT_EQ(r.Status, 201) << r.Corpo;
  EXPECT_EQ(r.Codigo(), 1) << r.Corpo;
  EXPECT_EQ(r.Texto(), "Sucesso.");
  EXPECT_EQ(S().Tenant("SELECT linha FROM Pos_Arquivo"), kLinha);
  EXPECT_EQ(S().Contar("POS_Controle"), 1);
  EXPECT_EQ(S().Contar("Pos_Venda"), 1);
  EXPECT_EQ(S().Tenant("SELECT token || ' ' || cnpj FROM LogIntegracaoArquivo"),
            std::string(kToken) + " " + kCnpj);

  const TResposta again = Enviar(kLinha);
  EXPECT_EQ(again.Codigo(), 7) << again.Corpo;
  EXPECT_EQ(again.Texto(), "Arquivo VENDAS.TXT já importado.");
  EXPECT_EQ(Logs(), "1 Sucesso.;7 Arquivo VENDAS.TXT já importado.");
  EXPECT_EQ(S().Contar("Pos_Arquivo"), 1);
}

TEST_F(EndpointTest, UnknownTokenOrTenantAnswersWithoutLogRow) {
  const TResposta desconhecido = Enviar(kLinha, "VENDAS.TXT", kCnpj, "2016-10-09", "TkNada");
  EXPECT_EQ(desconhecido.Status, 201) << desconhecido.Corpo;
  EXPECT_EQ(desconhecido.Codigo(), 2);
  EXPECT_EQ(desconhecido.Texto(), "Token inválido.");

  // Registered, but its database does not exist: the connection failure, translated.
  const TResposta semBanco =
      Enviar(kLinha, "VENDAS.TXT", kCnpj, "2016-10-09", pgtest::kTokenSemBanco);
  EXPECT_EQ(semBanco.Codigo(), 0) << semBanco.Corpo;
  EXPECT_NE(semBanco.Texto().find("Não foi possível conectar ao banco de dados"), std::string::npos)
      << semBanco.Texto();

  for (const char* tabela : {"Pos_Arquivo", "POS_Controle", "LogIntegracaoArquivo"})
    EXPECT_EQ(S().Contar(tabela), 0) << tabela;
}

TEST_F(EndpointTest, RefusalsAnswerTheirCodeAndAreLogged) {
  struct Caso {
    const char* quando;
    std::string cnpj, data, nome, corpo;
    int codigo;
  } casos[] = {
      {"check digit", "11222333000182", "2016-10-09", "VENDAS.TXT", CorpoArquivo(kLinha), 3},
      {"not a date", kCnpj, "2016-02-30", "VENDAS.TXT", CorpoArquivo(kLinha), 4},
      {"blank name", kCnpj, "2016-10-09", "%20%20", CorpoArquivo(kLinha), 5},
      {"no extension", kCnpj, "2016-10-09", "VENDAS", CorpoArquivo(kLinha), 6},
      {"blank first pair", kCnpj, "2016-10-09", "VENDAS.TXT", R"({"  ":"QUJD"})", 8},
      {"empty object", kCnpj, "2016-10-09", "VENDAS.TXT", "{}", 8},
      {"blanks and breaks", kCnpj, "2016-10-09", "VENDAS.TXT", CorpoArquivo(" \r\n\t \n "), 9},
      {"short number", kCnpj, "2016-10-09", "VENDAS.TXT", R"({"arquivo":12})", 9},
      // Valid with its punctuation, but the file holds the digits alone.
      {"CNPJ as written", "11.222.333.0001-81", "2016-10-09", "VENDAS.TXT", CorpoArquivo(kLinha),
       10},
  };
  std::string esperado;
  for (const auto& c : casos) {
    const TResposta r = S().Enviar(kToken, c.cnpj, c.data, c.nome, c.corpo);
    EXPECT_EQ(r.Status, 201) << c.quando << ": " << r.Corpo;
    EXPECT_EQ(r.Codigo(), c.codigo) << c.quando << ": " << r.Corpo;
    if (!esperado.empty()) esperado += ";";
    esperado += std::to_string(c.codigo) + " " + r.Texto();
  }
  EXPECT_EQ(Logs(), esperado);
  EXPECT_EQ(S().Contar("Pos_Arquivo"), 0);
  EXPECT_EQ(S().Contar("POS_Controle"), 0);
}

TEST_F(EndpointTest, StorageFailureAnswersCodeZeroAndLeavesNothing) {
  // The import procedure rejects a line with an ERRO field.
  const TResposta r = Enviar(kLinha + "\r\n|V|ERRO|1|");
  EXPECT_EQ(r.Codigo(), 0) << r.Corpo;
  EXPECT_NE(r.Texto().find("rejeitada na importação"), std::string::npos) << r.Texto();
  EXPECT_EQ(Logs(), "0 " + r.Texto());
  EXPECT_EQ(S().Contar("Pos_Arquivo"), 0);
  EXPECT_EQ(S().Contar("POS_Controle"), 0);
}

// While it lives, every insert into the integration log is refused.
class TLogRecusado {
 public:
  explicit TLogRecusado(const std::string& banco) : banco_(banco) {
    pgtest::Exec(banco_,
                 "ALTER TABLE LogIntegracaoArquivo ADD CONSTRAINT chk_log_recusado "
                 "CHECK (cd_mensagem < 0) NOT VALID");
  }
  ~TLogRecusado() {
    pgtest::Exec(banco_, "ALTER TABLE LogIntegracaoArquivo DROP CONSTRAINT chk_log_recusado");
  }

 private:
  std::string banco_;
};

TEST_F(EndpointTest, LogRowThatCannotBeWrittenKeepsTheAnswer) {
  TLogRecusado recusa(S().Tenant());
  const TResposta ok = Enviar(kLinha);
  EXPECT_EQ(ok.Status, 201) << ok.Corpo;
  EXPECT_EQ(ok.Codigo(), 1) << ok.Corpo;
  EXPECT_EQ(ok.Texto(), "Sucesso.");
  EXPECT_EQ(S().Contar("POS_Controle"), 1);  // the import stays committed

  const TResposta recusada = Enviar(kLinha, "OUTRO");
  EXPECT_EQ(recusada.Status, 201) << recusada.Corpo;
  EXPECT_EQ(recusada.Codigo(), 6) << recusada.Corpo;

  EXPECT_EQ(S().Contar("LogIntegracaoArquivo"), 0);
  int linhasErro = 0;
  for (const auto& l : S().LinhasLog())
    if (l.rfind("* ERRO ", 0) == 0 && l.find("chk_log_recusado") != std::string::npos) ++linhasErro;
  EXPECT_EQ(linhasErro, 2);
  EXPECT_NE(Evento("chk_log_recusado"), "");
}

}  // namespace
}  // namespace tamrix::integration::teste
