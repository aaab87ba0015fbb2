#include "web/uHTTPAcceptor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cerrno>
#include <cstring>
#include <functional>
#include <system_error>

#include "util/uMemoria.h"
#include "web/uHTTPResponseWriter.h"
#include "web/uLogAcesso.h"

namespace tamrix::web {

namespace {

// The peer's address as text; an IPv4 address mapped into IPv6 is written as IPv4.
std::string TextoEndereco(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
    return boost::asio::ip::address_v4(ntohl(v4.sin_addr.s_addr)).to_string();
  }
  if (a.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
    boost::asio::ip::address_v6::bytes_type b;
    std::memcpy(b.data(), &v6.sin6_addr, b.size());
    const boost::asio::ip::address_v6 endereco(b, v6.sin6_scope_id);
    if (endereco.is_v4_mapped())
      return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, endereco).to_string();
    return endereco.to_string();
  }
  return {};
}

// What the per-address cap counts by: the address itself for IPv4, the /64 network for IPv6,
// since one IPv6 client is handed a whole /64 and may pick any source address in it.
std::string ChaveEndereco(const sockaddr_storage& a, const std::string& texto) {
  if (a.ss_family != AF_INET6 || texto.find(':') == std::string::npos) return texto;
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
  boost::asio::ip::address_v6::bytes_type b;
  std::memcpy(b.data(), &v6.sin6_addr, b.size());
  std::fill(b.begin() + 8, b.end(), 0);
  return boost::asio::ip::address_v6(b).to_string() + "/64";
}

