// The listener's TLS port over real sockets, with certificates made by the openssl tool: the
// same request handling as the plain port beside it, the limits shared with it, handshakes
// that stall or send garbage, and the certificate pair loaded and reloaded.
#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <mutex>
#include <thread>

#include "diagnostics/uExcecoes.h"
#include "support/httpcliente.h"
#include "web/tls_teste.h"
#include "web/uHTTPListener.h"
#include "web/uTLS.h"

namespace tamrix::web {
namespace {

using namespace std::chrono_literals;
using testes::TCertificadosTeste;
using testes::TrocarTLS;

std::mutex gMutex;
util::TWebRequest gUltimo;

class TwmEco : public TWebModuleBase {
 public:
  bool HandleRequest(util::TWebRequest& req, util::TWebResponse& resp) override {
    {
      std::lock_guard l(gMutex);
      gUltimo = req;
    }
    if (req.PathInfo == "/grande")
      resp.ContentStream = std::string(6u << 20, 'g');
    else
      resp.Content = "ok:" + std::to_string(req.Content.size());
    return true;
  }
  void OnRequestDone() noexcept override {}
};

util::TWebRequest Ultimo() {
  std::lock_guard l(gMutex);
  return gUltimo;
}

std::string Corpo(const std::string& resposta) {
  const std::size_t fim = resposta.find("\r\n\r\n");
  return fim == std::string::npos ? std::string() : resposta.substr(fim + 4);
}

// Whether the server closed (or reset) the connection within a generous limit, having sent no
// answer (an alert at most).
bool FechadaSemResposta(int s) {
  timeval t{30, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  std::string lido;
  char buf[512];
  ssize_t n;
  while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) lido.append(buf, static_cast<std::size_t>(n));
  const bool fechada = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
  return fechada && lido.find("HTTP/") == std::string::npos;
}

// The start of a ClientHello: the record header announces 512 bytes, a few come.
constexpr char kMeioClientHello[] = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03";

class ListenerTLS : public ::testing::Test {
 protected:
  void SetUp() override {
    pool_.SetWebModuleClass<TwmEco>();
    contexto_ = std::make_shared<TContextoTLS>(certs_.Certificado(), certs_.Chave());
  }
  void TearDown() override { listener_.SetActive(false); }

  void Ativar(THTTPListenerSettings s = {}) {
    listener_.SetActive(false);
    listener_.Bindings() = {{"127.0.0.1", 0, false}, {"127.0.0.1", 0, true}};
    listener_.SetTLS(0, contexto_);
    listener_.SetSettings(s);
    listener_.SetActive(true);
    porta_ = listener_.LocalPorts().at(0);
    portaTLS_ = listener_.LocalPortsTLS().at(0);
  }

  testes::TRespostaTLS Get(std::string_view caminho) {
    return TrocarTLS(portaTLS_, certs_.CA(),
                     "GET " + std::string(caminho) +
                         " HTTP/1.1\r\nHost: localhost:" + std::to_string(portaTLS_) + "\r\n\r\n");
  }

