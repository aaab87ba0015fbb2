// Helpers for the listener-limit tests against the real server: its memory as the kernel
// reports it, and raw connections that send and read at their own pace.
#ifndef TAMRIX_TESTS_E2E_LIMITES_E2E_H
#define TAMRIX_TESTS_E2E_LIMITES_E2E_H

#include <poll.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/e2e_servidor.h"

namespace tamrix::e2e {

// A raw client connection to 127.0.0.1:porta, closed with the object.
class TConexaoE2E {
 public:
  explicit TConexaoE2E(int porta) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(porta));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    conectada_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  TConexaoE2E(const TConexaoE2E&) = delete;
  TConexaoE2E& operator=(const TConexaoE2E&) = delete;
  ~TConexaoE2E() { ::close(fd_); }

  bool Conectada() const { return conectada_; }
  int Descritor() const { return fd_; }

  // Sends every byte; false once the server has closed or reset the connection.
  bool Enviar(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // One whole answer, as far as its Content-Length says, without waiting for the close (as
  // a load tool reads); what arrived when the connection ends or limite passes first.
  std::string LerResposta(std::chrono::milliseconds limite = 30s) {
    std::string r;
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (std::chrono::steady_clock::now() < fim) {
      const auto cab = r.find("\r\n\r\n");
      if (cab != std::string::npos) {
        const auto cl = r.find("Content-Length: ");
        if (cl != std::string::npos && cl < cab &&
            r.size() >= cab + 4 + std::stoul(r.substr(cl + 16)))
          return r;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[65536];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return r;
      r.append(buf, static_cast<std::size_t>(n));
    }
    return r;
  }

  // What arrives until the server closes (or limite passes); fechou tells which.
  std::string LerTudo(bool& fechou, std::chrono::milliseconds limite = 30s) {
    std::string r;
    fechou = false;
    const auto fim = std::chrono::steady_clock::now() + limite;
    for (;;) {
      const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
                             fim - std::chrono::steady_clock::now())
                             .count();
      if (falta <= 0) return r;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(falta)) <= 0) continue;
      char buf[65536];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        fechou = true;
        return r;
      }
      r.append(buf, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  bool conectada_ = false;
};

}  // namespace tamrix::e2e

#endif  // TAMRIX_TESTS_E2E_LIMITES_E2E_H
