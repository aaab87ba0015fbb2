// The listener serving the smallest REST answer from a stub web module, for bench/http/run.
//   bench_http PORT [IDLE_MS [TLS_PORT CERT KEY]]
// IDLE_MS is how long a connection thread waits for the next connection (0: a new thread for
// every connection). With TLS_PORT, the same answer is also served over TLS there with the
// PEM certificate and key. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "web/uHTTPListener.h"
#include "web/uTLS.h"

namespace {

class TwmBench : public tamrix::web::TWebModuleBase {
 public:
  bool HandleRequest(tamrix::util::TWebRequest&, tamrix::util::TWebResponse& resposta) override {
    resposta.Content = R"({"result":["ok"]})";
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "uso: bench_http PORTA [OCIO_MS [PORTA_TLS CERTIFICADO CHAVE]]\n");
    return 2;
  }
  sigset_t sinais;
  sigemptyset(&sinais);
  sigaddset(&sinais, SIGINT);
  sigaddset(&sinais, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &sinais, nullptr);  // every thread started below inherits it

  tamrix::web::TRequestPool pool;
  pool.SetWebModuleClass<TwmBench>();
  tamrix::web::THTTPListener listener(pool);
  tamrix::web::THTTPListenerSettings s;
  if (argc > 2) s.OcioThread = std::chrono::milliseconds(std::atoi(argv[2]));
  listener.SetSettings(s);
  listener.Bindings() = {{"127.0.0.1", static_cast<std::uint16_t>(std::atoi(argv[1]))}};
  if (argc > 5) {
    const auto portaTLS = static_cast<std::uint16_t>(std::atoi(argv[3]));
    listener.SetTLS(portaTLS, std::make_shared<tamrix::web::TContextoTLS>(argv[4], argv[5]));
    listener.Bindings().push_back({"127.0.0.1", portaTLS, true});
  }
  listener.SetActive(true);
  std::printf("ready\n");
  std::fflush(stdout);
  int sinal = 0;
  sigwait(&sinais, &sinal);
  listener.SetActive(false);
  return 0;
}
