// A database connection over ODBC: its parameter list, open and close, transactions, and the
// driver profile that turns the parameters into the driver's connection string.
//
// Threads: every call into the driver for this connection and its data sets runs under the
// connection's own lock, so no two threads ever talk to the driver on one connection at once.
// A connection shared by threads (the main connection) also offers that lock to callers that
// need several statements, or a statement and the reading of its rows, to stay together
// (Lock()). A connection used by one thread, as tenant connections are, never waits on it.
#ifndef TAMRIX_DB_UDBCONNECTION_H
#define TAMRIX_DB_UDBCONNECTION_H

#include <sql.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>

#include "db/uDBConnectionParams.h"
#include "db/uDBDriverProfile.h"

namespace tamrix::db {

class TDBDataSet;

// Held while a sequence of work on a shared connection must not interleave with other threads.
using TDBConnectionLock = std::unique_lock<std::recursive_mutex>;

class TDBConnection {
 public:
  TDBConnection();
  // Closes the connection (rolling back an open transaction) and detaches its data sets.
  ~TDBConnection();
  TDBConnection(const TDBConnection&) = delete;
  TDBConnection& operator=(const TDBConnection&) = delete;

  // The parameter list. Changes take effect at the next Open.
  TDBConnectionParams& Params() { return params_; }
  const TDBConnectionParams& Params() const { return params_; }

  // The profile of the driver the parameters name.
  const TDBDriverProfile& Profile() const { return TDBDriverProfile::For(params_); }

  // Connects with the current parameters; does nothing when already connected. A refusal
  // raises EDBEngineException with the driver's message and the profile's error kind. When
  // the driver manager pools connections, the one it hands back is reset first (no
  // transaction, autocommit on, the engine's session reset); one found dead there is
  // replaced by another.
  void Open();
  // Disconnects, rolling back an open transaction; does nothing when closed. Data sets keep
  // the rows they already hold; a data set still reading rows from the driver fails on its
  // next fetch.
  void Close();
  // False once closed, and also once the server was found to have dropped the connection.
  bool Connected() const;

  // When on, a data set about to use this connection after the server dropped it reopens it
  // first, so a long-lived shared connection survives a database restart. Off by default:
  // a connection of one call simply fails.
  void SetReopenWhenLost(bool on);
  // Reopens the connection when SetReopenWhenLost is on and it was opened (Open called, Close
  // not since) but is not connected now: dropped by the server, or a reopen failed while the
  // server was away. False, changing nothing, otherwise, and also for a second after a
  // refused reopen, so that every user of a shared connection does not wait on the login
  // timeout of an unreachable server in turn. A refusal raises as Open does.
  bool ReopenIfLost();

  // Transactions. StartTransaction raises EDatabaseError when one is already active or the
  // connection is closed; Commit and Rollback raise when none is active.
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

  // The connection's lock (recursive). Hold it across work that other threads sharing this
  // connection must not interleave with, for example a query and the reading of its rows.
  [[nodiscard]] TDBConnectionLock Lock() const { return TDBConnectionLock(mutex_); }

  // The ODBC connection handle while connected (SQL_NULL_HDBC otherwise); for the db layer.
  SQLHDBC Handle() const { return dbc_; }

  // Seconds each statement may run before it is cancelled (0: no limit), from the
  // "QueryTimeout" parameter as the connection was opened. A data set may ask for its own.
  int QueryTimeout() const { return queryTimeout_; }

  // Gives the statement `stmt` of this connection, not yet run, `seconds` to run (0: no
  // limit): as its SQL_ATTR_QUERY_TIMEOUT, or where the profile says so through the
  // session's setting, changed only when it differs. True when a limit is in force. A
  // refused setting raises as RaiseError. For the db layer, with the lock held.
  bool ApplyTimeout(SQLHSTMT stmt, int seconds);

  // Raises EDBEngineException for the diagnostics of a failed call on an ODBC handle of this
  // connection (the profile decides the kind); for the db layer.
  [[noreturn]] void RaiseError(SQLSMALLINT handleType, SQLHANDLE handle,
                               const char* fallback) const;
  // As RaiseError for a failed call on a statement that had `timeout` seconds (0: none).
  // When the statement was cancelled at that limit, whatever it may have left is undone
  // first (an open transaction is rolled back and ends, as the engine may keep the work
  // before the statement in it) and the error says so, naming the limit (see
  // diagnostics::TextoTempoConsulta). For the db layer, with the connection's lock held.
  [[noreturn]] void RaiseStatementError(SQLHSTMT stmt, int timeout, const char* fallback);

 private:
  friend class TDBDataSet;
  void Attach(TDBDataSet* dataSet);  // called by data sets as they bind to this connection
  void Detach(TDBDataSet* dataSet);
  void ConnectLocked();  // allocates and connects the handle
  void ResetLocked();    // cleans a connection that may come from the pool
  void CloseLocked();
  void UndoCancelledLocked();  // rolls back what a statement cancelled at its limit left

  TDBConnectionParams params_;
  mutable std::recursive_mutex mutex_;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool inTransaction_ = false;
  int queryTimeout_ = 0;  // seconds, from the parameters at the last connect
  // The session's statement limit as last set (profiles that limit the session); -1 when not
  // known: after a connect, a reset, a rollback or any failed statement.
  int sessionTimeout_ = -1;
  mutable bool lost_ = false;  // the server dropped the connection; the handle awaits Close
  bool reopenWhenLost_ = false;
  bool wanted_ = false;                                 // Open called and Close not since
  std::chrono::steady_clock::time_point nextReopen_{};  // no reopen attempt before this
  std::set<TDBDataSet*> dataSets_;  // bound data sets, told when their statements must go
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBCONNECTION_H
