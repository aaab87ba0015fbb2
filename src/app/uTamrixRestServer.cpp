#include "app/uTamrixRestServer.h"

#include <signal.h>

#include <cstdio>
#include <exception>
#include <string_view>

#include "app/uHeadless.h"
#include "app/uInicializacao.h"
#include "app/ufServidorApp.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::app {

bool PedidoSemJanela(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "--headless") return true;
  return false;
}

int ExecutarServidor(int argc, const char* const* argv) {
  try {
    bool semJanela = PedidoSemJanela(argc, argv);
    if (!semJanela && !OpenDisplay()) {
      std::fprintf(stderr, "tamrix-rest-server: sem tela disponível; rodando sem janela.\n");
      semJanela = true;
    }
    // Before the first thread, so that every thread inherits the mask.
    if (semJanela) BloquearSinaisParada();
    // A client that goes away mid-answer must not end the process.
    signal(SIGPIPE, SIG_IGN);

    TInicializacao inicializacao;
    if (semJanela) return ExecutarSemJanela();
    TfServidorApp fServidorApp;
    return ExecutarJanela(fServidorApp);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tamrix-rest-server: %s\n", diagnostics::MensagemExcecao(e).c_str());
  }
  return 1;
}

}  // namespace tamrix::app
