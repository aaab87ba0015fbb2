// Multi-row INSERT statements: how many rows one statement may carry on an engine, the
// statement text for cached rows, and TDBArrayInsert, which sends the lines of a text file
// thousands to a statement where the engine takes arrays.
#ifndef TAMRIX_DB_UDBBATCHINSERT_H
#define TAMRIX_DB_UDBBATCHINSERT_H

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "db/uDBDriverProfile.h"
#include "db/uDBField.h"
#include "db/uDBTypes.h"

namespace tamrix::db {

class TDBConnection;

// What one INSERT statement may carry on an engine.
struct TDBBatchLimits {
  std::size_t maxParams = 1;  // parameter markers per statement
  std::size_t maxRows = 1;    // rows per VALUES list
};

// SQL Server: 2100 parameters per request (the driver's own call takes a few of them) and
// 1000 rows per VALUES list. PostgreSQL through psqlODBC: 999 parameters per statement (the
// driver mishandles markers numbered 1000 and up).
TDBBatchLimits BatchLimitsFor(TDBEngine engine);

// Rows per statement for rows of `columns` bound columns: as many as both limits allow, at
// least 1. `requested` > 0 lowers it further (1: one statement per row).
std::size_t BatchRows(const TDBBatchLimits& limits, std::size_t columns, std::size_t requested = 0);

// "INSERT INTO table (c1, c2) VALUES (?, ?), (?, ?)" with `rows` rows of markers, or
// "INSERT INTO table DEFAULT VALUES" when no column is given (rows must then be 1).
std::string BatchInsertSql(const std::string& table, const std::vector<std::string>& columns,
                           std::size_t rows);

// Rows that differ only in a number and a text (the lines of a file), inserted in blocks:
// each block is one statement whose two parameters are arrays of all its numbers and texts,
// so the driver's per-marker work and the round trips no longer grow with the rows:
//   INSERT INTO t (fixed..., n, txt) SELECT ?..., a.n, a.t FROM unnest(?::bigint[], ?::text[])
// Rows reach the table in the order they were added. PostgreSQL only (Supported).
//
// The connection must stay open with the caller's transaction around every block: a refused
// block is sent again one row at a time to find the row at fault, so after a failure the
// transaction holds part of the rows and must be rolled back.
class TDBArrayInsert {
 public:
  // A column with the same value on every row; `column` as the table describes it (the
  // value is bound with its declared type, as cached rows are).
  struct TFixedColumn {
    TDBColumn column;
    TDBValue value;
  };

  // Whether the engine takes rows this way.
  static bool Supported(TDBEngine engine) { return engine == TDBEngine::PostgreSQL; }

  // Rows go to `table` with the fixed columns, the number in numberColumn and the text in
  // textColumn. A block is sent once it holds maxRows rows or maxBytes bytes of text.
  TDBArrayInsert(TDBConnection& connection, std::string table, std::vector<TFixedColumn> fixed,
                 std::string numberColumn, std::string textColumn, std::size_t maxRows = 10000,
                 std::size_t maxBytes = 1 << 20);

  // Adds a row whose text is the pieces joined; sends the block when it is full. Raises
  // what the database refuses (see Flush).
  void Add(std::int64_t number, std::initializer_list<std::string_view> text);
  // Sends the rows held. A refused block is sent again row by row: the error raised is that
  // of the first row refused alone (FailedNumber tells its number), or the block's own when
  // every row passes alone. Nothing is held afterwards, sent or not.
  void Flush();

  // Number of the row whose refusal the last failure raised; -1 when none was singled out.
  std::int64_t FailedNumber() const { return failedNumber_; }
  // Rows sent so far (in blocks the database accepted).
  std::size_t RowsSent() const { return rowsSent_; }

 private:
  // One statement with the held rows from `first` to `last` (exclusive, in row positions).
  void Send(std::size_t first, std::size_t last);

  TDBConnection& connection_;
  std::string sql_;
  std::vector<TFixedColumn> fixed_;
  std::size_t maxRows_;
  std::size_t maxBytes_;
  // The block: each row's text, already quoted for an array literal, one after another.
  std::string texts_;
  std::vector<std::size_t> ends_;  // end of each row's quoted text in texts_
  std::vector<std::int64_t> numbers_;
  std::int64_t failedNumber_ = -1;
  std::size_t rowsSent_ = 0;
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBBATCHINSERT_H
