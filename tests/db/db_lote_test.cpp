// Cached rows applied in multi-row INSERTs: batch size per engine, order across batches,
// every column type and nulls inside a batch, and a failing row inside a batch; lines sent
// as arrays (TDBArrayInsert).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/uDBBatchInsert.h"
#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "support/pgtest.h"

namespace tamrix::db {
namespace {

using diagnostics::EDatabaseError;

TEST(BatchLimitsTest, RowsPerStatementStayWithinEveryLimit) {
  struct Case {
    TDBEngine engine;
    std::size_t columns, requested, rows;
  };
  const Case cases[] = {
      {TDBEngine::SQLServer, 8, 0, 250},   // the sales-file rows: 2000 markers
      {TDBEngine::SQLServer, 1, 0, 1000},  // capped by the VALUES list
      {TDBEngine::SQLServer, 2500, 0, 1},  // wider than the limit: one row per statement
      {TDBEngine::PostgreSQL, 8, 0, 124},  // psqlODBC: below marker 1000
      {TDBEngine::PostgreSQL, 1, 0, 999},  //
      {TDBEngine::PostgreSQL, 8, 7, 7},    // a requested size lowers it
      {TDBEngine::PostgreSQL, 0, 0, 1},    // DEFAULT VALUES goes alone
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BatchRows(BatchLimitsFor(c.engine), c.columns, c.requested), c.rows)
        << c.columns << " columns";
  }
  // SQL Server refuses more than 2100 parameters in one request, psqlODBC fails from 1000.
  for (std::size_t cols = 1; cols <= 2100; ++cols)
    ASSERT_LE(BatchRows(BatchLimitsFor(TDBEngine::SQLServer), cols) * cols, 2100u) << cols;
  for (std::size_t cols = 1; cols <= 999; ++cols)
    ASSERT_LE(BatchRows(BatchLimitsFor(TDBEngine::PostgreSQL), cols) * cols, 999u) << cols;
}

TEST(BatchLimitsTest, StatementText) {
  EXPECT_EQ(BatchInsertSql("t", {"a", "b"}, 3),
            "INSERT INTO t (a, b) VALUES (?, ?), (?, ?), (?, ?)");
  EXPECT_EQ(BatchInsertSql("t", {}, 1), "INSERT INTO t DEFAULT VALUES");
}

const char* const kSqlTabelaArquivo =
    "SELECT cnpj_cpf,\r\n       dt_movimento,\r\n       tp_arquivo,\r\n       nr_ordem,\r\n"
    "       linha,\r\n       processado,\r\n       dt_arquivo,\r\n       arquivo,\r\n"
    "       arquivo_xml\r\n  FROM Pos_Arquivo\r\n WHERE 1 = 2";

struct TFalha {
  int row;
  std::string message;
};

// Lines the database refuses (once kRecusarZero has run), and a word its error carries.
struct TLinhaRecusada {
  const char* what;
  std::string linha;
  std::string inMessage;
};
constexpr const char* kRecusarZero =
    "ALTER TABLE Pos_Arquivo ADD CONSTRAINT lote_sem_zero CHECK (linha <> '|zero|')";
std::vector<TLinhaRecusada> LinhasRecusadas() {
  return {{"value too long", "|" + std::string(4000, 'y') + "|", "4000"},
          {"CHECK", "|zero|", "lote_sem_zero"}};
}

class LoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    db_ = std::make_unique<pgtest::TPgScratchDatabase>(pgtest::Env()->tenant1Template);
    pgtest::Configure(conn_, db_->Name());
    conn_.Open();
    // Counts the INSERT statements that reach the table, to see the rows travel in batches.
    Exec("CREATE TABLE lote_comandos (n integer NOT NULL)");
    Exec("INSERT INTO lote_comandos VALUES (0)");
    Exec(
        "CREATE FUNCTION lote_conta() RETURNS trigger LANGUAGE plpgsql AS "
        "'BEGIN UPDATE lote_comandos SET n = n + 1; RETURN NULL; END'");
    Exec(
        "CREATE TRIGGER lote_conta AFTER INSERT ON Pos_Arquivo FOR EACH STATEMENT "
        "EXECUTE FUNCTION lote_conta()");
    q_.SetConnection(&conn_);
    q_.SetCachedUpdates(true);
    q_.SetSQL(kSqlTabelaArquivo);
    q_.Open();
    q_.SetOnUpdateError(
        [this](TDBDataSet&, const EDatabaseError& e, int row, TDBUpdateRequest, TDBErrorAction&) {
          falhas_.push_back({row, e.Message()});
        });
  }
  void TearDown() override {
    q_.Close();
    conn_.Close();
  }

  void Exec(const std::string& sql) {
    TDBQuery q(&conn_);
    q.SetSQL(sql);
    q.ExecSQL();
  }
  std::string Text(const std::string& sql) {
    TDBQuery q(&conn_);
    q.SetSQL(sql);
    q.Open();
    return q.Eof() ? std::string() : q.Fields(0).AsString();
  }
  int Count() { return std::stoi(Text("SELECT COUNT(*) FROM Pos_Arquivo")); }
  int Statements() { return std::stoi(Text("SELECT n FROM lote_comandos")); }

  // Appends a sales-file row numbered `ordem`, with `linha` as its line.
  void Linha(int ordem, const std::string& linha) {
    q_.Append();
    q_.FieldByName("cnpj_cpf").SetAsString("11222333000181");
    q_.FieldByName("dt_movimento").SetAsDateTime(TDBTimeStamp{2016, 10, 9});
    q_.FieldByName("tp_arquivo").SetAsString("V");
    q_.FieldByName("nr_ordem").SetAsInteger(ordem);
    q_.FieldByName("linha").SetAsString(linha);
    q_.FieldByName("processado").SetAsString("N");
    q_.FieldByName("dt_arquivo").SetAsDateTime(TDBTimeStamp{2016, 10, 10, 8, 30, 15, 250000000});
    q_.FieldByName("arquivo").SetAsString("VENDAS.TXT");
    q_.Post();
  }
  void Linhas(int n) {
    for (int i = 1; i <= n; ++i) Linha(i, "|V|" + std::to_string(i) + "|");
  }
  // nr_ordem of the stored rows in the order they reached the table.
  std::vector<int> Ordem() {
    TDBQuery q(&conn_);
    q.SetSQL("SELECT nr_ordem FROM Pos_Arquivo ORDER BY id_pos_arquivo");
    q.Open();
    std::vector<int> v;
    for (; !q.Eof(); q.Next()) v.push_back(q.Fields(0).AsInteger());
    return v;
  }
  static std::vector<int> UmAte(int n, int menos1 = 0, int menos2 = 0) {
    std::vector<int> v;
    for (int i = 1; i <= n; ++i)
      if (i != menos1 && i != menos2) v.push_back(i);
    return v;
  }

  const int porLote_ = static_cast<int>(BatchRows(BatchLimitsFor(TDBEngine::PostgreSQL), 8));
  std::unique_ptr<pgtest::TPgScratchDatabase> db_;
  TDBConnection conn_;
  TDBQuery q_;
  std::vector<TFalha> falhas_;
};

