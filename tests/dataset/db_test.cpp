// Real queries and procedures through the container, against the test PostgreSQL: what the
// driver reports arrives in the data set, and the writer runs, keeps or releases them as it
// should.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "db/uDBStoredProc.h"
#include "rest/uDataSetReader.h"
#include "rest/uJSONDataSets.h"
#include "support/pgtest.h"

namespace tamrix::testes {
namespace {

using rest::TTipoColuna;

class DataSetDB : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    pgtest::Configure(conn_, pgtest::Env()->tenant1Db);
    conn_.Open();
  }
  void Exec(const std::string& sql) {
    db::TDBQuery q(&conn_);
    q.SetSQL(sql);
    q.ExecSQL();
  }
  std::vector<rest::TDataSetLido> Escrever(db::TDBDataSet& ds) {
    rest::TJSONDataSets lista;
    rest::TJSONDataSetsWriter::ListAdd(lista, ds);
    std::string out;
    rest::EscreverJSONDataSets(lista, out);
    return rest::LerContainerDataSets(out);
  }
  db::TDBConnection conn_;
};

TEST_F(DataSetDB, ColumnTypesAndValuesAsTheDriverReportsThem) {
  Exec(
      "CREATE TEMP TABLE tipos (i2 smallint, i4 integer NOT NULL, i8 bigint, n numeric(20,4), "
      "r real, d double precision, dt date, ts timestamp(3), vc varchar(20), c char(2), "
      "tx text, by bytea, u uuid)");
  Exec(
      "INSERT INTO tipos VALUES (-32768, 2147483647, -9223372036854775808, "
      "-1234567890123456.1234, 1.5, 0.1, '2024-02-29', '2024-02-29 13:45:10.123', "
      "'Ação 日本', 'ab', '', '\\x00ff'::bytea, 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11')");
  Exec("INSERT INTO tipos (i4) VALUES (0)");
  db::TDBQuery q(&conn_);
  q.SetName("qySQL");
  q.SetSQL("SELECT * FROM tipos ORDER BY i4 DESC");
  const auto lidos = Escrever(q);
  EXPECT_FALSE(q.Active());  // opened for the writing, closed again

  const struct {
    std::string nome;
    TTipoColuna tipo;
    std::string valor;
  } esperado[] = {
      {"i2", TTipoColuna::tcInteiro16, "-32768"},
      {"i4", TTipoColuna::tcInteiro32, "2147483647"},
      {"i8", TTipoColuna::tcInteiro64, "-9223372036854775808"},
      {"n", TTipoColuna::tcDecimal, "-1234567890123456.1234"},
      {"r", TTipoColuna::tcReal, "1.5"},
      {"d", TTipoColuna::tcReal, "0.1"},
      {"dt", TTipoColuna::tcData, "2024-02-29"},
      {"ts", TTipoColuna::tcDataHora, "2024-02-29 13:45:10.123"},
      {"vc", TTipoColuna::tcTexto, "Ação 日本"},
      {"c", TTipoColuna::tcTexto, "ab"},
      {"tx", TTipoColuna::tcTexto, ""},
      {"by", TTipoColuna::tcBinario, std::string("\0\xff", 2)},
      {"u", TTipoColuna::tcGuid, "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11"},
  };
  ASSERT_EQ(lidos.size(), 1u);
  const auto& ds = lidos[0];
  EXPECT_EQ(ds.Nome, "qySQL");
  ASSERT_EQ(ds.Colunas.size(), std::size(esperado));
  ASSERT_EQ(ds.Linhas.size(), 2u);
  for (std::size_t i = 0; i < ds.Colunas.size(); ++i) {
    const auto& e = esperado[i];
    EXPECT_EQ(ds.Colunas[i].Nome, e.nome);
    EXPECT_EQ(ds.Colunas[i].Tipo, e.tipo) << e.nome;
    EXPECT_EQ(ds.Linhas[0][i], e.valor) << e.nome;
    EXPECT_EQ(ds.Linhas[1][i].has_value(), e.nome == "i4") << e.nome;  // NULL, not ""
  }
  EXPECT_EQ(ds.Colunas[1].Nulidade, rest::TNulidade::nuNaoAceita);
  EXPECT_EQ(ds.Colunas[0].Nulidade, rest::TNulidade::nuAceita);
  EXPECT_EQ(ds.Colunas[3].Precisao, 20);
  EXPECT_EQ(ds.Colunas[3].Escala, 4);
  EXPECT_EQ(ds.Colunas[8].Tamanho, 20u);
}

