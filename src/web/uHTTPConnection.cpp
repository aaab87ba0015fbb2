#include "web/uHTTPConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "web/uHTTPResponseWriter.h"
#include "web/uLogAcesso.h"
#include "web/uTLS.h"

namespace tamrix::web {

namespace {

using Relogio = std::chrono::steady_clock;

// The connection's bytes, plain or through a TLS session over the same socket, each wait
// bounded by the caller's deadline.
class TCanal {
 public:
  TCanal(int fd, TSessaoTLS* tls) : fd_(fd), tls_(tls) {}

  // The TLS handshake before prazo (nothing for a plain connection); false when it failed,
  // stalled or the client sent no TLS.
  bool Apertar(Relogio::time_point prazo) {
    if (tls_ == nullptr) return true;
    for (;;) {
      const TPassoTLS p = tls_->Aceitar();
      if (p.Bytes > 0) return true;
      if (p.Esperar == 0 || !Esperar(p.Esperar, prazo)) return false;
    }
  }

  // Some bytes into buf before prazo; 0 on end of stream, error or time-out.
  std::size_t Ler(char* buf, std::size_t n, Relogio::time_point prazo) {
    for (;;) {
      if (tls_ != nullptr) {
        const TPassoTLS p = tls_->Ler(buf, n);
        if (p.Bytes > 0 || p.Esperar == 0) return p.Bytes;
        if (!Esperar(p.Esperar, prazo)) return 0;
        continue;
      }
      const ssize_t lidos = ::recv(fd_, buf, n, 0);
      if (lidos >= 0) return static_cast<std::size_t>(lidos);
      if ((errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) || !Esperar(POLLIN, prazo))
        return 0;
    }
  }

  // Writes both parts whole before prazo; false when the client went away or did not take
  // them in time. A client that ran out of time gets a reset: the kernel then drops what it
  // still held for it instead of going on sending after the close.
  bool Escrever(Relogio::time_point prazo, std::string_view a, std::string_view b = {}) {
    while (!a.empty() || !b.empty()) {
      std::size_t n = 0;
      short espera = POLLOUT;
      if (tls_ != nullptr) {
        std::string_view& parte = a.empty() ? b : a;
        const TPassoTLS p = tls_->Escrever(parte.data(), parte.size());
        if (p.Bytes == 0 && p.Esperar == 0) return false;
        n = p.Bytes;
        espera = p.Esperar;
      } else {
        iovec partes[2] = {{const_cast<char*>(a.data()), a.size()},
                           {const_cast<char*>(b.data()), b.size()}};
        msghdr m{};
        m.msg_iov = partes;
        m.msg_iovlen = 2;
        const ssize_t r = ::sendmsg(fd_, &m, MSG_NOSIGNAL);
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        n = r > 0 ? static_cast<std::size_t>(r) : 0;
      }
      if (n == 0) {
        if (!Esperar(espera, prazo)) {
          const linger zero{1, 0};
          ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &zero, sizeof zero);
          return false;
        }
        continue;
      }
      escritos_ += n;
      const std::size_t deA = std::min(n, a.size());
      a.remove_prefix(deA);
      b.remove_prefix(n - deA);
    }
    return true;
  }

  // Bytes written so far (of the answer: TLS framing not counted).
  std::uint64_t Escritos() const { return escritos_; }

  // Whether bytes (not the end of the stream) can be read within espera.
  bool BytesEm(std::chrono::milliseconds espera) {
    if (tls_ != nullptr && tls_->BytesProntos()) return true;
    if (!Esperar(POLLIN, Relogio::now() + espera)) return false;
    if (tls_ != nullptr) return tls_->BytesProntos();
    char c;
    return ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }

  // The end of a TLS answer: its closing alert, so the client knows nothing was cut off.
  void Encerrar() {
    if (tls_ != nullptr) tls_->Encerrar();
  }