TEST_F(LoteTest, RowsKeepCacheOrderAcrossBatches) {
  struct Case {
    int rows, statements;
  };
  const Case cases[] = {{1, 1}, {porLote_, 1}, {porLote_ * 2 + porLote_ / 2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    Exec("DELETE FROM Pos_Arquivo");
    Exec("UPDATE lote_comandos SET n = 0");
    Linhas(c.rows);
    conn_.StartTransaction();
    EXPECT_EQ(q_.ApplyUpdates(0), 0);
    conn_.Commit();
    EXPECT_EQ(q_.UpdatesPending(), 0);
    EXPECT_EQ(Ordem(), UmAte(c.rows));
    EXPECT_EQ(Statements(), c.statements);
    EXPECT_EQ(q_.ApplyUpdates(0), 0);  // applied rows are not sent again
    EXPECT_EQ(Count(), c.rows);
  }
  EXPECT_TRUE(falhas_.empty());
}

TEST_F(LoteTest, EveryColumnTypeAndNullsInOneBatch) {
  const std::string longa = "|" + std::string(3998, 'x') + "|";
  const std::string acentos = "|São João d'Ávila;\"ç\"|?|:p|";
  Linha(1, longa);
  Linha(2, acentos);
  for (int i = 3; i <= 5; ++i) {
    Linha(i, "|" + std::to_string(i) + "|");
  }
  // Rows 6 and 7 also assign arquivo_xml (a null, a text): a batch of their own shape.
  conn_.StartTransaction();
  q_.Append();
  q_.FieldByName("cnpj_cpf").SetAsString("98765432000198");
  q_.FieldByName("dt_movimento").SetAsDateTime(TDBTimeStamp{2024, 2, 29});
  q_.FieldByName("tp_arquivo").SetAsString("V");
  q_.FieldByName("nr_ordem").SetAsInteger(6);
  q_.FieldByName("linha").SetAsString("|6|");
  q_.FieldByName("processado").SetAsString("S");
  q_.FieldByName("dt_arquivo").SetAsDateTime(TDBTimeStamp{2024, 2, 29, 23, 59, 59, 999000000});
  q_.FieldByName("arquivo").SetAsString("OUTRO.TXT");
  q_.FieldByName("arquivo_xml").Clear();
  q_.Post();
  q_.Append();
  q_.FieldByName("cnpj_cpf").SetAsString("98765432000198");
  q_.FieldByName("dt_movimento").SetAsDateTime(TDBTimeStamp{2024, 2, 29});
  q_.FieldByName("tp_arquivo").SetAsString("V");
  q_.FieldByName("nr_ordem").SetAsInteger(7);
  q_.FieldByName("linha").SetAsString("|7|");
  q_.FieldByName("processado").SetAsString("S");
  q_.FieldByName("dt_arquivo").SetAsDateTime(TDBTimeStamp{2024, 2, 29, 0, 0, 0, 1000000});
  q_.FieldByName("arquivo").SetAsString("OUTRO.TXT");
  q_.FieldByName("arquivo_xml").SetAsString("<xml a=\"1\">ã</xml>");
  q_.Post();
  Linha(8, "|8|");  // back to the first shape: a third statement
  EXPECT_EQ(q_.ApplyUpdates(0), 0);
  conn_.Commit();
  EXPECT_EQ(Statements(), 3);
  EXPECT_EQ(Ordem(), UmAte(8));

  TDBQuery c(&conn_);
  c.SetSQL(
      "SELECT cnpj_cpf, dt_movimento, tp_arquivo, nr_ordem, linha, processado, dt_arquivo, "
      "arquivo, arquivo_xml FROM Pos_Arquivo ORDER BY nr_ordem");
  c.Open();
  EXPECT_EQ(c.FieldByName("linha").AsString(), longa);
  EXPECT_EQ(c.FieldByName("cnpj_cpf").AsString(), "11222333000181");
  EXPECT_EQ(c.FieldByName("dt_movimento").AsDateTime(), (TDBTimeStamp{2016, 10, 9}));
  EXPECT_EQ(c.FieldByName("dt_arquivo").AsDateTime(),
            (TDBTimeStamp{2016, 10, 10, 8, 30, 15, 250000000}));
  EXPECT_EQ(c.FieldByName("tp_arquivo").AsString(), "V");
  EXPECT_EQ(c.FieldByName("arquivo").AsString(), "VENDAS.TXT");
  EXPECT_TRUE(c.FieldByName("arquivo_xml").IsNull());  // not assigned: the default
  c.Next();
  EXPECT_EQ(c.FieldByName("linha").AsString(), acentos);
  for (int i = 3; i <= 6; ++i) c.Next();
  EXPECT_EQ(c.FieldByName("nr_ordem").AsInteger(), 6);
  EXPECT_EQ(c.FieldByName("processado").AsString(), "S");
  EXPECT_EQ(c.FieldByName("dt_movimento").AsDateTime(), (TDBTimeStamp{2024, 2, 29}));
  EXPECT_EQ(c.FieldByName("dt_arquivo").AsDateTime(),
            (TDBTimeStamp{2024, 2, 29, 23, 59, 59, 999000000}));
  EXPECT_TRUE(c.FieldByName("arquivo_xml").IsNull());
  c.Next();
  EXPECT_EQ(c.FieldByName("dt_arquivo").AsDateTime(),
            (TDBTimeStamp{2024, 2, 29, 0, 0, 0, 1000000}));
  EXPECT_EQ(c.FieldByName("arquivo_xml").AsString(), "<xml a=\"1\">ã</xml>");
  c.Next();
  EXPECT_EQ(c.FieldByName("nr_ordem").AsInteger(), 8);
  EXPECT_TRUE(falhas_.empty());
}

// A row the database refuses in the middle of the second batch: the handler hears once, of
// that row and its own error; the apply stops; the caller's rollback leaves nothing.
TEST_F(LoteTest, FailingRowInSecondBatchStopsTheApply) {
  Exec(kRecusarZero);
  const auto cases = LinhasRecusadas();
  const int total = porLote_ * 2 + porLote_ / 2;
  const int ruim = porLote_ + porLote_ / 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    falhas_.clear();
    q_.Close();  // row positions count from 1 again
    q_.Open();
    for (int i = 1; i <= total; ++i) Linha(i, i == ruim ? c.linha : "|" + std::to_string(i) + "|");
    conn_.StartTransaction();
    EXPECT_EQ(q_.ApplyUpdates(0), 1);
    ASSERT_EQ(falhas_.size(), 1u);
    EXPECT_EQ(falhas_[0].row, ruim);
    EXPECT_NE(falhas_[0].message.find(c.inMessage), std::string::npos) << falhas_[0].message;
    EXPECT_EQ(q_.UpdatesPending(), total - ruim + 1);  // the failed row and those after it
    conn_.Rollback();
    EXPECT_EQ(Count(), 0);
  }
}