TEST_F(DataSetDB, OpenQueryIsWrittenFromItsFirstRowAndStaysOpen) {
  db::TDBQuery q(&conn_);
  q.SetName("qySQL");
  q.SetSQL(
      "SELECT Cadastro.cd_cadastro, Cadastro.razao, Cidade.nome AS cidade\r\n"
      "  FROM Cadastro\r\n"
      "  JOIN Cidade ON (Cidade.cd_cidade = Cadastro.cd_cidade)\r\n"
      " ORDER BY 1");
  std::vector<std::optional<std::string>> codigos;
  for (q.Open(); !q.Eof(); q.Next()) codigos.push_back(q.Fields(0).AsString());
  q.Close();
  ASSERT_GT(codigos.size(), 1u);

  q.Open();  // as a method leaves it
  const auto lidos = Escrever(q);
  EXPECT_TRUE(q.Active());
  ASSERT_EQ(lidos.at(0).Linhas.size(), codigos.size());
  for (std::size_t i = 0; i < codigos.size(); ++i) EXPECT_EQ(lidos[0].Linhas[i][0], codigos[i]);
  EXPECT_EQ(lidos[0].Colunas.at(2).Nome, "cidade");
}

TEST_F(DataSetDB, QueryWithoutRowsKeepsItsColumns) {
  db::TDBQuery q(&conn_);
  q.SetName("qySQL");
  q.SetSQL("SELECT cd_cadastro, razao FROM Cadastro WHERE cd_cadastro = :pcd_cadastro");
  q.ParamByName("pcd_cadastro").SetAsInteger(-1);
  const auto lidos = Escrever(q);
  ASSERT_EQ(lidos.at(0).Colunas.size(), 2u);
  EXPECT_EQ(lidos[0].Colunas[0].Tipo, TTipoColuna::tcInteiro32);
  EXPECT_TRUE(lidos[0].Linhas.empty());
}

TEST_F(DataSetDB, FailingQueryFailsTheWritingAndLeavesNothing) {
  db::TDBQuery q(&conn_);
  q.SetName("qySQL");
  q.SetSQL("SELECT * FROM TabelaQueNaoExiste");
  rest::TJSONDataSets lista;
  rest::TJSONDataSetsWriter::ListAdd(lista, q);
  std::string out = "{\"result\":[";
  EXPECT_THROW(rest::EscreverJSONDataSets(lista, out), diagnostics::EDBEngineException);
  EXPECT_EQ(out, "{\"result\":[");
  EXPECT_FALSE(q.Active());
}

// Thousands of rows come from the driver in blocks and go out in many deflate blocks: every
// row arrives in order with its own values, NULLs and characters beyond U+FFFF.
TEST_F(DataSetDB, ManyRowsArriveWhole) {
  db::TDBQuery q(&conn_);
  q.SetName("qySQL");
  q.SetSQL(
      "SELECT g, CASE WHEN g % 5 <> 0 THEN ('é😀 ' || g)::varchar(30) END AS t,\r\n"
      "       (g || '.50')::numeric(10,2) AS n,\r\n"
      "       timestamp '2024-01-01 00:00:00.125' + g * interval '1 second' AS ts\r\n"
      "  FROM generate_series(1, 3000) g ORDER BY g");
  const auto lidos = Escrever(q);
  ASSERT_EQ(lidos.size(), 1u);
  const auto& linhas = lidos[0].Linhas;
  ASSERT_EQ(linhas.size(), 3000u);
  for (int g = 1; g <= 3000; ++g) {
    const auto& l = linhas[static_cast<std::size_t>(g - 1)];
    ASSERT_EQ(l.at(0), std::to_string(g));
    if (g % 5 == 0)
      EXPECT_FALSE(l[1].has_value()) << g;
    else
      EXPECT_EQ(l[1], "é😀 " + std::to_string(g));
    EXPECT_EQ(l[2], std::to_string(g) + ".50");
    char ts[40];
    std::snprintf(ts, sizeof ts, "2024-01-01 %02d:%02d:%02d.125", g / 3600, g / 60 % 60, g % 60);
    EXPECT_EQ(l[3], ts);
  }
}

// A procedure created for one call lives no longer than the answer that carries it.
TEST_F(DataSetDB, SharedProcedureIsReleasedWithTheCollection) {
  auto sp = std::make_shared<db::TDBStoredProc>(&conn_);
  sp->SetStoredProcName("spcPDVEmpresaUsuario");
  sp->ParamByName("@cd_empresa").SetAsInteger(1);
  sp->ParamByName("@cd_usuario").SetAsSmallInt(70000);
  sp->Open();
  std::weak_ptr<db::TDBStoredProc> vigia = sp;
  std::string out;
  {
    auto lista = std::make_unique<rest::TJSONDataSets>();
    rest::TJSONDataSetsWriter::ListAdd(*lista, std::move(sp));
    EXPECT_FALSE(vigia.expired());
    rest::EscreverJSONDataSets(*lista, out);
    EXPECT_TRUE(vigia.lock()->Active());
  }
  EXPECT_TRUE(vigia.expired());
  const auto lidos = rest::LerContainerDataSets(out);
  ASSERT_EQ(lidos.size(), 1u);
  EXPECT_EQ(lidos[0].Nome, "");
  ASSERT_EQ(lidos[0].Linhas.size(), 1u);
  EXPECT_EQ(lidos[0].Colunas.at(4).Nome, "cd_usuario");
  EXPECT_EQ(lidos[0].Linhas[0][4], "4464");
}

}  // namespace
}  // namespace tamrix::testes
