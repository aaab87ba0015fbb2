// Queries against the test PostgreSQL: binding, cursor, columns, local index, cached updates,
// transactions and connection errors.
#include <gtest/gtest.h>

#include <thread>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "diagnostics/uTraduzirErro.h"
#include "support/pgtest.h"

namespace tamrix::db {
namespace {

using diagnostics::EDatabaseError;
using diagnostics::EDBEngineException;

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    pgtest::Configure(conn_, pgtest::Env()->tenant1Db);
    conn_.Open();
  }
  TDBConnection conn_;
};

// psqlODBC writes bound values into the statement as literals, so the casts give the result
// columns their types.
TEST_F(QueryTest, EveryBindingTypeRoundTrips) {
  TDBQuery q(&conn_);
  q.SetSQL(
      "SELECT CAST(:s AS varchar(40)) AS s, CAST(:i16 AS smallint) AS i16, :neg16 AS neg16, "
      ":i32 AS i32, :i64 AS i64, CAST(:dt AS timestamp(3)) AS dt, :f AS f, "
      "CAST(:nulo AS integer) AS nulo, "
      "CAST(:s AS varchar(40)) || '/' || :i32 AS repetido, ':naoparam' AS literal");
  TDBTimeStamp dt{2016, 10, 9, 23, 59, 58, 123000000};
  q.ParamByName("s").SetAsString("São João d'Ávila");
  q.ParamByName("i16").SetAsSmallInt(70000);
  q.ParamByName("neg16").SetAsSmallInt(40000);
  q.ParamByName("i32").SetAsInteger(-2147483647);
  q.ParamByName("i64").SetAsLargeInt(9007199254740993LL);
  q.ParamByName("dt").SetAsDateTime(dt);
  q.ParamByName("f").SetAsFloat(1234.5625);
  q.ParamByName("nulo").Clear(TDBFieldType::ftInteger);
  EXPECT_EQ(q.Params().Count(), 8);
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("s").AsString(), "São João d'Ávila");
  EXPECT_EQ(q.FieldByName("i16").AsInteger(), 4464);
  EXPECT_EQ(q.FieldByName("i16").DataType(), TDBFieldType::ftSmallint);
  EXPECT_EQ(q.FieldByName("neg16").AsInteger(), -25536);
  EXPECT_EQ(q.FieldByName("i32").AsInteger(), -2147483647);
  EXPECT_EQ(q.FieldByName("i64").AsLargeInt(), 9007199254740993LL);
  EXPECT_EQ(q.FieldByName("dt").AsDateTime(), dt);
  EXPECT_EQ(q.FieldByName("dt").AsString(), "09/10/2016 23:59:58");
  EXPECT_DOUBLE_EQ(q.FieldByName("f").AsFloat(), 1234.5625);
  EXPECT_TRUE(q.FieldByName("nulo").IsNull());
  EXPECT_EQ(q.FieldByName("nulo").AsString(), "");
  EXPECT_EQ(q.FieldByName("nulo").AsInteger(), 0);
  EXPECT_EQ(q.FieldByName("repetido").AsString(), "São João d'Ávila/-2147483647");
  EXPECT_EQ(q.FieldByName("LITERAL").AsString(), ":naoparam");
}

TEST_F(QueryTest, NullsToldApartFromEmptyAndTSqlCompatibility) {
  TDBQuery q(&conn_);
  // The address expression of the user data statement: + is null when a side is null.
  q.SetSQL(
      "SELECT cd_cadastro, fantasia, "
      "RTRIM(endereco) + ISNULL(:pvirgula + RTRIM(numero), :pvazio) AS endereco_empresa, "
      "CAST(GETDATE() AS DATE) AS hoje "
      "FROM Cadastro WHERE cd_cadastro IN (1, 2, 15) ORDER BY cd_cadastro");
  q.ParamByName("pvirgula").SetAsString(", ");
  q.ParamByName("pvazio").SetAsString("");
  q.Open();
  EXPECT_EQ(q.FieldByName("endereco_empresa").AsString(), "AV. PAULISTA, 1578");
  EXPECT_FALSE(q.FieldByName("fantasia").IsNull());
  EXPECT_EQ(q.FieldByName("hoje").DataType(), TDBFieldType::ftDate);
  q.Next();
  EXPECT_EQ(q.FieldByName("endereco_empresa").AsString(), "RUA BARAO DE JAGUARA");
  q.Next();
  EXPECT_TRUE(q.FieldByName("fantasia").IsNull());
  q.Next();
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.FieldByName("cd_cadastro").AsInteger(), 15);  // stays on the last row
}

