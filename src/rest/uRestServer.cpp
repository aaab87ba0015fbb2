#include "rest/uRestServer.h"

#include <atomic>

#include "rest/uRestExcecoes.h"
#include "rest/uRestSessionSweeper.h"
#include "util/uCaixaTexto.h"

namespace tamrix::rest {

namespace {

// REST servers of the process now started; read by the admin port's readiness.
std::atomic<int> iniciados{0};

}  // namespace

TRestServer::TRestServer(TOpcoesRestServer opcoes)
    : limitesCache_(opcoes.LimitesCache),
      intervaloVarredura_(opcoes.IntervaloVarredura),
      sessoes_(std::move(opcoes.Relogio), opcoes.TempoLimiteSessao) {}

TRestServer::~TRestServer() {
  Parar();
  sessoes_.TerminarTodasSessoes();
}

void TRestServer::RegistrarClasse(TRestServerClass classe) {
  std::lock_guard lock(mutex_);
  if (estado_) throw ERestException("Não é possível registrar classes com o servidor REST ativo.");
  classes_.push_back(std::move(classe));
  registro_.reset();
}

void TRestServer::DefinirOnError(TRestErrorHook hook) {
  std::lock_guard lock(mutex_);
  if (estado_) throw ERestException("Os eventos do servidor REST só mudam com ele parado.");
  onError_ = std::move(hook);
}

void TRestServer::DefinirOnDisconnect(TRestDisconnectHook hook) {
  std::lock_guard lock(mutex_);
  if (estado_) throw ERestException("Os eventos do servidor REST só mudam com ele parado.");
  onDisconnect_ = std::move(hook);
}

void TRestServer::DefinirLimitesCache(TLimitesCache limites) {
  std::lock_guard lock(mutex_);
  limitesCache_ = limites;
}

TLimitesCache TRestServer::LimitesCache() const {
  std::lock_guard lock(mutex_);
  return limitesCache_;
}

std::shared_ptr<const TRegistroClasses> TRestServer::Registro() const {
  std::lock_guard lock(mutex_);
  if (!registro_) registro_ = std::make_shared<const TRegistroClasses>(classes_);
  return registro_;
}

void TRestServer::Iniciar() {
  auto registro = Registro();  // raises on duplicate names, before anything starts
  std::lock_guard lock(mutex_);
  if (estado_) return;
  estado_ = std::make_shared<const TEstado>(TEstado{std::move(registro), onError_, onDisconnect_});
  ++iniciados;
  varredura_ = std::make_unique<TRestSessionSweeper>(sessoes_, intervaloVarredura_);
}

void TRestServer::Parar() {
  std::unique_ptr<TRestSessionSweeper> varredura;
  {
    std::lock_guard lock(mutex_);
    if (estado_) --iniciados;
    estado_.reset();
    varredura = std::move(varredura_);
  }
  // Joined outside the lock.
}

bool TRestServer::Iniciado() const {
  std::lock_guard lock(mutex_);
  return estado_ != nullptr;
}

bool TRestServer::AlgumIniciado() {
  return iniciados.load() > 0;
}

std::shared_ptr<const TRestServer::TEstado> TRestServer::Estado() const {
  std::lock_guard lock(mutex_);
  return estado_;
}

std::shared_ptr<void> TRestServer::InstanciaServidor(const TRestServerClass& classe) {
  const std::string chave = util::MinusculasASCII(classe.Nome);
  std::lock_guard lock(mutexInstancias_);
  auto& instancia = instanciasServidor_[chave];
  if (!instancia) instancia = classe.Fabrica();
  return instancia;
}

}  // namespace tamrix::rest
