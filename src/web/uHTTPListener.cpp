#include "web/uHTTPListener.h"

#include <sys/socket.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>

#include "diagnostics/uExcecoes.h"
#include "web/uHTTPAcceptor.h"

namespace tamrix::web {

using boost::asio::ip::tcp;

class THTTPListener::TImpl {
 public:
  TImpl(TRequestPool& pool, const THTTPListenerSettings& s) : pool_(pool), settings_(s) {
    conexao_.Limites.TamanhoMaximoCorpo = s.TamanhoMaximoCorpo;
    conexao_.TempoLeitura = s.TempoLeitura;
    conexao_.TempoEscrita = s.TempoEscrita;
    shared_.Maximo = s.MaximoConexoes;
  }

  ~TImpl() { Parar(); }

  // Binds one address; a missing IPv6 stack is reported as false when opcional.
  bool Escutar(const tcp::endpoint& ep, bool opcional) {
    tcp::acceptor a(io_);
    boost::system::error_code ec;
    a.open(ep.protocol(), ec);
    if (ec && opcional && ep.address().is_v6()) return false;
    if (!ec) a.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec && ep.address().is_v6()) a.set_option(boost::asio::ip::v6_only(true), ec);
    if (!ec) a.bind(ep, ec);
    if (ec && opcional && ep.address().is_v6() &&
        (ec == boost::asio::error::address_family_not_supported ||
         ec == boost::system::errc::address_not_available))
      return false;
    if (!ec) a.listen(settings_.Backlog, ec);
    if (ec)
      throw diagnostics::Exception("Não foi possível escutar em " + ep.address().to_string() +
                                   ", porta " + std::to_string(ep.port()) + ": " + ec.message());
    escutas_.push_back(std::move(a));
    return true;
  }

  void Iniciar() {
    for (auto& a : escutas_) {
      boost::system::error_code ec;
      const std::uint16_t porta = a.local_endpoint(ec).port();
      aceitadores_.push_back(std::make_unique<THTTPAcceptor>(
          a.native_handle(), porta, shared_, pool_, conexao_, settings_.OcioThread));
    }
  }

  std::vector<std::uint16_t> Portas() const {
    std::vector<std::uint16_t> r;
    for (const auto& a : escutas_) {
      boost::system::error_code ec;
      r.push_back(a.local_endpoint(ec).port());
    }
    return r;
  }

  std::size_t Conexoes() {
    std::lock_guard lock(shared_.Mutex);
    return shared_.Servindo;
  }

  void Parar() {
    for (auto& a : aceitadores_) a->Parar();
    {
      std::lock_guard lock(shared_.Mutex);
      shared_.Parando = true;
      for (int fd : shared_.Abertas) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& a : aceitadores_) a->Esperar();
    aceitadores_.clear();
    escutas_.clear();
  }

 private:
  TRequestPool& pool_;
  const THTTPListenerSettings settings_;
  TConnectionSettings conexao_;
  TAcceptorShared shared_;
  boost::asio::io_context io_;  // owns the listening sockets; never run
  std::vector<tcp::acceptor> escutas_;
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
  auto impl = std::make_unique<TImpl>(pool_, settings_);
  if (bindings_.empty()) {
    impl->Escutar(tcp::endpoint(tcp::v4(), defaultPort_), false);
    impl->Escutar(tcp::endpoint(tcp::v6(), defaultPort_), true);
  } else {
    for (const TBinding& b : bindings_) {
      boost::system::error_code ec;
      const auto endereco = b.IP.empty()
                                ? boost::asio::ip::address(boost::asio::ip::address_v4::any())
                                : boost::asio::ip::make_address(b.IP, ec);
      if (ec) throw diagnostics::Exception("Endereço de escuta inválido: \"" + b.IP + "\"");
      impl->Escutar(tcp::endpoint(endereco, b.Port != 0 ? b.Port : defaultPort_), false);
    }
  }
  impl->Iniciar();
  impl_ = std::move(impl);
  active_ = true;
}

std::vector<std::uint16_t> THTTPListener::LocalPorts() const {
  return impl_ ? impl_->Portas() : std::vector<std::uint16_t>{};
}

std::size_t THTTPListener::ConnectionCount() const {
  return impl_ ? impl_->Conexoes() : 0;
}

}  // namespace tamrix::web
