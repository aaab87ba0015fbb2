#include "web/uRequestPool.h"

#include <algorithm>
#include <utility>

#include "diagnostics/uExcecoes.h"

namespace tamrix::web {

TRequestPool::TInstance::TInstance(TInstance&& other) noexcept
    : pool_(std::exchange(other.pool_, nullptr)), module_(std::exchange(other.module_, nullptr)) {}

TRequestPool::TInstance::~TInstance() {
  if (pool_ != nullptr) pool_->Release(module_);
}

TRequestPool::TRequestPool(std::size_t maximoEmUso) : maximo_(maximoEmUso) {}

TRequestPool::~TRequestPool() = default;

void TRequestPool::SetWebModuleClass(TWebModuleFactory factory) {
  std::lock_guard lock(mutex_);
  factory_ = std::move(factory);
}

bool TRequestPool::HasWebModuleClass() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(factory_);
}

TRequestPool::TInstance TRequestPool::Acquire() {
  std::lock_guard lock(mutex_);
  if (inUse_ >= maximo_)
    throw diagnostics::Exception(
        "Maximum number of concurrent connections exceeded.  Please try again later");
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
  return TInstance(this, module);
}

void TRequestPool::Release(TWebModuleBase* module) noexcept {
  std::lock_guard lock(mutex_);
  --inUse_;
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

TRequestPool& WebRequestHandler() {
  static TRequestPool pool;
  return pool;
}

}  // namespace tamrix::web
