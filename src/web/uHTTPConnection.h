// Serves one accepted connection on the calling thread: reads one request within the time
// limits, answers it through a web-module instance of the pool, and closes.
#ifndef TAMRIX_WEB_UHTTPCONNECTION_H
#define TAMRIX_WEB_UHTTPCONNECTION_H

#include <boost/asio/ip/tcp.hpp>
#include <chrono>

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

// Reads, dispatches and answers one request; never throws. The socket is left open for the
// caller to close. Another thread may shut the socket down to end a connection early.
void ServirConexao(boost::asio::ip::tcp::socket& socket, TRequestPool& pool,
                   const TConnectionSettings& config) noexcept;

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPCONNECTION_H
