// The pool of web-module instances the listener serves requests with: at most 32 in use at
// once, idle ones reused, none freed before the pool itself.
#ifndef TAMRIX_WEB_UREQUESTPOOL_H
#define TAMRIX_WEB_UREQUESTPOOL_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "web/uWebModuleBase.h"

namespace tamrix::web {

inline constexpr std::size_t kMaximoModulosEmUso = 32;

class TRequestPool {
 public:
  // An instance taken from the pool; gives it back when destroyed.
  class TInstance {
   public:
    TInstance(TInstance&& other) noexcept;
    TInstance& operator=(TInstance&&) = delete;
    TInstance(const TInstance&) = delete;
    ~TInstance();
    TWebModuleBase& operator*() const { return *module_; }
    TWebModuleBase* operator->() const { return module_; }

   private:
    friend class TRequestPool;
    TInstance(TRequestPool* pool, TWebModuleBase* module) : pool_(pool), module_(module) {}
    TRequestPool* pool_;
    TWebModuleBase* module_;
  };

  explicit TRequestPool(std::size_t maximoEmUso = kMaximoModulosEmUso);
  TRequestPool(const TRequestPool&) = delete;
  TRequestPool& operator=(const TRequestPool&) = delete;
  ~TRequestPool();  // the caller guarantees that no instance is still taken

  // Registers the class whose instances the pool creates (replaces an earlier one; instances
  // already made stay in use).
  void SetWebModuleClass(TWebModuleFactory factory);
  template <class T>
  void SetWebModuleClass() {
    SetWebModuleClass([] { return std::unique_ptr<TWebModuleBase>(std::make_unique<T>()); });
  }
  bool HasWebModuleClass() const;

  // Takes an idle instance or creates one (running its creation hook). Throws
  // diagnostics::Exception "Maximum number of concurrent connections exceeded.  Please try
  // again later" when the limit is reached, "No data modules registered" without a class.
  TInstance Acquire();

  std::size_t InUse() const;
  std::size_t Created() const;

 private:
  void Release(TWebModuleBase* module) noexcept;

  const std::size_t maximo_;
  mutable std::mutex mutex_;
  TWebModuleFactory factory_;
  std::vector<std::unique_ptr<TWebModuleBase>> all_;  // every instance made, freed last
  std::vector<TWebModuleBase*> idle_;
  std::size_t inUse_ = 0;
};

// The process-wide pool the program body registers its web-module class with.
TRequestPool& WebRequestHandler();

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UREQUESTPOOL_H
