// Serves one accepted connection on the calling thread: reads one request within the time
// limits, answers it through a web-module instance of the pool, and closes.
#ifndef TAMRIX_WEB_UHTTPCONNECTION_H
#define TAMRIX_WEB_UHTTPCONNECTION_H

#include <chrono>
#include <cstdint>
#include <string_view>

#include "web/uHTTPRequestReader.h"
#include "web/uRequestPool.h"

namespace tamrix::web {

struct TConnectionSettings {
  THTTPLimits Limites;
  // The whole header must arrive within this time of the accept; then no pause in the body
  // may be longer. Closed without an answer when exceeded.
  std::chrono::milliseconds TempoLeitura{30000};
  // Longest pause allowed while the client takes the answer.
  std::chrono::milliseconds TempoEscrita{30000};
};

// Reads, dispatches and answers one request on fd, a connected non-blocking socket; never
// throws. The socket is left open for the caller to close; another thread may shut it down
// to end the connection early. remoteAddr is the peer's address as text.
void ServirConexao(int fd, std::string_view remoteAddr, std::uint16_t localPort, TRequestPool& pool,
                   const TConnectionSettings& config) noexcept;

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPCONNECTION_H
