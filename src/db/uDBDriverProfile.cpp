#include "db/uDBDriverProfile.h"

#include <algorithm>

#include "util/uCaixaTexto.h"

namespace tamrix::db {

using diagnostics::TDBErrorKind;

namespace {

bool Contains(const std::string& lowered, std::string_view fragment) {
  return lowered.find(fragment) != std::string::npos;
}

bool IsYes(std::string_view v) {
  const std::string l = util::MinusculasASCII(v);
  return l == "yes" || l == "true" || l == "1" || l == "on";
}

std::string Join(std::initializer_list<const char*> lines) {
  std::string out;
  for (const char* l : lines) {
    if (!out.empty()) out += "\r\n";
    out += l;
  }
  return out;
}

std::string PortOf(const TDBServerAddress& address, const TDBConnectionParams& p) {
  return address.port.empty() ? p.Value(params::kPorta) : address.port;
}

class TSqlServerProfile final : public TDBDriverProfile {
 public:
  TDBEngine Engine() const override { return TDBEngine::SQLServer; }
  const char* Name() const override { return "SQL Server (FreeTDS)"; }
  // Cell by cell, as before row arrays: FreeTDS takes them too, but they are untested here.
  std::size_t FetchBlockRows() const override { return 1; }

  std::string ConnectionString(const TDBConnectionParams& p) const override {
    const TDBServerAddress a = ParseServer(p.Value(params::kServer));
    std::string server = a.host;
    if (!a.instance.empty()) server += "\\" + a.instance;
    std::string cs = "Driver={" + DriverName(p) + "};";
    cs += Attribute("Server", server);
    const std::string port = PortOf(a, p);
    if (!port.empty()) cs += Attribute("Port", port);
    cs += Attribute("Database", p.Value(params::kDatabase));
    cs += Attribute("UID", p.Value(params::kUserName));
    cs += Attribute("PWD", p.Value(params::kPassword));
    if (p.Has(params::kApplicationName)) cs += Attribute("APP", p.Value(params::kApplicationName));
    if (p.Has(params::kWorkstation)) cs += Attribute("WSID", p.Value(params::kWorkstation));
    if (IsYes(p.Value(params::kMARS))) cs += Attribute("MARS_Connection", "Yes");
    cs += Attribute("ClientCharset", "UTF-8");
    // With the version left to "auto", FreeTDS tries TDS 5.0 (Sybase) after a 7.4 login
    // that timed out, and that second attempt ignores the login timeout: against a server
    // that accepts and never answers it waited minutes instead of the seconds asked. Every
    // SQL Server answers a 7.4 login with its own version.
    cs += Attribute("TDS_Version", "7.4");
    return cs;
  }

  // FreeTDS keeps the clock itself and cancels the batch (attention) at the limit.
  std::string SessionTimeoutSql(int) const override { return {}; }

  // FreeTDS reports a statement it cancelled at its time limit as "Timeout expired".
  bool TimedOut(const std::vector<odbc::TDiagRecord>& records) const override {
    return std::any_of(records.begin(), records.end(),
                       [](const odbc::TDiagRecord& r) { return r.state == "HYT00"; });
  }

