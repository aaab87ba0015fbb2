// For tests of the HTTPS port: a small CA and server certificates made by the openssl tool in
// a scratch folder, and a TLS client (OpenSSL) over real sockets.
#ifndef TAMRIX_TESTS_WEB_TLS_TESTE_H
#define TAMRIX_TESTS_WEB_TLS_TESTE_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "support/pastatemp.h"

namespace tamrix::testes {

// Runs a shell command and returns its standard output.
inline std::string Executar(const std::string& comando) {
  std::string saida;
  FILE* f = ::popen(comando.c_str(), "r");
  if (f == nullptr) return saida;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) saida.append(buf, n);
  ::pclose(f);
  return saida;
}

// A CA and the certificates it signs for "localhost" and 127.0.0.1, with their keys.
class TCertificadosTeste {
 public:
  TCertificadosTeste() {
    Rodar("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Tamrix Teste CA' -keyout " +
          Caminho("ca.key") + " -out " + Caminho("ca.crt"));
    pasta_.Gravar("ext.cnf", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
    Emitir("servidor");
  }

  // Makes <nome>.crt (the certificate followed by the CA's, as a chain) and <nome>.key;
  // returns the certificate's serial as "serial=HEX".
  std::string Emitir(const std::string& nome) {
    Rodar("openssl req -newkey rsa:2048 -nodes -subj '/CN=localhost' -keyout " + Chave(nome) +
          " -out " + Caminho(nome + ".csr"));
    Rodar("openssl x509 -req -days 2 -CA " + CA() + " -CAkey " + Caminho("ca.key") +
          " -CAcreateserial -extfile " + Caminho("ext.cnf") + " -in " + Caminho(nome + ".csr") +
          " -out " + Caminho(nome + ".pem"));
    Rodar("cat " + Caminho(nome + ".pem") + " " + CA() + " > " + Certificado(nome));
    return Serial(nome);
  }
  std::string Serial(const std::string& nome) const {
    std::string s = Executar("openssl x509 -noout -serial -in " + Caminho(nome + ".pem"));
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
  }

  std::string CA() const { return Caminho("ca.crt"); }
  std::string Certificado(const std::string& nome = "servidor") const {
    return Caminho(nome + ".crt");
  }
  std::string Chave(const std::string& nome = "servidor") const { return Caminho(nome + ".key"); }
  std::string Caminho(const std::string& nome) const { return pasta_.Caminho(nome); }
  const TPastaTemp& Pasta() const { return pasta_; }

 private:
  static void Rodar(const std::string& comando) {
    if (std::system(("(" + comando + ") >/dev/null 2>&1").c_str()) != 0)
      throw std::runtime_error("falhou: " + comando);
  }
  TPastaTemp pasta_;
};

// A plain TCP connection to 127.0.0.1:porta with a 60 s read limit; -1 when refused.
inline int ConectarLocal(int porta) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval t{60, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(porta));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

struct TRespostaTLS {
  bool Apertou = false;          // the handshake succeeded and the server's certificate checked out
  std::string Bytes;             // everything the server sent until it closed
  std::string Serial;            // the server certificate's serial, "serial=HEX"
  bool FechouComAlerta = false;  // the server ended with its closing alert
};

// Connects, handshakes with TLS 1.2 or later checking the server against ca for "localhost",
// sends pedido and reads until the server closes.
inline TRespostaTLS TrocarTLS(int porta, const std::string& ca, std::string_view pedido) {
  TRespostaTLS r;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL* ssl = SSL_new(ctx);
  SSL_set1_host(ssl, "localhost");
  SSL_set_tlsext_host_name(ssl, "localhost");
  const int s = ConectarLocal(porta);
  if (s >= 0) {
    SSL_set_fd(ssl, s);
    r.Apertou = SSL_connect(ssl) == 1;
  }
  if (r.Apertou) {
    if (X509* x = SSL_get1_peer_certificate(ssl)) {
      BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(x), nullptr);
      char* hex = BN_bn2hex(bn);
      r.Serial = std::string("serial=") + hex;
      OPENSSL_free(hex);
      BN_free(bn);
      X509_free(x);
    }
    for (std::size_t enviado = 0; enviado < pedido.size();) {
      const int n =
          SSL_write(ssl, pedido.data() + enviado, static_cast<int>(pedido.size() - enviado));
      if (n <= 0) break;
      enviado += static_cast<std::size_t>(n);
    }
    char buf[65536];
    for (int n; (n = SSL_read(ssl, buf, sizeof buf)) > 0;)
      r.Bytes.append(buf, static_cast<std::size_t>(n));
    r.FechouComAlerta = (SSL_get_shutdown(ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
  }
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  if (s >= 0) ::close(s);
  ERR_clear_error();
  return r;
}

}  // namespace tamrix::testes

#endif  // TAMRIX_TESTS_WEB_TLS_TESTE_H
