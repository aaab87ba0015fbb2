// The one ODBC environment of the process, shared by every connection.
#ifndef TAMRIX_DB_UDBENVIRONMENT_H
#define TAMRIX_DB_UDBENVIRONMENT_H

#include <sql.h>

namespace tamrix::db {

class TDBEnvironment {
 public:
  // The environment handle (ODBC 3), created on first use; thread-safe.
  static SQLHENV Handle();

  // Asks the driver manager to pool connections (one pool per driver). Only takes effect when
  // called before the environment exists; returns false when it is too late.
  static bool SetConnectionPooling(bool enabled);

  TDBEnvironment(const TDBEnvironment&) = delete;
  TDBEnvironment& operator=(const TDBEnvironment&) = delete;

 private:
  TDBEnvironment();
  ~TDBEnvironment();
  static TDBEnvironment& Instance();

  SQLHENV env_ = SQL_NULL_HENV;
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBENVIRONMENT_H
