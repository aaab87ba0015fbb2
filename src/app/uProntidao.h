// Readiness for the admin port: the REST server is started and the main database answers a
// trivial query. A checker of its own, on its own thread and its own connection to the main
// database, asks at most once a second, so that /ready never waits on a hung database and
// the REST server's shared main connection is never held by a probe.
#ifndef TAMRIX_APP_UPRONTIDAO_H
#define TAMRIX_APP_UPRONTIDAO_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "config/uConfigServidor.h"
#include "db/uDBConnection.h"
#include "web/uwmAdministracao.h"

namespace tamrix::app {

// From now on, for the rest of the process, readiness answers "encerrando" (503): the stop
// sequence calls it first, so that balancers stop sending while calls in progress finish.
// Safe from any thread and from a signal-handling loop.
void MarcarEncerramento();
// Whether MarcarEncerramento was called.
bool Encerrando();

// The main database's connection parameters as config.ini gives them (the same server,
// instance, database, login, driver and port as the main connection), with its login
// timeout set to TempoConexao seconds.
db::TDBConnectionParams ParametrosBancoPrincipal(const config::TConfigServidor& config);

class TVerificadorProntidao {
 public:
  // Starts the checker thread; it connects with params only while a REST server is started.
  explicit TVerificadorProntidao(db::TDBConnectionParams params);
  // Stops the thread, waiting for a check in progress (bounded by the login timeout and a 3 s
  // statement limit).
  ~TVerificadorProntidao();
  TVerificadorProntidao(const TVerificadorProntidao&) = delete;
  TVerificadorProntidao& operator=(const TVerificadorProntidao&) = delete;

  // The state for /ready from the last check; never waits on the database. A check that has
  // not come back for kSemResposta counts as a database that does not answer.
  web::TProntidao Estado() const;

  static constexpr std::chrono::seconds kIntervalo{1};
  static constexpr std::chrono::seconds kSemResposta{3};

 private:
  void Executar();
  // One trivial query on the checker's connection, opened first when needed; the failure's
  // text, or empty when it answered.
  std::string Consultar();

  db::TDBConnection conexao_;  // the checker thread's only
  mutable std::mutex mutex_;
  std::condition_variable acordar_;
  bool parar_ = false;
  bool temResultado_ = false;  // a check finished since the REST server was last seen started
  std::string falha_;          // of the last finished check; empty when it answered
  bool verificando_ = false;
  std::chrono::steady_clock::time_point inicioVerificacao_;
  std::thread thread_;  // last: started once the rest is built
};

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UPRONTIDAO_H
