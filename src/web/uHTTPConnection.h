// Serves one accepted connection on the calling thread: reads one request within the time
// limits, answers it through a web-module instance of the pool, and closes.
#ifndef TAMRIX_WEB_UHTTPCONNECTION_H
#define TAMRIX_WEB_UHTTPCONNECTION_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "web/uHTTPRequestReader.h"
#include "web/uRequestPool.h"

namespace tamrix::web {

class TContextoTLS;

struct TConnectionSettings {
  THTTPLimits Limites;
  // The whole request (header, body and trailer) must arrive within this time of the accept.
  // Closed without an answer when exceeded.
  std::chrono::milliseconds TempoLeitura{30000};
  // The whole answer must be taken by the client within this time of its first byte; when
  // exceeded the connection is reset.
  std::chrono::milliseconds TempoEscrita{60000};
  // One line per answered request (refusals included) on standard output (web/uLogAcesso.h).
  bool LogAcesso = false;
  // Set: the connection speaks TLS with the pair in use at its accept; the handshake counts
  // against TempoLeitura. Must outlive the connection.
  const TContextoTLS* TLS = nullptr;
};

// Reads, dispatches and answers one request on fd, a connected non-blocking socket (after the
// TLS handshake, with config.TLS); never throws. The socket is left open for the caller to
// close; another thread may shut it down to end the connection early. remoteAddr is the peer's
// address as text. parando, when given, is set by a stop: a request still waiting for a pool
// instance then gives up (see TRequestPool::AcordarEsperas). respondido, when given, is called
// once, on this thread, as soon as the answer is out (or the connection is given up), before the
// last bytes the client may still send are drained: what the client could reconnect for is free by
// then. With config.LogAcesso, the access line is written once the answer is out.
void ServirConexao(int fd, std::string_view remoteAddr, std::uint16_t localPort, TRequestPool& pool,
                   const TConnectionSettings& config, const std::atomic<bool>* parando = nullptr,
                   const std::function<void()>& respondido = {}) noexcept;

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPCONNECTION_H
