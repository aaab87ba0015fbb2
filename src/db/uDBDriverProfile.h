// What differs between the ODBC drivers the server can use: how the connection parameters
// become a connection string, how a driver's diagnostics map to the engine error kinds, how a
// procedure name is looked up, and the few SQL texts that differ per engine.
//
// Two profiles: SQL Server through FreeTDS (also fits other SQL Server drivers that take the
// same keywords) and PostgreSQL through psqlODBC.
#ifndef TAMRIX_DB_UDBDRIVERPROFILE_H
#define TAMRIX_DB_UDBDRIVERPROFILE_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "db/uDBConnectionParams.h"
#include "db/uDBOdbc.h"
#include "diagnostics/uExcecoes.h"

namespace tamrix::db {

enum class TDBEngine { SQLServer, PostgreSQL };

// SQL texts that are not the same on every engine.
enum class TDBEngineText {
  SPID,            // one row, one integer column SPID: the server's id of this session
  ColumnMetadata,  // money and decimal columns: tabname, name, prec, scale, type ('M'/'D')
  EventosDoDia,    // today's rows of EventosServRest, oldest first
  ResetSession,    // clears what a previous user of a pooled connection left in the session
  // The parameters of a procedure, in the columns and order of SQLProcedureColumns, from
  // three markers (name as the catalog holds it, schema or '', the schema again); at least
  // one row when the procedure exists. Empty where the driver's catalog function serves.
  ProcedureParams,
  // Rolls back a transaction a cancelled statement may have left open while the connection
  // is in autocommit (a procedure's own); empty where the engine leaves none.
  RollbackLeftOpen,
};

// The pieces of a "SERVER" value: "host", "host\instance", "host,port", "host\instance,port".
struct TDBServerAddress {
  std::string host;
  std::string instance;
  std::string port;  // empty when not written
};

class TDBDriverProfile {
 public:
  virtual ~TDBDriverProfile() = default;

  // The profile for a parameter list: "Driver" names the ODBC driver (a name in
  // odbcinst.ini); a name with "postgres" or "psql" in it, or DriverID "PG", selects
  // PostgreSQL, anything else SQL Server. Without "Driver" the driver is "FreeTDS" (or
  // "PostgreSQL" for DriverID "PG").
  static const TDBDriverProfile& For(const TDBConnectionParams& params);

  virtual TDBEngine Engine() const = 0;
  // Name of the profile for messages ("SQL Server (FreeTDS)", "PostgreSQL (psqlODBC)").
  virtual const char* Name() const = 0;

  // The ODBC connection string for the parameters; every value is braced when it holds
  // ";", "{", "}" or "=", or starts or ends with a blank, so no value can add keywords.
  virtual std::string ConnectionString(const TDBConnectionParams& params) const = 0;

  // The engine error kind of a failure reported with these diagnostic records, and the index
  // of the record that decided it (the first record when the kind is ekOther).
  virtual diagnostics::TDBErrorKind Classify(const std::vector<odbc::TDiagRecord>& records,
                                             std::size_t& deciding) const = 0;

  // The statement that gives every later statement of the session `seconds` to run (0: no
  // limit), where the driver's own SQL_ATTR_QUERY_TIMEOUT does not cover a whole statement;
  // empty where it does.
  virtual std::string SessionTimeoutSql(int seconds) const = 0;

  // Whether a statement failed with these diagnostic records because the engine or the
  // driver cancelled it at its time limit (SQL_ATTR_QUERY_TIMEOUT).
  virtual bool TimedOut(const std::vector<odbc::TDiagRecord>& records) const = 0;

  // The name to give SQLProcedureColumns for a procedure as the server's code writes it.
  virtual std::string CatalogProcedureName(std::string_view name) const = 0;

  // Most rows one fetch brings into the statement's bound column buffers (a row array);
  // 1 reads every cell on its own with SQLGetData.
  virtual std::size_t FetchBlockRows() const = 0;

  // One of the per-engine SQL texts, lines joined by CR LF.
  virtual std::string Text(TDBEngineText which) const = 0;

  // Splits a "SERVER" value as SQL Server writes it.
  static TDBServerAddress ParseServer(std::string_view server);
  // "key=value;" with the value braced when needed.
  static std::string Attribute(std::string_view key, std::string_view value);
  // Name of the ODBC driver the parameters ask for (see For).
  static std::string DriverName(const TDBConnectionParams& params);
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBDRIVERPROFILE_H