// Without a limit on errors every good row of a refused batch still goes in, in order, and
// each bad row is reported on its own.
TEST_F(LoteTest, UnlimitedErrorsApplyTheGoodRowsOfARefusedBatch) {
  const int total = porLote_ * 2 + porLote_ / 2;
  const int ruim1 = porLote_ + 10, ruim2 = porLote_ * 2 - 1;
  for (int i = 1; i <= total; ++i) {
    if (i == ruim1 || i == ruim2) {
      q_.Append();
      q_.FieldByName("nr_ordem").SetAsInteger(i);  // the other NOT NULL columns left out
      q_.FieldByName("linha").Clear();
      q_.FieldByName("cnpj_cpf").SetAsString("1");
      q_.FieldByName("dt_movimento").SetAsDateTime(TDBTimeStamp{2016, 10, 9});
      q_.FieldByName("tp_arquivo").SetAsString("V");
      q_.FieldByName("processado").SetAsString("N");
      q_.FieldByName("dt_arquivo").SetAsDateTime(TDBTimeStamp{2016, 10, 9});
      q_.FieldByName("arquivo").SetAsString("VENDAS.TXT");
      q_.Post();
    } else {
      Linha(i, "|" + std::to_string(i) + "|");
    }
  }
  conn_.StartTransaction();
  EXPECT_EQ(q_.ApplyUpdates(), 2);
  conn_.Commit();
  ASSERT_EQ(falhas_.size(), 2u);
  EXPECT_EQ(falhas_[0].row, ruim1);
  EXPECT_EQ(falhas_[1].row, ruim2);
  EXPECT_EQ(q_.UpdatesPending(), 2);
  EXPECT_EQ(Ordem(), UmAte(total, ruim1, ruim2));
}

