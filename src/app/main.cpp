// Process entry point; the start-up sequence lives in the app library.
#include <iostream>
#include <string>
#include <string_view>

#include "app/uAdministracao.h"
#include "app/uTamrixRestServer.h"
#include "config/uEmbaralharTexto.h"
#include "util/uMemoria.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--embaralhar") {
    // The scrambled form of each line of standard input, for config.ini's Usuario and Senha;
    // read from stdin, never from the command line, which any user can see in ps.
    for (std::string linha; std::getline(std::cin, linha);) {
      if (!linha.empty() && linha.back() == '\r') linha.pop_back();
      std::cout << tamrix::config::EmbaralharTexto(linha, true) << '\n';
    }
    return 0;
  }
  tamrix::util::FixarLimiteBlocosGrandes();
  // The admin port answers for the whole life of the process, through every start and stop
  // of the server, in the window as headless.
  tamrix::app::TAdministracao administracao;
  return tamrix::app::ExecutarServidor(argc, argv);
}
