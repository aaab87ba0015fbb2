// The one ODBC environment of the process, shared by every connection, and the set-up of the
// driver manager's connection pool.
//
// unixODBC pools only when the odbcinst.ini it reads says "Pooling=Yes" under [ODBC] and the
// driver's section gives a "CPTimeout" above zero; the environment attribute alone does not
// switch it on. The server therefore writes a private copy of that file and points the driver
// manager at it before the environment exists.
#ifndef TAMRIX_DB_UDBENVIRONMENT_H
#define TAMRIX_DB_UDBENVIRONMENT_H

#include <sql.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tamrix::db {

class TDBEnvironment {
 public:
  // The environment handle (ODBC 3), created on first use; thread-safe.
  static SQLHENV Handle();

  // Turns the driver manager's pool on for the ODBC driver named `driver` (its section in
  // odbcinst.ini), an idle connection being kept `idleSeconds` seconds (above zero): copies
  // the odbcinst.ini the driver manager would read (and odbc.ini beside it) into a private
  // folder with "Pooling=Yes" and the driver's "CPTimeout", and sets ODBCSYSINI to it. Must
  // run before request threads use ODBC. False, changing nothing, when the environment
  // already exists (too late) or this already ran; raises diagnostics::EDatabaseError
  // (Portuguese text) when idleSeconds is not positive, the driver is not in the file, or the
  // copy cannot be written.
  static bool SetConnectionPooling(std::string_view driver, int idleSeconds);

  // Whether a connection may come from the driver manager's pool: set up above, or the
  // odbcinst.ini the driver manager reads says "Pooling=Yes". Decided once, with the handle.
  static bool PoolingActive();

  // The odbcinst.ini the driver manager reads now: ODBCSYSINI's folder (else /etc) and
  // ODBCINSTINI's name (else "odbcinst.ini").
  static std::string DriverManagerIniFile();

  // An unconnected connection handle of the environment: one given back earlier, else a new
  // one; SQL_NULL_HDBC when none can be allocated (the environment's diagnostics tell why).
  // Thread-safe.
  static SQLHDBC TakeConnectionHandle();

  // Keeps an unconnected (disconnected or never connected) handle for the next
  // TakeConnectionHandle. With pooling on, the driver manager of Debian 12 (unixODBC 2.3.11)
  // loses some 14 KB at every connection handle freed; a handle kept and connected again
  // loses nothing. Thread-safe.
  static void GiveBackConnectionHandle(SQLHDBC dbc);

  TDBEnvironment(const TDBEnvironment&) = delete;
  TDBEnvironment& operator=(const TDBEnvironment&) = delete;

 private:
  TDBEnvironment();
  ~TDBEnvironment();
  static TDBEnvironment& Instance();

  SQLHENV env_ = SQL_NULL_HENV;
  bool pooling_ = false;
  std::mutex handlesMutex_;
  std::vector<SQLHDBC> handles_;  // unconnected, at most kMaxKeptHandles
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBENVIRONMENT_H
