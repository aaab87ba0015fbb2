// Internal to the db layer: one ODBC statement handle with its bound parameters, result
// description and row fetching. Every call must be made with the connection's lock held and
// the connection open.
#ifndef TAMRIX_DB_UDBSTATEMENT_H
#define TAMRIX_DB_UDBSTATEMENT_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <string>
#include <vector>

#include "db/uDBField.h"
#include "db/uDBParam.h"
#include "db/uDBTypes.h"

namespace tamrix::db {

class TDBConnection;

namespace odbc {

// What one parameter marker receives.
struct TBindSpec {
  const TDBValue* value = nullptr;
  TDBFieldType type = TDBFieldType::ftUnknown;     // how the caller bound it
  SQLSMALLINT declaredSqlType = SQL_UNKNOWN_TYPE;  // the database's type, when known
  SQLULEN declaredSize = 0;
  SQLSMALLINT declaredScale = 0;
  TDBParamType io = TDBParamType::ptInput;
  TDBParam* output = nullptr;  // receives the value of an output parameter
};

class TStatement {
 public:
  // Allocates a statement on the open connection that may run `timeout` seconds before it is
  // cancelled (0: no limit; negative: the connection's QueryTimeout). A statement cancelled
  // at its limit raises as TDBConnection::RaiseStatementError tells.
  explicit TStatement(TDBConnection& connection, int timeout = -1);
  ~TStatement();
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  // Binds the markers in order; the values must outlive Execute.
  void Bind(const std::vector<TBindSpec>& specs);
  // Runs the text with the bound markers.
  void Execute(const std::string& sql);
  // Moves to the first result that has columns (skipping row counts); false when none is
  // left.
  bool SeekResultSet();
  // Consumes every remaining result, so errors raised late by the server surface.
  void Drain();
  // Rows affected by the last statement (-1 when the driver does not know).
  SQLLEN RowCount();
  // Description of the current result's columns.
  std::vector<TDBColumn> DescribeColumns();
  // Fetches the next row into `row`; false at the end of the result. Where the profile
  // allows it and every column has a bounded size, rows come from the driver in blocks into
  // bound column buffers (a row array); otherwise each cell is read on its own.
  bool Fetch(const std::vector<TDBColumn>& columns, std::vector<TDBValue>& row);
  // Copies output parameter buffers into their parameters (after Drain).
  void StoreOutputs();
  // The procedure columns of `name` (SQLProcedureColumns), as parameters in order; input,
  // input-output and output parameters only. `found` tells whether SQLProcedures knows it.
  void ProcedureParams(const std::string& name, TDBParams& params, bool& found);

  SQLHSTMT Handle() const { return stmt_; }

 private:
  struct TBinding {
    std::vector<unsigned char> buffer;
    SQLLEN indicator = 0;
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT io = SQL_PARAM_INPUT;
    TDBParam* output = nullptr;
  };
  // The buffers of one result column in a block fetch: one cell of `width` bytes per row.
  struct TColumnBlock {
    SQLSMALLINT cType = SQL_C_CHAR;
    bool utf8 = false;  // text fetched as the UTF-8 bytes the server sent (SQL_C_BINARY)
    std::size_t width = 0;
    std::vector<unsigned char> data;
    std::vector<SQLLEN> indicators;
  };
  enum class TFetchMode { Undecided, Cells, Blocks };

  [[noreturn]] void Raise(const char* fallback) const;
  void Check(SQLRETURN rc, const char* fallback) const;
  TDBValue ReadColumn(SQLUSMALLINT index, const TDBColumn& column);
  static TBinding MakeBinding(const TBindSpec& spec);
  // Binds the columns to a row array; false (nothing bound) when they must be read cell by
  // cell.
  bool StartBlocks(const std::vector<TDBColumn>& columns);
  // Whether result column `index` is text in the server's own types (psqlODBC reports some
  // other types, booleans among them, as text, and refuses them as bytes).
  bool ServerTextType(std::size_t index);
  // Unbinds the row array, so the next result starts undecided.
  void EndBlocks();
  // Stores the value of column `index` in the current row of the block.
  void BlockValue(std::size_t index, const TDBColumn& column, TDBValue& value);

  TDBConnection& connection_;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  int timeout_ = 0;  // seconds the driver was given (0: none)
  std::vector<TBinding> bindings_;
  TFetchMode mode_ = TFetchMode::Undecided;
  std::vector<TColumnBlock> blocks_;
  std::vector<SQLUSMALLINT> rowStatus_;
  SQLULEN blockRows_ = 0;  // rows the last block fetch brought
  SQLULEN blockPos_ = 0;   // row of the block handed over next
};

}  // namespace odbc
}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBSTATEMENT_H
