// The first half of a graceful stop over real sockets: new connections refused at once, the
// request in progress still answered, the listener ended afterwards.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>

#include "support/httpcliente.h"
#include "web/uHTTPListener.h"

namespace tamrix::web {
namespace {

using namespace std::chrono_literals;
using testes::TClienteHTTP;

// Requests to /espera block until liberar.
struct TPortao {
  std::mutex m;
  std::condition_variable cv;
  int esperando = 0;
  bool liberar = false;
};
TPortao* gPortao = nullptr;

class TwmPortao : public TWebModuleBase {
 public:
  bool HandleRequest(util::TWebRequest& req, util::TWebResponse& resp) override {
    if (req.PathInfo == "/espera") {
      std::unique_lock l(gPortao->m);
      ++gPortao->esperando;
      gPortao->cv.notify_all();
      gPortao->cv.wait(l, [] { return gPortao->liberar; });
    }
    resp.Content = "ok" + req.PathInfo;
    return true;
  }
};

bool Recusa(std::uint16_t porta) {
  try {
    TClienteHTTP c(porta);
    return false;
  } catch (const std::runtime_error&) {
    return true;
  }
}

TEST(ListenerDrenagem, RefusesNewConnectionsWhileTheOneInProgressIsAnswered) {
  TPortao portao;
  gPortao = &portao;
  TRequestPool pool;
  pool.SetWebModuleClass<TwmPortao>();
  THTTPListener listener(pool);
  listener.Bindings() = {{"127.0.0.1", 0}};
  listener.SetActive(true);
  const std::uint16_t porta = listener.LocalPorts().at(0);

  auto emCurso = std::async(std::launch::async, [porta] {
    return testes::TrocarHTTP(porta, "GET /espera HTTP/1.1\r\nHost: h\r\n\r\n");
  });
  {
    std::unique_lock l(portao.m);
    ASSERT_TRUE(portao.cv.wait_for(l, 10s, [&] { return portao.esperando == 1; }));
  }
  listener.PararAceitar();
  EXPECT_TRUE(Recusa(porta));
  EXPECT_TRUE(listener.Active());
  EXPECT_EQ(listener.ConnectionCount(), 1u);

  {
    std::lock_guard l(portao.m);
    portao.liberar = true;
    portao.cv.notify_all();
  }
  const std::string r = emCurso.get();
  EXPECT_EQ(r.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_NE(r.find("ok/espera"), std::string::npos) << r;
  for (int i = 0; i < 1000 && listener.ConnectionCount() != 0; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(listener.ConnectionCount(), 0u);
  listener.SetActive(false);
  EXPECT_FALSE(listener.Active());
  // Active again afterwards, on a port of its own choosing.
  listener.SetActive(true);
  EXPECT_NE(testes::TrocarHTTP(listener.LocalPorts().at(0), "GET /x HTTP/1.1\r\nHost: h\r\n\r\n")
                .find("ok/x"),
            std::string::npos);
  listener.SetActive(false);
  gPortao = nullptr;
}

}  // namespace
}  // namespace tamrix::web