  TDBErrorKind Classify(const std::vector<odbc::TDiagRecord>& records,
                        std::size_t& deciding) const override {
    deciding = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].state.rfind("28", 0) == 0 || records[i].native == 18456) {
        deciding = i;
        return diagnostics::ekUserPwdInvalid;
      }
    }
    static const char* kGone[] = {"08S01", "08004", "HYT00", "08001"};
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (std::find(std::begin(kGone), std::end(kGone), records[i].state) != std::end(kGone)) {
        deciding = i;
        return diagnostics::ekServerGone;
      }
    }
    return diagnostics::ekOther;
  }

  std::string CatalogProcedureName(std::string_view name) const override {
    return std::string(name);
  }

  std::string Text(TDBEngineText which) const override {
    switch (which) {
      case TDBEngineText::SPID:
        return "SELECT @@SPID AS SPID";
      case TDBEngineText::ColumnMetadata:
        return Join({"SELECT CONVERT(VARCHAR(50), sysobjects.name) AS tabname, ",
                     "       CONVERT(VARCHAR(50), syscolumns.name) AS name, ", "       prec, ",
                     "       scale, ", "       CASE syscolumns.xtype  ",
                     "         WHEN 60 THEN 'M' -- Money", "         WHEN 106 THEN 'D' -- Decimal",
                     "         WHEN 58 THEN 'T' -- DateTime", "       END type ",
                     "  FROM syscolumns, ", "       sysobjects ",
                     " WHERE syscolumns.xtype IN (60, 106) ",
                     "   AND syscolumns.id = sysobjects.id"});
      case TDBEngineText::EventosDoDia:
        return Join({"SELECT id_evento, ", "       dt_evento, ", "       descricao ",
                     "  FROM EventosServRest ", "  WITH (NOLOCK) ",
                     " WHERE CAST(dt_evento AS DATE) >= CAST(GETDATE() AS DATE) ",
                     " ORDER BY dt_evento"});
      case TDBEngineText::ResetSession:
        // FreeTDS cannot ask the server for a full session reset; a transaction is what a
        // call can leave behind here (procedures drop their own temporary tables).
        return "IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION";
      case TDBEngineText::RollbackLeftOpen:
        // A cancel (attention) ends the batch but not a transaction it began.
        return "IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION";
      case TDBEngineText::ProcedureParams:
        return {};
    }
    return {};
  }
};

class TPostgreSQLProfile final : public TDBDriverProfile {
  static constexpr int kFetchRows = 1000;

 public:
  TDBEngine Engine() const override { return TDBEngine::PostgreSQL; }
  const char* Name() const override { return "PostgreSQL (psqlODBC)"; }
  std::size_t FetchBlockRows() const override { return 256; }

  // PostgreSQL has no named instances: an instance in "SERVER" is ignored.
  std::string ConnectionString(const TDBConnectionParams& p) const override {
    const TDBServerAddress a = ParseServer(p.Value(params::kServer));
    std::string cs = "Driver={" + DriverName(p) + "};";
    cs += Attribute("Server", a.host);
    const std::string port = PortOf(a, p);
    if (!port.empty()) cs += Attribute("Port", port);
    cs += Attribute("Database", p.Value(params::kDatabase));
    cs += Attribute("UID", p.Value(params::kUserName));
    cs += Attribute("PWD", p.Value(params::kPassword));
    // A cursor read in blocks of kFetchRows rows: without it psqlODBC holds the whole result
    // in memory before handing over the first row.
    cs += "UseDeclareFetch=1;Fetch=" + std::to_string(kFetchRows) + ";";
    // The application name reaches the server through libpq's own options.
    const std::string app = p.Value(params::kApplicationName);
    if (!app.empty()) {
      std::string quoted = "'";
      for (char c : app) {
        if (c == '\'' || c == '\\') quoted += '\\';
        quoted += c;
      }
      quoted += "'";
      std::string braced = "{application_name=";
      for (char c : quoted) {
        braced += c;
        if (c == '}') braced += '}';
      }
      cs += "pqopt=" + braced + "};";
    }
    return cs;
  }

