#include "web/uTLS.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fstream>
#include <new>
#include <string>
#include <utility>

#include "diagnostics/uExcecoes.h"

namespace tamrix::web {

namespace fs = std::filesystem;
namespace ssl = boost::asio::ssl;

namespace {

// TLS 1.2 suites with forward secrecy and an AEAD cipher, strongest first; TLS 1.3 keeps
// OpenSSL's own list.
constexpr const char* kCifrasTLS12 =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";

// OpenSSL's reason for the failure, emptying the thread's queue: the first one is the
// cause, those after it the calls it went up through.
std::string MotivoOpenSSL() {
  std::string motivo;
  for (unsigned long e; (e = ERR_get_error()) != 0;) {
    const char* r = ERR_reason_error_string(e);
    if (motivo.empty()) motivo = r != nullptr ? r : std::to_string(e);
  }
  if (motivo == "key values mismatch") return "a chave privada não corresponde ao certificado";
  // OpenSSL 3 names a file that holds no PEM block "no start line" or, for keys, its decoders
  // find nothing to read: "unsupported".
  if (motivo == "no start line" || motivo == "unsupported")
    return "o arquivo não está no formato PEM";
  return motivo.empty() ? "erro desconhecido" : motivo;
}

[[noreturn]] void Falhar(const std::string& oque, const fs::path& arquivo,
                         const std::string& motivo) {
  throw diagnostics::Exception("Não foi possível carregar " + oque + " do HTTPS (" +
                               arquivo.string() + "): " + motivo + ".");
}

// Whether the PEM file holds a key under a pass phrase ("ENCRYPTED PRIVATE KEY", or the old
// "Proc-Type: 4,ENCRYPTED" header).
bool ChaveCifrada(const fs::path& arquivo) {
  std::ifstream in(arquivo, std::ios::binary);
  std::string inicio(4096, '\0');
  in.read(inicio.data(), static_cast<std::streamsize>(inicio.size()));
  inicio.resize(static_cast<std::size_t>(in.gcount()));
  return inicio.find("ENCRYPTED") != std::string::npos;
}

std::shared_ptr<ssl::context> CriarContexto(const fs::path& certificado, const fs::path& chave) {
  for (const auto& [oque, arquivo] :
       {std::pair<const char*, const fs::path&>{"o certificado", certificado},
        {"a chave privada", chave}}) {
    std::error_code erro;
    if (arquivo.empty()) Falhar(oque, arquivo, "arquivo não configurado");
    if (!fs::is_regular_file(arquivo, erro)) Falhar(oque, arquivo, "o arquivo não existe");
  }
  auto c = std::make_shared<ssl::context>(ssl::context::tls_server);
  SSL_CTX* n = c->native_handle();
  ERR_clear_error();
  SSL_CTX_set_min_proto_version(n, TLS1_2_VERSION);
  SSL_CTX_set_options(n, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_COMPRESSION |
                             SSL_OP_NO_RENEGOTIATION | SSL_OP_SINGLE_DH_USE |
                             SSL_OP_SINGLE_ECDH_USE);
  SSL_CTX_set_cipher_list(n, kCifrasTLS12);
  SSL_CTX_set_dh_auto(n, 1);
  // Buffers are given back between reads: up to MaximoConexoes sessions live at once.
  SSL_CTX_set_mode(n, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                          SSL_MODE_RELEASE_BUFFERS);
  if (SSL_CTX_use_certificate_chain_file(n, certificado.c_str()) != 1)
    Falhar("o certificado", certificado, MotivoOpenSSL());
  // No pass phrase: OpenSSL would otherwise ask for one on the terminal and hang the start or
  // the reload.
  SSL_CTX_set_default_passwd_cb(n, [](char*, int, int, void*) { return 0; });
  if (SSL_CTX_use_PrivateKey_file(n, chave.c_str(), SSL_FILETYPE_PEM) != 1)
    Falhar("a chave privada", chave,
           ChaveCifrada(chave) ? "uma chave cifrada não é aceita: use uma chave sem senha"
                               : MotivoOpenSSL());
  if (SSL_CTX_check_private_key(n) != 1) Falhar("a chave privada", chave, MotivoOpenSSL());
  return c;
}

// A socket BIO of our own: OpenSSL's writes with write(2), and a client gone would raise
// SIGPIPE.
int BioEscrever(BIO* b, const char* dados, int n) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
  BIO_clear_retry_flags(b);
  const ssize_t r = ::send(fd, dados, static_cast<std::size_t>(n), MSG_NOSIGNAL);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(b);
  return static_cast<int>(r);
}

int BioLer(BIO* b, char* buf, int n) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
  BIO_clear_retry_flags(b);
  const ssize_t r = ::recv(fd, buf, static_cast<std::size_t>(n), 0);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(b);
  return static_cast<int>(r);
}

