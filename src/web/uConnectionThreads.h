// The threads that serve connections: each job (one connection) runs from start to end on
// one thread, with no queueing behind other jobs: an idle thread takes it, else a new thread
// starts. Idle threads wait a while for the next job and then end.
#ifndef TAMRIX_WEB_UCONNECTIONTHREADS_H
#define TAMRIX_WEB_UCONNECTIONTHREADS_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace tamrix::web {

class TConnectionThreads {
 public:
  // maximo: jobs running (or handed over) at once. ocio: how long an idle thread waits for
  // the next job; zero ends every thread after its one job.
  TConnectionThreads(std::size_t maximo, std::chrono::milliseconds ocio);
  TConnectionThreads(const TConnectionThreads&) = delete;
  TConnectionThreads& operator=(const TConnectionThreads&) = delete;
  ~TConnectionThreads();  // waits for the running jobs, then ends every thread

  // Hands job to a thread. False (job dropped) when maximo jobs are already running.
  bool Executar(std::function<void()> job);

  // Returns once no job is running or waiting for its thread.
  void EsperarOcioso();

  void SetMaximo(std::size_t maximo);
  std::size_t EmExecucao() const;
  std::size_t Threads() const;

 private:
  void Trabalhar(std::list<std::thread>::iterator eu);
  void JuntarTerminados(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  std::condition_variable temTrabalho_;
  std::condition_variable ocioso_;  // signalled when the last job ends
  std::condition_variable saiu_;    // signalled when a thread ends
  std::size_t maximo_;
  const std::chrono::milliseconds ocio_;
  std::deque<std::function<void()>> pendentes_;
  std::list<std::thread> threads_;
  std::vector<std::list<std::thread>::iterator> terminados_;  // ended, not yet joined
  std::size_t ociosos_ = 0;                                   // threads waiting for a job
  std::size_t executando_ = 0;                                // jobs running now
  bool parar_ = false;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UCONNECTIONTHREADS_H
