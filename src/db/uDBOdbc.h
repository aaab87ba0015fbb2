// Internal helpers of the db layer over the ODBC C API: text conversion for the wide (UTF-16)
// calls and the reading of diagnostic records. Not for use outside src/db.
#ifndef TAMRIX_DB_UDBODBC_H
#define TAMRIX_DB_UDBODBC_H

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>
#include <vector>

namespace tamrix::db::odbc {

using WString = std::basic_string<SQLWCHAR>;

// UTF-8 to the driver manager's UTF-16; invalid bytes become U+FFFD.
WString ToWide(std::string_view utf8);
// UTF-16 (n units, or up to the terminator when n is SQL_NTS) to UTF-8; lone surrogates
// become U+FFFD.
std::string FromWide(const SQLWCHAR* text, SQLLEN n = SQL_NTS);

// One diagnostic record of a handle.
struct TDiagRecord {
  std::string state;  // SQLSTATE, five characters
  long native = 0;    // the driver's or server's error number
  std::string text;   // message as the driver gives it, with its bracketed tags
};

// Every diagnostic record of the handle, in order.
std::vector<TDiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

}  // namespace tamrix::db::odbc

#endif  // TAMRIX_DB_UDBODBC_H
