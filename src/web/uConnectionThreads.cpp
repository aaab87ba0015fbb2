#include "web/uConnectionThreads.h"

#include <system_error>
#include <utility>

namespace tamrix::web {

TConnectionThreads::TConnectionThreads(std::size_t maximo, std::chrono::milliseconds ocio)
    : maximo_(maximo), ocio_(ocio) {}

TConnectionThreads::~TConnectionThreads() {
  std::unique_lock lock(mutex_);
  ocioso_.wait(lock, [&] { return executando_ == 0 && pendentes_.empty(); });
  parar_ = true;
  temTrabalho_.notify_all();
  saiu_.wait(lock, [&] { return threads_.size() == terminados_.size(); });
  JuntarTerminados(lock);
}

bool TConnectionThreads::Executar(std::function<void()> job) {
  std::unique_lock lock(mutex_);
  JuntarTerminados(lock);
  if (executando_ + pendentes_.size() >= maximo_) return false;
  pendentes_.push_back(std::move(job));
  if (ociosos_ >= pendentes_.size()) {
    temTrabalho_.notify_one();
  } else {
    threads_.emplace_front();
    auto eu = threads_.begin();
    try {
      *eu = std::thread([this, eu] { Trabalhar(eu); });
    } catch (const std::system_error&) {
      // Out of threads: refused like a connection over the limit.
      threads_.erase(eu);
      pendentes_.pop_back();
      return false;
    }
  }
  return true;
}

void TConnectionThreads::Trabalhar(std::list<std::thread>::iterator eu) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (pendentes_.empty()) {
      ++ociosos_;
      const bool veio =
          temTrabalho_.wait_for(lock, ocio_, [&] { return parar_ || !pendentes_.empty(); });
      --ociosos_;
      if (!veio || pendentes_.empty()) break;
    }
    std::function<void()> job = std::move(pendentes_.front());
    pendentes_.pop_front();
    ++executando_;
    lock.unlock();
    job();
    job = nullptr;
    lock.lock();
    --executando_;
    if (executando_ == 0 && pendentes_.empty()) ocioso_.notify_all();
    if (ocio_.count() == 0 || parar_) break;
  }
  terminados_.push_back(eu);
  saiu_.notify_all();
}

void TConnectionThreads::JuntarTerminados(std::unique_lock<std::mutex>& lock) {
  std::vector<std::list<std::thread>::iterator> lista;
  lista.swap(terminados_);
  std::list<std::thread> juntar;
  for (auto it : lista) juntar.splice(juntar.end(), threads_, it);
  lock.unlock();
  for (auto& t : juntar) t.join();
  lock.lock();
}

void TConnectionThreads::EsperarOcioso() {
  std::unique_lock lock(mutex_);
  ocioso_.wait(lock, [&] { return executando_ == 0 && pendentes_.empty(); });
}

void TConnectionThreads::SetMaximo(std::size_t maximo) {
  std::lock_guard lock(mutex_);
  maximo_ = maximo;
}

std::size_t TConnectionThreads::EmExecucao() const {
  std::lock_guard lock(mutex_);
  return executando_ + pendentes_.size();
}

std::size_t TConnectionThreads::Threads() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

}  // namespace tamrix::web
