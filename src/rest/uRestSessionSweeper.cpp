#include "rest/uRestSessionSweeper.h"

namespace tamrix::rest {

TRestSessionSweeper::TRestSessionSweeper(TRestSessionManager& sessoes,
                                         std::chrono::milliseconds intervalo)
    : sessoes_(sessoes),
      intervalo_(intervalo),
      thread_([this](std::stop_token parar) { Executar(parar); }) {}

TRestSessionSweeper::~TRestSessionSweeper() {
  thread_.request_stop();
  acordar_.notify_all();
}

void TRestSessionSweeper::Executar(std::stop_token parar) {
  std::unique_lock lock(mutex_);
  while (!acordar_.wait_for(lock, parar, intervalo_, [] { return false; })) {
    if (parar.stop_requested()) return;
    lock.unlock();
    try {
      sessoes_.RemoverExpiradas();
    } catch (...) {
      // Out of memory at worst; the next round tries again.
    }
    ++voltas_;
    lock.lock();
  }
}

}  // namespace tamrix::rest
