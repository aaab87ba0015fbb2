#include "db/uDBEnvironment.h"

#include <sqlext.h>

#include <atomic>
#include <stdexcept>

namespace tamrix::db {

namespace {
std::atomic<bool> gPooling{false};
std::atomic<bool> gCreated{false};
}  // namespace

TDBEnvironment::TDBEnvironment() {
  // Pooling is a process attribute: it must be set before the environment is allocated.
  if (gPooling.load()) {
    SQLSetEnvAttr(SQL_NULL_HENV, SQL_ATTR_CONNECTION_POOLING,
                  reinterpret_cast<SQLPOINTER>(SQL_CP_ONE_PER_DRIVER), SQL_IS_UINTEGER);
  }
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    throw std::runtime_error("ODBC: could not allocate the environment handle");
  }
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (gPooling.load()) {
    SQLSetEnvAttr(env_, SQL_ATTR_CP_MATCH, reinterpret_cast<SQLPOINTER>(SQL_CP_STRICT_MATCH), 0);
  }
}

// The handle is left to the process exit on purpose: connections held by single instances may
// be released after this static is destroyed, and they still need their environment.
TDBEnvironment::~TDBEnvironment() = default;

TDBEnvironment& TDBEnvironment::Instance() {
  static TDBEnvironment instance;
  gCreated.store(true);
  return instance;
}

SQLHENV TDBEnvironment::Handle() {
  return Instance().env_;
}

bool TDBEnvironment::SetConnectionPooling(bool enabled) {
  if (gCreated.load()) return false;
  gPooling.store(enabled);
  return true;
}

}  // namespace tamrix::db
