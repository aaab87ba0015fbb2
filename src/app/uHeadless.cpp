#include "app/uHeadless.h"

#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/uControleServidor.h"
#include "config/uConfigServidor.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::app {

namespace {

sigset_t SinaisParada() {
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, SIGINT);
  sigaddset(&s, SIGTERM);
  return s;
}

void Avisar(const std::string& texto) {
  std::fprintf(stderr, "tamrix-rest-server: %s\n", texto.c_str());
}

// The last error line of the log: why the main database did not open.
std::string UltimoErroLog() {
  const auto linhas = diagnostics::TLogServidorSingleton::GetInstance().Linhas();
  for (auto it = linhas.rbegin(); it != linhas.rend(); ++it)
    if (it->rfind("* ERRO", 0) == 0) return *it;
  return {};
}

}  // namespace

void BloquearSinaisParada() {
  // A shell starts background jobs with SIGINT ignored; an ignored signal never reaches
  // sigwait, so the default action is put back (it never runs while the signal is blocked).
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  const sigset_t s = SinaisParada();
  pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

int ExecutarSemJanela() {
  auto servidor = CriarServidorHTTP();
  const std::string porta = std::to_string(config::TConfigServidorSingleton::GetInstance().Porta());
  try {
    if (!IniciarServidorHTTP(*servidor, porta)) {
      PararServidorHTTP(*servidor);
      const std::string erro = UltimoErroLog();
      Avisar("o banco principal não abriu; servidor parado." + (erro.empty() ? "" : " " + erro));
      return 1;
    }
  } catch (const std::exception& e) {
    Avisar(diagnostics::MensagemExcecao(e));
    // Only the listener failing leaves it inactive; a failure after the main connection
    // opened keeps the server running, as the window does.
    if (!servidor->Active()) return 1;
  }
  std::printf(
      "TAMRIX Rest Server: ouvindo em http://localhost:%s/ (SIGINT ou SIGTERM para parar)\n",
      porta.c_str());
  std::fflush(stdout);

  const sigset_t s = SinaisParada();
  int sinal = 0;
  while (sigwait(&s, &sinal) != 0) {
  }
  PararServidorHTTP(*servidor);
  std::printf("TAMRIX Rest Server: parado (%s).\n", sinal == SIGINT ? "SIGINT" : "SIGTERM");
  std::fflush(stdout);
  return 0;
}

}  // namespace tamrix::app
