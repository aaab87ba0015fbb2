// The registry of open sessions, shared by every request thread.
#ifndef TAMRIX_REST_URESTSESSIONMANAGER_H
#define TAMRIX_REST_URESTSESSIONMANAGER_H

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "rest/uRestSession.h"

namespace tamrix::rest {

// Source of "now" for expiry; tests inject their own.
using TRelogioRest = std::function<TInstanteRest()>;

inline constexpr std::chrono::milliseconds kTempoLimiteSessao{1'200'000};

// Thread-safe. The registry lock is held only to find, add or remove entries; sessions are
// ended (their instances freed) outside it.
class TRestSessionManager {
 public:
  explicit TRestSessionManager(TRelogioRest relogio = {},
                               std::chrono::milliseconds tempoLimite = kTempoLimiteSessao);
  ~TRestSessionManager();  // ends every session
  TRestSessionManager(const TRestSessionManager&) = delete;
  TRestSessionManager& operator=(const TRestSessionManager&) = delete;

  // A new open session under a fresh id: three random numbers 0-999999 joined by dots,
  // drawn from the operating system's random source until no open session has it.
  std::shared_ptr<TRestSession> CriarSessao(std::string userName);

  // The open, unexpired session of that id with its activity set to now; null when unknown
  // or expired (an expired one is ended and removed).
  std::shared_ptr<TRestSession> ProcurarSessao(std::string_view id);

  // Ends and removes the session; false when no open session had that id.
  bool FecharSessao(std::string_view id);

  // Ends and removes every session (server stop).
  void TerminarTodasSessoes();

  // Ends and removes every expired session; answers how many.
  std::size_t RemoverExpiradas();

  std::size_t Quantidade() const;
  TInstanteRest Agora() const { return relogio_(); }
  std::chrono::milliseconds TempoLimite() const { return tempoLimite_; }

 private:
  const TRelogioRest relogio_;
  const std::chrono::milliseconds tempoLimite_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<TRestSession>> sessoes_;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTSESSIONMANAGER_H
