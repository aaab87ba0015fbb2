// Multi-row INSERT statements for cached rows: how many rows one statement may carry on an
// engine, and the statement text. A batch sends many rows in one round trip, bound as
// parameters like the single-row form.
#ifndef TAMRIX_DB_UDBBATCHINSERT_H
#define TAMRIX_DB_UDBBATCHINSERT_H

#include <cstddef>
#include <string>
#include <vector>

#include "db/uDBDriverProfile.h"

namespace tamrix::db {

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

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBBATCHINSERT_H
