// Background removal of expired sessions, so clients that never come back do not keep
// their sessions (and server-class instances) in memory.
#ifndef TAMRIX_REST_URESTSESSIONSWEEPER_H
#define TAMRIX_REST_URESTSESSIONSWEEPER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "rest/uRestSessionManager.h"

namespace tamrix::rest {

class TRestSessionSweeper {
 public:
  // Starts a thread that calls sessoes.RemoverExpiradas() every intervalo; sessoes must
  // outlive this object.
  TRestSessionSweeper(TRestSessionManager& sessoes, std::chrono::milliseconds intervalo);
  // Stops the thread and waits for it (at most one sweep in progress).
  ~TRestSessionSweeper();
  TRestSessionSweeper(const TRestSessionSweeper&) = delete;
  TRestSessionSweeper& operator=(const TRestSessionSweeper&) = delete;

  // Sweeps completed so far.
  std::size_t Voltas() const { return voltas_.load(); }

 private:
  void Executar(std::stop_token parar);

  TRestSessionManager& sessoes_;
  const std::chrono::milliseconds intervalo_;
  std::atomic<std::size_t> voltas_{0};
  std::mutex mutex_;
  std::condition_variable_any acordar_;
  std::jthread thread_;  // last: started after the members it uses
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTSESSIONSWEEPER_H
