// The server's notable events as rows of EventosServRest in the main database. An insert
// that fails is written to the log file instead and never reaches the caller.
//
// Threads: inserts come from the main thread and from request threads; each one runs under
// the main connection's lock (TDBConnection::Lock), which every other user of the main
// connection takes too, so statements of different threads never meet on it.
#ifndef TAMRIX_CORE_UEVENTOSSERVREST_H
#define TAMRIX_CORE_UEVENTOSSERVREST_H

#include <memory>
#include <mutex>
#include <string>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "util/uSingleton.h"

namespace tamrix::core {

class TEventosServRest {
 public:
  // Creates the events query without a connection.
  TEventosServRest();
  ~TEventosServRest();
  TEventosServRest(const TEventosServRest&) = delete;
  TEventosServRest& operator=(const TEventosServRest&) = delete;

  // Gives the events query this connection (the main connection, not owned).
  void DefinirConexao(db::TDBConnection* poConexao);

  // Reopens the events query on today's events, oldest first (database errors propagate).
  void ConsultarEventos();

  // Stores one event with the server's local time. False, and nothing else, when there is no
  // connection or it is closed; false with one error line in the log (the translated error)
  // when the database refuses the insert. True when the row was stored.
  bool InserirEvento(const std::string& pspDescricao);
  // Stores "* ERRO * " followed by the text.
  bool InserirEventoErro(const std::string& pspDescricao);
  bool InserirEventoServidorIniciado();
  bool InserirEventoServidorParado();

  // The events query; re-runs ConsultarEventos first when a connection is set.
  db::TDBQuery& DataSet();

 private:
  db::TDBConnection* Conexao() const;

  std::unique_ptr<db::TDBQuery> FqyEventos;
  mutable std::mutex FoLockConexao;  // the connection given by DefinirConexao
};

// The process-wide events writer (created at start-up without connection).
class TEventosServRestSingleton : public util::TSingleton<TEventosServRest> {};

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_UEVENTOSSERVREST_H
