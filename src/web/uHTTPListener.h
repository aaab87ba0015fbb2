// The server's HTTP endpoint: listens on the configured port (IPv4 and, where available,
// IPv6), and on the TLS port beside it when one is set, serves every connection on a thread
// of its own with one request, and answers it through the web-module pool. Both ports share
// the limits, the connection caps and the pool. Owned by the control window, switched on
// and off with Active.
#ifndef TAMRIX_WEB_UHTTPLISTENER_H
#define TAMRIX_WEB_UHTTPLISTENER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/uHTTPConnection.h"
#include "web/uRequestPool.h"
#include "web/uTLS.h"

namespace tamrix::web {

// Limits for a server on an open network; the owner fills them from its configuration.
struct THTTPListenerSettings {
  std::chrono::milliseconds TempoLeitura{30000};   // the whole request, from the accept
  std::chrono::milliseconds TempoEscrita{60000};   // the whole answer, from its first byte
  std::uint64_t TamanhoMaximoCorpo = 64u << 20;    // larger bodies: 413
  std::size_t TamanhoMaximoCabecalho = 64u << 10;  // request line and header lines: beyond, 431
  std::size_t MaximoConexoes = 1024;               // beyond it: 503 and closed
  std::size_t MaximoConexoesPorIP = 256;           // the same for one client address; 0: no cap
  // Room for a burst as large as MaximoConexoes: Linux drops the SYN of a connection that
  // finds the queue full, and its client retries only after 1, 3, 7, 15... seconds.
  int Backlog = 1024;
  // How long an idle connection thread waits for the next connection before it ends (one
  // always stays); at least 100 ms.
  std::chrono::milliseconds OcioThread{10000};
  // One line per answered request on standard output (web/uLogAcesso.h).
  bool LogAcesso = false;
};

// One address to listen on; Port 0 means the default port (the TLS port for TLS).
struct TBinding {
  std::string IP;
  std::uint16_t Port = 0;
  bool TLS = false;  // served over TLS with the listener's context
};

class THTTPListener {
 public:
  // pool must outlive the listener.
  explicit THTTPListener(TRequestPool& pool = WebRequestHandler());
  THTTPListener(const THTTPListener&) = delete;
  THTTPListener& operator=(const THTTPListener&) = delete;
  ~THTTPListener();  // deactivates first

  // Addresses to listen on; empty means every IPv4 and IPv6 address on DefaultPort.
  // Changes take effect at the next activation.
  std::vector<TBinding>& Bindings() { return bindings_; }
  std::uint16_t DefaultPort() const { return defaultPort_; }
  void SetDefaultPort(std::uint16_t porta) { defaultPort_ = porta; }
  // The TLS port (0: none; with explicit Bindings, the port of a TLS binding without one) and
  // the context its connections use, which may be reloaded while active. Takes effect at the
  // next activation; with empty Bindings the TLS port listens on every address too.
  void SetTLS(std::uint16_t porta, std::shared_ptr<TContextoTLS> contexto) {
    portaTLS_ = porta;
    contextoTLS_ = std::move(contexto);
  }
  std::uint16_t PortaTLS() const { return portaTLS_; }
  const std::shared_ptr<TContextoTLS>& ContextoTLS() const { return contextoTLS_; }
  // Takes effect at the next activation.
  void SetSettings(const THTTPListenerSettings& settings) { settings_ = settings; }
  const THTTPListenerSettings& Settings() const { return settings_; }

  bool Active() const { return active_; }
  // True: binds every binding and starts accepting; throws diagnostics::Exception with the
  // socket error (and stays inactive) when an address cannot be bound, or when a TLS binding
  // has no context.
  // False: stops accepting, ends open connections, refuses requests waiting for a pool
  // instance and returns once no request is being handled any more. Call from one thread
  // (the owner's).
  void SetActive(bool ativo);

  // The first half of a graceful stop: closes the listening sockets, so that new connections
  // are refused, while the connections being served go on to their answers. The listener
  // stays active: SetActive(false) then ends whatever is still open. Call from the owner's
  // thread; nothing when inactive.
  void PararAceitar();

  // The ports actually listened on, one per plain binding (useful with port 0).
  std::vector<std::uint16_t> LocalPorts() const;
  // The same for the TLS bindings.
  std::vector<std::uint16_t> LocalPortsTLS() const;
  // Connections being served now (with PararAceitar: those still to finish).
  std::size_t ConnectionCount() const;

 private:
  class TImpl;
  TRequestPool& pool_;
  std::vector<TBinding> bindings_;
  std::uint16_t defaultPort_ = 0;
  std::uint16_t portaTLS_ = 0;
  std::shared_ptr<TContextoTLS> contextoTLS_;
  THTTPListenerSettings settings_;
  std::atomic<bool> active_{false};
  std::unique_ptr<TImpl> impl_;  // the sockets and threads of an active listener
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPLISTENER_H
