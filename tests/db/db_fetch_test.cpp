// Reading results against the test PostgreSQL: rows arrive in blocks (a row array over a
// cursor of the server), so values, order and NULLs must survive block and fetch boundaries,
// and a cursor left open must not change what other statements of the connection do.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "support/pgtest.h"

namespace tamrix::db {
namespace {

using diagnostics::EDBEngineException;

// More rows than one block of bound columns and than one FETCH of the server's cursor.
constexpr int kLinhas = 2600;

// Days from 1970-01-01 to the date of t (proleptic Gregorian).
int Dias(const TDBTimeStamp& t) {
  const int y = t.year - (t.month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    db_ = std::make_unique<pgtest::TPgScratchDatabase>(pgtest::Env()->tenant1Template);
    pgtest::Configure(conn_, db_->Name());
    conn_.Open();
  }
  void Exec(TDBConnection& c, const std::string& sql) {
    TDBQuery q(&c);
    q.SetSQL(sql);
    q.ExecSQL();
  }
  // Counted on a connection of its own: what other sessions see, i.e. what was committed.
  std::int64_t CountElsewhere(const std::string& sql) {
    TDBConnection c;
    pgtest::Configure(c, db_->Name());
    c.Open();
    TDBQuery q(&c);
    q.SetSQL(sql);
    q.Open();
    return q.Fields(0).AsLargeInt();
  }
  // A streaming query over 1..kLinhas, opened on its first row.
  std::unique_ptr<TDBQuery> Series() {
    auto q = std::make_unique<TDBQuery>(&conn_);
    q->SetSQL("SELECT g FROM generate_series(1, " + std::to_string(kLinhas) + ") g ORDER BY g");
    q->Open();
    return q;
  }
  // Reads the query to its end, checking that its rows continue from `next`.
  void ReadOn(TDBQuery& q, int next) {
    for (; !q.Eof(); q.Next()) ASSERT_EQ(q.Fields(0).AsInteger(), next++);
    EXPECT_EQ(next, kLinhas + 1);
  }
  std::unique_ptr<pgtest::TPgScratchDatabase> db_;
  TDBConnection conn_;
};

// Every column type in rows that cross block boundaries: the values of each row are its own,
// NULLs stay NULL and text keeps characters beyond U+FFFF, fixed-length text loses its
// padding. A bytea column (no size known) makes the whole query read cell by cell: the values
// are the same.
TEST_F(FetchTest, ValuesOfEveryTypeSurviveBlockBoundaries) {
  for (const bool comBytea : {false, true}) {
    SCOPED_TRACE(comBytea ? "cell by cell" : "in blocks");
    TDBQuery q(&conn_);
    q.SetSQL(
        "SELECT g, (g % 2 = 0) AS par, CASE WHEN g % 11 <> 0 THEN g * 1.5::float8 END AS f,\r\n"
        "       (g || '.25')::numeric(12,2) AS n, date '2024-01-01' + g AS d,\r\n"
        "       time '10:00:00' + g * interval '1 second' AS h,\r\n"
        "       timestamp '2024-01-01 00:00:00.125' + g * interval '1 minute' AS ts,\r\n"
        "       CASE WHEN g % 7 = 0 THEN NULL ELSE ('Ação😀 ' || g)::varchar(40) END AS vc,\r\n"
        "       (g % 10)::char(3) AS c" +
        std::string(comBytea ? ", decode(lpad(to_hex(g), 4, '0'), 'hex') AS b" : "") +
        "\r\n  FROM generate_series(1, :n) g ORDER BY g");
    q.ParamByName("n").SetAsInteger(kLinhas);
    int g = 0;
    for (q.Open(); !q.Eof(); q.Next()) {
      ++g;
      ASSERT_EQ(q.Fields(0).AsInteger(), g);
      EXPECT_EQ(q.Fields(1).AsBoolean(), g % 2 == 0);
      if (g % 11 == 0)
        EXPECT_TRUE(IsNullValue(q.Fields(2).Value()));
      else
        EXPECT_DOUBLE_EQ(q.Fields(2).AsFloat(), g * 1.5);
      EXPECT_EQ(q.Fields(3).AsString(), std::to_string(g) + ".25");
      EXPECT_EQ(Dias(q.Fields(4).AsDateTime()) - Dias({2024, 1, 1}), g);
      const TDBTimeStamp h = q.Fields(5).AsDateTime();
      EXPECT_EQ((h.hour - 10) * 3600 + h.minute * 60 + h.second, g);
      const TDBTimeStamp ts = q.Fields(6).AsDateTime();
      EXPECT_EQ(ts.hour * 60 + ts.minute, g % 1440);
      EXPECT_EQ(ts.nanos, 125000000u);
      if (g % 7 == 0)
        EXPECT_TRUE(IsNullValue(q.Fields(7).Value()));
      else
        EXPECT_EQ(q.Fields(7).AsString(), "Ação😀 " + std::to_string(g));
      EXPECT_EQ(q.Fields(8).AsString(), std::to_string(g % 10));
      if (comBytea) {
        const std::string b = q.Fields(9).AsString();
        ASSERT_EQ(b.size(), 2u);
        EXPECT_EQ((static_cast<unsigned char>(b[0]) << 8) | static_cast<unsigned char>(b[1]), g);
      }
    }
    EXPECT_EQ(g, kLinhas);
  }
}

// Text longer than the size the driver reports for its column (psqlODBC reports a fixed
// size for text of unknown length) arrives whole, next to short values in the same block.
TEST_F(FetchTest, TextLongerThanItsReportedSizeArrivesWhole) {
  TDBQuery q(&conn_);
  q.SetSQL(
      "SELECT g, CASE WHEN g % 100 = 0 THEN repeat('é😀x', 6000) ELSE 'curto ' || g END AS t,\r\n"
      "       CAST(repeat('a', g % 600) AS varchar) AS v\r\n"
      "  FROM generate_series(1, 1000) g ORDER BY g");
  int g = 0;
  for (q.Open(); !q.Eof(); q.Next()) {
    ++g;
    std::string longo;
    for (int i = 0; i < 6000; ++i) longo += "é😀x";
    EXPECT_EQ(q.Fields(1).AsString(), g % 100 == 0 ? longo : "curto " + std::to_string(g));
    EXPECT_EQ(q.Fields(2).AsString(), std::string(static_cast<std::size_t>(g % 600), 'a'));
  }
  EXPECT_EQ(g, 1000);
}

// Outside a transaction a cursor left half read neither holds back nor joins what the other
// statements of its connection write, and survives their errors.
TEST_F(FetchTest, OpenCursorLeavesOtherStatementsAsTheyWere) {
  auto a = Series();
  for (int i = 0; i < 10; ++i) a->Next();
  Exec(conn_, "INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao) VALUES (60, 'X', 'C')");
  EXPECT_EQ(CountElsewhere("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 60"), 1);
  EXPECT_THROW(Exec(conn_, "SELECT 1 / 0"), EDBEngineException);
  auto b = Series();  // a second cursor on the same connection, read whole in between
  ReadOn(*b, 1);
  ReadOn(*a, 11);
  Exec(conn_, "INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao) VALUES (61, 'Y', 'C')");
  EXPECT_EQ(CountElsewhere("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 61"), 1);
}

// Inside a transaction the cursor sees the transaction's rows, a rollback undoes them, and a
// cursor still open at the commit can be read to its end.
TEST_F(FetchTest, CursorInsideATransaction) {
  conn_.StartTransaction();
  Exec(conn_, "INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao) VALUES (62, 'Z', 'C')");
  {
    TDBQuery q(&conn_);
    q.SetSQL("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 62");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsInteger(), 1);
  }
  conn_.Rollback();
  EXPECT_EQ(CountElsewhere("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 62"), 0);

  conn_.StartTransaction();
  auto a = Series();
  a->Next();
  Exec(conn_, "INSERT INTO Bandeira (cd_bandeira, descricao, tp_cartao) VALUES (63, 'W', 'C')");
  conn_.Commit();
  EXPECT_EQ(CountElsewhere("SELECT COUNT(*) FROM Bandeira WHERE cd_bandeira = 63"), 1);
  ReadOn(*a, 2);
}

}  // namespace
}  // namespace tamrix::db