// A batch the database refuses although each of its rows passes alone is still a failure.
TEST_F(LoteTest, BatchRefusedWhoseRowsPassAloneStillFails) {
  Exec(
      "CREATE FUNCTION lote_um_por_vez() RETURNS trigger LANGUAGE plpgsql AS "
      "'BEGIN IF (SELECT COUNT(*) FROM novos) > 1 THEN RAISE EXCEPTION ''lote recusado''; "
      "END IF; RETURN NULL; END'");
  Exec(
      "CREATE TRIGGER lote_um_por_vez AFTER INSERT ON Pos_Arquivo REFERENCING NEW TABLE AS "
      "novos FOR EACH STATEMENT EXECUTE FUNCTION lote_um_por_vez()");
  Linhas(5);
  conn_.StartTransaction();
  EXPECT_EQ(q_.ApplyUpdates(0), 1);
  ASSERT_EQ(falhas_.size(), 1u);
  EXPECT_EQ(falhas_[0].row, 1);
  EXPECT_NE(falhas_[0].message.find("lote recusado"), std::string::npos) << falhas_[0].message;
  conn_.Rollback();
  EXPECT_EQ(Count(), 0);
}

}  // namespace
}  // namespace tamrix::db

namespace tamrix::db {
namespace {

// Lines sent as arrays, blocks of a few rows: texts that an array literal must quote, order
// across blocks, the fixed columns with their declared types, and the refused row.
class ArrayInsertTest : public LoteTest {
 protected:
  std::unique_ptr<TDBArrayInsert> Novo(std::size_t linhas, std::size_t bytes = 1 << 20) {
    std::vector<TDBArrayInsert::TFixedColumn> fixas;
    const std::pair<const char*, TDBValue> valores[] = {
        {"cnpj_cpf", std::string("11222333000181")},
        {"dt_movimento", TDBTimeStamp{2016, 10, 9}},
        {"tp_arquivo", std::string("V")},
        {"processado", std::string("N")},
        {"dt_arquivo", TDBTimeStamp{2016, 10, 10, 8, 30, 15, 250000000}},
        {"arquivo", std::string("VENDAS.TXT")}};
    for (const auto& [nome, valor] : valores)
      fixas.push_back(
          {q_.Columns()[static_cast<std::size_t>(q_.FieldByName(nome).Index())], valor});
    return std::make_unique<TDBArrayInsert>(conn_, "Pos_Arquivo", std::move(fixas), "nr_ordem",
                                            "linha", linhas, bytes);
  }
  // The stored lines in the order they reached the table.
  std::vector<std::string> Textos() {
    TDBQuery q(&conn_);
    q.SetSQL("SELECT linha FROM Pos_Arquivo ORDER BY id_pos_arquivo");
    q.Open();
    std::vector<std::string> v;
    for (; !q.Eof(); q.Next()) v.push_back(q.Fields(0).AsString());
    return v;
  }
};

TEST_F(ArrayInsertTest, TextsOrderAndFixedColumnsAcrossBlocks) {
  ASSERT_TRUE(TDBArrayInsert::Supported(conn_.Profile().Engine()));
  const std::vector<std::string> textos = {"|V|1|",
                                           "\"aspas\" e \\barra\\ no fim\\",
                                           "{chaves},vírgula, NULL",
                                           "NULL",
                                           "",
                                           "São João d'Ávila ç 😀 \xF0\x9F\x98\x80",
                                           "  espaços  ",
                                           "|" + std::string(3998, 'x') + "|",
                                           "\\\"",
                                           "última"};
  struct Caso {
    std::size_t linhas, bytes;
    int comandos;
  };
  // Blocks closed by the row count, by the bytes held, and one block for everything.
  for (const Caso& c : {Caso{3, 1 << 20, 4}, Caso{100, 4000, 2}, Caso{10000, 1 << 20, 1}}) {
    SCOPED_TRACE(c.linhas);
    Exec("DELETE FROM Pos_Arquivo");
    Exec("UPDATE lote_comandos SET n = 0");
    auto lote = Novo(c.linhas, c.bytes);
    conn_.StartTransaction();
    for (std::size_t i = 0; i < textos.size(); ++i) {
      // The last text in pieces, as a caller adds the pipes around a line.
      if (i + 1 == textos.size())
        lote->Add(static_cast<std::int64_t>(i + 1), {"últ", "", "ima"});
      else
        lote->Add(static_cast<std::int64_t>(i + 1), {textos[i]});
    }
    lote->Flush();
    lote->Flush();  // nothing held: nothing sent
    conn_.Commit();
    EXPECT_EQ(lote->RowsSent(), textos.size());
    EXPECT_EQ(Textos(), textos);
    EXPECT_EQ(Ordem(), UmAte(static_cast<int>(textos.size())));
    EXPECT_EQ(Statements(), c.comandos);
  }
  TDBQuery q(&conn_);
  q.SetSQL(
      "SELECT count(*) FROM Pos_Arquivo WHERE cnpj_cpf = '11222333000181' AND dt_movimento = "
      "'2016-10-09' AND tp_arquivo = 'V' AND processado = 'N' AND dt_arquivo = "
      "'2016-10-10 08:30:15.25' AND arquivo = 'VENDAS.TXT' AND arquivo_xml IS NULL");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), static_cast<int>(textos.size()));
}

