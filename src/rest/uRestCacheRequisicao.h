// The /tamrix/cache requests of a session: reading and discarding what cache mode kept.
//
//   GET    /tamrix/cache                          {"0":{"commands":[...]},"3":{...}}
//   GET    /tamrix/cache/{cacheId}                {"commands":[{"parameters":[...]}]}
//   GET    /tamrix/cache/{cacheId}/{cmdIndex}     {"parameters":[{"paramIndex":0,...}]}
//   GET    /tamrix/cache/{cacheId}/{cmd}/{param}  {"result":{kept value}}
//   DELETE /tamrix/cache[/{cacheId}]              {"result":[true]}
//
// The layout of the descriptions is in docs/rest-cache.md.
#ifndef TAMRIX_REST_URESTCACHEREQUISICAO_H
#define TAMRIX_REST_URESTCACHEREQUISICAO_H

#include <string_view>

#include "rest/uRestCache.h"
#include "util/uWebMessages.h"

namespace tamrix::rest {

// Answers req in resposta from cache, the cache of the request's session. caminho is the raw
// path after "/cache" ("", "/", "/3/0/0"...). Sets status and body only (no session header);
// never raises for a bad request: 501 for a method other than GET and DELETE, 400 with the
// reason "Invalid request format. (...)" for a path that does not parse, 500 with an
// "error" envelope for an id that names nothing.
void AtenderPedidoCache(TRestCache& cache, const util::TWebRequest& req, std::string_view caminho,
                        util::TWebResponse& resposta);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTCACHEREQUISICAO_H
