#include "web/uHTTPListener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <thread>
#include <unordered_set>

#include "diagnostics/uExcecoes.h"
#include "web/uConnectionThreads.h"
#include "web/uHTTPResponseWriter.h"

namespace tamrix::web {

namespace {

using boost::asio::ip::tcp;

// Refuses a connection over the limit without holding up the accept loop.
void Recusar(tcp::socket& s) {
  const int fd = s.native_handle();
  char buf[4096];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  const std::string r = RespostaSemCorpo(503, std::chrono::system_clock::now());
  [[maybe_unused]] const auto n = ::send(fd, r.data(), r.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

class THTTPListener::TImpl {
 public:
  TImpl(TRequestPool& pool, const THTTPListenerSettings& s)
      : pool_(pool), threads_(s.MaximoConexoes, s.OcioThread) {
    conexao_.Limites.TamanhoMaximoCorpo = s.TamanhoMaximoCorpo;
    conexao_.TempoLeitura = s.TempoLeitura;
    conexao_.TempoEscrita = s.TempoEscrita;
    parar_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (parar_ < 0)
      throw diagnostics::Exception("Não foi possível iniciar o servidor HTTP: " +
                                   std::error_code(errno, std::system_category()).message());
  }

  ~TImpl() {
    Parar();
    ::close(parar_);
  }

  // Binds one address; a missing IPv6 stack is reported as false when opcional.
  bool Escutar(const tcp::endpoint& ep, int backlog, bool opcional) {
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
    if (!ec) a.listen(backlog, ec);
    if (!ec) a.non_blocking(true, ec);
    if (ec)
      throw diagnostics::Exception("Não foi possível escutar em " + ep.address().to_string() +
                                   ", porta " + std::to_string(ep.port()) + ": " + ec.message());
    aceitadores_.push_back(std::move(a));
    return true;
  }

  void Iniciar() {
    for (auto& a : aceitadores_) threadsAceite_.emplace_back([this, &a] { Aceitar(a); });
  }

  std::vector<std::uint16_t> Portas() const {
    std::vector<std::uint16_t> r;
    for (const auto& a : aceitadores_) {
      boost::system::error_code ec;
      r.push_back(a.local_endpoint(ec).port());
    }
    return r;
  }

  std::size_t Conexoes() const { return threads_.EmExecucao(); }

  void Parar() {
    const std::uint64_t um = 1;
    [[maybe_unused]] const auto n = ::write(parar_, &um, sizeof um);
    for (auto& t : threadsAceite_) t.join();
    threadsAceite_.clear();
    aceitadores_.clear();
    {
      std::lock_guard lock(mutex_);
      fechando_ = true;
      for (int fd : abertas_) ::shutdown(fd, SHUT_RDWR);
    }
    threads_.EsperarOcioso();
  }

 private:
  void Aceitar(tcp::acceptor& a) {
    pollfd fds[2] = {{a.native_handle(), POLLIN, 0}, {parar_, POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) continue;  // EINTR
      if (fds[1].revents != 0) return;
      for (;;) {
        boost::system::error_code ec;
        tcp::socket s = a.accept(ec);
        if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) break;
        if (ec) {
          // Out of descriptors or memory: give the running connections a moment to end.
          if (ec == boost::asio::error::no_descriptors || ec == boost::asio::error::no_memory ||
              ec == boost::asio::error::no_buffer_space ||
              ec == boost::system::errc::too_many_files_open_in_system)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          break;
        }
        Despachar(std::move(s));
      }
    }
  }

  void Despachar(tcp::socket s) {
    auto socket = std::make_shared<tcp::socket>(std::move(s));
    const bool aceito = threads_.Executar([this, socket] {
      const int fd = socket->native_handle();
      {
        std::lock_guard lock(mutex_);
        if (fechando_) return;
        abertas_.insert(fd);
      }
      ServirConexao(*socket, pool_, conexao_);
      {
        std::lock_guard lock(mutex_);
        abertas_.erase(fd);
      }
      boost::system::error_code ec;
      socket->close(ec);
    });
    if (!aceito) Recusar(*socket);
  }

  TRequestPool& pool_;
  TConnectionSettings conexao_;
  boost::asio::io_context io_;  // owns the sockets; never run, all I/O is synchronous
  std::vector<tcp::acceptor> aceitadores_;
  std::vector<std::thread> threadsAceite_;
  int parar_ = -1;  // eventfd that wakes the accept threads to end
  std::mutex mutex_;
  std::unordered_set<int> abertas_;  // descriptors of the connections being served
  bool fechando_ = false;
  TConnectionThreads threads_;  // last: its destructor waits for the connection jobs
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
    impl->Escutar(tcp::endpoint(tcp::v4(), defaultPort_), settings_.Backlog, false);
    impl->Escutar(tcp::endpoint(tcp::v6(), defaultPort_), settings_.Backlog, true);
  } else {
    for (const TBinding& b : bindings_) {
      boost::system::error_code ec;
      const auto endereco = b.IP.empty()
                                ? boost::asio::ip::address(boost::asio::ip::address_v4::any())
                                : boost::asio::ip::make_address(b.IP, ec);
      if (ec) throw diagnostics::Exception("Endereço de escuta inválido: \"" + b.IP + "\"");
      impl->Escutar(tcp::endpoint(endereco, b.Port != 0 ? b.Port : defaultPort_), settings_.Backlog,
                    false);
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
