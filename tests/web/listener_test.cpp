// The listener over real sockets: framing, the failure table, the answer's form, the request
// pool and the limits, with a stub web module that records what it was handed.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "diagnostics/uExcecoes.h"
#include "support/httpcliente.h"
#include "util/uBase64.h"
#include "web/uHTTPAcceptor.h"
#include "web/uHTTPListener.h"

namespace tamrix::web {
namespace {

using testes::TClienteHTTP;
using testes::TrocarHTTP;
using namespace std::chrono_literals;

// What the stub saw; shared by every instance of one test.
struct TRegistro {
  std::mutex m;
  util::TWebRequest ultimo;
  int atendidos = 0;
  int encerrados = 0;
  std::vector<std::string> ordem;          // queries of /fila, in the order they were handled
  std::chrono::milliseconds demoraFim{0};  // how long OnRequestDone takes
  bool mesmaThread = true;                 // every OnRequestDone ran on its HandleRequest's thread
  // Requests to /espera block until liberar.
  std::condition_variable cv;
  int esperando = 0;
  bool liberar = false;
};
TRegistro* gRegistro = nullptr;

class TwmTeste : public TWebModuleBase {
 public:
  bool HandleRequest(util::TWebRequest& req, util::TWebResponse& resp) override {
    thread_ = std::this_thread::get_id();
    {
      std::lock_guard l(gRegistro->m);
      gRegistro->ultimo = req;
      ++gRegistro->atendidos;
    }
    const std::string& p = req.PathInfo;
    if (p == "/espera") {
      std::unique_lock l(gRegistro->m);
      ++gRegistro->esperando;
      gRegistro->cv.notify_all();
      gRegistro->cv.wait(l, [] { return gRegistro->liberar; });
      --gRegistro->esperando;
      resp.Content = "liberado";
    } else if (p == "/fila") {
      std::lock_guard l(gRegistro->m);
      gRegistro->ordem.push_back(req.Query);
    } else if (p == "/grande") {
      resp.ContentStream = std::string(48u << 20, 'g');
    } else if (p == "/404") {
      resp.StatusCode = 404;
    } else if (p == "/erro") {
      throw diagnostics::Exception("Falha no módulo");
    } else if (p == "/latin") {
      resp.Content = "Olá € 😀";
    } else if (p == "/utf8") {
      resp.ContentType = "text/plain; charset=utf-8";
      resp.Content = "Olá €";
    } else if (p == "/stream") {
      resp.ContentType = "image/gif";
      resp.ContentStream = std::string("GIF\0\xff", 5);
    } else if (p == "/cabecalhos") {
      resp.StatusCode = 201;
      resp.ReasonString = "Criado\r\nX-Injetado: 1";
      resp.Content = "{}";
      resp.SetCustomHeader("Pragma", "dssession=1");
      resp.SetCustomHeader("X-Outro", "b");
      resp.Location = "/novo";
      resp.Expires = std::chrono::system_clock::time_point(784111777s);
      resp.LastModified = std::chrono::system_clock::time_point(784111777s);
      resp.Cookies.push_back({"nome", "um valor;x"});
    } else if (p == "/redirect") {
      resp.Content = "descartado";
      resp.SendRedirect("/");
    } else {
      resp.Content = "ok:" + req.Content;
    }
    return true;
  }
  void OnRequestDone() noexcept override {
    std::unique_lock l(gRegistro->m);
    const auto demora = gRegistro->demoraFim;
    l.unlock();
    std::this_thread::sleep_for(demora);  // like closing a tenant connection
    l.lock();
    ++gRegistro->encerrados;
    if (thread_ != std::this_thread::get_id()) gRegistro->mesmaThread = false;
  }

