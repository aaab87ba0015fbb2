#include "app/uAdministracao.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTraduzirErro.h"
#include "web/uwmAdministracao.h"

namespace tamrix::app {

namespace {

// Blocks the process's stop and reload signals in the calling thread while it lives, so that
// threads made meanwhile inherit the mask; the thread's own mask comes back after.
class TSinaisBloqueados {
 public:
  TSinaisBloqueados() {
    sigset_t s;
    sigemptyset(&s);
    for (int sinal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) sigaddset(&s, sinal);
    pthread_sigmask(SIG_BLOCK, &s, &anterior_);
  }
  ~TSinaisBloqueados() { pthread_sigmask(SIG_SETMASK, &anterior_, nullptr); }
  TSinaisBloqueados(const TSinaisBloqueados&) = delete;
  TSinaisBloqueados& operator=(const TSinaisBloqueados&) = delete;

 private:
  sigset_t anterior_;
};

// Small limits: the admin port serves probes and scrapes, never bodies.
web::THTTPListenerSettings LimitesAdministracao() {
  web::THTTPListenerSettings s;
  s.TempoLeitura = std::chrono::seconds(10);
  s.TempoEscrita = std::chrono::seconds(30);
  s.TamanhoMaximoCorpo = 64u << 10;
  s.TamanhoMaximoCabecalho = 16u << 10;
  s.MaximoConexoes = 64;
  s.MaximoConexoesPorIP = 0;
  s.Backlog = 64;
  return s;
}

}  // namespace

TAdministracao::TAdministracao()
    : TAdministracao(config::TConfigServidorSingleton::GetInstance()) {}

TAdministracao::TAdministracao(const config::TConfigServidor& config) {
  const std::int32_t porta = config.PortaAdministracao();
  if (porta <= 0 || porta > 65535) return;
  const std::string endereco = config.EnderecoAdministracao();
  TSinaisBloqueados sinais;
  try {
    verificador_ = std::make_unique<TVerificadorProntidao>(ParametrosBancoPrincipal(config));
    pool_ = std::make_unique<web::TRequestPool>(kInstanciasAdministracao,
                                                std::chrono::milliseconds(1000));
    pool_->NomearMetricas("administracao");
    web::TwmAdministracaoConfig c;
    c.Prontidao = [v = verificador_.get()] { return v->Estado(); };
    pool_->SetWebModuleClass(web::TwmAdministracao::Fabrica(std::move(c)));
    listener_ = std::make_unique<web::THTTPListener>(*pool_);
    listener_->Bindings().push_back({endereco, static_cast<std::uint16_t>(porta)});
    listener_->SetSettings(LimitesAdministracao());
    listener_->SetActive(true);
  } catch (const std::exception& e) {
    listener_.reset();
    pool_.reset();
    verificador_.reset();
    const std::string texto =
        "Porta de administração " + endereco + ":" + std::to_string(porta) +
        " não aberta; o servidor segue sem ela: " + diagnostics::TraduzirErro(e);
    std::fprintf(stderr, "tamrix-rest-server: %s\n", texto.c_str());
    try {
      diagnostics::GravarLog(texto, diagnostics::tlErro);
    } catch (const std::exception&) {
      // stderr already has it.
    }
    return;
  }
  const bool ipv6 = endereco.find(':') != std::string::npos;
  std::printf("TAMRIX Rest Server: administração em http://%s%s%s:%d/ (live, ready, metrics)\n",
              ipv6 ? "[" : "", endereco.c_str(), ipv6 ? "]" : "", porta);
  std::fflush(stdout);
}

TAdministracao::~TAdministracao() {
  if (listener_) listener_->SetActive(false);
  listener_.reset();
  pool_.reset();
  verificador_.reset();
}

std::uint16_t TAdministracao::Porta() const {
  if (!listener_) return 0;
  const auto portas = listener_->LocalPorts();
  return portas.empty() ? 0 : portas.front();
}

}  // namespace tamrix::app