long BioControle(BIO*, int comando, long, void*) {
  return comando == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCriar(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

const BIO_METHOD* MetodoBio() {
  static BIO_METHOD* const m = [] {
    BIO_METHOD* r = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tamrix socket");
    BIO_meth_set_write(r, BioEscrever);
    BIO_meth_set_read(r, BioLer);
    BIO_meth_set_ctrl(r, BioControle);
    BIO_meth_set_create(r, BioCriar);
    return r;
  }();
  return m;
}

int Limitar(std::size_t n) {
  return static_cast<int>(std::min<std::size_t>(n, INT_MAX));
}

}  // namespace

TContextoTLS::TContextoTLS(const fs::path& certificado, const fs::path& chave)
    : atual_(CriarContexto(certificado, chave)) {}

void TContextoTLS::Recarregar(const fs::path& certificado, const fs::path& chave) {
  auto novo = CriarContexto(certificado, chave);
  std::lock_guard trava(mutex_);
  atual_ = std::move(novo);
}

std::shared_ptr<ssl::context> TContextoTLS::Atual() const {
  std::lock_guard trava(mutex_);
  return atual_;
}

TSessaoTLS::TSessaoTLS(int fd, std::shared_ptr<ssl::context> contexto)
    : contexto_(std::move(contexto)) {
  ssl_ = SSL_new(contexto_->native_handle());
  BIO* bio = ssl_ != nullptr ? BIO_new(MetodoBio()) : nullptr;
  if (bio == nullptr) {
    SSL_free(ssl_);
    ERR_clear_error();
    throw std::bad_alloc();
  }
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
  SSL_set_bio(ssl_, bio, bio);
  SSL_set_accept_state(ssl_);
}

TSessaoTLS::~TSessaoTLS() {
  SSL_free(ssl_);
  // The thread serves other connections next: nothing of this one stays in its queue.
  ERR_clear_error();
}

TPassoTLS TSessaoTLS::Passo(int resultado) {
  if (resultado > 0) return {static_cast<std::size_t>(resultado), 0};
  switch (SSL_get_error(ssl_, resultado)) {
    case SSL_ERROR_WANT_READ:
      return {0, POLLIN};
    case SSL_ERROR_WANT_WRITE:
      return {0, POLLOUT};
    case SSL_ERROR_ZERO_RETURN:  // the client's closing alert
      break;
    default:
      terminada_ = true;
      break;
  }
  ERR_clear_error();
  return {};
}

TPassoTLS TSessaoTLS::Aceitar() {
  if (terminada_) return {};
  ERR_clear_error();
  return Passo(SSL_do_handshake(ssl_));
}

TPassoTLS TSessaoTLS::Ler(char* buf, std::size_t n) {
  if (terminada_) return {};
  ERR_clear_error();
  return Passo(SSL_read(ssl_, buf, Limitar(n)));
}

TPassoTLS TSessaoTLS::Escrever(const char* dados, std::size_t n) {
  if (terminada_) return {};
  ERR_clear_error();
  return Passo(SSL_write(ssl_, dados, Limitar(n)));
}

bool TSessaoTLS::BytesProntos() {
  if (terminada_) return false;
  if (SSL_pending(ssl_) > 0) return true;
  char c;
  ERR_clear_error();
  return Passo(SSL_peek(ssl_, &c, 1)).Bytes > 0;
}

void TSessaoTLS::Encerrar() {
  if (terminada_ || !SSL_is_init_finished(ssl_)) return;
  ERR_clear_error();
  SSL_shutdown(ssl_);
  terminada_ = true;
  ERR_clear_error();
}

}  // namespace tamrix::web
