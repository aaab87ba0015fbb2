// The listener's TLS port, through real sockets: the bytes of one input are the plaintext of a
// TLS connection that an OpenSSL client in this process opens to a listener with a throwaway
// certificate, cut into TLS records whose sizes come from the input's first two bytes, then
// closed with close_notify. Checks that nothing crashes on either side and that whatever
// answer comes back over TLS is one well-formed HTTP header (a status the listener may give,
// CR LF lines, one empty line) built from the request's own values.
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "web/uHTTPListener.h"
#include "web/uTLS.h"

namespace {

void Verificar(bool condicao) {
  if (!condicao) std::abort();
}

// An answer made of the request's own values, so that what the client sent reaches the
// header lines of the answer written over TLS.
class TwmEco : public tamrix::web::TWebModuleBase {
 public:
  bool HandleRequest(tamrix::util::TWebRequest& p, tamrix::util::TWebResponse& r) override {
    r.ReasonString = p.Query;
    r.ContentType = p.GetFieldByName("Content-Type");
    r.Content = p.PathInfo + p.Content;
    for (const auto& h : p.Headers) r.SetCustomHeader(h.Name, h.Value);
    r.Location = p.RawPathInfo;
    for (const auto& c : p.CookieFields) r.Cookies.push_back({c, p.Host});
    return true;
  }
};

// A self-signed EC certificate and its key as PEM files in a folder of their own; the
// handshake stays cheap, so more inputs go through in the run.
std::filesystem::path GerarCertificado() {
  char modelo[] = "/tmp/tamrix-fuzz-tls.XXXXXX";
  Verificar(mkdtemp(modelo) != nullptr);
  const std::filesystem::path pasta = modelo;
  EVP_PKEY* chave = EVP_EC_gen("P-256");
  Verificar(chave != nullptr);
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 2 * 86400);
  X509_set_pubkey(cert, chave);
  X509_NAME* nome = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(nome, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, nome);
  Verificar(X509_sign(cert, chave, EVP_sha256()) > 0);
  FILE* f = std::fopen((pasta / "servidor.crt").c_str(), "w");
  Verificar(f != nullptr && PEM_write_X509(f, cert) == 1);
  std::fclose(f);
  f = std::fopen((pasta / "servidor.key").c_str(), "w");
  Verificar(f != nullptr &&
            PEM_write_PrivateKey(f, chave, nullptr, nullptr, 0, nullptr, nullptr) == 1);
  std::fclose(f);
  X509_free(cert);
  EVP_PKEY_free(chave);
  return pasta;
}

// The listener on an ephemeral TLS port of 127.0.0.1 for the whole run, and the client's
// context (the throwaway certificate is not verified).
struct TAmbiente {
  tamrix::web::TRequestPool pool;
  tamrix::web::THTTPListener listener{pool};
  SSL_CTX* cliente = nullptr;
  std::uint16_t porta = 0;

  TAmbiente() {
    signal(SIGPIPE, SIG_IGN);  // the client writes on a socket the server may have closed
    const auto pasta = GerarCertificado();
    auto contexto =
        std::make_shared<tamrix::web::TContextoTLS>(pasta / "servidor.crt", pasta / "servidor.key");
    std::filesystem::remove_all(pasta);
    pool.SetWebModuleClass<TwmEco>();
    tamrix::web::THTTPListenerSettings s;
    // Small limits, so the fuzzer reaches them; the read clock only as a safety net (every
    // connection ends with close_notify).
    s.TamanhoMaximoCorpo = 1u << 16;
    s.TamanhoMaximoCabecalho = 8192;
    s.TempoLeitura = std::chrono::seconds(5);
    s.TempoEscrita = std::chrono::seconds(5);
    listener.SetSettings(s);
    listener.Bindings() = {{"127.0.0.1", 0, true}};
    listener.SetTLS(0, contexto);
    listener.SetActive(true);
    porta = listener.LocalPortsTLS().at(0);
    cliente = SSL_CTX_new(TLS_client_method());
    Verificar(cliente != nullptr);
    SSL_CTX_set_verify(cliente, SSL_VERIFY_NONE, nullptr);
  }
};

TAmbiente& Ambiente() {
  static TAmbiente* a = new TAmbiente;  // never destroyed: server threads outlive the inputs
  return *a;
}

// Every line of the header ends in CR LF, and the header ends with the empty line.
void VerificarCabecalho(std::string_view h) {
  Verificar(h.find("\r\n\r\n") == h.size() - 4);
  for (std::size_t i = 0; i < h.size(); ++i) {
    if (h[i] == '\r') Verificar(i + 1 < h.size() && h[i + 1] == '\n');
    if (h[i] == '\n') Verificar(i > 0 && h[i - 1] == '\r');
  }
}

// Sends dados over one TLS connection in records cut by semente and returns what came back
// until the server closed (empty when the connection failed).
std::string Trocar(std::string_view dados, std::uint32_t semente) {
  TAmbiente& a = Ambiente();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  Verificar(fd >= 0);
  timeval limite{20, 0};  // a safety net only: the server's own clocks end every connection
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limite, sizeof limite);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limite, sizeof limite);
  sockaddr_in end{};
  end.sin_family = AF_INET;
  end.sin_port = htons(a.porta);
  end.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Verificar(::connect(fd, reinterpret_cast<sockaddr*>(&end), sizeof end) == 0);
  SSL* ssl = SSL_new(a.cliente);
  SSL_set_fd(ssl, fd);
  std::string resposta;
  if (SSL_connect(ssl) == 1) {
    std::size_t pos = 0;
    while (pos < dados.size()) {
      semente = semente * 1103515245u + 12345u;
      const std::size_t n = std::min<std::size_t>(dados.size() - pos, 1 + (semente >> 16) % 4096);
      if (SSL_write(ssl, dados.data() + pos, static_cast<int>(n)) <= 0) break;  // answered early
      pos += n;
    }
    SSL_shutdown(ssl);  // close_notify: the request ends here
    char buf[16384];
    for (;;) {
      const int lidos = SSL_read(ssl, buf, sizeof buf);
      if (lidos <= 0) break;
      resposta.append(buf, static_cast<std::size_t>(lidos));
    }
  }
  SSL_free(ssl);
  ::close(fd);
  ERR_clear_error();
  return resposta;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t semente = 1u + data[0] + 256u * data[1];
  const std::string_view dados(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::string resposta = Trocar(dados, semente);
  if (resposta.empty()) return 0;  // closed without an answer

  const std::size_t fim = resposta.find("\r\n\r\n");
  Verificar(fim != std::string::npos);
  VerificarCabecalho(std::string_view(resposta).substr(0, fim + 4));
  Verificar(resposta.compare(0, 9, "HTTP/1.1 ") == 0 || resposta.compare(0, 9, "HTTP/1.0 ") == 0);
  // 100 Continue comes before the final answer; the final one is what counts.
  std::size_t inicio = 0;
  if (resposta.compare(9, 3, "100") == 0) {
    inicio = fim + 4;
    if (inicio == resposta.size()) return 0;
    Verificar(resposta.compare(inicio, 5, "HTTP/") == 0);
  }
  const int status = std::atoi(resposta.c_str() + inicio + 9);
  Verificar(status == 200 || status == 400 || status == 411 || status == 413 || status == 417 ||
            status == 431 || status == 503);
  return 0;
}
