// The ordered parameter list of a database connection ("Name=Value" lines), as the server
// configures it and copies it whole from the main connection to each tenant connection.
#ifndef TAMRIX_DB_UDBCONNECTIONPARAMS_H
#define TAMRIX_DB_UDBCONNECTIONPARAMS_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/uCaixaTexto.h"

namespace tamrix::db {

// Parameter names the server and the driver profiles use.
namespace params {
inline constexpr std::string_view kDriverID = "DriverID";  // "MSSQL" (SQL Server) or "PG"
inline constexpr std::string_view kServer = "SERVER";      // "host", "host\instance", "host,port"
inline constexpr std::string_view kDatabase = "DATABASE";
inline constexpr std::string_view kUserName = "User_Name";
inline constexpr std::string_view kPassword = "Password";
inline constexpr std::string_view kApplicationName = "ApplicationName";
inline constexpr std::string_view kWorkstation = "Workstation";
inline constexpr std::string_view kMARS = "MARS";      // "yes" switches MARS on
inline constexpr std::string_view kDriver = "Driver";  // ODBC driver name (odbcinst.ini)
inline constexpr std::string_view kPorta = "Porta";    // database server's TCP port
inline constexpr std::string_view kLoginTimeout = "LoginTimeout";  // seconds, default 15
// Seconds one statement may run before the engine cancels it; 0 (the default) for no limit.
inline constexpr std::string_view kQueryTimeout = "QueryTimeout";
}  // namespace params

class TDBConnectionParams {
 public:
  using Item = std::pair<std::string, std::string>;

  // The value of a parameter, empty when absent. Names compare without regard to case.
  std::string Value(std::string_view name) const;
  bool Has(std::string_view name) const;
  // Sets a parameter: in place when it exists, otherwise appended at the end.
  void SetValue(std::string_view name, std::string value);
  void Remove(std::string_view name);
  void Clear() { items_.clear(); }

  // Adds or replaces from a "Name=Value" line (a line without "=" sets an empty value).
  void AddLine(std::string_view line);
  // The list as "Name=Value" lines, in order.
  std::vector<std::string> Lines() const;
  const std::vector<Item>& Items() const { return items_; }

 private:
  std::vector<Item> items_;
};

// ASCII case-insensitive equality, as parameter, field and index names compare.
inline bool SameName(std::string_view a, std::string_view b) {
  return util::TextoIgualSemCaixa(a, b);
}

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBCONNECTIONPARAMS_H
