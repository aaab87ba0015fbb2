#include "db/uDBConnection.h"

#include <sqlext.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "db/uDBDataSet.h"
#include "db/uDBEnvironment.h"
#include "db/uDBOdbc.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::db {

using diagnostics::EDatabaseError;
using diagnostics::EDBEngineException;

TDBConnection::TDBConnection() = default;

TDBConnection::~TDBConnection() {
  std::lock_guard guard(mutex_);
  CloseLocked();
  for (TDBDataSet* ds : dataSets_) ds->ConnectionGone();
  dataSets_.clear();
}

void TDBConnection::RaiseError(SQLSMALLINT handleType, SQLHANDLE handle,
                               const char* fallback) const {
  const auto records = odbc::ReadDiagnostics(handleType, handle);
  if (records.empty()) throw EDBEngineException(fallback, diagnostics::ekOther);
  std::size_t deciding = 0;
  const auto kind = Profile().Classify(records, deciding);
  const auto& r = records[deciding];
  // A connection the server dropped counts as closed from now on (Connected is false);
  // Close or the next Open releases it.
  if (kind == diagnostics::ekServerGone && dbc_ != SQL_NULL_HDBC && handleType != SQL_HANDLE_ENV) {
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (!SQL_SUCCEEDED(SQLGetConnectAttrW(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) ||
        dead == SQL_CD_TRUE) {
      lost_ = true;
    }
  }
  throw EDBEngineException(r.text, kind, r.state, r.native);
}

bool TDBConnection::ApplyTimeout(SQLHSTMT stmt, int seconds) {
  if (seconds < 0) seconds = 0;
  const std::string sql = Profile().SessionTimeoutSql(seconds);
  if (sql.empty()) {
    // A driver that refuses the limit leaves the statement without one.
    return seconds > 0 && SQL_SUCCEEDED(SQLSetStmtAttr(
                              stmt, SQL_ATTR_QUERY_TIMEOUT,
                              reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0));
  }
  if (sessionTimeout_ != seconds) {
    SQLHSTMT set = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &set)))
      RaiseError(SQL_HANDLE_DBC, dbc_, "Falha ao alocar o comando ODBC.");
    odbc::WString w = odbc::ToWide(sql);
    const SQLRETURN rc = SQLExecDirectW(set, w.data(), static_cast<SQLINTEGER>(w.size()));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      sessionTimeout_ = -1;
      try {
        RaiseError(SQL_HANDLE_STMT, set, "Falha ao definir o tempo limite da consulta.");
      } catch (...) {
        SQLFreeHandle(SQL_HANDLE_STMT, set);
        throw;
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, set);
    sessionTimeout_ = seconds;
  }
  return seconds > 0;
}

void TDBConnection::RaiseStatementError(SQLHSTMT stmt, int timeout, const char* fallback) {
  // A failure may have rolled back the transaction that set the session's limit.
  sessionTimeout_ = -1;
  if (timeout > 0) {
    const auto records = odbc::ReadDiagnostics(SQL_HANDLE_STMT, stmt);
    if (!records.empty() && Profile().TimedOut(records)) {
      UndoCancelledLocked();
      throw EDBEngineException(diagnostics::TextoTempoConsulta(timeout), diagnostics::ekOther,
                               "HYT00", records.front().native);
    }
  }
  RaiseError(SQL_HANDLE_STMT, stmt, fallback);
}

void TDBConnection::UndoCancelledLocked() {
  if (dbc_ == SQL_NULL_HDBC) return;
  bool clean = true;
  if (inTransaction_) {
    // psqlODBC undoes only the failed statement and keeps the transaction going; what came
    // before it must not be committed by a caller that carries on.
    clean = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK));
    inTransaction_ = false;
    sessionTimeout_ = -1;
    SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                       0);
  } else if (const std::string text = Profile().Text(TDBEngineText::RollbackLeftOpen);
             !text.empty()) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    clean = SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt));
    if (clean) {
      odbc::WString sql = odbc::ToWide(text);
      const SQLRETURN rc = SQLExecDirectW(stmt, sql.data(), static_cast<SQLINTEGER>(sql.size()));
      clean = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
  }
  // A connection that cannot be cleaned is not used again: Close or the next Open drops it.
  if (!clean) lost_ = true;
}

namespace {

// A pool handing back several dead connections in a row (the server restarted) is drained one
// by one; past this many the failure is the call's.
constexpr int kMaxDeadReuses = 8;

}  // namespace

void TDBConnection::Open() {
  std::lock_guard guard(mutex_);
  wanted_ = true;
  if (lost_) CloseLocked();
  if (dbc_ != SQL_NULL_HDBC) return;
  const bool pooled = TDBEnvironment::PoolingActive();
  for (int attempt = 1;; ++attempt) {
    ConnectLocked();
    if (!pooled) return;
    try {
      ResetLocked();
      return;
    } catch (const EDBEngineException& e) {
      // The driver now knows the connection is dead, so the driver manager drops it on
      // disconnect and the next connect gets another one.
      CloseLocked();
      if (e.Kind() != diagnostics::ekServerGone || attempt >= kMaxDeadReuses) throw;
    }
  }
}

void TDBConnection::ConnectLocked() {
  SQLHDBC dbc = TDBEnvironment::TakeConnectionHandle();
  if (dbc == SQL_NULL_HDBC) {
    RaiseError(SQL_HANDLE_ENV, TDBEnvironment::Handle(), "Falha ao alocar a conexão ODBC.");
  }
  long timeout = 15;
  const std::string t = params_.Value(params::kLoginTimeout);
  if (!t.empty()) timeout = std::strtol(t.c_str(), nullptr, 10);
  if (timeout > 0) {
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout)), 0);
  }
  long query = 0;
  const std::string q = params_.Value(params::kQueryTimeout);
  if (!q.empty()) query = std::strtol(q.c_str(), nullptr, 10);
  odbc::WString cs = odbc::ToWide(Profile().ConnectionString(params_));
  SQLWCHAR out[1024];
  SQLSMALLINT outLen = 0;
  // psqlODBC calls setlocale() while it connects, which races between threads in libc:
  // its connects take turns. Other drivers connect in parallel.
  static std::mutex connectMutex;
  std::unique_lock<std::mutex> connectGuard(connectMutex, std::defer_lock);
  if (Profile().Engine() == TDBEngine::PostgreSQL) connectGuard.lock();
  const SQLRETURN rc =
      SQLDriverConnectW(dbc, nullptr, cs.data(), static_cast<SQLSMALLINT>(cs.size()), out, 1024,
                        &outLen, SQL_DRIVER_NOPROMPT);
  if (connectGuard.owns_lock()) connectGuard.unlock();
  if (!SQL_SUCCEEDED(rc)) {
    try {
      RaiseError(SQL_HANDLE_DBC, dbc, "Não foi possível conectar ao banco de dados.");
    } catch (...) {
      TDBEnvironment::GiveBackConnectionHandle(dbc);
      throw;
    }
  }
  dbc_ = dbc;
  inTransaction_ = false;
  sessionTimeout_ = -1;
  queryTimeout_ = query > 0 && query <= INT32_MAX ? static_cast<int>(query) : 0;
}