 private:
  std::thread::id thread_;
};

// A raw request and how its answer must start ("" = closed without an answer).
struct TCasoResposta {
  const char* nome;
  std::string pedido;
  std::string inicio;
};

class Listener : public ::testing::Test {
 protected:
  void SetUp() override {
    gRegistro = &registro_;
    pool_.SetWebModuleClass<TwmTeste>();
    Ativar();
  }
  void TearDown() override {
    Liberar();
    listener_.SetActive(false);
    gRegistro = nullptr;
  }
  void Ativar(THTTPListenerSettings s = {}) {
    listener_.SetActive(false);
    listener_.Bindings() = {{"127.0.0.1", 0}};
    listener_.SetSettings(s);
    listener_.SetActive(true);
    porta_ = listener_.LocalPorts().at(0);
  }
  util::TWebRequest Ultimo() {
    std::lock_guard l(registro_.m);
    return registro_.ultimo;
  }
  int Atendidos() {
    std::lock_guard l(registro_.m);
    return registro_.atendidos;
  }
  void EsperarBloqueados(int n) {
    std::unique_lock l(registro_.m);
    ASSERT_TRUE(registro_.cv.wait_for(l, 10s, [&] { return registro_.esperando == n; }));
  }
  void Liberar() {
    std::lock_guard l(registro_.m);
    registro_.liberar = true;
    registro_.cv.notify_all();
  }
  // Waits (a generous while) until the listener serves n connections.
  void EsperarConexoes(std::size_t n) {
    for (int i = 0; i < 1000 && listener_.ConnectionCount() != n; ++i)
      std::this_thread::sleep_for(10ms);
    ASSERT_EQ(listener_.ConnectionCount(), n);
  }
  void EsperarNaFila(std::size_t n) {
    for (int i = 0; i < 1000 && pool_.Waiting() != n; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(pool_.Waiting(), n);
  }
  std::string Trocar(std::string_view pedido) { return TrocarHTTP(porta_, pedido); }
  // Each request on a connection of its own: the answer starts as the case says, and the
  // server closes.
  template <std::size_t N>
  void ConferirRespostas(const TCasoResposta (&casos)[N]) {
    for (const auto& caso : casos) {
      SCOPED_TRACE(caso.nome);
      TClienteHTTP c(porta_);
      c.Enviar(caso.pedido);
      const std::string r = c.LerTudo();
      EXPECT_TRUE(c.Fechou());
      EXPECT_EQ(r.substr(0, caso.inicio.size()), caso.inicio);
      if (caso.inicio.empty()) {
        EXPECT_EQ(r, "");
      }
    }
  }
  std::string Get(std::string_view caminho, std::string_view extra = "") {
    return Trocar("GET " + std::string(caminho) + " HTTP/1.1\r\nHost: h\r\n" + std::string(extra) +
                  "\r\n");
  }

  TRegistro registro_;
  TRequestPool pool_;
  THTTPListener listener_{pool_};
  std::uint16_t porta_ = 0;
};

std::string Corpo(const std::string& resposta) {
  const std::size_t fim = resposta.find("\r\n\r\n");
  return fim == std::string::npos ? std::string() : resposta.substr(fim + 4);
}

std::string Cabecalho(const std::string& resposta) {
  return resposta.substr(0, resposta.find("\r\n\r\n") + 2);
}

// The header block with the Date line's value blanked out.
std::string SemData(std::string cab) {
  const std::size_t d = cab.find("\r\nDate: ");
  if (d != std::string::npos) {
    const std::size_t fim = cab.find("\r\n", d + 2);
    cab.replace(d + 8, fim - d - 8, "*");
  }
  return cab;
}

TEST_F(Listener, AnswerHasFixedHeaderOrderAndClosesEvenForKeepAlive) {
  TClienteHTTP c(porta_);
  c.Enviar("GET /cabecalhos HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\n\r\n");
  const std::string r = c.LerTudo();
  EXPECT_TRUE(c.Fechou());
  EXPECT_EQ(SemData(r),
            "HTTP/1.1 201 Criado  X-Injetado: 1\r\n"
            "Connection: close\r\n"
            "Content-Type: text/html; charset=ISO-8859-1\r\n"
            "Content-Length: 2\r\n"
            "Date: *\r\n"
            "Expires: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
            "Pragma: dssession=1\r\n"
            "X-Outro: b\r\n"
            "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
            "Location: /novo\r\n"
            "Set-Cookie: nome=um%20valor%3Bx\r\n"
            "\r\n{}");
  EXPECT_EQ(Ultimo().GetFieldByName("Connection"), "keep-alive");
}

TEST_F(Listener, PlainAnswerAndStatusWithoutContent) {
  const std::string r = Get("/");
  EXPECT_EQ(SemData(r),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html; "
            "charset=ISO-8859-1\r\nContent-Length: 3\r\nDate: *\r\n\r\nok:");
  const std::string nf = Get("/404");
  EXPECT_EQ(SemData(nf),
            "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n"
            "Date: *\r\n\r\n");
  const std::string red = Get("/redirect");
  EXPECT_EQ(SemData(red),
            "HTTP/1.1 302 Moved Temporarily\r\nConnection: close\r\n"
            "Content-Length: 0\r\nDate: *\r\nLocation: /\r\n\r\n");
}

TEST_F(Listener, ContentIsEncodedInTheCharsetOfItsType) {
  EXPECT_EQ(Corpo(Get("/latin")), "Ol\xe1 ? ?");
  const std::string u = Get("/utf8");
  EXPECT_NE(u.find("Content-Type: text/plain; charset=utf-8\r\nContent-Length: 8\r\n"),
            std::string::npos);
  EXPECT_EQ(Corpo(u), "Olá €");
  const std::string s = Get("/stream");
  EXPECT_NE(s.find("Content-Type: image/gif\r\nContent-Length: 5\r\n"), std::string::npos);
  EXPECT_EQ(Corpo(s), std::string("GIF\0\xff", 5));
}

TEST_F(Listener, HeadSendsTheLengthButNoBody) {
  const std::string g = Get("/latin");
  const std::string h = Trocar("HEAD /latin HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(SemData(h), SemData(Cabecalho(g)) + "\r\n");
  EXPECT_NE(h.find("Content-Length: 7\r\n"), std::string::npos);
}

TEST_F(Listener, RequestValuesHandedToTheWebModule) {
  Trocar(
      "get /a%20b/%C3%A9%u00e7+/%zz?x=%20y&z HTTP/1.1\r\nHost: nome:9000\r\n"
      "Cookie: a=1; b=2\r\nCookie: c=3\r\nUser-Agent: teste\r\nX-Longo: um\r\n  dois\r\n"
      "linha sem dois-pontos\r\n\r\n");
  util::TWebRequest r = Ultimo();
  EXPECT_EQ(r.Method, "GET");
  EXPECT_EQ(r.MethodType, util::TMethodType::mtGet);
  EXPECT_EQ(r.ProtocolVersion, "HTTP/1.1");
  EXPECT_EQ(r.RawPathInfo, "/a%20b/%C3%A9%u00e7+/%zz");
  EXPECT_EQ(r.PathInfo, "/a b/éç+/%zz");
  EXPECT_EQ(r.Query, "x=%20y&z");
  EXPECT_EQ(r.Host, "nome");
  EXPECT_EQ(r.ServerPort, "9000");
  EXPECT_EQ(r.RemoteAddr, "127.0.0.1");
  EXPECT_EQ(r.CookieFields, (std::vector<std::string>{"a=1", "b=2", "c=3"}));
  EXPECT_EQ(r.GetFieldByName("user-agent"), "teste");
  EXPECT_EQ(r.GetFieldByName("X-Longo"), "um dois");
  EXPECT_FALSE(r.DeclaredBody);
  EXPECT_EQ(r.Content, "x=%20y&z");

  // HTTP/1.0 needs no Host: the port is then the listening one, the status line still 1.1.
  const std::string r10 = Trocar("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(r10.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(Ultimo().Host, "");
  EXPECT_EQ(Ultimo().ServerPort, std::to_string(porta_));

  // An absolute URL gives the host when the header is missing; "*" stays "*".
  Trocar("OPTIONS http://outro:81/p?q HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Ultimo().Host, "outro");
  EXPECT_EQ(Ultimo().ServerPort, "81");
  EXPECT_EQ(Ultimo().RawPathInfo, "/p");
  EXPECT_EQ(Ultimo().MethodType, util::TMethodType::mtAny);
  Trocar("OPTIONS * HTTP/1.1\r\nHost: [::1]:8080\r\n\r\n");
  EXPECT_EQ(Ultimo().PathInfo, "*");
  EXPECT_EQ(Ultimo().Host, "[::1]");
  EXPECT_EQ(Ultimo().ServerPort, "8080");
}

TEST_F(Listener, MethodOverrideOnlyForPost) {
  Trocar(
      "POST /x HTTP/1.1\r\nHost: h\r\nX-HTTP-Method-Override: put\r\nContent-Length: 2\r\n\r\nab");
  EXPECT_EQ(Ultimo().Method, "PUT");
  EXPECT_EQ(Ultimo().MethodType, util::TMethodType::mtPut);
  EXPECT_EQ(Ultimo().Content, "ab");
  Trocar(
      "POST /x HTTP/1.1\r\nHost: h\r\nX-HTTP-Method-Override:\r\nX-HTTP-Method: delete\r\n"
      "Content-Length: 0\r\n\r\n");
  EXPECT_EQ(Ultimo().Method, "DELETE");
  Get("/x", "X-HTTP-Method-Override: DELETE\r\n");
  EXPECT_EQ(Ultimo().Method, "GET");
}

TEST_F(Listener, BodyFraming) {
  // A POST that declares no body hands over its query string.
  Trocar("POST /x?x=5 HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(Ultimo().Content, "x=5");
  EXPECT_EQ(Ultimo().ContentLength(), 3u);
  EXPECT_FALSE(Ultimo().DeclaredBody);
  // Content-Length 0 declares an empty body: the query is not used.
  Trocar("POST /x?x=5 HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(Ultimo().Content, "");
  EXPECT_TRUE(Ultimo().DeclaredBody);
  // Chunks are joined; extensions and trailers dropped.
  const std::string r = Trocar(
      "PUT /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: Chunked\r\n\r\n"
      "5;nome=valor\r\nhello\r\nA\r\n world 123\r\n0\r\nX-Trailer: 1\r\n\r\n");
  EXPECT_EQ(Ultimo().Content, "hello world 123");
  EXPECT_EQ(Corpo(r), "ok:hello world 123");
  // A body sent in pieces, slower than one read.
  TClienteHTTP c(porta_);
  c.Enviar("PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 6\r\n\r\nabc");
  std::this_thread::sleep_for(50ms);
  c.Enviar("def");
  EXPECT_EQ(Corpo(c.LerTudo()), "ok:abcdef");
}

TEST_F(Listener, LargeBodyArrivesWhole) {
  std::string corpo(3 << 20, 'x');
  for (std::size_t i = 0; i < corpo.size(); i += 997) corpo[i] = static_cast<char>('a' + i % 26);
  const std::string r =
      Trocar("PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(corpo.size()) +
             "\r\n\r\n" + corpo);
  EXPECT_EQ(Ultimo().Content, corpo);
  EXPECT_EQ(Corpo(r).size(), corpo.size() + 3);
}

TEST_F(Listener, FailureTable) {
  const TCasoResposta casos[] = {
      {"request line without a space", "GET\r\nHost: h\r\n\r\n", ""},
      {"Bearer", "GET / HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer abc\r\n\r\n", ""},
      {"empty Authorization", "GET / HTTP/1.1\r\nHost: h\r\nAuthorization:\r\n\r\n", ""},
      {"1.1 without Host", "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"Expect other", "PUT / HTTP/1.1\r\nHost: h\r\nExpect: 200-ok\r\nContent-Length: 2\r\n\r\n",
       "HTTP/1.1 417 Expectation Failed\r\n"},
      {"gzip framing", "PUT / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip\r\n\r\nab",
       "HTTP/1.1 400 Bad Request\r\n"},
      {"POST with bytes, no length", "POST / HTTP/1.1\r\nHost: h\r\n\r\nabc",
       "HTTP/1.1 411 Length Required\r\n"},
      {"PUT with bytes, no length", "PUT / HTTP/1.0\r\n\r\nabc",
       "HTTP/1.1 411 Length Required\r\n"},
      {"bad Content-Length", "PUT / HTTP/1.1\r\nHost: h\r\nContent-Length: 1x\r\n\r\nab",
       "HTTP/1.1 400 Bad Request\r\n"},
      {"two Content-Lengths",
       "PUT / HTTP/1.1\r\nHost: h\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
       "HTTP/1.1 400 Bad Request\r\n"},
      {"bad chunk size", "PUT / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
       "HTTP/1.1 400 Bad Request\r\n"},
      {"chunk without its CRLF",
       "PUT / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n",
       "HTTP/1.1 400 Bad Request\r\n"},
      {"module throws", "GET /erro HTTP/1.1\r\nHost: h\r\n\r\n",
       "HTTP/1.1 500 Internal Server Error\r\n"},
  };
  ConferirRespostas(casos);
  EXPECT_EQ(Corpo(Get("/erro")),
            "Falha no m\xf3"
            "dulo");
  // Errors without a body carry a zero length.
  EXPECT_NE(Trocar("GET / HTTP/1.1\r\n\r\n").find("\r\nContent-Length: 0\r\n"), std::string::npos);
}

TEST_F(Listener, BasicAuthorizationInAnyCase) {
  Get("/", "Authorization: basic " + util::CodificarBase64("usuário:se:nha") + "\r\n");
  EXPECT_EQ(Ultimo().AuthUser, "usuário");
  EXPECT_EQ(Ultimo().AuthPassword, "se:nha");
  EXPECT_EQ(Ultimo().GetFieldByName("Authorization").substr(0, 6), "basic ");
}

TEST_F(Listener, HeaderLineLimits) {
  auto pedido = [](std::size_t linhas, std::size_t tamanhoLinha) {
    std::string p = "GET / HTTP/1.1\r\nHost: h\r\n";
    for (std::size_t i = 2; i < linhas; ++i) p += "X-" + std::to_string(i) + ": v\r\n";
    p += "X-L: " + std::string(tamanhoLinha - 6, 'a') + "\r\n\r\n";  // CR counts, LF not
    return p;
  };
  EXPECT_EQ(Trocar(pedido(1025, 100)).substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(Ultimo().Headers.size(), 1025u);
  EXPECT_EQ(Trocar(pedido(1026, 100)), "");
  EXPECT_EQ(Trocar(pedido(2, 16384)).substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(Trocar(pedido(2, 16385)), "");
  EXPECT_EQ(Trocar("GET /" + std::string(16400, 'a') + " HTTP/1.1\r\nHost: h\r\n\r\n"), "");
}

TEST_F(Listener, ExpectContinueSendsTheInterimLineFirst) {
  TClienteHTTP c(porta_);
  c.Enviar("PUT /x HTTP/1.1\r\nHost: h\r\nExpect: 100-Continue\r\nContent-Length: 4\r\n\r\n");
  EXPECT_EQ(c.LerAte("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
  c.Enviar("abcd");
  const std::string r = c.LerTudo();
  EXPECT_EQ(r.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(Corpo(r), "ok:abcd");
  // With the body already sent, Expect is not acted on.
  const std::string direto =
      Trocar("PUT /x HTTP/1.1\r\nHost: h\r\nExpect: x\r\nContent-Length: 2\r\n\r\nab");
  EXPECT_EQ(direto.substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(Listener, PoolAllowsThirtyTwoRequestsAtOnce) {
  std::vector<std::future<std::string>> emCurso;
  for (int i = 0; i < 32; ++i)
    emCurso.push_back(std::async(std::launch::async, [this] { return Get("/espera"); }));
  EsperarBloqueados(32);
  EXPECT_EQ(pool_.InUse(), 32u);
  const std::string r = Get("/");
  EXPECT_EQ(r.substr(0, 34), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(Corpo(r), "Maximum number of concurrent connections exceeded.  Please try again later");
  Liberar();
  for (auto& f : emCurso) EXPECT_EQ(Corpo(f.get()), "liberado");
  EXPECT_EQ(Corpo(Get("/")), "ok:");
  EXPECT_EQ(pool_.Created(), 32u);
  EXPECT_EQ(pool_.InUse(), 0u);
  std::lock_guard l(registro_.m);
  EXPECT_EQ(registro_.encerrados, registro_.atendidos);
  EXPECT_TRUE(registro_.mesmaThread);
}

TEST(ListenerSemModulo, AnswersNoDataModulesRegistered) {
  TRequestPool pool;
  THTTPListener l(pool);
  l.Bindings() = {{"127.0.0.1", 0}};
  l.SetActive(true);
  const std::string r = TrocarHTTP(l.LocalPorts().at(0), "GET / HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(r.substr(0, 12), "HTTP/1.1 500");
  EXPECT_EQ(Corpo(r), "No data modules registered");
}

TEST_F(Listener, ReadTimeoutClosesWithoutAnswer) {
  THTTPListenerSettings s;
  s.TempoLeitura = 300ms;
  Ativar(s);
  for (std::string parcial : {"", "GET / HTTP/1.1\r\nHost:",
                              "PUT / HTTP/1.1\r\nHost: h\r\n"
                              "Content-Length: 5\r\n\r\nab"}) {
    TClienteHTTP c(porta_);
    c.Enviar(parcial);
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_EQ(c.LerTudo(5s), "");
    EXPECT_TRUE(c.Fechou());
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 4s);
  }
  // A header trickled in slower than the limit as a whole is cut off too.
  TClienteHTTP c(porta_);
  bool enviou = true;
  for (int i = 0; i < 8 && enviou; ++i) {
    enviou = c.Enviar("X");
    std::this_thread::sleep_for(60ms);
  }
  EXPECT_EQ(c.LerTudo(5s), "");
  EXPECT_TRUE(c.Fechou());
}

TEST_F(Listener, BodyCapAnswers413) {
  THTTPListenerSettings s;
  s.TamanhoMaximoCorpo = 1000;
  Ativar(s);
  EXPECT_EQ(
      Trocar("PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 1000\r\n\r\n" + std::string(1000, 'a'))
          .substr(0, 15),
      "HTTP/1.1 200 OK");
  TClienteHTTP c(porta_);
  c.Enviar("PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 1001\r\n\r\n" + std::string(1001, 'a'));
  const std::string r = c.LerTudo();
  EXPECT_EQ(r.substr(0, 38), "HTTP/1.1 413 Request Entity Too Large\r");
  const std::string chunked =
      Trocar("PUT /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n200\r\n" +
             std::string(512, 'a') + "\r\n200\r\n" + std::string(512, 'a') + "\r\n0\r\n\r\n");
  EXPECT_EQ(chunked.substr(0, 12), "HTTP/1.1 413");
  // Refused before the client sends it.
  TClienteHTTP e(porta_);
  e.Enviar("PUT /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 5000\r\n\r\n");
  EXPECT_EQ(e.LerTudo().substr(0, 12), "HTTP/1.1 413");
}

TEST_F(Listener, ConnectionCapAnswers503) {
  THTTPListenerSettings s;
  s.MaximoConexoes = 2;
  Ativar(s);
  TClienteHTTP a(porta_), b(porta_);
  a.Enviar("GET / HTTP/1.1\r\n");
  b.Enviar("GET / HTTP/1.1\r\n");
  for (int i = 0; i < 100 && listener_.ConnectionCount() < 2; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(Get("/").substr(0, 32), "HTTP/1.1 503 Service Unavailable");
  a.Enviar("Host: h\r\n\r\n");
  EXPECT_EQ(a.LerTudo().substr(0, 15), "HTTP/1.1 200 OK");
  for (int i = 0; i < 100 && listener_.ConnectionCount() > 1; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(Get("/").substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(Listener, PortTakenFailsActivationWithTheSocketError) {
  THTTPListener outro(pool_);
  outro.Bindings() = {{"127.0.0.1", porta_}};
  try {
    outro.SetActive(true);
    FAIL() << "ativou numa porta ocupada";
  } catch (const diagnostics::Exception& e) {
    EXPECT_NE(std::string(e.what()).find("Address already in use"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(std::to_string(porta_)), std::string::npos);
  }
  EXPECT_FALSE(outro.Active());
  EXPECT_TRUE(outro.LocalPorts().empty());
  EXPECT_EQ(Get("/").substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(Listener, DeactivationEndsConnectionsAndWaitsForHandlers) {
  TClienteHTTP ocioso(porta_);
  ocioso.Enviar("GET / HTTP/1.1\r\n");
  auto bloqueado = std::async(std::launch::async, [this] { return Get("/espera"); });
  EsperarBloqueados(1);
  std::atomic<bool> parou{false};
  std::thread parar([&] {
    listener_.SetActive(false);
    parou = true;
  });
  EXPECT_EQ(ocioso.LerTudo(), "");  // closed by the stop, no answer
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(parou);  // a handler still runs
  Liberar();
  parar.join();
  EXPECT_FALSE(listener_.Active());
  EXPECT_EQ(listener_.ConnectionCount(), 0u);
  EXPECT_THROW(TClienteHTTP{porta_}, std::runtime_error);
  // Started again on the same port, the pooled instance is reused.
  listener_.Bindings() = {{"127.0.0.1", porta_}};
  listener_.SetActive(true);
  EXPECT_EQ(Corpo(Get("/")), "ok:");
  EXPECT_EQ(pool_.Created(), 1u);
}

TEST_F(Listener, HeaderTotalLimitAnswers431) {
  THTTPListenerSettings s;
  s.TamanhoMaximoCabecalho = 4096;
  Ativar(s);
  // A request whose request line, header lines and trailer lines take tamanho bytes in all,
  // line feeds included.
  auto linhas = [](std::size_t tamanho) {
    std::string p = "GET / HTTP/1.1\r\nHost: h\r\n";
    while (tamanho - p.size() - 2 > 1000) p += "X-" + std::string(994, 'a') + ": v\r\n";
    p += "X: " + std::string(tamanho - p.size() - 2 - 5, 'b') + "\r\n\r\n";
    return p;
  };
  auto dobrada = [](std::size_t tamanho) {
    std::string p = "GET / HTTP/1.1\r\nHost: h\r\nX-Dobrada: a\r\n";
    while (tamanho - p.size() - 2 > 500) p += " " + std::string(497, 'c') + "\r\n";
    p += "\t" + std::string(tamanho - p.size() - 2 - 3, 'd') + "\r\n\r\n";
    return p;
  };
  auto trailer = [](std::size_t tamanho) {
    std::string p =
        "PUT / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n";
    const std::size_t corpo = 11;  // "3\r\nabc\r\n0\r\n" is no header
    p += "X-Fim: " + std::string(tamanho - (p.size() - corpo) - 2 - 9, 'e') + "\r\n\r\n";
    return p;
  };
  const TCasoResposta casos[] = {
      {"lines at the limit", linhas(4096), "HTTP/1.1 200 OK\r\n"},
      {"lines one byte over", linhas(4097), "HTTP/1.1 431 Request Header Fields Too Large\r\n"},
      {"folded header at the limit", dobrada(4096), "HTTP/1.1 200 OK\r\n"},
      {"folded header one byte over", dobrada(4097), "HTTP/1.1 431 "},
      {"trailer at the limit", trailer(4096), "HTTP/1.1 200 OK\r\n"},
      {"trailer one byte over", trailer(4097), "HTTP/1.1 431 "},
      // The 431 comes as soon as the limit is passed, before any line feed.
      {"no end in sight", "GET / HTTP/1.1\r\nHost: h\r\nX: " + std::string(8000, 'f'),
       "HTTP/1.1 431 "},
  };
  ConferirRespostas(casos);
  EXPECT_EQ(Ultimo().Content, "abc");
}

TEST_F(Listener, HeaderTotalLimitDefaultStopsManyShortLines) {
  // 100 lines of 1,000 bytes: each well under the line limit, 100 KB together.
  std::string p = "GET / HTTP/1.1\r\nHost: h\r\n";
  for (int i = 0; i < 100; ++i)
    p += "X-" + std::to_string(i) + ": " + std::string(990, 'a') + "\r\n";
  TClienteHTTP c(porta_);
  c.Enviar(p);
  EXPECT_EQ(c.LerTudo().substr(0, 13), "HTTP/1.1 431 ");
  EXPECT_TRUE(c.Fechou());
  EXPECT_EQ(Atendidos(), 0);
}

TEST_F(Listener, ReadTimeCoversTheWholeRequest) {
  THTTPListenerSettings s;
  s.TempoLeitura = 1s;
  Ativar(s);
  // Each sends its head at once, then one byte every 100 ms: never a long pause, but 10 s
  // in all to finish.
  const std::pair<const char*, std::string> casos[] = {
      {"body", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 100\r\n\r\n"},
      {"chunked trailer",
       "PUT /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\nX-T: "},
  };
  for (const auto& [nome, cabeca] : casos) {
    SCOPED_TRACE(nome);
    TClienteHTTP c(porta_);
    const auto inicio = std::chrono::steady_clock::now();
    bool aberta = c.Enviar(cabeca);
    for (int i = 0; i < 100 && aberta; ++i) {
      std::this_thread::sleep_for(100ms);
      aberta = c.Enviar("b");
    }
    EXPECT_EQ(c.LerTudo(5s), "");
    EXPECT_TRUE(c.Fechou());
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 8s);
  }
  EXPECT_EQ(Atendidos(), 0);
}

TEST_F(Listener, WriteTimeCoversTheWholeAnswer) {
  THTTPListenerSettings s;
  s.TempoEscrita = 1s;
  Ativar(s);
  // A reader that takes 256 KB every 20 ms never pauses long, but needs about 4 s for the
  // 48 MB answer: it is cut off, reset, once the write time has passed.
  TClienteHTTP c(porta_);
  c.Enviar("GET /grande HTTP/1.1\r\nHost: h\r\n\r\n");
  const auto inicio = std::chrono::steady_clock::now();
  std::size_t recebidos = 0;
  std::vector<char> buf(256 << 10);
  while (std::chrono::steady_clock::now() - inicio < 30s) {
    const ssize_t n = ::recv(c.Descritor(), buf.data(), buf.size(), MSG_WAITALL);
    if (n <= 0) break;
    recebidos += static_cast<std::size_t>(n);
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, 20s);
  EXPECT_LT(recebidos, 48u << 20);
  EsperarConexoes(0);
}

TEST_F(Listener, ConnectionCapPerAddressAnswers503WithItsText) {
  THTTPListenerSettings s;
  s.MaximoConexoesPorIP = 3;
  Ativar(s);
  std::vector<std::unique_ptr<TClienteHTTP>> abertos;
  for (int i = 0; i < 3; ++i) {
    abertos.push_back(std::make_unique<TClienteHTTP>(porta_));
    abertos.back()->Enviar("GET / HTTP/1.1\r\n");
  }
  EsperarConexoes(3);
  const std::string recusa = Get("/");
  EXPECT_EQ(recusa.substr(0, 34), "HTTP/1.1 503 Service Unavailable\r\n");
  EXPECT_EQ(Corpo(recusa), kTextoConexoesDemais);
  abertos[0]->Enviar("Host: h\r\n\r\n");
  EXPECT_EQ(abertos[0]->LerTudo().substr(0, 15), "HTTP/1.1 200 OK");
  abertos[0].reset();
  EsperarConexoes(2);
  EXPECT_EQ(Corpo(Get("/")), "ok:");

  // Every way a connection ends gives its place back: with room for one, each of these is
  // followed by a request that is served.
  abertos.clear();
  s.MaximoConexoesPorIP = 1;
  s.TempoLeitura = 300ms;
  s.TamanhoMaximoCabecalho = 1000;
  Ativar(s);
  const std::string finais[] = {
      "GET\r\n\r\n",                                                // closed
      "GET / HTTP/1.1\r\nHost: h\r\nX: " + std::string(2000, 'a'),  // 431
      "GET / HTTP/1.1\r\n",                                         // read time
      "GET /erro HTTP/1.1\r\nHost: h\r\n\r\n",                      // 500
      "GET / HTTP/1.1\r\n\r\n",                                     // 400
  };
  for (const std::string& pedido : finais) {
    SCOPED_TRACE(pedido.substr(0, 20));
    Trocar(pedido);
    EsperarConexoes(0);
    EXPECT_EQ(Corpo(Get("/")), "ok:");
    EsperarConexoes(0);
  }
}

TEST_F(Listener, PoolWaitServesWhenAnInstanceComesBackInTime) {
  pool_.Configurar(2, 10s);
  std::vector<std::future<std::string>> emCurso;
  for (int i = 0; i < 2; ++i)
    emCurso.push_back(std::async(std::launch::async, [this] { return Get("/espera"); }));
  EsperarBloqueados(2);
  auto terceiro = std::async(std::launch::async, [this] { return Get("/"); });
  EsperarNaFila(1);
  EXPECT_EQ(pool_.InUse(), 2u);
  Liberar();
  EXPECT_EQ(Corpo(terceiro.get()), "ok:");
  for (auto& f : emCurso) EXPECT_EQ(Corpo(f.get()), "liberado");
  EXPECT_EQ(pool_.Created(), 2u);
  EXPECT_EQ(pool_.InUse(), 0u);
  EXPECT_EQ(pool_.Waiting(), 0u);
}

TEST_F(Listener, PoolWaitRefusesWhenNoInstanceComesBack) {
  pool_.Configurar(2, 300ms);
  std::vector<std::future<std::string>> emCurso;
  for (int i = 0; i < 2; ++i)
    emCurso.push_back(std::async(std::launch::async, [this] { return Get("/espera"); }));
  EsperarBloqueados(2);
  const auto inicio = std::chrono::steady_clock::now();
  const std::string r = Get("/");
  EXPECT_GE(std::chrono::steady_clock::now() - inicio, 250ms);  // it did wait
  EXPECT_EQ(r.substr(0, 34), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(Corpo(r), "Maximum number of concurrent connections exceeded.  Please try again later");
  EXPECT_EQ(pool_.Waiting(), 0u);
  Liberar();
  for (auto& f : emCurso) EXPECT_EQ(Corpo(f.get()), "liberado");
}

TEST_F(Listener, PoolWaitersAreServedInArrivalOrder) {
  pool_.Configurar(1, 30s);
  auto bloqueado = std::async(std::launch::async, [this] { return Get("/espera"); });
  EsperarBloqueados(1);
  std::vector<std::future<std::string>> fila;
  const std::vector<std::string> chegada = {"a", "b", "c", "d", "e"};
  for (std::size_t i = 0; i < chegada.size(); ++i) {
    fila.push_back(
        std::async(std::launch::async, [this, q = chegada[i]] { return Get("/fila?" + q); }));
    EsperarNaFila(i + 1);
  }
  Liberar();
  EXPECT_EQ(Corpo(bloqueado.get()), "liberado");
  for (auto& f : fila) EXPECT_EQ(f.get().substr(0, 15), "HTTP/1.1 200 OK");
  std::lock_guard l(registro_.m);
  EXPECT_EQ(registro_.ordem, chegada);
}

TEST_F(Listener, PoolWaitersAreRefusedWhenTheListenerStops) {
  pool_.Configurar(1, 60s);
  auto bloqueado = std::async(std::launch::async, [this] { return Get("/espera"); });
  EsperarBloqueados(1);
  auto esperando = std::async(std::launch::async, [this] { return Get("/"); });
  EsperarNaFila(1);
  std::thread parar([&] { listener_.SetActive(false); });
  // The waiter leaves at once; the stop itself still waits for the running handler.
  EsperarNaFila(0);
  EXPECT_EQ(esperando.wait_for(10s), std::future_status::ready);
  Liberar();
  parar.join();
  bloqueado.get();
  EXPECT_EQ(pool_.InUse(), 0u);
  std::lock_guard l(registro_.m);
  EXPECT_EQ(registro_.atendidos, 1);
}

TEST_F(Listener, PoolNeverRefusesAClientWithNoMoreRequestsOutstandingThanInstances) {
  // Each answer reaches its client only after its instance is free again, so clients that
  // send their next request as soon as they have an answer never find the pool full.
  pool_.Configurar(4, 0ms);
  {
    std::lock_guard l(registro_.m);
    registro_.demoraFim = 5ms;
  }
  std::atomic<int> recusados{0}, servidos{0};
  std::vector<std::thread> clientes;
  for (int i = 0; i < 4; ++i)
    clientes.emplace_back([&] {
      for (int j = 0; j < 200; ++j) {
        // Like a load tool: the next request as soon as the answer is complete, before the
        // server has closed.
        TClienteHTTP c(porta_);
        c.Enviar("GET / HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
        if (Corpo(c.LerAte("ok:")) == "ok:")
          ++servidos;
        else
          ++recusados;
      }
    });
  for (auto& t : clientes) t.join();
  EXPECT_EQ(recusados, 0);
  EXPECT_EQ(servidos, 800);
  std::lock_guard l(registro_.m);
  EXPECT_EQ(registro_.encerrados, registro_.atendidos);
  EXPECT_TRUE(registro_.mesmaThread);
}

TEST(ListenerBindings, NoBindingsListenOnIPv4AndIPv6) {
  TRegistro registro;
  gRegistro = &registro;
  TRequestPool pool;
  pool.SetWebModuleClass<TwmTeste>();
  THTTPListener l(pool);
  l.SetDefaultPort(0);
  l.SetActive(true);
  const auto portas = l.LocalPorts();
  ASSERT_GE(portas.size(), 1u);
  EXPECT_EQ(Corpo(TrocarHTTP(portas[0], "GET / HTTP/1.0\r\n\r\n")), "ok:");
  if (portas.size() == 2) {
    TClienteHTTP c(portas[1], true);
    c.Enviar("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Corpo(c.LerTudo()), "ok:");
    EXPECT_EQ(registro.ultimo.RemoteAddr, "::1");
  }
  l.SetActive(false);
  gRegistro = nullptr;
}

}  // namespace
}  // namespace tamrix::web
