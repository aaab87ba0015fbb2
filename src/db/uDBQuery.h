// A query: SQL text with named parameters (":name"), run as a cursor (Open) or as a
// statement without rows (ExecSQL), with cached inserts applied by ApplyUpdates.
#ifndef TAMRIX_DB_UDBQUERY_H
#define TAMRIX_DB_UDBQUERY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "db/uDBDataSet.h"
#include "db/uDBParam.h"
#include "db/uDBSqlParser.h"

namespace tamrix::db {

class TDBQuery : public TDBDataSet {
 public:
  TDBQuery() = default;
  explicit TDBQuery(TDBConnection* connection) { SetConnection(connection); }

  // Replaces the SQL text; closes the query and rebuilds the parameter list from the text
  // (every parameter starts unbound).
  void SetSQL(std::string sql);
  const std::string& SQL() const { return sql_; }

  // One parameter per distinct name, in order of first appearance; a name written several
  // times in the text is bound once.
  TDBParams& Params() { return params_; }
  TDBParam& ParamByName(std::string_view name) { return params_.ParamByName(name); }

  // Runs a statement that returns no rows (every result is consumed, so late errors
  // surface). Raises EDatabaseError for an unbound parameter or a missing connection,
  // EDBEngineException for what the database refuses.
  void ExecSQL();
  // Rows the last ExecSQL affected (-1 when unknown).
  std::int64_t RowsAffected() const { return rowsAffected_; }

  // Applies the cached rows (Append/Post) in order into the table the SQL reads from (or
  // SetUpdateTableName), as parameterised multi-row INSERTs: consecutive rows that assign
  // the same columns share a statement, as many as the engine's limits allow. A failing row
  // goes to the update-error handler with its own error and position (a refused batch is
  // retried row by row to find it); the apply stops once the errors exceed maxErrors (0: at
  // the first; negative: never). Returns the number of failed rows. Runs in the caller's
  // transaction and never commits or rolls back.
  int ApplyUpdates(int maxErrors = -1) { return ApplyCachedRows(maxErrors, batchRows_); }
  void SetUpdateTableName(std::string table) { updateTable_ = std::move(table); }
  // Most rows per INSERT (0, the default: as many as the engine allows; 1: one per row).
  void SetUpdateBatchRows(std::size_t rows) { batchRows_ = rows; }

 protected:
  void Execute(odbc::TStatement& stmt) override;
  std::string UpdateTableName() const override;
  const char* ClassName() const override { return "TDBQuery"; }

 private:
  std::string sql_;
  TDBParsedSql parsed_;
  TDBParams params_;
  std::string updateTable_;
  std::int64_t rowsAffected_ = -1;
  std::size_t batchRows_ = 0;
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBQUERY_H
