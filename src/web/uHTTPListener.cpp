#include "web/uHTTPListener.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <cerrno>
#include <system_error>
#include <utility>

#include "diagnostics/uExcecoes.h"
#include "web/uHTTPAcceptor.h"

namespace tamrix::web {

using boost::asio::ip::tcp;

namespace {

// A listening socket, closed with the object.
struct TSocket {
  explicit TSocket(int f) : fd(f) {}
  TSocket(TSocket&& o) noexcept : fd(std::exchange(o.fd, -1)), tls(o.tls) {}
  TSocket& operator=(TSocket&&) = delete;
  ~TSocket() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
  bool tls = false;
};

std::uint16_t PortaLocal(int fd) {
  sockaddr_storage a{};
  socklen_t n = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) return 0;
  return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(a).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

}  // namespace

class THTTPListener::TImpl {
 public:
  TImpl(TRequestPool& pool, const THTTPListenerSettings& s, std::shared_ptr<TContextoTLS> tls)
      : pool_(pool), settings_(s), contextoTLS_(std::move(tls)) {
    conexao_.Limites.TamanhoMaximoCorpo = s.TamanhoMaximoCorpo;
    conexao_.Limites.TamanhoMaximoCabecalho = s.TamanhoMaximoCabecalho;
    conexao_.TempoLeitura = s.TempoLeitura;
    conexao_.TempoEscrita = s.TempoEscrita;
    conexao_.LogAcesso = s.LogAcesso;
    conexaoTLS_ = conexao_;
    conexaoTLS_.TLS = contextoTLS_.get();
    shared_.Maximo = s.MaximoConexoes;
    shared_.MaximoPorEndereco = s.MaximoConexoesPorIP;
  }

  ~TImpl() { Parar(); }

  // Binds one address; a missing IPv6 stack is reported as false when opcional.
  bool Escutar(const tcp::endpoint& ep, bool opcional, bool tls) {
    if (tls && !contextoTLS_)
      throw diagnostics::Exception("A porta HTTPS " + std::to_string(ep.port()) +
                                   " não tem certificado.");
    const bool v6 = ep.address().is_v6();
    TSocket s(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int erro = s.fd < 0 ? errno : 0;
    if (erro != 0 && opcional && v6) return false;
    const int um = 1;
    if (erro == 0 && ::setsockopt(s.fd, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um) != 0)
      erro = errno;
    if (erro == 0 && v6 && ::setsockopt(s.fd, IPPROTO_IPV6, IPV6_V6ONLY, &um, sizeof um) != 0)
      erro = errno;
    if (erro == 0 && ::bind(s.fd, ep.data(), static_cast<socklen_t>(ep.size())) != 0) erro = errno;
    if (erro != 0 && opcional && v6 && (erro == EAFNOSUPPORT || erro == EADDRNOTAVAIL))
      return false;
    if (erro == 0 && ::listen(s.fd, settings_.Backlog) != 0) erro = errno;
    if (erro != 0)
      throw diagnostics::Exception("Não foi possível escutar em " + ep.address().to_string() +
                                   ", porta " + std::to_string(ep.port()) + ": " +
                                   std::error_code(erro, std::system_category()).message());
    s.tls = tls;
    escutas_.push_back(std::move(s));
    return true;
  }

  void Iniciar() {
    for (auto& s : escutas_)
      aceitadores_.push_back(std::make_unique<THTTPAcceptor>(s.fd, PortaLocal(s.fd), shared_, pool_,
                                                             s.tls ? conexaoTLS_ : conexao_,
                                                             settings_.OcioThread));
  }

  std::vector<std::uint16_t> Portas(bool tls) const {
    std::vector<std::uint16_t> r;
    for (const auto& s : escutas_)
      if (s.tls == tls) r.push_back(PortaLocal(s.fd));
    return r;
  }

  std::size_t Conexoes() {
    std::lock_guard lock(shared_.Mutex);
    return shared_.Servindo;
  }

  // The acceptors' stop shuts the listening sockets down: the kernel then refuses new
  // connections and resets those still queued, while served ones go on.
  void PararAceitar() {
    for (auto& a : aceitadores_) a->Parar();
  }

  void Parar() {
    PararAceitar();
    {
      std::lock_guard lock(shared_.Mutex);
      shared_.Parando = true;
      for (int fd : shared_.Abertas) ::shutdown(fd, SHUT_RDWR);
    }
    pool_.AcordarEsperas();  // after Parando is set, so that no waiter misses it
    for (auto& a : aceitadores_) a->Esperar();
    aceitadores_.clear();
    escutas_.clear();
  }

 private:
  TRequestPool& pool_;
  const THTTPListenerSettings settings_;
  const std::shared_ptr<TContextoTLS> contextoTLS_;  // held while connections use it
  TConnectionSettings conexao_;
  TConnectionSettings conexaoTLS_;
  TAcceptorShared shared_;
  std::vector<TSocket> escutas_;                             // the listening sockets
  std::vector<std::unique_ptr<THTTPAcceptor>> aceitadores_;  // one per listening socket
};

THTTPListener::THTTPListener(TRequestPool& pool) : pool_(pool) {}

THTTPListener::~THTTPListener() {
  SetActive(false);
}

void THTTPListener::SetActive(bool ativo) {
  if (ativo == active_) return;
  if (!ativo) {
    impl_->Parar();
    impl_.reset();
    active_ = false;
    return;
  }
  auto impl = std::make_unique<TImpl>(pool_, settings_, contextoTLS_);
  if (bindings_.empty()) {
    impl->Escutar(tcp::endpoint(tcp::v4(), defaultPort_), false, false);
    impl->Escutar(tcp::endpoint(tcp::v6(), defaultPort_), true, false);
    if (portaTLS_ != 0) {
      impl->Escutar(tcp::endpoint(tcp::v4(), portaTLS_), false, true);
      impl->Escutar(tcp::endpoint(tcp::v6(), portaTLS_), true, true);
    }
  } else {
    for (const TBinding& b : bindings_) {
      boost::system::error_code ec;
      const auto endereco = b.IP.empty()
                                ? boost::asio::ip::address(boost::asio::ip::address_v4::any())
                                : boost::asio::ip::make_address(b.IP, ec);
      if (ec) throw diagnostics::Exception("Endereço de escuta inválido: \"" + b.IP + "\"");
      const std::uint16_t padrao = b.TLS ? portaTLS_ : defaultPort_;
      impl->Escutar(tcp::endpoint(endereco, b.Port != 0 ? b.Port : padrao), false, b.TLS);
    }
  }
  impl->Iniciar();
  impl_ = std::move(impl);
  active_ = true;
}

void THTTPListener::PararAceitar() {
  if (impl_) impl_->PararAceitar();
}

std::vector<std::uint16_t> THTTPListener::LocalPorts() const {
  return impl_ ? impl_->Portas(false) : std::vector<std::uint16_t>{};
}

std::vector<std::uint16_t> THTTPListener::LocalPortsTLS() const {
  return impl_ ? impl_->Portas(true) : std::vector<std::uint16_t>{};
}

std::size_t THTTPListener::ConnectionCount() const {
  return impl_ ? impl_->Conexoes() : 0;
}

}  // namespace tamrix::web