void TDBConnection::ResetLocked() {
  // What a pooled connection may carry from its previous user: a transaction, autocommit
  // off, and the session state the engine's reset statement clears. Running that statement
  // also proves the server still holds the session.
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  sessionTimeout_ = -1;  // the engine's reset clears the session's settings
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
    RaiseError(SQL_HANDLE_DBC, dbc_, "Falha ao preparar a conexão reutilizada.");
  }
  odbc::WString sql = odbc::ToWide(Profile().Text(TDBEngineText::ResetSession));
  const SQLRETURN rc = SQLExecDirectW(stmt, sql.data(), static_cast<SQLINTEGER>(sql.size()));
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    try {
      RaiseError(SQL_HANDLE_STMT, stmt, "Falha ao preparar a conexão reutilizada.");
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      throw;
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

void TDBConnection::Close() {
  std::lock_guard guard(mutex_);
  wanted_ = false;
  CloseLocked();
}

void TDBConnection::CloseLocked() {
  if (dbc_ == SQL_NULL_HDBC) return;
  for (TDBDataSet* ds : dataSets_) ds->ReleaseStatement();
  if (inTransaction_) {
    SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    inTransaction_ = false;
    // The driver manager may keep the connection for the next user: it must go back as it
    // came, in autocommit.
    SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                       0);
  }
  // A handle still connected after a failed disconnect is not fit for another connect.
  if (SQL_SUCCEEDED(SQLDisconnect(dbc_)))
    TDBEnvironment::GiveBackConnectionHandle(dbc_);
  else
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = SQL_NULL_HDBC;
  lost_ = false;
  sessionTimeout_ = -1;
}

bool TDBConnection::Connected() const {
  std::lock_guard guard(mutex_);
  return dbc_ != SQL_NULL_HDBC && !lost_;
}

void TDBConnection::SetReopenWhenLost(bool on) {
  std::lock_guard guard(mutex_);
  reopenWhenLost_ = on;
}

bool TDBConnection::ReopenIfLost() {
  std::lock_guard guard(mutex_);
  if (!reopenWhenLost_ || !wanted_ || (dbc_ != SQL_NULL_HDBC && !lost_)) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < nextReopen_) return false;
  try {
    Open();
  } catch (...) {
    nextReopen_ = now + std::chrono::seconds(1);
    throw;
  }
  return true;
}

void TDBConnection::StartTransaction() {
  std::lock_guard guard(mutex_);
  if (dbc_ == SQL_NULL_HDBC) {
    throw EDatabaseError("Não é possível iniciar uma transação: a conexão não está aberta.");
  }
  if (inTransaction_) throw EDatabaseError("Já existe uma transação ativa nesta conexão.");
  if (!SQL_SUCCEEDED(SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT,
                                        reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    RaiseError(SQL_HANDLE_DBC, dbc_, "Falha ao iniciar a transação.");
  }
  inTransaction_ = true;
}

void TDBConnection::Commit() {
  std::lock_guard guard(mutex_);
  if (!inTransaction_ || dbc_ == SQL_NULL_HDBC) {
    throw EDatabaseError("Não há transação ativa para confirmar.");
  }
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  if (!SQL_SUCCEEDED(rc)) {
    // The transaction stays open; the caller rolls it back.
    RaiseError(SQL_HANDLE_DBC, dbc_, "Falha ao confirmar a transação.");
  }
  inTransaction_ = false;
  SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

void TDBConnection::Rollback() {
  std::lock_guard guard(mutex_);
  if (!inTransaction_ || dbc_ == SQL_NULL_HDBC) {
    throw EDatabaseError("Não há transação ativa para desfazer.");
  }
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  inTransaction_ = false;
  sessionTimeout_ = -1;  // a setting made inside the transaction went with it
  SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  if (!SQL_SUCCEEDED(rc)) RaiseError(SQL_HANDLE_DBC, dbc_, "Falha ao desfazer a transação.");
}

bool TDBConnection::InTransaction() const {
  std::lock_guard guard(mutex_);
  return inTransaction_;
}

void TDBConnection::Attach(TDBDataSet* dataSet) {
  std::lock_guard guard(mutex_);
  dataSets_.insert(dataSet);
}

void TDBConnection::Detach(TDBDataSet* dataSet) {
  std::lock_guard guard(mutex_);
  dataSets_.erase(dataSet);
}

}  // namespace tamrix::db