  // psqlODBC reports every failed connection as 08001; only its text tells why.
  TDBErrorKind Classify(const std::vector<odbc::TDiagRecord>& records,
                        std::size_t& deciding) const override {
    deciding = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const std::string t = util::MinusculasASCII(records[i].text);
      if (records[i].state.rfind("28", 0) == 0 || Contains(t, "password authentication failed")) {
        deciding = i;
        return diagnostics::ekUserPwdInvalid;
      }
    }
    static const char* kGoneTexts[] = {"connection refused",
                                       "could not translate host name",
                                       "timeout expired",
                                       "timed out",
                                       "no route to host",
                                       "network is unreachable",
                                       "could not connect to server",
                                       "server closed the connection unexpectedly",
                                       "no connection to the server",
                                       "the connection to the server was lost",
                                       "the connection has been lost",
                                       "due to the connection lost",
                                       "could not receive data from server"};
    for (std::size_t i = 0; i < records.size(); ++i) {
      const std::string t = util::MinusculasASCII(records[i].text);
      // 57P01-57P03: the server is shutting down or terminated this session.
      const bool gone = records[i].state == "08S01" || records[i].state == "HYT00" ||
                        records[i].state.rfind("57P0", 0) == 0 ||
                        std::any_of(std::begin(kGoneTexts), std::end(kGoneTexts),
                                    [&](const char* f) { return Contains(t, f); });
      if (gone) {
        deciding = i;
        return diagnostics::ekServerGone;
      }
    }
    return diagnostics::ekOther;
  }

  // psqlODBC turns SQL_ATTR_QUERY_TIMEOUT into "SET statement_timeout" before and after the
  // statement (two more round trips), and on a connection reset for reuse it first parses a
  // statement with parameters on the server outside that limit: a parse waiting on a lock
  // waited as long as the lock (3.5 s against a 1 s limit, measured). The session's own
  // setting covers the parse too and is sent only when it changes.
  std::string SessionTimeoutSql(int seconds) const override {
    return "SET statement_timeout = " + std::to_string(static_cast<long long>(seconds) * 1000);
  }

  // The server cancels a statement at statement_timeout (query_canceled).
  bool TimedOut(const std::vector<odbc::TDiagRecord>& records) const override {
    return std::any_of(records.begin(), records.end(),
                       [](const odbc::TDiagRecord& r) { return r.state == "57014"; });
  }

  // The catalog holds unquoted names folded to lower case, and psqlODBC matches them
  // case-sensitively, while "{call Name(...)}" folds as usual.
  std::string CatalogProcedureName(std::string_view name) const override {
    return util::MinusculasASCII(name);
  }

  std::string Text(TDBEngineText which) const override {
    switch (which) {
      case TDBEngineText::SPID:
        return "SELECT pg_backend_pid() AS SPID";
      case TDBEngineText::ColumnMetadata:
        return Join({"SELECT CAST(c.table_name AS VARCHAR(50)) AS tabname, ",
                     "       CAST(c.column_name AS VARCHAR(50)) AS name, ",
                     "       CAST(c.numeric_precision AS SMALLINT) AS prec, ",
                     "       CAST(c.numeric_scale AS SMALLINT) AS scale, ",
                     "       CAST(CASE c.data_type ", "         WHEN 'money' THEN 'M' -- Money",
                     "         WHEN 'numeric' THEN 'D' -- Decimal",
                     "       END AS CHAR(1)) AS type ", "  FROM information_schema.columns c ",
                     " WHERE c.data_type IN ('money', 'numeric') ",
                     "   AND c.table_schema = current_schema()"});
      case TDBEngineText::EventosDoDia:
        return Join({"SELECT id_evento, ", "       dt_evento, ", "       descricao ",
                     "  FROM EventosServRest ",
                     " WHERE CAST(dt_evento AS DATE) >= CAST(GETDATE() AS DATE) ",
                     " ORDER BY dt_evento"});
      case TDBEngineText::ResetSession:
        // Temporary tables, settings, prepared statements, locks and listeners of the
        // session's previous user.
        return "DISCARD ALL";
      case TDBEngineText::RollbackLeftOpen:
        // A function cannot begin a transaction of its own: in autocommit nothing is left.
        return {};
      case TDBEngineText::ProcedureParams:
        // psqlODBC's SQLProcedureColumns crashes when the server ended the session unnoticed;
        // a plain query fails cleanly instead. Types, sizes and digits as the driver's Unicode
        // entry points report them (text types as wide ones); functions found earlier on the
        // search path first.
        return Join(
            {"SELECT current_database() AS procedure_cat, ",
             "       n.nspname AS procedure_schem, ",
             "       p.proname AS procedure_name, ",
             "       a.nome AS column_name, ",
             "       CASE a.modo WHEN 'i' THEN 1 WHEN 'v' THEN 1 WHEN 'b' THEN 2 ",
             "                   WHEN 'o' THEN 4 WHEN 't' THEN 3 ELSE 0 END AS column_type, ",
             "       CASE t.typname WHEN 'int2' THEN 5 WHEN 'int4' THEN 4 WHEN 'int8' THEN -5 ",
             "                      WHEN 'numeric' THEN 2 WHEN 'float4' THEN 7 WHEN 'float8' THEN "
             "8 ",
             "                      WHEN 'bool' THEN -7 WHEN 'bpchar' THEN -8 WHEN 'text' THEN "
             "-10 ",
             "                      WHEN 'date' THEN 91 WHEN 'time' THEN 92 ",
             "                      WHEN 'timestamp' THEN 93 WHEN 'timestamptz' THEN 93 ",
             "                      WHEN 'bytea' THEN -4 ELSE -9 END AS data_type, ",
             "       t.typname AS type_name, ",
             "       CASE t.typname WHEN 'int2' THEN 5 WHEN 'int4' THEN 10 WHEN 'int8' THEN 19 ",
             "                      WHEN 'numeric' THEN 28 WHEN 'float4' THEN 7 ",
             "                      WHEN 'float8' THEN 15 WHEN 'bool' THEN 1 WHEN 'text' THEN "
             "8190 ",
             "                      WHEN 'date' THEN 10 WHEN 'time' THEN 8 WHEN 'timestamp' THEN "
             "26 ",
             "                      WHEN 'timestamptz' THEN 26 ELSE 255 END AS column_size, ",
             "       NULL AS buffer_length, ",
             "       CASE t.typname WHEN 'int2' THEN 0 WHEN 'int4' THEN 0 WHEN 'int8' THEN 0 ",
             "                      WHEN 'numeric' THEN 6 WHEN 'timestamp' THEN 6 ",
             "                      WHEN 'timestamptz' THEN 6 END AS decimal_digits ",
             "  FROM pg_proc p ",
             "  JOIN pg_namespace n ON n.oid = p.pronamespace ",
             "  LEFT JOIN LATERAL ( ",
             "       SELECT u.ordem, u.tipo, COALESCE(p.proargmodes[u.ordem], 'i') AS modo, ",
             "              p.proargnames[u.ordem] AS nome ",
             "         FROM unnest(COALESCE(p.proallargtypes, p.proargtypes::oid[])) ",
             "              WITH ORDINALITY AS u(tipo, ordem)) a ON true ",
             "  LEFT JOIN pg_type t ON t.oid = a.tipo ",
             " WHERE p.proname = ? ",
             "   AND (? = '' OR n.nspname = ?) ",
             " ORDER BY COALESCE(array_position(current_schemas(false), n.nspname), 1000000), ",
             "          n.nspname, p.oid, a.ordem"});
    }
    return {};
  }
};

}  // namespace

