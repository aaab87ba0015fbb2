// The listener serving the smallest REST answer from a stub web module, for bench/http/run.
//   bench_http PORT [IDLE_MS]
// IDLE_MS is how long a connection thread waits for the next connection (0: a new thread for
// every connection). Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "web/uHTTPListener.h"

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
    std::fprintf(stderr, "uso: bench_http PORTA [OCIO_MS]\n");
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
  listener.SetActive(true);
  std::printf("ready\n");
  std::fflush(stdout);
  int sinal = 0;
  sigwait(&sinais, &sinal);
  listener.SetActive(false);
  return 0;
}
