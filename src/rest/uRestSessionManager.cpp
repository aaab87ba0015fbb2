#include "rest/uRestSessionManager.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "diagnostics/uExcecoes.h"

namespace tamrix::rest {

namespace {

std::uint32_t BytesAleatorios() {
  std::uint32_t v;
  auto* p = reinterpret_cast<unsigned char*>(&v);
  std::size_t lidos = 0;
  while (lidos < sizeof v) {
    const ssize_t n = getrandom(p + lidos, sizeof v - lidos, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw diagnostics::Exception("Falha ao obter números aleatórios do sistema.");
    }
    lidos += static_cast<std::size_t>(n);
  }
  return v;
}

// Uniform in [0, limite): draws above the largest multiple of limite are rejected.
std::uint32_t Aleatorio(std::uint32_t limite) {
  const std::uint32_t teto = UINT32_MAX - UINT32_MAX % limite;
  for (;;) {
    const std::uint32_t v = BytesAleatorios();
    if (v < teto) return v % limite;
  }
}

std::string NovoId() {
  return std::to_string(Aleatorio(1'000'000)) + "." + std::to_string(Aleatorio(1'000'000)) + "." +
         std::to_string(Aleatorio(1'000'000));
}

}  // namespace

TRestSessionManager::TRestSessionManager(TRelogioRest relogio,
                                         std::chrono::milliseconds tempoLimite)
    : relogio_(relogio ? std::move(relogio)
                       : TRelogioRest([] { return std::chrono::steady_clock::now(); })),
      tempoLimite_(tempoLimite) {}

TRestSessionManager::~TRestSessionManager() {
  TerminarTodasSessoes();
}

std::shared_ptr<TRestSession> TRestSessionManager::CriarSessao(std::string userName) {
  std::string id = NovoId();
  std::lock_guard lock(mutex_);
  while (sessoes_.count(id)) id = NovoId();
  auto sessao = std::make_shared<TRestSession>(id, std::move(userName), Agora(), tempoLimite_);
  sessoes_.emplace(std::move(id), sessao);
  return sessao;
}

std::shared_ptr<TRestSession> TRestSessionManager::ProcurarSessao(std::string_view id) {
  std::shared_ptr<TRestSession> sessao;
  {
    std::lock_guard lock(mutex_);
    auto it = sessoes_.find(std::string(id));
    if (it == sessoes_.end()) return nullptr;
    sessao = it->second;
    const auto agora = Agora();
    if (!sessao->Expirou(agora)) {
      sessao->MarcarAtividade(agora);
      return sessao;
    }
    sessoes_.erase(it);
  }
  sessao->Encerrar();
  return nullptr;
}

bool TRestSessionManager::FecharSessao(std::string_view id) {
  std::shared_ptr<TRestSession> sessao;
  {
    std::lock_guard lock(mutex_);
    auto it = sessoes_.find(std::string(id));
    if (it == sessoes_.end()) return false;
    sessao = std::move(it->second);
    sessoes_.erase(it);
  }
  sessao->Encerrar();
  return true;
}

void TRestSessionManager::TerminarTodasSessoes() {
  std::unordered_map<std::string, std::shared_ptr<TRestSession>> todas;
  {
    std::lock_guard lock(mutex_);
    todas.swap(sessoes_);
  }
  for (auto& [id, sessao] : todas) sessao->Encerrar();
}

std::size_t TRestSessionManager::RemoverExpiradas() {
  std::vector<std::shared_ptr<TRestSession>> expiradas;
  {
    std::lock_guard lock(mutex_);
    const auto agora = Agora();
    for (auto it = sessoes_.begin(); it != sessoes_.end();) {
      if (it->second->Expirou(agora)) {
        expiradas.push_back(std::move(it->second));
        it = sessoes_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& s : expiradas) s->Encerrar();
  return expiradas.size();
}

std::size_t TRestSessionManager::Quantidade() const {
  std::lock_guard lock(mutex_);
  return sessoes_.size();
}

}  // namespace tamrix::rest