  // Ends an answer the client may still be sending a request body after: stop writing,
  // take in (and drop) what still comes for a moment, so closing does not reset the
  // connection before the client has read the answer. Over TLS the bytes are dropped
  // undecrypted.
  void FecharDevagar() {
    Encerrar();
    ::shutdown(fd_, SHUT_WR);
    const auto prazo = Relogio::now() + std::chrono::seconds(2);
    std::size_t total = 0;
    char buf[16384];
    while (total < (4u << 20)) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        total += static_cast<std::size_t>(n);
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
          !Esperar(POLLIN, prazo))
        break;
    }
  }

 private:
  bool Esperar(short evento, Relogio::time_point prazo) {
    for (;;) {
      const auto falta =
          std::chrono::duration_cast<std::chrono::milliseconds>(prazo - Relogio::now()).count();
      if (falta < 0) return false;
      pollfd p{fd_, evento, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(falta + 1, 1 << 30)));
      if (r > 0) return true;
      if (r < 0 && errno != EINTR) return false;
    }
  }

  const int fd_;
  TSessaoTLS* const tls_;  // none: plain
  std::uint64_t escritos_ = 0;
};

// The request line as received, kept for the access line of a request refused before it was
// read whole (431, 413): the reader keeps its pieces to itself.
class TLinhaPedido {
 public:
  explicit TLinhaPedido(std::size_t limite) : limite_(limite) {}

  void Feed(std::string_view bytes) {
    if (completa_) return;
    // Empty lines before the request line are skipped, as the reader does.
    if (linha_.empty())
      bytes.remove_prefix(std::min(bytes.find_first_not_of("\r\n"), bytes.size()));
    const std::size_t fim = bytes.find('\n');
    linha_.append(bytes.substr(0, std::min(fim, limite_ - std::min(limite_, linha_.size()))));
    completa_ = fim != std::string_view::npos || linha_.size() >= limite_;
  }
  // "GET" of "GET /x HTTP/1.1"; "" before a blank.
  std::string_view Metodo() const {
    const std::size_t espaco = linha_.find(' ');
    return espaco == std::string::npos ? std::string_view{}
                                       : std::string_view(linha_).substr(0, espaco);
  }
  // "/x" of "GET /x HTTP/1.1": from the first blank to the last one (or the end).
  std::string_view Alvo() const {
    std::string_view l = linha_;
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    const std::size_t espaco = l.find(' ');
    if (espaco == std::string_view::npos) return {};
    l.remove_prefix(espaco + 1);
    const std::size_t ultimo = l.rfind(' ');
    return ultimo == std::string_view::npos ? l : l.substr(0, ultimo);
  }

 private:
  const std::size_t limite_;
  std::string linha_;
  bool completa_ = false;
};

// Writes the access line of one answer.
void RegistrarAcesso(std::string_view endereco, std::string_view metodo, std::string_view caminho,
                     int status, const TCanal& canal, Relogio::time_point inicio,
                     std::string_view sessao) {
  TRegistroAcesso r;
  r.Momento = std::chrono::system_clock::now();
  r.Endereco = endereco;
  r.Metodo = metodo;
  r.Caminho = caminho;
  r.Status = status;
  r.Bytes = canal.Escritos();
  r.Duracao = std::chrono::duration_cast<std::chrono::milliseconds>(Relogio::now() - inicio);
  r.Sessao = sessao;
  EscreverLinhaAcesso(LinhaAcesso(r));
}

// The web module's answer to one request. The end-of-call hook (which closes the call's
// tenant connection) and the release run before any byte goes out, so that a client that
// has its answer never finds its own instance still taken, whatever it does next. The answer
// is whole by then and all its own: nothing in it refers to the module.
void Atender(util::TWebRequest& pedido, util::TWebResponse& resposta, TRequestPool& pool,
             const std::atomic<bool>* parando) {
  std::optional<TRequestPool::TInstance> modulo;
  try {
    modulo.emplace(pool.Acquire(parando));
    (*modulo)->HandleRequest(pedido, resposta);
  } catch (const std::exception& e) {
    resposta = util::TWebResponse{};
    resposta.StatusCode = 500;
    resposta.Content = e.what();
  } catch (...) {
    resposta = util::TWebResponse{};
    resposta.StatusCode = 500;
    resposta.Content = "Erro desconhecido ao atender o pedido.";
  }
  if (modulo) (*modulo)->OnRequestDone();
}

