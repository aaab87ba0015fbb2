#include "rest/uRestSessionManager.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "diagnostics/uExcecoes.h"
#include "diagnostics/uMetricas.h"

namespace tamrix::rest {

namespace metricas = diagnostics::metricas;

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
                                         std::chrono::milliseconds tempoLimite, std::size_t maximo)
    : relogio_(relogio ? std::move(relogio)
                       : TRelogioRest([] { return std::chrono::steady_clock::now(); })),
      tempoLimite_(tempoLimite),
      maximo_(std::max<std::size_t>(maximo, 1)) {}

TRestSessionManager::~TRestSessionManager() {
  TerminarTodasSessoes();
}

std::shared_ptr<TRestSession> TRestSessionManager::CriarSessao(std::string userName) {
  std::string id = NovoId();
  std::vector<std::shared_ptr<TRestSession>> fim;
  std::shared_ptr<TRestSession> sessao;
  {
    std::lock_guard lock(mutex_);
    if (sessoes_.size() >= maximo_) AbrirEspaco(fim);
    while (sessoes_.count(id)) id = NovoId();
    sessao = std::make_shared<TRestSession>(id, std::move(userName), Agora(), tempoLimite_);
    sessoes_.emplace(std::move(id), sessao);
  }
  metricas::SessoesAbertas(1);
  for (auto& s : fim) s->Encerrar();
  return sessao;
}

void TRestSessionManager::AbrirEspaco(std::vector<std::shared_ptr<TRestSession>>& fim) {
  const auto agora = Agora();
  struct TCandidata {
    TUsoSessao uso;
    TInstanteRest atividade;
    std::unordered_map<std::string, std::shared_ptr<TRestSession>>::iterator it;
  };
  std::vector<TCandidata> candidatas;
  candidatas.reserve(sessoes_.size());
  for (auto it = sessoes_.begin(); it != sessoes_.end();) {
    if (it->second->Expirou(agora)) {
      fim.push_back(std::move(it->second));
      it = sessoes_.erase(it);
    } else {
      candidatas.push_back({it->second->Uso(), it->second->UltimaAtividade(), it});
      ++it;
    }
  }
  metricas::SessoesEncerradas(fim.size(), metricas::TFimSessao::Expirada);
  // Freed in a batch of a tenth, so that a flood does not scan the registry at every call.
  const std::size_t alvo = maximo_ - std::max<std::size_t>(maximo_ / 10, 1);
  if (sessoes_.size() <= alvo) return;
  const std::size_t excesso = sessoes_.size() - alvo;
  metricas::SessoesEncerradas(excesso, metricas::TFimSessao::Despejada);
  const auto antes = [](const TCandidata& a, const TCandidata& b) {
    return a.uso != b.uso ? a.uso < b.uso : a.atividade < b.atividade;
  };
  std::nth_element(candidatas.begin(),
                   candidatas.begin() + static_cast<std::ptrdiff_t>(excesso - 1), candidatas.end(),
                   antes);
  for (std::size_t i = 0; i < excesso; ++i) {
    fim.push_back(std::move(candidatas[i].it->second));
    sessoes_.erase(candidatas[i].it);
  }
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
  metricas::SessoesEncerradas(1, metricas::TFimSessao::Expirada);
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
  metricas::SessoesEncerradas(1, metricas::TFimSessao::Fechada);
  sessao->Encerrar();
  return true;
}

void TRestSessionManager::TerminarTodasSessoes() {
  std::unordered_map<std::string, std::shared_ptr<TRestSession>> todas;
  {
    std::lock_guard lock(mutex_);
    todas.swap(sessoes_);
  }
  metricas::SessoesEncerradas(todas.size(), metricas::TFimSessao::Parada);
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
  metricas::SessoesEncerradas(expiradas.size(), metricas::TFimSessao::Expirada);
  for (auto& s : expiradas) s->Encerrar();
  return expiradas.size();
}

std::size_t TRestSessionManager::Quantidade() const {
  std::lock_guard lock(mutex_);
  return sessoes_.size();
}

}  // namespace tamrix::rest
