#include "db/uDBBatchInsert.h"

#include <algorithm>

namespace tamrix::db {

TDBBatchLimits BatchLimitsFor(TDBEngine engine) {
  switch (engine) {
    case TDBEngine::SQLServer:
      return {2000, 1000};
    case TDBEngine::PostgreSQL:
      // psqlODBC breaks the type cast it writes after markers numbered 1000 and up
      // ("type \"timestam\" does not exist" for a timestamp column), so stay below them.
      return {999, 1000};
  }
  return {1, 1};
}

std::size_t BatchRows(const TDBBatchLimits& limits, std::size_t columns, std::size_t requested) {
  std::size_t rows = columns == 0 ? 1 : std::min(limits.maxRows, limits.maxParams / columns);
  if (requested > 0) rows = std::min(rows, requested);
  return std::max<std::size_t>(rows, 1);
}

std::string BatchInsertSql(const std::string& table, const std::vector<std::string>& columns,
                           std::size_t rows) {
  if (columns.empty()) return "INSERT INTO " + table + " DEFAULT VALUES";
  std::string sql = "INSERT INTO " + table + " (";
  std::string marks = "(";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) {
      sql += ", ";
      marks += ", ";
    }
    sql += columns[i];
    marks += "?";
  }
  marks += ")";
  sql += ") VALUES ";
  sql.reserve(sql.size() + rows * (marks.size() + 2));
  for (std::size_t r = 0; r < rows; ++r) {
    if (r > 0) sql += ", ";
    sql += marks;
  }
  return sql;
}

}  // namespace tamrix::db
