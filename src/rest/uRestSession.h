// One client session: its key/value data, its server-class instances and its activity
// time; and the session of the call the current thread is serving.
#ifndef TAMRIX_REST_URESTSESSION_H
#define TAMRIX_REST_URESTSESSION_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "rest/uRestCache.h"
#include "rest/uRestServerClass.h"

namespace tamrix::rest {

using TInstanteRest = std::chrono::steady_clock::time_point;

// The most a session keeps of one item taken from the request's headers.
inline constexpr std::size_t kMaximoDadoProtocolo = 256;
// The most a session keeps of one item a server method writes: no real token, user name or
// password comes near it, and it bounds what a flood of failed logins can hold.
inline constexpr std::size_t kMaximoDadoSessao = 1024;

// How much a session is worth keeping when the registry is full, least first.
enum class TUsoSessao {
  usNenhum,       // no server method wrote into it
  usDados,        // a method wrote into it, nobody logged in
  usAutenticada,  // a login succeeded in it
};

// Thread-safe: calls of one client may run at once and share the session.
class TRestSession {
 public:
  TRestSession(std::string id, std::string userName, TInstanteRest agora,
               std::chrono::milliseconds tempoLimite);
  TRestSession(const TRestSession&) = delete;
  TRestSession& operator=(const TRestSession&) = delete;

  const std::string& Id() const { return id_; }
  // User name of the Authorization header of the request that created the session.
  const std::string& UserName() const { return userName_; }

  // Data keys are compared without letter case; a key never written reads as "".
  std::string GetData(std::string_view chave) const;
  // Writes as a server method does, cut to kMaximoDadoSessao bytes: the session then counts
  // as in use (see Uso).
  void PutData(std::string_view chave, std::string valor);
  // Writes an item the protocol itself sets when it creates the session (remote address,
  // user agent...), cut to kMaximoDadoProtocolo bytes, since it comes from the caller's
  // headers; it does not count as use.
  void PutDataProtocolo(std::string_view chave, std::string_view valor);
  bool HasData(std::string_view chave) const;

  void MarcarAtividade(TInstanteRest agora);
  TInstanteRest UltimaAtividade() const;
  // No server method wrote into it yet (a call that never logged in); the protocol's own
  // items do not count.
  bool SemDados() const;
  // A login succeeded in this session: it outranks sessions only written into.
  void MarcarAutenticada();
  TUsoSessao Uso() const;
  // Expired once the time-out has fully passed since the last activity.
  bool Expirou(TInstanteRest agora) const;
  // Time-out minus the time since the last activity, never below 0.
  std::int64_t MilissegundosRestantes(TInstanteRest agora) const;

  // This session's instance of classe, made by its factory on the first call. After
  // Encerrar, a fresh instance is made for the caller and not kept.
  std::shared_ptr<void> PegarInstancia(const TRestServerClass& classe);

  // The results kept for this session in cache mode; emptied when the session ends.
  TRestCache& Cache() { return cache_; }

  // Ends the session: frees its data, its cache and its instances (an instance still in use by a
  // running call lives until that call ends).
  void Encerrar();
  bool Encerrada() const;

 private:
  const std::string id_;
  const std::string userName_;
  const std::chrono::milliseconds tempoLimite_;
  mutable std::mutex mutex_;    // data, activity, ended flag
  std::mutex mutexInstancias_;  // taken before mutex_ when both are needed
  TInstanteRest ultimaAtividade_;
  bool encerrada_ = false;
  TUsoSessao uso_ = TUsoSessao::usNenhum;
  std::map<std::string, std::string> dados_;                 // key lower-cased
  std::map<std::string, std::shared_ptr<void>> instancias_;  // class name lower-cased
  TRestCache cache_;
};

// The session bound to the call the calling thread serves; null outside a REST call.
std::shared_ptr<TRestSession> SessaoDaThread();

// Data of that session: "" when the thread serves no session.
std::string PegarDadoSessao(std::string_view chave);
// Writes into that session; raises diagnostics::Exception when the thread serves none.
void GravarDadoSessao(std::string_view chave, std::string valor);

// Binds a session to the calling thread for its lifetime and restores the previous binding.
class TSessaoDaThread {
 public:
  explicit TSessaoDaThread(std::shared_ptr<TRestSession> sessao);
  ~TSessaoDaThread();
  TSessaoDaThread(const TSessaoDaThread&) = delete;
  TSessaoDaThread& operator=(const TSessaoDaThread&) = delete;

 private:
  std::shared_ptr<TRestSession> anterior_;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTSESSION_H