// A row refused in the second block: the error is that row's own and names it; the rows
// after it are never sent, and the rollback leaves nothing.
TEST_F(ArrayInsertTest, RefusedRowIsFoundInItsBlock) {
  Exec(kRecusarZero);
  const auto casos = LinhasRecusadas();
  for (const auto& c : casos) {
    SCOPED_TRACE(c.what);
    auto lote = Novo(10);
    conn_.StartTransaction();
    std::string mensagem;
    int enviadas = 0;
    try {
      for (int i = 1; i <= 30; ++i) {
        lote->Add(i, {i == 15 ? c.linha : "|" + std::to_string(i) + "|"});
        enviadas = i;
      }
      lote->Flush();
    } catch (const EDatabaseError& e) {
      mensagem = e.Message();
    }
    EXPECT_EQ(enviadas, 19);  // raised by the Add that closed the second block
    EXPECT_EQ(lote->FailedNumber(), 15);
    EXPECT_EQ(lote->RowsSent(), 10u);
    EXPECT_NE(mensagem.find(c.inMessage), std::string::npos) << mensagem;
    EXPECT_EQ(mensagem.find("current transaction is aborted"), std::string::npos) << mensagem;
    conn_.Rollback();
    EXPECT_EQ(Count(), 0);
  }
}

