// TLS for the server's own HTTPS port: the context built from the certificate and key files
// (TLS 1.2 and 1.3 only, the server's cipher order, no compression, no renegotiation), which
// a reload swaps for new connections, and one session over a connection's socket. The
// session never waits: it says what the socket must become ready for, and the connection's
// channel waits with poll under its own deadlines.
#ifndef TAMRIX_WEB_UTLS_H
#define TAMRIX_WEB_UTLS_H

#include <poll.h>

#include <boost/asio/ssl/context.hpp>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>

namespace tamrix::web {

class TContextoTLS {
 public:
  // Loads the certificate (PEM; the chain may follow it) and its private key (PEM). Throws
  // diagnostics::Exception with a Portuguese text naming the file and the reason.
  TContextoTLS(const std::filesystem::path& certificado, const std::filesystem::path& chave);
  TContextoTLS(const TContextoTLS&) = delete;
  TContextoTLS& operator=(const TContextoTLS&) = delete;

  // Loads a new pair for the connections accepted from now on; connections already open keep
  // theirs. Throws as the constructor does, and the pair in use then stays.
  void Recarregar(const std::filesystem::path& certificado, const std::filesystem::path& chave);

  // The context of the pair in use.
  std::shared_ptr<boost::asio::ssl::context> Atual() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<boost::asio::ssl::context> atual_;
};

// What one step of a session gave: Bytes moved (or, for Aceitar, 1 when done), else the
// poll event (POLLIN, POLLOUT) to wait for before trying again, else (both 0) the end of
// the stream or a failure, after which the session is over.
struct TPassoTLS {
  std::size_t Bytes = 0;
  short Esperar = 0;
};

// The server side of TLS over a connected non-blocking socket, which stays the caller's.
// The socket is written with MSG_NOSIGNAL: a client gone never raises SIGPIPE.
class TSessaoTLS {
 public:
  // Throws std::bad_alloc when OpenSSL cannot create the session.
  TSessaoTLS(int fd, std::shared_ptr<boost::asio::ssl::context> contexto);
  TSessaoTLS(const TSessaoTLS&) = delete;
  TSessaoTLS& operator=(const TSessaoTLS&) = delete;
  ~TSessaoTLS();

  // The handshake; Bytes 1 once it is done.
  TPassoTLS Aceitar();
  TPassoTLS Ler(char* buf, std::size_t n);
  TPassoTLS Escrever(const char* dados, std::size_t n);
  // Whether decrypted bytes wait to be read, or a read without waiting gives some now.
  bool BytesProntos();
  // Sends the closing alert once, without waiting; nothing after a failure.
  void Encerrar();

 private:
  TPassoTLS Passo(int resultado);

  std::shared_ptr<boost::asio::ssl::context> contexto_;  // outlives the session
  SSL* ssl_ = nullptr;
  bool terminada_ = false;  // failed or closed: nothing more goes over it
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UTLS_H
