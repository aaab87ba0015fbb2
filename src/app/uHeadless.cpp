#include "app/uHeadless.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <future>
#include <string>

#include "app/uControleServidor.h"
#include "app/uProntidao.h"
#include "config/uConfigServidor.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::app {

namespace {

using Relogio = std::chrono::steady_clock;

sigset_t SinaisServidor() {
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, SIGINT);
  sigaddset(&s, SIGTERM);
  sigaddset(&s, SIGHUP);
  return s;
}

const char* NomeSinal(int sinal) {
  return sinal == SIGINT ? "SIGINT" : "SIGTERM";
}

void Informar(const std::string& texto) {
  std::printf("TAMRIX Rest Server: %s\n", texto.c_str());
  std::fflush(stdout);
}

// The reload of a SIGHUP reads the main database: it runs on a thread of its own so a slow
// database never holds the signal wait; one at a time (a SIGHUP meanwhile is dropped).
std::future<void> recarga;

void Recarregar(web::THTTPListener& servidor) {
  if (recarga.valid() && recarga.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    Informar("SIGHUP ignorado: a recarga anterior ainda está em andamento.");
    return;
  }
  recarga = std::async(std::launch::async, [&servidor] {
    Informar(RecarregarDiretorioBancos());
    if (const std::string texto = RecarregarCertificadoHTTPS(servidor); !texto.empty())
      Informar(texto);
  });
}

// Waits for a stop signal until prazo (for ever without one) and returns it, or 0 when prazo
// passed first. A SIGHUP meanwhile reloads the tenant directory and the HTTPS certificate,
// and the wait goes on.
int EsperarSinal(web::THTTPListener& servidor, const sigset_t& s,
                 const Relogio::time_point* prazo = nullptr) {
  for (;;) {
    int sinal = 0;
    if (prazo == nullptr) {
      if (sigwait(&s, &sinal) != 0) continue;
    } else {
      const auto falta = *prazo - Relogio::now();
      if (falta <= Relogio::duration::zero()) return 0;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(falta).count();
      const timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      sinal = sigtimedwait(&s, nullptr, &t);
      if (sinal < 0) continue;  // EAGAIN (time's up: checked above) or EINTR
    }
    if (sinal != SIGHUP) return sinal;
    Recarregar(servidor);
  }
}

// The drain after the first stop signal; true when a second one asked to stop at once.
bool Drenar(web::THTTPListener& servidor, const sigset_t& s) {
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  const auto espera = std::chrono::seconds(config.EsperaDrenagem());
  if (espera.count() > 0) {
    Informar("atendendo por mais " + std::to_string(espera.count()) +
             " s antes de recusar novas conexões.");
    const auto prazo = Relogio::now() + espera;
    if (EsperarSinal(servidor, s, &prazo) != 0) return true;
  }
  servidor.PararAceitar();
  const auto prazo = Relogio::now() + std::chrono::seconds(config.TempoEncerramento());
  // The count is polled: a second signal must cut the wait short.
  while (servidor.ConnectionCount() > 0 && Relogio::now() < prazo) {
    const auto passo = std::min(prazo, Relogio::now() + std::chrono::milliseconds(50));
    if (EsperarSinal(servidor, s, &passo) != 0) return true;
  }
  if (servidor.ConnectionCount() > 0)
    Informar(std::to_string(servidor.ConnectionCount()) +
             " conexão(ões) ainda em andamento ao fim de TempoEncerramento; encerradas.");
  return false;
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
  signal(SIGHUP, SIG_DFL);
  const sigset_t s = SinaisServidor();
  pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

int ExecutarSemJanela() {
  auto servidor = CriarServidorHTTP(true);
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
  const std::string https =
      servidor->PortaTLS() != 0
          ? " e https://localhost:" + std::to_string(servidor->PortaTLS()) + "/"
          : "";
  Informar("ouvindo em http://localhost:" + porta + "/" + https +
           " (SIGINT ou SIGTERM para parar, SIGHUP recarrega o diretório de bancos" +
           (https.empty() ? "" : " e o certificado") + ")");

  const sigset_t s = SinaisServidor();
  const int sinal = EsperarSinal(*servidor, s);
  MarcarEncerramento();  // readiness answers 503 from here on: balancers stop sending
  Informar(std::string(NomeSinal(sinal)) + " recebido: encerrando.");
  if (Drenar(*servidor, s)) Informar("segundo sinal: parando já.");
  // From here on a further SIGINT or SIGTERM ends the process (their default action): the
  // stop sequence waits for calls still in the database, bounded only by its time limits.
  sigset_t parar;
  sigemptyset(&parar);
  sigaddset(&parar, SIGINT);
  sigaddset(&parar, SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &parar, nullptr);
  if (recarga.valid()) recarga.wait();  // it uses the main connection the stop closes
  PararServidorHTTP(*servidor);
  Informar(std::string("parado (") + NomeSinal(sinal) + ").");
  return 0;
}

}  // namespace tamrix::app