// A block the database refuses although each row passes alone: the block's error stands.
TEST_F(ArrayInsertTest, BlockRefusedWhoseRowsPassAloneStillFails) {
  Exec(
      "CREATE FUNCTION lote_um_por_vez() RETURNS trigger LANGUAGE plpgsql AS "
      "'BEGIN IF (SELECT COUNT(*) FROM novos) > 1 THEN RAISE EXCEPTION ''lote recusado''; "
      "END IF; RETURN NULL; END'");
  Exec(
      "CREATE TRIGGER lote_um_por_vez AFTER INSERT ON Pos_Arquivo REFERENCING NEW TABLE AS "
      "novos FOR EACH STATEMENT EXECUTE FUNCTION lote_um_por_vez()");
  auto lote = Novo(100);
  conn_.StartTransaction();
  for (int i = 1; i <= 5; ++i) lote->Add(i, {"|x|"});
  try {
    lote->Flush();
    ADD_FAILURE() << "block accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("lote recusado"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(lote->FailedNumber(), 1);
  EXPECT_EQ(lote->RowsSent(), 0u);
  conn_.Rollback();
  EXPECT_EQ(Count(), 0);
}

// The server drops the connection before a block goes: the error is the lost connection's,
// not a row's, and no row is sent again.
TEST_F(ArrayInsertTest, ConnectionDroppedBeforeTheBlock) {
  const std::string pid = Text("SELECT pg_backend_pid()");
  auto lote = Novo(100);
  conn_.StartTransaction();
  for (int i = 1; i <= 5; ++i) lote->Add(i, {"|x|"});
  pgtest::QueryText("postgres", "SELECT pg_terminate_backend(" + pid + ")");
  try {
    lote->Flush();
    ADD_FAILURE() << "block accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message().find("Não há conexão"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(lote->FailedNumber(), 1);
  EXPECT_FALSE(conn_.Connected());
}

}  // namespace
}  // namespace tamrix::db