// Refuses a connection over the limit without waiting on the client. A TLS connection is
// just closed: its answer would need a handshake, which waits on the client.
void Recusar(int fd, const TConnectionSettings& config, std::string_view endereco) {
  char buf[4096];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  ssize_t n = 0;
  if (config.TLS == nullptr) {
    util::TWebResponse resposta;
    resposta.StatusCode = 503;
    resposta.ContentType = "text/plain; charset=utf-8";
    resposta.Content = kTextoConexoesDemais;
    const THTTPAnswer a = MontarResposta(resposta, false, std::chrono::system_clock::now());
    const std::string r = a.Head + std::string(a.Body);
    n = ::send(fd, r.data(), r.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  if (config.LogAcesso) {
    TRegistroAcesso registro;
    registro.Momento = std::chrono::system_clock::now();
    registro.Endereco = endereco;
    registro.Status = 503;
    registro.Bytes = n > 0 ? static_cast<std::uint64_t>(n) : 0;
    EscreverLinhaAcesso(LinhaAcesso(registro));
  }
  ::shutdown(fd, SHUT_WR);
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  ::close(fd);
}

bool FaltaRecurso(int erro) {
  return erro == EMFILE || erro == ENFILE || erro == ENOBUFS || erro == ENOMEM;
}

}  // namespace

THTTPAcceptor::THTTPAcceptor(int listenFd, std::uint16_t localPort, TAcceptorShared& shared,
                             TRequestPool& pool, const TConnectionSettings& config,
                             std::chrono::milliseconds ocio)
    : listenFd_(listenFd), localPort_(localPort), shared_(shared), pool_(pool), config_(config) {
  // An idle thread's accept gives up after ocio, so that it can end.
  const auto ms = std::max<long long>(ocio.count(), 100);
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  ::setsockopt(listenFd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::lock_guard lock(shared_.Mutex);
  if (!IniciarThread())
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                            "Não foi possível iniciar a thread do servidor HTTP");
}

THTTPAcceptor::~THTTPAcceptor() {
  Parar();
  Esperar();
}

void THTTPAcceptor::Parar() {
  {
    std::lock_guard lock(shared_.Mutex);
    parar_ = true;
  }
  // Wakes every thread blocked in accept (it fails with EINVAL from now on).
  ::shutdown(listenFd_, SHUT_RDWR);
}

void THTTPAcceptor::Esperar() {
  std::unique_lock lock(shared_.Mutex);
  saiu_.wait(lock, [&] { return threads_.size() == terminados_.size(); });
  JuntarTerminados();
}

bool THTTPAcceptor::IniciarThread() {
  JuntarTerminados();
  threads_.emplace_front();
  const auto eu = threads_.begin();
  try {
    *eu = std::thread([this, eu] { Trabalhar(eu); });
  } catch (const std::system_error&) {
    threads_.erase(eu);
    return false;
  }
  ++aceitando_;  // counted from now, so that no second thread is started for the same turn
  return true;
}

void THTTPAcceptor::JuntarTerminados() {
  // A thread on this list has only to leave its function: joining it is quick.
  for (auto it : terminados_) {
    it->join();
    threads_.erase(it);
  }
  terminados_.clear();
}

void THTTPAcceptor::Trabalhar(std::list<std::thread>::iterator eu) {
  std::unique_lock lock(shared_.Mutex);
  for (;;) {
    if (parar_ || shared_.Parando) break;
    lock.unlock();
    sockaddr_storage par{};
    socklen_t tamanho = sizeof par;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&par), &tamanho,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int erro = errno;
    const std::string endereco = fd >= 0 ? TextoEndereco(par) : std::string();
    const std::string chave = fd >= 0 ? ChaveEndereco(par, endereco) : std::string();
    lock.lock();
    --aceitando_;
    if (fd < 0) {
      if (parar_ || shared_.Parando) break;
      // Nothing to accept for a while: end, unless this is the last thread accepting.
      if ((erro == EAGAIN || erro == EWOULDBLOCK) && aceitando_ > 0) break;
      if (FaltaRecurso(erro)) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.lock();
      }
      ++aceitando_;
      continue;
    }
    if (parar_ || shared_.Parando) {
      ::close(fd);
      break;
    }
    const bool contar = shared_.MaximoPorEndereco > 0;
    const auto doEndereco = contar ? shared_.PorEndereco.find(chave) : shared_.PorEndereco.end();
    const bool enderecoCheio =
        doEndereco != shared_.PorEndereco.end() && doEndereco->second >= shared_.MaximoPorEndereco;
    if (shared_.Servindo >= shared_.Maximo || enderecoCheio ||
        (aceitando_ == 0 && !IniciarThread())) {
      ++aceitando_;
      lock.unlock();
      Recusar(fd, config_, endereco);
      lock.lock();
      continue;
    }
    if (contar) ++shared_.PorEndereco[chave];
    ++shared_.Servindo;
    shared_.Abertas.insert(fd);
    lock.unlock();

    // The address's slot is freed once the answer is out, not after the drain and close: a
    // terminal that reconnects at once for its next call must not find its old one counted.
    const std::function<void()> liberarEndereco = [&] {
      if (!contar) return;
      std::lock_guard trava(shared_.Mutex);
      const auto it = shared_.PorEndereco.find(chave);
      if (--it->second == 0) shared_.PorEndereco.erase(it);
    };
    ServirConexao(fd, endereco, localPort_, pool_, config_, &shared_.Parando, liberarEndereco);

    lock.lock();
    shared_.Abertas.erase(fd);
    const bool ocioso = --shared_.Servindo == 0;
    lock.unlock();
    ::close(fd);
    // The last connection of a burst gives back what its threads freed.
    if (ocioso) util::DevolverMemoriaOciosa();
    lock.lock();
    ++aceitando_;
  }
  terminados_.push_back(eu);
  const bool ultimaDaRajada = threads_.size() - terminados_.size() <= 1;
  saiu_.notify_all();
  lock.unlock();
  // A thread leaves when there was nothing to accept for a while: an idle moment. Once only
  // the accepting thread is left, the burst is over.
  if (ultimaDaRajada)
    util::DevolverMemoriaAgora();
  else
    util::DevolverMemoriaOciosa();
}

}  // namespace tamrix::web