TEST_F(QueryTest, ColumnDescriptionsComeFromTheDriver) {
  TDBQuery q(&conn_);
  q.SetSQL("SELECT cd_empresa, qt_pedida, vl_unitario, nr_item FROM PedidoItem WHERE 1 = 2");
  q.Open();
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_TRUE(q.Eof());
  ASSERT_EQ(q.Columns().size(), 4u);
  const TDBColumn& empresa = q.Columns()[0];
  EXPECT_EQ(empresa.name, "cd_empresa");
  EXPECT_EQ(empresa.sqlType, SQL_INTEGER);
  EXPECT_EQ(empresa.nullable, SQL_NO_NULLS);
  const TDBColumn& qt = q.Columns()[1];
  EXPECT_EQ(qt.fieldType, TDBFieldType::ftBCD);
  EXPECT_EQ(qt.size, 15u);
  EXPECT_EQ(qt.scale, 3);
  EXPECT_EQ(q.Columns()[2].scale, 4);
  EXPECT_EQ(q.Columns()[3].fieldType, TDBFieldType::ftSmallint);
  EXPECT_TRUE(q.FieldByName("qt_pedida").IsNull());  // no row: fields read as null
}

TEST_F(QueryTest, StreamingCursorCannotGoBackUnlessRowsAreHeld) {
  TDBQuery q(&conn_);
  q.SetSQL("SELECT cd_item FROM Item ORDER BY cd_item");
  q.Open();
  q.First();  // still on the first row: allowed
  EXPECT_EQ(q.RecNo(), 1);
  q.Next();
  EXPECT_EQ(q.Fields(0).AsInteger(), 1002);
  EXPECT_THROW(q.First(), EDatabaseError);
  q.Close();

  q.SetFetchAll(true);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 6);
  while (!q.Eof()) q.Next();
  q.First();
  EXPECT_EQ(q.Fields(0).AsInteger(), 1001);
  EXPECT_EQ(q.RecNo(), 1);
}

TEST_F(QueryTest, LocalIndexAndKeySearch) {
  TDBQuery q(&conn_);
  q.SetSQL("SELECT cd_cidade, nome, cd_estado FROM Cidade");
  q.Open();
  q.ClearIndexes();
  q.AddIndex("idxCidade", "cd_estado; nome");
  q.SetIndexName("idxCidade");
  EXPECT_EQ(q.IndexName(), "idxCidade");
  // The cursor follows the index: MG first.
  EXPECT_EQ(q.FieldByName("nome").AsString(), "Belo Horizonte");
  ASSERT_TRUE(q.FindKey({"SP", "Campinas"}));
  EXPECT_EQ(q.FieldByName("cd_cidade").AsInteger(), 3509502);
  // Exact comparison: another case is no match, and the current row stays.
  EXPECT_FALSE(q.FindKey({"SP", "campinas"}));
  EXPECT_EQ(q.FieldByName("cd_cidade").AsInteger(), 3509502);
  EXPECT_FALSE(q.FindKey({"SP", "Campina"}));
  EXPECT_TRUE(q.FindKey({"PR"}));  // a leading part of the key
  EXPECT_EQ(q.FieldByName("nome").AsString(), "Curitiba");
  EXPECT_THROW(q.SetIndexName("naoExiste"), EDatabaseError);
  q.SetIndexName("");
  EXPECT_THROW(q.FindKey({"SP"}), EDatabaseError);
}

TEST_F(QueryTest, IndexOnTheColumnMetadataStatement) {
  TDBQuery q(&conn_);
  q.SetSQL(conn_.Profile().Text(TDBEngineText::ColumnMetadata));
  q.Open();
  q.AddIndex("idxColumns", "tabname; name");
  q.SetIndexName("idxColumns");
  ASSERT_TRUE(q.FindKey({"pedidoitem", "vl_unitario"}));
  EXPECT_EQ(q.FieldByName("scale").AsInteger(), 4);
  EXPECT_EQ(q.FieldByName("type").AsString(), "D");
}

