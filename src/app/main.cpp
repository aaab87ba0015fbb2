// Process entry point; the start-up sequence lives in the app library.
#include "app/uAdministracao.h"
#include "app/uTamrixRestServer.h"
#include "util/uMemoria.h"

int main(int argc, char** argv) {
  tamrix::util::FixarLimiteBlocosGrandes();
  // The admin port answers for the whole life of the process, through every start and stop
  // of the server, in the window as headless.
  tamrix::app::TAdministracao administracao;
  return tamrix::app::ExecutarServidor(argc, argv);
}
