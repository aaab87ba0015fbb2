// Stored procedures prepared from the database's own description (PostgreSQL functions).
#include <gtest/gtest.h>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "db/uDBStoredProc.h"
#include "support/pgtest.h"

namespace tamrix::db {
namespace {

using diagnostics::EDatabaseError;
using diagnostics::EDBEngineException;

class StoredProcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    pgtest::Configure(conn_, pgtest::Env()->tenant1Db);
    conn_.Open();
  }
  TDBConnection conn_;
};

TEST_F(StoredProcTest, PreparedFromTheDescriptionAndBoundByNameWithoutAt) {
  TDBStoredProc sp(&conn_);
  sp.SetStoredProcName("spcPDVTabPrecoItem");  // the catalog holds it lower-cased
  sp.Prepare();
  ASSERT_EQ(sp.Params().Count(), 4);
  EXPECT_EQ(sp.Params()[0].Name(), "cd_empresa");
  EXPECT_EQ(sp.Params()[0].DeclaredSqlType(), SQL_INTEGER);
  EXPECT_EQ(sp.Params()[2].Name(), "id_grupo");
  EXPECT_EQ(sp.Params()[2].DataType(), TDBFieldType::ftLargeint);
  EXPECT_EQ(sp.Params()[3].ParamType(), TDBParamType::ptInput);
  EXPECT_TRUE(sp.ParamExists("@id_grupo"));
  EXPECT_TRUE(sp.ParamExists("@CD_USUARIO"));
  EXPECT_FALSE(sp.ParamExists("@cd_item"));

  sp.ParamByName("@cd_empresa").SetAsInteger(1);
  sp.ParamByName("@cd_tabpreco").SetAsString("001");
  sp.ParamByName("@id_grupo").SetAsLargeInt(20);
  sp.ParamByName("@cd_usuario").SetAsSmallInt(70000);
  sp.Open();
  std::vector<int> items;
  for (; !sp.Eof(); sp.Next()) {
    items.push_back(sp.FieldByName("cd_item").AsInteger());
    EXPECT_EQ(sp.FieldByName("cd_usuario").AsInteger(), 4464);
  }
  EXPECT_EQ(items, (std::vector<int>{2001, 2002}));
  EXPECT_EQ(sp.Columns().size(), 7u);
  EXPECT_EQ(sp.FieldByName("vl_preco").DataType(), TDBFieldType::ftBCD);
}

// The description is read while the server may have ended the session unnoticed (a restart
// under load): a clean error of its kind, then the reopened connection serves again.
TEST_F(StoredProcTest, DescriptionReadOnASessionTheServerEndedFailsAsServerGone) {
  pgtest::EndSession(conn_);
  TDBStoredProc sp(&conn_);
  sp.SetStoredProcName("POS_spcImportaArquivo");
  try {
    sp.Prepare();
    FAIL() << "prepared on a terminated session";
  } catch (const EDBEngineException& e) {
    EXPECT_EQ(e.Kind(), diagnostics::ekServerGone) << e.SqlState() << " " << e.Message();
  }
  conn_.Open();
  sp.Prepare();
  ASSERT_EQ(sp.Params().Count(), 4);
  EXPECT_EQ(sp.Params()[1].Name(), "dt_movimento");
  EXPECT_EQ(sp.Params()[1].DeclaredSqlType(), SQL_TYPE_TIMESTAMP);
  EXPECT_EQ(sp.Params()[3].DeclaredSqlType(), SQL_WVARCHAR);
}

TEST_F(StoredProcTest, UnboundParametersArriveAsNull) {
  TDBStoredProc sp(&conn_);
  sp.SetStoredProcName("spcPDVTabPrecoItem");
  sp.ParamByName("@cd_empresa").SetAsInteger(1);
  sp.ParamByName("@cd_tabpreco").SetAsString("001");
  sp.Open();  // id_grupo null: every group; cd_usuario null
  EXPECT_EQ(sp.RecordCount(), 5);
  EXPECT_TRUE(sp.FieldByName("cd_usuario").IsNull());

  // A date-time sent as a float (days since 30/12/1899) and one left null.
  TDBStoredProc sync(&conn_);
  sync.SetStoredProcName("spcVEXValSincronia");
  sync.ParamByName("@cd_empresa").SetAsInteger(1);
  sync.ParamByName("@cd_tabpreco").SetAsString("001");
  sync.ParamByName("@cd_usuario").SetAsSmallInt(2);
  sync.Open();
  EXPECT_TRUE(sync.FieldByName("dt_sincronizacao").IsNull());
  EXPECT_EQ(sync.FieldByName("qt_registros").AsInteger(), 6);  // every item
  sync.Close();
  const TDBTimeStamp since{2016, 10, 5, 12, 0, 0};
  sync.ParamByName("@dt_sincronizacao").SetAsFloat(since.ToDateTime());
  sync.Open();
  EXPECT_EQ(sync.FieldByName("dt_sincronizacao").AsDateTime(), since);
  EXPECT_EQ(sync.FieldByName("qt_registros").AsInteger(), 2);  // changed after the 5th noon
}

