// Process entry point; the start-up sequence lives in the app library.
#include "app/uTamrixRestServer.h"

int main(int argc, char** argv) {
  return tamrix::app::ExecutarServidor(argc, argv);
}