TEST_F(QueryTest, ErrorsOfUseAreClearPortugueseMessages) {
  TDBQuery semConexao;
  semConexao.SetName("qySQL");
  semConexao.SetSQL("SELECT 1");
  try {
    semConexao.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.ClassName(), "EDatabaseError");
    EXPECT_EQ(e.Message(),
              "Não foi possível abrir qySQL: nenhuma conexão com o banco de dados foi definida.");
  }
  TDBQuery q(&conn_);
  q.SetSQL("SELECT :a, :b");
  q.ParamByName("a").SetAsInteger(1);
  EXPECT_THROW(q.ParamByName("c"), EDatabaseError);
  try {
    q.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("Parâmetro 'b'"), std::string::npos) << e.Message();
  }
  q.SetSQL("SELECT * FROM TabelaQueNaoExiste");
  try {
    q.Open();
    FAIL();
  } catch (const EDBEngineException& e) {
    EXPECT_EQ(e.Kind(), diagnostics::ekOther);
    EXPECT_NE(e.Message().find("tabelaquenaoexiste"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(q.Active());
  conn_.Close();
  q.SetSQL("SELECT 1");
  try {
    q.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("não está aberta"), std::string::npos) << e.Message();
  }
}

TEST_F(QueryTest, ClosingTheConnectionKeepsHeldRowsAndStopsAStreamingCursor) {
  TDBQuery held(&conn_), streaming(&conn_);
  held.SetFetchAll(true);
  held.SetSQL("SELECT cd_item FROM Item ORDER BY cd_item");
  held.Open();
  streaming.SetSQL("SELECT generate_series(1, 100000) AS n");
  streaming.Open();
  conn_.Close();
  held.Next();
  EXPECT_EQ(held.Fields(0).AsInteger(), 1002);
  EXPECT_EQ(streaming.Fields(0).AsInteger(), 1);
  EXPECT_THROW(streaming.Next(), EDatabaseError);
}

TEST_F(QueryTest, AConnectionTheServerDroppedCountsAsClosedUntilReopened) {
  pgtest::EndSession(conn_);
  TDBQuery q(&conn_);
  q.SetSQL("SELECT 1");
  try {
    q.Open();
    FAIL() << "query ran on a terminated session";
  } catch (const EDBEngineException& e) {
    EXPECT_EQ(e.Kind(), diagnostics::ekServerGone) << e.SqlState() << " " << e.Message();
  }
  EXPECT_FALSE(conn_.Connected());
  conn_.Open();
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), 1);
}

// A shared connection that may reopen itself tries at most once a second while the server
// refuses it: the others fail at once instead of each waiting on the refusal.
TEST(ReopenTest, RefusedReopenIsNotRetriedWithinASecond) {
  TAMRIX_REQUIRE_PG();
  TDBConnection c;
  pgtest::Configure(c, pgtest::Env()->tenant1Db);
  c.Params().SetValue("Porta", "1");  // nothing listens there
  c.SetReopenWhenLost(true);
  EXPECT_THROW(c.Open(), EDBEngineException);
  TDBQuery q(&c);
  q.SetSQL("SELECT 1");
  EXPECT_THROW(q.Open(), EDBEngineException);  // the reopen's own refusal
  try {
    q.Open();
    FAIL() << "opened on a refused connection";
  } catch (const EDBEngineException& e) {
    FAIL() << "reopened again at once: " << e.Message();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("não está aberta"), std::string::npos) << e.Message();
  }
}

class WritingQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    db_ = std::make_unique<pgtest::TPgScratchDatabase>(pgtest::Env()->tenant1Template);
    pgtest::Configure(conn_, db_->Name());
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

