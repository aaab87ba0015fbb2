// The pool of web-module instances the listener serves requests with: at most MaximoInstancias
// in use at once (32 unless configured), idle ones reused, none freed before the pool itself.
// A request that finds every instance busy is refused at once, or, with a wait configured,
// waits its turn in arrival order for an instance that is given back.
#ifndef TAMRIX_WEB_UREQUESTPOOL_H
#define TAMRIX_WEB_UREQUESTPOOL_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "diagnostics/uMetricas.h"
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

  explicit TRequestPool(std::size_t maximoEmUso = kMaximoModulosEmUso,
                        std::chrono::milliseconds espera = std::chrono::milliseconds(0));
  TRequestPool(const TRequestPool&) = delete;
  TRequestPool& operator=(const TRequestPool&) = delete;
  // The caller guarantees that no instance is still taken. Requests still waiting are
  // refused, and the destructor returns once they have left.
  ~TRequestPool();

  // Instances in use at once (at least 1) and how long a request waits for one when all are
  // busy (0: refused at once). Call while no request is being served.
  void Configurar(std::size_t maximoEmUso, std::chrono::milliseconds espera);

  // Registers the class whose instances the pool creates (replaces an earlier one; instances
  // already made stay in use).
  void SetWebModuleClass(TWebModuleFactory factory);
  template <class T>
  void SetWebModuleClass() {
    SetWebModuleClass([] { return std::unique_ptr<TWebModuleBase>(std::make_unique<T>()); });
  }
  bool HasWebModuleClass() const;

  // Takes an idle instance or creates one (running its creation hook). When every instance is
  // busy it waits, behind earlier waiters, up to the configured wait for one given back.
  // Throws diagnostics::Exception "Maximum number of concurrent connections exceeded.  Please
  // try again later" when none is free in time, or as soon as *desistir is true and
  // AcordarEsperas has been called; "No data modules registered" without a class.
  TInstance Acquire(const std::atomic<bool>* desistir = nullptr);

  // Wakes every waiting Acquire to look at its desistir flag again (a listener that stops).
  void AcordarEsperas();

  // Reports this pool's instances in use, waits and refusals in the metrics under that pool
  // label. Call before the pool serves; a pool never named reports nothing.
  void NomearMetricas(std::string_view pool);

  std::size_t InUse() const;
  std::size_t Created() const;
  // Requests waiting for an instance now.
  std::size_t Waiting() const;

 private:
  // One waiting Acquire, on its own stack: handed an instance, or told to give up.
  struct TEspera {
    std::condition_variable Acordar;
    TWebModuleBase* Modulo = nullptr;
    bool Recusada = false;
  };

  void Release(TWebModuleBase* module) noexcept;
  // The in-use gauge follows inUse_ (lock held); refusals and waits count one each.
  void PublicarEmUso() const;
  [[noreturn]] void Recusar() const;

  std::size_t maximo_;
  std::chrono::milliseconds espera_;
  mutable std::mutex mutex_;
  TWebModuleFactory factory_;
  std::vector<std::unique_ptr<TWebModuleBase>> all_;  // every instance made, freed last
  std::vector<TWebModuleBase*> idle_;
  std::size_t inUse_ = 0;         // instances taken, those being handed to a waiter included
  std::deque<TEspera*> fila_;     // waiters in arrival order
  std::size_t esperando_ = 0;     // waiters still inside Acquire (the queue and the refused)
  std::condition_variable saiu_;  // a waiter left Acquire (the destructor waits for that)
  bool destruindo_ = false;
  std::optional<diagnostics::metricas::TMetricasPool> metricas_;
};

// The process-wide pool the program body registers its web-module class with.
TRequestPool& WebRequestHandler();

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UREQUESTPOOL_H