TEST_F(StoredProcTest, TheSameCodeOnAnOlderProcedureWithoutAParameter) {
  TDBConnection other;
  pgtest::Configure(other, pgtest::Env()->tenant2Db);
  other.Open();
  TDBStoredProc sp(&other);
  sp.SetStoredProcName("spcPDVTabPrecoItem");
  sp.Prepare();
  EXPECT_FALSE(sp.ParamExists("@id_grupo"));
  EXPECT_THROW(sp.ParamByName("@id_grupo"), EDatabaseError);
  sp.ParamByName("@cd_empresa").SetAsInteger(1);
  sp.ParamByName("@cd_tabpreco").SetAsString("001");
  sp.ParamByName("@cd_usuario").SetAsSmallInt(2);
  sp.Open();
  EXPECT_EQ(sp.RecordCount(), 2);
  // A new connection means a new description.
  sp.SetConnection(&conn_);
  EXPECT_TRUE(sp.ParamExists("@id_grupo"));
}

TEST_F(StoredProcTest, MissingProcedureAndNoConnection) {
  TDBStoredProc sp(&conn_);
  sp.SetStoredProcName("spcNaoExiste");
  try {
    sp.Prepare();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(),
              "Procedimento armazenado 'spcNaoExiste' não encontrado no banco de dados.");
  }
  TDBStoredProc none;
  none.SetStoredProcName("spcMLOVendas");
  EXPECT_THROW(none.Open(), EDatabaseError);
  EXPECT_THROW(none.ExecProc(), EDatabaseError);
}

TEST(StoredProcWriting, ImportProcedureImportsAndRaisesForARejectedLine) {
  TAMRIX_REQUIRE_PG();
  pgtest::TPgScratchDatabase db(pgtest::Env()->tenant1Template);
  TDBConnection c;
  pgtest::Configure(c, db.Name());
  c.Open();
  TDBQuery ins(&c);
  ins.SetSQL(
      "INSERT INTO Pos_Arquivo (cnpj_cpf, dt_movimento, tp_arquivo, nr_ordem, linha, "
      "processado, dt_arquivo, arquivo) VALUES (:cnpj, :dt, 'V', :ordem, :linha, 'N', "
      "GETDATE(), :arquivo)");
  const TDBTimeStamp mov{2016, 10, 9};
  auto line = [&](const char* arquivo, int ordem, const char* linha) {
    ins.ParamByName("cnpj").SetAsString("11.222.333/0001-81");
    ins.ParamByName("dt").SetAsDateTime(mov);
    ins.ParamByName("ordem").SetAsInteger(ordem);
    ins.ParamByName("linha").SetAsString(linha);
    ins.ParamByName("arquivo").SetAsString(arquivo);
    ins.ExecSQL();
  };
  line("A.TXT", 1, "|V|11222333000181|100,00|");
  line("A.TXT", 3, "|V|11222333000181|15,50|");
  line("B.TXT", 1, "|V|11222333000181|1,00|");
  line("B.TXT", 2, "|V|ERRO|");

  auto import = [&](const char* arquivo) {
    TDBStoredProc sp(&c);
    sp.SetStoredProcName("POS_spcImportaArquivo");
    sp.Prepare();
    sp.ParamByName("@cnpj_cpf").SetAsString("11.222.333/0001-81");
    sp.ParamByName("@dt_movimento").SetAsDateTime(mov);
    sp.ParamByName("@tp_arquivo").SetAsString("V");
    sp.ParamByName("@arquivo").SetAsString(arquivo);
    sp.ExecProc();
  };
  import("A.TXT");
  EXPECT_EQ(pgtest::QueryText(db.Name(),
                              "SELECT string_agg(nr_ordem || '=' || vl_venda, ' ' "
                              "ORDER BY nr_ordem) FROM Pos_Venda"),
            "1=100.00 3=15.50");
  EXPECT_EQ(pgtest::QueryText(db.Name(),
                              "SELECT COUNT(*) FROM Pos_Arquivo WHERE processado = "
                              "'S'"),
            "2");
  try {
    import("B.TXT");
    FAIL();
  } catch (const EDBEngineException& e) {
    EXPECT_NE(e.Message().find("Linha 2 do arquivo B.TXT"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(pgtest::QueryText(db.Name(), "SELECT COUNT(*) FROM Pos_Venda"), "2");
}

}  // namespace
}  // namespace tamrix::db
