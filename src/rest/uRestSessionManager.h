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
#include <vector>

#include "rest/uRestSession.h"

namespace tamrix::rest {

// Source of "now" for expiry; tests inject their own.
using TRelogioRest = std::function<TInstanteRest()>;

inline constexpr std::chrono::milliseconds kTempoLimiteSessao{1'200'000};
// Every call without a session opens one that lives 20 minutes: without a ceiling, a flood
// of such calls would hold memory without bound.
inline constexpr std::size_t kMaximoSessoes = 100'000;

// Thread-safe. The registry lock is held only to find, add or remove entries; sessions are
// ended (their instances freed) outside it.
class TRestSessionManager {
 public:
  explicit TRestSessionManager(TRelogioRest relogio = {},
                               std::chrono::milliseconds tempoLimite = kTempoLimiteSessao,
                               std::size_t maximo = kMaximoSessoes);
  ~TRestSessionManager();  // ends every session
  TRestSessionManager(const TRestSessionManager&) = delete;
  TRestSessionManager& operator=(const TRestSessionManager&) = delete;

  // A new open session under a fresh id: three random numbers 0-999999 joined by dots,
  // drawn from the operating system's random source until no open session has it. At the
  // ceiling, the expired sessions go first; then, until a tenth is free, those idle longest,
  // sessions without data (never logged in) before the others. A client of an ended one
  // gets the expired answer, as after its time-out.
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
  // Takes the sessions to end out of the registry (lock held) so that one more fits.
  void AbrirEspaco(std::vector<std::shared_ptr<TRestSession>>& fim);

  const TRelogioRest relogio_;
  const std::chrono::milliseconds tempoLimite_;
  const std::size_t maximo_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<TRestSession>> sessoes_;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTSESSIONMANAGER_H