// Calls the caller's hook once: when the answer is out, or at the latest when serving ends.
class TAvisoRespondido {
 public:
  explicit TAvisoRespondido(const std::function<void()>& f) : f_(f) {}
  ~TAvisoRespondido() { (*this)(); }
  TAvisoRespondido(const TAvisoRespondido&) = delete;
  TAvisoRespondido& operator=(const TAvisoRespondido&) = delete;
  void operator()() {
    if (feito_ || !f_) return;
    feito_ = true;
    f_();
  }

 private:
  const std::function<void()>& f_;
  bool feito_ = false;
};

void Servir(int fd, std::string_view remoteAddr, std::uint16_t localPort, TRequestPool& pool,
            const TConnectionSettings& config, const std::atomic<bool>* parando,
            const std::function<void()>& respondido) {
  TAvisoRespondido aviso(respondido);
  const auto inicio = Relogio::now();
  std::optional<TSessaoTLS> tls;
  if (config.TLS != nullptr) tls.emplace(fd, config.TLS->Atual());
  TCanal canal(fd, tls ? &*tls : nullptr);
  THTTPRequestReader leitor(config.Limites);
  TLinhaPedido linhaPedido(config.LogAcesso ? config.Limites.MaximoTamanhoLinha + 1 : 0);
  // One clock for the whole request, the TLS handshake included: a client that trickles
  // bytes cannot stretch it.
  const auto prazoLeitura = Relogio::now() + config.TempoLeitura;
  if (!canal.Apertar(prazoLeitura)) return;
  const auto corpoChegando = [&] { return canal.BytesEm(std::chrono::milliseconds(1)); };
  std::array<char, 65536> buf;
  for (bool pronto = false; !pronto;) {
    switch (leitor.Advance(corpoChegando)) {
      case THTTPRequestReader::TStep::NeedMore: {
        const std::size_t n =
            canal.Ler(buf.data(), std::min(buf.size(), leitor.FeedLimit()), prazoLeitura);
        if (n == 0) return;
        linhaPedido.Feed({buf.data(), n});
        leitor.Feed({buf.data(), n});
        break;
      }
      case THTTPRequestReader::TStep::SendContinue:
        if (!canal.Escrever(prazoLeitura, leitor.ContinueLine())) return;
        break;
      case THTTPRequestReader::TStep::Answer: {
        const bool enviada = canal.Escrever(
            Relogio::now() + config.TempoEscrita,
            RespostaSemCorpo(leitor.AnswerStatus(), std::chrono::system_clock::now()));
        aviso();
        if (config.LogAcesso)
          RegistrarAcesso(remoteAddr, linhaPedido.Metodo(), linhaPedido.Alvo(),
                          leitor.AnswerStatus(), canal, inicio, {});
        if (enviada) canal.FecharDevagar();
        return;
      }
      case THTTPRequestReader::TStep::Close:
        return;
      case THTTPRequestReader::TStep::Ready:
        pronto = true;
        break;
    }
  }

  util::TWebRequest pedido;
  leitor.TakeRequest(pedido, remoteAddr, std::to_string(localPort));
  if (tls) pedido.Scheme = "https";

  util::TWebResponse resposta;
  Atender(pedido, resposta, pool, parando);
  if (!resposta.Sent) {
    const THTTPAnswer a =
        MontarResposta(resposta, pedido.Method == "HEAD", std::chrono::system_clock::now());
    resposta.Sent = canal.Escrever(Relogio::now() + config.TempoEscrita, a.Head, a.Body);
  }
  aviso();
  if (config.LogAcesso)
    RegistrarAcesso(remoteAddr, pedido.Method, pedido.RawPathInfo, resposta.StatusCode, canal,
                    inicio, SessaoAcesso(pedido, resposta));
  if (resposta.Sent && leitor.HasUnreadInput())
    canal.FecharDevagar();
  else if (resposta.Sent)
    canal.Encerrar();
}

}  // namespace

void ServirConexao(int fd, std::string_view remoteAddr, std::uint16_t localPort, TRequestPool& pool,
                   const TConnectionSettings& config, const std::atomic<bool>* parando,
                   const std::function<void()>& respondido) noexcept {
  try {
    Servir(fd, remoteAddr, localPort, pool, config, parando, respondido);
  } catch (...) {
    // Out of memory while reading, or the like: the connection just ends.
  }
}

}  // namespace tamrix::web
