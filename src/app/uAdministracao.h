// The admin listener ("Administracao" in config.ini): /live, /ready and /metrics on a port of
// their own, served by a small request pool of their own, so they answer while every
// instance of the REST pool is busy. Lives for the whole process, window or headless.
#ifndef TAMRIX_APP_UADMINISTRACAO_H
#define TAMRIX_APP_UADMINISTRACAO_H

#include <cstdint>
#include <memory>

#include "app/uProntidao.h"
#include "config/uConfigServidor.h"
#include "web/uHTTPListener.h"
#include "web/uRequestPool.h"

namespace tamrix::app {

// Instances of the admin pool; its handlers never wait on the database.
inline constexpr std::size_t kInstanciasAdministracao = 4;

class TAdministracao {
 public:
  // With "Administracao"/"Porta" above 0: the readiness checker and the listener on
  // Endereco:Porta. A port that cannot be bound is written to the log and stderr, and the
  // process goes on without the admin port; nothing here raises. The threads made here
  // block the stop and reload signals, so those reach the threads that wait for them. Call
  // from the main thread.
  TAdministracao();
  explicit TAdministracao(const config::TConfigServidor& config);
  // Stops the listener (waiting for requests being served) and the checker.
  ~TAdministracao();
  TAdministracao(const TAdministracao&) = delete;
  TAdministracao& operator=(const TAdministracao&) = delete;

  // Whether the admin port is listening, and on which port.
  bool Ativa() const { return listener_ != nullptr; }
  std::uint16_t Porta() const;

 private:
  std::unique_ptr<TVerificadorProntidao> verificador_;
  std::unique_ptr<web::TRequestPool> pool_;
  std::unique_ptr<web::THTTPListener> listener_;  // last: stopped before the pool goes
};

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UADMINISTRACAO_H
