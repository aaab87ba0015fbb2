#include "core/uConexoesThread.h"

#include <sys/types.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/uDBConnection.h"
#include "diagnostics/uExcecoes.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::core {

struct TConexoesThread::TEstado {
  std::mutex mutex;
  std::condition_variable mudou;  // an entry went away
  std::unordered_map<std::uint32_t, std::unique_ptr<db::TDBConnection>> conexoes;

  std::unique_ptr<db::TDBConnection> Retirar(std::uint32_t id) {
    std::unique_ptr<db::TDBConnection> conexao;
    {
      std::lock_guard lock(mutex);
      auto it = conexoes.find(id);
      if (it == conexoes.end()) return nullptr;
      conexao = std::move(it->second);
      conexoes.erase(it);
    }
    mudou.notify_all();
    return conexao;
  }
};

namespace {

// Frees, when its thread ends, the connections that thread still has in any table.
class TGuardaSaidaThread {
 public:
  TGuardaSaidaThread() = default;
  TGuardaSaidaThread(const TGuardaSaidaThread&) = delete;
  TGuardaSaidaThread& operator=(const TGuardaSaidaThread&) = delete;

  ~TGuardaSaidaThread() {
    const std::uint32_t id = PegarThreadIDAtual();
    for (auto& fraca : tabelas_)
      if (auto estado = fraca.lock()) LiberarConexao(estado->Retirar(id));
  }

  void Registrar(const std::shared_ptr<TConexoesThread::TEstado>& estado) {
    std::erase_if(tabelas_, [](const auto& fraca) { return fraca.expired(); });
    for (const auto& fraca : tabelas_)
      if (!fraca.owner_before(estado) && !estado.owner_before(fraca)) return;
    tabelas_.push_back(estado);
  }

 private:
  std::vector<std::weak_ptr<TConexoesThread::TEstado>> tabelas_;
};

thread_local TGuardaSaidaThread tGuardaSaida;

}  // namespace

std::uint32_t PegarThreadIDAtual() {
  return static_cast<std::uint32_t>(::gettid());
}

TConexoesThread::TConexoesThread() : estado_(std::make_shared<TEstado>()) {}

TConexoesThread::~TConexoesThread() {
  std::unordered_map<std::uint32_t, std::unique_ptr<db::TDBConnection>> restantes;
  {
    std::lock_guard lock(estado_->mutex);
    restantes.swap(estado_->conexoes);
  }
  for (auto& [id, conexao] : restantes) LiberarConexao(std::move(conexao));
}

db::TDBConnection* TConexoesThread::Procurar() const {
  const std::uint32_t id = PegarThreadIDAtual();
  std::lock_guard lock(estado_->mutex);
  auto it = estado_->conexoes.find(id);
  return it == estado_->conexoes.end() ? nullptr : it->second.get();
}

db::TDBConnection* TConexoesThread::Adicionar(std::unique_ptr<db::TDBConnection> conexao) {
  const std::uint32_t id = PegarThreadIDAtual();
  tGuardaSaida.Registrar(estado_);
  std::lock_guard lock(estado_->mutex);
  auto [it, novo] = estado_->conexoes.try_emplace(id, std::move(conexao));
  if (!novo)
    throw diagnostics::Exception("A thread " + std::to_string(id) +
                                 " já tem uma conexão de banco de dados.");
  return it->second.get();
}

std::unique_ptr<db::TDBConnection> TConexoesThread::Retirar() {
  return estado_->Retirar(PegarThreadIDAtual());
}

std::size_t TConexoesThread::Quantidade() const {
  std::lock_guard lock(estado_->mutex);
  return estado_->conexoes.size();
}

bool TConexoesThread::AguardarVazia(std::chrono::milliseconds limite) const {
  std::unique_lock lock(estado_->mutex);
  return estado_->mudou.wait_for(lock, limite, [this] { return estado_->conexoes.empty(); });
}

void LiberarConexao(std::unique_ptr<db::TDBConnection> conexao) {
  if (!conexao) return;
  try {
    // Work a call left uncommitted is not kept.
    if (conexao->InTransaction()) conexao->Rollback();
  } catch (const std::exception& e) {
    diagnostics::GravarLog(diagnostics::TraduzirErro(e), diagnostics::tlErro);
  }
  try {
    conexao->Close();
  } catch (const std::exception& e) {
    diagnostics::GravarLog(diagnostics::TraduzirErro(e), diagnostics::tlErro);
  }
}

}  // namespace tamrix::core
