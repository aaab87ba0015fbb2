#include "rest/uRestCache.h"

namespace tamrix::rest {

bool GuardadoNoCache(TTipoRest tipo) {
  return tipo == TTipoRest::trDataSets || tipo == TTipoRest::trJSONObject ||
         tipo == TTipoRest::trJSONArray || tipo == TTipoRest::trJSONValue;
}

std::optional<std::uint64_t> TRestCache::Guardar(std::vector<TComandoCache>&& comandos,
                                                 const TLimitesCache& limites) {
  std::uint64_t bytes = 0;
  for (const auto& comando : comandos)
    for (const auto& valor : comando) bytes += valor.JSON.size();
  if (limites.MaximoEntradas == 0 || bytes > limites.MaximoBytes) return std::nullopt;

  std::vector<std::shared_ptr<const TEntradaCache>> descartadas;  // freed outside the lock
  std::lock_guard lock(mutex_);
  if (encerrado_) return std::nullopt;
  auto entrada = std::make_shared<TEntradaCache>(TEntradaCache{std::move(comandos), bytes});
  while (!entradas_.empty() && (entradas_.size() >= limites.MaximoEntradas ||
                                bytes_ + entrada->Bytes > limites.MaximoBytes)) {
    descartadas.push_back(entradas_.begin()->second);
    RemoverMaisAntiga();
  }
  const std::uint64_t id = proximoId_++;
  bytes_ += entrada->Bytes;
  entradas_.emplace(id, std::move(entrada));
  return id;
}

std::shared_ptr<const TEntradaCache> TRestCache::Procurar(std::uint64_t id) const {
  std::lock_guard lock(mutex_);
  auto it = entradas_.find(id);
  return it == entradas_.end() ? nullptr : it->second;
}

std::vector<std::pair<std::uint64_t, std::shared_ptr<const TEntradaCache>>> TRestCache::Entradas()
    const {
  std::lock_guard lock(mutex_);
  return {entradas_.begin(), entradas_.end()};
}

bool TRestCache::Remover(std::uint64_t id) {
  std::shared_ptr<const TEntradaCache> entrada;
  std::lock_guard lock(mutex_);
  auto it = entradas_.find(id);
  if (it == entradas_.end()) return false;
  entrada = std::move(it->second);
  bytes_ -= entrada->Bytes;
  entradas_.erase(it);
  return true;
}

void TRestCache::Limpar() {
  std::map<std::uint64_t, std::shared_ptr<const TEntradaCache>> entradas;
  std::lock_guard lock(mutex_);
  entradas.swap(entradas_);
  bytes_ = 0;
}

void TRestCache::Encerrar() {
  {
    std::lock_guard lock(mutex_);
    encerrado_ = true;
  }
  Limpar();
}

std::size_t TRestCache::Quantidade() const {
  std::lock_guard lock(mutex_);
  return entradas_.size();
}

std::uint64_t TRestCache::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

void TRestCache::RemoverMaisAntiga() {
  bytes_ -= entradas_.begin()->second->Bytes;
  entradas_.erase(entradas_.begin());
}

}  // namespace tamrix::rest
