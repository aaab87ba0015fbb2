// The result cache of one session: in cache mode (Accept containing "application/rest") the
// object, data-set and JSON results of a call are kept here as JSON text and fetched by
// later /tamrix/cache requests. Entries are numbered by cache id, each holding the commands
// of one call by command index, each holding its kept values by parameter index (the
// value's index in the "result" array).
#ifndef TAMRIX_REST_URESTCACHE_H
#define TAMRIX_REST_URESTCACHE_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rest/uRestTypes.h"

namespace tamrix::rest {

// How much one session may keep; the oldest entries go first when a new one needs room.
struct TLimitesCache {
  std::size_t MaximoEntradas = 100;
  std::uint64_t MaximoBytes = 64ull * 1024 * 1024;
};

// Whether a result element of that declared type is kept in cache mode: data-set
// collections and JSON values declared as object, array or any value.
bool GuardadoNoCache(TTipoRest tipo);

struct TValorCache {
  std::size_t Indice;  // parameter index: the position in the call's "result" array
  TTipoRest Tipo;
  std::string JSON;  // the element as the plain answer would have written it
};

// The kept values of one command, in index order.
using TComandoCache = std::vector<TValorCache>;

struct TEntradaCache {
  std::vector<TComandoCache> Comandos;  // by command index
  std::uint64_t Bytes = 0;              // sum of the values' JSON sizes
};

// Thread-safe: calls of one session may run at once. Entries are handed out as shared
// pointers, so a reader keeps its entry readable while another request discards it.
class TRestCache {
 public:
  TRestCache() = default;
  TRestCache(const TRestCache&) = delete;
  TRestCache& operator=(const TRestCache&) = delete;

  // Keeps the commands of one call under the next cache id and answers that id, discarding
  // the oldest entries until the limits hold. Keeps nothing and answers nullopt when the
  // entry alone exceeds a limit or the cache was closed; comandos is then left as it was.
  std::optional<std::uint64_t> Guardar(std::vector<TComandoCache>&& comandos,
                                       const TLimitesCache& limites);

  // The entry of that id; null when there is none.
  std::shared_ptr<const TEntradaCache> Procurar(std::uint64_t id) const;
  // Every entry, oldest first.
  std::vector<std::pair<std::uint64_t, std::shared_ptr<const TEntradaCache>>> Entradas() const;

  // Discards one entry; false when there was none of that id.
  bool Remover(std::uint64_t id);
  void Limpar();
  // Discards everything and keeps nothing from now on: the session has ended.
  void Encerrar();

  std::size_t Quantidade() const;
  std::uint64_t Bytes() const;

 private:
  void RemoverMaisAntiga();  // mutex_ held

  mutable std::mutex mutex_;
  std::map<std::uint64_t, std::shared_ptr<const TEntradaCache>> entradas_;  // id order = age
  std::uint64_t proximoId_ = 0;  // ids are never reused within a session
  std::uint64_t bytes_ = 0;
  bool encerrado_ = false;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTCACHE_H
