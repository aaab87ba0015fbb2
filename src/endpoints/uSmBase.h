// The base of every server-method class: the shared query qySQL, the way to the calling
// thread's database connection, the capture of qySQL's update errors, and the packing of one
// data set into the result container the REST layer writes.
//
// Two calls of one session may run at once on one instance. A method that uses qySQL first
// reserves it (ReservarQuery); the reservation lasts until the method returns, or, when the
// method hands qySQL back packed, until the REST layer has written and dropped the container.
// Stored-procedure methods make a procedure per call and need no reservation.
#ifndef TAMRIX_ENDPOINTS_USMBASE_H
#define TAMRIX_ENDPOINTS_USMBASE_H

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "core/udmServidor.h"
#include "db/uDBQuery.h"
#include "db/uDBStoredProc.h"
#include "rest/uJSONDataSets.h"
#include "rest/uRestServerClass.h"

namespace tamrix::endpoints {

// A statement given line by line, lines joined by CR LF, no break after the last one.
std::string TextoSQL(std::initializer_list<std::string_view> linhas);

class TsmBase;

// The right of one call to use an instance's qySQL. Given back when destroyed, on any
// thread: qySQL is then closed and unbound from the call's connection. Movable, not
// copyable.
class TReservaQuery {
 public:
  TReservaQuery() = default;
  TReservaQuery(TReservaQuery&&) noexcept = default;
  TReservaQuery& operator=(TReservaQuery&& outra) noexcept;
  ~TReservaQuery();
  TReservaQuery(const TReservaQuery&) = delete;
  TReservaQuery& operator=(const TReservaQuery&) = delete;

  struct TTrava;  // the instance's flag and its wait

 private:
  friend class TsmBase;
  explicit TReservaQuery(std::shared_ptr<TTrava> trava) : trava_(std::move(trava)) {}
  void Liberar() noexcept;

  std::shared_ptr<TTrava> trava_;  // empty once given back or moved from
};

class TsmBase : public std::enable_shared_from_this<TsmBase> {
 public:
  TsmBase();
  virtual ~TsmBase();
  TsmBase(const TsmBase&) = delete;
  TsmBase& operator=(const TsmBase&) = delete;

  // The server's data module (dmServidor); raises diagnostics::Exception when there is none.
  core::TdmServidor& DataModule() const;

  // The last update error of qySQL, translated for the user; empty until one happens.
  const std::string& UpdateError() const { return FsUpdateError; }

  // The table of TsmBase itself, which publishes no method (scBase exposes it).
  static rest::TRestServerClass Tabela();

 protected:
  // Waits until no other call of this instance holds qySQL (or a container made from it)
  // and reserves it for the calling one.
  [[nodiscard]] TReservaQuery ReservarQuery();

  // Shared-query steps 1 to 3: closes qySQL, gives it the calling thread's tenant
  // connection (PegarConexao(true), whose failures propagate) and sets the statement.
  // The caller holds the reservation.
  void PrepararQuery(std::string pspSQL);

  // A new container holding poQuery under its own name. The container keeps this instance
  // and poReserva alive until the REST layer drops it, so the data set stays untouched
  // while it is written.
  rest::TJSONDataSetsPtr EmpacotarDataSet(db::TDBQuery& poQuery, TReservaQuery poReserva);
  // A new container holding poProc under its own name (empty for procedures made at run
  // time); the procedure is released with the container, once its result is written.
  rest::TJSONDataSetsPtr EmpacotarDataSet(std::shared_ptr<db::TDBStoredProc> poProc);

  // Stored-procedure steps 1 to 4: a new procedure on the calling thread's tenant
  // connection, named and prepared from the database's description of its parameters.
  std::shared_ptr<db::TDBStoredProc> CriarStoredProc(std::string pspNome);
  // Steps 6 and 7: opens the procedure and packs it.
  rest::TJSONDataSetsPtr AbrirEmpacotar(std::shared_ptr<db::TDBStoredProc> poProc);

  // Update-error handler of qySQL: fails the update and keeps the translated text.
  void qySQLUpdateError(db::TDBDataSet& ASender, const diagnostics::EDatabaseError& AException,
                        int ARow, db::TDBUpdateRequest ARequest, db::TDBErrorAction& AAction);

  db::TDBQuery qySQL;  // shared by the methods of this instance; see ReservarQuery

 private:
  std::string FsUpdateError;
  std::shared_ptr<TReservaQuery::TTrava> FoTrava;
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMBASE_H
