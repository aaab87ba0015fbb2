// The threads of one listening socket. Each thread accepts a connection and serves it itself
// from start to end; before it starts serving, another thread takes over accepting (an idle
// one, else a new one), so accepting never waits on a request and no connection waits for a
// thread. Threads that find nothing to accept for a while end, all but one. A connection
// beyond the listener's cap, or beyond the cap for its client's address, is refused on the
// accepting thread with a 503 that never waits on the client (over TLS: closed).
#ifndef TAMRIX_WEB_UHTTPACCEPTOR_H
#define TAMRIX_WEB_UHTTPACCEPTOR_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "web/uHTTPConnection.h"
#include "web/uRequestPool.h"

namespace tamrix::web {

// The body of the 503 a connection over MaximoConexoes or MaximoConexoesPorIP gets.
inline constexpr std::string_view kTextoConexoesDemais =
    "Servidor ocupado: conexões simultâneas demais. Tente novamente mais tarde.";

// What the acceptors of one listener share.
struct TAcceptorShared {
  std::mutex Mutex;
  std::size_t Servindo = 0;           // connections being served
  std::size_t Maximo = 0;             // beyond it a connection gets 503 and is closed
  std::size_t MaximoPorEndereco = 0;  // the same for one client address; 0: no cap
  std::unordered_map<std::string, std::size_t> PorEndereco;  // connections served per address
  std::unordered_set<int> Abertas;  // descriptors being served, shut down by a stop
  // Set under Mutex; read without it by requests waiting for a pool instance.
  std::atomic<bool> Parando{false};
};

class THTTPAcceptor {
 public:
  // listenFd: a bound, listening, blocking socket that outlives this object. Starts the first
  // accepting thread. shared, pool and config must outlive this object too.
  THTTPAcceptor(int listenFd, std::uint16_t localPort, TAcceptorShared& shared, TRequestPool& pool,
                const TConnectionSettings& config, std::chrono::milliseconds ocio);
  THTTPAcceptor(const THTTPAcceptor&) = delete;
  THTTPAcceptor& operator=(const THTTPAcceptor&) = delete;
  ~THTTPAcceptor();  // Parar and Esperar

  // Stops accepting: wakes the accepting threads, which end.
  void Parar();
  // Returns once every thread has ended, the serving ones after their connection.
  void Esperar();

 private:
  bool IniciarThread();  // with shared_.Mutex held
  void Trabalhar(std::list<std::thread>::iterator eu);
  void JuntarTerminados();  // with shared_.Mutex held

  const int listenFd_;
  const std::uint16_t localPort_;
  TAcceptorShared& shared_;
  TRequestPool& pool_;
  const TConnectionSettings& config_;
  std::list<std::thread> threads_;
  std::vector<std::list<std::thread>::iterator> terminados_;  // ended, not yet joined
  std::condition_variable saiu_;
  std::size_t aceitando_ = 0;  // threads waiting in accept
  bool parar_ = false;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPACCEPTOR_H
