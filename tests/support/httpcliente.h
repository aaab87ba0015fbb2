// A raw HTTP client for wire tests: sends bytes exactly as given over a real TCP socket and
// reads what comes back until the server closes (or a time limit passes).
#ifndef TAMRIX_TESTS_SUPPORT_HTTPCLIENTE_H
#define TAMRIX_TESTS_SUPPORT_HTTPCLIENTE_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tamrix::testes {

class TClienteHTTP {
 public:
  // Connects to 127.0.0.1 (or ::1 with ipv6) on porta; throws when it cannot.
  explicit TClienteHTTP(std::uint16_t porta, bool ipv6 = false) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) throw std::runtime_error("socket falhou");
    int r;
    if (ipv6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(porta);
      a.sin6_addr = in6addr_loopback;
      r = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(porta);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      r = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (r != 0) {
      ::close(fd_);
      throw std::runtime_error("connect falhou");
    }
  }
  TClienteHTTP(const TClienteHTTP&) = delete;
  TClienteHTTP& operator=(const TClienteHTTP&) = delete;
  ~TClienteHTTP() { ::close(fd_); }

  // Sends every byte; false when the server has gone.
  bool Enviar(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Reads until the server closes or limite passes; Fechou() tells which.
  std::string LerTudo(std::chrono::milliseconds limite = std::chrono::seconds(10)) {
    return LerAte({}, limite);
  }

  // Reads until fim has arrived (or the server closes, or limite passes).
  std::string LerAte(std::string_view fim,
                     std::chrono::milliseconds limite = std::chrono::seconds(10)) {
    std::string r;
    const auto prazo = std::chrono::steady_clock::now() + limite;
    while (fim.empty() || r.find(fim) == std::string::npos) {
      const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
                             prazo - std::chrono::steady_clock::now())
                             .count();
      if (falta <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(falta)) <= 0) continue;
      char buf[65536];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        fechou_ = true;
        break;
      }
      r.append(buf, static_cast<std::size_t>(n));
    }
    return r;
  }

  bool Fechou() const { return fechou_; }
  int Descritor() const { return fd_; }

 private:
  int fd_ = -1;
  bool fechou_ = false;
};

// One exchange: sends pedido and returns everything the server answered before closing.
inline std::string TrocarHTTP(std::uint16_t porta, std::string_view pedido) {
  TClienteHTTP c(porta);
  c.Enviar(pedido);
  return c.LerTudo();
}

}  // namespace tamrix::testes

#endif  // TAMRIX_TESTS_SUPPORT_HTTPCLIENTE_H
