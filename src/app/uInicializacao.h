// The process-wide objects of start-up, made in their fixed order before any window or
// request thread exists and freed in the reverse order at exit.
#ifndef TAMRIX_APP_UINICIALIZACAO_H
#define TAMRIX_APP_UINICIALIZACAO_H

#include <memory>

#include "core/udmServidor.h"

namespace tamrix::app {

// The registrations handed to the data module: TsmBase and the ten server-method classes.
core::TOpcoesDmServidor OpcoesDmServidor();

class TInicializacao {
 public:
  // In this order: the configuration (reads config.ini), the log, the events writer and the
  // tenant directory (both without connection), dmServidor with its registrations (REST
  // server stopped), and TwmServidor registered as the web-module class of the listener's
  // request pool, sized and given its wait from the configuration. Main thread, before any
  // other thread exists.
  TInicializacao();
  // Frees dmServidor, then the tenant directory, the events writer, the log and the
  // configuration. Every listener must be inactive by then (no request may still run).
  ~TInicializacao();
  TInicializacao(const TInicializacao&) = delete;
  TInicializacao& operator=(const TInicializacao&) = delete;

  core::TdmServidor& DmServidor() { return *FoDmServidor; }

 private:
  std::unique_ptr<core::TdmServidor> FoDmServidor;
};

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UINICIALIZACAO_H
