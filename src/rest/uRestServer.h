// The REST server: the registered server classes, the hooks the data module installs, the
// open sessions, and the started/stopped state. Requests reach it through
// TRestHTTPWebDispatcher.
#ifndef TAMRIX_REST_URESTSERVER_H
#define TAMRIX_REST_URESTSERVER_H

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rest/uRestRegistroClasses.h"
#include "rest/uRestSessionManager.h"

namespace tamrix::rest {

class TRestSessionSweeper;

struct TRestErrorEvent {
  const std::exception& Error;  // the failure reported to the client
  std::string Metodo;           // "Classe.Metodo" when known, else ""
  std::shared_ptr<TRestSession> Sessao;
};

using TRestErrorHook = std::function<void(const TRestErrorEvent&)>;
using TRestDisconnectHook = std::function<void()>;

struct TOpcoesRestServer {
  TRelogioRest Relogio;  // steady clock when empty
  std::chrono::milliseconds TempoLimiteSessao = kTempoLimiteSessao;
  std::chrono::milliseconds IntervaloVarredura = std::chrono::seconds(60);
  TLimitesCache LimitesCache{};  // per session, cache mode
};

class TRestServer {
 public:
  explicit TRestServer(TOpcoesRestServer opcoes = {});
  ~TRestServer();  // stops, ends every session
  TRestServer(const TRestServer&) = delete;
  TRestServer& operator=(const TRestServer&) = delete;

  // Adds a class; ERestException while started, or for a duplicate name (raised here or at
  // Iniciar).
  void RegistrarClasse(TRestServerClass classe);

  // Error hook: after a call answered with an error, on the serving thread, before the
  // disconnect hook. Disconnect hook: after every REST request has produced its answer, on
  // the thread that served it, failed calls included. Both only while stopped; a hook that
  // raises does not change the answer.
  void DefinirOnError(TRestErrorHook hook);
  void DefinirOnDisconnect(TRestDisconnectHook hook);

  // Freezes the registry and hooks for the request threads and starts the expiry sweep.
  void Iniciar();
  // Stops answering REST calls and the sweep; sessions stay until TerminarTodasSessoes.
  void Parar();
  bool Iniciado() const;
  // Whether any REST server of the process is started now; safe from any thread, also while
  // servers are being made and freed.
  static bool AlgumIniciado();

  TRestSessionManager& Sessoes() { return sessoes_; }

  // How much each session's result cache may keep (entries, bytes; 0 keeps nothing). May be
  // changed at any time; a session's cache meets new limits on the next result it keeps.
  void DefinirLimitesCache(TLimitesCache limites);
  TLimitesCache LimitesCache() const;

  // The registered classes (a snapshot; taken again after a later registration).
  std::shared_ptr<const TRegistroClasses> Registro() const;

  // What a request thread works with, fixed while the server runs.
  struct TEstado {
    std::shared_ptr<const TRegistroClasses> Registro;
    TRestErrorHook OnError;
    TRestDisconnectHook OnDisconnect;
  };
  // Null while stopped.
  std::shared_ptr<const TEstado> Estado() const;

  // The single instance of a class of life cycle "Server", made on first use.
  std::shared_ptr<void> InstanciaServidor(const TRestServerClass& classe);

 private:
  mutable std::mutex mutex_;
  std::vector<TRestServerClass> classes_;
  mutable std::shared_ptr<const TRegistroClasses> registro_;  // null after a registration
  TRestErrorHook onError_;
  TRestDisconnectHook onDisconnect_;
  TLimitesCache limitesCache_;
  std::shared_ptr<const TEstado> estado_;  // null while stopped
  std::map<std::string, std::shared_ptr<void>> instanciasServidor_;
  std::mutex mutexInstancias_;
  const std::chrono::milliseconds intervaloVarredura_;
  TRestSessionManager sessoes_;
  std::unique_ptr<TRestSessionSweeper> varredura_;  // last: stopped before the sessions go
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTSERVER_H
