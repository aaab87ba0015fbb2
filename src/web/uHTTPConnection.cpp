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

namespace tamrix::web {

namespace {

using Relogio = std::chrono::steady_clock;

class TCanal {
 public:
  explicit TCanal(int fd) : fd_(fd) {}

  // Some bytes into buf before prazo; 0 on end of stream, error or time-out.
  std::size_t Ler(char* buf, std::size_t n, Relogio::time_point prazo) {
    for (;;) {
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
      iovec partes[2] = {{const_cast<char*>(a.data()), a.size()},
                         {const_cast<char*>(b.data()), b.size()}};
      msghdr m{};
      m.msg_iov = partes;
      m.msg_iovlen = 2;
      const ssize_t n = ::sendmsg(fd_, &m, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        if (!Esperar(POLLOUT, prazo)) {
          const linger zero{1, 0};
          ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &zero, sizeof zero);
          return false;
        }
        continue;
      }
      escritos_ += static_cast<std::uint64_t>(n);
      const std::size_t deA = std::min(static_cast<std::size_t>(n), a.size());
      a.remove_prefix(deA);
      b.remove_prefix(static_cast<std::size_t>(n) - deA);
    }
    return true;
  }

  // Bytes written so far.
  std::uint64_t Escritos() const { return escritos_; }

  // Whether bytes (not the end of the stream) can be read within espera.
  bool BytesEm(std::chrono::milliseconds espera) {
    if (!Esperar(POLLIN, Relogio::now() + espera)) return false;
    char c;
    return ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }

  // Ends an answer the client may still be sending a request body after: stop writing,
  // take in (and drop) what still comes for a moment, so closing does not reset the
  // connection before the client has read the answer.
  void FecharDevagar() {
    ::shutdown(fd_, SHUT_WR);
    const auto prazo = Relogio::now() + std::chrono::seconds(2);
    std::size_t total = 0;
    char buf[16384];
    while (total < (4u << 20)) {
      const std::size_t n = Ler(buf, sizeof buf, prazo);
      if (n == 0) break;
      total += n;
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
  TCanal canal(fd);
  THTTPRequestReader leitor(config.Limites);
  TLinhaPedido linhaPedido(config.LogAcesso ? config.Limites.MaximoTamanhoLinha + 1 : 0);
  // One clock for the whole request: a client that trickles bytes cannot stretch it.
  const auto prazoLeitura = Relogio::now() + config.TempoLeitura;
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
  if (resposta.Sent && leitor.HasUnreadInput()) canal.FecharDevagar();
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