TEST_F(WritingQueryTest, TransactionsCommitAndRollBack) {
  TDBQuery ins(&conn_);
  ins.SetSQL("INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao) VALUES (:cd, :d, 'C')");
  EXPECT_FALSE(conn_.InTransaction());
  conn_.StartTransaction();
  EXPECT_TRUE(conn_.InTransaction());
  EXPECT_THROW(conn_.StartTransaction(), EDatabaseError);
  ins.ParamByName("cd").SetAsSmallInt(50);
  ins.ParamByName("d").SetAsString("DESFEITA");
  ins.ExecSQL();
  EXPECT_EQ(ins.RowsAffected(), 1);
  conn_.Rollback();
  EXPECT_FALSE(conn_.InTransaction());
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 50"), 0);

  conn_.StartTransaction();
  ins.ParamByName("cd").SetAsSmallInt(51);
  ins.ParamByName("d").SetAsString("CONFIRMADA");
  ins.ExecSQL();
  conn_.Commit();
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 51"), 1);
  EXPECT_THROW(conn_.Commit(), EDatabaseError);
  EXPECT_THROW(conn_.Rollback(), EDatabaseError);

  // Closing with a transaction open rolls it back.
  conn_.StartTransaction();
  ins.ParamByName("cd").SetAsSmallInt(52);
  ins.ExecSQL();
  conn_.Close();
  conn_.Open();
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 52"), 0);
}

TEST_F(WritingQueryTest, CachedUpdatesApplyInOrderAndReportTheFailingRow) {
  TDBQuery q(&conn_);
  q.SetCachedUpdates(true);
  q.SetSQL(
      "SELECT cnpj_cpf,\r\n       dt_movimento,\r\n       tp_arquivo,\r\n       nr_ordem,\r\n"
      "       linha,\r\n       processado,\r\n       dt_arquivo,\r\n       arquivo,\r\n"
      "       arquivo_xml\r\n  FROM Pos_Arquivo\r\n WHERE 1 = 2");
  q.Open();
  const TDBTimeStamp mov{2016, 10, 9};
  for (int i = 1; i <= 4; ++i) {
    q.Append();
    q.FieldByName("cnpj_cpf").SetAsString("11222333000181");
    q.FieldByName("dt_movimento").SetAsDateTime(mov);
    q.FieldByName("tp_arquivo").SetAsString("V");
    q.FieldByName("nr_ordem").SetAsInteger(i);
    // Row 3 breaks the NOT NULL of linha.
    if (i == 3) {
      q.FieldByName("linha").Clear();
    } else {
      q.FieldByName("linha").SetAsString("|V|" + std::to_string(i) + "|");
    }
    q.FieldByName("processado").SetAsString("N");
    q.FieldByName("dt_arquivo").SetAsDateTime(TDBTimeStamp::Now());
    q.FieldByName("arquivo").SetAsString("VENDAS.TXT");
    q.Post();
  }
  EXPECT_EQ(q.UpdatesPending(), 4);
  EXPECT_EQ(q.FieldByName("nr_ordem").AsInteger(), 4);  // the last row appended is current

  std::vector<int> failedRows;
  std::string failure;
  q.SetOnUpdateError(
      [&](TDBDataSet&, const EDatabaseError& e, int row, TDBUpdateRequest, TDBErrorAction& action) {
        failedRows.push_back(row);
        failure = e.Message();
        action = TDBErrorAction::eaFail;
      });
  conn_.StartTransaction();
  EXPECT_EQ(q.ApplyUpdates(0), 1);
  EXPECT_EQ(failedRows, std::vector<int>{3});
  EXPECT_NE(failure.find("linha"), std::string::npos) << failure;
  EXPECT_EQ(q.UpdatesPending(), 2);  // rows 3 and 4 were not applied
  conn_.Rollback();
  EXPECT_EQ(Count("SELECT COUNT(*) FROM Pos_Arquivo"), 0);

  // Without the broken row, all rows go in, in list order, and arquivo_xml keeps its default.
  TDBQuery q2(&conn_);
  q2.SetCachedUpdates(true);
  q2.SetSQL(q.SQL());
  q2.Open();
  for (int i = 1; i <= 3; ++i) {
    q2.Append();
    q2.FieldByName("cnpj_cpf").SetAsString("11222333000181");
    q2.FieldByName("dt_movimento").SetAsDateTime(mov);
    q2.FieldByName("tp_arquivo").SetAsString("V");
    q2.FieldByName("nr_ordem").SetAsInteger(i * 10);
    q2.FieldByName("linha").SetAsString("|L" + std::to_string(i) + "|");
    q2.FieldByName("processado").SetAsString("N");
    q2.FieldByName("dt_arquivo").SetAsDateTime(TDBTimeStamp::Now());
    q2.FieldByName("arquivo").SetAsString("VENDAS2.TXT");
    q2.Post();
  }
  EXPECT_EQ(q2.ApplyUpdates(0), 0);
  EXPECT_EQ(q2.UpdatesPending(), 0);
  EXPECT_EQ(q2.ApplyUpdates(0), 0);  // applied rows are not sent again
  TDBQuery check(&conn_);
  check.SetSQL(
      "SELECT nr_ordem, linha, arquivo_xml, dt_movimento FROM Pos_Arquivo ORDER BY "
      "id_pos_arquivo");
  check.Open();
  for (int i = 1; i <= 3; ++i) {
    ASSERT_FALSE(check.Eof());
    EXPECT_EQ(check.Fields(0).AsInteger(), i * 10);
    EXPECT_EQ(check.Fields(1).AsString(), "|L" + std::to_string(i) + "|");
    EXPECT_TRUE(check.Fields(2).IsNull());
    EXPECT_EQ(check.Fields(3).AsDateTime(), mov);
    check.Next();
  }
  EXPECT_TRUE(check.Eof());
}

