#include "web/uHTTPConnection.h"

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "web/uHTTPResponseWriter.h"

namespace tamrix::web {

namespace {

using Relogio = std::chrono::steady_clock;
using boost::asio::ip::tcp;

class TCanal {
 public:
  TCanal(tcp::socket& s, const TConnectionSettings& c) : s_(s), config_(c) {
    boost::system::error_code ec;
    s_.non_blocking(true, ec);
  }

  // Some bytes into buf before prazo; 0 on end of stream, error or time-out.
  std::size_t Ler(char* buf, std::size_t n, Relogio::time_point prazo) {
    for (;;) {
      boost::system::error_code ec;
      const std::size_t lidos = s_.read_some(boost::asio::buffer(buf, n), ec);
      if (!ec) return lidos;
      if (ec != boost::asio::error::would_block || !Esperar(POLLIN, prazo)) return 0;
    }
  }

  // Writes both parts whole; false when the client went away or stopped taking bytes.
  bool Escrever(std::string_view a, std::string_view b = {}) {
    while (!a.empty() || !b.empty()) {
      const std::array<boost::asio::const_buffer, 2> partes{boost::asio::buffer(a),
                                                            boost::asio::buffer(b)};
      boost::system::error_code ec;
      std::size_t n = s_.write_some(partes, ec);
      if (ec) {
        if (ec != boost::asio::error::would_block ||
            !Esperar(POLLOUT, Relogio::now() + config_.TempoEscrita))
          return false;
        continue;
      }
      const std::size_t deA = std::min(n, a.size());
      a.remove_prefix(deA);
      b.remove_prefix(n - deA);
    }
    return true;
  }

  // Whether bytes (not the end of the stream) can be read within espera.
  bool BytesEm(std::chrono::milliseconds espera) {
    if (!Esperar(POLLIN, Relogio::now() + espera)) return false;
    char c;
    return ::recv(s_.native_handle(), &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }

  // Ends an answer the client may still be sending a request body after: stop writing,
  // take in (and drop) what still comes for a moment, so closing does not reset the
  // connection before the client has read the answer.
  void FecharDevagar() {
    boost::system::error_code ec;
    s_.shutdown(tcp::socket::shutdown_send, ec);
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
      pollfd p{s_.native_handle(), evento, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(falta + 1, 1 << 30)));
      if (r > 0) return true;
      if (r < 0 && errno != EINTR) return false;
    }
  }

  tcp::socket& s_;
  const TConnectionSettings& config_;
};

std::string TextoEndereco(const boost::asio::ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, a.to_v6()).to_string();
  return a.to_string();
}

void Servir(tcp::socket& socket, TRequestPool& pool, const TConnectionSettings& config) {
  TCanal canal(socket, config);
  THTTPRequestReader leitor(config.Limites);
  const auto prazoCabecalho = Relogio::now() + config.TempoLeitura;
  const auto corpoChegando = [&] { return canal.BytesEm(std::chrono::milliseconds(1)); };
  std::array<char, 65536> buf;
  for (bool pronto = false; !pronto;) {
    switch (leitor.Advance(corpoChegando)) {
      case THTTPRequestReader::TStep::NeedMore: {
        const auto prazo =
            leitor.HeadComplete() ? Relogio::now() + config.TempoLeitura : prazoCabecalho;
        const std::size_t n = canal.Ler(buf.data(), buf.size(), prazo);
        if (n == 0) return;
        leitor.Feed({buf.data(), n});
        break;
      }
      case THTTPRequestReader::TStep::SendContinue:
        if (!canal.Escrever(leitor.ContinueLine())) return;
        break;
      case THTTPRequestReader::TStep::Answer:
        if (canal.Escrever(
                RespostaSemCorpo(leitor.AnswerStatus(), std::chrono::system_clock::now())))
          canal.FecharDevagar();
        return;
      case THTTPRequestReader::TStep::Close:
        return;
      case THTTPRequestReader::TStep::Ready:
        pronto = true;
        break;
    }
  }

  boost::system::error_code ecRemoto, ecLocal;
  const auto remoto = socket.remote_endpoint(ecRemoto);
  const auto local = socket.local_endpoint(ecLocal);
  util::TWebRequest pedido;
  leitor.TakeRequest(pedido, ecRemoto ? std::string() : TextoEndereco(remoto.address()),
                     std::to_string(ecLocal ? 0 : local.port()));

  util::TWebResponse resposta;
  std::optional<TRequestPool::TInstance> modulo;
  try {
    modulo.emplace(pool.Acquire());
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
  if (!resposta.Sent) {
    const THTTPAnswer a =
        MontarResposta(resposta, pedido.Method == "HEAD", std::chrono::system_clock::now());
    resposta.Sent = canal.Escrever(a.Head, a.Body);
  }
  if (modulo) {
    (*modulo)->OnRequestDone();
    modulo.reset();
  }
  if (resposta.Sent && leitor.HasUnreadInput()) canal.FecharDevagar();
}

}  // namespace

void ServirConexao(tcp::socket& socket, TRequestPool& pool,
                   const TConnectionSettings& config) noexcept {
  try {
    Servir(socket, pool, config);
  } catch (...) {
    // Out of memory while reading, or the like: the connection just ends.
  }
}

}  // namespace tamrix::web
