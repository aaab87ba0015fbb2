// The admin web module on a real listener with a pool of its own: the three paths, the
// readiness states it is handed, and what it answers to anything else.
#include "web/uwmAdministracao.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "support/httpcliente.h"
#include "web/uHTTPListener.h"
#include "web/uRequestPool.h"

namespace tamrix::web {
namespace {

class Administracao : public ::testing::Test {
 protected:
  void SetUp() override {
    TwmAdministracaoConfig c;
    c.Prontidao = [this] {
      std::lock_guard lock(mutex_);
      return estado_;
    };
    pool_.SetWebModuleClass(TwmAdministracao::Fabrica(std::move(c)));
    listener_.Bindings().push_back({"127.0.0.1", 0});
    listener_.SetActive(true);
    porta_ = listener_.LocalPorts().front();
  }
  void TearDown() override { listener_.SetActive(false); }

  std::string Pedir(const std::string& metodo, const std::string& alvo) {
    return testes::TrocarHTTP(
        porta_, metodo + " " + alvo + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
  }

  void Definir(TProntidao p) {
    std::lock_guard lock(mutex_);
    estado_ = std::move(p);
  }

  std::mutex mutex_;  // the handler runs on the listener's threads
  TProntidao estado_;
  TRequestPool pool_{2};
  THTTPListener listener_{pool_};
  std::uint16_t porta_ = 0;
};

bool Contem(const std::string& s, const std::string& trecho) {
  return s.find(trecho) != std::string::npos;
}

TEST_F(Administracao, LiveAndMetrics) {
  const std::string live = Pedir("GET", "/live");
  EXPECT_TRUE(Contem(live, "HTTP/1.1 200 OK\r\n")) << live;
  EXPECT_TRUE(Contem(live, "Content-Type: application/json; charset=utf-8\r\n")) << live;
  EXPECT_TRUE(Contem(live, "\r\n\r\n{\"status\":\"vivo\"}")) << live;

  const std::string m = Pedir("GET", "/metrics");
  EXPECT_TRUE(Contem(m, "HTTP/1.1 200 OK\r\n")) << m;
  EXPECT_TRUE(Contem(m, "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n")) << m;
  EXPECT_TRUE(Contem(m, "# TYPE tamrix_rest_requests_total counter\n")) << m;
  EXPECT_TRUE(Contem(m, "\nprocess_open_fds ")) << m;
}

TEST_F(Administracao, ReadyFollowsTheStateItIsGiven) {
  using enum TProntidao::TEstado;
  const struct {
    TProntidao::TEstado Estado;
    std::string Motivo, Status, Corpo;
  } casos[] = {
      {Pronto, "", "200 OK", R"({"status":"pronto"})"},
      {Indisponivel, "banco principal não responde: recusado", "503 Service Unavailable",
       R"({"status":"indisponivel","motivo":"banco principal n\u00E3o responde: recusado"})"},
      {Encerrando, "o servidor está encerrando.", "503 Service Unavailable",
       R"({"status":"encerrando","motivo":"o servidor est\u00E1 encerrando."})"},
  };
  for (const auto& c : casos) {
    Definir({c.Estado, c.Motivo});
    const std::string r = Pedir("GET", "/ready");
    EXPECT_TRUE(Contem(r, "HTTP/1.1 " + c.Status + "\r\n")) << r;
    EXPECT_TRUE(Contem(r, "\r\n\r\n" + c.Corpo)) << r;
    EXPECT_TRUE(Contem(r, "Cache-Control: no-store\r\n")) << r;
  }
}

TEST_F(Administracao, OtherPathsAndMethods) {
  for (const char* alvo : {"/", "/tamrix/rest/TsmComum/InverterString/abc", "/live/x", "/Metrics"})
    EXPECT_TRUE(Contem(Pedir("GET", alvo), "HTTP/1.1 404 Not Found\r\n")) << alvo;
  for (const char* metodo : {"POST", "PUT", "DELETE"}) {
    const std::string r = Pedir(metodo, "/ready");
    EXPECT_TRUE(Contem(r, "HTTP/1.1 405 Method Not Allowed\r\n")) << metodo << r;
    EXPECT_TRUE(Contem(r, "Allow: GET, HEAD\r\n")) << r;
  }
  const std::string head = Pedir("HEAD", "/live");
  EXPECT_TRUE(Contem(head, "HTTP/1.1 200 OK\r\n")) << head;
  EXPECT_FALSE(Contem(head, "vivo")) << head;
}

}  // namespace
}  // namespace tamrix::web