TEST(ConnectionErrors, WrongPasswordClosedPortAndMissingDatabase) {
  TAMRIX_REQUIRE_PG();
  struct Case {
    const char* what;
    std::string port, database, password;
    diagnostics::TDBErrorKind kind;
    std::string translation;  // empty: the generic text
  };
  const auto* env = pgtest::Env();
  const Case cases[] = {
      {"wrong password", env->port, env->mainDb, "errada", diagnostics::ekUserPwdInvalid,
       "Usuário ou senha do banco de dados inválido."},
      {"closed port", "1", env->mainDb, env->password, diagnostics::ekServerGone,
       "IP ou instância do servidor de banco de dados inválido ou inalcançável."},
      {"missing database", env->port, "tamrix_inexistente", env->password, diagnostics::ekOther,
       ""},
  };
  for (const auto& c : cases) {
    TDBConnection conn;
    pgtest::Configure(conn, c.database, env->user, c.password);
    conn.Params().SetValue("Porta", c.port);
    try {
      conn.Open();
      ADD_FAILURE() << c.what << ": connected";
    } catch (const EDBEngineException& e) {
      EXPECT_EQ(e.Kind(), c.kind) << c.what << ": " << e.Message();
      const std::string t = diagnostics::TraduzirErro(e);
      if (c.translation.empty()) {
        EXPECT_EQ(t.rfind("Ocorreu um erro inesperado. Detalhes: ", 0), 0u) << t;
        EXPECT_NE(t.find("tamrix_inexistente"), std::string::npos) << t;
      } else {
        EXPECT_EQ(t, c.translation) << c.what;
      }
    }
    EXPECT_FALSE(conn.Connected()) << c.what;
  }
}

TEST(ConnectionParams, CopiedWholeToAnotherConnection) {
  TAMRIX_REQUIRE_PG();
  TDBConnection main;
  pgtest::Configure(main, pgtest::Env()->mainDb);
  main.Params().SetValue("MARS", "yes");
  TDBConnection tenant;
  tenant.Params() = main.Params();
  tenant.Params().SetValue("DATABASE", pgtest::Env()->tenant2Db);
  EXPECT_EQ(tenant.Params().Lines().size(), main.Params().Lines().size());
  EXPECT_EQ(tenant.Params().Value("mars"), "yes");
  tenant.Open();
  TDBQuery q(&tenant);
  q.SetSQL(
      "SELECT current_database(), application_name FROM pg_stat_activity "
      "WHERE pid = pg_backend_pid()");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), pgtest::Env()->tenant2Db);
  EXPECT_EQ(q.Fields(1).AsString(), "TamrixRestServer");
}

TEST(ConnectionParams, PasswordWithConnectionStringCharacters) {
  TAMRIX_REQUIRE_PG();
  // The test role's own password holds ";", "{" and "}".
  const std::string pw = pgtest::Env()->password;
  ASSERT_NE(pw.find_first_of(";{}"), std::string::npos);
  TDBConnection c;
  pgtest::Configure(c, pgtest::Env()->mainDb);
  c.Open();
  EXPECT_TRUE(c.Connected());
  // A password that tries to add a keyword stays a password.
  TDBConnection evil;
  pgtest::Configure(evil, pgtest::Env()->mainDb, pgtest::Env()->user, "x;PWD=" + pw);
  EXPECT_THROW(evil.Open(), EDBEngineException);
}

}  // namespace
}  // namespace tamrix::db