const TDBDriverProfile& TDBDriverProfile::For(const TDBConnectionParams& p) {
  static const TSqlServerProfile kSqlServer;
  static const TPostgreSQLProfile kPostgreSQL;
  if (SameName(p.Value(params::kDriverID), "PG")) return kPostgreSQL;
  const std::string driver = util::MinusculasASCII(DriverName(p));
  if (Contains(driver, "postgres") || Contains(driver, "psql")) return kPostgreSQL;
  return kSqlServer;
}

std::string TDBDriverProfile::DriverName(const TDBConnectionParams& p) {
  std::string d = p.Value(params::kDriver);
  if (!d.empty()) return d;
  return SameName(p.Value(params::kDriverID), "PG") ? "PostgreSQL" : "FreeTDS";
}

TDBServerAddress TDBDriverProfile::ParseServer(std::string_view server) {
  TDBServerAddress a;
  const auto comma = server.rfind(',');
  if (comma != std::string_view::npos) {
    a.port = std::string(server.substr(comma + 1));
    server = server.substr(0, comma);
  }
  const auto slash = server.find('\\');
  if (slash != std::string_view::npos) {
    a.instance = std::string(server.substr(slash + 1));
    server = server.substr(0, slash);
  }
  a.host = std::string(server);
  return a;
}

std::string TDBDriverProfile::Attribute(std::string_view key, std::string_view value) {
  const bool brace = value.find_first_of(";{}=") != std::string_view::npos ||
                     (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  std::string out(key);
  out += '=';
  if (!brace) {
    out += value;
  } else {
    out += '{';
    for (char c : value) {
      out += c;
      if (c == '}') out += '}';
    }
    out += '}';
  }
  out += ';';
  return out;
}

}  // namespace tamrix::db
