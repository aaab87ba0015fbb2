// Process entry point; the start-up sequence lives in the app library.
#include "app/uTamrixRestServer.h"
#include "util/uMemoria.h"

int main(int argc, char** argv) {
  tamrix::util::FixarLimiteBlocosGrandes();
  return tamrix::app::ExecutarServidor(argc, argv);
}
