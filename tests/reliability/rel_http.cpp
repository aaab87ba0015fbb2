#include "reliability/rel_http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/json/src.hpp>  // header-only: this driver links no library of ours
#include <cerrno>
#include <regex>
#include <sstream>

namespace tamrix::reliability {

namespace {

using Relogio = std::chrono::steady_clock;

class TSocket {
 public:
  TSocket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
  ~TSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

int Restante(Relogio::time_point fim) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(fim - Relogio::now()).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

// Waits for the events on fd until fim; false when the deadline passed.
bool Esperar(int fd, short eventos, Relogio::time_point fim) {
  for (;;) {
    pollfd p{fd, eventos, 0};
    const int n = ::poll(&p, 1, Restante(fim));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // let the next call report the error
  }
}

// connect() of fd to 127.0.0.destino:porta, bound first to 127.0.0.origem when origem > 0.
int Conectar(int fd, int porta, int destino, int origem) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (origem > 0) {
    // The port is chosen at connect, per destination: a flood from one address would
    // otherwise wear out its ports in bind.
    const int um = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &um, sizeof um);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK + static_cast<uint32_t>(origem - 1));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  }
  a.sin_port = htons(static_cast<uint16_t>(porta));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK + static_cast<uint32_t>(destino - 1));
  return ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

std::string Cabecalhos(int porta, const std::string& sessao) {
  return "Host: 127.0.0.1:" + std::to_string(porta) + "\r\nConnection: close\r\n" +
         CabecalhoSessao(sessao);
}

}  // namespace

std::string CabecalhoSessao(const std::string& sessao) {
  return sessao.empty() ? std::string() : "Pragma: dssession=" + sessao + "\r\n";
}

std::string TResposta::Header(const std::string& nome) const {
  std::istringstream in(Cabecalho);
  std::string linha;
  std::getline(in, linha);  // status line
  while (std::getline(in, linha)) {
    if (!linha.empty() && linha.back() == '\r') linha.pop_back();
    const auto dp = linha.find(':');
    if (dp == std::string::npos || strncasecmp(linha.c_str(), nome.c_str(), dp) != 0 ||
        dp != nome.size())
      continue;
    std::string v = linha.substr(dp + 1);
    while (!v.empty() && v.front() == ' ') v.erase(0, 1);
    return v;
  }
  return {};
}

std::string TResposta::Sessao() const {
  const std::string p = Header("Pragma");
  const auto i = p.find("dssession=");
  if (i == std::string::npos) return {};
  const auto f = p.find(',', i);
  return p.substr(i + 10, f == std::string::npos ? std::string::npos : f - i - 10);
}

