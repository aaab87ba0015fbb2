#include "web/uRequestPool.h"

#include <algorithm>
#include <utility>

#include "diagnostics/uExcecoes.h"

namespace tamrix::web {

void TRequestPool::Recusar() const {
  if (metricas_) metricas_->Recusas->Somar(1);
  throw diagnostics::Exception(
      "Maximum number of concurrent connections exceeded.  Please try again later");
}

void TRequestPool::PublicarEmUso() const {
  if (metricas_) metricas_->EmUso->Definir(static_cast<double>(inUse_));
}

void TRequestPool::NomearMetricas(std::string_view pool) {
  std::lock_guard lock(mutex_);
  metricas_ = diagnostics::metricas::MetricasPool(pool);
  PublicarEmUso();
}

TRequestPool::TInstance::TInstance(TInstance&& other) noexcept
    : pool_(std::exchange(other.pool_, nullptr)), module_(std::exchange(other.module_, nullptr)) {}

TRequestPool::TInstance::~TInstance() {
  if (pool_ != nullptr) pool_->Release(module_);
}

TRequestPool::TRequestPool(std::size_t maximoEmUso, std::chrono::milliseconds espera)
    : maximo_(std::max<std::size_t>(maximoEmUso, 1)),
      espera_(std::max(espera, std::chrono::milliseconds(0))) {}

TRequestPool::~TRequestPool() {
  std::unique_lock lock(mutex_);
  destruindo_ = true;
  for (TEspera* e : fila_) {
    e->Recusada = true;
    e->Acordar.notify_one();
  }
  fila_.clear();
  saiu_.wait(lock, [&] { return esperando_ == 0; });
}

void TRequestPool::Configurar(std::size_t maximoEmUso, std::chrono::milliseconds espera) {
  std::lock_guard lock(mutex_);
  maximo_ = std::max<std::size_t>(maximoEmUso, 1);
  espera_ = std::max(espera, std::chrono::milliseconds(0));
}

void TRequestPool::SetWebModuleClass(TWebModuleFactory factory) {
  std::lock_guard lock(mutex_);
  factory_ = std::move(factory);
}

bool TRequestPool::HasWebModuleClass() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(factory_);
}

TRequestPool::TInstance TRequestPool::Acquire(const std::atomic<bool>* desistir) {
  std::unique_lock lock(mutex_);
  // Nobody passes the queue: a free instance goes to the oldest waiter (Release).
  if (inUse_ < maximo_ && fila_.empty()) {
    TWebModuleBase* module = nullptr;
    if (!idle_.empty()) {
      module = idle_.back();
      idle_.pop_back();
    } else {
      if (!factory_) throw diagnostics::Exception("No data modules registered");
      std::unique_ptr<TWebModuleBase> novo = factory_();
      if (!novo) throw diagnostics::Exception("No data modules registered");
      novo->WebModuleCreate();
      all_.push_back(std::move(novo));
      module = all_.back().get();
    }
    ++inUse_;
    PublicarEmUso();
    return TInstance(this, module);
  }
  if (espera_.count() == 0 || destruindo_ || (desistir != nullptr && *desistir)) Recusar();

  if (metricas_) metricas_->Esperas->Somar(1);
  TEspera eu;
  fila_.push_back(&eu);
  ++esperando_;
  eu.Acordar.wait_until(lock, std::chrono::steady_clock::now() + espera_, [&] {
    return eu.Modulo != nullptr || eu.Recusada || (desistir != nullptr && *desistir);
  });
  if (eu.Modulo == nullptr && !eu.Recusada) fila_.erase(std::find(fila_.begin(), fila_.end(), &eu));
  --esperando_;
  if (destruindo_) saiu_.notify_all();
  if (eu.Modulo == nullptr) Recusar();
  return TInstance(this, eu.Modulo);
}

void TRequestPool::AcordarEsperas() {
  std::lock_guard lock(mutex_);
  for (TEspera* e : fila_) e->Acordar.notify_one();
}

void TRequestPool::Release(TWebModuleBase* module) noexcept {
  std::lock_guard lock(mutex_);
  if (!fila_.empty()) {
    // Handed over still counted as in use, so that no newcomer takes it first.
    TEspera* primeiro = fila_.front();
    fila_.pop_front();
    primeiro->Modulo = module;
    primeiro->Acordar.notify_one();
    return;
  }
  --inUse_;
  PublicarEmUso();
  idle_.push_back(module);
}

std::size_t TRequestPool::InUse() const {
  std::lock_guard lock(mutex_);
  return inUse_;
}

std::size_t TRequestPool::Created() const {
  std::lock_guard lock(mutex_);
  return all_.size();
}

std::size_t TRequestPool::Waiting() const {
  std::lock_guard lock(mutex_);
  return fila_.size();
}

TRequestPool& WebRequestHandler() {
  static TRequestPool pool;
  static const bool nomeado = [] {
    pool.NomearMetricas("rest");
    return true;
  }();
  (void)nomeado;
  return pool;
}

}  // namespace tamrix::web