  TCertificadosTeste certs_;
  std::shared_ptr<TContextoTLS> contexto_;
  TRequestPool pool_;
  THTTPListener listener_{pool_};
  std::uint16_t porta_ = 0, portaTLS_ = 0;
};

TEST_F(ListenerTLS, ServesTheSameRequestsAsThePlainPortAndTellsTheModule) {
  Ativar();
  const auto r = Get("/");
  ASSERT_TRUE(r.Apertou);
  EXPECT_TRUE(r.Bytes.starts_with("HTTP/1.1 200 OK\r\n")) << r.Bytes;
  EXPECT_EQ(Corpo(r.Bytes), "ok:0");
  EXPECT_TRUE(r.FechouComAlerta);
  EXPECT_EQ(Ultimo().Scheme, "https");
  EXPECT_EQ(Ultimo().ServerPort, std::to_string(portaTLS_));

  // Bodies and answers of many TLS records each: a chunked upload and a 6 MiB answer.
  const std::string pedaco(300000, 'x');
  const auto post = TrocarTLS(portaTLS_, certs_.CA(),
                              "POST /eco HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                              "493e0\r\n" +
                                  pedaco + "\r\n493e0\r\n" + pedaco + "\r\n0\r\n\r\n");
  EXPECT_EQ(Corpo(post.Bytes), "ok:600000");
  const auto grande = Get("/grande");
  EXPECT_EQ(Corpo(grande.Bytes), std::string(6u << 20, 'g'));

  // The plain port beside it is untouched.
  EXPECT_EQ(Corpo(testes::TrocarHTTP(porta_, "GET / HTTP/1.1\r\nHost: h\r\n\r\n")), "ok:0");
  EXPECT_EQ(Ultimo().Scheme, "http");
}

TEST_F(ListenerTLS, StalledOrGarbageHandshakesCostOnlyTheirConnectionsAndShareTheCaps) {
  THTTPListenerSettings s;
  s.TempoLeitura = 1500ms;
  s.MaximoConexoesPorIP = 3;
  Ativar(s);
  // Two handshakes that stall: nothing sent, half a ClientHello.
  const int mudo = testes::ConectarLocal(portaTLS_);
  const int meio = testes::ConectarLocal(portaTLS_);
  ASSERT_GE(mudo, 0);
  ASSERT_GE(meio, 0);
  ::send(meio, kMeioClientHello, sizeof kMeioClientHello - 1, MSG_NOSIGNAL);
  for (int i = 0; i < 1000 && listener_.ConnectionCount() != 2; ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(listener_.ConnectionCount(), 2u);

  // Meanwhile others are served, and the two count against the address's cap of both ports:
  // a fourth connection is refused, with a 503 on the plain port and closed on the TLS one.
  {
    testes::TClienteHTTP terceiro(porta_);  // held open: the third of the address
    for (int i = 0; i < 1000 && listener_.ConnectionCount() != 3; ++i)
      std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(testes::TrocarHTTP(porta_, "GET / HTTP/1.1\r\nHost: h\r\n\r\n")
                    .starts_with("HTTP/1.1 503"));
    const int recusada = testes::ConectarLocal(portaTLS_);
    EXPECT_TRUE(FechadaSemResposta(recusada));
    ::close(recusada);
  }
  for (int i = 0; i < 1000 && listener_.ConnectionCount() != 2; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(Corpo(Get("/").Bytes), "ok:0");

  // Plain HTTP on the TLS port is garbage to it: closed at once, no answer.
  const int texto = testes::ConectarLocal(portaTLS_);
  ::send(texto, "GET / HTTP/1.1\r\nHost: h\r\n\r\n", 27, MSG_NOSIGNAL);
  EXPECT_TRUE(FechadaSemResposta(texto));
  ::close(texto);

  // TempoLeitura ends the stalled ones.
  EXPECT_TRUE(FechadaSemResposta(mudo));
  EXPECT_TRUE(FechadaSemResposta(meio));
  ::close(mudo);
  ::close(meio);
  for (int i = 0; i < 1000 && listener_.ConnectionCount() != 0; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(listener_.ConnectionCount(), 0u);
}

TEST_F(ListenerTLS, ReloadServesTheNewPairToNewConnectionsAndABrokenOneKeepsTheOld) {
  Ativar();
  EXPECT_EQ(Get("/").Serial, certs_.Serial("servidor"));
  const std::string novo = certs_.Emitir("novo");
  contexto_->Recarregar(certs_.Certificado("novo"), certs_.Chave("novo"));
  EXPECT_EQ(Get("/").Serial, novo);

  const auto emUso = contexto_->Atual();
  EXPECT_THROW(contexto_->Recarregar(certs_.Certificado("servidor"), certs_.Chave("novo")),
               diagnostics::Exception);
  EXPECT_EQ(contexto_->Atual(), emUso);
  EXPECT_EQ(Get("/").Serial, novo);
}

TEST_F(ListenerTLS, ABrokenPairIsRefusedWithTheFileAndTheReason) {
  const std::string lixo = certs_.Pasta().Gravar("lixo.pem", "nada aqui\n");
  const std::string ausente = certs_.Caminho("ausente.pem");
  certs_.Emitir("outro");
  // A key under a pass phrase is refused at once instead of asking for it on the terminal.
  const std::string cifrada = certs_.Caminho("cifrada.pem");
  ASSERT_EQ(std::system(("openssl pkey -in '" + certs_.Chave() +
                         "' -aes256 -passout pass:x -out '" + cifrada + "' 2>/dev/null")
                            .c_str()),
            0);
  struct TCaso {
    std::string certificado, chave, texto;
  } casos[] = {
      {ausente, certs_.Chave(), "certificado do HTTPS (" + ausente + "): o arquivo não existe"},
      {certs_.Certificado(), "", "chave privada do HTTPS (): arquivo não configurado"},
      {lixo, certs_.Chave(), "(" + lixo + "): o arquivo não está no formato PEM"},
      {certs_.Certificado(), lixo, "(" + lixo + "): o arquivo não está no formato PEM"},
      {certs_.Certificado(), certs_.Chave("outro"),
       "a chave privada não corresponde ao certificado"},
      {certs_.Certificado(), cifrada, "uma chave cifrada não é aceita"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.certificado + " " + c.chave);
    try {
      TContextoTLS contexto(c.certificado, c.chave);
      ADD_FAILURE() << "carregou";
    } catch (const diagnostics::Exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.texto), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace tamrix::web