void Analisar(const std::string& bytes, TResposta& r) {
  r.Estado = TResposta::Malformada;
  const auto fimCab = bytes.find("\r\n\r\n");
  if (fimCab == std::string::npos) {
    r.Problema = "cabeçalho incompleto";
    return;
  }
  r.Cabecalho = bytes.substr(0, fimCab);
  r.Corpo = bytes.substr(fimCab + 4);
  static const std::regex statusLine(R"(HTTP/1\.[01] ([1-5][0-9][0-9]) [^\r\n]*)");
  static const std::regex headerLine(R"([!#$%&'*+.^_`|~0-9A-Za-z-]+:[^\r\n]*)");
  std::istringstream in(r.Cabecalho + "\r\n");
  std::string linha;
  std::getline(in, linha);
  if (linha.empty() || linha.back() != '\r') {
    r.Problema = "linha de status sem CR LF";
    return;
  }
  linha.pop_back();
  std::smatch m;
  if (!std::regex_match(linha, m, statusLine)) {
    r.Problema = "linha de status: " + linha.substr(0, 60);
    return;
  }
  r.Status = std::stoi(m[1]);
  int comprimentos = 0;
  while (std::getline(in, linha)) {
    if (linha.empty() || linha.back() != '\r') {
      r.Problema = "linha de cabeçalho sem CR LF";
      return;
    }
    linha.pop_back();
    if (!std::regex_match(linha, headerLine)) {
      r.Problema = "linha de cabeçalho: " + linha.substr(0, 60);
      return;
    }
    if (strncasecmp(linha.c_str(), "Content-Length:", 15) == 0) ++comprimentos;
  }
  if (comprimentos != 1) {
    r.Problema = "Content-Length " + std::to_string(comprimentos) + " vezes";
    return;
  }
  const std::string cl = r.Header("Content-Length");
  if (cl.empty() || cl.find_first_not_of("0123456789") != std::string::npos ||
      std::stoull(cl) != r.Corpo.size()) {
    r.Problema = "Content-Length " + cl + " com corpo de " + std::to_string(r.Corpo.size());
    return;
  }
  // REST answers carry the listener's default content type; their bodies are JSON texts.
  const bool json = r.Header("Content-Type").find("json") != std::string::npos ||
                    (!r.Corpo.empty() && (r.Corpo.front() == '{' || r.Corpo.front() == '['));
  if (json) {
    boost::system::error_code ec;
    auto v = boost::json::parse(r.Corpo, ec);
    if (ec) {
      r.Problema = "JSON inválido: " + r.Corpo.substr(0, 60);
      return;
    }
    r.Json = std::move(v);
  }
  r.Estado = TResposta::Respondida;
}

int AbrirConexao(int porta, int destino, int origem) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (Conectar(fd, porta, destino, origem) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TResposta Trocar(const std::string& bytes, int porta, int destino, std::chrono::milliseconds prazo,
                 int origem) {
  TResposta r;
  const auto fim = Relogio::now() + prazo;
  TSocket s;
  if (Conectar(s.Get(), porta, destino, origem) != 0) {
    if (errno != EINPROGRESS) {
      r.Estado = TResposta::Recusada;
      r.Problema = std::to_string(errno);
      return r;
    }
    if (!Esperar(s.Get(), POLLOUT, fim)) {
      r.Estado = TResposta::Prazo;
      r.Problema = "conexão";
      return r;
    }
    int erro = 0;
    socklen_t n = sizeof erro;
    ::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &erro, &n);
    if (erro != 0) {
      r.Estado = TResposta::Recusada;
      r.Problema = std::to_string(erro);
      return r;
    }
  }
  // A server that refuses a bad request may close before it has read everything.
  for (std::size_t enviado = 0; enviado < bytes.size();) {
    const ssize_t n = ::send(s.Get(), bytes.data() + enviado, bytes.size() - enviado, MSG_NOSIGNAL);
    if (n > 0) {
      enviado += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      if (!Esperar(s.Get(), POLLOUT, fim)) {
        r.Estado = TResposta::Prazo;
        r.Problema = "envio";
        return r;
      }
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  std::string in;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::recv(s.Get(), buf, sizeof buf, 0);
    if (n > 0) {
      in.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;  // closed or reset
    } else if (errno == EAGAIN && !Esperar(s.Get(), POLLIN, fim)) {
      r.Estado = TResposta::Prazo;
      r.Problema = "resposta (" + std::to_string(in.size()) + " bytes)";
      return r;
    }
  }
  if (in.empty()) {
    r.Estado = TResposta::Fechada;
    return r;
  }
  Analisar(in, r);
  return r;
}

std::string PedidoGet(int porta, const std::string& alvo, const std::string& sessao) {
  return "GET " + alvo + " HTTP/1.1\r\n" + Cabecalhos(porta, sessao) + "\r\n";
}

std::string PedidoPut(int porta, const std::string& alvo, const std::string& corpo,
                      const std::string& sessao) {
  return "PUT " + alvo + " HTTP/1.1\r\n" + Cabecalhos(porta, sessao) +
         "Content-Type: application/json\r\nContent-Length: " + std::to_string(corpo.size()) +
         "\r\n\r\n" + corpo;
}

}  // namespace tamrix::reliability
